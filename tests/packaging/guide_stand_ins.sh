# Sourced (through BASH_ENV) by every shell block of the administrator's guide that
# admin_guide.sh runs. Here is no running systemd, no other machine and no installation for
# real, so these few commands are stood in for; every other command of the guide is the real one.
# admin_guide.sh exports `work` (the test's folder), `root` (where the guide's /etc, /var and
# /root lie) and `binary` (tertulia-service of this build).

# The unit's start: its environment file, then its ExecStart line; systemd would wait for
# READY=1, this waits for the health address.
start_tertulia_service() {
    (
        set -a
        # shellcheck source=/dev/null
        . "$root/etc/default/tertulia-service"
        set +a
        # shellcheck disable=SC2086 # $TERTULIA_OPTIONS is split into words, as systemd does
        "$binary" --db "$TERTULIA_DB" --listen "$TERTULIA_LISTEN" $TERTULIA_OPTIONS \
            >> "$work/journal" 2>&1 < /dev/null &
        echo $! > "$work/tertulia-service.pid"
        for _ in $(seq 100); do
            curl -fsS -o /dev/null "http://$TERTULIA_LISTEN/salud" 2> /dev/null && exit 0
            kill -0 "$(cat "$work/tertulia-service.pid")" 2> /dev/null || break
            sleep 0.1
        done
        echo "tertulia-service did not start:" >&2
        tail -5 "$work/journal" >&2
        exit 1
    )
}

stop_tertulia_service() {
    local pid
    pid=$(cat "$work/tertulia-service.pid" 2> /dev/null) || return 0
    kill "$pid" 2> /dev/null || true
    while kill -0 "$pid" 2> /dev/null; do sleep 0.05; done
    rm -f "$work/tertulia-service.pid"
}

systemctl() {
    local action=$1 unit=${*: -1}
    case "$action:$unit" in
        enable:* | start:tertulia-service) start_tertulia_service ;;
        stop:tertulia-service) stop_tertulia_service ;;
        restart:tertulia-service) stop_tertulia_service && start_tertulia_service ;;
        status:tertulia-service) kill -0 "$(cat "$work/tertulia-service.pid")" &&
            echo "tertulia-service.service: active (running)" ;;
        reload:nginx)
            if [ -s "$work/nginx.pid" ]; then
                nginx -s reload
            else
                nginx
            fi ;;
        # haproxy asks for descriptors for the guide's maxconn, more than a test machine may
        # give: here its connections are fewer.
        reload:haproxy)
            command haproxy -D -n 4000 -p "$work/haproxy.pid" -f "$root/etc/haproxy/haproxy.cfg" ;;
        *) echo "systemctl stand-in: $* is not known" >&2; return 1 ;;
    esac
}

# The command after systemd's options, run here as root.
systemd-run() {
    while [ $# -gt 0 ] && [[ "$1" != /* ]]; do shift; done
    "$@"
}

journalctl() { cat "$work/journal"; }

# Installing for real would change this machine: apt simulates it.
apt() {
    [ "$1" = install ] || return 1
    shift
    apt-get install --simulate --no-install-recommends -o Debug::NoLocking=1 "$@" > /dev/null
}

# The database server's administrator, on the test's own PostgreSQL.
sudo() {
    [ "$1 $2" = "-u postgres" ] || return 1
    shift 2
    PGHOST=127.0.0.1 PGPORT=$pg_port PGUSER=postgres "$@"
}

# The real nginx with the guide's main configuration, which includes the guide's site.
nginx() { command nginx -p "$work" -e "$work/nginx-error.log" -c "$root/etc/nginx/nginx.conf" "$@"; }
