# Sourced by the scripts that run the console where there is no display: a virtual screen with
# a notification-area host on it. The caller keeps an array `pids` of the processes to end.

# start_headless_display DIR: starts Xvfb and the tray host, their logs in DIR, and exports
# DISPLAY. Fails when the server has not come up within 10 seconds.
start_headless_display() {
    start_virtual_screen "$1" && start_tray_host "$1"
}

# start_virtual_screen DIR: Xvfb alone, a desktop without a notification area.
start_virtual_screen() {
    local dir=$1
    exec 5>"$dir/display"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    pids+=($!)
    exec 5>&-
    local tries
    for tries in $(seq 50); do
        [ -s "$dir/display" ] && break
        sleep 0.2
    done
    [ -s "$dir/display" ] || return 1
    export DISPLAY=":$(head -1 "$dir/display")"
}

# start_tray_host DIR: the notification-area host on the display; its process is `tray_host_pid`.
start_tray_host() {
    trayer --edge top --align left --widthtype pixel --width 100 --heighttype pixel --height 32 \
        >>"$1/trayer.log" 2>&1 &
    tray_host_pid=$!
    pids+=($tray_host_pid)
}
