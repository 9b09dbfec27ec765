// The crawler's work on an arrived list page: read it, list its links, keep
// those of the site and queue the new ones. Duplicate tests are set lookups,
// so the time per link stays flat as the queues grow.
#include "engine/crawler.h"
#include "engine/enginestate.h"
#include "engine/fetcher.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

class IdleFetcher : public caiji::Fetcher
{
public:
    void fetch(int, const QString &, const QString &, const QString &, const QString &) override {}
    void abandonAll() override {}
    void setAllowedDirectories(const QStringList &) override {}
};

// A list page with `links` links, each also a list page and a content page.
QByteArray listPage(int links)
{
    QByteArray page = "<html><head><meta charset=\"utf-8\"></head><body><ul>";
    for (int i = 0; i < links; ++i) {
        page += "<li><a href=\"/news/" + QByteArray::number(i) + ".html\">第" +
                QByteArray::number(i) + "篇新闻的标题</a></li>\n";
    }
    return page + "</ul></body></html>";
}

void BM_QueueLinks(benchmark::State &state)
{
    const int links = int(state.range(0));
    QTemporaryDir dir;
    const QString file = dir.filePath(u"list .txt"_s);
    const QByteArray page = listPage(links);
    IdleFetcher fetcher;
    for (auto _ : state) {
        state.PauseTiming();
        {
            QFile out(file);
            out.open(QIODevice::WriteOnly);
            out.write(page);
        }
        caiji::EngineState engineState;
        engineState.definition.schemeField =
            u"2|http://www.example.com/|100000|/news/||||0||"_s.split(u'|');
        caiji::Crawler crawler(engineState, fetcher);
        state.ResumeTiming();
        crawler.fetchDone(1, u"http://www.example.com/"_s, file, page.size(), QString());
        if (engineState.contentQueue.size() != links)
            state.SkipWithError("not every link was queued");
    }
    state.SetItemsProcessed(state.iterations() * links);
}
BENCHMARK(BM_QueueLinks)->Arg(3000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
