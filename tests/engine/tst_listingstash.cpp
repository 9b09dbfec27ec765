// The listing stash: which listings it keeps, how often it gives them back,
// and how it uses its segment files.
#include "engine/listingstash.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestListingStash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void script_data();
    void script();
};

void TestListingStash::script_data()
{
    QTest::addColumn<int>("segmentSize"); // 0: the default size and count
    QTest::addColumn<int>("segments");
    // Steps: "e A" expects A, "o A text" offers a listing, "t A text" takes
    // and expects that listing back ("-": none), "w A" and "n A" check that A
    // is or is not wanted, "c" clears.
    QTest::addColumn<QString>("steps");

    QTest::newRow("kept for an expected address, once")
        << 0 << 0 << u"n a; e a; w a; o a one; n a; t a one; n a; t a -"_s;
    QTest::newRow("not kept for an unexpected address") << 0 << 0 << u"o a one; t a -"_s;
    QTest::newRow("the first page stays") << 0 << 0 << u"e a; o a one; o a two; t a one"_s;
    QTest::newRow("taken before its page came: a later page is not kept")
        << 0 << 0 << u"e a; t a -; n a; o a one; t a -"_s;
    QTest::newRow("pages come back in any order")
        << 0 << 0 << u"e a; e b; e c; o c three; o a one; o b two; t b two; t c three; t a one"_s;
    QTest::newRow("clear forgets pages and addresses")
        << 0 << 0 << u"e a; o a one; c; t a -; o a one; t a -"_s;
    QTest::newRow("a page without links: its empty listing is kept")
        << 0 << 0 << u"e a; o a ; t a ; t a -"_s;
    QTest::newRow("text beyond ASCII") << 0 << 0 << u"e a; o a 新闻𝄞; t a 新闻𝄞"_s;
    QTest::newRow("every segment in use: not wanted, not kept")
        << 4 << 2
        << u"e a; e b; e c; o a 1234; o b 5678; n c; o c 9; t a 1234; w c; o c 9; t c 9; t b 5678"_s;
    QTest::newRow("a listing larger than a segment has one to itself")
        << 4 << 2 << u"e a; e b; o a 123456; o b 78; t a 123456; t b 78"_s;
    QTest::newRow("an emptied segment is written again")
        << 2 << 2 << u"e a; e b; e c; o a 12; o b 34; t a 12; o c 56; t b 34; t c 56"_s;
    QTest::newRow("a segment is not written again while a listing waits in it")
        << 4 << 1 << u"e a; e b; e c; o a 1; o b 22; t a 1; o c 333; t b 22; t c -"_s;
    QTest::newRow("a listing fills the rest of a segment")
        << 4 << 1 << u"e a; e b; o a 1; o b 234; t a 1; t b 234"_s;
}

void TestListingStash::script()
{
    QFETCH(int, segmentSize);
    QFETCH(int, segments);
    QFETCH(QString, steps);

    ListingStash stash = segmentSize > 0 ? ListingStash(segmentSize, segments) : ListingStash();
    for (const QString &step : steps.split(u"; "_s)) {
        const QStringList words = step.split(u' ');
        const QString url = u"http://site/"_s + words.value(1);
        const QString listing = words.value(2);
        if (words[0] == u"e") {
            stash.expect(url);
        } else if (words[0] == u"o") {
            stash.offer(url, listing);
        } else if (words[0] == u"w" || words[0] == u"n") {
            QVERIFY2(stash.wants(url) == (words[0] == u"w"), qPrintable(step));
        } else if (words[0] == u"c") {
            stash.clear();
        } else {
            const std::optional<QString> taken = stash.take(url);
            QVERIFY2(taken.has_value() == (listing != u"-"), qPrintable(step));
            if (taken)
                QCOMPARE(*taken, listing);
        }
    }
    QCOMPARE(stash.listingsKept(), 0);
}

QTEST_GUILESS_MAIN(TestListingStash)
#include "tst_listingstash.moc"
