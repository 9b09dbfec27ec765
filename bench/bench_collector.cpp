// The engine's own work on one fetched content page: read the file, cut the
// fields (markers, a pattern, an a-list with HTML-to-text), store the record.
// Network time is not part of it.
#include "engine/pagecutter.h"
#include "records/recordstore.h"
#include "tasks/taskfile.h"
#include "text/readtext.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// A news page of about `bytes` bytes whose article body takes `bodyPercent`
// of it; the rest is what such pages carry: scripts, styles, navigation and
// link lists.
QByteArray articlePage(qsizetype bytes, int bodyPercent)
{
    const qsizetype bodyBytes = bytes * bodyPercent / 100;
    QByteArray chrome = "<script>var a = 1; function f(x) { return x < 2 && a > 0; }</script>"
                        "<style>.x { color: red; } .nav a { margin: 0 4px; }</style>";
    QByteArray links;
    int link = 0;
    while (chrome.size() + links.size() < bytes - bodyBytes - 600) {
        ++link;
        links += "<li><a href=\"/news/" + QByteArray::number(link) + ".html\">相关新闻标题第" +
                 QByteArray::number(link) + "条</a><span>2026-05-01</span></li>\n";
    }
    QByteArray body;
    int paragraph = 0;
    while (body.size() < bodyBytes) {
        ++paragraph;
        body += "<p>第" + QByteArray::number(paragraph) +
                "段：活动吸引了众多市民参加，现场气氛热烈 &amp; 主办方表示今后还将定期举办。"
                "<b>重点</b>内容 &nbsp; <a href=\"/news/" +
                QByteArray::number(paragraph) + ".html\">相关阅读</a></p>\r\n";
    }
    return "<html><head><meta charset=\"utf-8\"><title>新闻</title>" + chrome +
           "</head><body><div class=\"nav\"><a href=\"/\">首页</a></div>"
           "<h1 class=\"title\">北京举办创新大会</h1>"
           "<div class=\"info\">日期：<span class=\"date\">2026-05-01</span></div>"
           "<div class=\"content\">" +
           body + "</div><ul class=\"related\">" + links +
           "</ul><div class=\"more\"><a class=\"attach\" href=\"/files/1.txt\">附件</a></div>"
           "</body></html>";
}

const QString TaskText = u"uc=[[5]]"
                         "<getm1>w1=[[1]]w2=[[1]]w3=[[3]]"
                         "w4=[[<h1 class=\"title\">^</h1>^\">^</h1>^-1^0|"
                         "<div class=\"info\">^</div>^<span class=\"date\">^</span>^-1^0|"
                         "<div class=\"content\">^<div class=\"more\">^<div class=\"content\">^"
                         "</div>^-1^1]]"
                         "w5=[[1]]w6=[[\\d{4}-\\d{2}-\\d{2}^-1^0]]w7=[[0]]w8=[[]]<getm1>"
                         "a1=[[1||||||]]"_s;

void BM_ContentPage(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"page .txt"_s);
    const QByteArray page = articlePage(state.range(0), int(state.range(1)));
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(page);
    }
    caiji::TaskDefinition definition;
    caiji::readTaskDefinition(TaskText, definition);
    caiji::WValues w;
    caiji::RecordStore store;
    store.create(dir.filePath(u"data.mdb"_s), 5);
    qsizetype stored = 0;
    for (auto _ : state) {
        const QString text = caiji::readtext(file);
        caiji::PageCutter cutter(definition, 5, w);
        const caiji::CutResult result =
            cutter.cut(text, u"http://127.0.0.1/news/1.html"_s, 1, QString());
        for (const QString &record : result.records)
            stored += store.append(record) ? 1 : 0;
    }
    if (stored != state.iterations())
        state.SkipWithError("a record was not stored");
    state.SetBytesProcessed(state.iterations() * page.size());
}
// Page bytes, share of the article body in percent. A body of 100 % is the
// worst case: the whole page goes through HTML-to-text.
BENCHMARK(BM_ContentPage)
    ->ArgNames({"bytes", "body%"})
    ->Args({10 * 1000, 20})
    ->Args({100 * 1000, 20})
    ->Args({100 * 1000, 100})
    ->Args({1000 * 1000, 20})
    ->Args({1000 * 1000, 100})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
