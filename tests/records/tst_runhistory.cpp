// Earlier runs' databases: which are moved aside and which deleted when a run
// starts, that a database left by a killed run keeps every committed record,
// and that only the newest runs are kept.
#include "records/recordstore.h"
#include "records/runhistory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestRunHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void retire_data();
    void retire();
    void killedRunKeepsCommittedRecords();
    void keepsNewestRuns();
};

namespace {

enum class Before { Nothing, EmptyTable, NoTables, Rows, NotADatabase };

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
    QTest::addColumn<bool>("kept");
    QTest::newRow("no database") << Before::Nothing << false;
    QTest::newRow("a table without rows") << Before::EmptyTable << false;
    QTest::newRow("no tables at all") << Before::NoTables << false;
    QTest::newRow("records") << Before::Rows << true;
    QTest::newRow("not a database") << Before::NotADatabase << true;
}

void TestRunHistory::retire()
{
    QFETCH(Before, before);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    const QString database = dir.filePath(u"data.mdb"_s);
    const QByteArray garbage = "these bytes are no database, but they may matter";
    if (before == Before::EmptyTable || before == Before::Rows) {
        RecordStore store;
        QVERIFY(store.create(database, 2));
        if (before == Before::Rows)
            QVERIFY(store.append(u"^a^b"_s) && store.append(u"^c^d"_s));
    } else if (before == Before::NoTables) {
        QVERIFY(writeBytes(database, QByteArray()));
    } else if (before == Before::NotADatabase) {
        QVERIFY(writeBytes(database, garbage));
    }

    RunHistory history(dir.path());
    QVERIFY(history.retire(database));
    QVERIFY(!QFile::exists(database));
    const QList<HistoryRun> runs = history.runs();
    QCOMPARE(runs.size(), kept ? 1 : 0);
    if (before == Before::Rows)
        QCOMPARE(RecordStore::readAll(runs[0].path, 2), QStringList({u"^a^b"_s, u"^c^d"_s}));
    if (before == Before::NotADatabase)
        QCOMPARE(bytesOf(runs[0].path), garbage);
    QCOMPARE(QDir(dir.path()).entryList({u"data.mdb*"_s}, QDir::Files), QStringList());
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

void TestRunHistory::keepsNewestRuns()
{
    QTemporaryDir dir;
    const QString database = dir.filePath(u"data.mdb"_s);
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    RunHistory history(dir.path(), 2); // fewer than five are never kept
    QCOMPARE(history.keep(), RunHistory::DefaultKeep);
    for (int run = 0; run < 8; ++run) {
        {
            RecordStore store;
            QVERIFY(store.create(database, 1));
            QVERIFY(store.append(u"^run "_s + QString::number(run)));
        }
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(start.addSecs(run * 60), QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(history.retire(database));
    }
    QStringList kept;
    for (const HistoryRun &run : history.runs())
        kept << RecordStore::readAll(run.path, 1)->value(0);
    QCOMPARE(kept, QStringList({u"^run 7"_s, u"^run 6"_s, u"^run 5"_s, u"^run 4"_s, u"^run 3"_s}));
}

QTEST_GUILESS_MAIN(TestRunHistory)
#include "tst_runhistory.moc"
