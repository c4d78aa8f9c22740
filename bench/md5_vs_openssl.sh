#!/usr/bin/env bash
# Checks `tertulia-tool md5` against md5sum on every size from 0 to 200 bytes and on a 256 MiB
# random file, then times it against `openssl dgst -md5` on that file (best of 3 each) and
# prints the throughput ratio. Usage: bench/md5_vs_openssl.sh [path/to/tertulia-tool]
set -euo pipefail

tool=${1:-build/tools/tertulia-tool}
[ -x "$tool" ] || { echo "no executable tertulia-tool at $tool" >&2; exit 2; }
work=$(mktemp -d)
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

# Best wall time of three runs, in seconds.
best_of_3() {
    local best="" start end elapsed
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$@" > /dev/null
        end=$(date +%s.%N)
        elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
        if [ -z "$best" ] || awk -v e="$elapsed" -v b="$best" 'BEGIN { exit !(e < b) }'; then
            best=$elapsed
        fi
    done
    echo "$best"
}

cat "$big" > /dev/null
ours=$(best_of_3 "$tool" md5 "$big")
theirs=$(best_of_3 openssl dgst -md5 "$big")
awk -v ours="$ours" -v theirs="$theirs" 'BEGIN {
    printf "tertulia-tool md5:  %.3f s  %.0f MiB/s\n", ours, 256 / ours
    printf "openssl dgst -md5:  %.3f s  %.0f MiB/s\n", theirs, 256 / theirs
    printf "throughput ratio (tertulia-tool / openssl): %.2f\n", theirs / ours
}'
