// "caiji run" against a server that misbehaves: one task per fault, each on
// its own workspace and all running at once. Whatever the server does, the
// task completes, the good pages' records and pictures are stored, the
// failure is counted in the summary and the exit status, and nothing is left
// behind or written outside the task. Two runs stage responses out of order:
// one address fetched as list and content page at once, and one picture
// downloaded by five records at once.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "tempworkspace.h"
#include "text/names.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <functional>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int TickMs = 200;
// All rows run at once; the slowest ends some 21 ticks after its last page.
constexpr int RunBoundMs = 100000;
constexpr int StageWaitMs = 30000;

// Where the faulty resource sits: article 2, the picture of article 2, or
// the first list page of a crawl.
enum class Where { Content, Download, List };

struct FaultRow
{
    const char *name;
    Where where;
    // Sets up the faulty resource; `canary` is a file outside every workspace.
    std::function<void(FaultSite &, const QString &canary)> fault;
    Tally expected;
    int exitCode;
    const char *summaryHas = ""; // besides the counts
};

const Tally ContentFails{3, 1, 2, 0, 2, 0};
const Tally ContentFine{3, 0, 3, 0, 3, 0};
const Tally DownloadFails{3, 0, 3, 0, 2, 1};
const Tally ListFails{5, 1, 2, 0, 2, 0};

QByteArray invalidFor(const QByteArray &charset)
{
    // Bytes no decoder of that charset accepts: cut lead bytes, bytes out of
    // every range, a lone UTF-8 continuation.
    if (charset == "utf-8")
        return "\xff\xfe\x80\xc3(\xe4\xb8"_ba;
    if (charset == "big5")
        return "\xff\xff\x80\xa4\x20\xfe"_ba;
    return "\xff\x80\x81\x20\xa1"_ba;
}

// A page declaring `charset` whose head holds bytes wrong for it; the values
// cut (title, picture) are plain ASCII.
std::function<void(FaultSite &, const QString &)> badBytes(const QByteArray &charset)
{
    return [charset](FaultSite &site, const QString &) {
        QByteArray page = articlePage(site.title(2), site.picture(2), charset);
        page.insert(page.indexOf("<title>"), "<meta name=\"x\" content=\"" + invalidFor(charset) +
                                                 "\">" + invalidFor(charset) + '\n');
        page.replace("</body>", QByteArray(invalidFor(charset) + "</body>"));
        site.page(2, page);
        site.expectRecord(2, site.picture(2));
        site.goodPicture(2);
    };
}

// Article 2 with a Chinese title and text in `codec`'s bytes, declaring no
// charset, served as `contentType`; its title must read as `codec` decodes it,
// or as UTF-8 makes of its bytes when the server names UTF-8 wrongly.
std::function<void(FaultSite &, const QString &)> chineseArticle(const char *codec,
                                                                 const QByteArray &contentType)
{
    return [=](FaultSite &s, const QString &) {
        const auto encoded = [codec](const QString &text) {
            QStringEncoder encoder(codec);
            return QByteArray(encoder.encode(text));
        };
        const bool big5 = QByteArrayView(codec) == "Big5";
        const QString title = big5 ? u"中文新聞標題"_s : u"中文新闻标题"_s;
        const QString text =
            big5 ? u"這個網站的頁面沒有聲明字元集，只有正文和標題，內容是一篇普通的新聞報導。"_s
                 : u"这个网站的页面没有声明字符集，只有正文和标题，内容是一篇普通的新闻报道。"_s;
        const QByteArray page = "<html><head><title>" + encoded(title) + "</title></head><body>\n" +
                                "<div class=\"pic\"><img src=\"" + s.picture(2).toUtf8() +
                                "\"></div>\n<p>" + encoded(text) + "</p></body></html>\n";
        s.server.setPage(s.path(u"art2.htm"_s), page, contentType);
        const bool misnamed = contentType.toLower().contains("utf-8");
        s.records << u'^' + s.article(2) + u'^' +
                         (misnamed ? QStringDecoder(QStringConverter::Utf8,
                                                    QStringConverter::Flag::Stateless)
                                         .decode(encoded(title))
                                   : title) +
                         u'^' + name1(s.picture(2));
        s.goodPicture(2);
    };
}

QByteArray article2(const FaultSite &site)
{
    return articlePage(site.title(2), site.picture(2));
}

QList<FaultRow> faultRows()
{
    const QString art2 = u"art2.htm"_s;
    const QString pic2 = u"pic2.png"_s;
    const QString list1 = u"list1.htm"_s;
    const QByteArray errorBody = "<html><body><title>error page</title>sorry</body></html>"_ba;
    return {
        {"gzip page", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.server.setPage(s.path(art2), article2(s), "text/html"_ba, true);
             s.expectRecord(2, s.picture(2));
             s.goodPicture(2);
         },
         ContentFine, 0},
        {"404 with a body", Where::Content,
         [=](FaultSite &s, const QString &) { s.server.setStatus(s.path(art2), 404, errorBody); },
         ContentFails, 1},
        {"500 with a body", Where::Content,
         [=](FaultSite &s, const QString &) { s.server.setStatus(s.path(art2), 500, errorBody); },
         ContentFails, 1},
        {"reset mid-body", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.server.setResetMidBody(s.path(art2), article2(s), article2(s).size() - 20);
         },
         ContentFails, 1},
        {"never answers", Where::Content,
         [=](FaultSite &s, const QString &) { s.server.setSilent(s.path(art2)); }, ContentFails, 1},
        {"one byte per second", Where::Content,
         [=](FaultSite &s, const QString &) { s.server.setTrickle(s.path(art2), article2(s)); },
         ContentFails, 1},
        {"redirect loop", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.server.setRedirect(s.path(art2), s.url(u"loop.htm"_s).toUtf8());
             s.server.setRedirect(s.path(u"loop.htm"_s), s.article(2).toUtf8());
         },
         ContentFails, 1},
        {"redirect to a local file", Where::Content,
         [=](FaultSite &s, const QString &canary) {
             s.server.setRedirect(s.path(art2), QUrl::fromLocalFile(canary).toEncoded());
         },
         ContentFails, 1},
        {"redirect to ftp", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.server.setRedirect(s.path(art2),
                                  "ftp://127.0.0.1:" + QByteArray::number(s.server.port()) +
                                      s.path(art2).toUtf8());
         },
         ContentFails, 1},
        {"body shorter than announced", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.server.setShortBody(s.path(art2), article2(s), article2(s).size() + 1000);
         },
         ContentFails, 1},
        {"invalid gb2312 bytes", Where::Content, badBytes("gb2312"_ba), ContentFine, 0},
        {"invalid utf-8 bytes", Where::Content, badBytes("utf-8"_ba), ContentFine, 0},
        {"invalid big5 bytes", Where::Content, badBytes("big5"_ba), ContentFine, 0},
        {"GBK page, charset only in the header", Where::Content,
         chineseArticle("GB18030", "text/html; charset=gbk"_ba), ContentFine, 0},
        {"undeclared GBK page", Where::Content, chineseArticle("GB18030", "text/html"_ba),
         ContentFine, 0},
        {"undeclared Big5 page", Where::Content, chineseArticle("Big5", "text/html"_ba),
         ContentFine, 0},
        {"GBK page the server calls UTF-8: flagged", Where::Content,
         chineseArticle("GB18030", "text/html; charset=UTF-8"_ba), ContentFine, 0, ",乱码1"},
        {"10 MB of '<' as a content page", Where::Content,
         [=](FaultSite &s, const QString &) {
             s.page(2, QByteArray(10 * 1024 * 1024, '<'));
             s.records << u'^' + s.article(2) + u"^^"_s; // nothing to cut, no picture
         },
         Tally{3, 0, 3, 0, 2, 0}, 0},

        {"download 404", Where::Download,
         [=](FaultSite &s, const QString &) { s.server.setStatus(s.path(pic2), 404, errorBody); },
         DownloadFails, 1},
        {"download reset mid-body", Where::Download,
         [=](FaultSite &s, const QString &) {
             s.server.setResetMidBody(s.path(pic2), pictureBytes(2), 100);
         },
         DownloadFails, 1},
        {"download never answers", Where::Download,
         [=](FaultSite &s, const QString &) { s.server.setSilent(s.path(pic2)); }, DownloadFails,
         1},
        {"download shorter than announced", Where::Download,
         [=](FaultSite &s, const QString &) {
             s.server.setShortBody(s.path(pic2), pictureBytes(2), 5000);
         },
         DownloadFails, 1},
        {"download refused", Where::Download,
         [=](FaultSite &s, const QString &) {
             // Article 2 names a picture on a port nobody listens on.
             const QString refused =
                 u"http://127.0.0.1:"_s + QString::number(FaultServer::unusedPort()) + s.path(pic2);
             s.page(2, articlePage(s.title(2), refused));
             s.records.removeOne(s.recordOf(2, s.picture(2)));
             s.expectRecord(2, refused);
         },
         DownloadFails, 1},
        {"empty download", Where::Download,
         [=](FaultSite &s, const QString &) {
             s.server.setPage(s.path(pic2), QByteArray(), "image/png"_ba);
             s.pictures.insert(name1(s.picture(2)), QByteArray());
         },
         Tally{3, 0, 3, 0, 3, 0}, 0},

        {"list page 500", Where::List,
         [=](FaultSite &s, const QString &) { s.server.setStatus(s.path(list1), 500, errorBody); },
         ListFails, 1},
        {"list page reset mid-body", Where::List,
         [=](FaultSite &s, const QString &) {
             const QByteArray links = s.links({u"art2.htm"_s});
             s.server.setResetMidBody(s.path(list1), links, links.size() - 20);
         },
         ListFails, 1},
        {"list page never answers", Where::List,
         [=](FaultSite &s, const QString &) { s.server.setSilent(s.path(list1)); }, ListFails, 1},
        {"10 MB of '<' as a list page", Where::List,
         [=](FaultSite &s, const QString &) {
             s.server.setPage(s.path(list1), QByteArray(10 * 1024 * 1024, '<'));
         },
         Tally{5, 0, 2, 0, 2, 0}, 0},
        {"a list page with 100,000 links", Where::List,
         [=](FaultSite &s, const QString &) {
             // Links the crawl does not follow, then the only link to article 2.
             QByteArray html = "<html><head><meta charset=utf-8></head><body>\n";
             const QByteArray base = s.url(u"x/"_s).toUtf8();
             for (int i = 0; i < 100000; ++i)
                 html += "<a href=\"" + base + QByteArray::number(i) + ".htm\">x</a>\n";
             html += "<a href=\"" + s.article(2).toUtf8() + "\">art2</a></body></html>\n";
             s.server.setPage(s.path(list1), html);
             s.goodArticle(2);
         },
         Tally{6, 0, 3, 0, 3, 0}, 0},
    };
}

QString taskName(int row)
{
    return u"故障"_s + QString::number(row + 1);
}

// Runs of many pages that go well, where records used to be lost all the
// same: records waiting behind their (mostly empty) download fields when the
// last fetch ended, and pages waiting for a connection to a slow server.
struct ManyPagesRow
{
    const char *name;
    int scheme;
    int pages;
    int delayMs;        // each page is answered this late
    int timeoutSeconds; // 0: the default
};

const QList<ManyPagesRow> ManyPagesRows = {
    {"1,200 records waiting for their downloads, scheme one", 1, 1200, 0, 0},
    {"1,200 records waiting for their downloads, scheme two", 2, 1200, 0, 0},
    {"each page 1 s late, 40 asked at once, time-out 3 s", 1, 40, 1000, 3},
};
// Only the first page has a picture to download: a download finishing late
// in the run would count as progress and hide the loss.

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The matrix runs start here; the staged runs below go on meanwhile.
    void initTestCase();
    void sameAddressAsListAndContentPage();
    void onePictureForFiveRecords();
    void failuresCountAsProgress();
    void faultMatrix_data();
    void faultMatrix();
    void manyPages_data();
    void manyPages();

private:
    struct RowRun
    {
        std::unique_ptr<FaultSite> site;
        std::unique_ptr<TempWorkspace> workspace;
        QMap<QString, QByteArray> before; // the workspace outside the task
        int process = -1;
    };

    int startRun(RowRun &row, const QString &task, const QString &taskText,
                 const QStringList &options = {});
    void startManyPages(RowRun &row, const ManyPagesRow &spec);
    // Waits (bounded) for `condition`, giving up early when the run ended.
    bool reached(int process, const std::function<bool()> &condition);
    // The checks every run gets; they stop at the first that fails.
    void checkRun(RowRun &row, const QString &task, const ProgramRun &run, const Tally &expected,
                  int exitCode, const char *summaryHas = "");

    FaultServer m_server;
    QTemporaryDir m_outside;
    QString m_canary;
    const QByteArray m_canaryBytes = "canary bytes that only the canary file holds 7f3a"_ba;
    std::vector<RowRun> m_rows;
    std::vector<RowRun> m_manyRows;
    ConcurrentRuns m_runs;
};

int TestFaults::startRun(RowRun &row, const QString &task, const QString &taskText,
                         const QStringList &options)
{
    row.workspace = std::make_unique<TempWorkspace>();
    if (!row.workspace->isValid() || !row.workspace->addTask(task, taskText))
        return -1;
    row.before = fileTree(row.workspace->root(), {u"task/"_s + task});
    return m_runs.start(QStringLiteral(CAIJI_BINARY),
                        QStringList{u"run"_s, u"--workspace"_s, row.workspace->root(),
                                    u"--tick-ms"_s, QString::number(TickMs), task} +
                            options);
}

void TestFaults::startManyPages(RowRun &row, const ManyPagesRow &spec)
{
    row.site = std::make_unique<FaultSite>(
        FaultSite{m_server, u"/many"_s + QString::number(&row - m_manyRows.data()), {}, {}});
    FaultSite &site = *row.site;
    QStringList articles;
    for (int n = 1; n <= spec.pages; ++n) {
        if (n == 1) {
            site.goodArticle(n);
        } else {
            site.page(n, articlePage(site.title(n), QString()));
            site.expectRecord(n, QString());
        }
        m_server.setDelay(site.path(FaultSite::articleName(n)), spec.delayMs);
        articles << FaultSite::articleName(n);
    }
    QString ur = u"1|"_s + site.url(u"art"_s) + u"|1|%1|1|.htm"_s.arg(spec.pages);
    if (spec.scheme == 2) {
        m_server.setPage(site.path(u"index.htm"_s), site.links(articles));
        ur = u"2|"_s + site.url(u"index.htm"_s) + u"|%1|art||list||||"_s.arg(spec.pages);
    }
    row.process = startRun(row, u"多页"_s, articleTask(ur),
                           spec.timeoutSeconds > 0
                               ? QStringList{u"--timeout"_s, QString::number(spec.timeoutSeconds)}
                               : QStringList());
}

bool TestFaults::reached(int process, const std::function<bool()> &condition)
{
    waitUntil([&] { return condition() || !m_runs.isRunning(process); }, StageWaitMs);
    return condition();
}

void TestFaults::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_outside.isValid());
    m_canary = m_outside.filePath(u"canary.txt"_s);
    QFile canary(m_canary);
    QVERIFY(canary.open(QIODevice::WriteOnly));
    QCOMPARE(canary.write(m_canaryBytes), m_canaryBytes.size());
    canary.close();
    QVERIFY(m_server.listen());

    const QList<FaultRow> rows = faultRows();
    m_rows.resize(rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        RowRun &row = m_rows[i];
        row.site =
            std::make_unique<FaultSite>(FaultSite{m_server, u"/r"_s + QString::number(i), {}, {}});
        FaultSite &site = *row.site;
        QString ur;
        if (rows[i].where == Where::List) {
            m_server.setPage(site.path(u"index.htm"_s),
                             site.links({u"list1.htm"_s, u"list2.htm"_s, u"art1.htm"_s}));
            m_server.setPage(site.path(u"list2.htm"_s), site.links({u"art3.htm"_s}));
            ur = u"2|"_s + site.url(u"index.htm"_s) + u"|100|art||list||||"_s;
        } else {
            ur = u"1|"_s + site.url(u"art"_s) + u"|1|3|1|.htm"_s;
        }
        site.goodArticle(1);
        if (rows[i].where == Where::Download)
            site.goodArticle(2);
        site.goodArticle(3);
        if (rows[i].where == Where::Download) // the fault replaces the picture
            site.pictures.remove(name1(site.picture(2)));
        rows[i].fault(site, m_canary);
        row.process = startRun(row, taskName(i), articleTask(ur));
        QVERIFY(row.process >= 0);
    }
    m_manyRows.resize(ManyPagesRows.size());
    for (qsizetype i = 0; i < ManyPagesRows.size(); ++i) {
        startManyPages(m_manyRows[i], ManyPagesRows[i]);
        QVERIFY(m_manyRows[i].process >= 0);
    }
}

void TestFaults::checkRun(RowRun &row, const QString &task, const ProgramRun &run,
                          const Tally &expected, int exitCode, const char *summaryHas)
{
    QVERIFY2(run.out.contains(summaryHas), run.out.right(300).constData());
    const QString mismatch = firstMismatch(run, row.workspace->workspace(), row.before, *row.site,
                                           {task, expected, exitCode});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // A file the server never sends may not turn up anywhere in the workspace.
    QCOMPARE(filesHolding(row.workspace->root(), m_canaryBytes), QStringList());
}

void TestFaults::faultMatrix_data()
{
    QTest::addColumn<int>("row");
    const QList<FaultRow> rows = faultRows();
    for (int i = 0; i < rows.size(); ++i)
        QTest::newRow(rows[i].name) << i;
}

void TestFaults::faultMatrix()
{
    QFETCH(int, row);
    m_runs.waitAll(RunBoundMs);
    const FaultRow spec = faultRows().at(row);
    checkRun(m_rows.at(row), taskName(row), m_runs.run(m_rows.at(row).process), spec.expected,
             spec.exitCode, spec.summaryHas);
}

void TestFaults::manyPages_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < ManyPagesRows.size(); ++i)
        QTest::newRow(ManyPagesRows[i].name) << i;
}

void TestFaults::manyPages()
{
    QFETCH(int, row);
    m_runs.waitAll(RunBoundMs);
    const ManyPagesRow &spec = ManyPagesRows.at(row);
    const Tally all{spec.pages + (spec.scheme == 2 ? 1 : 0), 0, spec.pages, 0, 1, 0};
    checkRun(m_manyRows.at(row), u"多页"_s, m_runs.run(m_manyRows.at(row).process), all, 0);
}

void TestFaults::sameAddressAsListAndContentPage()
{
    // The start page links to itself: once it arrives it is queued again as
    // a list page and as a content page, and both fetches run at once.
    RowRun row;
    row.site = std::make_unique<FaultSite>(FaultSite{m_server, u"/same"_s, {}, {}});
    FaultSite &site = *row.site;
    const QString index = site.path(u"index.htm"_s);
    QByteArray start = site.links({u"index.htm"_s, u"art1.htm"_s, u"art2.htm"_s});
    start.replace("<head>", QByteArray("<head><title>" + site.title(0) + "</title>"));
    m_server.setPage(index, start);
    site.records << u'^' + site.url(u"index.htm"_s) + u'^' + QString::fromUtf8(site.title(0)) +
                        u'^';
    site.goodArticle(1);
    site.goodArticle(2);
    m_server.setHeld(index);

    const QString task = u"同址"_s;
    const int process = startRun(
        row, task, articleTask(u"2|"_s + site.url(u"index.htm"_s) + u"|100|htm||index||||"_s));
    QVERIFY(process >= 0);
    QVERIFY2(reached(process, [&] { return m_server.heldCount(index) == 1; }),
             "the start page was not requested");
    QVERIFY(m_server.release(index, 0));
    QVERIFY2(reached(process, [&] { return m_server.heldCount(index) == 3; }),
             "the start page was not requested as list and content page");
    // The later request is answered first.
    QVERIFY(m_server.release(index, 2));
    QVERIFY(reached(process, [&] { return m_server.answeredCount(index) == 2; }));
    QTest::qWait(2 * TickMs);
    QVERIFY(m_server.release(index, 1));

    checkRun(row, task, m_runs.finish(process, RunBoundMs), Tally{5, 0, 3, 0, 2, 0}, 0);
}

void TestFaults::onePictureForFiveRecords()
{
    RowRun row;
    row.site = std::make_unique<FaultSite>(FaultSite{m_server, u"/five"_s, {}, {}});
    FaultSite &site = *row.site;
    const QString picture = site.url(u"pic.png"_s);
    for (int n = 1; n <= 5; ++n) {
        site.page(n, articlePage(site.title(n), picture));
        site.expectRecord(n, picture);
    }
    m_server.setPage(site.path(u"pic.png"_s), pictureBytes(5), "image/png"_ba);
    site.pictures.insert(name1(picture), pictureBytes(5));
    m_server.setHeld(site.path(u"pic.png"_s));

    const QString task = u"同图"_s;
    const int process =
        startRun(row, task, articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|5|1|.htm"_s));
    QVERIFY(process >= 0);
    const QString path = site.path(u"pic.png"_s);
    QVERIFY2(reached(process, [&] { return m_server.heldCount(path) == 5; }),
             "the five downloads were not in flight together");
    // The second request is answered first, then the others in order.
    int answered = 0;
    for (int arrival : {1, 0, 2, 3, 4}) {
        QVERIFY(m_server.release(path, arrival));
        ++answered;
        QVERIFY(reached(process, [&] { return m_server.answeredCount(path) == answered; }));
        QTest::qWait(TickMs);
    }

    checkRun(row, task, m_runs.finish(process, RunBoundMs), Tally{5, 0, 5, 0, 5, 0}, 0);
}

void TestFaults::failuresCountAsProgress()
{
    // Failed pages arrive one by one for longer than the stall window; the
    // good page that comes after them is still collected.
    constexpr int Failing = 10;
    constexpr int TicksBetween = 3; // 30 ticks in all, the window is 21
    RowRun row;
    row.site = std::make_unique<FaultSite>(FaultSite{m_server, u"/slow"_s, {}, {}});
    FaultSite &site = *row.site;
    for (int n = 1; n <= Failing; ++n)
        m_server.setStatus(site.path(FaultSite::articleName(n)), 404, "<html>gone</html>"_ba);
    site.goodArticle(Failing + 1);
    for (int n = 1; n <= Failing + 1; ++n)
        m_server.setHeld(site.path(FaultSite::articleName(n)));

    const QString task = u"慢失败"_s;
    const int process = startRun(row, task,
                                 articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|"_s +
                                             QString::number(Failing + 1) + u"|1|.htm"_s));
    QVERIFY(process >= 0);
    for (int n = 1; n <= Failing + 1; ++n) {
        const QString path = site.path(FaultSite::articleName(n));
        // A run that ended early shows in the checks below.
        if (!reached(process, [&] { return m_server.heldCount(path) == 1; }) ||
            !m_server.release(path, 0))
            break;
        QTest::qWait(TicksBetween * TickMs);
    }
    checkRun(row, task, m_runs.finish(process, RunBoundMs), Tally{Failing + 1, Failing, 1, 0, 1, 0},
             1);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
