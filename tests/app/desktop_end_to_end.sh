#!/usr/bin/env bash
# The real console against the real stand-in service, under Xvfb with a tray host and without
# a window manager: log in by typing, a visitor's conversation opens its window, a typed line
# reaches the visitor, closing the console only hides it, and "Cerrar" in the tray menu ends
# the program and stores the company code.
#
# usage: desktop_end_to_end.sh TERTULIA TERTULIA-SERVICE SEND-CLOSE-REQUEST SCREENSHOT-DIR
# The program's service address is fixed at build time (port 8080 on this machine), so the test
# runs in a network namespace of its own where that port is free.
set -euo pipefail
# xdotool matches window titles in the current locale; the visitor's name is not ASCII.
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
send_close=$3
shots=$4
mkdir -p "$shots"
# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/e2e-failure.png" 2>/dev/null || true
    echo "--- program output" >&2
    cat "$work/tertulia.log" >&2 || true
    exit 1
}

# shellcheck source=../../scripts/headless-display.sh
. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || fail "Xvfb did not start"

start_service "$service" || fail "the service did not start"

# A visitor writes before the operator logs in; the first news poll opens the conversation.
visitor_opens "Lucía" || fail "the visitor could not open a conversation"
visitor_writes "Buenas tardes" || fail "the visitor could not write"

export XDG_CONFIG_HOME="$work/config" HOME="$work/home" SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not appear"
import -window root "$shots/e2e-login.png"
type_demo_login "$console"

title="Conversacion con : Lucía"
wait_for 20 has_visible_window "^$title\$" || fail "no window titled '$title'"
chat=$(visible_window "^$title\$")
sleep 1
import -window root "$shots/e2e-conversation.png"

xdotool windowfocus --sync "$chat"
xdotool type --delay 30 "Hola Lucia, le atiendo"
xdotool key Return
reached() { curl -sf "$api/api/conversaciones/$id?token=$token" | grep -q '"autor":"operador","texto":"Hola Lucia, le atiendo"'; }
wait_for 10 reached || fail "the operator's line did not reach the visitor"

"$send_close" "$console"
wait_for 5 has_no_visible_window '^Tertulia$' || fail "closing the console did not hide it"
kill -0 "$tertulia_pid" || fail "closing the console ended the program"
has_visible_window "^$title\$" || fail "closing the console hid the conversation window"

# The tray icon sits at the left of trayer's panel; a left click opens its menu, which has the
# keyboard: Down picks the first item ("Abrir Tertulia"), Up the last ("Cerrar").
open_tray_menu() {
    xdotool mousemove 12 14 click 1
    sleep 0.7
}
open_tray_menu
import -window root "$shots/e2e-tray-menu.png"
xdotool key Down Return
wait_for 5 has_visible_window '^Tertulia$' || fail "'Abrir Tertulia' did not show the console"

open_tray_menu
xdotool key Up Return
for _ in $(seq 50); do
    kill -0 "$tertulia_pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$tertulia_pid" 2>/dev/null && fail "'Cerrar' did not end the program"
wait "$tertulia_pid" || fail "the program ended with status $?"

settings="$XDG_CONFIG_HOME/Grupo Laredo/Tertulia.ini"
grep -qx 'IdEmpresa=demo' "$settings" || fail "the company code was not stored in $settings"
head -1 "$settings" | grep -qx '\[General\]' || fail "the company code is not under [General]"
echo "PASS"
