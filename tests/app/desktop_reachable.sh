#!/usr/bin/env bash
# The real console stays reachable and ends as "Cerrar" does, under Xvfb without a window
# manager, against the real stand-in service:
# - without a notification area, closing the console or a conversation window leaves it on
#   screen; after the sound has played (SDL's disk driver), SIGTERM, and in a second run SIGINT,
#   end the program with the company code stored;
# - with a tray host, closing the console hides it; when the host goes away the console comes
#   back; Ctrl+Q ends the program with the company code stored.
#
# usage: desktop_reachable.sh TERTULIA TERTULIA-SERVICE SEND-CLOSE-REQUEST
# The program's service address is fixed at build time (port 8080), so the test runs in a
# network namespace of its own where that port is free.
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
send_close=$3
# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

run=0
fail() {
    echo "FAIL (run $run): $*" >&2
    echo "--- program output" >&2
    cat "$work/tertulia-$run.log" >&2 || true
    exit 1
}

is_non_empty() { [ -s "$1" ]; }

# shellcheck source=../../scripts/headless-display.sh
. "$(dirname "$0")/../../scripts/headless-display.sh"
start_virtual_screen "$work" || fail "Xvfb did not start"

# Each run is a console started anew: the visitor's conversation, which the service gives to one
# console at a time, passes to it as soon as its predecessor is silent.
start_service "$service" --owner-silence 1 || fail "the service did not start"
visitor_opens "Lucía" || fail "the visitor could not open a conversation"
title="Conversacion con : Lucía"

# start_run: the program with settings of its own and SDL writing its sound to a file.
start_run() {
    run=$((run + 1))
    export XDG_CONFIG_HOME="$work/config-$run" HOME="$work/home-$run"
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio-$run.raw"
    mkdir -p "$HOME"
    settings="$XDG_CONFIG_HOME/Grupo Laredo/Tertulia.ini"
    start_console "$tertulia" "$work/tertulia-$run.log" || fail "the console did not appear"
}

# log_in_until_the_sound: the first news poll opens the visitor's conversation with the sound.
log_in_until_the_sound() {
    type_demo_login "$console"
    wait_for 20 has_visible_window "^$title\$" || fail "no window titled '$title'"
    wait_for 10 is_non_empty "$SDL_DISKAUDIOFILE" || fail "the sound was not played"
}

# ends_storing_the_code: the program ends by itself, with status 0 and the code stored.
ends_storing_the_code() {
    for _ in $(seq 50); do
        kill -0 "$tertulia_pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -0 "$tertulia_pid" 2>/dev/null && fail "$1 did not end the program"
    wait "$tertulia_pid" || fail "after $1 the program ended with status $?"
    grep -qx 'IdEmpresa=demo' "$settings" || fail "after $1 the company code was not stored"
}

# Without a notification area: closing leaves the windows on screen; SIGTERM after the sound.
start_run
log_in_until_the_sound
chat=$(visible_window "^$title\$")
"$send_close" "$console"
"$send_close" "$chat"
sleep 1
has_visible_window '^Tertulia$' || fail "closing the console hid it without a notification area"
has_visible_window "^$title\$" || fail "closing the conversation hid it without a notification area"
kill -0 "$tertulia_pid" || fail "closing the windows ended the program"
kill -TERM "$tertulia_pid"
ends_storing_the_code SIGTERM

start_run
log_in_until_the_sound
kill -INT "$tertulia_pid"
ends_storing_the_code SIGINT

# With a tray host: closing hides the console, which comes back when the host goes away.
start_tray_host "$work"
sleep 1
start_run
type_company_code "$console"
"$send_close" "$console"
wait_for 5 has_no_visible_window '^Tertulia$' || fail "closing the console did not hide it"
kill "$tray_host_pid"
wait_for 10 has_visible_window '^Tertulia$' || fail "the console did not come back without a tray"
console=$(visible_window '^Tertulia$')
xdotool windowfocus --sync "$console"
xdotool key ctrl+q
ends_storing_the_code Ctrl+Q
echo "PASS"
