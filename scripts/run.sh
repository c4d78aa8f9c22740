#!/usr/bin/env bash
# Installs what it needs, builds, and starts the local chat service with the console against it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
exec "$top/scripts/run-desktop.sh" "$@"
