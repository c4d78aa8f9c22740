#!/usr/bin/env bash
# Downloads a 256 MiB file from nginx on loopback with `tertulia-tool get -o` and with
# `curl -s -o`, over plain HTTP and over HTTPS (nginx terminating TLS with a certificate of a
# test authority made here, which both programs trust), three runs each taking turns, and
# prints for each the best and the median times, their ratio, the tool's peak resident memory
# and whether both files match the source.
# Usage: bench/http_vs_curl.sh [path/to/tertulia-tool]   (default: build/tools/tertulia-tool)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$top/build/tools/tertulia-tool}
[ -x "$tool" ] || { echo "no tertulia-tool at $tool (build it first)" >&2; exit 2; }
for program in nginx curl /usr/bin/time md5sum python3 openssl; do
    command -v "$program" >/dev/null || { echo "needs $program" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tertulia-bench-XXXXXX)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
port=$(free_port)
tls_port=$(free_port)
"$top/tests/http/make_test_certificates.sh" "$work/certificates"
mkdir -p "$work/www"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
user root;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    default_type application/octet-stream;
    sendfile on;
    server { listen 127.0.0.1:$port; root $work/www; }
    server {
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $work/certificates/good.pem;
        ssl_certificate_key $work/certificates/good.key;
        root $work/www;
    }
}
CONF
nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!

head -c $((256 * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
source_md5=$(md5sum < "$work/www/big.bin" | cut -d' ' -f1)
url="http://127.0.0.1:$port/big.bin"
for _ in $(seq 50); do curl -s -o /dev/null "$url" 2>/dev/null && break; sleep 0.1; done

# Prints "seconds peak_kib" for one run of the command (wall time in nanoseconds precision;
# /usr/bin/time only for the peak resident memory).
# Dirty pages of the run before are written out first, so that no run pays for another.
measure() {
    local start end
    sync
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/time.txt" "$@"
    end=$(date +%s%N)
    echo "$(python3 -c "print(($end - $start) / 1e9)") $(cat "$work/time.txt")"
}

# compare NAME URL: three runs of each program taking turns; prints the figures and checks the
# files and the memory. The tool trusts the test authority through SSL_CERT_FILE, curl through
# --cacert.
status=0
compare() {
    local name=$1 url=$2 run seconds peak tool_times=() curl_times=() peak_tool=0
    for run in 1 2 3; do
        rm -f "$work/tool.out" "$work/curl.out"
        read -r seconds peak < <(measure env SSL_CERT_FILE="$work/certificates/ca.pem" \
            "$tool" get -o "$work/tool.out" "$url")
        tool_times+=("$seconds")
        [ "$peak" -gt "$peak_tool" ] && peak_tool=$peak
        read -r seconds _ < <(measure curl -s --cacert "$work/certificates/ca.pem" \
            -o "$work/curl.out" "$url")
        curl_times+=("$seconds")
        echo "$name run $run: tertulia-tool ${tool_times[-1]} s, curl ${curl_times[-1]} s"
    done
    local tool_md5 curl_md5
    tool_md5=$(md5sum < "$work/tool.out" | cut -d' ' -f1)
    curl_md5=$(md5sum < "$work/curl.out" | cut -d' ' -f1)
    python3 - "$name" "$peak_tool" "${tool_times[*]}" "${curl_times[*]}" <<'PY'
import statistics, sys
name, peak = sys.argv[1], int(sys.argv[2])
tool = [float(t) for t in sys.argv[3].split()]
curl = [float(t) for t in sys.argv[4].split()]
# Over TLS the crypto is the same library's in both programs; a tenth slower is the bound.
wanted = 1.0 if name == "HTTP" else 1 / 0.9
for kind, pick in (("best", min), ("median", statistics.median)):
    t, c = pick(tool), pick(curl)
    print(f"{name} 256 MiB over loopback, {kind} of 3: tertulia-tool {t:.3f} s, curl {c:.3f} s, "
          f"time ratio tertulia-tool/curl {t / c:.3f} (at most {wanted:.2f} wanted)")
print(f"{name} tertulia-tool peak resident memory: {peak / 1024:.1f} MiB (under 16 MiB wanted)")
PY
    echo "$name digests: source $source_md5, tertulia-tool $tool_md5, curl $curl_md5"
    [ "$tool_md5" = "$source_md5" ] || { echo "tertulia-tool's file differs from the source"; status=1; }
    [ "$curl_md5" = "$source_md5" ] || { echo "curl's file differs from the source"; status=1; }
    [ "$peak_tool" -lt $((16 * 1024)) ] || { echo "peak resident memory is 16 MiB or more"; status=1; }
}

compare HTTP "$url"
compare HTTPS "https://127.0.0.1:$tls_port/big.bin"
exit $status
