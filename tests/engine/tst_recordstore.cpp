// The record database: the table a task start creates, record lines stored
// as rows, and the browser's position-based operations on its own connection
// while the collector's stays open.
#include "records/recordstore.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestRecordStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void createMakesNumberedTextColumns_data();
    void createMakesNumberedTextColumns();
    void appendStoresRecordLines_data();
    void appendStoresRecordLines();
    void shortLineLeavesNulls();
    void positionOperations();
    void positionsOutOfRange_data();
    void positionsOutOfRange();
    void browserWorksWhileCollectorOpen();
    void zeroFieldsStoresNothing();
    void recreateEmpties();
    void missingFileIsNotCreated();
    void rowIdsAreNeverReused_data();
    void rowIdsAreNeverReused();

private:
    QString path() const { return m_dir->filePath(u"data.mdb"_s); }
    // Runs `sql` on a connection of the test's own and returns the first column.
    QStringList column(const QString &sql);

    std::unique_ptr<QTemporaryDir> m_dir;
};

QStringList TestRecordStore::column(const QString &sql)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
        db.setDatabaseName(path());
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next())
                    values << (query.isNull(0) ? u"<null>"_s : query.value(0).toString());
            }
        }
    }
    QSqlDatabase::removeDatabase(u"check"_s);
    return values;
}

void TestRecordStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRecordStore::createMakesNumberedTextColumns_data()
{
    QTest::addColumn<int>("fieldCount");
    QTest::newRow("1") << 1;
    QTest::newRow("3") << 3;
    QTest::newRow("12") << 12;
}

void TestRecordStore::createMakesNumberedTextColumns()
{
    QFETCH(int, fieldCount);
    RecordStore store;
    QVERIFY(store.create(path(), fieldCount));
    QVERIFY(store.isOpen());
    QStringList expected;
    for (int i = 1; i <= fieldCount; ++i)
        expected << u"字段"_s + QString::number(i);
    QCOMPARE(column(u"SELECT name FROM pragma_table_info('data') ORDER BY cid"_s), expected);
    QCOMPARE(column(u"SELECT DISTINCT type FROM pragma_table_info('data')"_s),
             QStringList{u"TEXT"_s});
    QCOMPARE(column(u"SELECT name FROM sqlite_master"_s), QStringList{u"data"_s});
}

void TestRecordStore::appendStoresRecordLines_data()
{
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("full") << 3 << u"^abc^^12"_s << u"^abc^^12"_s;
    QTest::newRow("short") << 3 << u"^a"_s << u"^a^^"_s;
    QTest::newRow("long: the rest is dropped") << 2 << u"^a^b^c^d"_s << u"^a^b"_s;
    QTest::newRow("chinese and quotes")
        << 2 << u"^标题,\"引号\"^繁體"_s << u"^标题,\"引号\"^繁體"_s;
    QTest::newRow("empty line") << 2 << QString() << u"^^"_s;
    QTest::newRow("line breaks kept") << 1 << u"^a\r\nb"_s << u"^a\r\nb"_s;
}

void TestRecordStore::appendStoresRecordLines()
{
    QFETCH(int, fieldCount);
    QFETCH(QString, line);
    QFETCH(QString, readBack);
    RecordStore store;
    QVERIFY(store.create(path(), fieldCount));
    QVERIFY(store.append(line));
    QCOMPARE(RecordStore::readAll(path(), fieldCount), QStringList{readBack});
    QCOMPARE(RecordStore::read(path(), fieldCount, 0), readBack);
}

void TestRecordStore::shortLineLeavesNulls()
{
    RecordStore store;
    QVERIFY(store.create(path(), 3));
    QVERIFY(store.append(u"^a^"_s));
    QCOMPARE(column(u"SELECT 字段2 FROM data"_s), QStringList{QString()});
    QCOMPARE(column(u"SELECT 字段3 FROM data"_s), QStringList{u"<null>"_s});
}

void TestRecordStore::positionOperations()
{
    RecordStore store;
    QVERIFY(store.create(path(), 2));
    for (const QString &line : {u"^a^1"_s, u"^b^2"_s, u"^c^3"_s})
        QVERIFY(store.append(line));
    QCOMPARE(RecordStore::read(path(), 2, 1), u"^b^2"_s);

    QVERIFY(RecordStore::update(path(), 1, {{1, u"二"_s}}));
    QCOMPARE(RecordStore::read(path(), 2, 1), u"^b^二"_s);
    QVERIFY(RecordStore::update(path(), 2, {{0, u"x"_s}, {1, u"y"_s}}));

    QVERIFY(RecordStore::remove(path(), 0));
    // Later rows move up one position.
    QCOMPARE(RecordStore::readAll(path(), 2), QStringList({u"^b^二"_s, u"^x^y"_s}));
    QCOMPARE(RecordStore::read(path(), 2, 0), u"^b^二"_s);
    QVERIFY(store.append(u"^d^4"_s));
    QCOMPARE(RecordStore::readAll(path(), 2), QStringList({u"^b^二"_s, u"^x^y"_s, u"^d^4"_s}));
}

void TestRecordStore::positionsOutOfRange_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("negative") << -1;
    QTest::newRow("one past the end") << 2;
    QTest::newRow("far past") << 1000;
}

void TestRecordStore::positionsOutOfRange()
{
    QFETCH(int, position);
    RecordStore store;
    QVERIFY(store.create(path(), 1));
    QVERIFY(store.append(u"^a"_s));
    QVERIFY(store.append(u"^b"_s));
    QCOMPARE(RecordStore::read(path(), 1, position), std::nullopt);
    QVERIFY(!RecordStore::update(path(), position, {{0, u"x"_s}}));
    QVERIFY(!RecordStore::remove(path(), position));
    QCOMPARE(RecordStore::readAll(path(), 1), QStringList({u"^a"_s, u"^b"_s}));
}

void TestRecordStore::browserWorksWhileCollectorOpen()
{
    RecordStore store;
    QVERIFY(store.create(path(), 2));
    QVERIFY(store.append(u"^a^1"_s));
    // Each append is committed at once: another connection sees it.
    QCOMPARE(RecordStore::readAll(path(), 2), QStringList{u"^a^1"_s});
    QVERIFY(RecordStore::update(path(), 0, {{0, u"A"_s}}));
    QVERIFY(store.append(u"^b^2"_s));
    QVERIFY(RecordStore::remove(path(), 1));
    QVERIFY(store.append(u"^c^3"_s));
    QVERIFY(store.isOpen());
    QCOMPARE(RecordStore::readAll(path(), 2), QStringList({u"^A^1"_s, u"^c^3"_s}));
    // A column past the table is refused, the row is left alone.
    QVERIFY(!RecordStore::update(path(), 0, {{5, u"x"_s}}));
    QCOMPARE(RecordStore::read(path(), 2, 0), u"^A^1"_s);
}

void TestRecordStore::zeroFieldsStoresNothing()
{
    RecordStore store;
    QVERIFY(!store.create(path(), 0));
    QVERIFY(!store.append(u"^a"_s));
    QVERIFY(!store.append(QString()));
    QCOMPARE(RecordStore::readAll(path(), 0), std::nullopt);
    QVERIFY(!store.create(path(), -3));
    QVERIFY(!store.append(u"^a"_s));
}

void TestRecordStore::recreateEmpties()
{
    RecordStore store;
    QVERIFY(store.create(path(), 2));
    QVERIFY(store.append(u"^old^1"_s));
    store.close();
    QVERIFY(!store.isOpen());
    QVERIFY(!store.append(u"^closed^2"_s));

    QVERIFY(store.create(path(), 3));
    QCOMPARE(RecordStore::readAll(path(), 3), QStringList());
    QCOMPARE(column(u"SELECT count(*) FROM pragma_table_info('data')"_s), QStringList{u"3"_s});
    QVERIFY(store.append(u"^new^1^x"_s));
    QCOMPARE(RecordStore::readAll(path(), 3), QStringList{u"^new^1^x"_s});

    // Re-created while it is still open: the open connection is replaced.
    QVERIFY(store.create(path(), 1));
    QCOMPARE(RecordStore::readAll(path(), 1), QStringList());
}

void TestRecordStore::missingFileIsNotCreated()
{
    QCOMPARE(RecordStore::readAll(path(), 2), std::nullopt);
    QCOMPARE(RecordStore::read(path(), 2, 0), std::nullopt);
    QVERIFY(!RecordStore::update(path(), 0, {{0, u"x"_s}}));
    QVERIFY(!RecordStore::remove(path(), 0));
    QVERIFY(!QFile::exists(path()));
}

void TestRecordStore::rowIdsAreNeverReused_data()
{
    QTest::addColumn<bool>("traced");
    QTest::addColumn<bool>("continued"); // the newest row deleted between two runs
    QTest::newRow("newest deleted during the run") << false << false;
    QTest::newRow("newest deleted during a traced run") << true << false;
    QTest::newRow("newest deleted before the next run continues") << true << true;
}

void TestRecordStore::rowIdsAreNeverReused()
{
    QFETCH(bool, traced);
    QFETCH(bool, continued);
    RecordStore store;
    QVERIFY(store.create(path(), 1, traced));
    if (traced)
        store.startRun();
    for (const QString &line : {u"^a"_s, u"^b"_s, u"^c"_s})
        QVERIFY(store.append(line, line));
    QCOMPARE(store.lastRowId(), 3);
    QVERIFY(RecordStore::removeRow(path(), 3));
    QString why;
    if (continued)
        QVERIFY2(store.continueExisting(path(), 1, &why), qPrintable(why));
    QVERIFY(store.append(u"^d"_s, u"d"_s));
    // A publisher that sent row 3 before it was deleted still sees the new
    // record as new.
    QCOMPARE(store.lastRowId(), 4);
    QCOMPARE(column(u"SELECT rowid FROM data ORDER BY rowid"_s),
             QStringList({u"1"_s, u"2"_s, u"4"_s}));
    const QString identity = RecordStore::identity(path());
    QVERIFY(!identity.isEmpty());
    QCOMPARE(RecordStore::identity(path()), identity);
}

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"
