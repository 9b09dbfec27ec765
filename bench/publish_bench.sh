#!/usr/bin/env bash
# Publishing speed into a PostgreSQL and a MariaDB server started here on
# 127.0.0.1 (in a temporary folder, as the postgres and mysql users under
# root): a task database of N records of five fields (about 1 KB each) is
# published with `caiji publish` three times: first (every row added), again
# (nothing to add: the rows are compared), and after 1 % of the rows were
# edited and 1 % deleted. Wall time and records per second of each.
#
#   bash bench/publish_bench.sh [N]     (default 20000)
#   CAIJI_BUILD_DIR=DIR   the build to measure (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
rows=${1:-20000}
[ -x "$build/caiji" ] || CAIJI_BUILD_DIR=$build bash "$root/scripts/setup.sh"
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
work=$(mktemp -d /tmp/caiji-publish.XXXXXX)
pgowner=() myowner=()
if [ "$(id -u)" = 0 ]; then
    chmod 755 "$work" && chown postgres "$work" && pgowner=(runuser -u postgres --)
    myowner=(--user=mysql)
fi
cleanup() {
    "${pgowner[@]}" "$pgbin/pg_ctl" -D "$work/pg" -m immediate stop >/dev/null 2>&1 || true
    [ -f "$work/run/my.pid" ] && kill "$(cat "$work/run/my.pid")" 2>/dev/null || true
    sleep 1
    rm -rf "$work"
}
trap cleanup EXIT
pgport=$((20000 + RANDOM % 20000)) myport=$((pgport + 1))

"${pgowner[@]}" "$pgbin/initdb" -D "$work/pg" -U caiji -A trust --no-sync -E UTF8 \
    --locale=C.UTF-8 >/dev/null
"${pgowner[@]}" "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg.log" -w \
    -o "-p $pgport -k $work -c listen_addresses=127.0.0.1" start >/dev/null
mkdir "$work/my" "$work/run" && chown mysql "$work/my" "$work/run" 2>/dev/null || true
mariadb-install-db --no-defaults --datadir="$work/my" "${myowner[@]}" \
    --auth-root-authentication-method=normal --skip-test-db >/dev/null 2>&1
/usr/sbin/mariadbd --no-defaults --datadir="$work/my" --port=$myport --bind-address=127.0.0.1 \
    --socket="$work/run/my.sock" --pid-file="$work/run/my.pid" --skip-log-bin --open-files-limit=1024 \
    --log-error="$work/run/my.log" "${myowner[@]}" &
for _ in $(seq 100); do
    mariadb-admin --no-defaults -h 127.0.0.1 -P $myport -u root ping >/dev/null 2>&1 && break
    sleep 0.2
done
mariadb --no-defaults -h 127.0.0.1 -P $myport -u root -e "CREATE DATABASE caiji"

ws=$work/ws
mkdir -p "$ws/task/发布/data"
printf 'ur=[[http://127.0.0.1:1/]]\r\nuc=[[5]]\r\n' >"$ws/task/发布/data/task.txt"
db=$ws/task/发布/data/data.mdb
sqlite3 "$db" "CREATE TABLE data (字段1 TEXT, 字段2 TEXT, 字段3 TEXT, 字段4 TEXT, 字段5 TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO data SELECT 'http://example.cn/' || i || '.htm', '标题' || i,
  '2026-12-0' || (i % 9 + 1), '来源', printf('%.1000c', '正') FROM n;"

measure() { # LABEL URL
    local start end
    start=$(date +%s.%N)
    "$build/caiji" publish --workspace "$ws" --to "$2" 发布 >"$work/out" 2>&1 ||
        { cat "$work/out"; exit 1; }
    end=$(date +%s.%N)
    awk -v l="$1" -v s="$start" -v e="$end" -v n="$rows" -v o="$(cat "$work/out")" \
        'BEGIN { printf "%-28s %6.2f s %8.0f records/s   %s\n", l, e - s, n / (e - s), o }'
}
echo "$rows records of 5 fields, about 1 KB each; $build/caiji"
shift=0
for url in "postgresql://caiji@127.0.0.1:$pgport/postgres" "mysql://root@127.0.0.1:$myport/caiji"; do
    kind=${url%%:*}
    sqlite3 "$db" "DROP TABLE IF EXISTS caiji_publish"
    measure "$kind first" "$url"
    measure "$kind again" "$url"
    sqlite3 "$db" "UPDATE data SET 字段2 = 字段2 || '改' WHERE rowid % 100 = 0;
                   DELETE FROM data WHERE rowid % 100 = $((50 + shift));"
    measure "$kind after edits" "$url"
    sqlite3 "$db" "UPDATE data SET 字段2 = replace(字段2, '改', '') WHERE rowid % 100 = 0;"
    shift=$((shift + 1))
done
