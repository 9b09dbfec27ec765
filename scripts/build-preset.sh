#!/usr/bin/env bash
# Installs what is missing (the sanitizer and fuzzing toolchain included),
# configures the CMakePresets.json preset $1 once in its own folder and builds it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=$1
bash "$root/scripts/setup.sh" --tools
cd "$root"
if [ ! -f "build-$preset/build.ninja" ]; then
    cmake --preset "$preset"
fi
cmake --build --preset "$preset" -j"$(nproc)"
