#!/usr/bin/env bash
# The console in real time, with the real console and the real stand-in service under Xvfb: a
# visitor's new conversation opens its window within seconds (not at the next 30 s news poll),
# and a line to the focused window is fetched at once (not at its 15 s poll); every printable
# Windows-1252 character above 127 typed into a message line reaches the visitor's page in
# Chromium unchanged (skipped without Chromium). Then the same
# console against a service without event streams (a proxy that answers their action as an
# older service does): it goes on by its timers, without a word. Takes about a minute.
#
# usage: realtime_end_to_end.sh TERTULIA TERTULIA-SERVICE OLD-SERVICE-PROXY VISITOR-IN-CHROMIUM
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
old_service_proxy=$3
visitor_in_chromium=$4

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    echo "--- requests" >&2
    tail -8 "$work/access.log" >&2 || true
    echo "--- program output" >&2
    cat "$work/tertulia.log" >&2 || true
    exit 1
}

news_polls() { grep -c "accion=get_news" "$work/access.log" 2>/dev/null || true; }
polled() { [ "$(news_polls)" -gt "$polls" ]; }
# Logs in with the demo company, as the operator types it.
log_in() {
    polls=$(news_polls)
    type_demo_login "$console"
    wait_for 10 polled || fail "the login did not poll"
    # The event stream opens right after the login.
    sleep 1
}
fetches() { grep -c "accion=getchat.*idsesionclt=$id" "$work/access.log" || true; }
fetched() { [ "$(fetches)" -gt "$before" ]; }

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"

start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
export XDG_CONFIG_HOME="$work/config" HOME="$work/home" SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not appear"
log_in

visitor_opens "Lucía" || fail "the visitor could not open a conversation"
title="Conversacion con : Lucía"
wait_for 5 has_visible_window "^$title\$" ||
    fail "the new conversation's window did not open within seconds"
chat=$(visible_window "^$title\$")
xdotool windowfocus --sync "$chat"
sleep 1
for line in "Buenas tardes" "¿Sigue ahí?"; do
    before=$(fetches)
    visitor_writes "$line" || fail "the visitor could not write"
    wait_for 3 fetched || fail "the focused window did not fetch the line '$line' at once"
done

# Every printable character of Windows-1252 above 127 (all but the undefined 81, 8D, 8F, 90 and
# 9D), typed by the operator, reaches a visitor on the page in Chromium as typed.
for code in $(seq 128 255); do
    case $code in 129 | 141 | 143 | 144 | 157) continue ;; esac
    printf "\\x$(printf %02x "$code")"
done | iconv -f WINDOWS-1252 -t UTF-8 >"$work/characters"
[ "$(wc -m <"$work/characters")" = 123 ] || fail "the characters to type are not 123"
# Types them into the window with the focus. xdotool types an upper-case letter of Latin-1 as
# its lower-case one, so those go as Shift and the lower-case letter; a slow pace leaves the
# program time to read each change of the keyboard map that xdotool makes for a character.
type_characters() {
    local code run=
    for code in $(seq 128 255); do
        case $code in 129 | 141 | 143 | 144 | 157) continue ;; esac
        if [ "$code" -ge 192 ] && [ "$code" -le 222 ] && [ "$code" != 215 ]; then
            [ -z "$run" ] || xdotool type --delay 250 "$run"
            run=
            xdotool key shift+U00"$(printf %02X $((code + 32)))"
            sleep 0.25
        else
            run+=$(printf "\\x$(printf %02x "$code")" | iconv -f WINDOWS-1252 -t UTF-8)
        fi
    done
    [ -z "$run" ] || xdotool type --delay 250 "$run"
}
"$visitor_in_chromium" "$api" Marta "$work/characters" >"$work/chromium.log" 2>&1 &
visitor=$!
pids+=("$visitor")
marta="Conversacion con : Marta"
marta_or_no_browser() { has_visible_window "^$marta\$" || ! kill -0 "$visitor" 2>/dev/null; }
wait_for 60 marta_or_no_browser || fail "no window for the visitor on the page"
if has_visible_window "^$marta\$"; then
    marta_window=$(visible_window "^$marta\$")
    xdotool windowfocus --sync "$marta_window"
    sleep 0.5
    type_characters
    xdotool key Return
    status=0
    wait "$visitor" || status=$?
    [ "$status" = 0 ] || fail "the visitor's page did not show the typed characters: $(cat "$work/chromium.log")"
else
    status=0
    wait "$visitor" || status=$?
    [ "$status" = 77 ] || fail "the visitor on the page failed: $(cat "$work/chromium.log")"
    echo "the characters on the visitor's page: skipped, no Chromium"
fi

# The same console against a service without streams: its timers alone bring the news.
kill "$tertulia_pid" "$service_pid"
wait "$tertulia_pid" "$service_pid" 2>/dev/null || true
"$service" --listen 127.0.0.1:8081 --db "$work/service.db" --demo \
    --access-log "$work/access.log" >>"$work/service.log" 2>&1 &
pids+=($!)
"$old_service_proxy" 8080 8081 &
pids+=($!)
wait_for 10 curl -sf "$api/" || fail "the older service did not start"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not come back"
log_in
visitor_opens "Eva" || fail "the visitor could not open a conversation"
wait_for 40 has_visible_window "^Conversacion con : Eva\$" ||
    fail "without streams the news poll did not open the conversation"
# No box: the console is the one window of that name.
[ "$(xdotool search --onlyvisible --name '^Tertulia$' | wc -l)" = 1 ] || fail "a box came up"
echo "PASS"
