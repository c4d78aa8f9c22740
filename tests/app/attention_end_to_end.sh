#!/usr/bin/env bash
# The signals of a conversation that waits, with the real console, the real stand-in service,
# a tray host and a recording notification service on a private session bus, under Xvfb: a
# line that the operator read in the focused window makes nothing wait once the focus has moved
# on; a visitor writes while the conversation's window does not have the focus: the window shows
# the line at once, its row is marked, a notification with the line is out and the tray icon
# cycles; focusing the window withdraws all three. Fourteen waiting conversations share one
# notification, whose click shows the console. The service killed while logged in gives the
# disconnected icon and a notification. Takes about a minute and a half: two news intervals.
#
# usage: attention_end_to_end.sh TERTULIA TERTULIA-SERVICE RECORDER SEND-CLOSE-REQUEST SCREENSHOT-DIR
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

require_notification_recorder

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/attention-failure.png" 2>/dev/null || true
    echo "--- notifications" >&2
    cat "$work/notifications.log" >&2 || true
    echo "--- focus $(xdotool getwindowfocus 2>/dev/null) chat ${chat:-} console ${console:-}" >&2
    cat "$work/recorder.log" >&2 || true
    echo "--- requests" >&2
    tail -5 "$work/access.log" >&2 || true
    echo "--- program output" >&2
    cat "$work/tertulia.log" >&2 || true
    exit 1
}

# The pixels of our marks, as the program paints them: the orange disc and the red cross.
count_colour() { convert "$1" txt:- | grep -ci "$2" || true; }
red_pixels() { convert "$1" -fx '(r>0.7&&g<0.3&&b<0.3)?1:0' -format '%[fx:round(mean*w*h)]' info:; }
tray_shot() { import -window root -crop 32x32+0+0 +repage "$1"; }
# Whether the tray icon shows more than one picture within two seconds.
tray_cycles() {
    local sums=()
    for i in $(seq 8); do
        tray_shot "$work/tray-$i.png"
        sums+=("$(convert "$work/tray-$i.png" rgba:- | md5sum | cut -c1-32)")
        sleep 0.25
    done
    [ "$(printf '%s\n' "${sums[@]}" | sort -u | wc -l)" -gt 1 ]
}
tray_still() { ! tray_cycles; }
console_marked() {
    import -window "$console" "$work/console.png"
    [ "$(count_colour "$work/console.png" '#FF7800')" -gt 20 ]
}
console_unmarked() { ! console_marked; }

notifications() { cat "$work/notifications.log"; }
notify_count() { grep -cF "\"summary\": \"$1\"" "$work/notifications.log" || true; }

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"

start_notification_recorder "$recorder" || skip "no session bus with the notification recorder"

start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
visitor_opens "Lucía" || fail "the visitor could not open a conversation"
visitor_writes "Buenas tardes" || fail "the visitor could not write"

export XDG_CONFIG_HOME="$work/config" HOME="$work/home" SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not appear"
tray_shot "$work/tray-plain.png"
import -window root -crop 100x32+0+0 +repage "$work/tray-plain-wide.png"
type_demo_login "$console"

title="Conversacion con : Lucía"
wait_for 20 has_visible_window "^$title\$" || fail "no window titled '$title'"
chat=$(visible_window "^$title\$")
# The window has the focus (no window manager here to give it): the conversation is attended.
xdotool windowfocus --sync "$chat"
wait_for 10 withdrawn "$title" || fail "the new conversation's notification was not withdrawn once focused"

fetches() { grep -c "accion=getchat.*idsesionclt=$id" "$work/access.log" || true; }
fetched() { [ "$(fetches)" -gt "$before" ]; }
news_polls() { grep -c "accion=get_news" "$work/access.log" || true; }
polled() { [ "$(news_polls)" -gt "$polls" ]; }
calls() { wc -l <"$work/notifications.log"; }

# The operator reads a new line in the focused window and turns to the console before the next
# news poll: nothing waits.
before=$(fetches)
visitor_writes "¿Me oye?" || fail "the visitor could not write"
wait_for 3 fetched || fail "the focused window did not fetch the new line"
xdotool windowfocus --sync "$console"
calls_before=$(calls)
polls=$(news_polls)
wait_for 35 polled || fail "no news poll within its interval"
sleep 1
[ "$(tail -n +"$((calls_before + 1))" "$work/notifications.log" | grep -cF "\"summary\": \"$title\"")" = 0 ] ||
    fail "a line read in the focused window was notified"
console_unmarked || fail "a line read in the focused window marked the row"

# The operator works in the console; the visitor writes meanwhile. The window without the focus
# shows the line at once, and the conversation waits.
before=$(fetches)
visitor_writes "¿Sigue ahí?" || fail "the visitor could not write"
wait_for 2 fetched || fail "the window without the focus did not fetch the new line within 2 s"
wait_for 40 notified "$title" || fail "no notification within a news interval"
notifications | grep -F "\"summary\": \"$title\"" | tail -1 | grep -qF '"body": "¿Sigue ahí?"' ||
    fail "the notification does not show the visitor's line"
notifications | grep -F "\"summary\": \"$title\"" | tail -1 | grep -qF '"actions": ["default"' ||
    fail "the notification offers no default action"
wait_for 5 console_marked || fail "the row shows no mark"
tray_cycles || fail "the tray icon does not cycle"
import -window "$console" "$shots/attention-console.png"
# The tray while it shows the attention picture, for the record.
for _ in $(seq 12); do
    import -window root -crop 100x32+0+0 +repage "$work/tray-now.png"
    cmp -s <(convert "$work/tray-now.png" rgba:-) <(convert "$work/tray-plain-wide.png" rgba:-) || break
    sleep 0.2
done
convert "$work/tray-now.png" -scale 300% "$shots/attention-tray.png"
import -window root "$shots/attention-screen.png"

# A click on the notification brings back the window, which the operator had closed; once it
# has the focus it fetches the new line at once. Without a window manager the X server may
# refuse a program's own request for the focus, so the test gives it as a window manager would.
"$send_close" "$chat"
wait_for 5 has_no_visible_window "^$title\$" || fail "closing the conversation window did not hide it"
number=$(grep -F "\"summary\": \"$title\"" "$work/notifications.log" | tail -1 |
    sed -E 's/.*"id": ([0-9]+).*/\1/')
before=$(fetches)
echo "$number" >"$work/click"
wait_for 5 has_visible_window "^$title\$" || fail "the click did not show the window"
[ "$(xdotool getwindowfocus)" = "$chat" ] || xdotool windowfocus --sync "$chat"
wait_for 5 fetched || fail "focusing the window did not fetch its transcript"
wait_for 5 withdrawn "$title" || fail "the notification stayed"
wait_for 5 console_unmarked || fail "the mark stayed"
wait_for 5 tray_still || fail "the tray icon kept cycling"

# Fourteen new visitors: never more than four notifications out at a time, and one that stands
# for them all, whose click shows the console.
xdotool windowfocus --sync "$console"
for visitor in $(seq 14); do
    visitor_opens "Visitante $visitor" || fail "visitor $visitor could not open a conversation"
done
summary="14 conversaciones esperan respuesta"
wait_for 20 notified "$summary" || fail "no notification '$summary'"
# The most notifications out at once, by the recorder's log.
most_out() {
    sed -E 's/.*"call": "([A-Za-z]+)", "id": ([0-9]+).*/\1 \2/' "$work/notifications.log" |
        awk '$1 == "Notify" && !($2 in out) { out[$2] = 1; n++ }
             $1 == "CloseNotification" && ($2 in out) { delete out[$2]; n-- }
             n > most { most = n }
             END { print most + 0 }'
}
[ "$(most_out)" -le 4 ] || fail "$(most_out) notifications were out at a time"
"$send_close" "$console"
wait_for 5 has_no_visible_window '^Tertulia$' || fail "closing the console did not hide it"
grep -F "\"summary\": \"$summary\"" "$work/notifications.log" | tail -1 |
    sed -E 's/.*"id": ([0-9]+).*/\1/' >"$work/click"
wait_for 5 has_visible_window '^Tertulia$' || fail "the click on '$summary' did not show the console"
# Their windows, cascaded over the whole screen, go out of the tray's way.
for window in $(xdotool search --onlyvisible --name '^Conversacion con : Visitante' 2>/dev/null); do
    "$send_close" "$window"
done
wait_for 5 has_no_visible_window '^Conversacion con : Visitante' || fail "the visitors' windows stayed"

# The service goes away while the console is logged in.
stop_service
wait_for 40 notified "Tertulia" || fail "no notification of the lost connection"
notifications | grep -F '"summary": "Tertulia"' | tail -1 | grep -qF 'Sin conexión con el servicio' ||
    fail "the notification does not say the service is out of reach"
tray_shot "$work/tray-disconnected.png"
[ "$(red_pixels "$work/tray-disconnected.png")" -gt "$(($(red_pixels "$work/tray-plain.png") + 10))" ] ||
    fail "the tray icon does not show the disconnection"
import -window root -crop 100x32+0+0 +repage "$work/tray-disconnected-wide.png"
convert "$work/tray-disconnected-wide.png" -scale 300% "$shots/attention-tray-disconnected.png"
echo "PASS"
