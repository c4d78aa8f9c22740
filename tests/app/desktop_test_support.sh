# Sourced by the tests that run the real console against the real service under Xvfb. The
# console's service address is port 8080 on loopback, so each test runs in a network namespace of
# its own where that port is free.

# enter_own_network SCRIPT ARGS...: runs SCRIPT again inside a new network namespace (and does not
# return), or, where none can be made, goes on here when port 8080 is free and skips otherwise.
enter_own_network() {
    if [ "${TERTULIA_E2E_IN_NAMESPACE:-}" != 1 ]; then
        if unshare -n true 2>/dev/null; then
            exec env TERTULIA_E2E_IN_NAMESPACE=1 unshare -n "$@"
        fi
        if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
            echo "SKIP: no network namespace, and port 8080 is taken" >&2
            exit 77
        fi
        export TERTULIA_E2E_IN_NAMESPACE=1
    fi
    ip link set lo up 2>/dev/null || true
}

skip() {
    echo "SKIP: $*" >&2
    exit 77
}

# wait_for SECONDS COMMAND...: waits until the command succeeds, for at most SECONDS.
wait_for() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# A search fails as a whole when a window goes away while it runs: it then finds nothing.
visible_window() { { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | head -1; }
# window_of TITLE: the visible window with that title, waiting up to 5 s for it.
window_of() {
    local window
    for _ in $(seq 25); do
        window=$(visible_window "$1")
        [ -n "$window" ] && break
        sleep 0.2
    done
    echo "$window"
}
has_visible_window() { [ -n "$(visible_window "$1")" ]; }
has_no_visible_window() { [ -z "$(visible_window "$1")" ]; }

# start_session_bus: a private session bus, its address exported, with a runtime folder of its
# own, so that the run is kept apart from any other session on the machine.
start_session_bus() {
    mkdir -m 700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime
    exec 6>"$work/bus-address"
    dbus-daemon --session --nofork --nopidfile --print-address=6 >"$work/dbus.log" 2>&1 &
    pids+=($!)
    exec 6>&-
    wait_for 5 test -s "$work/bus-address" || return 1
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus-address")
    export DBUS_SESSION_BUS_ADDRESS
}

# require_notification_recorder: skips the test where the recorder cannot run.
require_notification_recorder() {
    command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
    /usr/bin/python3 -c 'import dbus; from gi.repository import GLib' 2>/dev/null ||
        skip "python3-dbus or python3-gi is not installed"
}

# start_notification_recorder RECORDER: a private session bus with the recording notification
# service on it, which logs every call to $work/notifications.log and reports a click on the
# notification whose number is written into $work/click.
start_notification_recorder() {
    start_session_bus || return 1
    /usr/bin/python3 "$1" "$work/notifications.log" "$work/click" >"$work/recorder.log" 2>&1 &
    pids+=($!)
    wait_for 10 test -e "$work/notifications.log"
}

# The last notification call about a summary: "Notify" or "CloseNotification".
last_call_for() {
    local number
    number=$(grep -F "\"summary\": \"$1\"" "$work/notifications.log" | tail -1 |
        sed -E 's/.*"id": ([0-9]+).*/\1/')
    [ -n "$number" ] || return 0
    grep -E "\"id\": $number[,}]" "$work/notifications.log" | tail -1 |
        sed -E 's/.*"call": "([A-Za-z]+)".*/\1/'
}
notified() { [ "$(last_call_for "$1")" = Notify ]; }
withdrawn() { [ "$(last_call_for "$1")" = CloseNotification ]; }

# start_openbox: openbox as the window manager of the display, for the tests where focus and
# stacking matter; skips the test when it cannot start.
start_openbox() {
    command -v openbox >/dev/null || skip "openbox is not installed"
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK || skip "openbox did not start"
}
# The stand-in service where the console is built to find it.
api=http://127.0.0.1:8080
# start_service SERVICE [OPTIONS...]: the service with the demo company and its database in
# $work, its output added to $work/service.log; sets `service_pid`. Fails when it does not answer
# within 10 s.
start_service() {
    "$1" --listen 127.0.0.1:8080 --db "$work/service.db" --demo "${@:2}" \
        >>"$work/service.log" 2>&1 &
    service_pid=$!
    pids+=("$service_pid")
    wait_for 10 curl -sf "$api/"
}
stop_service() {
    kill "$service_pid"
    wait "$service_pid" 2>/dev/null || true
}
# visitor_opens NAME: a visitor opens a conversation of the demo company; sets `id` and `token`.
visitor_opens() {
    local opened
    opened=$(curl -sf --data-urlencode empresa=demo --data-urlencode "nombre=$1" \
        "$api/api/conversaciones") || return 1
    id=$(sed -E 's/.*"id":([0-9]+).*/\1/' <<<"$opened")
    token=$(sed -E 's/.*"token":"([^"]+)".*/\1/' <<<"$opened")
}
# visitor_writes TEXT: the visitor of conversation `id` writes a line.
visitor_writes() {
    curl -sf --data-urlencode "token=$token" --data-urlencode "texto=$1" \
        "$api/api/conversaciones/$id/mensajes" >/dev/null
}
# type_company_code WINDOW: "demo" into the login panel's edCodigoEmpresa of the console in
# WINDOW, 50 pixels below the banner's top at 31,69 of the panel, replacing what it held.
type_company_code() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + 60)) $((Y + 50 + 69 + 10)) click 1
    sleep 0.3
    xdotool key ctrl+a
    xdotool type --delay 40 demo
}
# type_demo_login WINDOW: logs that console in as the demo company's operator, as one types it.
type_demo_login() {
    type_company_code "$1"
    xdotool key Tab ctrl+a
    xdotool type --delay 40 demo
    xdotool key Tab space
}
# start_console PROGRAM LOG: the console, its output in LOG; sets `tertulia_pid` and, once its
# window is up, `console`. Fails when no window appears within 15 s.
start_console() {
    "$1" >"$2" 2>&1 &
    tertulia_pid=$!
    pids+=("$tertulia_pid")
    wait_for 15 has_visible_window '^Tertulia$' || return 1
    console=$(visible_window '^Tertulia$')
    # The update check runs first; then the login panel is offered.
    sleep 2
}

# The consoles' processes by number, for start_operator.
declare -A pid
consoles() { xdotool search --onlyvisible --name '^Tertulia$' 2>/dev/null | sort || true; }
news_polls() { grep -c 'accion=get_news' "$work/access.log" || true; }
# start_operator N: console N, with settings of its own that outlive it, logged in as the demo
# company's operator once its first news poll has been answered; its process is pid[N].
start_operator() {
    local before window polls
    before=$(consoles)
    XDG_CONFIG_HOME="$work/config-$1" HOME="$work/home-$1" "$tertulia" \
        >>"$work/tertulia-$1.log" 2>&1 &
    pid[$1]=$!
    pids+=($!)
    new_console() { [ -n "$(comm -13 <(echo "$before") <(consoles))" ]; }
    wait_for 15 new_console || fail "console $1 did not appear"
    window=$(comm -13 <(echo "$before") <(consoles) | head -1)
    sleep 2
    polls=$(news_polls)
    type_demo_login "$window"
    polled() { [ "$(news_polls)" -gt "$polls" ]; }
    wait_for 10 polled || fail "console $1 did not log in"
}
