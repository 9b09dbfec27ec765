#!/usr/bin/env python3
"""Writes the offline demo site examples/demo-site: 10 list pages and 100
articles (some GBK, some Big5, the rest UTF-8), each article with a picture,
a detail page and an attachment. Deterministic, so the committed files only
change when this script does."""
import os
import struct
import sys
import zlib

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'examples', 'demo-site')

TOPICS = ['科技', '教育', '体育', '文化', '经济', '健康', '旅游', '环境', '农业', '交通']
PLACES = ['北京', '上海', '广州', '杭州', '成都', '西安', '南京', '武汉', '长沙', '青岛']
VERBS = ['举办', '发布', '启动', '完成', '推出', '召开', '开展', '建成', '迎来', '实施']
THINGS = ['创新大会', '年度报告', '志愿活动', '公共图书馆', '新能源项目', '健康讲座',
          '摄影展览', '植树计划', '丰收节', '地铁新线']

# Big5 pages are written in traditional characters, as such sites are.
TOPICS_T = ['科技', '教育', '體育', '文化', '經濟', '健康', '旅遊', '環境', '農業', '交通']
PLACES_T = ['北京', '上海', '廣州', '杭州', '成都', '西安', '南京', '武漢', '長沙', '青島']
VERBS_T = ['舉辦', '發佈', '啟動', '完成', '推出', '召開', '開展', '建成', '迎來', '實施']
THINGS_T = ['創新大會', '年度報告', '志願活動', '公共圖書館', '新能源項目', '健康講座',
            '攝影展覽', '植樹計劃', '豐收節', '地鐵新線']

SIMPLIFIED = {
    'site': '示范新闻网', 'home': '首页', 'list': '新闻列表', 'about': '关于本站',
    'news': '本报讯', 'crowd': '活动吸引了众多市民参加，现场气氛热烈。',
    'host': '主办方表示，本次活动围绕{topic}主题展开，共有{k}个单位参与，今后还将定期举办。',
    'reporter': '记者 王{x}明 报道', 'date': '日期：', 'column': '栏目：',
    'detail': '详细信息', 'attach': '附件下载', 'picture': '配图',
}
TRADITIONAL = {
    'site': '示範新聞網', 'home': '首頁', 'list': '新聞列表', 'about': '關於本站',
    'news': '本報訊', 'crowd': '活動吸引了眾多市民參加，現場氣氛熱烈。',
    'host': '主辦方表示，本次活動圍繞{topic}主題展開，共有{k}個單位參與，今後還將定期舉辦。',
    'reporter': '記者 王{x}明 報道', 'date': '日期：', 'column': '欄目：',
    'detail': '詳細信息', 'attach': '附件下載', 'picture': '配圖',
}


def traditional(n):
    return n % 10 == 7


def words(n):
    return TRADITIONAL if traditional(n) else SIMPLIFIED


def topic_of(n):
    return (TOPICS_T if traditional(n) else TOPICS)[(n - 1) % 10]


def charset_of(n):
    if n % 10 == 3:
        return 'gb2312', 'gbk'
    if n % 10 == 7:
        return 'big5', 'big5'
    return 'utf-8', 'utf-8'


def title_of(n):
    i = n - 1
    places, verbs, things = (PLACES_T, VERBS_T, THINGS_T) if traditional(n) else (PLACES, VERBS, THINGS)
    return f'{places[i % 10]}{verbs[(i // 10) % 10]}{things[(i * 3) % 10]}（第{n}期）'


def date_of(n):
    return f'2026-{(n - 1) // 28 + 1:02d}-{(n - 1) % 28 + 1:02d}'


def png(width, height, rgb):
    # Diagonal stripes of the colour and white, so pictures are told apart.
    light = bytes(255 - (255 - c) // 4 for c in rgb)
    raw = b''.join(b'\x00' + b''.join(bytes(rgb) if ((x + y) // 8) % 2 else light
                                      for x in range(width)) for y in range(height))
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def write(path, text, encoding='utf-8'):
    full = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as out:
        out.write(text.encode(encoding) if isinstance(text, str) else text)


def head(title, declared, w=SIMPLIFIED):
    return ('<!DOCTYPE html>\n<html>\n<head>\n'
            f'<meta http-equiv="Content-Type" content="text/html; charset={declared}">\n'
            f'<title>{title} - {w["site"]}</title>\n'
            '<style>body{font-family:sans-serif}</style>\n'
            '<script>var visits = 0;</script>\n</head>\n<body>\n'
            f'<div class="nav"><a href="/index.html">{w["home"]}</a> | '
            f'<a href="/list/1.html">{w["list"]}</a> | <a href="/about.html">{w["about"]}</a></div>\n')


def article(n):
    declared, encoding = charset_of(n)
    w = words(n)
    topic = topic_of(n)
    body = (f'<p>{w["news"]} {date_of(n)}，{title_of(n)}。{w["crowd"]}</p>\n'
            f'<p>{w["host"].format(topic=topic, k=n * 7 % 90 + 10)}</p>\n'
            f'<p>{w["reporter"].format(x=PLACES[(n + 3) % 10][0])}</p>\n')
    return (head(title_of(n), declared, w) +
            f'<div class="article">\n<h1 class="title">{title_of(n)}</h1>\n'
            f'<div class="info">{w["date"]}<span class="date">{date_of(n)}</span> '
            f'{w["column"]}<span class="topic">{topic}</span></div>\n'
            f'<div class="content">\n{body}</div>\n'
            f'<div class="pic"><img src="/img/{n}.png" alt="{w["picture"]}{n}"></div>\n'
            f'<div class="more"><a class="detail" href="/news/{n}/detail.html">{w["detail"]}</a> '
            f'<a class="attach" href="/files/{n}.txt">{w["attach"]}</a></div>\n'
            '</div>\n</body>\n</html>\n'), encoding


def detail(n):
    return (head(f'{title_of(n)} 详细信息', 'utf-8') +
            f'<table class="facts">\n<tr><td>来源</td><td class="source">{PLACES[(n + 5) % 10]}日报</td></tr>\n'
            f'<tr><td>阅读</td><td class="reads">{n * 37 % 1000 + 100}</td></tr>\n</table>\n'
            f'<div class="picture"><img src="/img/{n}.png"></div>\n</body>\n</html>\n')


def list_page(page):
    items = []
    for n in range((page - 1) * 10 + 1, page * 10 + 1):
        items.append(f'<li class="item"><a href="/news/{n}.html">{title_of(n)}</a>'
                     f'<span class="date">{date_of(n)}</span>'
                     f'<span class="summary">{topic_of(n)}：{title_of(n)}。</span></li>')
    pages = ' '.join(f'<a href="/list/{p}.html">{p}</a>' for p in range(1, 11))
    return (head(f'新闻列表 第{page}页', 'utf-8') +
            '<div class="list">\n<ul class="news">\n' + '\n'.join(items) + '\n</ul>\n</div>\n'
            f'<div class="pages">分页：{pages}</div>\n'
            '<div class="links"><a href="http://www.example.com/">友情链接</a> '
            '<a href="/img/1.png">图片</a></div>\n</body>\n</html>\n')


def main():
    for page in range(1, 11):
        write(f'list/{page}.html', list_page(page))
    for n in range(1, 101):
        text, encoding = article(n)
        write(f'news/{n}.html', text, encoding)
        write(f'news/{n}/detail.html', detail(n))
        write(f'img/{n}.png', png(96, 64, ((n * 53) % 256, (n * 97) % 256, (n * 151) % 256)))
        write(f'files/{n}.txt', f'第{n}篇文章的附件：{title_of(n)}\n')
    write('index.html', head('示范新闻网', 'utf-8') +
          '<h1>示范新闻网</h1>\n<p><a href="/list/1.html">进入新闻列表</a></p>\n</body>\n</html>\n')
    write('about.html', head('关于本站', 'utf-8') +
          '<p>本站是信息采集程序的离线示范站点，所有内容均为示例。</p>\n</body>\n</html>\n')


if __name__ == '__main__':
    main()
