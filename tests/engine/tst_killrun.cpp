// "caiji run" killed with SIGKILL in the middle of a task, several times at
// moments drawn from a fixed seed: every record the status lines counted is
// in the database, the database is sound, the next run on the same
// workspace starts despite the dead run's lock and collects everything, and
// the killed runs are whole in the history. Stopped by SIGINT, SIGTERM or
// SIGHUP instead, a run ends in order: transfers aborted and their files
// gone, the database closed, the summary printed, the lock released.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "records/recordstore.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int Pages = 300;
constexpr int Trials = 4;
constexpr int TickMs = 50;
constexpr int PageDelayMs = 20; // so the run lasts long enough to be killed in
constexpr int StageWaitMs = 30000;
constexpr int RunBoundMs = 60000;
constexpr quint32 Seed = 20240607;

} // namespace

class TestKillRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedRunsLoseNothingCounted();
    void signalsEndTheRunInOrder_data();
    void signalsEndTheRunInOrder();

private:
    QStringList runArguments() const
    {
        return {u"run"_s,       u"--workspace"_s,        m_workspace.root(),
                u"--tick-ms"_s, QString::number(TickMs), m_task};
    }

    FaultServer m_server;
    TempWorkspace m_workspace;
    const QString m_task = u"断电"_s;
};

void TestKillRun::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_server.listen());
}

void TestKillRun::killedRunsLoseNothingCounted()
{
    FaultSite site{m_server, u"/k"_s, {}, {}};
    for (int n = 1; n <= Pages; ++n) {
        site.page(n, articlePage(site.title(n), QString()));
        site.expectRecord(n, QString());
        m_server.setDelay(site.path(FaultSite::articleName(n)), PageDelayMs);
    }
    QVERIFY(m_workspace.addTask(m_task, articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|"_s +
                                                    QString::number(Pages) + u"|1|.htm"_s)));
    const QString database = m_workspace.databaseFile(m_task);

    QRandomGenerator random(Seed);
    for (int trial = 1; trial <= Trials; ++trial) {
        const int killAfterRecords = int(random.bounded(1, Pages * 3 / 4));
        const int extraMs = int(random.bounded(0, 3 * TickMs));
        const QByteArray where = "trial " + QByteArray::number(trial) + ", kill after " +
                                 QByteArray::number(killAfterRecords) + " records";

        ConcurrentRuns runs;
        const int run = runs.start(QStringLiteral(CAIJI_BINARY), runArguments());
        // A new run starts although the killed one left its lock behind.
        QVERIFY2(
            waitUntil([&] { return largestRecordCount(runs.run(run).out) >= killAfterRecords; },
                      StageWaitMs),
            where.constData());
        QTest::qWait(extraMs);
        QVERIFY2(runs.process(run).state() == QProcess::Running, where.constData());
        runs.process(run).kill(); // SIGKILL
        runs.waitAll(StageWaitMs);
        QVERIFY2(!runs.run(run).finished, where.constData());

        const int counted = largestRecordCount(runs.run(run).out);
        QCOMPARE(integrityOf(database), u"ok"_s);
        const std::optional<QStringList> rows = databaseRows(database, ArticleFields);
        QVERIFY2(rows, where.constData());
        const QByteArray counts = where + ": " + QByteArray::number(counted) + " counted, " +
                                  QByteArray::number(rows->size()) + " stored";
        QVERIFY2(counted <= rows->size(), counts.constData());
    }

    QMap<QString, QByteArray> before = fileTree(m_workspace.root(), {u"task/"_s + m_task});
    before.remove(u".caiji.lock"_s); // the killed run's lock goes when a run ends
    // A transfer's file left by the killed run goes when the next run starts.
    QFile stale(m_workspace.wekDir(m_task) + u"/.caiji-00000000abcd.part"_s);
    QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("cut") == 3);
    stale.close();
    const ProgramRun last = runProgram(QStringLiteral(CAIJI_BINARY), runArguments(), RunBoundMs);
    const QString mismatch = firstMismatch(last, m_workspace.workspace(), before, site,
                                           {m_task, Tally{Pages, 0, Pages, 0, 0, 0}, 0});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(integrityOf(database), u"ok"_s);

    // Every killed run is in the history with its records counted.
    const ProgramRun history =
        runProgram(QStringLiteral(CAIJI_BINARY),
                   {u"history"_s, u"--workspace"_s, m_workspace.root(), m_task}, StageWaitMs);
    const QStringList lines = QString::fromUtf8(history.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + Trials);
    for (const QString &line : lines)
        QVERIFY2(line.section(u'\t', 1, 1).toInt() > 0, qPrintable(line));
}

void TestKillRun::signalsEndTheRunInOrder_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("window");
    QTest::newRow("Ctrl-C") << SIGINT << 130 << false;
    QTest::newRow("SIGTERM") << SIGTERM << 143 << false;
    QTest::newRow("closed terminal") << SIGHUP << 129 << false;
    QTest::newRow("the window, at logout") << SIGTERM << 143 << true;
}

void TestKillRun::signalsEndTheRunInOrder()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(bool, window);
    // Pictures come late, so downloads are in flight when the signal comes.
    constexpr int PictureDelayMs = 20000;
    const QString prefix = u"/s"_s + QString::number(signal) + (window ? u"w"_s : QString());
    FaultSite site{m_server, prefix, {}, {}};
    for (int n = 1; n <= Pages; ++n) {
        site.page(n, articlePage(site.title(n), site.picture(n)));
        m_server.setDelay(site.path(FaultSite::articleName(n)), PageDelayMs);
        m_server.setDelay(site.path(FaultSite::pictureName(n)), PictureDelayMs);
    }
    TempWorkspace workspace;
    QVERIFY(workspace.addTask(m_task, articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|"_s +
                                                  QString::number(Pages) + u"|1|.htm"_s)));
    ConcurrentRuns runs;
    const int run =
        runs.start(QStringLiteral(CAIJI_BINARY), {u"run"_s, u"--workspace"_s, workspace.root(),
                                                  u"--tick-ms"_s, QString::number(TickMs), m_task});
    QVERIFY(waitUntil([&] { return largestRecordCount(runs.run(run).out) >= 20; }, StageWaitMs));
    QVERIFY(!TempWorkspace::filesIn(workspace.wekDir(m_task)).isEmpty());
    ::kill(pid_t(runs.process(run).processId()), signal);
    const ProgramRun &ended = runs.finish(run, StageWaitMs);

    QCOMPARE(ended.exitCode, exitCode);
    const std::optional<QStringList> rows = databaseRows(workspace.databaseFile(m_task), 3);
    QVERIFY(rows && rows->size() >= 20);
    if (!window) {
        const std::optional<Tally> summary = summaryOf(ended.out, m_task);
        QVERIFY2(summary, ended.out.right(500).constData());
        QVERIFY(summary->downloadsFailed > 0); // the pictures in flight
        QCOMPARE(rows->size(), summary->stored);
    }
    QCOMPARE(TempWorkspace::filesIn(workspace.wekDir(m_task)), QStringList());
    QVERIFY(!QFile::exists(workspace.databaseFile(m_task) + u"-wal"_s));
    QVERIFY(!QFile::exists(workspace.root() + u"/.caiji.lock"_s));
}

QTEST_GUILESS_MAIN(TestKillRun)
#include "tst_killrun.moc"
