#!/usr/bin/env bash
# Installs, builds and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
