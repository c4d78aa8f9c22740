#!/usr/bin/env bash
# Load on tertulia-service over loopback: 100 operator sessions polling news and transcripts
# and 200 visitors writing, for 30 seconds, with wrk. Prints errors and p50/p99 latencies.
# Then hostile traffic (attacks.py): slow connections, a header flood and a range request,
# with the latency of normal requests and the service's resident memory meanwhile.
#
# All clients come from one address, so the per-address and per-conversation limits are
# lifted; the connection and head limits stay as they are by default.
#
# Usage: service/load/service_load.sh [PATH-TO-tertulia-service] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=${1:-$here/../../build/service/tertulia-service}
seconds=${2:-30}
operators=100
visitors=200

work=$(mktemp -d "${TMPDIR:-/tmp}/tertulia-load-XXXXXX")
service_pid=
cleanup() {
    if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$binary" --listen 127.0.0.1:0 --db "$work/service.db" --demo \
    --max-connections-per-address 0 --conversations-per-address 0 --lines-per-address 0 \
    --lines-per-conversation 0 --bytes-per-conversation 0 --waiting-per-company 0 \
    >"$work/service.out" 2>&1 &
service_pid=$!
for _ in $(seq 100); do
    grep -q "escucha en" "$work/service.out" 2>/dev/null && break
    sleep 0.1
done
origin=$(grep -o 'http://127.0.0.1:[0-9]*' "$work/service.out")
echo "service at $origin"

# Sessions and conversations made beforehand; wrk's scripts read them from files.
python3 - "$origin" "$operators" "$visitors" "$work" <<'PY'
import hashlib, json, sys, urllib.parse, urllib.request
from concurrent.futures import ThreadPoolExecutor
origin, operators, visitors, work = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
digest = hashlib.md5(b"demo").hexdigest().upper()
def login(_):
    with urllib.request.urlopen(f"{origin}/tertulia.php?accion=do_login&idempresa=demo&contrasena={digest}") as r:
        body = r.read().decode()
    assert body.startswith("OK="), body
    return body[3:]
def open_conversation(n):
    data = urllib.parse.urlencode({"empresa": "demo", "nombre": f"Visitante {n}"}).encode()
    with urllib.request.urlopen(f"{origin}/api/conversaciones", data) as r:
        reply = json.loads(r.read())
    return reply["id"], reply["token"]
with ThreadPoolExecutor(8) as pool:
    sessions = list(pool.map(login, range(operators)))
    conversations = list(pool.map(open_conversation, range(visitors)))
with open(f"{work}/operators.txt", "w") as f:
    f.writelines(s + "\n" for s in sessions)
with open(f"{work}/visitors.txt", "w") as f:
    f.writelines(f"{i} {t}\n" for i, t in conversations)
print(f"{len(sessions)} operator sessions, {len(conversations)} visitor conversations")
PY

cd "$work"
wrk -t1 -c"$operators" -d"${seconds}s" --latency -s "$here/operators.lua" "$origin" >operators.out 2>&1 &
operators_pid=$!
wrk -t1 -c"$visitors" -d"${seconds}s" --latency -s "$here/visitors.lua" "$origin" >visitors.out 2>&1 &
visitors_pid=$!
wait "$operators_pid" || true
wait "$visitors_pid" || true
echo "--- operators (news and transcript polls) ---"
cat operators.out
echo "--- visitors (lines written) ---"
cat visitors.out
echo "--- hostile traffic ---"
python3 "$here/attacks.py" "$origin" "$service_pid"
if grep -q "^RESULT .* failures 0$" operators.out && grep -q "^RESULT .* failures 0$" visitors.out; then
    echo "no errors"
else
    echo "ERRORS"
    exit 1
fi
