// "caiji run" while the record database is in trouble: its table taken away,
// locked by another program for seconds, its task folder deleted, or the disk
// full. No record is lost without being counted, each refusal is listed once,
// and what could not be written is named on stderr and in the summary.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "records/failurelog.h"
#include "records/recordstore.h"
#include "smalldisk.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int TickMs = 100;
constexpr int Pages = 3;
constexpr int StageWaitMs = 30000;
constexpr int RunBoundMs = 60000;
// Longer than the five seconds a record used to wait before it was refused.
constexpr int LockedMs = 7000;

enum class Trouble { TableDropped, Locked, FolderDeleted, DiskFull };

// The article task, or the same without its picture field: its records are
// then stored as their page arrives, not queued for a download.
QString taskText(const QString &ur, bool downloadField)
{
    if (downloadField)
        return articleTask(ur);
    return u"ur=[["_s + ur + u"]]\r\nuc=[[3]]\r\n"_s +
           sectionText(1, {u"1"_s,
                           u"1"_s,
                           u"1"_s,
                           u"<title>^</title>^<title>^</title>^-1^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

} // namespace

class TestStoreFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void trouble_data();
    void trouble();

private:
    FaultServer m_server;
};

void TestStoreFaults::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_server.listen());
}

void TestStoreFaults::trouble_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<bool>("pictures"); // a download field, and pictures
    QTest::addColumn<Tally>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // in the summary or on stderr
    QTest::newRow("table dropped: each refusal listed once")
        << Trouble::TableDropped << false << Tally{3, 0, 0, 3, 0, 0} << 1 << u"no such table"_s;
    QTest::newRow("locked by another program for seconds")
        << Trouble::Locked << false << Tally{3, 0, 3, 0, 0, 0} << 0 << QString();
    QTest::newRow("task folder deleted after three records")
        << Trouble::FolderDeleted << false << Tally{3, 0, 0, 3, 0, 0} << 1
        << u"数据库文件在采集中被删除"_s;
    QTest::newRow("disk full: downloads and the failure list")
        << Trouble::DiskFull << true << Tally{3, 0, 0, 3, 0, 3} << 1 << u"磁盘已满×3"_s;
}

void TestStoreFaults::trouble()
{
    QFETCH(Trouble, trouble);
    QFETCH(bool, pictures);
    QFETCH(Tally, expected);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const QString sqlite3 = QStandardPaths::findExecutable(u"sqlite3"_s);
    if (trouble == Trouble::Locked && sqlite3.isEmpty())
        QSKIP("sqlite3 is not installed");
    SmallDisk disk(1024);
    if (trouble == Trouble::DiskFull && !disk.isMounted())
        QSKIP("cannot mount a small disk here (it needs root)");

    FaultSite site{m_server, u"/t"_s + QString::number(int(trouble)), {}, {}};
    for (int n = 1; n <= Pages; ++n) {
        if (pictures)
            site.goodArticle(n);
        else
            site.page(n, articlePage(site.title(n), QString()));
        m_server.setHeld(site.path(FaultSite::articleName(n)));
    }
    TempWorkspace workspace(trouble == Trouble::DiskFull ? disk.path() : QString());
    const QString task = u"库"_s;
    QVERIFY(workspace.addTask(task,
                              taskText(u"1|"_s + site.url(u"art"_s) + u"|1|3|1|.htm"_s, pictures)));
    const QString database = workspace.databaseFile(task);
    ConcurrentRuns runs;
    const int run =
        runs.start(QStringLiteral(CAIJI_BINARY), {u"run"_s, u"--workspace"_s, workspace.root(),
                                                  u"--tick-ms"_s, QString::number(TickMs), task});
    const QString held = site.path(FaultSite::articleName(Pages));
    QVERIFY(waitUntil([&] { return m_server.heldCount(held) == 1; }, StageWaitMs));

    QProcess locker;
    if (trouble == Trouble::TableDropped) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"intruder"_s);
        db.setDatabaseName(database);
        QVERIFY(db.open() && QSqlQuery(db).exec(u"DROP TABLE data"_s));
        db.close();
    } else if (trouble == Trouble::Locked) {
        locker.start(sqlite3, {database});
        QVERIFY(locker.waitForStarted());
        locker.write("BEGIN IMMEDIATE; SELECT 'locked';\n");
        QVERIFY(locker.waitForReadyRead(StageWaitMs));
    } else if (trouble == Trouble::DiskFull) {
        QVERIFY(disk.fill());
    }
    for (int n = 1; n <= Pages; ++n)
        QVERIFY(m_server.release(site.path(FaultSite::articleName(n)), 0));
    if (trouble == Trouble::TableDropped) {
        // The refusals are in the list while the run still goes on.
        QVERIFY(waitUntil([&] { return runs.run(run).out.contains(",失败3"); }, StageWaitMs));
        QVERIFY(runs.isRunning(run));
        QCOMPARE(FailureLog::read(database).value_or(QList<FailureEntry>()).size(), Pages);
    }
    if (trouble == Trouble::Locked) {
        QTest::qWait(LockedMs);
        locker.write("COMMIT;\n.quit\n");
        QVERIFY(locker.waitForFinished(StageWaitMs));
    } else if (trouble == Trouble::FolderDeleted) {
        QVERIFY(
            waitUntil([&] { return largestRecordCount(runs.run(run).out) == Pages; }, StageWaitMs));
        QVERIFY(QDir(workspace.taskDir(task)).removeRecursively());
    }

    const ProgramRun &ended = runs.finish(run, RunBoundMs);
    QVERIFY(ended.finished);
    QCOMPARE(ended.exitCode, exitCode);
    const std::optional<Tally> summary = summaryOf(ended.out, task);
    QVERIFY2(summary, ended.out.right(500).constData());
    QCOMPARE(*summary, expected);
    const QByteArray said = ended.out + "\n" + ended.err;
    QVERIFY2(said.contains(says.toUtf8()), said.constData());
    if (trouble == Trouble::TableDropped || trouble == Trouble::Locked) {
        const std::optional<QList<FailureEntry>> failures = FailureLog::read(database);
        QVERIFY(failures);
        QCOMPARE(failures->size(), summary->refused);
        QCOMPARE(RecordStore::count(database).value_or(-1), trouble == Trouble::Locked ? 3 : -1);
    }
    if (trouble == Trouble::DiskFull) {
        QVERIFY2(ended.err.contains("失败清单无法写入（磁盘已满）"), ended.err.constData());
        QVERIFY2(ended.out.contains("失败清单少记6条（磁盘已满）"), ended.out.constData());
    }
}

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
