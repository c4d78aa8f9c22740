#!/usr/bin/env bash
# Checks `tertulia-tool md5` against md5sum on every size from 0 to 200 bytes and on a 256 MiB
# random file in shared memory, then times it against `openssl dgst -md5` on that file, named
# as an argument, as standard input and through a pipe, taking turns (best of 5 each), and
# prints the throughput ratios. Usage: bench/md5_vs_openssl.sh [path/to/tertulia-tool]
set -euo pipefail

tool=${1:-build/tools/tertulia-tool}
[ -x "$tool" ] || { echo "no executable tertulia-tool at $tool" >&2; exit 2; }
here=$(dirname "$0")
work=$(mktemp -d -p "$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)")
trap 'rm -rf "$work"' EXIT

reference() { md5sum < "$1" | cut -d' ' -f1 | tr 'a-f' 'A-F'; }

check() {
    local expected
    expected=$(reference "$1")
    [ "$("$tool" md5 "$1")" = "$expected" ] || { echo "FAIL file $1" >&2; exit 1; }
    [ "$("$tool" md5 < "$1")" = "$expected" ] || { echo "FAIL stdin $1" >&2; exit 1; }
}

head -c 200 /dev/urandom > "$work/seed"
for size in $(seq 0 200); do
    head -c "$size" "$work/seed" > "$work/small"
    check "$work/small"
done
echo "sizes 0..200: all agree with md5sum"

big=$work/big
head -c $((256 * 1024 * 1024)) /dev/urandom > "$big"
check "$big"
echo "256 MiB file: agrees with md5sum"

cat "$big" > /dev/null
for mode in none file pipe; do
    python3 "$here/timed_runs.py" 5 "$mode" "$big" \
        ours "$tool md5 $([ "$mode" = none ] && echo "$big")" \
        openssl "openssl dgst -md5 $([ "$mode" = none ] && echo "$big")" |
        sed "s/^/$mode /"
done > "$work/times"
awk '
    { wall[$1, $2] = $3; cpu[$1, $2] = $4 }
    END {
        split("none file pipe", modes, " ")
        name["none"] = "file argument"; name["file"] = "standard input"; name["pipe"] = "pipe"
        for (i = 1; i <= 3; ++i) {
            m = modes[i]
            printf "%-14s  tertulia-tool %.3f s (%.0f MiB/s), openssl %.3f s (%.0f MiB/s) wall;", \
                name[m], wall[m, "ours"], 256 / wall[m, "ours"], wall[m, "openssl"], \
                256 / wall[m, "openssl"]
            printf " CPU %.3f s / %.3f s\n", cpu[m, "ours"], cpu[m, "openssl"]
        }
        for (i = 1; i <= 3; ++i) {
            m = modes[i]
            printf "throughput ratio (tertulia-tool / openssl), %s: %.2f wall, %.2f CPU\n", \
                name[m], wall[m, "openssl"] / wall[m, "ours"], cpu[m, "openssl"] / cpu[m, "ours"]
        }
    }' "$work/times"
