#!/usr/bin/env bash
# The sanitizer build: AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer, gcc, in build-asan (the "asan" preset of
# CMakePresets.json). Installs what is missing, configures once, builds, and
# runs every test but the package test; the first error stops a test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build-preset.sh" asan
cd "$root"
ctest --preset asan -j"$(nproc)"
