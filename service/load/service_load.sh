#!/usr/bin/env bash
# Load on tertulia-service over loopback: 100 operator sessions polling news and transcripts
# and 200 visitors writing, for 30 seconds, with wrk. Prints requests per second, p50/p99
# latencies and errors.
#
# Without --db, one run compares three set-ups: one service on SQLite (followed by the hostile
# traffic of attacks.py: slow connections, a header flood and a range request, with the latency
# of normal requests and the service's resident memory meanwhile), one service on PostgreSQL,
# and two services on one PostgreSQL database behind haproxy, round robin, one of which is
# killed (SIGKILL) halfway through. PostgreSQL is a server of the script's own, made with
# initdb in a temporary directory (as "nobody" when run as root) and removed afterwards.
# With --db DATABASE --instances N it runs N services on that database (an SQLite file or a
# PostgreSQL URI, emptied of nothing: use a new one), behind haproxy when N > 1, killing one
# halfway through when N > 1.
#
# Every run must end with 0 failures. Requests in flight on the killed service are answered 502
# by haproxy, or lost with their keep-alive connection, which haproxy closes; they are counted
# apart ("cut", at most one per connection), and every other request must succeed.
#
# All clients come from one address, so the per-address and per-conversation limits are
# lifted; the connection and head limits stay as they are by default.
#
# Usage: service/load/service_load.sh [PATH-TO-tertulia-service] [SECONDS]
#                                     [--db DATABASE] [--instances N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=
seconds=
database=
instances=1
while [ $# -gt 0 ]; do
    case $1 in
        --db) database=$2; shift 2 ;;
        --instances) instances=$2; shift 2 ;;
        *) if [ -z "$binary" ]; then binary=$1; else seconds=$1; fi; shift ;;
    esac
done
binary=${binary:-$here/../../build/service/tertulia-service}
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
seconds=${seconds:-30}
operators=100
visitors=200

work=$(mktemp -d "${TMPDIR:-/tmp}/tertulia-load-XXXXXX")
chmod 755 "$work"
pids=()
pg_bin=
pg_user=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    if [ -n "$pg_bin" ]; then
        as_postgres "$pg_bin/pg_ctl" -D "$work/pg/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

as_postgres() {
    if [ -n "$pg_user" ]; then runuser -u "$pg_user" -- "$@"; else "$@"; fi
}

# A PostgreSQL server of our own on a socket in $work/pg; prints its URI for database $1.
start_postgres() {
    pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
    if [ "$(id -u)" = 0 ]; then pg_user=nobody; fi
    mkdir -p "$work/pg"
    if [ -n "$pg_user" ]; then chown "$pg_user" "$work/pg"; fi
    as_postgres "$pg_bin/initdb" -D "$work/pg/data" -U tertulia --auth=trust --encoding=UTF8 \
        --locale=C >"$work/pg/initdb.log" 2>&1
    as_postgres "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w \
        -o "-k $work/pg -p 5432 -c listen_addresses=''" start >/dev/null
}

new_postgres_database() {
    as_postgres "$pg_bin/createdb" -h "$work/pg" -p 5432 -U tertulia "$1"
    echo "postgresql://tertulia@/$1?host=$work/pg&port=5432"
}

# Starts a service on database $1 with its output in $2; sets service_pid and service_origin.
start_service() {
    "$binary" --listen 127.0.0.1:0 --db "$1" --demo \
        --max-connections-per-address 0 --conversations-per-address 0 --lines-per-address 0 \
        --lines-per-conversation 0 --bytes-per-conversation 0 --waiting-per-company 0 \
        >"$2" 2>&1 &
    service_pid=$!
    pids+=("$service_pid")
    for _ in $(seq 100); do
        grep -q "escucha en" "$2" 2>/dev/null && break
        sleep 0.1
    done
    service_origin=$(grep -o 'http://127.0.0.1:[0-9]*' "$2")
}

# haproxy round robin over the given origins, checking each one's /salud every half second so
# that a killed service, or one whose database does not answer, leaves the rotation; prints its
# own origin.
start_balancer() {
    local port
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    {
        printf 'global\n  maxconn 4096\n  log stdout format raw local0\n'
        printf 'defaults\n  mode http\n  log global\n  option httplog\n  timeout connect 2s\n'
        printf '  timeout client 60s\n  timeout server 60s\n  retries 2\n  option redispatch 1\n'
        printf 'frontend front\n  bind 127.0.0.1:%s\n  default_backend instances\n' "$port"
        # As service/README.md sets it, so that event streams would stay open through it.
        printf 'backend instances\n  balance roundrobin\n  option http-server-close\n'
        printf '  timeout server 1h\n  timeout tunnel 1h\n'
        printf '  option httpchk GET /salud\n  http-check expect status 200\n'
        local n=0
        for origin in "$@"; do
            printf '  server instance%d %s check inter 500ms fall 1\n' "$n" "${origin#http://}"
            n=$((n + 1))
        done
    } >"$work/haproxy.cfg"
    haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
    pids+=("$!")
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
        sleep 0.1
    done
    echo "http://127.0.0.1:$port"
}

failed=0
summary=()

# One run: $1 its name, $2 the database, $3 the number of services, $4 "attacks" to follow
# the load with the hostile traffic.
run() {
    local name=$1 db=$2 count=$3 attacks=${4:-}
    local run_dir="$work/run-$(echo "$name" | tr -c 'a-zA-Z0-9\n' '-')"
    mkdir -p "$run_dir"
    local origins=() service_pids=()
    for n in $(seq "$count"); do
        start_service "$db" "$run_dir/service$n.out"
        origins+=("$service_origin")
        service_pids+=("$service_pid")
    done
    local origin=${origins[0]}
    if [ "$count" -gt 1 ]; then origin=$(start_balancer "${origins[@]}"); fi
    echo "=== $name: ${origins[*]} (requests to $origin)"

    # Sessions and conversations made beforehand; wrk's scripts read them from files.
    python3 - "$origin" "$operators" "$visitors" "$run_dir" <<'PY'
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
PY

    (
        cd "$run_dir"
        export TERTULIA_LOAD_KILLING=0
        if [ "$count" -gt 1 ]; then TERTULIA_LOAD_KILLING=1; fi
        wrk -t1 -c"$operators" -d"${seconds}s" --latency -s "$here/operators.lua" "$origin" >operators.out 2>&1 &
        local operators_pid=$!
        wrk -t1 -c"$visitors" -d"${seconds}s" --latency -s "$here/visitors.lua" "$origin" >visitors.out 2>&1 &
        local visitors_pid=$!
        if [ "$count" -gt 1 ]; then
            sleep $((seconds / 2))
            kill -KILL "${service_pids[0]}"
            echo "killed the service at ${origins[0]} halfway through"
        fi
        wait "$operators_pid" || true
        wait "$visitors_pid" || true
    )
    for side in operators visitors; do
        local line
        line=$(grep "^RESULT $side " "$run_dir/$side.out" || echo "RESULT $side no result failures 1")
        echo "$line"
        summary+=("$(printf '%-44s %s' "$name" "${line#RESULT }")")
        if ! grep -q "^RESULT $side .* failures 0$" "$run_dir/$side.out"; then
            failed=1
            cat "$run_dir/$side.out"
        fi
        # At most one request per connection can be in flight when the service is killed.
        local cut connections=$operators
        if [ "$side" = visitors ]; then connections=$visitors; fi
        cut=$(echo "$line" | sed -n 's/.* cut \([0-9]*\) .*/\1/p')
        if [ "${cut:-0}" -gt "$connections" ]; then
            echo "more requests cut ($cut) than connections ($connections)"
            failed=1
        fi
    done
    if [ -n "$attacks" ]; then
        echo "--- hostile traffic ---"
        python3 "$here/attacks.py" "$origin" "${service_pids[0]}"
    fi
    for pid in "${service_pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
}

if [ -n "$database" ]; then
    run "$instances service(s) on $database" "$database" "$instances"
else
    run "1 service, SQLite" "$work/service.db" 1 attacks
    start_postgres
    run "1 service, PostgreSQL" "$(new_postgres_database one)" 1
    run "2 services, PostgreSQL, haproxy, 1 killed" "$(new_postgres_database two)" 2
fi

echo "=== summary (cut: requests in flight on the killed service: answered 502, or their"
echo "    keep-alive connection closed by the balancer) ==="
printf '%s\n' "${summary[@]}"
if [ "$failed" = 0 ]; then
    echo "no errors"
else
    echo "ERRORS"
    exit 1
fi
