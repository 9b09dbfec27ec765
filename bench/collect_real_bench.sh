#!/usr/bin/env bash
# Collecting real pages: a whole-site scheme-two task (every page is a list
# page and a content page; title and body text, the body through HTML-to-text)
# over the Python documentation shipped by Debian, served on 127.0.0.1 by
# caiji-demo-site. At scale N the site holds N copies of the documentation,
# copy k in UTF-8, GBK or Big5 (k mod 3), under one start page.
#
# For each scale and program: records stored, CPU milliseconds per stored
# record (user + sys of `caiji run`), requests per stored record, peak
# resident memory and wall time.
#
#   bash bench/collect_real_bench.sh [SCALE...]     (default: 1 4 16)
#   CAIJI_BUILD_DIR=DIR          the build to measure (default: build)
#   CAIJI_BEFORE_BUILD_DIR=DIR   an earlier build measured in the same run
#   COLLECT_TICK_MS=N            the tick (default 5: the list crawler takes
#                                two pages per four ticks, so ticks set the pace)
#   COLLECT_RUN_PREFIX="perf record -g -o F"   run caiji under a profiler
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
before=${CAIJI_BEFORE_BUILD_DIR:-}
tick=${COLLECT_TICK_MS:-5}
read -r -a prefix <<<"${COLLECT_RUN_PREFIX:-}"
scales=("$@")
((${#scales[@]})) || scales=(1 4 16)
[ -x "$build/caiji" ] || CAIJI_BUILD_DIR=$build bash "$root/scripts/setup.sh"
corpus=$(CAIJI_BUILD_DIR=$build bash "$root/bench/make_real_corpus.sh" | tail -1)
pages=$(wc -l <"$corpus/pages.txt")

work=$(mktemp -d /tmp/caiji-real.XXXXXX)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# One served tree; the start page of scale N links the first N copies.
mkdir "$work/site"
encodings=(site site-gbk site-big5)
for ((k = 0; k < 16; ++k)); do
    ln -s "$corpus/${encodings[k % 3]}" "$work/site/c$k"
done
for scale in "${scales[@]}"; do
    {
        echo '<html><head><meta charset="utf-8"><title>copies</title></head><body>'
        for ((k = 0; k < scale; ++k)); do
            echo "<a href=\"c$k/index.html\">copy $k</a>"
        done
        echo '</body></html>'
    } >"$work/site/start$scale.html"
done

"$build/caiji-demo-site" --port 0 "$work/site" >"$work/port" 2>"$work/server.log" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -1 "$work/port")
[ -n "$port" ] || { echo "demo server did not start: $(cat "$work/server.log")"; exit 1; }

skip='#^genindex^search.html^_sources^download.html^py-modindex'
run_one() { # label program scale
    local label=$1 program=$2 scale=$3 ws=$work/ws-$1-$3
    mkdir -p "$ws/task/docs/data" "$ws/task/docs/web" "$ws/task/docs/wek"
    cat >"$ws/task/docs/data/task.txt" <<TASK
ur=[[2|http://127.0.0.1:$port/start$scale.html|32000|.html|$skip|.html|$skip|0||]]
uc=[[3]]
<getm1>w1=[[1]]w2=[[1]]w3=[[2]]
w4=[[<title>^</title>^<title>^</title>^-1^0|<div class="body" role="main">^<div class="sphinxsidebar"^<div class="body" role="main">^<div class="sphinxsidebar"^-1^1]]
w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]<getm1>
a1=[[1||||||]]
TASK
    /usr/bin/time -f '%e %U %S %M' -o "$ws/time" \
        "${prefix[@]}" "$program" run --workspace "$ws" --tick-ms "$tick" >"$ws/out" 2>"$ws/err" || true
    read -r wall user sys rss < <(tail -1 "$ws/time")
    local stored requests
    stored=$("$build/caiji" count --workspace "$ws" docs | cut -f2)
    # Requests sent, from the run's summary; builds without one: list and
    # content requests from the last status line.
    requests=$(grep -o '页面请求[0-9]*' "$ws/out" | tail -1 | tr -dc 0-9 || true)
    [ -n "$requests" ] || requests=$(grep '站内' "$ws/out" | tail -1 |
        sed -E 's/.*站内[0-9]+请求([0-9]+),目标[0-9]+请求([0-9]+).*/\1 \2/' | awk '{print $1 + $2}')
    awk -v label="$label" -v scale="$scale" -v pages="$pages" -v stored="$stored" \
        -v requests="$requests" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
        printf "%-7s %3dx %6d %8d %9.3f %9.2f %9.1f %8.1f\n", label, scale, scale * pages, stored,
            stored ? (user + sys) * 1000 / stored : 0, stored ? requests / stored : 0,
            rss / 1024, wall
    }'
}

echo "tick ${tick} ms; corpus $corpus ($pages pages a copy)"
printf '%-7s %4s %6s %8s %9s %9s %9s %8s\n' build scale pages stored "CPU ms/r" "req/r" "peak MB" "wall s"
for scale in "${scales[@]}"; do
    [ -n "$before" ] && run_one before "$before/caiji" "$scale"
    run_one after "$build/caiji" "$scale"
done
