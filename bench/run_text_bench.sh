#!/usr/bin/env bash
# Builds and runs the HTML-to-text benchmarks and prints, for htm2txt now and
# for the htm2txt of before the single-pass rewrite (kept in the benchmark):
#  - MB/s on the real corpus (every page of the Python 3.11 documentation, as
#    shipped in UTF-8 and in its GBK and Big5 copies; make_real_corpus.sh
#    builds it, installing python3.11-doc when missing) and on the generated
#    5 MB page;
#  - how the time grows from 5 to 50 MB, on real pages (a 5 MB mix and the
#    same mix ten times) and on generated ones: at most 11x for 10x the input
#    for htm2txt, or the script fails. killonechar and killchar return a page
#    as long as their input, and at 50 MB writing that much fresh memory costs
#    more than their whole work at 5 MB: beyond a plain copy of the page
#    (its time is subtracted) they may take at most 12x;
#  - `cat` reading the generated 5 MB page, as a floor to compare with.
# MB = 10^6 bytes as the pages lie on disk (UTF-8, GBK or Big5). Times are CPU
# times: the machines are shared, and wall time counts the other jobs too.
#
#   CAIJI_BUILD_DIR=DIR  build directory (default: build)
#   REAL_CORPUS=DIR      corpus to use (default: DIR/real-corpus of the build)
#   BENCH_MIN_TIME=S     minimum seconds per benchmark (default: 0.2)
#   BENCH_REPS=N         repetitions; the median is used (default: 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
min_time=${BENCH_MIN_TIME:-0.2}
reps=${BENCH_REPS:-3}

[ -f "$build/build.ninja" ] || CAIJI_BUILD_DIR=$build bash "$root/scripts/setup.sh"
cmake --build "$build" --target bench_htmltext -j2
bin=$build/bench/bench_htmltext
corpus=${REAL_CORPUS:-$(CAIJI_BUILD_DIR=$build bash "$root/bench/make_real_corpus.sh")}

work=$(mktemp -d /tmp/caiji-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$bin" --real-corpus="$corpus" --benchmark_min_time="$min_time" \
    --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/result.json" --benchmark_out_format=json

# cat on the same page, from the page cache: one process reads it 20 times so
# that start-up does not dominate; the best of 7 runs counts.
page=$work/page-5mb.html
"$bin" --write-page=5:"$page"
copies=20
files=()
for ((i = 0; i < copies; i++)); do files+=("$page"); done
cat "${files[@]}" >/dev/null
best_ns=
for ((run = 0; run < 7; run++)); do
    t0=$(date +%s%N)
    cat "${files[@]}" >/dev/null
    t1=$(date +%s%N)
    ns=$((t1 - t0))
    if [ -z "$best_ns" ] || ((ns < best_ns)); then best_ns=$ns; fi
done
page_bytes=$(stat -c %s "$page")

python3 - "$work/result.json" "$page_bytes" "$copies" "$best_ns" "$corpus" <<'EOF'
import json, sys

result_file, cat_bytes, copies, cat_ns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
rows = {}  # name -> (CPU seconds per run, page bytes)
for b in json.load(open(result_file))["benchmarks"]:
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    rows[b["run_name"]] = (b["cpu_time"] * scale[b["time_unit"]], b["page_bytes"])

def mbps(name):
    seconds, size = rows[name]
    return size / seconds / 1e6

ok = True
def ratio(label, small, large, limit, beyond=None):
    global ok
    t5, t50 = rows[small][0], rows[large][0]
    if beyond:
        t50 -= rows[beyond][0]
    r = t50 / t5
    verdict = "" if limit is None else ("ok" if r <= limit else f"TOO SLOW (limit {limit})")
    ok = ok and (limit is None or r <= limit)
    print(f"  {label:34} {t50:.3f} s / {t5:.4f} s = {r:5.2f}  {verdict}")

print(f"\nCorpus: {sys.argv[5]}")
print("htm2txt MB/s            now   before   speed-up")
for label, name in (("real pages, UTF-8", "BM_real_htm2txt{}/site"),
                    ("real pages, GBK", "BM_real_htm2txt{}/site-gbk"),
                    ("real pages, Big5", "BM_real_htm2txt{}/site-big5"),
                    ("real pages, 5 MB joined", "BM_realjoined_htm2txt{}/5"),
                    ("generated page, 5 MB", "BM_htm2txt{}/5")):
    now, before = mbps(name.format("")), mbps(name.format("_before"))
    print(f"  {label:23} {now:6.1f}  {before:6.1f}   {now / before:5.2f}x")

print("\ntime(50 MB) / time(5 MB)")
ratio("htm2txt, real pages", "BM_realjoined_htm2txt/5", "BM_realjoined_htm2txt/50", 11)
ratio("htm2txt before, real pages", "BM_realjoined_htm2txt_before/5",
      "BM_realjoined_htm2txt_before/50", None)
ratio("htm2txt, generated page", "BM_htm2txt/5", "BM_htm2txt/50", 11)
ratio("htm2txt before, generated page", "BM_htm2txt_before/5", "BM_htm2txt_before/50", None)
ratio("copy of the generated page", "BM_copy/5", "BM_copy/50", None)
ratio("killonechar beyond the copy", "BM_killonechar/5", "BM_killonechar/50", 12, "BM_copy/50")
ratio("killchar beyond the copy", "BM_killchar/5", "BM_killchar/50", 12, "BM_copy/50")

htm2txt = mbps("BM_htm2txt/5")
cat = cat_bytes * copies / (cat_ns * 1e-9) / 1e6
print(f"\ncat on the generated 5 MB page: {cat:.0f} MB/s; htm2txt takes {cat / htm2txt:.0f}x as long")
sys.exit(0 if ok else 1)
EOF
