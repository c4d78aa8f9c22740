#!/usr/bin/env bash
# The service killed while the operator types a 200-character reply into a focused conversation
# window, with the real console and the real stand-in service under Xvfb with openbox: the box
# about the lost service takes no character into the password field or another window, the
# console goes on looking for the service, the box closes itself once the service is back, the
# keyboard is back in the message line, and the console has logged in again within 10 s of the
# service's return. Takes about a minute.
#
# usage: outage_typing_end_to_end.sh TERTULIA TERTULIA-SERVICE SHOTS
set -euo pipefail
export LC_ALL=C.UTF-8

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
enter_own_network "$0" "$@"

tertulia=$1
service=$2
shots=$3
mkdir -p "$shots"

command -v openbox >/dev/null || skip "openbox is not installed"
/usr/bin/python3 -c '' 2>/dev/null || skip "python3 is not installed"

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$shots/outage-typing-failure.png" 2>/dev/null || true
    echo "--- focus: $(xdotool getwindowfocus getwindowname 2>/dev/null)" >&2
    echo "--- focus while typing (window, name)" >&2
    uniq "$work/focus.log" >&2 2>/dev/null || true
    echo "--- requests" >&2
    tail -15 "$work/access.log" >&2 || true
    echo "--- program output" >&2
    cat "$work/tertulia.log" >&2 || true
    exit 1
}

. "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"
start_openbox

service_up() {
    start_service "$service" --access-log "$work/access.log" || fail "the service did not start"
}
service_up
transcript_of() { curl -sf "$api/api/conversaciones/$1?token=$2"; }
logins() { grep -c "accion=do_login" "$work/access.log" || true; }
focus_is() { [ "$(xdotool getwindowfocus)" = "$1" ]; }
# The boxes on screen: windows titled "Error", or "Tertulia" beside the console's own.
boxes() {
    local errors reports
    errors=$({ xdotool search --onlyvisible --name '^Error$' 2>/dev/null || true; } | wc -l)
    reports=$({ xdotool search --onlyvisible --name '^Tertulia$' 2>/dev/null || true; } | wc -l)
    echo $((errors + reports - 1))
}
no_boxes() { [ "$(boxes)" = 0 ]; }
# The dark pixels of the console's password field (31,120 on the login panel, under the
# 50-pixel banner), and whether the login panel is the one shown (the field's white inside).
password_shot() { import -window "$console" -crop 121x21+31+170 +repage "$1"; }
dark_pixels() { convert "$1" -colorspace Gray -threshold 50% -format '%[fx:round((1-mean)*w*h)]' info:; }
login_panel_shown() {
    [ "$(convert "$1" -format '%[fx:p{60,18}.r>0.9&&p{60,18}.g>0.9&&p{60,18}.b>0.9]' info:)" = 1 ]
}

visitor_opens "Pedro" || fail "the visitor Pedro could not open a conversation"
pedro_id=$id pedro_token=$token
visitor_opens "Lucía" || fail "the visitor Lucía could not open a conversation"
lucia_id=$id lucia_token=$token

export XDG_CONFIG_HOME="$work/config" HOME="$work/home" SDL_AUDIODRIVER=dummy
mkdir -p "$HOME"
start_console "$tertulia" "$work/tertulia.log" || fail "the console did not appear"
xdotool windowactivate --sync "$console"
type_company_code "$console"
xdotool key Tab ctrl+a
xdotool type --delay 40 demo
# The field as four characters show it, without the caret, for the comparison below.
xdotool key Tab
sleep 0.5
password_shot "$work/password-before.png"
login_panel_shown "$work/password-before.png" || fail "the login panel is not where it is expected"
stars=$(dark_pixels "$work/password-before.png")
xdotool key space

pedro="Conversacion con : Pedro"
lucia="Conversacion con : Lucía"
wait_for 20 has_visible_window "^$pedro\$" || fail "no window titled '$pedro'"
wait_for 10 has_visible_window "^$lucia\$" || fail "no window titled '$lucia'"
pedro_window=$(window_of "^$pedro\$")
lucia_window=$(window_of "^$lucia\$")
# The event stream opens right after the login.
sleep 2
xdotool windowactivate --sync "$pedro_window"
wait_for 5 focus_is "$pedro_window" || fail "Pedro's window did not take the focus"
sleep 0.5

# Where the keyboard is, every 50 ms, while the operator types and a little after.
touch "$work/focus.log"
(
    while [ ! -e "$work/typed" ]; do
        focused=$(xdotool getwindowfocus 2>/dev/null || true)
        echo "$focused $(xdotool getwindowname "$focused" 2>/dev/null || true)" >>"$work/focus.log"
        sleep 0.05
    done
) &
sampler=$!
pids+=("$sampler")

reply="Hola Pedro, gracias por esperar. Reviso su pedido ahora mismo y le cuento enseguida"
reply+=" todo lo que encuentre sobre el envio, la factura y la fecha de entrega prevista para"
reply+=" usted, de verdad muchas gracias"
[ ${#reply} = 200 ] || fail "the reply has ${#reply} characters, not 200"
xdotool type --delay 15 "$reply" &
typist=$!
sleep 1
kill -KILL "$service_pid"
wait "$service_pid" 2>/dev/null || true
killed=$SECONDS
wait "$typist"
sleep 1.5
touch "$work/typed"
wait "$sampler" 2>/dev/null || true
import -window root "$shots/outage-typing-after-typing.png"

while read -r window _; do
    [ -n "$window" ] || continue
    [ "$window" != "$console" ] || fail "the console had the keyboard while the operator typed"
    [ "$window" != "$lucia_window" ] || fail "Lucía's window had the keyboard while the operator typed"
done <"$work/focus.log"
grep -q " Error$" "$work/focus.log" || fail "no box about the lost service took the keyboard"
password_shot "$work/password-after.png"
if login_panel_shown "$work/password-after.png"; then
    [ "$(dark_pixels "$work/password-after.png")" = "$stars" ] ||
        fail "the password field changed while the operator typed"
fi

# The service stays away for a few probes; a box about the outage is on screen when it comes back
# (the news poll's, unless a key answered it after its first second, and then the focused
# window's own failed poll's).
while [ $((SECONDS - killed)) -lt 20 ]; do sleep 1; done
[ "$(boxes)" -ge 1 ] || fail "no box about the outage is open when the service comes back"
import -window root "$shots/outage-typing-service-away.png"
before=$(logins)
service_up
restarted=$SECONDS
logged_in_again() { [ "$(logins)" -gt "$before" ]; }
wait_for 10 logged_in_again || fail "not logged in again within 10 s of the service's return"
echo "logged in again $((SECONDS - restarted)) s after the service's return"
wait_for 5 no_boxes || fail "the boxes about the outage stayed open"
wait_for 5 focus_is "$pedro_window" || fail "the keyboard is not back in Pedro's window"

# What the message line holds goes to Pedro: the reply, less what the box took meanwhile.
xdotool type --delay 30 " fin"
xdotool key Return
sent() { transcript_of "$pedro_id" "$pedro_token" | grep -q '"autor":"operador"'; }
wait_for 10 sent || fail "nothing reached Pedro from the message line"
transcript_of "$pedro_id" "$pedro_token" >"$work/pedro.json"
/usr/bin/python3 - "$reply" "$work/pedro.json" <<'EOF' || fail "Pedro got a line that is not the reply's typing"
import json, sys
reply, path = sys.argv[1], sys.argv[2]
lines = [m["texto"] for m in json.load(open(path))["mensajes"] if m["autor"] == "operador"]
assert len(lines) == 1, lines
line = lines[0]
assert line.endswith(" fin"), line
typed = line[: -len(" fin")]
# The reply's beginning and its end, with at most the characters that the box ignored or that
# answered it left out between them.
fits = any(typed == reply[:i] + reply[j:] for i in range(len(reply) + 1) for j in range(i, len(reply) + 1))
assert fits, typed
print(f"{len(reply) - len(typed)} of {len(reply)} characters went to the box")
EOF

# Nothing waits in Lucía's message line either.
xdotool windowactivate --sync "$lucia_window"
wait_for 5 focus_is "$lucia_window" || fail "Lucía's window did not take the focus"
xdotool key Return
sleep 2
transcript_of "$lucia_id" "$lucia_token" | grep -q '"autor":"operador"' &&
    fail "a line of the operator reached Lucía"
echo "PASS"
