#!/usr/bin/env bash
# Builds what is missing, starts tertulia-service with the demo company on 127.0.0.1:8080 and
# the console against it. Without a display both run under Xvfb with a tray host, and a
# screenshot of the console is saved.
#
# usage: run-desktop.sh [SERVICE-DATABASE]    (default: a fresh database in a temporary folder)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"

if [ ! -x "$build/app/tertulia" ] || [ ! -x "$build/service/tertulia-service" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" -j"$(nproc)" --target tertulia tertulia-service
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tertulia-run.XXXXXX")
database=${1:-$work/service.db}
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
    echo "Port 8080 on 127.0.0.1 is taken; the console expects its service there." >&2
    exit 1
fi
"$build/service/tertulia-service" --listen 127.0.0.1:8080 --db "$database" --demo \
    >"$work/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    curl -sf http://127.0.0.1:8080/ >/dev/null 2>&1 && break
    sleep 0.2
done
cat "$work/service.log"

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    # shellcheck source=headless-display.sh
    . "$top/scripts/headless-display.sh"
    start_headless_display "$work" || { echo "Xvfb did not start; see $work/xvfb.log" >&2; exit 1; }
fi

"$build/app/tertulia" >"$work/tertulia.log" 2>&1 &
console_pid=$!
pids+=($console_pid)

echo
echo "Console running (pid $console_pid) on display $DISPLAY against http://127.0.0.1:8080/"
echo "Log in with company code \"demo\" and password \"demo\"."
echo "Visitor page: http://127.0.0.1:8080/?empresa=demo"
echo "Logs: $work"
if [ "$headless" = 1 ]; then
    sleep 4
    import -window root "$work/console.png"
    echo "No display here: running under Xvfb; screenshot of the console: $work/console.png"
fi
echo "The console ends through \"Cerrar\" in its tray menu; Ctrl+C stops everything."
wait "$console_pid" || true
