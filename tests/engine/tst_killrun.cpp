// "caiji run" killed with SIGKILL in the middle of a task, several times at
// moments drawn from a fixed seed: every record the status lines counted is
// in the database, the database is sound, and the next run on the same
// workspace starts despite the dead run's lock and collects everything.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "tempworkspace.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

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
    void killedRunsLoseNothingCounted();

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

void TestKillRun::killedRunsLoseNothingCounted()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_server.listen());
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
    const ProgramRun last = runProgram(QStringLiteral(CAIJI_BINARY), runArguments(), RunBoundMs);
    const QString mismatch = firstMismatch(last, m_workspace.workspace(), before, site,
                                           {m_task, Tally{Pages, 0, Pages, 0, 0, 0}, 0});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(integrityOf(database), u"ok"_s);
}

QTEST_GUILESS_MAIN(TestKillRun)
#include "tst_killrun.moc"
