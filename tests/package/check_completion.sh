#!/usr/bin/env bash
# Sources the bash completion of caiji the way bash-completion loads it and
# checks what it offers for command lines in a workspace of its own: task
# names with Chinese characters and with a blank, options, option values.
completion=$1
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion || {
    echo "bash-completion is not installed (Debian package bash-completion)"
    exit 1
}
# shellcheck source=/dev/null
source "$completion"
export LC_ALL=C.UTF-8
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ws=$tmp/ws
mkdir -p "$ws/task/新闻-方案一/data/history" "$ws/task/新闻 方案二" "$ws/task/列表-多记录" \
    "$ws/task/.hidden" "$tmp/home/.local/share/caiji/task/我的任务" "$tmp/home/w/task/mine"
touch "$ws/task/新闻-file" "$ws/task/新闻-方案一/data/history/20261201-101010.mdb" \
    "$ws/task/新闻-方案一/data/history/20261202-090000.mdb" "$tmp/out.csv" "$tmp/other.txt"
export HOME=$tmp/home
unset XDG_DATA_HOME

failed=0
# [CW=N] expect NAME EXPECTED WORD... : completes the last WORD (the Nth) of
# the line "caiji WORD..." and compares the offers, sorted, one a line, with
# EXPECTED.
expect()
{
    local name=$1 expected=$2
    shift 2
    COMP_WORDS=(caiji "$@")
    COMP_CWORD=${CW:-$#}
    COMP_LINE=${COMP_WORDS[*]}
    local before=("${COMP_WORDS[@]:0:COMP_CWORD+1}")
    local upto=${before[*]}
    COMP_POINT=${#upto}
    COMPREPLY=()
    _caiji caiji "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$( ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort)
    if [[ $got != "$expected" ]]; then
        printf 'FAIL %s: caiji %s\n  expected: %s\n  got:      %s\n' "$name" "$*" \
            "${expected//$'\n'/ | }" "${got//$'\n'/ | }"
        failed=1
    fi
}
n=$'\n'

expect "commands" "run" r
expect "all commands" "count${n}enqueue${n}examples${n}export${n}failures${n}history${n}htm2txt${n}jobs${n}links${n}publish${n}run${n}schedule${n}try${n}worker" ''
expect "window options" "--help${n}--tick-ms${n}--version${n}--workspace" --workspace "$ws" --
expect "command after the global options" "count" --workspace "$ws" --tick-ms 5 co
expect "run options" "--keep-runs" run --k
expect "export options" "--raw${n}--run" export --workspace "$ws" --r
expect "Chinese task names, no hidden folder or file" "新闻 方案二${n}新闻-方案一" run --workspace "$ws" 新
expect "every task" "列表-多记录${n}新闻 方案二${n}新闻-方案一" count --workspace "$ws" ''
expect "escaped blank" "新闻 方案二" run --workspace="$ws" '新闻\ '
expect "open quote" "新闻 方案二" history --workspace "$ws" "'新闻 "
CW=2 expect "workspace after the task" "新闻 方案二" export '"新闻 ' --workspace "$ws"
expect "installed default workspace" "我的任务" count ''
expect "workspace under ~" "mine" run --workspace '~/w' m
expect "one task only" "" export --workspace "$ws" 新闻-方案一 ''
expect "no task for examples" "" examples --workspace "$ws" ''
expect "url after the task" "" try --workspace "$ws" 新闻-方案一 h
expect "no value for numbers" "" run --tick-ms ''
expect "runs of the named task" "20261201-101010${n}20261202-090000" \
    failures --workspace "$ws" 新闻-方案一 --run 2026120
CW=5 expect "run before the task" "20261202-090000" export --workspace "$ws" --run 20261202 新闻-方案一
expect "files for --out" "$tmp/other.txt${n}$tmp/out.csv" export --out "$tmp/o"
expect "file of links" "$tmp/out.csv" links http://127.0.0.1/ "$tmp/ou"
expect "no file for the address" "" links "$tmp/ou"

[ "$failed" = 0 ] && echo "completion ok"
exit "$failed"
