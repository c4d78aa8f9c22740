#!/usr/bin/env bash
# Runs a test program on Xvfb with the trayer notification-area host, for the tests whose
# behaviour depends on a notification area; TERTULIA_TRAY_HOST=1 tells them that one runs.
# usage: with_tray_host.sh PROGRAM [ARGS...]. Skips (77) where Xvfb, trayer or xdotool is missing.
set -euo pipefail
for tool in Xvfb trayer xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing" >&2; exit 77; }
done
# shellcheck source=../scripts/work-folder.sh
. "$(dirname "$0")/../scripts/work-folder.sh"

# shellcheck source=../scripts/headless-display.sh
. "$(dirname "$0")/../scripts/headless-display.sh"
start_headless_display "$work" || { echo "Xvfb did not start" >&2; exit 1; }
tray_host_up() {
    local tries
    for tries in $(seq 50); do
        [ -n "$(xdotool search --classname trayer 2>/dev/null)" ] && return 0
        sleep 0.2
    done
    return 1
}
# Seldom, the host finds no display at the address the server gave: a new server and host then.
if ! tray_host_up; then
    echo "the tray host did not come up on $DISPLAY; once more on a new display" >&2
    cat "$work/trayer.log" "$work/xvfb.log" >&2
    end_processes
    start_headless_display "$work" || { echo "Xvfb did not start" >&2; exit 1; }
    tray_host_up || { cat "$work/trayer.log" "$work/xvfb.log" >&2; exit 1; }
fi
# What libdbus and fontconfig keep for the life of the process is no leak of ours.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$0")/app/lsan_suppressions.txt}
QT_QPA_PLATFORM=xcb TERTULIA_TRAY_HOST=1 "$@"
