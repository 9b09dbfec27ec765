#!/usr/bin/env bash
# The fuzz build: libFuzzer targets of fuzz/ and the core they call, clang with
# AddressSanitizer and UndefinedBehaviorSanitizer, in build-fuzz (the "fuzz"
# preset). Without arguments: a short run of every target (CTest label
# "fuzz"). With a target and seconds, a long run of that target:
#   bash scripts/fuzz.sh fieldcut 600
# Inputs that crash are kept in fuzz/crashes/; new inputs go to
# build-fuzz/fuzz/corpus/<target>/, the checked-in seeds are only read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build-preset.sh" fuzz
cd "$root"
if (($# == 0)); then
    exec ctest --preset fuzz -j"$(nproc)"
fi

target=$1
seconds=${2:-600}
work=build-fuzz/fuzz/corpus/$target
mkdir -p "$work" fuzz/crashes
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="fuzz/crashes/$target-" \
    "$work" "fuzz/corpus/$target"
