#!/usr/bin/env bash
# Makes the seed corpora in fuzz/corpus/<target>/ from the test fixtures and
# the sample tasks. Multi-argument targets read "argument NUL argument ...".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data=$root/tests/data
corpus=$root/fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus"/{taskfile,htmltext,decodepage,fieldcut,linklister}

# seed TARGET NAME ARGUMENT... : the arguments joined by NUL bytes.
seed() {
    local target=$1 name=$2
    shift 2
    local out=$corpus/$target/$name first=1
    : >"$out"
    for arg in "$@"; do
        ((first)) || printf '\0' >>"$out"
        first=0
        printf '%s' "$arg" >>"$out"
    done
}

n=0
for task in "$data"/tasks/*.txt "$root"/examples/workspace/task/*/data/task.txt; do
    cp "$task" "$corpus/taskfile/task-$((++n))"
done
seed taskfile sections $'ur=[[1|a]]<getm1>w1=[[1]]<getm1><getm30>x<getm30>a30=[[0|||||a|b]]ds=[[1]]ds=[[2'

for page in "$data"/readtext/* "$data"/site/*.htm; do
    cp "$page" "$corpus/decodepage/$(basename "$page")"
done

for page in "$data"/site/*.htm "$data"/readtext/utf8.html; do
    name=$(basename "$page")
    charset=$(grep -io 'charset=[a-z0-9-]*' "$page" | head -1 | cut -d= -f2)
    text=$(iconv -f "${charset:-utf-8}" -t utf-8 "$page")
    seed htmltext "$name" "$text" '<div' '</div>'
    seed linklister "$name" "$text" 'http://127.0.0.1:8391/site/'
    seed fieldcut "$name" "$text" 'src="[^"]+"' '1|【|】|第^第 |&nbsp;||<' \
        $'w1=[[1]]w2=[[0]]w3=[[1]]w4=[[<title>^</title>^^^-1^0]]w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]'
done
seed fieldcut dated "$(cat "$data"/site/item1.htm) 2024-05-06" '\d+' '0|||||1|'
seed htmltext entities '&amp;amp;lt;b&amp;gt;<SCRIPT>x</script>&nbsp;\r\n</TD></li>' '&AMP;' '&'
seed linklister base '<base href="../x/"><a href="a.htm">a</a><area href="b.htm" alt=" b ]] ">' \
    'https://example.com/p/q/'
seed fieldcut blocks $'<body><ul><a href="1.htm">一</a><a href="a|b^c.htm">二</a></ul>\n<title>t</title>2024-01-02' \
    '\u4e00+' '0|<|>|a^b|c|a|z'
