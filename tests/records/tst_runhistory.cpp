// Earlier runs' databases: which are moved aside and which deleted when a run
// starts, that a database left by a killed run or still read by another
// program keeps every committed record, and that only the newest runs are
// kept, runs with records and runs without counted apart.
#include "records/failurelog.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

Q_DECLARE_METATYPE(caiji::FailureEntry)

class TestRunHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void retire_data();
    void retire();
    void killedRunKeepsCommittedRecords();
    void keepsNewestRuns_data();
    void keepsNewestRuns();
    void keepRunsFromSettings();
    void failureListLineByLine_data();
    void failureListLineByLine();
};

namespace {

enum class Before { Nothing, EmptyTable, NoTables, Rows, NotADatabase };
// Where the database went: deleted, into the history, or apart.
enum class Went { Gone, History, Apart };
// Beside the database: its list of failures, a log and index of garbage, or
// a real sqlite3 reader that began reading before the rows were written (so
// they stay in the write-ahead log).
enum class Beside { Nothing, Failures, Log, Reader };

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

void TestRunHistory::retire_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<Beside>("beside");
    QTest::addColumn<Went>("went");
    QTest::newRow("no database") << Before::Nothing << Beside::Nothing << Went::Gone;
    QTest::newRow("a table without rows") << Before::EmptyTable << Beside::Nothing << Went::Gone;
    QTest::newRow("no tables at all") << Before::NoTables << Beside::Nothing << Went::Gone;
    QTest::newRow("records") << Before::Rows << Beside::Nothing << Went::History;
    QTest::newRow("not a database") << Before::NotADatabase << Beside::Nothing << Went::Apart;
    QTest::newRow("not a database, with a log")
        << Before::NotADatabase << Beside::Log << Went::Apart;
    QTest::newRow("no rows, but failures listed")
        << Before::EmptyTable << Beside::Failures << Went::History;
    QTest::newRow("records in the log, a reader holding the database")
        << Before::Rows << Beside::Reader << Went::History;
}

void TestRunHistory::retire()
{
    QFETCH(Before, before);
    QFETCH(Beside, beside);
    QFETCH(Went, went);
    QTemporaryDir dir;
    const QString database = dir.filePath(u"data.mdb"_s);
    const QByteArray garbage = "these bytes are no database, but they may matter";
    QProcess reader;
    if (before == Before::EmptyTable || before == Before::Rows) {
        RecordStore store;
        QVERIFY(store.create(database, 2));
        if (beside == Beside::Reader) {
            const QString sqlite3 = QStandardPaths::findExecutable(u"sqlite3"_s);
            if (sqlite3.isEmpty())
                QSKIP("sqlite3 is not installed");
            reader.start(sqlite3, {database});
            QVERIFY(reader.waitForStarted());
            reader.write("BEGIN; SELECT 'reading', count(*) FROM data;\n");
            QVERIFY(reader.waitForReadyRead(10000));
            QVERIFY(reader.readAll().startsWith("reading"));
        }
        if (before == Before::Rows)
            QVERIFY(store.append(u"^a^b"_s) && store.append(u"^c^d"_s));
    } else if (before == Before::NoTables) {
        QVERIFY(writeBytes(database, QByteArray()));
    } else if (before == Before::NotADatabase) {
        QVERIFY(writeBytes(database, garbage));
    }
    if (beside == Beside::Log) {
        QVERIFY(writeBytes(database + u"-wal"_s, garbage + "-wal"));
        QVERIFY(writeBytes(database + u"-shm"_s, garbage + "-shm"));
    }
    if (beside == Beside::Failures)
        QVERIFY(writeBytes(FailureLog::fileFor(database), "下载\tHTTP 404\thttp://a/1.png\n"));
    if (beside == Beside::Reader)
        QVERIFY2(QFileInfo(database + u"-wal"_s).size() > 0, "the rows are not in the log");

    RunHistory history(dir.path());
    QString notice;
    QVERIFY(history.retire(database, nullptr, &notice));
    reader.close();
    QVERIFY(!QFile::exists(database));
    const QList<HistoryRun> runs = history.runs();
    QCOMPARE(runs.size(), went == Went::History ? 1 : 0);
    if (before == Before::Rows)
        QCOMPARE(RecordStore::readAll(runs[0].path, 2), QStringList({u"^a^b"_s, u"^c^d"_s}));
    if (beside == Beside::Failures)
        QCOMPARE(FailureLog::read(runs[0].path)->size(), 1);
    const QStringList apart = QDir(history.unreadableDirectory()).entryList(QDir::Files);
    QCOMPARE(apart.size(), went == Went::Apart ? (beside == Beside::Log ? 3 : 1) : 0);
    QCOMPARE(notice.isEmpty(), went != Went::Apart);
    for (const QString &name : apart) {
        const QString suffix = name.mid(name.indexOf(u".mdb"_s) + 4);
        QCOMPARE(bytesOf(history.unreadableDirectory() + u'/' + name), garbage + suffix.toUtf8());
    }
    QCOMPARE(QDir(dir.path()).entryList({u"data*"_s}, QDir::Files), QStringList());
}

void TestRunHistory::killedRunKeepsCommittedRecords()
{
    // A copy taken while the writer still holds its connection is what a
    // killed run leaves: the database file and its write-ahead log.
    QTemporaryDir live;
    QTemporaryDir killed;
    RecordStore store;
    QVERIFY(store.create(live.filePath(u"data.mdb"_s), 1));
    QStringList lines;
    for (int i = 0; i < 50; ++i) {
        lines << u"^record "_s + QString::number(i);
        QVERIFY(store.append(lines.last()));
    }
    QVERIFY(QFile::exists(live.filePath(u"data.mdb-wal"_s)));
    for (const QString &name : {u"data.mdb"_s, u"data.mdb-wal"_s})
        QVERIFY(QFile::copy(live.filePath(name), killed.filePath(name)));

    RunHistory history(killed.path());
    QVERIFY(history.retire(killed.filePath(u"data.mdb"_s)));
    QCOMPARE(history.runs().size(), 1);
    QCOMPARE(RecordStore::readAll(history.runs()[0].path, 1), lines);
}

void TestRunHistory::keepsNewestRuns_data()
{
    // Runs with records first, then runs that failed (a failure list only).
    QTest::addColumn<int>("collected");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QStringList>("kept"); // the first record of each kept run, newest first
    QTest::newRow("records only") << 8 << 0
                                  << QStringList{u"^run 7"_s, u"^run 6"_s, u"^run 5"_s, u"^run 4"_s,
                                                 u"^run 3"_s};
    QTest::newRow("failed runs never push out records")
        << 2 << 7 << QStringList{u""_s, u""_s, u""_s, u""_s, u""_s, u"^run 1"_s, u"^run 0"_s};
}

void TestRunHistory::keepsNewestRuns()
{
    QFETCH(int, collected);
    QFETCH(int, failed);
    QFETCH(QStringList, kept);
    QTemporaryDir dir;
    const QString database = dir.filePath(u"data.mdb"_s);
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    RunHistory history(dir.path(), 2); // fewer than five are never kept
    QCOMPARE(history.keep(), RunHistory::DefaultKeep);
    for (int run = 0; run < collected + failed; ++run) {
        {
            RecordStore store;
            QVERIFY(store.create(database, 1));
            if (run < collected)
                QVERIFY(store.append(u"^run "_s + QString::number(run)));
            else
                QVERIFY(writeBytes(FailureLog::fileFor(database), "列表页\t超时\thttp://a/\n"));
        }
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(start.addSecs(run * 60), QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(history.retire(database));
    }
    QStringList first;
    for (const HistoryRun &run : history.runs())
        first << RecordStore::readAll(run.path, 1)->value(0);
    QCOMPARE(first, kept);
}

void TestRunHistory::keepRunsFromSettings()
{
    // Seven runs of a task whose site is down, each leaving a list of what
    // failed, by `caiji run` and by `caiji` without a display, with
    // keepRuns=6 in the user's settings: six earlier runs are kept, not five.
    constexpr int Runs = 7;
    QTemporaryDir config;
    QVERIFY(QDir(config.path()).mkpath(u"caiji"_s));
    QVERIFY(writeBytes(config.filePath(u"caiji/caiji.conf"_s), "[history]\nkeepRuns=6\n"));
    caiji::test::TempWorkspace workspace;
    // A start page that is no web address fails at once, without retries.
    QVERIFY(workspace.addTask(u"a"_s, u"ur=[[2|ftp://127.0.0.1/|10||||||]]uc=[[1]]"_s));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
    for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(display));
    for (int run = 0; run < Runs; ++run) {
        QProcess caiji;
        caiji.setProcessEnvironment(environment);
        const QStringList options{u"--workspace"_s, workspace.root(), u"--tick-ms"_s, u"10"_s};
        caiji.start(QStringLiteral(CAIJI_BINARY),
                    run % 2 == 0 ? QStringList{u"run"_s} + options + QStringList{u"a"_s} : options);
        QVERIFY(caiji.waitForFinished(30000));
        QCOMPARE(caiji.exitCode(), 1); // the site is down
    }
    QCOMPARE(RunHistory(workspace.taskDir(u"a"_s) + u"/data"_s).runs().size(), 6);
}

void TestRunHistory::failureListLineByLine_data()
{
    QTest::addColumn<FailureEntry>("written");
    QTest::addColumn<FailureEntry>("read");
    QTest::newRow("plain") << FailureEntry{u"下载"_s, u"HTTP 404"_s, u"http://a/1.png"_s}
                           << FailureEntry{u"下载"_s, u"HTTP 404"_s, u"http://a/1.png"_s};
    QTest::newRow("a tab in the reason") << FailureEntry{u"记录"_s, u"no such\ttable"_s, u"^a^b"_s}
                                         << FailureEntry{u"记录"_s, u"no such table"_s, u"^a^b"_s};
    QTest::newRow("line breaks in a refused record")
        << FailureEntry{u"记录"_s, u"full"_s, u"^a\r\nb^c\nd"_s}
        << FailureEntry{u"记录"_s, u"full"_s, u"^a  b^c d"_s};
}

void TestRunHistory::failureListLineByLine()
{
    QFETCH(FailureEntry, written);
    QFETCH(FailureEntry, read);
    QTemporaryDir dir;
    const QString database = dir.filePath(u"data.mdb"_s);
    FailureLog log;
    QVERIFY(log.open(database));
    QVERIFY(log.append(written));
    // A reader sees the line while the run still writes (or after it was killed).
    const std::optional<QList<FailureEntry>> entries = FailureLog::read(database);
    QVERIFY(entries && entries->size() == 1);
    QCOMPARE(entries->first().kind, read.kind);
    QCOMPARE(entries->first().reason, read.reason);
    QCOMPARE(entries->first().address, read.address);
}

QTEST_GUILESS_MAIN(TestRunHistory)
#include "tst_runhistory.moc"
