#!/usr/bin/env bash
# Downloads a 256 MiB file from nginx on loopback with `tertulia-tool get -o` and with
# `curl -s -o`, best of three runs each, and prints the time ratio, the tool's peak resident
# memory and whether both files match the source.
# Usage: bench/http_vs_curl.sh [path/to/tertulia-tool]   (default: build/tools/tertulia-tool)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$top/build/tools/tertulia-tool}
[ -x "$tool" ] || { echo "no tertulia-tool at $tool (build it first)" >&2; exit 2; }
for program in nginx curl /usr/bin/time md5sum python3; do
    command -v "$program" >/dev/null || { echo "needs $program" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tertulia-bench-XXXXXX)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
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

best_tool=; best_curl=; peak_tool=0
for run in 1 2 3; do
    rm -f "$work/tool.out" "$work/curl.out"
    read -r seconds peak < <(measure "$tool" get -o "$work/tool.out" "$url")
    [ -z "$best_tool" ] || python3 -c "import sys; sys.exit(0 if $seconds < $best_tool else 1)" && best_tool=$seconds
    [ "$peak" -gt "$peak_tool" ] && peak_tool=$peak
    read -r seconds _ < <(measure curl -s -o "$work/curl.out" "$url")
    [ -z "$best_curl" ] || python3 -c "import sys; sys.exit(0 if $seconds < $best_curl else 1)" && best_curl=$seconds
    echo "run $run: best so far tertulia-tool ${best_tool} s, curl ${best_curl} s"
done

tool_md5=$(md5sum < "$work/tool.out" | cut -d' ' -f1)
curl_md5=$(md5sum < "$work/curl.out" | cut -d' ' -f1)
python3 - "$best_tool" "$best_curl" "$peak_tool" <<'PY'
import sys
tool, curl, peak = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
print(f"256 MiB over loopback: tertulia-tool {tool:.3f} s, curl {curl:.3f} s (best of 3)")
print(f"time ratio tertulia-tool/curl: {tool / curl:.3f} (at most 1.00 wanted)" if curl > 0 else
      "curl took no measurable time")
print(f"tertulia-tool peak resident memory: {peak / 1024:.1f} MiB (under 16 MiB wanted)")
PY
echo "digests: source $source_md5, tertulia-tool $tool_md5, curl $curl_md5"
status=0
[ "$tool_md5" = "$source_md5" ] || { echo "tertulia-tool's file differs from the source"; status=1; }
[ "$curl_md5" = "$source_md5" ] || { echo "curl's file differs from the source"; status=1; }
[ "$peak_tool" -lt $((16 * 1024)) ] || { echo "peak resident memory is 16 MiB or more"; status=1; }
exit $status
