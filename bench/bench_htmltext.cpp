// Throughput of the HTML-to-text functions on generated pages of 1, 5 and
// 50 MB (UTF-8 bytes, MB = 10^6) and, given a corpus of real pages (made by
// make_real_corpus.sh), on those pages in each of its encodings and on 5 and
// 50 MB of them joined. Time that grows tenfold from 5 to 50 MB means the
// functions stay linear. The htm2txt of before the single-pass rewrite runs
// beside the current one ("_before") for a side-by-side figure.
//
//   bench_htmltext [--real-corpus=DIR] [benchmark flags]
//   bench_htmltext --write-page=MB:FILE   writes the MB page as UTF-8 and exits
#include "text/htmltext.h"
#include "text/readtext.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace caiji::before {
QString htm2txt(const QString &hxs1);
}

namespace {

constexpr qsizetype megabyte = 1000 * 1000;

// Size of a text saved as UTF-8, the way the page would lie on disk.
qsizetype utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            bytes += 1;
        else if (u < 0x800)
            bytes += 2;
        else if (QChar::isSurrogate(u))
            bytes += 2; // four for the pair
        else
            bytes += 3;
    }
    return bytes;
}

// Pages of a news site: head with style and script, navigation lists, article
// paragraphs in Chinese with entities, tables, inline scripts and comments.
class PageGenerator
{
public:
    explicit PageGenerator(quint32 seed) : m_rng(seed) {}

    QString page(qsizetype targetBytes)
    {
        QString out;
        out.reserve(targetBytes);
        qsizetype bytes = 0;
        while (bytes < targetBytes) {
            const QString document = this->document();
            bytes += utf8Size(document);
            out += document;
        }
        return out;
    }

private:
    int pick(int n) { return int(m_rng.bounded(n)); }

    QString chinese(int minChars, int maxChars)
    {
        static const QString common =
            u"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严"_s;
        QString out;
        const int count = minChars + pick(maxChars - minChars + 1);
        for (int i = 0; i < count; ++i) {
            out += common[pick(int(common.size()))];
            if (pick(14) == 0)
                out += u"，"_s;
        }
        return out + u"。"_s;
    }

    QString paragraph()
    {
        QString out = pick(3) == 0 ? u"<p class=\"text\" style=\"text-indent:2em\">"_s : u"<p>"_s;
        const int sentences = 1 + pick(6);
        for (int i = 0; i < sentences; ++i) {
            out += chinese(8, 40);
            switch (pick(10)) {
            case 0:
                out += u"&nbsp;&nbsp;"_s;
                break;
            case 1:
                out += u"A&amp;B"_s;
                break;
            case 2:
                out += u"&lt;b&gt;"_s;
                break;
            case 3:
                out += u"&ldquo;"_s + chinese(2, 6) + u"&rdquo;"_s;
                break;
            case 4:
                out += u"<strong>"_s + chinese(2, 8) + u"</strong>"_s;
                break;
            case 5:
                out += u"<br>"_s;
                break;
            default:
                break;
            }
        }
        return out + u"</p>\r\n"_s;
    }

    QString link()
    {
        return u"<li><a href=\"/news/2024/05%1/%2.html?id=%3&amp;page=%4\" target=\"_blank\">"_s
                   .arg(10 + pick(20))
                   .arg(100000 + pick(900000))
                   .arg(pick(10000))
                   .arg(1 + pick(9)) +
               chinese(6, 20) +
               u"</a><span class=\"date\">2024-05-%1</span></li>\r\n"_s.arg(10 + pick(20));
    }

    QString linkList()
    {
        QString out = u"<ul class=\"list\">\r\n"_s;
        const int items = 3 + pick(10);
        for (int i = 0; i < items; ++i)
            out += link();
        return out + u"</UL>\r\n"_s;
    }

    QString table()
    {
        QString out = u"<table width=\"100%\" border=\"0\" cellpadding=\"2\">\r\n"_s;
        const int rows = 2 + pick(6);
        for (int r = 0; r < rows; ++r) {
            out += u"<tr>"_s;
            for (int c = 0; c < 4; ++c)
                out += u"<td class=\"c%1\">"_s.arg(c) + chinese(2, 8) + u"</td>"_s;
            out += u"</TR>\r\n"_s;
        }
        return out + u"</table>\r\n"_s;
    }

    QString inlineScript()
    {
        switch (pick(3)) {
        case 0:
            return u"<script type=\"text/javascript\">\r\nvar id = %1;\r\nif (id < 10 && id > "
                   u"0) { document.write('<a href=\"/c/' + id + '\">more</a>'); }\r\n</script>\r\n"_s
                       .arg(pick(20));
        case 1:
            return u"<script src=\"/js/ad%1.js\"></script>\r\n"_s.arg(pick(9));
        default:
            return u"<SCRIPT LANGUAGE=\"JavaScript\">\r\n<!--\r\nvar n = 0;\r\n//-->\r\n</SCRIPT>\r\n"_s;
        }
    }

    QString document()
    {
        QString out = u"<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" "
                      u"content=\"text/html; charset=utf-8\">\r\n<title>"_s +
                      chinese(8, 20) +
                      u"</title>\r\n<link rel=\"stylesheet\" href=\"/css/main.css\">\r\n"
                      u"<style type=\"text/css\">\r\nbody { font: 14px/1.6 sans-serif; }\r\n"
                      u".list li { float: left; width: 50%; }\r\n</style>\r\n"
                      u"<script>var _hmt = _hmt || [];</script>\r\n</head>\r\n<body>\r\n"
                      u"<div id=\"nav\">\r\n"_s +
                      linkList() + u"</div>\r\n<div class=\"content\">\r\n<h1>"_s + chinese(8, 24) +
                      u"</h1>\r\n"_s;
        const int blocks = 20 + pick(40);
        for (int i = 0; i < blocks; ++i) {
            const int kind = pick(20);
            if (kind < 11)
                out += paragraph();
            else if (kind < 14)
                out += linkList();
            else if (kind < 16)
                out += table();
            else if (kind < 18)
                out += inlineScript();
            else if (kind < 19)
                out += u"<style>.ad%1 { display: none; }</style>\r\n"_s.arg(pick(9));
            else
                out += u"<!-- ad slot %1 -->\r\n<div class=\"ad\"><img src=\"/img/%1.gif\" "
                       u"alt=\"\" width=\"300\" height=\"250\"></div>\r\n"_s.arg(pick(100));
        }
        return out + u"</div>\r\n<div id=\"footer\">Copyright &copy; 2024 "_s + chinese(4, 10) +
               u"</div>\r\n</body>\r\n</html>\r\n"_s;
    }

    QRandomGenerator m_rng;
};

struct Page
{
    QString text;
    qsizetype bytes = 0;
};

// Generated once per size and kept for every benchmark that uses it.
const Page &page(qsizetype megabytes)
{
    static std::map<qsizetype, Page> cache;
    auto it = cache.find(megabytes);
    if (it == cache.end()) {
        Page p;
        p.text = PageGenerator(20240512).page(megabytes * megabyte);
        p.bytes = utf8Size(p.text);
        it = cache.emplace(megabytes, std::move(p)).first;
    }
    return it->second;
}

using Convert = std::function<QString(const QString &)>;

// Every page converted once an iteration; `bytes` is what the pages take on disk.
void convertAll(benchmark::State &state, const QList<QString> &pages, qsizetype bytes,
                const Convert &function)
{
    for (auto _ : state) {
        for (const QString &page : pages) {
            QString out = function(page);
            benchmark::DoNotOptimize(out.constData());
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["page_bytes"] = double(bytes);
}

template <typename Function> void run(benchmark::State &state, Function function)
{
    const Page &input = page(state.range(0));
    convertAll(state, {input.text}, input.bytes, function);
}

void BM_killonechar(benchmark::State &state)
{
    run(state, [](const QString &s) { return caiji::killonechar(s, u"</td>"_s, u" "_s); });
}

void BM_killchar(benchmark::State &state)
{
    run(state, [](const QString &s) { return caiji::killchar(s, u"<"_s, u">"_s); });
}

void BM_htm2txt(benchmark::State &state)
{
    run(state, [](const QString &s) { return caiji::htm2txt(s); });
}

// A fresh copy of the page: what any function that returns a changed page
// must at least spend on writing new memory.
void BM_copy(benchmark::State &state)
{
    run(state, [](const QString &s) {
        QString copy = s;
        copy.detach();
        return copy;
    });
}

void BM_htm2txt_before(benchmark::State &state)
{
    run(state, [](const QString &s) { return caiji::before::htm2txt(s); });
}

BENCHMARK(BM_killonechar)->Arg(1)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_killchar)->Arg(1)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_htm2txt)->Arg(1)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_htm2txt_before)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_copy)->Arg(5)->Arg(50)->Unit(benchmark::kMillisecond);

// The pages of one site of the corpus, read the way the collector reads a
// fetched page; `bytes` counts them as they lie on disk.
struct Site
{
    QList<QString> pages;
    qsizetype bytes = 0;
};

Site readSite(const QString &root, const QStringList &paths)
{
    Site site;
    for (const QString &path : paths) {
        const QString file = root + u'/' + path;
        site.pages.append(caiji::readtext(file));
        site.bytes += QFileInfo(file).size();
    }
    return site;
}

// 5 MB of the UTF-8 pages in a fixed shuffled order (a mix of every kind of
// page), cut at a character boundary: one long real text.
Page joinedPages(const QString &root, QStringList paths)
{
    std::shuffle(paths.begin(), paths.end(), QRandomGenerator(20240601));
    constexpr qsizetype targetBytes = 5 * megabyte;
    QByteArray bytes;
    for (const QString &path : paths) {
        QFile file(root + u'/' + path);
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
        if (bytes.size() >= targetBytes)
            break;
    }
    qsizetype cut = std::min(targetBytes, bytes.size());
    while (cut > 0 && cut < bytes.size() && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return {QString::fromUtf8(bytes), bytes.size()};
}

// BM_real_htm2txt[_before]/SITE on every page of each site, and
// BM_realjoined_htm2txt[_before]/MB on 5 MB of joined UTF-8 pages and on the
// same 5 MB ten times: the same text at ten times the length.
bool registerRealCorpus(const QString &corpus)
{
    QFile list(corpus + u"/pages.txt"_s);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QStringList paths = QString::fromUtf8(list.readAll()).split(u'\n', Qt::SkipEmptyParts);
    if (paths.isEmpty())
        return false;
    const std::pair<const char *, Convert> versions[] = {
        {"", [](const QString &s) { return caiji::htm2txt(s); }},
        {"_before", [](const QString &s) { return caiji::before::htm2txt(s); }},
    };
    for (const char *name : {"site", "site-gbk", "site-big5"}) {
        const auto site =
            std::make_shared<Site>(readSite(corpus + u'/' + QLatin1StringView(name), paths));
        for (const auto &[suffix, function] : versions) {
            benchmark::RegisterBenchmark(
                (std::string("BM_real_htm2txt") + suffix + "/" + name).c_str(),
                [site, function](benchmark::State &state) {
                    convertAll(state, site->pages, site->bytes, function);
                })
                ->Unit(benchmark::kMillisecond);
        }
    }
    const Page five = joinedPages(corpus + u"/site"_s, paths);
    const std::pair<int, std::shared_ptr<Page>> joinedTexts[] = {
        {5, std::make_shared<Page>(five)},
        {50, std::make_shared<Page>(Page{five.text.repeated(10), 10 * five.bytes})},
    };
    for (const auto &[megabytes, joined] : joinedTexts) {
        for (const auto &[suffix, function] : versions) {
            benchmark::RegisterBenchmark(
                (std::string("BM_realjoined_htm2txt") + suffix + "/" + std::to_string(megabytes))
                    .c_str(),
                [joined, function](benchmark::State &state) {
                    convertAll(state, {joined->text}, joined->bytes, function);
                })
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}

// --write-page=MB:FILE, so that scripts can time other tools on the same bytes.
int writePage(const char *argument)
{
    const char *colon = std::strchr(argument, ':');
    if (!colon) {
        std::fprintf(stderr, "usage: --write-page=MB:FILE\n");
        return 2;
    }
    const qsizetype megabytes = QByteArray(argument, colon - argument).toLongLong();
    QFile file(QString::fromLocal8Bit(colon + 1));
    if (megabytes <= 0 || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", colon + 1);
        return 2;
    }
    const QByteArray bytes = page(megabytes).text.toUtf8();
    return file.write(bytes) == bytes.size() ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    const char flag[] = "--write-page=";
    if (argc == 2 && std::strncmp(argv[1], flag, sizeof flag - 1) == 0)
        return writePage(argv[1] + sizeof flag - 1);
    const char corpusFlag[] = "--real-corpus=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], corpusFlag, sizeof corpusFlag - 1) != 0)
            continue;
        const char *corpus = argv[i] + sizeof corpusFlag - 1;
        if (!registerRealCorpus(QString::fromLocal8Bit(corpus))) {
            std::fprintf(stderr, "no corpus in %s (make it with make_real_corpus.sh)\n", corpus);
            return 2;
        }
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        break;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
