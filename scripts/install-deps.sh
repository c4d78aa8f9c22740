#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root (apt-get install needs it)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
xargs -a "$here/packages.txt" apt-get install -y --no-install-recommends
