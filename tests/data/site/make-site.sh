#!/usr/bin/env bash
# Regenerates the pages of the small test site: the same kind of article in
# UTF-8, GBK (declared gb2312) and Big5, each declaring its charset in a meta
# tag, plus two list pages and a picture. Run from this folder.
set -euo pipefail
cd "$(dirname "$0")"

cat > index.htm <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<title>新闻列表</title></head><body>
<ul>
<li><a href="list2.htm">下一页</a></li>
<li><a href="item1.htm">第一条 UTF-8 新闻</a></li>
<li><a href="http://other.example/item9.htm">外站新闻</a></li>
<li><a href="pic.png">图片</a></li>
</ul>
</body></html>
HTML

iconv -f UTF-8 -t GBK > list2.htm <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>新闻列表第二页</title></head><body>
<a href="item2.htm">第二条新闻</a>
<a href="item3.htm">第三条新闻</a>
<a href="item1.htm">第一条 UTF-8 新闻</a>
<a href="index.htm">首页</a>
</body></html>
HTML

cat > item1.htm <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<title>第一条:UTF-8 新闻</title></head><body>
<div class="body">正文 "引号" 和,逗号</div>
<div class="pic"><img src="pic.png"></div>
</body></html>
HTML

iconv -f UTF-8 -t GBK > item2.htm <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>第二条新闻</title></head><body>
<div class="body">简体中文内容</div>
</body></html>
HTML

iconv -f UTF-8 -t BIG5 > item3.htm <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=big5">
<title>第三條新聞</title></head><body>
<div class="body">繁體中文內容</div>
</body></html>
HTML

# A 1x1 PNG.
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9cc\xf8\x0f\0\x01\x01\x01\0\x18\xdd\x8d\xb4\0\0\0\0IEND\xaeB`\x82' > pic.png
