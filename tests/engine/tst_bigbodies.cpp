// "caiji run" against bodies of 1 GiB: sent plainly and as a gzip bomb, each
// as a content page and as a download. The task completes, the good article
// is stored, both failures are counted, and the program's peak memory stays
// small (a body is never held whole). Only the runs of this executable are
// its children, so the children's peak resident size is theirs.
#include "collectcheck.h"
#include "faultserver.h"
#include "programrun.h"
#include "tempworkspace.h"
#include "text/names.h"

#include <QFile>
#include <QTest>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int TickMs = 200;
constexpr int RunBoundMs = 100000;
constexpr qint64 GiB = 1024 * 1024 * 1024;
constexpr long MaxPeakKiB = 64 * 1024;

// The largest resident size of any child waited for so far, in KiB.
long childrenPeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestBigBodies : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bigBody_data();
    void bigBody();

private:
    FaultServer m_server;
};

void TestBigBodies::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_server.listen());
}

void TestBigBodies::bigBody_data()
{
    QTest::addColumn<bool>("gzip");
    QTest::newRow("1 GiB body") << false;
    QTest::newRow("1 GiB gzip bomb") << true;
}

void TestBigBodies::bigBody()
{
    QFETCH(bool, gzip);
    // Article 2 is the big page; article 3 is a good page whose picture is big.
    FaultSite site{m_server, gzip ? u"/bomb"_s : u"/huge"_s, {}, {}};
    site.goodArticle(1);
    site.goodArticle(3);
    site.pictures.remove(name1(site.picture(3)));
    for (const QString &name : {FaultSite::articleName(2), FaultSite::pictureName(3)}) {
        const QByteArray type = name.endsWith(u".png"_s) ? "image/png"_ba : "text/html"_ba;
        if (gzip)
            m_server.setGzipBomb(site.path(name), GiB, type);
        else
            m_server.setHugeBody(site.path(name), GiB, type);
    }

    TempWorkspace workspace;
    const QString task = u"大页"_s;
    QVERIFY(workspace.addTask(task, articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|3|1|.htm"_s)));
    const QMap<QString, QByteArray> before = fileTree(workspace.root(), {u"task/"_s + task});
    const ProgramRun run = runProgram(QStringLiteral(CAIJI_BINARY),
                                      {u"run"_s, u"--workspace"_s, workspace.root(), u"--tick-ms"_s,
                                       QString::number(TickMs), task},
                                      RunBoundMs);
    const long peakKiB = childrenPeakKiB();
    qInfo("peak resident size of caiji run: %ld KiB", peakKiB);

#if defined(__SANITIZE_ADDRESS__)
    Q_UNUSED(peakKiB); // the sanitizer's own memory would be measured
#else
    QVERIFY2(peakKiB < MaxPeakKiB, qPrintable(u"peak resident size %1 KiB"_s.arg(peakKiB)));
#endif
    const QString mismatch =
        firstMismatch(run, workspace.workspace(), before, site, {task, Tally{3, 1, 2, 0, 1, 1}, 1});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

QTEST_GUILESS_MAIN(TestBigBodies)
#include "tst_bigbodies.moc"
