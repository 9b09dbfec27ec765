// The PostgreSQL job queue against a real server the test starts on
// 127.0.0.1 and the demo site: claims skip locked jobs and only the holder
// completes one; two `caiji worker`s drain six jobs together; a worker
// killed mid-job has its job finished by another with every record
// published once; a repeating job waits for its next time; bad arguments.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "databaseserver.h"
#include "demosite/statichttpserver.h"
#include "engine/jobqueue.h"
#include "tempworkspace.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int RunBoundMs = 40000;
const QString News = u"新闻-方案一"_s;
const QString List = u"列表-多记录"_s;

Job jobOf(const QString &task)
{
    Job job;
    job.task = job.table = task;
    job.definition = "x";
    return job;
}

} // namespace

class TestJobQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void claimSkipsLockedJobs();
    void onlyTheHolderCompletes();
    void twoWorkersDrainSixJobs();
    void killedWorkersJobIsFinishedOnce_data();
    void killedWorkersJobIsFinishedOnce();
    void stoppedWorkerGivesTheJobBack();
    void everyPutsTheJobBack();
    void jobOutcomes_data();
    void jobOutcomes();
    void badArguments_data();
    void badArguments();

private:
    ProgramRun caiji(const QStringList &arguments)
    {
        return runProgram(QStringLiteral(CAIJI_BINARY), arguments, RunBoundMs, m_environment);
    }
    QStringList worker(const QString &workspace, const QStringList &more = {}) const
    {
        return QStringList{u"worker"_s, u"--queue"_s,   m_db->url(), u"--workspace"_s,
                           workspace,   u"--tick-ms"_s, u"30"_s} +
               more;
    }
    // The demo task `example` collecting pages 1 to `last` of the demo site.
    void addDemoTask(TempWorkspace &workspace, const QString &example, int last);
    // "id state worker attempts records", one a line, and the rows published
    // per run as "run count max(row_id)".
    QString jobs()
    {
        return m_db->query(u"SELECT id, state, worker, attempts, records "
                           "FROM caiji_jobs ORDER BY id"_s);
    }
    QString published(const QString &table)
    {
        return m_db->query(u"SELECT run, count(*), max(row_id) FROM \"%1\" GROUP BY run "
                           "ORDER BY run"_s.arg(table));
    }

    std::unique_ptr<DatabaseServer> m_db;
    StaticHttpServer m_site;
    TempWorkspace m_tasks;
    QProcessEnvironment m_environment;
};

void TestJobQueue::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    m_db = std::make_unique<DatabaseServer>(DatabaseServer::Kind::PostgreSql);
    if (!m_db->start()) {
        if (m_db->error() == u"PostgreSQL is not installed")
            QSKIP("PostgreSQL's initdb is missing (Debian: postgresql)");
        QFAIL(qPrintable(m_db->error()));
    }
    m_environment.insert(u"PGPASSWORD"_s, DatabaseServer::password());
    qputenv("PGPASSWORD", DatabaseServer::password().toUtf8());
    m_site.setRoot(QStringLiteral(CAIJI_SOURCE_DIR) + u"/examples/demo-site"_s);
    QVERIFY(m_site.listen());
    // Slow enough that two workers share the jobs and one can be killed mid-job.
    for (int n = 1; n <= 40; ++n)
        m_site.setDelay(u"/news/%1.html"_s.arg(n), 150);
    addDemoTask(m_tasks, News, 6);
    addDemoTask(m_tasks, List, 2);
}

void TestJobQueue::init()
{
    QVERIFY2(!m_db->query(u"DROP SCHEMA public CASCADE; CREATE SCHEMA public"_s).isNull(),
             qPrintable(m_db->error()));
}

void TestJobQueue::addDemoTask(TempWorkspace &workspace, const QString &example, int last)
{
    QFile file(QStringLiteral(CAIJI_SOURCE_DIR) + u"/examples/workspace/task/"_s + example +
               u"/data/task.txt"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    text.replace(u"127.0.0.1:8391"_s, u"127.0.0.1:"_s + QString::number(m_site.port()));
    text.replace(QRegularExpression(u"\\|1\\|\\d+\\|1\\|\\.html"_s), u"|1|%1|1|.html"_s.arg(last));
    QVERIFY(workspace.addTask(example, text));
}

void TestJobQueue::claimSkipsLockedJobs()
{
    QString why;
    ServerConnection connection(*ServerAddress::parse(m_db->url(), &why));
    JobQueue queue(&connection);
    QVERIFY2(queue.prepare(&why), qPrintable(why));
    for (const QString &task : {u"a"_s, u"b"_s})
        QVERIFY(queue.enqueue(jobOf(task), &why));
    // Another worker in the middle of claiming job 1 holds its row.
    ServerConnection other(connection.address());
    QVERIFY(other.open());
    QSqlDatabase db = other.database();
    QVERIFY(db.transaction());
    QSqlQuery lock(db);
    QVERIFY(lock.exec(u"SELECT id FROM caiji_jobs WHERE id = 1 FOR UPDATE"_s));
    QVERIFY(QSqlQuery(connection.database()).exec(u"SET statement_timeout = 3000"_s));
    const std::optional<Job> claimed = queue.claim(u"w"_s, 60, {}, &why);
    QVERIFY2(claimed, qPrintable(why));
    QCOMPARE(claimed->id, 2);
    QVERIFY(!queue.claim(u"w"_s, 60, {}, &why) && why.isEmpty());
    db.rollback();
    // A task already running in this workspace is left for another worker.
    QVERIFY(!queue.claim(u"w"_s, 60, {u"a"_s}, &why) && why.isEmpty());
    QCOMPARE(queue.claim(u"w"_s, 60, {u"b"_s}, &why).value_or(Job()).id, 1);
}

void TestJobQueue::onlyTheHolderCompletes()
{
    QString why;
    ServerConnection connection(*ServerAddress::parse(m_db->url(), &why));
    JobQueue queue(&connection);
    QVERIFY2(queue.prepare(&why), qPrintable(why));
    QVERIFY(queue.enqueue(jobOf(u"t"_s), &why));
    const std::optional<Job> first = queue.claim(u"first"_s, 60, {}, &why);
    QVERIFY2(first, qPrintable(why));
    QVERIFY(!queue.claim(u"second"_s, 60, {}, &why)); // its lease holds
    m_db->query(u"UPDATE caiji_jobs SET lease_until = now() - interval '1 second'"_s);
    const std::optional<Job> second = queue.claim(u"second"_s, 60, {}, &why);
    QVERIFY2(second && second->attempts == 2, qPrintable(why));

    const QList<PublishRow> rows{{first->runName(), 1, {}, {u"甲"_s}},
                                 {first->runName(), 2, {}, {u"乙"_s}}};
    QCOMPARE(queue.renew(*first, 60, &why), JobQueue::Lease::Lost);
    QCOMPARE(queue.complete(*first, {u"s1"_s, {}, 2, 0}, rows, &why), JobQueue::Completion::Lost);
    QVERIFY(!queue.fail(*first, u"x"_s, &why) && !queue.release(*first, &why));
    QCOMPARE(m_db->query(u"SELECT to_regclass('t') IS NULL OR (SELECT count(*) FROM t) = 0"_s),
             u"t"_s);
    QCOMPARE(queue.renew(*second, 60, &why), JobQueue::Lease::Held);
    QCOMPARE(queue.complete(*second, {u"s2"_s, {}, 2, 0}, rows, &why), JobQueue::Completion::Done);
    QCOMPARE(jobs(), u"1\tdone\tsecond\t2\t2"_s);
    QCOMPARE(published(u"t"_s), u"job1-1\t2\t2"_s);
}

void TestJobQueue::twoWorkersDrainSixJobs()
{
    QVERIFY(caiji({u"enqueue"_s, u"--workspace"_s, m_tasks.root(), u"--queue"_s, m_db->url(), News,
                   List, News, List, News, List})
                .exitCode == 0);
    TempWorkspace first;
    TempWorkspace second;
    ConcurrentRuns runs;
    runs.start(QStringLiteral(CAIJI_BINARY),
               worker(first.root(), {u"--until-empty"_s, u"--jobs"_s, u"2"_s}), m_environment);
    const int single = runs.start(QStringLiteral(CAIJI_BINARY),
                                  worker(second.root(), {u"--until-empty"_s}), m_environment);
    const QString singleName =
        QSysInfo::machineHostName() + u':' + QString::number(runs.process(single).processId());
    runs.waitAll(RunBoundMs);
    for (int i = 0; i < runs.size(); ++i)
        QVERIFY2(runs.run(i).exitCode == 0, runs.run(i).err.constData());

    // Each job done once, by one of the two, both taking part.
    const QStringList lines = jobs().split(u'\n');
    QCOMPARE(lines.size(), 6);
    QSet<QString> workers;
    QMap<QString, qint64> stored; // per table
    for (const QString &line : lines) {
        const QStringList job = line.split(u'\t');
        QVERIFY2(job[1] == u"done" && job[3] == u"1", qPrintable(line));
        workers << job[2];
        stored[job[0].toInt() % 2 ? News : List] += job[4].toLongLong();
    }
    QCOMPARE(workers.size(), 2);
    QCOMPARE(stored[News], 18);
    QCOMPARE(stored[List], 60);
    // What the summaries say was stored is what was published, once.
    const QString summaries = m_db->query(u"SELECT string_agg(summary, ' ') FROM caiji_jobs"_s);
    QCOMPARE(summaries.count(u"记录存储6,"_s), 3);
    QCOMPARE(summaries.count(u"记录存储20,"_s), 3);
    QCOMPARE(published(News), u"job1-1\t6\t6\njob3-1\t6\t6\njob5-1\t6\t6"_s);
    QCOMPARE(published(List), u"job2-1\t20\t20\njob4-1\t20\t20\njob6-1\t20\t20"_s);
    // No worker ran more jobs at once than its --jobs.
    const QString mostAtOnce = u"SELECT max(n) FROM (SELECT count(*) AS n FROM caiji_jobs a JOIN "
                               "caiji_jobs b ON a.worker = b.worker AND b.started <= a.started AND "
                               "a.started < b.ended WHERE a.worker %1 GROUP BY a.id) o"_s;
    QVERIFY(m_db->query(mostAtOnce.arg(u"<> '%1'"_s.arg(singleName))).toInt() <= 2);
    QCOMPARE(m_db->query(mostAtOnce.arg(u"= '%1'"_s.arg(singleName))), u"1"_s);
    // Never two runs of one task in one workspace at once.
    QCOMPARE(m_db->query(u"SELECT count(*) FROM caiji_jobs a JOIN caiji_jobs b ON a.id < b.id "
                         "AND a.task = b.task AND a.worker = b.worker AND a.started < b.ended "
                         "AND b.started < a.ended"_s),
             u"0"_s);
}

void TestJobQueue::killedWorkersJobIsFinishedOnce_data()
{
    QTest::addColumn<bool>("waitForLease");
    QTest::newRow("another worker after the lease ran out") << true;
    // --until-empty waits for the lease rather than leaving the job behind.
    QTest::newRow("another worker at once") << false;
}

void TestJobQueue::killedWorkersJobIsFinishedOnce()
{
    QFETCH(bool, waitForLease);
    TempWorkspace tasks;
    addDemoTask(tasks, News, 40);
    QVERIFY(caiji({u"enqueue"_s, u"--workspace"_s, tasks.root(), u"--queue"_s, m_db->url(), News})
                .exitCode == 0);
    TempWorkspace killed;
    ConcurrentRuns runs;
    const int run = runs.start(QStringLiteral(CAIJI_BINARY),
                               worker(killed.root(), {u"--lease"_s, u"5"_s}), m_environment);
    QVERIFY(waitUntil([&] { return largestRecordCount(runs.run(run).out) >= 5; }, RunBoundMs));
    runs.process(run).kill(); // SIGKILL
    runs.waitAll(5000);
    // It stored records, published none and still holds the job.
    QVERIFY(databaseRows(killed.databaseFile(News), 5).value_or(QStringList()).size() >= 5);
    QCOMPARE(jobs().section(u'\t', 1, 1), u"running"_s);
    QCOMPARE(m_db->query(u"SELECT to_regclass('\"%1\"') IS NULL"_s.arg(News)), u"t"_s);
    // caiji jobs says when its lease ends, and when it has run out.
    const QString leaseEnd =
        m_db->query(u"SELECT to_char(lease_until, 'YYYY-MM-DD HH24:MI:SS') FROM caiji_jobs"_s);
    const auto listedLease = [&] {
        return QString::fromUtf8(caiji({u"jobs"_s, u"--queue"_s, m_db->url()}).out)
            .section(u'\n', 0, 0)
            .section(u'\t', 9);
    };
    QCOMPARE(listedLease(), leaseEnd);

    if (waitForLease) {
        QVERIFY(waitUntil(
            [&] { return m_db->query(u"SELECT lease_until < now() FROM caiji_jobs"_s) == u"t"; },
            10000));
        QCOMPARE(listedLease(), leaseEnd + u" (run out)"_s);
    }
    TempWorkspace other;
    const ProgramRun finished = caiji(worker(other.root(), {u"--until-empty"_s}));
    QVERIFY2(finished.exitCode == 0, finished.err.constData());
    const QStringList job = jobs().split(u'\t');
    QCOMPARE(job.value(1), u"done"_s);
    QCOMPARE(job.value(3), u"2"_s); // claimed twice
    QCOMPARE(job.value(4), u"40"_s);
    QCOMPARE(published(News), u"job1-1\t40\t40"_s);
}

void TestJobQueue::stoppedWorkerGivesTheJobBack()
{
    TempWorkspace tasks;
    addDemoTask(tasks, News, 40);
    QVERIFY(caiji({u"enqueue"_s, u"--workspace"_s, tasks.root(), u"--queue"_s, m_db->url(), News})
                .exitCode == 0);
    TempWorkspace stopped;
    ConcurrentRuns runs;
    const int run = runs.start(QStringLiteral(CAIJI_BINARY), worker(stopped.root()), m_environment);
    QVERIFY(waitUntil([&] { return largestRecordCount(runs.run(run).out) >= 3; }, RunBoundMs));
    ::kill(pid_t(runs.process(run).processId()), SIGTERM);
    QCOMPARE(runs.finish(run, RunBoundMs).exitCode, 0);
    // Back in the queue at once, nothing published: another worker takes it
    // without waiting for a lease to run out.
    const QString state = u"SELECT state, attempts, records, to_regclass('\"%1\"') IS NULL "
                          "FROM caiji_jobs"_s.arg(News);
    QCOMPARE(m_db->query(state), u"waiting\t1\t\tt"_s);
    TempWorkspace other;
    QCOMPARE(caiji(worker(other.root(), {u"--until-empty"_s})).exitCode, 0);
    QCOMPARE(m_db->query(state), u"done\t2\t40\tf"_s);
    QCOMPARE(published(News), u"job1-1\t40\t40"_s);
}

void TestJobQueue::everyPutsTheJobBack()
{
    QVERIFY(caiji({u"enqueue"_s, u"--workspace"_s, m_tasks.root(), u"--queue"_s, m_db->url(),
                   u"--every"_s, u"6h"_s, List})
                .exitCode == 0);
    TempWorkspace workspace;
    for (int pass = 0; pass < 2; ++pass) // the second finds nothing due
        QCOMPARE(caiji(worker(workspace.root(), {u"--until-empty"_s})).exitCode, 0);
    QCOMPARE(m_db->query(u"SELECT state, cycle, next_at - started BETWEEN interval '5:59:59' AND "
                         "interval '6:00:01' FROM caiji_jobs"_s),
             u"waiting\t2\tt"_s);
    QCOMPARE(published(List), u"job1-1\t20\t20"_s);
    const ProgramRun listed = caiji({u"jobs"_s, u"--queue"_s, m_db->url(), u"--json"_s});
    const QJsonObject json = QJsonDocument::fromJson(listed.out).object();
    const QJsonObject only = json[u"jobs"_s].toArray().first().toObject();
    QCOMPARE(only[u"records"_s].toInt(), 20);
    QVERIFY(QDateTime::fromString(only[u"next"_s].toString(), Qt::ISODate) >
            QDateTime::currentDateTime().addSecs(5 * 3600));
    QCOMPARE(json[u"counts"_s].toObject()[u"waiting"_s].toInt(), 1);
}

void TestJobQueue::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString url = u"postgresql://caiji@127.0.0.1:1/caiji"_s;
    QTest::newRow("worker without --queue") << QStringList{u"worker"_s};
    QTest::newRow("jobs without --queue") << QStringList{u"jobs"_s};
    QTest::newRow("enqueue without --queue") << QStringList{u"enqueue"_s, News};
    QTest::newRow("a MySQL queue") << QStringList{u"jobs"_s, u"--queue"_s, u"mysql://u@h/db"_s};
    QTest::newRow("no URL") << QStringList{u"worker"_s, u"--queue"_s, u"queue"_s};
    QTest::newRow("no task") << QStringList{u"enqueue"_s, u"--queue"_s, url};
    QTest::newRow("unknown task") << QStringList{u"enqueue"_s, u"--queue"_s, url, u"无此任务"_s};
    QTest::newRow("bad --every") << QStringList{u"enqueue"_s, u"--queue"_s, url,
                                                u"--every"_s, u"weekly"_s,  News};
    QTest::newRow("--jobs 0") << QStringList{u"worker"_s, u"--queue"_s, url, u"--jobs"_s, u"0"_s};
    QTest::newRow("--lease 2") << QStringList{u"worker"_s, u"--queue"_s, url, u"--lease"_s, u"2"_s};
}

void TestJobQueue::badArguments()
{
    QFETCH(QStringList, arguments);
    if (arguments.first() != u"jobs")
        arguments << u"--workspace"_s << m_tasks.root();
    const ProgramRun run = caiji(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QByteArray());
    QVERIFY(run.err.startsWith("caiji: "));
}

void TestJobQueue::jobOutcomes_data()
{
    QTest::addColumn<QStringList>("enqueue"); // options and tasks, enqueued once each
    QTest::addColumn<QString>("settings");    // the tasks' data/settings.ini
    QTest::addColumn<int>("exitCode");        // of the worker with --until-empty
    QTest::addColumn<QString>("states");      // "state records" of each job
    QTest::addColumn<QString>("published");   // runs published into the table of News
    QTest::newRow("a job that cannot start fails")
        << QStringList{u"坏任务"_s} << QString() << 1 << u"failed\t"_s << QString();
    QTest::newRow("a daily job waits for its time")
        << QStringList{u"--every"_s,
                       QDateTime::currentDateTime().addSecs(7200).toString(u"HH:mm"_s), News}
        << QString() << 0 << u"waiting\t"_s << QString();
    QTest::newRow("an only-new task is a whole run each time")
        << QStringList{News, News} << u"[collect]\nonlyNew=true\n"_s << 0 << u"done\t6\ndone\t6"_s
        << u"job1-1\t6\t6\njob2-1\t6\t6"_s;
}

void TestJobQueue::jobOutcomes()
{
    QFETCH(QStringList, enqueue);
    QFETCH(QString, settings);
    QFETCH(int, exitCode);
    QFETCH(QString, states);
    QFETCH(QString, published);
    TempWorkspace tasks;
    addDemoTask(tasks, News, 6);
    QVERIFY(tasks.addTask(u"坏任务"_s, u"uc=[[0]]"_s));
    QFile ini(tasks.taskDir(News) + u"/data/settings.ini"_s);
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(settings.toUtf8()) >= 0);
    ini.close();
    const QStringList put{u"enqueue"_s, u"--workspace"_s, tasks.root(), u"--queue"_s, m_db->url()};
    QCOMPARE(caiji(put + enqueue).exitCode, 0);
    TempWorkspace workspace;
    const ProgramRun worked = caiji(worker(workspace.root(), {u"--until-empty"_s}));
    QVERIFY2(worked.exitCode == exitCode, worked.err.constData());
    QCOMPARE(m_db->query(u"SELECT state, records FROM caiji_jobs ORDER BY id"_s), states);
    const QString listed = QString::fromUtf8(caiji({u"jobs"_s, u"--queue"_s, m_db->url()}).out);
    QVERIFY2(listed.section(u'\n', 0, 0).section(u'\t', 2, 2) == states.section(u'\t', 0, 0),
             qPrintable(listed));
    if (!published.isEmpty())
        QCOMPARE(this->published(News), published);
}

QTEST_GUILESS_MAIN(TestJobQueue)
#include "tst_jobqueue.moc"
