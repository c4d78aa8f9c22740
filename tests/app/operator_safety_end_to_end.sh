#!/usr/bin/env bash
# The operator's safety with the real console and the real stand-in service, under Xvfb with
# openbox as the window manager, a tray host and a recording notification service:
# - typing goes on into the focused conversation while a new one opens, and the new one waits
#   (its notification stays, its row is marked) in a window that covers no other and lies below
#   the focused one, whose message line stays in sight;
# - Alt+C runs "Cerrar y Borrar Historial"; Enter on a row of the console shows its window;
# - the service stopped and started again: the console logs in by itself, with the error box
#   still open, withdraws the disconnected signals and says "Conexión restablecida";
# - a password changed on the service meanwhile stops the attempts;
# - a login to another company closes the first company's windows without closing their
#   conversations on the service.
# Takes three to four minutes: several news intervals of 30 s.
#
# usage: operator_safety_end_to_end.sh TERTULIA TERTULIA-SERVICE RECORDER SEND-CLOSE-REQUEST SHOTS
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
recorder=$3
send_close=$4
shots=$5
mkdir -p "$shots"

command -v openbox >/dev/null || skip "openbox is not installed"
require_notification_recorder

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/safety-failure.png" 2>/dev/null || true
    echo "--- focus: $(xdotool getwindowfocus getwindowname 2>/dev/null)" >&2
    echo "--- notifications" >&2
    cat "$work/notifications.log" >&2 || true
    echo "--- requests" >&2
    tail -15 "$work/access.log" >&2 || true
    echo "--- program output" >&2
    cat "$work/tertulia.log" >&2 || true
    exit 1
}

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"
start_openbox

start_notification_recorder "$recorder" || skip "no session bus with the notification recorder"

service_up() {
    start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
}
service_up
echo otra-clave | "$service" add-company otra --db "$work/service.db" >/dev/null 2>&1 ||
    fail "could not add the second company"

transcript_of() { curl -sf "$api/api/conversaciones/$1?token=$2"; }

notified_body() { grep -F '"call": "Notify"' "$work/notifications.log" | grep -qF "\"body\": \"$1"; }
focused_window() { xdotool getwindowfocus; }
focus_is() { [ "$(focused_window)" = "$1" ]; }
console_marked() {
    import -window "$console" "$work/console.png"
    [ "$(convert "$work/console.png" txt:- | grep -ci '#FF7800' || true)" -gt 20 ]
}
logins() { grep -c "accion=do_login" "$work/access.log" || true; }
# The managed windows from the bottom of the stacking order to its top, in decimal.
stacking() {
    xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //' | tr ',' '\n' |
        while read -r hex; do [ -n "$hex" ] && echo $((hex)); done
}
# below WINDOW OTHER: WINDOW lies below OTHER in the stacking order.
below() {
    local order
    order=$(stacking)
    local at other_at
    at=$(grep -nx "$1" <<<"$order" | cut -d: -f1)
    other_at=$(grep -nx "$2" <<<"$order" | cut -d: -f1)
    [ -n "$at" ] && [ -n "$other_at" ] && [ "$at" -lt "$other_at" ]
}
# message_line_in_sight WINDOW: no window above WINDOW overlaps its bottom panel (27 pixels),
# where the message line is.
message_line_in_sight() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    local left=$X top=$((Y + HEIGHT - 27)) right=$((X + WIDTH)) bottom=$((Y + HEIGHT))
    local above
    above=$(stacking | sed -n "/^$1\$/,\$p" | tail -n +2)
    for WINDOW in $above; do
        xdotool getwindowgeometry --shell "$WINDOW" >"$work/geometry" 2>/dev/null || continue
        eval "$(cat "$work/geometry")"
        [ $((X + WIDTH)) -le "$left" ] || [ "$X" -ge "$right" ] ||
            [ $((Y + HEIGHT)) -le "$top" ] || [ "$Y" -ge "$bottom" ] || return 1
    done
}

visitor_opens "Pedro" || fail "the visitor Pedro could not open a conversation"
pedro_id=$id pedro_token=$token

export XDG_CONFIG_HOME="$work/config" HOME="$work/home" SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not appear"
# Where the console's client area lies on the screen; under a window manager xdotool reports
# the frame's decorations into it.
read -r console_x console_y < <(xwininfo -id "$console" |
    awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} END {print x, y}')
xdotool windowactivate --sync "$console"
xdotool mousemove $((console_x + 60)) $((console_y + 50 + 69 + 10)) click 1
sleep 0.3
xdotool type --delay 40 demo
xdotool key Tab
xdotool type --delay 40 demo
xdotool key Return

pedro="Conversacion con : Pedro"
wait_for 20 has_visible_window "^$pedro\$" || fail "no window titled '$pedro'"
pedro_window=$(window_of "^$pedro\$")
sleep 1
focus_is "$console" || fail "the new window took the focus from the console"

# The operator turns to Pedro and types; Lucía arrives meanwhile and her window opens.
xdotool windowactivate --sync "$pedro_window"
wait_for 5 focus_is "$pedro_window" || fail "Pedro's window did not take the focus"
visitor_opens "Lucía" || fail "the visitor Lucía could not open a conversation"
lucia_id=$id lucia_token=$token
lucia="Conversacion con : Lucía"
typed="Pedro,"
xdotool type --delay 60 "$typed"
for _ in $(seq 45); do
    has_visible_window "^$lucia\$" && break
    xdotool type --delay 60 " un"
    typed+=" un"
    sleep 0.6
done
has_visible_window "^$lucia\$" || fail "Lucía's window did not open within a news interval"
xdotool type --delay 60 " momento por favor"
typed+=" momento por favor"
focus_is "$pedro_window" || fail "the focus left Pedro's window when Lucía's opened"
lucia_window=$(window_of "^$lucia\$")
wait_for 5 below "$lucia_window" "$pedro_window" ||
    fail "Lucía's new window is not below Pedro's: $(xprop -root _NET_CLIENT_LIST_STACKING)"
message_line_in_sight "$pedro_window" || fail "a window covers the message line of Pedro's window"
xdotool key Return
reached() { transcript_of "$pedro_id" "$pedro_token" | grep -qF "\"texto\":\"$typed\""; }
wait_for 10 reached || fail "Pedro did not get the whole line '$typed'"
transcript_of "$lucia_id" "$lucia_token" | grep -q '"autor":"operador"' &&
    fail "a line of the operator reached Lucía"
import -window root "$shots/safety-two-windows.png"

wait_for 5 notified "$lucia" || fail "Lucía's conversation is not notified as waiting"
sleep 1
notified "$lucia" || fail "Lucía's notification was withdrawn though nobody looked at her window"
console_marked || fail "Lucía's row shows no mark"
pedro_at=$(xdotool getwindowgeometry "$pedro_window" | grep Position)
lucia_at=$(xdotool getwindowgeometry "$lucia_window" | grep Position)
[ "$pedro_at" != "$lucia_at" ] || fail "Lucía's window covers Pedro's exactly ($lucia_at)"

# Alt+C in Lucía's window asks whether to save; Cancel still closes the conversation.
xdotool windowactivate --sync "$lucia_window"
wait_for 5 focus_is "$lucia_window" || fail "Lucía's window did not take the focus"
xdotool key alt+c
wait_for 5 has_visible_window '^Confirm$' || fail "Alt+C did not reach the confirmation box"
xdotool key Escape
closed() { grep -q "accion=dropclt.*idsesionclt=$lucia_id" "$work/access.log"; }
wait_for 10 closed || fail "Lucía's conversation was not closed on the service"
wait_for 5 has_no_visible_window "^$lucia\$" || fail "Lucía's window stayed"

# Enter on Pedro's row brings back his window, which the operator had closed.
"$send_close" "$pedro_window"
wait_for 5 has_no_visible_window "^$pedro\$" || fail "closing Pedro's window did not hide it"
xdotool windowactivate --sync "$console"
xdotool mousemove $((console_x + 60)) $((console_y + 50 + 34 + 16)) click 1
sleep 0.3
xdotool key Return
wait_for 5 has_visible_window "^$pedro\$" || fail "Enter on the row did not show the window"

# The service goes away for a while and comes back; nobody touches the console. (A conversation
# window that has the focus then would report its own failed polls in boxes of its own.)
xdotool windowactivate --sync "$console"
stop_service
wait_for 40 has_visible_window '^Error$' || fail "no error box for the lost service"
wait_for 5 notified "Tertulia" || fail "no notification of the lost connection"
sleep 8
service_up
restarted=$SECONDS
wait_for 70 notified_body "Conexión restablecida" ||
    fail "no automatic login within 70 s of the restart"
echo "logged in again $((SECONDS - restarted)) s after the restart"
wait_for 5 has_no_visible_window '^Error$' || fail "the error box stayed open"
disconnected_id=$(grep -F '"body": "Sin conexión' "$work/notifications.log" | tail -1 |
    sed -E 's/.*"id": ([0-9]+).*/\1/')
grep -qE "\"call\": \"CloseNotification\", \"id\": $disconnected_id[,}]" "$work/notifications.log" ||
    fail "the disconnected notification was not withdrawn"
xdotool windowactivate --sync "$(window_of "^$pedro\$")"
xdotool type --delay 40 "Ya estoy de vuelta"
xdotool key Return
back() { transcript_of "$pedro_id" "$pedro_token" | grep -qF '"texto":"Ya estoy de vuelta"'; }
wait_for 10 back || fail "Pedro's window does not work with the new session"

# A password changed on the service while it was away: the attempts stop at the refusal.
xdotool windowactivate --sync "$console"
stop_service
wait_for 40 has_visible_window '^Error$' || fail "no error box for the second loss"
echo nueva-clave | "$service" set-password demo --db "$work/service.db" >/dev/null 2>&1 ||
    fail "could not change the password"
before=$(logins)
service_up
tried() { [ "$(logins)" -gt "$before" ]; }
wait_for 70 tried || fail "no automatic login within 70 s of the restart"
sleep 1
[ "$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | wc -l)" = 1 ] ||
    fail "not one error box, the refusal's, on screen"
before=$(logins)
sleep 12
[ "$(logins)" = "$before" ] || fail "the console went on trying after the refusal"
import -window root "$shots/safety-refused.png"
xdotool windowactivate --sync "$(window_of '^Error$')" key Return
wait_for 5 has_no_visible_window '^Error$' || fail "the refusal's box did not close"

# Another company: Pedro's window goes, his conversation stays open on the service.
xdotool windowactivate --sync "$console"
xdotool mousemove $((console_x + 60)) $((console_y + 50 + 69 + 10)) click 1 key ctrl+a
xdotool type --delay 40 otra
xdotool key Tab ctrl+a
xdotool type --delay 40 otra-clave
xdotool key Return
wait_for 15 has_no_visible_window "^$pedro\$" || fail "Pedro's window stayed after the switch"
grep -q "accion=dropclt.*idsesionclt=$pedro_id" "$work/access.log" &&
    fail "the switch closed Pedro's conversation on the service"
transcript_of "$pedro_id" "$pedro_token" | grep -q '"abierta":true' ||
    fail "Pedro's conversation is no longer open"
echo "PASS"
