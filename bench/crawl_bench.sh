#!/usr/bin/env bash
# Collection speed against the local demo server (nothing leaves 127.0.0.1).
#
# 1. A scheme-two crawl of a generated site (100 list pages, 2000 content
#    pages of about 8 KB) with `caiji run --tick-ms 10`: pages per second, CPU
#    milliseconds per page (user + sys) and peak memory.
# 2. With the default 1000 ms tick, a scheme-one task over the same 2000
#    pages: content pages completed per second while the collector is busy
#    (50 slots, one dispatch per slot per tick, so at most 50 per second).
#    Skip it with CRAWL_BENCH_QUICK=1 (it takes about a minute).
#
#   CAIJI_BUILD_DIR=DIR   build directory (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
[ -x "$build/caiji" ] && [ -x "$build/caiji-demo-site" ] || CAIJI_BUILD_DIR=$build bash "$root/scripts/setup.sh"

work=$(mktemp -d /tmp/caiji-crawl.XXXXXX)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
[ -n "${CRAWL_BENCH_KEEP:-}" ] && trap - EXIT

python3 - "$work/site" <<'PY'
import os, sys
root = sys.argv[1]
os.makedirs(f'{root}/list'); os.makedirs(f'{root}/item')
filler = '<p>' + '内容段落，用来让页面有真实的大小。' * 40 + '</p>\n'
for p in range(1, 101):
    links = ''.join(f'<li><a href="/item/{(p - 1) * 20 + i}.html">第{(p - 1) * 20 + i}篇文章标题</a></li>\n'
                    for i in range(1, 21))
    nav = ''.join(f'<a href="/list/{q}.html">{q}</a> ' for q in range(max(1, p - 2), min(101, p + 3)))
    with open(f'{root}/list/{p}.html', 'w', encoding='utf-8') as f:
        f.write(f'<html><head><meta charset="utf-8"></head><body><ul>{links}</ul><div>{nav}</div></body></html>')
for n in range(1, 2001):
    with open(f'{root}/item/{n}.html', 'w', encoding='utf-8') as f:
        f.write(f'<html><head><meta charset="utf-8"><title>第{n}篇</title></head><body>'
                f'<h1 class="t">第{n}篇文章标题</h1><div class="c">{filler * 3}</div></body></html>')
PY

"$build/caiji-demo-site" --port 0 "$work/site" >"$work/port" 2>"$work/server.log" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -1 "$work/port")
[ -n "$port" ] || { echo "demo server did not start: $(cat "$work/server.log")"; exit 1; }

make_task() { # name ur
    mkdir -p "$work/ws/task/$1/data" "$work/ws/task/$1/web" "$work/ws/task/$1/wek"
    cat >"$work/ws/task/$1/data/task.txt" <<TASK
ur=[[$2]]
uc=[[3]]
<getm1>w1=[[1]]w2=[[1]]w3=[[2]]
w4=[[<h1 class="t">^</h1>^">^</h1>^-1^0|<div class="c">^</body>^<div class="c">^</div>^-1^1]]
w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]<getm1>
a1=[[1||||||]]
TASK
}
make_task crawl "2|http://127.0.0.1:$port/list/1.html|100000|/item/||/list/||0||"
make_task range "1|http://127.0.0.1:$port/item/|1|2000|1|.html"

echo "== scheme two, --tick-ms 10: 100 list pages, 2000 content pages =="
/usr/bin/time -f '%e %U %S %M' -o "$work/time" \
    "$build/caiji" run --workspace "$work/ws" --tick-ms 10 crawl >/dev/null
read -r wall user sys rss <"$work/time"
stored=$("$build/caiji" count --workspace "$work/ws" crawl | cut -f2)
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" -v stored="$stored" 'BEGIN {
    pages = 2100; busy = wall - 0.21  # the last 21 ticks only wait for the stall rule
    printf "records stored:      %d\n", stored
    printf "wall time:           %.2f s (%.2f s collecting)\n", wall, busy
    printf "pages per second:    %.0f\n", pages / busy
    printf "CPU per page:        %.3f ms (user %.2f s + sys %.2f s)\n", (user + sys) * 1000 / pages, user, sys
    printf "peak memory:         %.1f MB\n", rss / 1024
}'

if [ "${CRAWL_BENCH_QUICK:-0}" = 1 ]; then
    exit 0
fi
echo "== scheme one, default 1000 ms tick: 2000 content pages =="
"$build/caiji" run --workspace "$work/ws" range | while IFS= read -r line; do
    printf '%s %s\n' "$(date +%s.%N)" "$line"
done >"$work/status"
python3 - "$work/status" <<'PY'
import re, sys
points = []
for line in open(sys.argv[1], encoding='utf-8'):
    stamp, _, text = line.partition(' ')
    m = re.search(r'完成(\d+)', text)
    if m:
        points.append((float(stamp), int(m.group(1))))
busy = [(t, n) for t, n in points if 0 < n < 2000]
done = [(t, n) for t, n in points if n >= 2000]
if not busy or not done:
    sys.exit('no progress seen: ' + repr(points[-3:]))
(t0, n0), (t1, n1) = busy[0], done[0]
print(f'completed per second while busy: {(n1 - n0) / (t1 - t0):.1f} '
      f'({n1 - n0} pages in {t1 - t0:.1f} s)')
PY
