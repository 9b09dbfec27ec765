// The link listing of a list page, on real pages: the Python documentation
// pages of the benchmark corpus (bench/make_real_corpus.sh), one page of about
// 1 MB made of whole pages, and the largest single page.
#include "engine/linklister.h"
#include "engine/linkscan.h"
#include "text/readtext.h"

#include "realcorpus.h"


#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

const QList<QByteArray> &pages()
{
    static const QList<QByteArray> all = caiji::bench::realCorpusPages();
    return all;
}

void listPage(benchmark::State &state, const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        state.SkipWithError("no corpus: run bash bench/make_real_corpus.sh");
        return;
    }
    const QString page = caiji::decodePage(bytes);
    qsizetype links = 0;
    for (auto _ : state) {
        const QString listing = caiji::ListLinks(u"http://127.0.0.1/library/page.html"_s, page);
        links = listing.count(u"ur=[["_s);
        benchmark::DoNotOptimize(listing);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["links"] = double(links);
    state.counters["MB"] = double(bytes.size()) / (1024 * 1024);
}

QByteArray oneMegabytePage()
{
    return caiji::bench::joinedPages(pages(), 1024 * 1024);
}

void BM_ListLinksOneMegabyte(benchmark::State &state)
{
    listPage(state, oneMegabytePage());
}
BENCHMARK(BM_ListLinksOneMegabyte)->Unit(benchmark::kMillisecond);

void BM_ListLinksOneMegabyteParsed(benchmark::State &state)
{
    // The same page through libxml2's parser, as pages the scan gives up on are.
    const QByteArray joined = oneMegabytePage();
    const QString page = caiji::decodePage(joined);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            caiji::ListLinksParsed(u"http://127.0.0.1/library/page.html"_s, page));
    state.SetBytesProcessed(state.iterations() * joined.size());
}
BENCHMARK(BM_ListLinksOneMegabyteParsed)->Unit(benchmark::kMillisecond);

void BM_ListLinksLargestPage(benchmark::State &state)
{
    QByteArray largest;
    for (const QByteArray &page : pages()) {
        if (page.size() > largest.size())
            largest = page;
    }
    listPage(state, largest);
}
BENCHMARK(BM_ListLinksLargestPage)->Unit(benchmark::kMillisecond);

void BM_ListLinksEveryPage(benchmark::State &state)
{
    if (pages().isEmpty()) {
        state.SkipWithError("no corpus: run bash bench/make_real_corpus.sh");
        return;
    }
    QStringList decoded;
    qsizetype bytes = 0;
    int scanned = 0;
    for (const QByteArray &page : pages()) {
        decoded << caiji::decodePage(page);
        bytes += page.size();
        scanned += caiji::scanWellFormedLinks(decoded.last().toUtf8()).has_value();
    }
    // Pages listed without the parser.
    state.counters["scanned"] = double(scanned) / double(decoded.size());
    for (auto _ : state) {
        for (const QString &page : decoded)
            benchmark::DoNotOptimize(caiji::ListLinks(u"http://127.0.0.1/a/b.html"_s, page));
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["ms/page"] =
        benchmark::Counter(double(decoded.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListLinksEveryPage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
