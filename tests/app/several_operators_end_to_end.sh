#!/usr/bin/env bash
# Two operators of one company, two real consoles against the real stand-in service under Xvfb:
# a visitor's conversation opens in exactly one of them, also after the other's next news poll.
# Takes about 45 seconds: one news interval.
#
# usage: several_operators_end_to_end.sh TERTULIA TERTULIA-SERVICE
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
    tail -8 "$work/access.log" >&2 || true
    cat "$work"/tertulia-*.log >&2 || true
    exit 1
}

consoles() { xdotool search --onlyvisible --name '^Tertulia$' 2>/dev/null | sort || true; }
# Starts console N with settings of its own and logs it in as the demo company's operator.
start_operator() {
    local before window
    before=$(consoles)
    XDG_CONFIG_HOME="$work/config-$1" HOME="$work/home-$1" "$tertulia" >"$work/tertulia-$1.log" 2>&1 &
    pids+=($!)
    new_console() { [ -n "$(comm -13 <(echo "$before") <(consoles))" ]; }
    wait_for 15 new_console || fail "console $1 did not appear"
    window=$(comm -13 <(echo "$before") <(consoles) | head -1)
    sleep 2
    type_demo_login "$window"
}
open_windows() { xdotool search --onlyvisible --name '^Conversacion con : Ana$' 2>/dev/null | wc -l; }
one_window() { [ "$(open_windows)" = 1 ]; }

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"
start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
export SDL_AUDIODRIVER=dummy
mkdir -p "$work/home-1" "$work/home-2"
start_operator 1
start_operator 2
logins() { [ "$(grep -c 'accion=do_login' "$work/access.log")" -ge 2 ]; }
wait_for 10 logins || fail "the consoles did not log in"
sleep 2

visitor_opens "Ana" || fail "the visitor could not open a conversation"
wait_for 10 one_window || fail "the conversation did not open in a console"
sleep 3
one_window || fail "the conversation opened in $(open_windows) consoles"
# The other console's next news poll does not bring it either.
sleep 32
one_window || fail "after a news poll the conversation is open in $(open_windows) consoles"
echo "PASS"
