#!/usr/bin/env bash
# Regenerates the encoded fixture files of tests/data with iconv. The files
# are committed; run this only to change them (the tests hold the same texts).
set -euo pipefail
cd "$(dirname "$0")"

# put FILE ENCODING TEXT: TEXT (UTF-8, no line break added) encoded as ENCODING.
put() { printf '%s' "$3" | iconv -f UTF-8 -t "$2" >"$1"; }
pad() { printf '<!--%*s-->' "$(($1 - 7))" '' | tr ' ' x; }

r=readtext
put $r/gb2312.html GB2312 '<meta charset=gb2312><p>信息采集测试</p>'
put $r/gbk-upper.html GBK '<META CONTENT="text/html; CHARSET=GB2312"><p>王堃的新闻</p>'
put $r/utf8.html UTF-8 '<meta charset=utf-8><p>信息采集测试</p>'
{ printf '\xEF\xBB\xBF'; cat $r/utf8.html; } >$r/utf8-bom.html
put $r/big5.html BIG5 '<META charset=BIG5><p>繁體中文測試</p>'
put $r/both-utf8-first.html GBK '<meta charset=utf-8><meta charset=gb2312><p>信息采集</p>'
put $r/both-gb2312-first.html GBK '<meta charset=gb2312><meta charset=utf-8><p>信息采集</p>'
put $r/blanks.html UTF-8 '<meta charset = gb2312><p>信息采集测试</p>'
# "charset=gb2312" (14 characters) ending at character 500, then at 501.
put $r/decl-ends-at-500.html GBK "$(pad 486)charset=gb2312<p>信息采集</p>"
put $r/decl-ends-at-501.html GBK "$(pad 487)charset=gb2312<p>信息采集</p>"
put $r/undeclared-utf8.html UTF-8 '<p>信息采集测试</p>'
put $r/undeclared-gbk.html GBK '<p>信息采集测试</p><!-- end of page -->'
# 湖 is BA FE in GBK: a 0xFE byte at offset 4, within the bytes the sniff examines.
put $r/undeclared-gbk-fe.html GBK '<p>湖北政府服务</p><!-- end of page -->'
put $r/nine.txt UTF-8 '012345678'
put $r/ten.txt UTF-8 '0123456789'
put $r/nine-chinese-gbk.txt GBK '一二三四五六七八九'
put $r/ten-chinese-gbk.txt GBK '一二三四五六七八九十'

t=tasks
task=$'任务：新闻采集 𠮷\r\nur=[[2|http://www.example.com/|100|/news/||/list/||4||]]\r\nuc=[[3]]\r\n<getm1>\r\nw1=[[1]]w2=[[0]]w3=[[1]]w4=[[<h1>^</h1>^^^-1^0]]w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]\r\n<getm1>\r\na1=[[1|【|】||||]]\r\nds=[[0|0|0|0|200|10]]\r\n'
put $t/task-gb18030.txt GB18030 "$task"
{ printf '\xEF\xBB\xBF'; printf '%s' "$task"; } >$t/task-utf8-bom.txt
