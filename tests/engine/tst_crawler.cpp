// The list-page crawler on pages served from memory: slot timing, the content
// maximum, duplicate detection and the address and link-text tests.
#include "enginerig.h"
#include "text/names.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestCrawler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstTickRequestsStartPage();
    void slotFreeOnFourthTickAfterPage();
    void twoRequestsPerTickAtMost();
    void maximum_data();
    void maximum();
    void duplicatesQueuedOnce();
    void linkTests_data();
    void linkTests();
    void failedFetchCountedAndFreed();
    void contentPageServesListPage_data();
    void contentPageServesListPage();
};

namespace {

const QString Site = u"http://www.site.com/"_s;
const QString Start = Site + u"list.htm"_s;

// Scheme two from `Start`; `fields` holds scheme fields 3 to 9.
QString schemeTwo(const QString &maximum, const QString &fields)
{
    return taskFileText(u"2|"_s + Start + u'|' + maximum + u'|' + fields, u"2"_s);
}

// Each link is "address\ttext"; addresses without a scheme are on the site.
QByteArray listPage(const QStringList &links)
{
    QString html = u"<html><head><meta charset=utf-8><title>list</title></head><body>\n"_s;
    for (const QString &link : links) {
        QString href = link.section(u'\t', 0, 0);
        if (!href.isEmpty() && !href.contains(u':'))
            href = Site + href;
        html += u"<a href=\""_s + href + u"\">"_s + link.section(u'\t', 1) + u"</a>\n"_s;
    }
    return (html + u"</body></html>"_s).toUtf8();
}

QStringList contentEntries(const QStringList &names)
{
    QStringList entries;
    for (const QString &name : names)
        entries << u"1|"_s + Site + name + u'|';
    return entries;
}

QStringList onSite(const QStringList &names)
{
    QStringList addresses;
    for (const QString &name : names)
        addresses << Site + name;
    return addresses;
}

void startTask(EngineRig &rig, const QString &taskText)
{
    QVERIFY(rig.workspace.addTask(u"a"_s, taskText));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    QCOMPARE(rig.engine.timer2().interval(), 1000);
}

} // namespace

void TestCrawler::firstTickRequestsStartPage()
{
    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"art||list||||"_s));
    rig.listFetcher.setHanging(Start);
    rig.engine.crawlerTick();
    QCOMPARE(rig.listFetcher.calls().size(), 1);
    const FakeFetcher::Call call = rig.listFetcher.calls().first();
    QCOMPARE(call.index, 1);
    QCOMPARE(call.url, Start);
    QCOMPARE(call.file, rig.workspace.webDir(u"a"_s) + u'/' + name1(Start) + u" .txt"_s);
    QVERIFY(call.tag1.isEmpty() && call.tag2.isEmpty());
    QCOMPARE(rig.state().listCursor, 0);
    QCOMPARE(rig.state().waAge[1], 1);
}

void TestCrawler::slotFreeOnFourthTickAfterPage()
{
    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"art||list||||"_s));
    rig.listFetcher.setPage(Start, listPage({u"list2.htm\ttwo"_s, u"list3.htm\tthree"_s}));
    rig.listFetcher.setHanging(Site + u"list2.htm"_s);
    rig.listFetcher.setHanging(Site + u"list3.htm"_s);

    rig.crawlerRound();
    QCOMPARE(rig.state().listQueue, onSite({u"list.htm"_s, u"list2.htm"_s, u"list3.htm"_s}));
    QCOMPARE(rig.state().waAge[1], 96);
    QCOMPARE(rig.state().listPagesDone, 1);
    QVERIFY(TempWorkspace::filesIn(rig.workspace.webDir(u"a"_s)).isEmpty());

    rig.crawlerRound(); // slot 2 takes list2
    QCOMPARE(rig.listFetcher.calls().size(), 2);
    QCOMPARE(rig.listFetcher.calls()[1].index, 2);
    rig.crawlerRound();
    rig.crawlerRound();
    QCOMPARE(rig.listFetcher.calls().size(), 2);
    rig.crawlerRound(); // the fourth tick after the page arrived
    QCOMPARE(rig.listFetcher.calls().size(), 3);
    QCOMPARE(rig.listFetcher.calls()[2].index, 1);
    QCOMPARE(rig.listFetcher.calls()[2].url, Site + u"list3.htm"_s);
}

void TestCrawler::twoRequestsPerTickAtMost()
{
    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"art||list||||"_s));
    FakeFetcher &f = rig.listFetcher;
    f.setPage(Start, listPage({u"listA.htm\tA"_s, u"listB.htm\tB"_s}));
    f.setPage(Site + u"listA.htm"_s,
              listPage({u"listC.htm\tC"_s, u"listD.htm\tD"_s, u"listE.htm\tE"_s}));
    for (const QString &name : {u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s}) {
        const QString url = Site + u"list"_s + name + u".htm"_s;
        if (!name.startsWith(u'A'))
            f.setPage(url, listPage({}));
        f.setHanging(url);
    }

    rig.crawlerRound(); // slot 1: the start page, which arrives at once
    rig.crawlerRound(); // slot 2: A
    rig.crawlerRound();
    rig.crawlerRound();
    rig.crawlerRound(); // slot 1 again: B
    QCOMPARE(f.calledUrls(), QStringList({Start, Site + u"listA.htm"_s, Site + u"listB.htm"_s}));

    // Both pages arrive between the same two ticks, so both slots free up together.
    QVERIFY(f.deliver(Site + u"listA.htm"_s));
    QVERIFY(f.deliver(Site + u"listB.htm"_s));
    QCOMPARE(rig.state().listQueue.size(), 6);
    for (int i = 0; i < 3; ++i)
        rig.crawlerRound();
    QCOMPARE(f.calls().size(), 3);
    rig.crawlerRound();
    QCOMPARE(f.calls().size(), 5);
    QCOMPARE(f.calls()[3].index, 1);
    QCOMPARE(f.calls()[3].url, Site + u"listC.htm"_s);
    QCOMPARE(f.calls()[4].index, 2);
    QCOMPARE(f.calls()[4].url, Site + u"listD.htm"_s);
    rig.crawlerRound(); // both ages are low now
    QCOMPARE(f.calls().size(), 5);

    QVERIFY(f.deliver(Site + u"listC.htm"_s));
    QVERIFY(f.deliver(Site + u"listD.htm"_s));
    for (int i = 0; i < 4; ++i)
        rig.crawlerRound();
    QCOMPARE(f.calls().size(), 6);
    QCOMPARE(f.calls()[5].url, Site + u"listE.htm"_s);
    QCOMPARE(rig.state().listCursor, 5);
    QCOMPARE(rig.state().listPagesDone, 5);
}

void TestCrawler::maximum_data()
{
    QTest::addColumn<QString>("maximum");
    QTest::addColumn<int>("content");
    QTest::addColumn<QStringList>("listQueue");

    const QStringList notRequested{Start};
    // The list links after the tenth article are never examined.
    const QStringList tenQueued = onSite({u"list.htm"_s, u"list1.htm"_s, u"list2.htm"_s});
    QTest::newRow("0") << u"0"_s << 0 << notRequested;
    QTest::newRow("empty") << QString() << 0 << notRequested;
    QTest::newRow("not a number") << u"many"_s << 0 << notRequested;
    QTest::newRow("10") << u"10"_s << 10 << tenQueued;
    QTest::newRow("number at start") << u" 10 pages"_s << 10 << tenQueued;
    QTest::newRow("above the links")
        << u"100"_s << 30
        << onSite({u"list.htm"_s, u"list1.htm"_s, u"list2.htm"_s, u"list3.htm"_s, u"list4.htm"_s});
}

void TestCrawler::maximum()
{
    QFETCH(QString, maximum);
    QFETCH(int, content);
    QFETCH(QStringList, listQueue);

    EngineRig rig;
    startTask(rig, schemeTwo(maximum, u"art||list||||"_s));
    QStringList links{u"list1.htm\tone"_s, u"list2.htm\ttwo"_s};
    for (int i = 1; i <= 30; ++i)
        links << u"art"_s + QString::number(i) + u".htm\tarticle "_s + QString::number(i);
    links << u"list3.htm\tthree"_s << u"list4.htm\tfour"_s;
    rig.listFetcher.setPage(Start, listPage(links));
    for (int i = 1; i <= 4; ++i)
        rig.listFetcher.setHanging(Site + u"list"_s + QString::number(i) + u".htm"_s);

    for (int i = 0; i < 10; ++i)
        rig.crawlerRound();
    QCOMPARE(rig.state().contentQueue.size(), content);
    QCOMPARE(rig.state().listQueue, listQueue);
    if (content > 0)
        QCOMPARE(rig.state().contentQueue.last(),
                 u"1|"_s + Site + u"art"_s + QString::number(content) + u".htm|"_s);
    // Below the maximum the queued list pages are requested, at it none.
    const int requested = content == 0 ? 0 : (content < 30 ? 1 : 3);
    QCOMPARE(rig.listFetcher.calls().size(), requested);
}

void TestCrawler::duplicatesQueuedOnce()
{
    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"rt||list||||"_s));
    rig.listFetcher.setPage(Start, listPage({u"art1.htm\tfirst"_s, u"art1.htm\tfirst again"_s,
                                             u"list2.htm\tnext"_s, u"list-art.htm\tboth"_s}));
    rig.listFetcher.setPage(Site + u"list2.htm"_s,
                            listPage({u"art1.htm\tfirst"_s, u"Art1.htm\tupper case"_s,
                                      u"list.htm\tback to start"_s, u"list2.htm\tself"_s}));
    rig.listFetcher.setPage(Site + u"list-art.htm"_s, listPage({}));

    for (int i = 0; i < 20; ++i)
        rig.crawlerRound();
    QCOMPARE(rig.state().contentQueue,
             contentEntries({u"art1.htm"_s, u"list-art.htm"_s, u"Art1.htm"_s}));
    // Letter case makes a different address. The start page is not among the seen list pages, so a
    // link back queues it once more.
    QCOMPARE(rig.state().listQueue,
             onSite({u"list.htm"_s, u"list2.htm"_s, u"list-art.htm"_s, u"list.htm"_s}));
    QCOMPARE(rig.state().listPagesDone, 4);
}

void TestCrawler::linkTests_data()
{
    QTest::addColumn<QString>("fields"); // scheme fields 3 to 9
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("content");
    QTest::addColumn<QStringList>("lists");

    const QStringList none;
    QTest::newRow("content must contain all")
        << u"art^.htm||zzz||||"_s
        << QStringList{u"art1.htm\tone"_s, u"art2.php\ttwo"_s, u"news3.htm\tthree"_s}
        << QStringList{u"art1.htm"_s} << none;
    QTest::newRow("content must contain none")
        << u"art|print^copy|zzz||||"_s
        << QStringList{u"art1.htm\tone"_s, u"art1-print.htm\tprint"_s, u"copy-art.htm\tc"_s}
        << QStringList{u"art1.htm"_s} << none;
    QTest::newRow("list tests") << u"zzz||list|old|||"_s
                                << QStringList{u"list2.htm\ttwo"_s, u"list-old.htm\told"_s,
                                               u"page3.htm\tthree"_s}
                                << none << QStringList{u"list2.htm"_s};
    QTest::newRow("title of exactly the minimum fails, one more passes")
        << u"art||zzz||4||"_s
        << QStringList{u"art1.htm\tabcd"_s, u"art2.htm\tabcde"_s, u"art3.htm\t  ab  "_s}
        << QStringList{u"art2.htm"_s} << none;
    QTest::newRow("empty title fails the default minimum")
        << u"art||zzz||||"_s << QStringList{u"art1.htm\t"_s, u"art2.htm\tx"_s}
        << QStringList{u"art2.htm"_s} << none;
    QTest::newRow("title must contain any")
        << u"art||zzz|||新闻^体育|"_s
        << QStringList{u"art1.htm\t今日新闻"_s, u"art2.htm\t天气预报"_s, u"art3.htm\t体育快讯"_s}
        << QStringList{u"art1.htm"_s, u"art3.htm"_s} << none;
    QTest::newRow("title must contain none")
        << u"art||zzz||||广告"_s << QStringList{u"art1.htm\t广告新闻"_s, u"art2.htm\t新闻"_s}
        << QStringList{u"art2.htm"_s} << none;
    QTest::newRow("off-site and non-page links are skipped, the scan goes on")
        << u"art||list||||"_s
        << QStringList{u"http://other.net/art0.htm\toff"_s, u"art.jpg\tpicture"_s,
                       u"list2.htm\tlist"_s, u"art1.htm\tone"_s}
        << QStringList{u"art1.htm"_s} << QStringList{u"list2.htm"_s};
    QTest::newRow("link without an address does not end the scan")
        << u"art||zzz||||"_s << QStringList{u"\tno address"_s, u"art1.htm\tone"_s}
        << QStringList{u"art1.htm"_s} << none;
    QTest::newRow("fragment and trailing slashes dropped")
        << u"art||zzz||||"_s << QStringList{u"art1.htm#top\tone"_s, u"art/2/\ttwo"_s}
        << QStringList{u"art1.htm"_s, u"art/2"_s} << none;
    QTest::newRow("an address may end in ]")
        << u"art||zzz||||"_s << QStringList{u"art1.htm?x=]\tone"_s, u"art2.htm\ttwo"_s}
        << QStringList{u"art1.htm?x=]"_s, u"art2.htm"_s} << none;
    QTest::newRow("sub-domain of the same site")
        << u"art||zzz||||"_s << QStringList{u"http://news.site.com/art5.htm\tfive"_s}
        << QStringList{u"http://news.site.com/art5.htm"_s} << none;
}

void TestCrawler::linkTests()
{
    QFETCH(QString, fields);
    QFETCH(QStringList, links);
    QFETCH(QStringList, content);
    QFETCH(QStringList, lists);

    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, fields));
    rig.listFetcher.setPage(Start, listPage(links));
    for (const QString &list : lists)
        rig.listFetcher.setHanging(Site + list);
    rig.crawlerRound();

    QStringList expected;
    for (const QString &name : content)
        expected << u"1|"_s + (name.contains(u"://"_s) ? name : Site + name) + u'|';
    QCOMPARE(rig.state().contentQueue, expected);
    QCOMPARE(rig.state().listQueue, QStringList{Start} + onSite(lists));
}

void TestCrawler::failedFetchCountedAndFreed()
{
    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"art||list||||"_s));
    rig.listFetcher.setFailing(Start);
    rig.crawlerRound();
    QCOMPARE(rig.state().listPagesDone, 1);
    QCOMPARE(rig.state().waAge[1], 96);
    QVERIFY(rig.state().contentQueue.isEmpty());
    QCOMPARE(rig.state().listQueue, QStringList{Start});
    QVERIFY(TempWorkspace::filesIn(rig.workspace.webDir(u"a"_s)).isEmpty());

    QCOMPARE(rig.state().tally.pagesRequested, 1);
    QCOMPARE(rig.state().tally.pagesFailed, 1);
    QCOMPARE(rig.state().failures.size(), 1);
    QCOMPARE(rig.state().failures[0].url, Start);

    // The progress signature moves with the failed page: list pages done, then
    // fetches finished; no record was handled.
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().stallCount, 0);
    QCOMPARE(rig.state().lastProgress, u"01001100"_s);
}

void TestCrawler::contentPageServesListPage_data()
{
    QTest::addColumn<QString>("content"); // how the content fetch of list-art.htm ends
    QTest::addColumn<bool>("listFetched");
    QTest::addColumn<QString>("queued"); // the list page its links queued

    QTest::newRow("arrived first: not asked again") << u"page"_s << false << u"list2.htm"_s;
    QTest::newRow("larger than a megabyte: the crawler asks")
        << u"large"_s << true << u"list3.htm"_s;
    QTest::newRow("failed: the crawler asks") << u"failing"_s << true << u"list3.htm"_s;
    QTest::newRow("still out: the crawler asks") << u"hanging"_s << true << u"list3.htm"_s;
}

void TestCrawler::contentPageServesListPage()
{
    QFETCH(QString, content);
    QFETCH(bool, listFetched);
    QFETCH(QString, queued);

    EngineRig rig;
    startTask(rig, schemeTwo(u"100"_s, u"art||list||||"_s));
    const QString both = Site + u"list-art.htm"_s;
    rig.listFetcher.setPage(Start, listPage({u"list-art.htm\tboth"_s}));
    rig.listFetcher.setPage(both, listPage({u"list3.htm\tthree"_s}));
    rig.listFetcher.setHanging(Site + queued);
    if (content == u"page" || content == u"large") {
        const QByteArray padding(content == u"large" ? ListingStash::LargestPage : 0, ' ');
        rig.contentFetcher.setPage(both, listPage({u"list2.htm\ttwo"_s}) + padding);
    } else if (content == u"failing")
        rig.contentFetcher.setFailing(both);
    else
        rig.contentFetcher.setHanging(both);

    rig.crawlerRound();
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calledUrls(), QStringList{both});
    for (int i = 0; i < 4; ++i)
        rig.crawlerRound();
    QCOMPARE(rig.listFetcher.calledUrls().contains(both), listFetched);
    QCOMPARE(rig.state().listQueue, onSite({u"list.htm"_s, u"list-art.htm"_s, queued}));
    QCOMPARE(rig.state().listPagesDone, 2);
    QCOMPARE(rig.state().tally.pagesRequested, listFetched ? 4 : 3);
    // A content page arriving after the crawler read its address is not kept.
    if (rig.contentFetcher.deliver(both))
        QCOMPARE(rig.state().listingStash.listingsKept(), 0);
}

QTEST_GUILESS_MAIN(TestCrawler)
#include "tst_crawler.moc"
