#!/usr/bin/env bash
# The administrator's guide, done as an administrator would: every shell block it shows runs in
# order (bash -e, without a terminal, each password prompt answered on standard input), and every
# configuration it shows is written where it says, against this build's service: on SQLite,
# then on a PostgreSQL server of the test's own behind haproxy, with nginx as the TLS proxy.
# What needs a running systemd, a real installation or another machine is stood in for
# (guide_stand_ins.sh). The guide's paths lie in the test's folder and its addresses on free
# loopback ports. Afterwards both proxies answer /salud over TLS, and no nginx server block of
# the guide or of the service's README logs query strings.
# Usage: admin_guide.sh BUILD_DIR CPACK GUIDE SERVICE_README. Exits 77 (skip) without the tools.
set -euo pipefail
build=$(cd "$1" && pwd)
cpack=$2
guide=$3
service_readme=$4
here=$(cd "$(dirname "$0")" && pwd)

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -1)
for need in nginx:nginx-light haproxy:haproxy sqlite3:sqlite3 curl:curl promtool:prometheus \
    openssl:openssl setsid:util-linux apt-get:apt "$pg_bin/initdb:postgresql"; do
    if ! command -v "${need%%:*}" > /dev/null && [ ! -x "${need%%:*}" ]; then
        echo "SKIP: ${need%%:*} is missing (Debian package ${need#*:})"
        exit 77
    fi
done

# Every server block logs without the query: access_log off, or a log_format free of the
# variables that hold it. Without an access_log line nginx writes the query in its own format.
python3 - "$guide" "$service_readme" << 'EOF'
import re, sys
failures = []
for document in sys.argv[1:]:
    for block in re.findall(r"```nginx\n(.*?)```", open(document, encoding="utf-8").read(), re.S):
        formats = dict(re.findall(r"log_format\s+(\S+)\s+(.*?);", block, re.S))
        for server in re.split(r"\bserver\s*\{", block)[1:]:
            logs = re.findall(r"access_log\s+([^;]*);", server)
            for log in logs or ["(none: combined)"]:
                words = log.split()
                if words == ["off"]:
                    continue
                used = formats.get(words[1] if len(words) > 1 else "combined", "$request")
                if re.search(r"\$(request|request_uri|args|query_string|arg_\w+)\b", used):
                    failures.append("%s: access_log %s writes the query" % (document, log))
sys.exit("\n".join(failures) or None)
EOF

work_template=/tmp/tertulia-guide-XXXXXX
# shellcheck source=../../scripts/work-folder.sh
. "$here/../../scripts/work-folder.sh"
chmod 755 "$work"
root=$work/root
binary=$build/service/tertulia-service
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
service_port=$(free_port) other_port=$(free_port) tls_port=$(free_port) haproxy_port=$(free_port)
metrics_port=$(free_port) pg_port=$(free_port)
export work root binary pg_port

stop_servers() {
    for pidfile in "$work"/*.pid; do [ ! -f "$pidfile" ] || kill "$(cat "$pidfile")" 2> /dev/null || true; done
    [ ! -d "$work/pg" ] || runuser -u nobody -- "$pg_bin/pg_ctl" -D "$work/pg/data" -m fast -w stop > /dev/null 2>&1 || true
    end_processes_and_remove_work
}
trap stop_servers EXIT

mkdir -p "$root"/{etc/default,etc/nginx/sites-available,etc/nginx/sites-enabled,etc/haproxy} \
    "$root"/{etc/nginx/modules-enabled,etc/nginx/conf.d} \
    "$root"/{etc/prometheus,etc/ssl/tertulia,var/lib/tertulia-service,var/log/nginx,var/backups,root} \
    "$work/debs"
timeout 240 "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }

# The database server: the cluster's owner is "nobody", its administrator role "postgres".
mkdir "$work/pg" && chown nobody "$work/pg"
runuser -u nobody -- "$pg_bin/initdb" -D "$work/pg/data" -U postgres --auth=trust -E UTF8 --locale=C > "$work/pg/initdb.log"
runuser -u nobody -- "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w \
    -o "-k $work/pg -p $pg_port -c listen_addresses=127.0.0.1" start > /dev/null

# A certificate for chat.example.com, from an authority of the test's own.
(cd "$root/etc/ssl/tertulia" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=chat.example.com \
        -addext subjectAltName=DNS:chat.example.com -keyout chat.example.com.key \
        -out chat.example.com.crt 2> /dev/null &&
    cat chat.example.com.crt chat.example.com.key > "$root/etc/haproxy/chat.example.com.pem")
# What Debian's nginx package brings besides its main file (which the guide gives), and
# temporary files in the test's folder rather than this machine's /var/lib/nginx.
cp /etc/nginx/mime.types "$root/etc/nginx/"
for kind in client_body proxy fastcgi uwsgi scgi; do
    echo "${kind}_temp_path $work/$kind;"
done > "$root/etc/nginx/conf.d/paths.conf"

# The guide's paths and addresses, as they lie here.
mapped() {
    sed -e "s|/root/|$root/root/|g" -e "s|/etc/default/|$root/etc/default/|g" \
        -e "s|/etc/nginx/|$root/etc/nginx/|g" -e "s|/etc/haproxy/|$root/etc/haproxy/|g" \
        -e "s|/etc/ssl/tertulia/|$root/etc/ssl/tertulia/|g" -e "s|/var/log/nginx/|$root/var/log/nginx/|g" \
        -e "s|/run/nginx.pid|$work/nginx.pid|g" \
        -e "s|/var/lib/tertulia-service|$root/var/lib/tertulia-service|g" \
        -e "s|/var/backups/|$root/var/backups/|g" -e "s|/etc/prometheus/|$root/etc/prometheus/|g" \
        -e "s|/usr/bin/tertulia-service|$binary|g" \
        -e "s|127\.0\.0\.1:8080|127.0.0.1:$service_port|g" -e "s|10\.0\.0\.11:8080|127.0.0.1:$service_port|g" \
        -e "s|10\.0\.0\.12:8080|127.0.0.1:$other_port|g" -e "s|10\.0\.0\.5|127.0.0.1|g" \
        -e "s|db\.example\.com:5432|127.0.0.1:$pg_port|g" -e "s|127\.0\.0\.1:9101|127.0.0.1:$metrics_port|g" \
        -e "s|listen 443 |listen 127.0.0.1:$tls_port |" -e "s|bind :443 |bind 127.0.0.1:$haproxy_port |" \
        -e "s|log /dev/log |log stdout |"
}

# The blocks in the guide's order: shell blocks run, configurations go to the file named by
# their first line.
awk -v out="$work/blocks" 'BEGIN { system("mkdir -p " out) }
    /^```[a-z]+$/ && !inside { inside = 1; n++; file = sprintf("%s/%02d.%s", out, n, substr($0, 4)); next }
    /^```$/ && inside { inside = 0; close(file); next }
    inside { print > file }' "$guide"
printf 'una contraseña de prueba\n%.0s' $(seq 20) > "$work/answers"
for block in "$work"/blocks/*; do
    case $block in
        *.sh)
            mapped < "$block" > "$block.run"
            if ! (cd "$work/debs" && BASH_ENV=$here/guide_stand_ins.sh setsid -w bash -e -o pipefail \
                "$block.run" < "$work/answers" > "$block.log" 2>&1); then
                echo "FAIL: the guide's block:"; cat "$block"; echo "--- gave:"; cat "$block.log"
                exit 1
            fi ;;
        *.nginx | *.haproxy | *.yaml)
            target=$(head -1 "$block" | sed -n 's|^# \(/.*\)|\1|p' | mapped)
            [ -n "$target" ] || { echo "FAIL: $(basename "$block") names no file"; exit 1; }
            mapped < "$block" > "$target" ;;
    esac
done
promtool check config "$root/etc/prometheus/prometheus.yml" > /dev/null

# The other machine's service, on the same database, and both proxies in front.
(
    set -a
    . "$root/etc/default/tertulia-service"
    exec "$binary" --db "$TERTULIA_DB" --listen "127.0.0.1:$other_port" > "$work/other.log" 2>&1
) &
pids+=($!)
for _ in $(seq 100); do curl -fsS -o /dev/null "http://127.0.0.1:$other_port/salud" 2> /dev/null && break; sleep 0.1; done
over_tls() { curl -fsS --cacert "$root/etc/ssl/tertulia/chat.example.com.crt" \
    --resolve "chat.example.com:$1:127.0.0.1" "https://chat.example.com:$1$2"; }
[ "$(over_tls "$tls_port" /salud)" = OK ] || { echo "FAIL: /salud through nginx"; exit 1; }
for _ in 1 2 3 4; do
    [ "$(over_tls "$haproxy_port" /salud)" = OK ] || { echo "FAIL: /salud through haproxy"; exit 1; }
done
echo "ok: $(ls "$work"/blocks/*.sh | wc -l) shell blocks of the guide ran"
