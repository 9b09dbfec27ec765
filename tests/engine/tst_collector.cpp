// The content-page collector on pages served from memory: both page modes,
// the field kinds, a-lists, the length test, deeper pages and downloads, and
// the records it leaves in the task's database.
#include "enginerig.h"
#include "records/recordstore.h"
#include "text/names.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestCollector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutting_data();
    void cutting();
    void linkFieldQueuesDeeperPage();
    void downloadStoredByDispatcher_data();
    void downloadStoredByDispatcher();
    void emptyDownloadAddressStoresOnly();
    void tinyPageCountedUnread();
    void missingPageNotCounted();
    void fiftySlotsPerTick();
    void databaseMatchesRunRecords();
};

namespace {

const QString Site = u"http://www.site.com/"_s;
const QString Url = Site + u"p1.htm"_s;

QString modeOne(const QString &addUrl, const QStringList &markers, const QStringList &patterns,
                const QStringList &constants)
{
    return sectionText(1, {u"1"_s, addUrl, QString::number(markers.size()), markers.join(u'|'),
                           QString::number(patterns.size()), patterns.join(u'|'),
                           QString::number(constants.size()), constants.join(u'|')});
}

QString modeTwo(const QString &region, const QString &blockStart, const QString &blockEnd,
                const QStringList &fields, const QStringList &constants)
{
    return sectionText(1, {u"2"_s, region, blockStart, blockEnd, QString::number(fields.size()),
                           fields.join(u'|'), QString::number(constants.size()),
                           constants.join(u'|')});
}

QByteArray page(const QString &body)
{
    return (u"<html><head><meta charset=utf-8></head><body>"_s + body + u"</body></html>"_s)
        .toUtf8();
}

// A one-page scheme-one task "a" fetching `Url`.
void startTask(EngineRig &rig, const QString &uc, const QString &rest, int pages = 1)
{
    QVERIFY(rig.workspace.addTask(
        u"a"_s, taskFileText(u"1|"_s + Site + u"p|1|"_s + QString::number(pages) + u"|1|.htm"_s, uc,
                             rest)));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
}

QString dataBase(EngineRig &rig)
{
    return rig.workspace.databaseFile(u"a"_s);
}

} // namespace

void TestCollector::cutting_data()
{
    QTest::addColumn<QString>("uc");
    QTest::addColumn<QString>("rest"); // sections and a-lists
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("queued");

    const QStringList none;
    const QString h1 = u"<h1>^</h1>^<h1>^</h1>^-1^0"_s;
    QTest::newRow("address and a marker field")
        << u"2"_s << modeOne(u"1"_s, {h1}, {}, {}) << u"<h1>Hello</h1>"_s
        << QStringList{u"^"_s + Url + u"^Hello"_s} << none;
    QTest::newRow("markers ignore case, the value keeps it")
        << u"2"_s << modeOne(u"1"_s, {u"<H1>^</H1>^<H1>^</H1>^-1^0"_s}, {}, {})
        << u"<h1>MiXed Case</h1>"_s << QStringList{u"^"_s + Url + u"^MiXed Case"_s} << none;
    QTest::newRow("value end searched after the value start")
        << u"1"_s << modeOne(u"0"_s, {u"<div class=\"go\">^</div>^href=\"^\"^-1^0"_s}, {}, {})
        << u"<div class=\"go\"><span href=\"next.htm\">x</span></div>"_s
        << QStringList{u"^next.htm"_s} << none;
    QTest::newRow("missing region gives an empty value")
        << u"3"_s << modeOne(u"1"_s, {h1, u"<h2>^</h2>^<h2>^</h2>^-1^0"_s}, {}, {})
        << u"<h1>Hello</h1>"_s << QStringList{u"^"_s + Url + u"^Hello^"_s} << none;
    QTest::newRow("value end past the region end gives an empty value")
        << u"2"_s << modeOne(u"0"_s, {u"<p>^</p>^<b>^</b>^-1^0"_s}, {}, {u"cccc"_s})
        << u"<p><b>late</p></b>"_s << QStringList{u"^^cccc"_s} << none;
    QTest::newRow("pattern field, letter case ignored")
        << u"2"_s << modeOne(u"1"_s, {}, {u"DATE \\d{4}-\\d\\d^-1^0"_s}, {})
        << u"on date 2024-01 and date 1999-12"_s << QStringList{u"^"_s + Url + u"^date 2024-01"_s}
        << none;
    QTest::newRow("pattern without a match")
        << u"2"_s << modeOne(u"1"_s, {}, {u"\\d{9}^-1^0"_s}, {}) << u"no digits"_s
        << QStringList{u"^"_s + Url + u"^"_s} << none;
    QTest::newRow("constant fields")
        << u"3"_s << modeOne(u"1"_s, {}, {}, {u"来源"_s, u"网站"_s}) << u"anything"_s
        << QStringList{u"^"_s + Url + u"^来源^网站"_s} << none;
    QTest::newRow("a-list cleans")
        << u"2"_s
        << modeOne(u"0"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^2"_s}, {}, {}) +
               u"a2=[[0|[|]|old^new|del||]]"_s
        << u"<h1>old del text</h1>"_s << QStringList{u"^[new  text]"_s} << none;
    QTest::newRow("a-list test fails: record dropped despite constants")
        << u"2"_s
        << modeOne(u"1"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^2"_s}, {}, {u"c"_s}) +
               u"a2=[[0||||||must]]"_s
        << u"<h1>a must</h1>"_s << none << none;
    QTest::newRow("required field empty: record dropped")
        << u"2"_s
        << modeOne(u"1"_s, {h1, u"<h2>^</h2>^<h2>^</h2>^-1^3"_s}, {}, {}) + u"a3=[[0||||||]]"_s
        << u"<h1>Hello</h1>"_s << none << none;
    QTest::newRow("a-list 0 leaves the value as cut")
        << u"2"_s << modeOne(u"0"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^0"_s}, {}, {})
        << u"<h1> as cut </h1>"_s << QStringList{u"^ as cut "_s} << none;
    QTest::newRow("length exactly fieldCount + 3 dropped")
        << u"2"_s << modeOne(u"0"_s, {}, {}, {u"abcd"_s}) << u"anything"_s << none << none;
    QTest::newRow("one longer stored") << u"2"_s << modeOne(u"0"_s, {}, {}, {u"abcde"_s})
                                       << u"anything"_s << QStringList{u"^abcde"_s} << none;
    QTest::newRow("address alone, too short")
        << u"40"_s << modeOne(u"1"_s, {}, {}, {}) << u"anything"_s << none << none;
    QTest::newRow("address alone, long enough")
        << u"2"_s << modeOne(u"1"_s, {}, {}, {}) << u"anything"_s << QStringList{u"^"_s + Url}
        << none;
    QTest::newRow("separators in the page become *")
        << u"2"_s << modeOne(u"1"_s, {h1}, {}, {}) << u"<h1>a|b^c</h1>"_s
        << QStringList{u"^"_s + Url + u"^a*b*c"_s} << none;
    QTest::newRow("w1 of 3 extracts nothing")
        << u"2"_s << sectionText(1, {u"3"_s, u"1"_s, u"1"_s, h1, u"0"_s, {}, u"1"_s, u"constant"_s})
        << u"<h1>Hello</h1>"_s << none << none;
    QTest::newRow("mode 2: three blocks in page order")
        << u"3"_s
        << modeTwo(u"<ul>"_s, u"<li>"_s, u"</li>"_s, {u"<b>^</b>^-1^0"_s, u"<i>^</i>^-1^0"_s},
                   {u"常量"_s})
        << u"<b>x</b><ul><li><b>a</b><i>1</i></li><li><b>b</b></li><li><B>c</B><I>3</I></li>"
           "</ul><p>after</p>"_s
        << QStringList{u"^a^1^常量"_s, u"^b^^常量"_s, u"^c^3^常量"_s} << none;
    QTest::newRow("mode 2: block without an end stops")
        << u"1"_s << modeTwo(u"<ul>"_s, u"<li>"_s, u"</li>"_s, {u"<b>^</b>^-1^0"_s}, {})
        << u"<ul><li><b>a</b></li><li><b>b</b>"_s << QStringList{u"^a"_s} << none;
    QTest::newRow("mode 2: no list region")
        << u"1"_s << modeTwo(u"<ol>"_s, u"<li>"_s, u"</li>"_s, {u"<b>^</b>^-1^0"_s}, {})
        << u"<ul><li><b>a</b></li></ul>"_s << none << none;
    QTest::newRow("mode 2: no length test, failing block dropped")
        << u"9"_s
        << modeTwo(u"<ul>"_s, u"<li>"_s, u"</li>"_s, {u"<b>^</b>^-1^4"_s}, {}) +
               u"a4=[[0||||||x]]"_s
        << u"<ul><li><b>a</b></li><li><b>x</b></li><li><b>c</b></li></ul>"_s
        << QStringList{u"^a"_s, u"^c"_s} << none;
    QTest::newRow("mode 2: link fields queue one entry per block")
        << u"2"_s
        << modeTwo(u"<ul>"_s, u"<li>"_s, u"</li>"_s, {u"<b>^</b>^-1^0"_s, u"href=\"^\"^2^0"_s}, {})
        << u"<ul><li><b>a</b><a href=\"d/1.htm\">1</a></li>"
           "<li><b>b</b><a href=\"http://x.org/2.htm\">2</a></li></ul>"_s
        << none
        << QStringList{u"2|"_s + Site + u"d/1.htm|^a^"_s + Site + u"d/1.htm"_s,
                       u"2|http://x.org/2.htm|^b^http://x.org/2.htm"_s};
    QTest::newRow("w1 not a number runs both modes")
        << u"1"_s
        << sectionText(1, {u"x"_s, u"<ul>"_s, u"<li>"_s, u"</li>"_s, u"0"_s, {}, u"1"_s, u"k"_s})
        << u"<ul><li><b>a</b></li></ul>"_s << QStringList{u"^"_s + Url + u"^k"_s, u"^k"_s} << none;
}

void TestCollector::cutting()
{
    QFETCH(QString, uc);
    QFETCH(QString, rest);
    QFETCH(QString, body);
    QFETCH(QStringList, records);
    QFETCH(QStringList, queued);

    EngineRig rig;
    rig.contentFetcher.setPage(Url, page(body));
    startTask(rig, uc, rest);
    rig.collectorRound();

    QCOMPARE(rig.state().pagesDone, 1);
    QCOMPARE(rig.runRecords, records);
    QCOMPARE(rig.state().contentQueue.mid(1), queued);
    // The page file is read once and then deleted.
    QVERIFY(TempWorkspace::filesIn(rig.workspace.webDir(u"a"_s)).isEmpty());
}

void TestCollector::linkFieldQueuesDeeperPage()
{
    EngineRig rig;
    const QString rest =
        modeOne(u"1"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^0"_s, u"class=\"more\"^</a>^href=\"^\"^2^0"_s},
                {}, {}) +
        sectionText(2, {u"1"_s,
                        u"0"_s,
                        u"1"_s,
                        u"<div id=body>^</div>^<div id=body>^</div>^-1^0"_s,
                        u"0"_s,
                        {},
                        u"0"_s,
                        {}});
    const QString detail = Site + u"detail/d1.htm"_s;
    rig.contentFetcher.setPage(
        Url, page(u"<h1>Title</h1><a class=\"more\" href=\"detail/d1.htm\">more</a>"_s));
    rig.contentFetcher.setPage(detail, page(u"<div id=body>正文内容</div>"_s));
    startTask(rig, u"4"_s, rest);

    rig.collectorRound();
    QVERIFY(rig.runRecords.isEmpty());
    const QString prefix = u"^"_s + Url + u"^Title^"_s + detail;
    QCOMPARE(rig.state().contentQueue,
             QStringList({u"1|"_s + Url + u'|', u"2|"_s + detail + u'|' + prefix}));

    rig.collectorRound();
    const FakeFetcher::Call call = rig.contentFetcher.calls().last();
    QCOMPARE(call.url, detail);
    QCOMPARE(call.tag1, u"2"_s);
    QCOMPARE(call.tag2, prefix);
    QCOMPARE(call.file, rig.workspace.webDir(u"a"_s) + u'/' + name1(detail) + u" .txt"_s);
    QCOMPARE(rig.runRecords, QStringList{prefix + u"^正文内容"_s});
    QCOMPARE(rig.state().pagesDone, 2);
    QCOMPARE(RecordStore::readAll(dataBase(rig), 4), rig.runRecords);
}

void TestCollector::downloadStoredByDispatcher_data()
{
    QTest::addColumn<bool>("served");
    QTest::newRow("file stored") << true;
    QTest::newRow("download fails") << false;
}

void TestCollector::downloadStoredByDispatcher()
{
    QFETCH(bool, served);
    EngineRig rig;
    const QString picture = Site + u"img/pic.png"_s;
    const QString rest =
        modeOne(u"1"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^0"_s, u"<img^>^src=\"^\"^0^0"_s}, {}, {});
    rig.contentFetcher.setPage(Url, page(u"<h1>Photo</h1><img src=\"img/pic.png\">"_s));
    if (served)
        rig.contentFetcher.setPage(picture, "\x89PNG picture bytes"_ba);
    startTask(rig, u"3"_s, rest);

    rig.collectorRound();
    const QString record = u"^"_s + Url + u"^Photo^"_s + name1(picture);
    QCOMPARE(rig.state().contentQueue.value(1), u"0|"_s + picture + u'|' + record);
    QVERIFY(rig.runRecords.isEmpty());

    rig.collectorRound();
    // The dispatcher stores the record while its file downloads.
    QCOMPARE(rig.runRecords, QStringList{record});
    QCOMPARE(RecordStore::readAll(dataBase(rig), 3), QStringList{record});
    const FakeFetcher::Call call = rig.contentFetcher.calls().last();
    QCOMPARE(call.url, picture);
    QCOMPARE(call.tag1, u"0"_s);
    QCOMPARE(call.file, rig.workspace.wekDir(u"a"_s) + u'/' + name1(picture));

    const QStringList files = TempWorkspace::filesIn(rig.workspace.wekDir(u"a"_s));
    if (served) {
        QCOMPARE(files, QStringList{name1(picture)});
        QFile file(call.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "\x89PNG picture bytes"_ba);
        QCOMPARE(rig.state().downloads, QStringList{picture});
        QCOMPARE(rig.state().pagesDone, 2);
    } else {
        QVERIFY(files.isEmpty());
        QVERIFY(rig.state().downloads.isEmpty());
        QCOMPARE(rig.state().pagesDone, 1);
    }
    QCOMPARE(rig.state().wbAge[1], 100);
}

void TestCollector::emptyDownloadAddressStoresOnly()
{
    EngineRig rig;
    const QString rest = modeOne(u"1"_s, {u"<img^>^src=\"^\"^0^0"_s}, {}, {});
    rig.contentFetcher.setPage(Url, page(u"<p>no picture here</p>"_s));
    startTask(rig, u"2"_s, rest);
    rig.collectorRound();
    QCOMPARE(rig.state().contentQueue.value(1), u"0||^"_s + Url + u'^');
    rig.collectorRound();
    QCOMPARE(rig.runRecords, QStringList{u"^"_s + Url + u'^'});
    QCOMPARE(rig.contentFetcher.calls().size(), 1); // nothing to download
    QVERIFY(rig.state().wbAge[1] > 99);             // the slot stayed free
}

void TestCollector::tinyPageCountedUnread()
{
    EngineRig rig;
    rig.contentFetcher.setTiny(Url);
    startTask(rig, u"2"_s, modeOne(u"1"_s, {}, {}, {}));
    rig.collectorRound();
    QCOMPARE(rig.state().pagesDone, 1);
    QVERIFY(rig.runRecords.isEmpty());
    // Not read, so not deleted either.
    QCOMPARE(TempWorkspace::filesIn(rig.workspace.webDir(u"a"_s)),
             QStringList{name1(Url) + u" .txt"_s});
}

void TestCollector::missingPageNotCounted()
{
    EngineRig rig;
    rig.contentFetcher.setFailing(Url);
    startTask(rig, u"2"_s, modeOne(u"1"_s, {}, {}, {}));
    rig.collectorRound();
    QCOMPARE(rig.state().pagesDone, 0);
    QCOMPARE(rig.state().wbAge[1], 100);
    QVERIFY(rig.runRecords.isEmpty());
}

void TestCollector::fiftySlotsPerTick()
{
    EngineRig rig;
    startTask(rig, u"2"_s, modeOne(u"1"_s, {}, {}, {}), 60);
    for (int n = 1; n <= 60; ++n)
        rig.contentFetcher.setHanging(Site + u"p"_s + QString::number(n) + u".htm"_s);
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calls().size(), SlotCount);
    for (int i = 0; i < SlotCount; ++i) {
        QCOMPARE(rig.contentFetcher.calls()[i].index, i + 1);
        QCOMPARE(rig.contentFetcher.calls()[i].url,
                 Site + u"p"_s + QString::number(i + 1) + u".htm"_s);
    }
    QCOMPARE(rig.state().contentCursor, SlotCount - 1);
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calls().size(), SlotCount);

    // A delivered page frees its slot for the next tick.
    QVERIFY(rig.contentFetcher.deliver(Site + u"p7.htm"_s));
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calls().size(), SlotCount + 1);
    QCOMPARE(rig.contentFetcher.calls().last().index, 7);
    QCOMPARE(rig.contentFetcher.calls().last().url, Site + u"p51.htm"_s);
}

void TestCollector::databaseMatchesRunRecords()
{
    EngineRig rig;
    const QString rest = modeOne(u"1"_s, {u"<h1>^</h1>^<h1>^</h1>^-1^0"_s}, {}, {u"固定"_s});
    for (int n = 1; n <= 5; ++n)
        rig.contentFetcher.setPage(Site + u"p"_s + QString::number(n) + u".htm"_s,
                                   page(u"<h1>标题 "_s + QString::number(n) + u", \"q\"</h1>"_s));
    startTask(rig, u"3"_s, rest, 5);
    rig.collectorRound();
    QCOMPARE(rig.runRecords.size(), 5);
    // The run's record list reads back what was stored.
    QCOMPARE(rig.engine.runRecordCount(), 5);
    QCOMPARE(rig.engine.runRecords(), rig.runRecords);
    QCOMPARE(rig.engine.runRecords(3, 5), rig.runRecords.mid(3));

    QStringList stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"verify"_s);
        db.setDatabaseName(dataBase(rig));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(u"SELECT * FROM data ORDER BY rowid"_s));
        QCOMPARE(query.record().count(), 3);
        QCOMPARE(query.record().fieldName(2), u"字段3"_s);
        while (query.next()) {
            QString line;
            for (int k = 0; k < 3; ++k)
                line += u'^' + query.value(k).toString();
            stored << line;
        }
    }
    QSqlDatabase::removeDatabase(u"verify"_s);
    QCOMPARE(stored, rig.runRecords);
}

QTEST_GUILESS_MAIN(TestCollector)
#include "tst_collector.moc"
