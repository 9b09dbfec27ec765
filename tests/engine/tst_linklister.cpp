// The link listing of a list page: one "ur=[[address]]ut=[[text]]" per
// <a href> and <area href> in page order, addresses made complete against the
// page and its <base>, http(s) only, texts with blanks collapsed and "]]"
// replaced. The listing is also compared with a listing made from libxml2's
// document tree, on random markup and on the fixture pages.
#include "engine/linklister.h"
#include "engine/linkscan.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestLinkLister : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listing_data();
    void listing();
    void sameAsDocumentTree_data();
    void sameAsDocumentTree();
    void plainMarkupScanned_data();
    void plainMarkupScanned();
    void recoveryLeftToParser_data();
    void recoveryLeftToParser();
};

namespace {

// The listing read off the whole document tree: every element visited in
// document order, the text of a link being all text below it.
QString treeListing(const QString &url, const QString &page)
{
    const QByteArray html = page.toUtf8();
    if (html.isEmpty())
        return {};
    const QByteArray baseUrl = url.toUtf8();
    htmlDocPtr doc = htmlReadMemory(
        html.constData(), int(html.size()), baseUrl.constData(), "UTF-8",
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc)
        return {};
    const auto name = [](xmlNode *node, const char *tag) {
        return node->type == XML_ELEMENT_NODE &&
               xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(tag)) == 0;
    };
    const auto attribute = [](xmlNode *node, const char *key) {
        xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(key));
        const QString text = value ? QString::fromUtf8(reinterpret_cast<char *>(value)) : QString();
        xmlFree(value);
        return text;
    };
    QList<xmlNode *> order;
    for (xmlNode *node = xmlDocGetRootElement(doc); node;) {
        order << node;
        if (!name(node, "base") && node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next && node != xmlDocGetRootElement(doc))
            node = node->parent;
        node = node && node != xmlDocGetRootElement(doc) ? node->next : nullptr;
    }
    QUrl base(url);
    for (xmlNode *node : order) {
        if (name(node, "base") && !attribute(node, "href").trimmed().isEmpty())
            base = QUrl(url).resolved(QUrl(attribute(node, "href").trimmed()));
    }
    QString listing;
    for (xmlNode *node : order) {
        if (!name(node, "a") && !name(node, "area"))
            continue;
        const QString href = attribute(node, "href").trimmed();
        const QUrl address = base.resolved(QUrl(href));
        const QString scheme = address.scheme().toLower();
        if (href.isEmpty() || !address.isValid() || (scheme != u"http"_s && scheme != u"https"_s) ||
            address.host().isEmpty())
            continue;
        QString text;
        if (name(node, "area")) {
            text = attribute(node, "alt").simplified();
        } else {
            xmlChar *content = xmlNodeGetContent(node);
            text = QString::fromUtf8(reinterpret_cast<char *>(content)).simplified();
            xmlFree(content);
        }
        text = text.replace(u"[["_s, u"[ ["_s).replace(u"]]"_s, u"] ]"_s);
        if (text.endsWith(u']'))
            text += u' ';
        listing += u"ur=[["_s + address.toString().replace(u"]]"_s, u"] ]"_s) + u"]]ut=[["_s +
                   text + u"]]"_s;
    }
    xmlFreeDoc(doc);
    return listing;
}

// One of `pieces`, a "%1" in it made a number from 0 to 4.
QString pick(QRandomGenerator &random, const QStringList &pieces)
{
    const QString piece = pieces[random.bounded(int(pieces.size()))];
    return piece.contains(u"%1"_s) ? piece.arg(random.bounded(5)) : piece;
}

// Markup made of pieces that stress the parser's recovery: unclosed and
// nested links, bases, areas, scripts, comments, entities, blanks, "]]".
QString randomMarkup(QRandomGenerator &random)
{
    static const QStringList pieces = {u"<a href=\"x%1.html\">"_s,
                                       u"</a>"_s,
                                       u"<a href=y%1>"_s,
                                       u"<A HREF='//o.com/%1'>"_s,
                                       u"<a>"_s,
                                       u"<a href=\"mailto:m@x\">"_s,
                                       u"<area href=\"m%1\" alt=\" a  %1 \">"_s,
                                       u"<base href=\"http://b.com/%1/\">"_s,
                                       u"<base href=\" \">"_s,
                                       u"<base>"_s,
                                       u"<base href=\"javascript:x\">"_s,
                                       u"<base href=\"s%1/\">"_s,
                                       u"<b>"_s,
                                       u"</b>"_s,
                                       u"<div>"_s,
                                       u"</div>"_s,
                                       u"<p>"_s,
                                       u"<table><tr><td>"_s,
                                       u"</td></tr></table>"_s,
                                       u"<script>if (a<b) x;</script>"_s,
                                       u"<script></b><a href=s%1>s</a></script>"_s,
                                       u"<style><td><a href=t%1>t</a></style>"_s,
                                       u"<!DOCTYPE html></b>"_s,
                                       u"<style>p{}</style>"_s,
                                       u"<!-- c -->"_s,
                                       u"<img src=i>"_s,
                                       u"text%1"_s,
                                       u" "_s,
                                       u"\n\t "_s,
                                       u"中文"_s,
                                       u"&amp;"_s,
                                       u"&nbsp;"_s,
                                       u"&#20013;"_s,
                                       u"]]"_s,
                                       u"<"_s,
                                       u">"_s,
                                       u"<a href=\""_s,
                                       u"\""_s,
                                       u"<html>"_s,
                                       u"<head>"_s,
                                       u"</head>"_s,
                                       u"<body>"_s,
                                       u"</body>"_s,
                                       u"<title>t</title>"_s,
                                       u"<select><option>o</select>"_s,
                                       u"ur=[["_s,
                                       u"[["_s,
                                       u"]"_s,
                                       u"<![CDATA[x]]>"_s,
                                       u"&#0;"_s,
                                       u"\u00a0"_s};
    QString page;
    const int count = random.bounded(1, 60);
    for (int i = 0; i < count; ++i)
        page += pick(random, pieces);
    return page;
}

// Markup the plain scan must read without the parser: closed links holding
// text, references and inline elements; around them tags whose quoted values,
// comments, scripts and declarations hide things that look like links.
QString plainMarkup(QRandomGenerator &random)
{
    static const QStringList outside = {
        u"<div class=\"a>b\" data-x='<a href=q>'>"_s,
        u"</div>"_s,
        u"<p>"_s,
        u"<li>"_s,
        u"<table><tr><td>"_s,
        u"</td foo>"_s,
        u"<!-- <a href=c%1>c</a> -->"_s,
        u"<!-- x --!>"_s,
        u"<script>var s = \"<a href=s%1>\"; if (a</b) {}</script>"_s,
        u"<STYLE>a:after{content:\"</a>\"}</style >"_s,
        u"<script/>"_s,
        u"<?xml version=\"1.0\"?>"_s,
        u"<![CDATA[<a href=d%1>d</a>]]>"_s,
        u"<base href=\"http://b.com/%1/\">"_s,
        u"<base href=\" \">"_s,
        u"<area href=\"m%1\" alt=\" a &amp; %1 \">"_s,
        u"<area alt=x href=n%1 href=o>"_s,
        u"<a href=\"e%1\"/>"_s,
        u"<img src=i />"_s,
        u"text < more & less"_s,
        u"</ x>"_s,
        u"</a>"_s,
        u"\r\n 中文 "_s,
    };
    static const QStringList starts = {
        u"<a href=\"x%1.html\">"_s,
        u"<A HREF=y%1>"_s,
        u"<a title=\"t>u\" href='//o.com/%1'>"_s,
        u"<a href=\"?a=1&amp;b=%1&c&copy;&#38;&#x26;&lt\">"_s,
        u"<a href=x%1/>"_s,
        u"<a\nhref = z%1 class=k>"_s,
        u"<a href>"_s,
        u"<a href=\"mailto:m@x\">"_s,
    };
    static const QStringList inside = {
        u"text%1"_s,
        u" "_s,
        u"\n\t "_s,
        u"中文"_s,
        u"&amp;"_s,
        u"&nbsp;"_s,
        u"&mdash;&copy;&laquo;"_s,
        u"&#20013;&#x6587;&#65"_s,
        u"&foo;&amp x"_s,
        u"& &1"_s,
        u"]]"_s,
        u"[["_s,
        u"a < b"_s,
        u"<span class=\"n\">s%1</span>"_s,
        u"<b><i>bi</i></b>"_s,
        u"<img src=i%1>"_s,
        u"<br/>"_s,
        u"<em/>"_s,
        u"<!-- c -->"_s,
        u"<code>c<sub>2</sub></code>"_s,
    };
    QString page =
        random.bounded(2)
            ? u"<!-- c -->\n<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"x.dtd\">"_s
            : QString();
    const int count = random.bounded(1, 30);
    for (int i = 0; i < count; ++i) {
        if (random.bounded(2)) {
            page += pick(random, outside);
            continue;
        }
        const QString start = pick(random, starts);
        page += start;
        if (start.endsWith(u"/>"_s) && !start.contains(u'='))
            continue;
        for (int j = random.bounded(4); j > 0; --j)
            page += pick(random, inside);
        page += u"</a>"_s;
    }
    return page;
}

} // namespace

void TestLinkLister::listing_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    QTest::newRow("addresses made complete")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"http://x.com/a\">A</a><a href=\"b.html\">B</a><a href=\"/c\">C</a><a href=\"../d?q=1#f\">D</a><a href=\"#top\">T</a><a href=\"?q=2\">Q</a>"_s
        << u"ur=[[http://x.com/a]]ut=[[A]]ur=[[http://h.com/dir/b.html]]ut=[[B]]ur=[[http://h.com/c]]ut=[[C]]ur=[[http://h.com/d?q=1#f]]ut=[[D]]ur=[[http://h.com/dir/page.html#top]]ut=[[T]]ur=[[http://h.com/dir/page.html?q=2]]ut=[[Q]]"_s;
    QTest::newRow("protocol-relative takes the page's scheme")
        << u"https://h.com/"_s << u"<a href=\"//other.com/x\">P</a>"_s
        << u"ur=[[https://other.com/x]]ut=[[P]]"_s;
    QTest::newRow("only http(s) with an address")
        << u"https://h.com/"_s
        << u"<a href=\"mailto:a@b.c\">M</a><a href=\"javascript:void(0)\">J</a><a href=\"ftp://f.com/x\">F</a><a href=\"file:///etc/passwd\">L</a><a href=\"\">E</a><a>N</a><a href=\"  b.html  \">S</a><a href>V</a>"_s
        << u"ur=[[https://h.com/b.html]]ut=[[S]]"_s;
    QTest::newRow("base in the head")
        << u"http://h.com/dir/page.html"_s
        << u"<html><head><base href=\"http://base.com/sub/\"></head><body><a href=\"x\">X</a></body></html>"_s
        << u"ur=[[http://base.com/sub/x]]ut=[[X]]"_s;
    QTest::newRow("the last base counts, wherever it stands")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"x\">X</a><base href=\"http://base.com/sub/\"><base href=\"sub2/\"><a href=\"y\">Y</a>"_s
        << u"ur=[[http://h.com/dir/sub2/x]]ut=[[X]]ur=[[http://h.com/dir/sub2/y]]ut=[[Y]]"_s;
    QTest::newRow("a blank base changes nothing")
        << u"http://h.com/dir/page.html"_s
        << u"<base href=\"http://b.com/\"><base href=\" \"><a href=\"x\">X</a>"_s
        << u"ur=[[http://b.com/x]]ut=[[X]]"_s;
    QTest::newRow("area links show their alt text")
        << u"http://h.com/dir/page.html"_s
        << u"<map><area href=\"m.html\" alt=\"  Alt   text \"><area href=\"n.html\"></map>"_s
        << u"ur=[[http://h.com/dir/m.html]]ut=[[Alt text]]ur=[[http://h.com/dir/n.html]]ut=[[]]"_s;
    QTest::newRow("]] replaced, blanks collapsed")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"a]]b\">t]]x</a><a href=\"u\">  A \n\t B&nbsp;C  </a>"_s
        << u"ur=[[http://h.com/dir/a] ]b]]ut=[[t] ]x]]ur=[[http://h.com/dir/u]]ut=[[A B C]]"_s;
    QTest::newRow("a text cannot slip in a link nor end the listing item")
        << u"http://h.com/"_s
        << u"<a href=\"a\">ur=[[http://h.com/evil]]</a><a href=\"b\">[x]</a>"_s
        << u"ur=[[http://h.com/a]]ut=[[ur=[ [http://h.com/evil] ] ]]ur=[[http://h.com/b]]ut=[[[x] ]]"_s;
    QTest::newRow("entities and Chinese")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"u\">&amp; &lt;x&gt; &#20013;&#x6587; 中文链接 &copy;</a>"_s
        << u"ur=[[http://h.com/dir/u]]ut=[[& <x> 中文 中文链接 ©]]"_s;
    QTest::newRow("upper case and inline markup")
        << u"http://h.com/dir/page.html"_s
        << u"<A HREF=\"UP.HTML\"><b>Bold</b> <i>it</i><img src=x> <span>s</span></A>"_s
        << u"ur=[[http://h.com/dir/UP.HTML]]ut=[[Bold it s]]"_s;
    QTest::newRow("a new link closes an open one")
        << u"http://h.com/dir/page.html"_s << u"<a href=x.html>one<a href=\"y\">two</a> after"_s
        << u"ur=[[http://h.com/dir/x.html]]ut=[[one]]ur=[[http://h.com/dir/y]]ut=[[two]]"_s;
    QTest::newRow("script text counts, an unclosed link ends the page")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"x\">A<script>var s;</script><style>p{}</style></a><a href=\"z\">unclosed"_s
        << u"ur=[[http://h.com/dir/x]]ut=[[Avar s;p{}]]ur=[[http://h.com/dir/z]]ut=[[unclosed]]"_s;
    QTest::newRow("a block inside a link")
        << u"http://h.com/dir/page.html"_s << u"<p><a href=\"q\">1<div>block</div>2</a></p>"_s
        << u"ur=[[http://h.com/dir/q]]ut=[[1block2]]"_s;
    QTest::newRow("empty page") << u"http://h.com/dir/page.html"_s << u""_s << u""_s;
    QTest::newRow("addresses as written")
        << u"http://h.com/dir/page.html"_s
        << u"<a href=\"http://h.com/a b?c=d e\">sp</a><a href=\"http://h.com/%41\">pct</a><a href=\"HTTP://H.COM/X\">up</a><a href=\"http://[::1]/x\">v6</a><a href=\"http://h.com:80/p\">port</a>"_s
        << u"ur=[[http://h.com/a b?c=d e]]ut=[[sp]]ur=[[http://h.com/A]]ut=[[pct]]ur=[[http://h.com/X]]ut=[[up]]ur=[[http://[::1]/x]]ut=[[v6]]ur=[[http://h.com:80/p]]ut=[[port]]"_s;
}

void TestLinkLister::listing()
{
    QFETCH(QString, url);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    QCOMPARE(ListLinks(url, page), expected);
}

void TestLinkLister::sameAsDocumentTree_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("page");
    QRandomGenerator random(20261207);
    for (int i = 0; i < 3000; ++i)
        QTest::addRow("random %d", i) << u"http://h.com/d/p.html"_s << randomMarkup(random);
    const QString data = QStringLiteral(CAIJI_TEST_DATA);
    for (const QString &folder : {u"/site"_s, u"/real"_s}) {
        const QDir dir(data + folder);
        for (const QString &name : dir.entryList({u"*.htm"_s, u"*.html"_s}, QDir::Files)) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTest::addRow("%s", qPrintable(folder + u'/' + name))
                << u"http://127.0.0.1/"_s + name << QString::fromUtf8(file.readAll());
        }
    }
}

void TestLinkLister::sameAsDocumentTree()
{
    QFETCH(QString, url);
    QFETCH(QString, page);
    QCOMPARE(ListLinks(url, page), treeListing(url, page));
}

void TestLinkLister::plainMarkupScanned_data()
{
    QTest::addColumn<QString>("page");
    QRandomGenerator random(7122026);
    for (int i = 0; i < 2000; ++i)
        QTest::addRow("plain %d", i) << plainMarkup(random);
    const QDir dir(QStringLiteral(CAIJI_TEST_DATA) + u"/real"_s);
    for (const QString &name : dir.entryList({u"*.html"_s}, QDir::Files)) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::addRow("%s", qPrintable(name)) << QString::fromUtf8(file.readAll());
    }
}

// Real and plain pages are listed without the parser, and the same.
void TestLinkLister::plainMarkupScanned()
{
    QFETCH(QString, page);
    const QString url = u"http://h.com/d/p.html"_s;
    QVERIFY2(scanWellFormedLinks(page.toUtf8()).has_value(), qPrintable(page));
    QCOMPARE(ListLinks(url, page), treeListing(url, page));
}

void TestLinkLister::recoveryLeftToParser_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("link left open") << u"<a href=x>x<p>y"_s;
    QTest::newRow("link in a link") << u"<a href=x>x<a href=y>y</a></a>"_s;
    QTest::newRow("block in a link") << u"<a href=x>1<div>2</div>3</a>"_s;
    QTest::newRow("table cell ends a link") << u"<a href=x>1<td>2</a>"_s;
    QTest::newRow("misnested inline") << u"<a href=x><b><i>1</b></i></a>"_s;
    QTest::newRow("quote never closed") << u"<a title=\"x href=y>z</a>"_s;
    QTest::newRow("doctype mid-page") << u"<p><!DOCTYPE html></b><a href=x>x</a>"_s;
    QTest::newRow("nameless instruction") << u"<? x ><a href=x>x</a>"_s;
    QTest::newRow("end tag opening a script") << u"<b><script></b><a href=s>s</a></script>"_s;
    QTest::newRow("longer end tag in a script") << u"<script></scripts><a href=s>s</a>"_s;
    QTest::newRow("NUL byte") << u"<a href=x>a\0b</a><a href=y>y</a>"_s;
    QTest::newRow("byte order mark") << u"\uFEFF<a href=x>x</a>"_s;
    QTest::newRow("dropped control character") << u"<a href=x>a\u0001b</a>"_s;
    QTest::newRow("refused character number") << u"<a href=x>a&#0;b</a>"_s;
    QTest::newRow("entity name read the long way") << u"<a href=x>&amp中</a>"_s;
}

// Where the parser's error recovery decides what a link holds, the page goes
// to the parser, and the listing is still the document tree's.
void TestLinkLister::recoveryLeftToParser()
{
    QFETCH(QString, page);
    const QString url = u"http://h.com/d/p.html"_s;
    QVERIFY(!scanWellFormedLinks(page.toUtf8()).has_value());
    QCOMPARE(ListLinks(url, page), treeListing(url, page));
}

QTEST_GUILESS_MAIN(TestLinkLister)
#include "tst_linklister.moc"
