#!/usr/bin/env bash
# Resident memory of the console logged in with 10 open conversations, and its CPU use while
# idle for 60 s (news polls and the focused window's polls included, and the tray icon's
# attention cycle, since the conversations whose windows never had the focus wait), against the
# real stand-in service under Xvfb. Targets: under 60 MiB and under 1 %.
#
# usage: desktop_footprint.sh [BUILD-DIR]     (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
if [ "${TERTULIA_BENCH_IN_NAMESPACE:-}" != 1 ]; then
    # A network namespace of its own, so that port 8080 is free for the service.
    exec env TERTULIA_BENCH_IN_NAMESPACE=1 unshare -n "$0" "$build"
fi
ip link set lo up

idle_seconds=${IDLE_SECONDS:-60}
# shellcheck source=../scripts/work-folder.sh
. "$(dirname "$0")/../scripts/work-folder.sh"

# shellcheck source=../scripts/headless-display.sh
. "$top/scripts/headless-display.sh"
start_headless_display "$work" || { echo "Xvfb did not start" >&2; exit 1; }

"$build/service/tertulia-service" --listen 127.0.0.1:8080 --db "$work/service.db" --demo >/dev/null 2>&1 &
pids+=($!)
until curl -sf http://127.0.0.1:8080/ >/dev/null 2>&1; do sleep 0.2; done
visitors=()
for n in $(seq 10); do
    opened=$(curl -sf --data-urlencode empresa=demo --data-urlencode "nombre=Visitante $n" \
        http://127.0.0.1:8080/api/conversaciones)
    id=$(sed -E 's/.*"id":([0-9]+).*/\1/' <<<"$opened")
    token=$(sed -E 's/.*"token":"([^"]+)".*/\1/' <<<"$opened")
    visitors+=("$id:$token")
    curl -sf --data-urlencode "token=$token" --data-urlencode "texto=Hola, soy el visitante $n" \
        "http://127.0.0.1:8080/api/conversaciones/$id/mensajes" >/dev/null
done

XDG_CONFIG_HOME="$work/config" HOME="$work" SDL_AUDIODRIVER=dummy "$build/app/tertulia" \
    >/dev/null 2>&1 &
console=$!
pids+=($console)
until xdotool search --onlyvisible --name '^Tertulia$' >/dev/null 2>&1; do sleep 0.2; done
sleep 2
window=$(xdotool search --onlyvisible --name '^Tertulia$' | head -1)
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 60)) $((Y + 129)) click 1
sleep 0.3
xdotool type --delay 30 demo
xdotool key Tab
xdotool type --delay 30 demo
xdotool key Tab space
for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --name '^Conversacion con : ' 2>/dev/null | wc -l)" -ge 10 ] && break
    sleep 0.2
done
windows=$(xdotool search --onlyvisible --name '^Conversacion con : ' | wc -l)
sleep 3

# The operator works in the console while every visitor writes again: at the next news poll all
# ten conversations wait, and the tray icon (at the left of trayer's panel) cycles.
xdotool windowfocus --sync "$window"
for visitor in "${visitors[@]}"; do
    curl -sf --data-urlencode "token=${visitor#*:}" --data-urlencode "texto=¿Hay alguien?" \
        "http://127.0.0.1:8080/api/conversaciones/${visitor%%:*}/mensajes" >/dev/null
done
tray_pictures() {
    for _ in $(seq 8); do
        import -window root -crop 32x32+0+0 rgba:- | md5sum
        sleep 0.25
    done | sort -u | wc -l
}
cycling=no
for _ in $(seq 20); do
    if [ "$(tray_pictures)" -gt 1 ]; then
        cycling=yes
        break
    fi
done

rss_kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$console/status")
ticks() { awk '{print $14 + $15}' "/proc/$console/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$idle_seconds"
after=$(ticks)

awk -v rss="$rss_kib" -v windows="$windows" -v cycling="$cycling" -v used=$((after - before)) -v hz="$hz" \
    -v seconds="$idle_seconds" 'BEGIN {
    cpu = 100 * used / hz / seconds
    printf "conversation windows open: %d\n", windows
    printf "tray icon cycling: %s\n", cycling
    printf "resident memory: %.1f MiB (target < 60 MiB)\n", rss / 1024
    printf "CPU while idle for %d s: %.2f %% (target < 1 %%)\n", seconds, cpu
}'
