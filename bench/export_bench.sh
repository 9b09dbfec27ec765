#!/usr/bin/env bash
# Exporting a large run: RECORDS records of about 2 KB (default 150,000) as
# CSV and as an Excel workbook through `caiji export`; wall time and peak
# resident memory of each.
#
#   bash bench/export_bench.sh [RECORDS]
#   CAIJI_BUILD_DIR=DIR          the build to measure (default: build)
#   CAIJI_BEFORE_BUILD_DIR=DIR   an earlier build measured in the same run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
before=${CAIJI_BEFORE_BUILD_DIR:-}
records=${1:-150000}
command -v sqlite3 >/dev/null || { echo "needs sqlite3"; exit 1; }

work=$(mktemp -d /tmp/caiji-export.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/task/big/data" "$work/task/big/web" "$work/task/big/wek"
printf 'uc=[[2]]\n' >"$work/task/big/data/task.txt"
sqlite3 "$work/task/big/data/data.mdb" "CREATE TABLE data (\"字段1\" TEXT, \"字段2\" TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $records)
INSERT INTO data SELECT 'http://a/' || i || '.html', i || replace(hex(zeroblob(660)), '00', '长') FROM n;"

run_one() { # label program format
    local label=$1 program=$2 format=$3 out=$work/out.$3
    /usr/bin/time -f '%e %M' -o "$work/time" "$program" export --workspace "$work" big \
        "--$([ "$format" = csv ] && echo out || echo xlsx)" "$out" 2>"$work/err" || true
    read -r wall rss < <(tail -1 "$work/time")
    printf '%-7s %-5s %8d %9.1f %8.2f %10d\n' "$label" "$format" "$records" "$((rss / 1024))" \
        "$wall" "$(stat -c %s "$out" 2>/dev/null || echo 0)"
    rm -f "$out"
}

printf '%-7s %-5s %8s %9s %8s %10s\n' build form records "peak MB" "wall s" bytes
for format in csv xlsx; do
    [ -n "$before" ] && run_one before "$before/caiji" "$format"
    run_one after "$build/caiji" "$format"
done
