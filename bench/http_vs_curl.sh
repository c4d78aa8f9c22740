#!/usr/bin/env bash
# Downloads a 256 MiB file from nginx on loopback with `tertulia-tool get -o` and with
# `curl -s -o`, over plain HTTP and over HTTPS (nginx terminating TLS with a certificate of a
# test authority made here, which both programs trust), three runs each (RUNS=n for more) in
# pairs whose order alternates, and prints for each the best and the median wall times, their
# ratio, the median user CPU times (start-up work shows there first), the tool's peak resident
# memory and whether both files match the source.
# Usage: [RUNS=n] bench/http_vs_curl.sh [path/to/tertulia-tool]
#        (default: build/tools/tertulia-tool)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$top/build/tools/tertulia-tool}
runs=${RUNS:-3}
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

# Prints "seconds peak_kib user_seconds" for one run of the command (wall time in nanoseconds
# precision; /usr/bin/time for the peak resident memory and the user CPU time, in hundredths).
# Dirty pages of the run before are written out first, so that no run pays for another.
measure() {
    local start end
    sync
    start=$(date +%s%N)
    /usr/bin/time -f '%M %U' -o "$work/time.txt" "$@"
    end=$(date +%s%N)
    echo "$(python3 -c "print(($end - $start) / 1e9)") $(cat "$work/time.txt")"
}

# compare NAME URL: RUNS runs of each program taking turns, the one that goes first changing
# every run; prints the figures and checks the files and the memory. Over HTTPS the tool trusts
# the test authority through SSL_CERT_FILE, curl through --cacert; over HTTP the tool runs as an
# operator runs it, with the system's trust store, so that what it costs at start-up shows.
status=0
compare() {
    local name=$1 url=$2 run program seconds peak user peak_tool=0
    local tool_times=() curl_times=() tool_user=() curl_user=() trust=()
    [ "$name" = HTTPS ] && trust=(SSL_CERT_FILE="$work/certificates/ca.pem")
    for run in $(seq "$runs"); do
        rm -f "$work/tool.out" "$work/curl.out"
        for program in $([ $((run % 2)) = 1 ] && echo "tool curl" || echo "curl tool"); do
            if [ "$program" = tool ]; then
                read -r seconds peak user < <(measure env "${trust[@]}" "$tool" get \
                    -o "$work/tool.out" "$url")
                tool_times+=("$seconds")
                tool_user+=("$user")
                [ "$peak" -gt "$peak_tool" ] && peak_tool=$peak
            else
                read -r seconds _ user < <(measure curl -s --cacert "$work/certificates/ca.pem" \
                    -o "$work/curl.out" "$url")
                curl_times+=("$seconds")
                curl_user+=("$user")
            fi
        done
        echo "$name run $run: tertulia-tool ${tool_times[-1]} s (user ${tool_user[-1]} s)," \
            "curl ${curl_times[-1]} s (user ${curl_user[-1]} s)"
    done
    local tool_md5 curl_md5
    tool_md5=$(md5sum < "$work/tool.out" | cut -d' ' -f1)
    curl_md5=$(md5sum < "$work/curl.out" | cut -d' ' -f1)
    python3 - "$name" "$peak_tool" "${tool_times[*]}" "${curl_times[*]}" "${tool_user[*]}" \
        "${curl_user[*]}" <<'PY'
import statistics, sys
name, peak = sys.argv[1], int(sys.argv[2])
tool, curl, tool_user, curl_user = ([float(t) for t in a.split()] for a in sys.argv[3:7])
runs = len(tool)
# Over TLS the crypto is the same library's in both programs; a tenth slower is the bound.
wanted = 1.0 if name == "HTTP" else 1 / 0.9
for kind, pick in (("best", min), ("median", statistics.median)):
    t, c = pick(tool), pick(curl)
    print(f"{name} 256 MiB over loopback, {kind} of {runs}: tertulia-tool {t:.3f} s, "
          f"curl {c:.3f} s, time ratio tertulia-tool/curl {t / c:.3f} (at most {wanted:.2f} wanted)")
pairs = statistics.median(t / c for t, c in zip(tool, curl))
print(f"{name} median of the {runs} pairs' time ratios tertulia-tool/curl: {pairs:.3f}")
print(f"{name} user CPU time, median of {runs}: "
      f"tertulia-tool {statistics.median(tool_user):.2f} s, curl {statistics.median(curl_user):.2f} s")
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
