#!/usr/bin/env bash
# Installs, builds and starts the program; arguments go to caiji.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh" >&2
exec "$build/caiji" "$@"
