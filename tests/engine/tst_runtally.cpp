// What a run reports about itself: failed fetches of every kind counted,
// records the database refuses counted and not listed as stored, and failures
// counted as progress, so a long run of missing pages does not end a task
// whose queue still holds pages that exist.
#include "enginerig.h"
#include "records/recordstore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestRunTally : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failuresCounted_data();
    void failuresCounted();
    void missingPagesDoNotEndTask();
    void refusedRecordsCountedNotListed();
    void missingFoldersAreMade();
};

namespace {

const QString Site = u"http://www.site.com/"_s;
const QString Picture = Site + u"pic.png"_s;

// Level 1: the page address, its title and a picture to download.
QString section()
{
    return sectionText(1, {u"1"_s,
                           u"1"_s,
                           u"2"_s,
                           u"<title>^</title>^<title>^</title>^-1^0|"
                           u"<img^>^src=\"^\"^0^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

QByteArray page(const QString &title)
{
    return "<html><head><title>" + title.toUtf8() +
           "</title><meta charset=utf-8></head><body><img src=\"pic.png\"></body></html>";
}

enum class Case {
    ContentFails,
    ContentTooShort,
    ContentTiny,
    DownloadFails,
    DownloadEmpty,
    ListFails
};

// A scheme-one task "a" over pages first..last of the site (step -1 when
// first > last) where pages 1..served exist, each with the picture.
void addRangeTask(EngineRig &rig, int first, int last, int served)
{
    const QString step = first > last ? u"-1"_s : u"1"_s;
    QVERIFY(rig.workspace.addTask(
        u"a"_s, taskFileText(u"1|"_s + Site + u"p|"_s + QString::number(first) + u'|' +
                                 QString::number(last) + u'|' + step + u"|.htm"_s,
                             u"3"_s, section())));
    for (int n = 1; n <= served; ++n)
        rig.contentFetcher.setPage(Site + u"p"_s + QString::number(n) + u".htm"_s,
                                   page(u"T"_s + QString::number(n)));
    rig.contentFetcher.setPage(Picture, "picture");
}

// Scheme ticks and completions until the first task is complete.
void runToCompletion(EngineRig &rig)
{
    for (int tick = 0; tick < 200 && !rig.engine.allQueuedComplete(); ++tick) {
        rig.engine.schedulerTick();
        rig.engine.crawlerTick();
        rig.engine.collectorTick();
        settle(rig.listFetcher, rig.contentFetcher);
    }
}

} // namespace

void TestRunTally::failuresCounted_data()
{
    QTest::addColumn<Case>("which");
    QTest::addColumn<QList<qint64>>("tally"); // requested, failed, stored, downloaded, lost
    QTest::newRow("content page fails") << Case::ContentFails << QList<qint64>{1, 1, 0, 0, 0};
    QTest::newRow("content page under 10 characters")
        << Case::ContentTooShort << QList<qint64>{1, 1, 0, 0, 0};
    QTest::newRow("content page of two bytes, counted unread")
        << Case::ContentTiny << QList<qint64>{1, 0, 0, 0, 0};
    QTest::newRow("download fails") << Case::DownloadFails << QList<qint64>{1, 0, 1, 0, 1};
    QTest::newRow("download with an empty body")
        << Case::DownloadEmpty << QList<qint64>{1, 0, 1, 1, 0};
    QTest::newRow("list page fails") << Case::ListFails << QList<qint64>{1, 1, 0, 0, 0};
}

void TestRunTally::failuresCounted()
{
    QFETCH(Case, which);
    QFETCH(QList<qint64>, tally);
    EngineRig rig;
    const QString p1 = Site + u"p1.htm"_s;
    const QString ur = which == Case::ListFails ? u"2|"_s + Site + u"|100|p||||0||"_s
                                                : u"1|"_s + Site + u"p|1|1|1|.htm"_s;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskFileText(ur, u"3"_s, section())));
    rig.contentFetcher.setPage(p1, page(u"T1"_s));
    rig.contentFetcher.setPage(Picture, "picture");
    if (which == Case::ContentFails)
        rig.contentFetcher.setFailing(p1);
    if (which == Case::ContentTooShort)
        rig.contentFetcher.setPage(p1, "<p>x</p>");
    if (which == Case::ContentTiny)
        rig.contentFetcher.setTiny(p1);
    if (which == Case::DownloadFails)
        rig.contentFetcher.setFailing(Picture);
    if (which == Case::DownloadEmpty)
        rig.contentFetcher.setPage(Picture, QByteArray());
    if (which == Case::ListFails)
        rig.listFetcher.setFailing(Site);
    QSignalSpy failed(&rig.engine, &CollectionEngine::fetchFailed);
    QSignalSpy lines(&rig.engine, &CollectionEngine::runListLineChanged);
    rig.engine.queueTask(u"a"_s);
    runToCompletion(rig);
    QVERIFY(rig.engine.allQueuedComplete());

    const RunTally t = rig.engine.summary(0).tally;
    QCOMPARE((QList<qint64>{t.pagesRequested, t.pagesFailed, t.recordsStored, t.downloadsStored,
                            t.downloadsFailed}),
             tally);
    QCOMPARE(failed.size(), t.pagesFailed + t.downloadsFailed);
    // The summary names the commonest reasons.
    const QString described = CollectionEngine::describe(rig.engine.summary(0));
    QCOMPARE(described.contains(u"；失败原因："_s), t.failures() > 0);
    QCOMPARE(rig.state().failures.size(), failed.size());
    QCOMPARE(rig.state().runList[0],
             CollectionEngine::paddedName(u"a"_s) + CollectionEngine::completeMarker());
    // The last status line before it showed the failures.
    const QString lastStatus =
        lines.size() >= 2 ? lines[lines.size() - 2][1].toString() : QString();
    QVERIFY2(lastStatus.endsWith(t.failures() ? u",失败"_s + QString::number(t.failures())
                                              : u",记录"_s + QString::number(t.recordsStored)),
             qPrintable(lastStatus));
    if (which == Case::DownloadEmpty) {
        // Listed as a download like any other; the file is there, empty.
        QCOMPARE(rig.state().downloads, QStringList{Picture});
        QCOMPARE(QFileInfo(rig.state().downloadFile(Picture)).size(), 0);
    }
}

void TestRunTally::missingPagesDoNotEndTask()
{
    // Counting down from 1300 where only 100..1 exist: 1200 failures first.
    EngineRig rig;
    addRangeTask(rig, 1300, 1, 100);
    rig.engine.queueTask(u"a"_s);
    runToCompletion(rig);
    QVERIFY(rig.engine.allQueuedComplete());
    const RunTally t = rig.engine.summary(0).tally;
    QCOMPARE(t.pagesRequested, 1300);
    QCOMPARE(t.pagesFailed, 1200);
    QCOMPARE(t.recordsStored, 100);
    QCOMPARE(RecordStore::count(rig.workspace.databaseFile(u"a"_s)), 100);
}

void TestRunTally::refusedRecordsCountedNotListed()
{
    EngineRig rig;
    addRangeTask(rig, 1, 3, 3);
    QSignalSpy refused(&rig.engine, &CollectionEngine::recordRefused);
    QSignalSpy stored(&rig.engine, &CollectionEngine::recordStored);
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    {
        // Someone else takes the table away while the task runs.
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"intruder"_s);
        db.setDatabaseName(rig.workspace.databaseFile(u"a"_s));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(u"DROP TABLE data"_s));
    }
    QSqlDatabase::removeDatabase(u"intruder"_s);
    runToCompletion(rig);

    QCOMPARE(refused.size(), 3);
    QVERIFY(!refused[0][1].toString().isEmpty());
    QCOMPARE(stored.size(), 0);
    QVERIFY(rig.runRecords.isEmpty());
    const RunTally t = rig.engine.summary(0).tally;
    QCOMPARE(t.recordsStored, 0);
    QCOMPARE(t.recordsRefused, 3);
    QCOMPARE(rig.state().runList[0],
             CollectionEngine::paddedName(u"a"_s) + CollectionEngine::completeMarker());
}

void TestRunTally::missingFoldersAreMade()
{
    // A task folder made by hand, with only its definition.
    EngineRig rig;
    addRangeTask(rig, 1, 1, 1);
    QVERIFY(QDir(rig.workspace.webDir(u"a"_s)).removeRecursively());
    QVERIFY(QDir(rig.workspace.wekDir(u"a"_s)).removeRecursively());
    rig.engine.queueTask(u"a"_s);
    runToCompletion(rig);
    const RunTally t = rig.engine.summary(0).tally;
    QCOMPARE(t.recordsStored, 1);
    QCOMPARE(t.downloadsStored, 1);
    QCOMPARE(t.failures(), 0);
}

QTEST_GUILESS_MAIN(TestRunTally)
#include "tst_runtally.moc"
