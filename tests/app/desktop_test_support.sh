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
