#!/usr/bin/env bash
# The operator's tools with the real consoles and the real stand-in service, under Xvfb with
# openbox, read as a screen reader reads them (the accessibility bus):
# - the visitor types: within a second the conversation window's status says "Ana está
#   escribiendo…" and her row "Ana, escribiendo"; gone within 6 s;
# - the operator types: the visitor's stream hears of it within a second, and the service at most
#   once every 2 s;
# - two ready answers added with company-reply: "/" "salu" Enter puts the greeting into the message
#   line, Escape keeps "/salu", and one added while the console runs is offered within 2 s;
# - alone, the console's "Pasar" is disabled (Alt+P asks nothing); with a second console, Alt+P
#   and OK hand the conversation to it within 2 s, and the first console's window closes.
# Takes about a minute.
#
# usage: operator_tools_end_to_end.sh TERTULIA TERTULIA-SERVICE ACCESSIBLE-TEXT
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
accessible_text=$3

command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core is not installed"
/usr/bin/python3 -c 'import dbus' 2>/dev/null || skip "python3-dbus is not installed"

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    echo "--- focus: $(xdotool getwindowfocus getwindowname 2>/dev/null)" >&2
    echo "--- reads" >&2
    tail -3 "$work/reads.log" >&2 || true
    echo "--- requests" >&2
    tail -12 "$work/access.log" >&2 || true
    echo "--- program output" >&2
    cat "$work"/tertulia-*.log >&2 || true
    exit 1
}

# reads SECONDS WINDOW OBJECT [--is TEXT | --is-not TEXT]: what a screen reader reads of the
# object, waited for.
reads() {
    /usr/bin/python3 "$accessible_text" Tertulia "$2" "$3" "$1" "${@:4}" 2>>"$work/reads.log"
}
ana="Conversacion con : Ana"
# windows_of N: the conversation windows of Ana that console N shows.
windows_of() {
    { xdotool search --all --onlyvisible --pid "${pid[$1]}" --name "^$ana\$" 2>/dev/null ||
        true; } | head -1
}
# message_line_reads TEXT: Ana's message line holds TEXT within a second.
message_line_reads() { reads 1 "$ana" Mensaje --is "$1" >/dev/null; }
clear_message_line() { xdotool key ctrl+a BackSpace; }
add_answer() {
    printf '%s' "$2" | "$service" company-reply demo add "$1" --db "$work/service.db" \
        >>"$work/service.log" 2>&1
}

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_virtual_screen "$work" || skip "Xvfb did not start"
start_openbox
start_session_bus || skip "dbus-daemon did not start"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 SDL_AUDIODRIVER=dummy
start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
add_answer saludo "Hola, buenos días. ¿En qué puedo ayudarle?" || fail "company-reply failed"
add_answer despedida "Gracias por escribirnos." || fail "company-reply failed"
mkdir -p "$work/home-1" "$work/home-2"
start_operator 1
sleep 1  # the event stream opens right after the login

visitor_opens "Ana" || fail "the visitor could not open a conversation"
wait_for 10 has_visible_window "^$ana\$" || fail "Ana's conversation did not open"
chat=$(windows_of 1)
# Attended: her row says only what the visitor does.
xdotool windowfocus --sync "$chat"
sleep 1

# The visitor types.
curl -sf --data-urlencode "token=$token" "$api/api/conversaciones/$id/escribiendo" >/dev/null ||
    fail "the visitor's typing was refused"
typed_at=$SECONDS
reads 1 "$ana" Estado --is "Ana está escribiendo…" >/dev/null ||
    fail "the status did not say within 1 s that Ana types"
reads 1 Tertulia "Ana, escribiendo" >/dev/null || fail "Ana's row did not say that she types"
reads 7 "$ana" Estado --is-not "Ana está escribiendo…" >/dev/null ||
    fail "the status still said after 7 s that Ana types"
[ $((SECONDS - typed_at)) -le 7 ] || fail "the status went only after $((SECONDS - typed_at)) s"

# The operator types, as the visitor's stream listens.
curl -sN "$api/api/conversaciones/$id/eventos?token=$token" >"$work/visitor-stream" 2>&1 &
pids+=($!)
sleep 1
xdotool type --delay 40 b
heard() { grep -q '^event: escribiendo' "$work/visitor-stream"; }
wait_for 1 heard || fail "the visitor's stream did not hear within 1 s that the operator types"
xdotool type --delay 250 "uenas tardes, le escribo"
message_line_reads "buenas tardes, le escribo" || fail "the typing did not reach the line"
# Consecutive typing requests are at least 2 s apart (the log's times are whole seconds).
grep 'accion=escribiendo' "$work/access.log" | sed -E 's/.*\[([^]]+)\].*/\1/' |
    sed -E 's|^([0-9]+)/([A-Za-z]+)/([0-9]+):|\1 \2 \3 |' | while read -r stamp; do
    date -u -d "$stamp" +%s
done >"$work/typing-times"
[ "$(wc -l <"$work/typing-times")" -ge 2 ] || fail "the operator's typing was told once only"
awk 'NR > 1 && $1 - last < 2 { bad = 1 } { last = $1 } END { exit bad }' "$work/typing-times" ||
    fail "typing requests less than 2 s apart: $(tr '\n' ' ' <"$work/typing-times")"

# Ready answers: "/" and a shortcut's beginning, then Enter; then Escape.
clear_message_line
xdotool type --delay 150 "/salu"
sleep 0.5
xdotool key Return
message_line_reads "Hola, buenos días. ¿En qué puedo ayudarle?" ||
    fail "Enter did not put the greeting in the line"
has_visible_window "^$ana\$" && [ "$(grep -c 'accion=getchat.*mensaje=' "$work/access.log")" = 0 ] ||
    fail "Enter in the list sent the line"
clear_message_line
xdotool type --delay 150 "/salu"
sleep 0.5
xdotool key Escape
message_line_reads "/salu" || fail "Escape did not keep what was typed"
clear_message_line
answers=$(grep -c 'accion=respuestas' "$work/access.log")
add_answer espera "Un momento, por favor." || fail "company-reply failed"
fetched() { [ "$(grep -c 'accion=respuestas' "$work/access.log")" -gt "$answers" ]; }
wait_for 2 fetched || fail "a new answer was not fetched within 2 s"
xdotool type --delay 100 "/esper"
xdotool key Return
message_line_reads "Un momento, por favor." || fail "the new answer was not offered"
clear_message_line

# Alone: "Pasar" is disabled, Alt+P asks nothing.
xdotool key alt+p
sleep 1
has_no_visible_window '^Confirm$' || fail "a disabled Pasar asked"
grep -q 'accion=consolas' "$work/access.log" || fail "the console did not ask for the other consoles"

# A second console: the next news poll of the first one finds it.
start_operator 2
sleep 1
consoles_asked=$(grep -c 'accion=consolas' "$work/access.log")
visitor_opens "Eva" || fail "the visitor could not open a second conversation"
asked() { [ "$(grep -c 'accion=consolas' "$work/access.log")" -ge $((consoles_asked + 2)) ]; }
wait_for 40 asked || fail "the consoles did not ask for the others again"
sleep 1
xdotool windowfocus --sync "$chat"
sleep 0.5
xdotool key alt+p
wait_for 3 has_visible_window '^Confirm$' || fail "Alt+P did not ask"
xdotool key Return
in_second() { [ -n "$(windows_of 2)" ]; }
wait_for 2 in_second || fail "the second console did not list Ana within 2 s"
gone_in_first() { [ -z "$(windows_of 1)" ]; }
wait_for 2 gone_in_first || fail "the first console's window did not close"
grep -q 'accion=ceder' "$work/access.log" || fail "no hand-on request"
! grep -q 'accion=dropclt' "$work/access.log" || fail "the conversation was closed"
echo "PASS"
