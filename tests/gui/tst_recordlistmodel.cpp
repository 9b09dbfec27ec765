// The record lists read their rows a page at a time, only as rows are shown,
// and keep no more than a bounded number of lines.
#include "gui/recordlistmodel.h"
#include "text/names.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestRecordListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsPagesOnDemand_data();
    void readsPagesOnDemand();
    void changesReadAgain();
};

using Reads = QList<QPair<int, int>>; // (first row, count) of each read

namespace {

QString line(int row)
{
    return u"^记录"_s + QString::number(row) + u"^value"_s;
}

struct CountingReader
{
    Reads *calls;
    QStringList operator()(int first, int count) const
    {
        calls->append({first, count});
        QStringList lines;
        for (int row = first; row < first + count; ++row)
            lines << line(row);
        return lines;
    }
};

} // namespace

void TestRecordListModel::readsPagesOnDemand_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<Reads>("reads");
    QTest::newRow("nothing shown, nothing read") << 30000 << QList<int>{} << Reads{};
    QTest::newRow("one row reads the page around it")
        << 30000 << QList<int>{15000, 15001, 14951} << Reads{{14950, 100}};
    QTest::newRow("the first and the last rows")
        << 30000 << QList<int>{0, 29999} << Reads{{0, 100}, {29949, 51}};
    QTest::newRow("a short list") << 3 << QList<int>{2, 0} << Reads{{0, 3}};
}

void TestRecordListModel::readsPagesOnDemand()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, shown);
    QFETCH(Reads, reads);
    Reads calls;
    RecordListModel model;
    model.reset(rows, CountingReader{&calls});
    QCOMPARE(model.rowCount(), rows);
    for (int row : shown)
        QCOMPARE(model.data(model.index(row)).toString(), rus(line(row)));
    QCOMPARE(calls, reads);

    // Walking every row reads each page about once, whatever the length.
    calls.clear();
    for (int row = 0; row < rows; ++row)
        QCOMPARE(model.recordLine(row), line(row));
    qsizetype read = 0;
    for (const auto &call : calls)
        read += call.second;
    QVERIFY2(read <= 2 * rows, qPrintable(QString::number(read)));
}

void TestRecordListModel::changesReadAgain()
{
    Reads calls;
    RecordListModel model;
    model.reset(2, CountingReader{&calls});
    model.appendRow(u"^just stored"_s); // known, never read
    QCOMPARE(model.recordLine(2), u"^just stored"_s);
    QCOMPARE(calls.size(), 0);
    QCOMPARE(model.recordLine(0), line(0));
    QCOMPARE(calls.size(), 1);
    model.refreshRow(0);
    QCOMPARE(model.recordLine(0), line(0));
    QCOMPARE(calls.size(), 2);
    model.removeRecord(0);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.recordLine(0), line(0)); // the reader now says what row 0 holds
}

QTEST_GUILESS_MAIN(TestRecordListModel)
#include "tst_recordlistmodel.moc"
