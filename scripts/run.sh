#!/usr/bin/env bash
# Installs what it needs, builds, and runs what exists of Tertulia so far.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" -j"$(nproc)"
echo "The console does not exist yet; tertulia-tool does:"
"$top/build/tools/tertulia-tool" md5 -s demo
