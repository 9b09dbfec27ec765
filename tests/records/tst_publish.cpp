// Publishing into real PostgreSQL and MariaDB servers the test starts on
// 127.0.0.1: publishing again adds nothing and carries edits and deletions
// over, a run's name survives its move into the history, the password is
// found where the servers' own clients look, and a server that stops in the
// middle of a run loses no record once it is back.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "databaseserver.h"
#include "faultserver.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "records/serverdatabase.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int RunBoundMs = 90000;
constexpr int Pages = 40;
constexpr int PageDelayMs = 500; // a run long enough to stop the server in
// Longer than the live publisher takes between two looks.
constexpr int LivePublisherGapMs = 2500;

QProcessEnvironment passwordEnvironment()
{
    QProcessEnvironment environment;
    environment.insert(u"PGPASSWORD"_s, DatabaseServer::password());
    environment.insert(u"MYSQL_PWD"_s, DatabaseServer::password());
    return environment;
}

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void publishingAgainAddsNothing_data();
    void publishingAgainAddsNothing();
    void passwordSources_data();
    void passwordSources();
    void stoppedServerLosesNothing_data();
    void stoppedServerLosesNothing();

private:
    DatabaseServer &server(const QString &kind)
    {
        return kind == u"postgresql" ? *m_postgres : *m_mariadb;
    }
    ProgramRun caiji(const QStringList &arguments)
    {
        return runProgram(QStringLiteral(CAIJI_BINARY), arguments, RunBoundMs,
                          passwordEnvironment());
    }

    std::unique_ptr<DatabaseServer> m_postgres;
    std::unique_ptr<DatabaseServer> m_mariadb;
    FaultServer m_site;
};

void TestPublish::initTestCase()
{
    m_postgres = std::make_unique<DatabaseServer>(DatabaseServer::Kind::PostgreSql);
    m_mariadb = std::make_unique<DatabaseServer>(DatabaseServer::Kind::MariaDb);
    QVERIFY2(m_postgres->start(), qPrintable(m_postgres->error()));
    QVERIFY2(m_mariadb->start(), qPrintable(m_mariadb->error()));
    QVERIFY(m_site.listen());
}

void TestPublish::publishingAgainAddsNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("PostgreSQL") << u"postgresql"_s;
    QTest::newRow("MariaDB") << u"mariadb"_s;
}

void TestPublish::publishingAgainAddsNothing()
{
    QFETCH(QString, kind);
    DatabaseServer &db = server(kind);
    TempWorkspace workspace;
    const QString task = u"新闻-方案二"_s;
    QVERIFY(workspace.addTask(task, articleTask(u"http://127.0.0.1:1/"_s)));
    const QString path = workspace.workspace().databaseFile(task);
    {
        RecordStore store;
        QVERIFY(store.create(path, 3));
        for (const QString &line : {u"^a^标题一^x"_s, u"^b^标题二^"_s, u"^c^'\"`;^z"_s})
            QVERIFY(store.append(line));
    }
    const QStringList publish{u"publish"_s, u"--workspace"_s, workspace.root(),
                              task,         u"--to"_s,        db.url()};
    const auto serverRows = [&] {
        return db.query(u"SELECT row_id, f1, f2, f3 FROM %1 ORDER BY row_id"_s.arg(
            kind == u"postgresql" ? u"\"新闻-方案二\""_s : u"`新闻-方案二`"_s));
    };
    // Each step and what it leaves on the server.
    const struct
    {
        std::function<void()> change;
        QString counts;
        QString rows;
    } steps[] = {
        {[] {}, u"3 added, 0 updated, 0 deleted, 0 failed"_s,
         u"1\ta\t标题一\tx\n2\tb\t标题二\t\n3\tc\t'\"`;\tz"_s},
        {[] {}, u"0 added, 0 updated, 0 deleted, 0 failed"_s, {}},
        {[&] {
             RecordStore::updateRow(path, 2, {{1, u"改过"_s}});
             RecordStore::removeRow(path, 3);
         },
         u"0 added, 1 updated, 1 deleted, 0 failed"_s, u"1\ta\t标题一\tx\n2\tb\t改过\t"_s},
        // Moved into the history, the run keeps the name it was published
        // under.
        {[&] { QVERIFY(RunHistory(QFileInfo(path).absolutePath()).retire(path)); },
         u"0 added, 0 updated, 0 deleted, 0 failed"_s, u"1\ta\t标题一\tx\n2\tb\t改过\t"_s},
    };
    QString expectedRows;
    for (const auto &step : steps) {
        step.change();
        QStringList arguments = publish;
        if (!QFile::exists(path)) {
            const QList<HistoryRun> runs = RunHistory(QFileInfo(path).absolutePath()).runs();
            QCOMPARE(runs.size(), 1);
            arguments << u"--run"_s << runs.first().name;
        }
        const ProgramRun run = caiji(arguments);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY2(run.out.contains(step.counts.toUtf8()), run.out.constData());
        if (!step.rows.isEmpty())
            expectedRows = step.rows;
        QCOMPARE(serverRows(), expectedRows);
    }
}

void TestPublish::passwordSources_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("inUrl");
    QTest::addColumn<QByteArray>("variable"); // set to the password
    QTest::addColumn<bool>("pgpass");
    QTest::addColumn<bool>("opens");
    QTest::newRow("PostgreSQL: in the URL")
        << u"postgresql"_s << true << QByteArray() << false << true;
    QTest::newRow("PostgreSQL: PGPASSWORD")
        << u"postgresql"_s << false << "PGPASSWORD"_ba << false << true;
    QTest::newRow("PostgreSQL: ~/.pgpass")
        << u"postgresql"_s << false << QByteArray() << true << true;
    QTest::newRow("PostgreSQL: none") << u"postgresql"_s << false << QByteArray() << false << false;
    QTest::newRow("MariaDB: MYSQL_PWD") << u"mariadb"_s << false << "MYSQL_PWD"_ba << false << true;
    QTest::newRow("MariaDB: none") << u"mariadb"_s << false << QByteArray() << false << false;
}

void TestPublish::passwordSources()
{
    QFETCH(QString, kind);
    QFETCH(bool, inUrl);
    QFETCH(QByteArray, variable);
    QFETCH(bool, pgpass);
    QFETCH(bool, opens);
    DatabaseServer &db = server(kind);
    QTemporaryDir home;
    const QString passFile = home.filePath(u".pgpass"_s);
    if (pgpass) {
        QFile file(passFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"127.0.0.1:%1:caiji:caiji:%2\n"_s.arg(db.port())
                       .arg(DatabaseServer::password())
                       .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    qputenv("PGPASSFILE", QFile::encodeName(passFile));
    for (const char *name : {"PGPASSWORD", "MYSQL_PWD"})
        qunsetenv(name);
    if (!variable.isEmpty())
        qputenv(variable.constData(), DatabaseServer::password().toUtf8());
    QString url = db.url();
    if (inUrl)
        url.replace(u"caiji@"_s, u"caiji:"_s + DatabaseServer::password() + u'@');
    QString why;
    ServerConnection connection(*ServerAddress::parse(url, &why));
    const bool opened = connection.open();
    for (const char *name : {"PGPASSWORD", "MYSQL_PWD", "PGPASSFILE"})
        qunsetenv(name);
    QVERIFY2(opened == opens, qPrintable(connection.lastError()));
    // A refusal names the server's reason.
    QVERIFY(opens || !connection.lastError().isEmpty());
}

void TestPublish::stoppedServerLosesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("backDuringRun");
    QTest::newRow("PostgreSQL back during the run") << u"postgresql"_s << true;
    QTest::newRow("MariaDB gone till the run ends") << u"mariadb"_s << false;
}

void TestPublish::stoppedServerLosesNothing()
{
    QFETCH(QString, kind);
    QFETCH(bool, backDuringRun);
    DatabaseServer &db = server(kind);
    const QString prefix = u"/stop-"_s + kind;
    FaultSite site{m_site, prefix, {}, {}};
    for (int n = 1; n <= Pages; ++n) {
        site.page(n, articlePage(site.title(n), QString()));
        m_site.setDelay(site.path(FaultSite::articleName(n)), PageDelayMs);
    }
    TempWorkspace workspace;
    const QString task = u"断线"_s + kind;
    QVERIFY(workspace.addTask(task, articleTask(u"1|"_s + site.url(u"art"_s) + u"|1|"_s +
                                                QString::number(Pages) + u"|1|.htm"_s)));
    const QString table = kind == u"postgresql" ? u"\"%1\""_s.arg(task) : u"`%1`"_s.arg(task);
    const auto published = [&] {
        const QString count = db.query(u"SELECT count(*) FROM %1"_s.arg(table));
        return count.isEmpty() ? -1 : count.toInt();
    };

    ConcurrentRuns runs;
    const int run = runs.start(QStringLiteral(CAIJI_BINARY),
                               {u"run"_s, u"--workspace"_s, workspace.root(), u"--tick-ms"_s,
                                u"100"_s, u"--publish"_s, db.url(), task},
                               passwordEnvironment());
    QVERIFY(waitUntil([&] { return published() > 0; }, RunBoundMs));
    db.stop();
    if (backDuringRun) {
        QTest::qWait(LivePublisherGapMs);
        QVERIFY2(db.restart(), qPrintable(db.error()));
    }
    const ProgramRun &ended = runs.finish(run, RunBoundMs);
    QVERIFY(ended.finished);
    if (backDuringRun) {
        // The rows the live publisher could not send went at its next look.
        QVERIFY2(ended.exitCode == 0, ended.err.constData());
        QCOMPARE(published(), Pages);
    } else {
        // Counted as not published, and said so.
        QVERIFY2(ended.exitCode == 1 && ended.out.contains(",发布失败"),
                 QByteArray(ended.out.right(300) + ended.err.right(300)).constData());
        QVERIFY2(db.restart(), qPrintable(db.error()));
    }
    const ProgramRun again =
        caiji({u"publish"_s, u"--workspace"_s, workspace.root(), task, u"--to"_s, db.url()});
    QVERIFY2(again.exitCode == 0, again.err.constData());
    QCOMPARE(published(), Pages);
    QCOMPARE(RecordStore::count(workspace.workspace().databaseFile(task)).value_or(-1), Pages);
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
