// The page stash: which pages it keeps, how often it gives them back, and its
// disk budget.
#include "engine/pagestash.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestPageStash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void script_data();
    void script();
};

void TestPageStash::script_data()
{
    QTest::addColumn<qint64>("budget");
    // Steps: "e A" expects A, "o A page" offers a page, "t A page" takes and
    // expects that page back ("-": none), "c" clears.
    QTest::addColumn<QString>("steps");

    const qint64 roomy = PageStash::DefaultBudget;
    QTest::newRow("kept for an expected address, once")
        << roomy << u"e a; o a one; t a one; t a -"_s;
    QTest::newRow("not kept for an unexpected address") << roomy << u"o a one; t a -"_s;
    QTest::newRow("the first page stays") << roomy << u"e a; o a one; o a two; t a one"_s;
    QTest::newRow("taken before its page came: a later page is not kept")
        << roomy << u"e a; t a -; o a one; t a -"_s;
    QTest::newRow("pages come back in any order")
        << roomy << u"e a; e b; e c; o c three; o a one; o b two; t b two; t c three; t a one"_s;
    QTest::newRow("clear forgets pages and addresses")
        << roomy << u"e a; o a one; c; t a -; o a one; t a -"_s;
    QTest::newRow("a page over the budget is not kept, a smaller one is")
        << qint64(6) << u"e a; e b; o a 1234; o b 567; t b -; t a 1234"_s;
    QTest::newRow("space is used again once every page was taken")
        << qint64(6) << u"e a; e b; o a 1234; t a 1234; o b 56789; t b 56789"_s;
    QTest::newRow("space is not used again while a page waits")
        << qint64(6) << u"e a; e b; e c; o a 1; o b 22; t a 1; o c 333; t b 22; t c 333"_s;
    QTest::newRow("an empty page is not kept") << roomy << u"e a; o a ; t a -"_s;
}

void TestPageStash::script()
{
    QFETCH(qint64, budget);
    QFETCH(QString, steps);

    PageStash stash(budget);
    for (const QString &step : steps.split(u"; "_s)) {
        const QStringList words = step.split(u' ');
        const QString url = u"http://site/"_s + words.value(1);
        const QByteArray page = words.value(2).toUtf8();
        if (words[0] == u"e") {
            stash.expect(url);
        } else if (words[0] == u"o") {
            stash.offer(url, page);
        } else if (words[0] == u"c") {
            stash.clear();
        } else {
            const std::optional<QByteArray> taken = stash.take(url);
            QVERIFY2(taken.has_value() == (page != "-"), qPrintable(step));
            if (taken)
                QCOMPARE(*taken, page);
        }
    }
    QCOMPARE(stash.pagesKept(), 0);
}

QTEST_GUILESS_MAIN(TestPageStash)
#include "tst_pagestash.moc"
