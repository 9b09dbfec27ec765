// Publishing into real PostgreSQL and MariaDB servers the test starts on
// 127.0.0.1: publishing again adds nothing and carries edits and deletions
// over, a run's name survives its move into the history, the password is
// found where the servers' own clients look, a server that stops in the
// middle of a run loses no record once it is back, publishers sharing a table
// never take each other's rows, and a row the server cannot take as it is
// fails alone, with its reason.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "databaseserver.h"
#include "engine/livepublisher.h"
#include "faultserver.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "records/serverdatabase.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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

// Names the one run of a database as an earlier publish would have.
bool nameRun(const QString &path, const QString &run)
{
    bool named = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"name-run"_s);
        db.setDatabaseName(path);
        QSqlQuery query(db);
        named = db.open() && query.exec(u"CREATE TABLE caiji_publish (run TEXT NOT NULL)"_s) &&
                query.exec(u"INSERT INTO caiji_publish VALUES ('%1')"_s.arg(run));
    }
    QSqlDatabase::removeDatabase(u"name-run"_s);
    return named;
}

QString serverName(const QString &kind)
{
    return kind == u"postgresql" ? u"PostgreSQL"_s : u"MariaDB"_s;
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
    void connectFailures_data();
    void connectFailures();
    void stoppedServerLosesNothing_data();
    void stoppedServerLosesNothing();
    void sharedTable_data();
    void sharedTable();
    void refusedRowFailsAlone_data();
    void refusedRowFailsAlone();
    void deletedNewestIsStillSent_data();
    void deletedNewestIsStillSent();

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

    QString quoted(const QString &kind, const QString &name) const
    {
        const QChar quote = kind == u"postgresql" ? u'"' : u'`';
        return quote + QString(name).replace(quote, QString(2, quote)) + quote;
    }
    // A task of the workspace holding `lines` in a database of three fields.
    bool addTask(TempWorkspace &workspace, const QString &task, const QStringList &lines)
    {
        RecordStore store;
        if (!workspace.addTask(task, articleTask(u"http://127.0.0.1:1/"_s)) ||
            !store.create(workspace.workspace().databaseFile(task), 3))
            return false;
        return std::all_of(lines.cbegin(), lines.cend(),
                           [&](const QString &line) { return store.append(line); });
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
    QTest::addColumn<QString>("task");
    QTest::newRow("PostgreSQL") << u"postgresql"_s << u"新闻-方案二"_s;
    QTest::newRow("MariaDB") << u"mariadb"_s << u"新闻-方案二"_s;
    QTest::newRow("PostgreSQL: a quote in the name") << u"postgresql"_s << u"新\"闻"_s;
    QTest::newRow("MariaDB: a backtick in the name") << u"mariadb"_s << u"新`闻"_s;
}

void TestPublish::publishingAgainAddsNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, task);
    DatabaseServer &db = server(kind);
    TempWorkspace workspace;
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
        return db.query(
            u"SELECT row_id, f1, f2, f3 FROM %1 ORDER BY row_id"_s.arg(quoted(kind, task)));
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
    QTest::addColumn<QString>("said"); // when it does not
    const QString noPassword =
        u"的 PostgreSQL 服务器：没有密码：写在 PGPASSWORD 或 ~/.pgpass 中（"_s;
    QTest::newRow("PostgreSQL: in the URL")
        << u"postgresql"_s << true << QByteArray() << false << true << QString();
    QTest::newRow("PostgreSQL: PGPASSWORD")
        << u"postgresql"_s << false << "PGPASSWORD"_ba << false << true << QString();
    QTest::newRow("PostgreSQL: ~/.pgpass")
        << u"postgresql"_s << false << QByteArray() << true << true << QString();
    QTest::newRow("PostgreSQL: none")
        << u"postgresql"_s << false << QByteArray() << false << false << noPassword;
    QTest::newRow("PostgreSQL: MYSQL_PWD is not its password")
        << u"postgresql"_s << false << "MYSQL_PWD"_ba << false << false << noPassword;
    QTest::newRow("MariaDB: MYSQL_PWD")
        << u"mariadb"_s << false << "MYSQL_PWD"_ba << false << true << QString();
    QTest::newRow("MariaDB: none") << u"mariadb"_s << false << QByteArray() << false << false
                                   << u"的 MySQL 服务器：没有密码：写在 MYSQL_PWD 中（"_s;
}

void TestPublish::passwordSources()
{
    QFETCH(QString, kind);
    QFETCH(bool, inUrl);
    QFETCH(QByteArray, variable);
    QFETCH(bool, pgpass);
    QFETCH(bool, opens);
    QFETCH(QString, said);
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
    // A refusal says why in the user's words, the driver's after them.
    QVERIFY2(connection.lastError().contains(said), qPrintable(connection.lastError()));
}

void TestPublish::connectFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("url"); // PORT: the server's; the password comes from the environment
    QTest::addColumn<QString>("said");
    for (const QString &kind : {u"postgresql"_s, u"mariadb"_s}) {
        const QString scheme = kind == u"postgresql" ? u"postgresql"_s : u"mysql"_s;
        const QString server = kind == u"postgresql" ? u"PostgreSQL"_s : u"MySQL"_s;
        const QByteArray name = serverName(kind).toUtf8();
        QTest::addRow("%s: nothing listens", name.constData())
            << kind << scheme + u"://caiji@127.0.0.1:1/caiji"_s
            << u"无法连接到 127.0.0.1:1 的 %1 服务器：连接被拒绝（"_s.arg(server);
        QTest::addRow("%s: no such database", name.constData())
            << kind << scheme + u"://caiji@127.0.0.1:PORT/没有"_s
            << u"无法连接到 127.0.0.1:PORT 的 %1 服务器：没有数据库没有（"_s.arg(server);
        QTest::addRow("%s: a wrong password", name.constData())
            << kind << scheme + u"://caiji:wrong@127.0.0.1:PORT/caiji"_s
            << u"无法连接到 127.0.0.1:PORT 的 %1 服务器：用户名或密码不对（"_s.arg(server);
    }
}

void TestPublish::connectFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, url);
    QFETCH(QString, said);
    const QString port = QString::number(server(kind).port());
    qputenv(kind == u"postgresql" ? "PGPASSWORD" : "MYSQL_PWD",
            DatabaseServer::password().toUtf8());
    QString why;
    ServerConnection connection(*ServerAddress::parse(url.replace(u"PORT"_s, port), &why));
    QVERIFY(!connection.open());
    QVERIFY2(connection.lastError().startsWith(said.replace(u"PORT"_s, port)),
             qPrintable(connection.lastError()));
}

void TestPublish::stoppedServerLosesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("backDuringRun");
    QTest::newRow("PostgreSQL back during the run") << u"postgresql"_s << true;
    QTest::newRow("MariaDB back during the run") << u"mariadb"_s << true;
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
    const QString task = u"断线"_s + kind + (backDuringRun ? u"-回来"_s : u""_s);
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

void TestPublish::sharedTable_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("setting");
    for (const QString &kind : {u"postgresql"_s, u"mariadb"_s}) {
        const QByteArray name = serverName(kind).toUtf8();
        QTest::addRow("%s: two tasks, one run name", name.constData()) << kind << u"one run"_s;
        QTest::addRow("%s: a table of the earlier version", name.constData())
            << kind << u"earlier"_s;
        QTest::addRow("%s: four publishers make the table at once", name.constData())
            << kind << u"at once"_s;
    }
    QTest::newRow("PostgreSQL: another program makes the table meanwhile")
        << u"postgresql"_s << u"meanwhile"_s;
}

void TestPublish::sharedTable()
{
    QFETCH(QString, kind);
    QFETCH(QString, setting);
    DatabaseServer &db = server(kind);
    const bool postgres = kind == u"postgresql";
    const QString table =
        u"共享-"_s + QString::fromLatin1(QTest::currentDataTag()).section(u':', 1);
    const QString run = u"20261208-101500"_s; // both tasks started in the same second
    const int tasks = setting == u"at once" ? 4 : setting == u"meanwhile" ? 1 : 2;
    TempWorkspace workspace;
    QStringList perTask;
    for (int t = 1; t <= tasks; ++t) {
        const QString task = u"任务"_s + QString::number(t);
        QStringList lines;
        for (int r = 1; r <= 5; ++r)
            lines << u"^%1^%2^x"_s.arg(task).arg(r);
        QVERIFY(addTask(workspace, task, lines));
        QVERIFY(nameRun(workspace.workspace().databaseFile(task), run));
        perTask << task + u"\t5"_s;
    }
    if (setting == u"earlier") {
        // As the earlier version left it: keyed by run and row alone,
        // holding what task 1 published.
        QString rows;
        for (int r = 1; r <= 5; ++r)
            rows += u"%1('%2', %3, '2026-12-08 10:15:00', '任务1', '%3', 'x')"_s.arg(
                r == 1 ? u""_s : u", "_s, run, QString::number(r));
        QVERIFY2(!db.query(u"CREATE TABLE %1 (run %2 NOT NULL, row_id BIGINT NOT NULL, collected "
                           "%3 NOT NULL, f1 TEXT, f2 TEXT, f3 TEXT, PRIMARY KEY (run, row_id)); "
                           "INSERT INTO %1 VALUES %4"_s.arg(
                               quoted(kind, table), postgres ? u"TEXT"_s : u"VARCHAR(64)"_s,
                               postgres ? u"TIMESTAMPTZ"_s : u"DATETIME"_s, rows))
                      .isNull(),
                 qPrintable(db.error()));
    }
    const auto publish = [&](int t) {
        return QStringList{
            u"publish"_s, u"--workspace"_s, workspace.root(), u"任务"_s + QString::number(t),
            u"--to"_s,    db.url(),         u"--table"_s,     table};
    };
    // The other program's transaction, still open when caiji makes the table.
    QSqlDatabase other = QSqlDatabase::addDatabase(u"QPSQL"_s, u"other"_s);
    const auto closeOther = qScopeGuard([&] {
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(u"other"_s);
    });
    if (setting == u"meanwhile") {
        other.setHostName(u"127.0.0.1"_s);
        other.setPort(db.port());
        other.setDatabaseName(u"caiji"_s);
        other.setUserName(u"caiji"_s);
        other.setPassword(DatabaseServer::password());
        QVERIFY2(other.open() && other.transaction(), qPrintable(other.lastError().text()));
        QSqlQuery create(other);
        QVERIFY(create.exec(u"CREATE TABLE %1 (source TEXT NOT NULL DEFAULT '', task TEXT NOT "
                            "NULL DEFAULT '', run TEXT NOT NULL, row_id BIGINT NOT NULL, "
                            "collected TIMESTAMPTZ NOT NULL, f1 TEXT, f2 TEXT, f3 TEXT, PRIMARY "
                            "KEY (source, run, row_id))"_s.arg(quoted(kind, table))));
    }
    ConcurrentRuns runs;
    for (int t = 1; t <= tasks; ++t) {
        runs.start(QStringLiteral(CAIJI_BINARY), publish(t), passwordEnvironment());
        if (setting == u"meanwhile") {
            QVERIFY(waitUntil(
                [&] {
                    return db.query(u"SELECT count(*) FROM pg_stat_activity WHERE "
                                    "application_name = 'caiji' AND wait_event_type = 'Lock'"_s) ==
                           u"1"_s;
                },
                RunBoundMs));
            QVERIFY(other.commit());
        }
        if (setting != u"at once")
            runs.finish(t - 1, RunBoundMs);
    }
    runs.waitAll(RunBoundMs);
    for (int t = 1; t <= tasks; ++t) {
        const ProgramRun &done = runs.run(t - 1);
        QVERIFY2(done.exitCode == 0, done.err.constData());
        // Task 1's rows of the earlier table are taken as its own.
        QVERIFY2(done.out.contains(setting == u"earlier" && t == 1 ? "0 added, 0 updated"
                                                                   : "5 added, 0 updated"),
                 done.out.constData());
    }
    // Publishing again takes no other task's rows.
    const ProgramRun again = caiji(publish(1));
    QVERIFY2(again.out.contains("0 added, 0 updated, 0 deleted, 0 failed"), again.out.constData());
    QCOMPARE(db.query(u"SELECT task, count(*) FROM %1 GROUP BY task ORDER BY task"_s.arg(
                 quoted(kind, table))),
             perTask.join(u'\n'));
}

void TestPublish::refusedRowFailsAlone_data()
{
    QTest::addColumn<QString>("table"); // made before, in its own way
    QTest::addColumn<QString>("value"); // the second of three records holds it in f2
    QTest::addColumn<QString>("reason");
    QTest::newRow("four-byte characters in a utf8mb3 table")
        << u"CREATE TABLE t (source VARCHAR(40) NOT NULL, task VARCHAR(255) NOT NULL, run "
           "VARCHAR(64) NOT NULL, row_id BIGINT NOT NULL, collected DATETIME NOT NULL, f1 TEXT, "
           "f2 TEXT, f3 TEXT, PRIMARY KEY (source, run, row_id)) DEFAULT CHARSET=utf8mb3"_s
        << u"表情😀和𠀀"_s << u"第2行（%1）：列f2不能存四字节字符（utf8mb3）"_s;
    QTest::newRow("a record over max_allowed_packet")
        << QString() << QString(1200 * 1024, u'x')
        << u"第2行（%1）：记录有1.2MB，超过服务器一次能收的1.0MB（max_allowed_packet）"_s;
}

void TestPublish::refusedRowFailsAlone()
{
    QFETCH(QString, table);
    QFETCH(QString, value);
    QFETCH(QString, reason);
    DatabaseServer &db = *m_mariadb;
    QVERIFY2(!db.query(u"DROP TABLE IF EXISTS t; "_s + table).isNull(), qPrintable(db.error()));
    TempWorkspace workspace;
    QVERIFY(addTask(workspace, u"t"_s, {u"^1^前^x"_s, u"^2^"_s + value + u"^x"_s, u"^3^后^x"_s}));
    QVERIFY(nameRun(workspace.workspace().databaseFile(u"t"_s), u"r"_s));
    const ProgramRun run =
        caiji({u"publish"_s, u"--workspace"_s, workspace.root(), u"t"_s, u"--to"_s, db.url()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains("2 added, 0 updated, 0 deleted, 1 failed"), run.out.constData());
    QVERIFY2(QString::fromUtf8(run.err).contains(reason.arg(u"r"_s)), run.err.constData());
    // Never stored changed.
    QCOMPARE(db.query(u"SELECT row_id, f2 FROM t ORDER BY row_id"_s), u"1\t前\n3\t后"_s);
}

void TestPublish::deletedNewestIsStillSent_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("PostgreSQL") << u"postgresql"_s;
    QTest::newRow("MariaDB") << u"mariadb"_s;
}

void TestPublish::deletedNewestIsStillSent()
{
    QFETCH(QString, kind);
    DatabaseServer &db = server(kind);
    qputenv(kind == u"postgresql" ? "PGPASSWORD" : "MYSQL_PWD",
            DatabaseServer::password().toUtf8());
    QTemporaryDir dir;
    const QString path = dir.filePath(u"data.mdb"_s);
    RecordStore store;
    QVERIFY(store.create(path, 1, true));
    store.startRun();
    for (const QString &line : {u"^a"_s, u"^b"_s, u"^c"_s})
        QVERIFY(store.append(line, line));
    LivePublisher publisher;
    QSignalSpy finished(&publisher, &LivePublisher::finished);
    publisher.follow(u"t"_s, path, db.url(), u"live"_s);
    const auto rows = [&] { return db.query(u"SELECT row_id FROM live ORDER BY row_id"_s); };
    QVERIFY(waitUntil([&] { return rows() == u"1\n2\n3"_s; }, RunBoundMs));
    // The record browser deletes the newest record right after it was sent.
    QVERIFY(RecordStore::removeRow(path, 3));
    QVERIFY(store.append(u"^d"_s, u"d"_s));
    publisher.finish(u"t"_s);
    QVERIFY(publisher.waitForFinished(RunBoundMs));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(1).value<PublishOutcome>().added, 4);
    QCOMPARE(rows(), u"1\n2\n3\n4"_s);
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
