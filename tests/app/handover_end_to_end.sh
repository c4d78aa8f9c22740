#!/usr/bin/env bash
# Two real consoles of one company whose visitors are each answered by one console, against the
# real stand-in service under Xvfb with a tray host:
# - console 1 answers three visitors and quits with "Cerrar" in its tray menu: console 2 lists
#   all three at once, not after the owner's silence (two minutes);
# - console 1 comes back and console 2 ends on SIGTERM: console 1 takes them the same way;
# - console 1 is killed with SIGKILL and started again: it lists its own at its first news poll.
# Takes about half a minute.
#
# usage: handover_end_to_end.sh TERTULIA TERTULIA-SERVICE
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    tail -12 "$work/access.log" >&2 || true
    cat "$work"/tertulia-*.log >&2 || true
    exit 1
}

# windows_of N: how many conversation windows console N shows.
windows_of() {
    { xdotool search --all --onlyvisible --pid "${pid[$1]}" --name '^Conversacion con : ' \
        2>/dev/null || true; } | wc -l
}
lists_three() { [ "$(windows_of "$1")" = 3 ]; }
# lists_three_by SECONDS N: console N shows the three conversations within that many seconds
# of the moment `since` (from $EPOCHREALTIME); says how long it took.
lists_three_by() {
    local taken
    until lists_three "$2"; do
        taken=$(awk "BEGIN { print $EPOCHREALTIME - $since }")
        awk "BEGIN { exit !($taken > $1) }" && return 1
        sleep 0.1
    done
    echo "console $2 listed them $(awk "BEGIN { print $EPOCHREALTIME - $since }") s after"
}
ended() { ! kill -0 "${pid[$1]}" 2>/dev/null; }
windows_of_process() {
    { xdotool search --all --onlyvisible --pid "$1" 2>/dev/null || true; } | wc -l
}
# cerrar N: "Cerrar" in the tray menu of console N. Its icon is one of those along trayer's
# panel; a left click on it opens its menu (one more window of that process), which has the
# keyboard: Up picks the last item, "Cerrar".
cerrar() {
    local x shown
    for x in 12 36 44 60 76; do
        shown=$(windows_of_process "${pid[$1]}")
        xdotool mousemove "$x" 14 click 1
        sleep 0.7
        if [ "$(windows_of_process "${pid[$1]}")" -gt "$shown" ]; then
            xdotool key Up Return
            return 0
        fi
        xdotool key Escape
        sleep 0.3
    done
    return 1
}

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"
start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
export SDL_AUDIODRIVER=dummy
mkdir -p "$work/home-1" "$work/home-2"

start_operator 1
for visitor in Ana Eva Luis; do
    visitor_opens "$visitor" || fail "the visitor $visitor could not open a conversation"
done
wait_for 10 lists_three 1 || fail "console 1 shows $(windows_of 1) of the three conversations"
start_operator 2
sleep 2
[ "$(windows_of 2)" = 0 ] || fail "console 2 opened $(windows_of 2) conversations of console 1"

cerrar 1 || fail "no tray icon of console 1 opened its menu"
since=$EPOCHREALTIME
wait_for 5 ended 1 || fail "'Cerrar' did not end console 1"
lists_three_by 3 2 || fail "console 2 shows $(windows_of 2) of the conversations console 1 left"
grep -q 'accion=do_logout' "$work/access.log" || fail "console 1 did not end its session"

start_operator 1
sleep 2
[ "$(windows_of 1)" = 0 ] || fail "console 1 opened $(windows_of 1) conversations of console 2"
since=$EPOCHREALTIME
kill -TERM "${pid[2]}"
wait_for 5 ended 2 || fail "SIGTERM did not end console 2"
lists_three_by 3 1 || fail "console 1 shows $(windows_of 1) of the conversations console 2 left"

# Its session is left behind as a crash leaves it; the next regular news poll would come 30 s
# later, and the conversations would be free only after the owner's silence.
kill -KILL "${pid[1]}"
wait "${pid[1]}" 2>/dev/null || true
start_operator 1
since=$EPOCHREALTIME
lists_three_by 3 1 || fail "console 1, started again, shows $(windows_of 1) of its conversations"
grep -qE '^Consola=[0-9a-f]{32}$' "$work/config-1/Grupo Laredo/Tertulia.ini" ||
    fail "console 1 keeps no key in its settings"
echo "PASS"
