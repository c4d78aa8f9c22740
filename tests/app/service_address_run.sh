#!/usr/bin/env bash
# The real program finds its service at run time: the settings file's "[Servicio]" "URL=", else
# TERTULIA_SERVICE_URL, else the built-in address; and it reaches an "https" address through
# nginx terminating TLS with certificates that the test makes. Each run is watched until its
# first request, the update check, arrives at one of the recording servers.
#
# usage: service_address_run.sh TERTULIA MAKE-TEST-CERTIFICATES
set -euo pipefail
tertulia=$1
make_certificates=$2
for program in python3 nginx openssl; do
    command -v "$program" >/dev/null || { echo "SKIP: needs $program" >&2; exit 77; }
done

work_template=/tmp/tertulia-address-XXXXXX
# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

fail() {
    echo "FAIL: $*" >&2
    cat "$work/program.log" >&2 || true
    exit 1
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    fail "nothing listens on port $1"
}

# A plain server on PORT that appends the target of every GET to $work/NAME.log.
recorder() {
    python3 - "$2" "$work/$1.log" <<'PY' &
import http.server, sys
port, log = int(sys.argv[1]), sys.argv[2]
class Recorder(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(log, "a") as f:
            f.write(self.path + "\n")
        body = b"AL DIA"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", port), Recorder).serve_forever()
PY
    pids+=($!)
    wait_for_port "$2"
}

environment_port=$(free_port)
settings_port=$(free_port)
behind_tls_port=$(free_port)
tls_port=$(free_port)
recorder environment "$environment_port"
recorder settings "$settings_port"
recorder behind-tls "$behind_tls_port"

"$make_certificates" "$work/certificates"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
user root;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 16; }
http {
    access_log off;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    server {
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $work/certificates/good.pem;
        ssl_certificate_key $work/certificates/good.key;
        location / { proxy_pass http://127.0.0.1:$behind_tls_port; }
    }
}
CONF
nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
pids+=($!)
wait_for_port "$tls_port"

settings_file="$work/home/.config/Grupo Laredo/Tertulia.ini"
mkdir -p "$(dirname "$settings_file")"

# run EXPECTED-RECORDER [SETTINGS-URL] [VAR=VALUE...]: runs the program with a settings home of
# its own until a recorder has the update check, and checks that it is EXPECTED-RECORDER's.
run() {
    local expected=$1 url=$2
    shift 2
    rm -f "$work"/*.log "$settings_file"
    [ -z "$url" ] || printf '[Servicio]\nURL=%s\n' "$url" > "$settings_file"
    env -u TERTULIA_SERVICE_URL HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy "$@" "$tertulia" \
        > "$work/program.log" 2>&1 &
    local program=$!
    for _ in $(seq 200); do
        compgen -G "$work/*.log" | grep -qv program.log && break
        sleep 0.1
    done
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    grep -qx '/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1' "$work/$expected.log" 2>/dev/null ||
        fail "the update check did not reach the $expected server"
    for log in "$work"/*.log; do
        case $log in */program.log | */"$expected".log) ;; *) fail "a request went to $log" ;; esac
    done
    echo "ok: $expected"
}

run environment "" TERTULIA_SERVICE_URL="http://127.0.0.1:$environment_port"
run settings "http://127.0.0.1:$settings_port/" TERTULIA_SERVICE_URL="http://127.0.0.1:$environment_port"
run behind-tls "https://localhost:$tls_port" SSL_CERT_FILE="$work/certificates/ca.pem"
