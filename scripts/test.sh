#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite.
# With --sanitize the build uses AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build="$top/build-sanitize"
    options=(-DCMAKE_BUILD_TYPE=Debug -DTERTULIA_SANITIZE=ON)
fi
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
