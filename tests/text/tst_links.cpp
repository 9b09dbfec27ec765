// Pattern lists (hx), the site key of a start page (hpkey) and the link
// filter of the crawler (hp).
#include "text/links.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestLinks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hxKinds_data();
    void hxKinds();
    void hpkeyCutsHost_data();
    void hpkeyCutsHost();
    void hpFiltersLinks_data();
    void hpFiltersLinks();
    void hpHttpsStartPageKeepsItsSite();
};

namespace {
const QString W = u"w"_s;
}

void TestLinks::hxKinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("expected");

    // Kind 1: replace pairs, in order.
    QTest::newRow("1 one pair") << 1 << u"a-a"_s << u"a^b"_s << u"b-b"_s;
    QTest::newRow("1 a,b,c ignores c") << 1 << u"abc"_s << u"a^b^c"_s << u"bbc"_s;
    QTest::newRow("1 a,b,b,c chains") << 1 << u"abc"_s << u"a^b^b^c"_s << u"ccc"_s;
    QTest::newRow("1 acac with a,b,c,d") << 1 << u"acac"_s << u"a^b^c^d"_s << u"bdbd"_s;
    QTest::newRow("1 case-sensitive") << 1 << u"Aa"_s << u"a^x"_s << u"Ax"_s;
    QTest::newRow("1 empty find changes nothing") << 1 << u"abc"_s << u"^x^b^y"_s << u"ayc"_s;
    QTest::newRow("1 replace by empty") << 1 << u"a1b1"_s << u"1^"_s << u"ab"_s;
    QTest::newRow("1 non-overlapping") << 1 << u"aaa"_s << u"aa^b"_s << u"ba"_s;
    QTest::newRow("1 single item ignored") << 1 << u"abc"_s << u"a"_s << u"abc"_s;
    QTest::newRow("1 empty list") << 1 << u"abc"_s << QString() << u"abc"_s;
    QTest::newRow("1 empty value") << 1 << QString() << u"a^b"_s << QString();

    // Kind 2: delete items, one pass each.
    QTest::newRow("2 x,,y") << 2 << u"axbyc"_s << u"x^^y"_s << u"abc"_s;
    QTest::newRow("2 one pass per item") << 2 << u"aabb"_s << u"ab"_s << u"ab"_s;
    QTest::newRow("2 items in order") << 2 << u"abc"_s << u"b^ac"_s << QString();
    QTest::newRow("2 blank and hyphen") << 2 << u"a - b"_s << u" ^-"_s << u"ab"_s;
    QTest::newRow("2 case-sensitive") << 2 << u"Xx"_s << u"x"_s << u"X"_s;
    QTest::newRow("2 empty list") << 2 << u"abc"_s << QString() << u"abc"_s;
    QTest::newRow("2 only empty items") << 2 << u"abc"_s << u"^"_s << u"abc"_s;

    // Kind 3: must contain all.
    QTest::newRow("3 all present") << 3 << u"abc"_s << u"a^c"_s << W;
    QTest::newRow("3 a,z fails") << 3 << u"abc"_s << u"a^z"_s << QString();
    QTest::newRow("3 trailing ^ as without") << 3 << u"abc"_s << u"a^"_s << W;
    QTest::newRow("3 trailing ^ still fails on z") << 3 << u"abc"_s << u"z^"_s << QString();
    QTest::newRow("3 case-sensitive") << 3 << u"ABC"_s << u"a"_s << QString();
    QTest::newRow("3 empty list") << 3 << u"abc"_s << QString() << W;
    QTest::newRow("3 empty list, empty value") << 3 << QString() << QString() << W;
    QTest::newRow("3 empty value fails") << 3 << QString() << u"a"_s << QString();
    QTest::newRow("3 empty item not in empty value") << 3 << QString() << u"^"_s << QString();

    // Kind 4: must contain none.
    QTest::newRow("4 none present") << 4 << u"abc"_s << u"x^y"_s << W;
    QTest::newRow("4 one present") << 4 << u"abc"_s << u"x^b"_s << QString();
    QTest::newRow("4 trailing ^ rejects everything") << 4 << u"abc"_s << u"x^"_s << QString();
    QTest::newRow("4 leading ^ rejects everything") << 4 << u"zzz"_s << u"^x"_s << QString();
    QTest::newRow("4 trailing ^ on empty value") << 4 << QString() << u"x^"_s << W;
    QTest::newRow("4 case-sensitive") << 4 << u"ABC"_s << u"a"_s << W;
    QTest::newRow("4 empty list") << 4 << u"abc"_s << QString() << W;

    // Kind 5: must contain any.
    QTest::newRow("5 a,z passes") << 5 << u"abc"_s << u"a^z"_s << W;
    QTest::newRow("5 none present") << 5 << u"abc"_s << u"x^z"_s << QString();
    QTest::newRow("5 empty item passes") << 5 << u"abc"_s << u"x^"_s << W;
    QTest::newRow("5 chinese") << 5 << u"新闻中心"_s << u"体育^新闻"_s << W;
    QTest::newRow("5 empty list") << 5 << u"abc"_s << QString() << W;

    // Other kinds.
    QTest::newRow("0") << 0 << u"abc"_s << u"a"_s << QString();
    QTest::newRow("6") << 6 << u"abc"_s << u"a"_s << QString();
    QTest::newRow("-1") << -1 << u"abc"_s << u"a"_s << QString();
    QTest::newRow("0 empty list") << 0 << u"abc"_s << QString() << QString();
    QTest::newRow("6 empty list") << 6 << u"abc"_s << QString() << QString();
}

void TestLinks::hxKinds()
{
    QFETCH(int, kind);
    QFETCH(QString, value);
    QFETCH(QString, list);
    QFETCH(QString, expected);
    QCOMPARE(hx(kind, value, list), expected);
}

void TestLinks::hpkeyCutsHost_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("key");

    QTest::newRow("www host") << u"http://www.example.com/news/index.html"_s << u"example.com"_s;
    QTest::newRow("two labels stay") << u"http://example.com/a"_s << u"example.com"_s;
    QTest::newRow("one label") << u"http://localhost/a"_s << u"localhost"_s;
    QTest::newRow("four labels lose first") << u"http://a.b.c.d/x"_s << u"b.c.d"_s;
    QTest::newRow("no path") << u"http://www.example.com"_s << u"example.com"_s;
    QTest::newRow("no path, same as with") << u"http://www.example.com/"_s << u"example.com"_s;
    QTest::newRow("port stays") << u"http://www.example.com:8080/a"_s << u"example.com:8080"_s;
    QTest::newRow("port, two labels") << u"http://localhost:8080"_s << u"localhost:8080"_s;
    QTest::newRow("ip and port") << u"http://127.0.0.1:8080/"_s << u"0.0.1:8080"_s;
    QTest::newRow("letter case kept") << u"http://WWW.Example.COM/"_s << u"Example.COM"_s;
    QTest::newRow("query without path") << u"http://www.a.com?x=1"_s << u"a.com?x=1"_s;
    QTest::newRow("https host") << u"https://www.example.com/a"_s << u"example.com"_s;
    QTest::newRow("https no path") << u"https://news.example.com"_s << u"example.com"_s;
    QTest::newRow("https port") << u"https://a.b.c:8443/x"_s << u"b.c:8443"_s;
    QTest::newRow("ftp host") << u"ftp://files.example.org/pub"_s << u"example.org"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("short") << u"http:/"_s << QString();
    // "://" inside a query is no scheme: as without one, the host is read
    // from the eighth character ("om" of "www.a.com"), not from the query.
    QTest::newRow("scheme-less with :// in query") << u"www.a.com/go?u=http://b.c.d/"_s << u"om"_s;
}

void TestLinks::hpkeyCutsHost()
{
    QFETCH(QString, url);
    QFETCH(QString, key);
    QCOMPARE(hpkey(url), key);
}

void TestLinks::hpFiltersLinks_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected");

    const QString site = u"http://www.example.com/news/"_s;
    const QString secure = u"https://www.example.com/news/"_s;

    QTest::newRow("page kept") << site << u"http://www.example.com/a/1.html"_s
                               << u"http://www.example.com/a/1.html"_s;
    QTest::newRow("sub-domain of the key")
        << site << u"http://bbs.example.com/t.php?id=3"_s << u"http://bbs.example.com/t.php?id=3"_s;
    QTest::newRow("other site") << site << u"http://www.other.org/a.html"_s << QString();
    QTest::newRow("trailing slash removed")
        << site << u"http://www.example.com/list/"_s << u"http://www.example.com/list"_s;
    QTest::newRow("directory kept")
        << site << u"http://www.example.com/list"_s << u"http://www.example.com/list"_s;
    QTest::newRow("dot in earlier segment")
        << site << u"http://www.example.com/v1.2/list"_s << u"http://www.example.com/v1.2/list"_s;
    QTest::newRow("fragment after page")
        << site << u"http://www.example.com/a.htm#top"_s << u"http://www.example.com/a.htm"_s;
    QTest::newRow("fragment of a directory")
        << site << u"http://www.example.com/d/#top"_s << u"http://www.example.com/d"_s;
    // The file test looks at the tail before the fragment is cut.
    QTest::newRow("dotted fragment of a directory")
        << site << u"http://www.example.com/d/#x.y"_s << QString();
    QTest::newRow("fragment only") << u"https://x/"_s << u"#a.htm"_s << QString();
    QTest::newRow("fragment then slashes")
        << site << u"http://www.example.com/d//#top"_s << u"http://www.example.com/d"_s;
    QTest::newRow("four slashes keep one")
        << site << u"http://www.example.com/a////"_s << u"http://www.example.com/a/"_s;
    QTest::newRow("three slashes all go")
        << site << u"http://www.example.com/a///"_s << u"http://www.example.com/a"_s;
    QTest::newRow("image rejected") << site << u"http://www.example.com/img/a.jpg"_s << QString();
    QTest::newRow("archive rejected")
        << site << u"http://www.example.com/f/a.tar.gz"_s << QString();
    QTest::newRow("query with dot rejected")
        << site << u"http://www.example.com/l?p=1.5"_s << QString();
    QTest::newRow("bare host rejected") << site << u"http://www.example.com"_s << QString();
    QTest::newRow("host with slash kept")
        << site << u"http://www.example.com/"_s << u"http://www.example.com"_s;
    QTest::newRow("no slash rejected") << u"https://x/"_s << u"x"_s << QString();
    QTest::newRow("empty link") << site << QString() << QString();
    QTest::newRow("longer extension counts")
        << site << u"http://www.example.com/a.aspx"_s << u"http://www.example.com/a.aspx"_s;
    QTest::newRow("page in query counts")
        << site << u"http://www.example.com/go?u=b.jsp"_s << u"http://www.example.com/go?u=b.jsp"_s;
    QTest::newRow("shtml") << site << u"http://www.example.com/a.shtml"_s
                           << u"http://www.example.com/a.shtml"_s;
    QTest::newRow("upper-case link, case kept") << site << u"HTTP://WWW.EXAMPLE.COM/News/A.HTML"_s
                                                << u"HTTP://WWW.EXAMPLE.COM/News/A.HTML"_s;
    QTest::newRow("upper-case start page")
        << u"http://WWW.EXAMPLE.COM/"_s << u"http://www.example.com/a.php"_s
        << u"http://www.example.com/a.php"_s;
    QTest::newRow("upper-case image rejected")
        << site << u"http://www.example.com/A.JPG"_s << QString();
    QTest::newRow("host label starting with an extension")
        << u"http://www.php.net/"_s << u"http://www.php.net/logo.png"_s
        << u"http://www.php.net/logo.png"_s;
    QTest::newRow("port in key") << u"http://127.0.0.1:8080/"_s
                                 << u"http://127.0.0.1:8080/p/2.html"_s
                                 << u"http://127.0.0.1:8080/p/2.html"_s;
    QTest::newRow("other port rejected")
        << u"http://127.0.0.1:8080/"_s << u"http://127.0.0.1:9090/p/2.html"_s << QString();

    // An https start page keys on its host like an http one.
    QTest::newRow("https start, same site")
        << secure << u"https://www.example.com/a/1.html"_s << u"https://www.example.com/a/1.html"_s;
    QTest::newRow("https start, http link")
        << secure << u"http://www.example.com/list/"_s << u"http://www.example.com/list"_s;
    QTest::newRow("https start, other site")
        << secure << u"https://www.other.org/a.html"_s << QString();
    QTest::newRow("https start, image")
        << secure << u"https://www.example.com/a.png"_s << QString();
    QTest::newRow("http start, https link")
        << site << u"https://www.example.com/a.htm"_s << u"https://www.example.com/a.htm"_s;
}

void TestLinks::hpFiltersLinks()
{
    QFETCH(QString, start);
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QCOMPARE(hp(link, start), expected);
}

void TestLinks::hpHttpsStartPageKeepsItsSite()
{
    // The literal rule took the host from position 8, which for "https://" is
    // the second slash: the key was empty and every site passed. The key is
    // now the host for any scheme; http keys are what they always were.
    QCOMPARE(hpkey(u"https://www.example.com/"_s), u"example.com"_s);
    QCOMPARE(hpkey(u"http://www.example.com/"_s), u"example.com"_s);
    QVERIFY(!hpkey(u"https://www.example.com/"_s).isEmpty());
    QCOMPARE(hp(u"http://elsewhere.net/a.html"_s, u"https://www.example.com/"_s), QString());
    QCOMPARE(hp(u"http://elsewhere.net/a.html"_s, u"http://www.example.com/"_s), QString());
}

QTEST_GUILESS_MAIN(TestLinks)
#include "tst_links.moc"
