// HTML fragments to plain text: the two primitives and the fixed sequence of
// htm2txt, including the consequences of its order that the design keeps.
#include "text/htmltext.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestHtmlText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killonecharReplaces_data();
    void killonecharReplaces();
    void killcharRemovesSpans_data();
    void killcharRemovesSpans();
    void htm2txtConverts_data();
    void htm2txtConverts();
    void htm2txtLongTextKeepsEveryBlock();
};

void TestHtmlText::killonecharReplaces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every occurrence") << u"aXbxc"_s << u"x"_s << u"-"_s << u"a-b-c"_s;
    QTest::newRow("case ignored, rest kept")
        << u"Hello</P>World</p>"_s << u"</p>"_s << u"\r\n"_s << u"Hello\r\nWorld\r\n"_s;
    QTest::newRow("upper-case find text") << u"a</p>b"_s << u"</P>"_s << u"|"_s << u"a|b"_s;
    QTest::newRow("replacement keeps its case") << u"x"_s << u"X"_s << u"Y"_s << u"Y"_s;
    QTest::newRow("not found") << u"abc"_s << u"x"_s << u"y"_s << u"abc"_s;
    QTest::newRow("empty text") << QString() << u"x"_s << u"y"_s << QString();
    QTest::newRow("to empty") << u"a\\rb\\r"_s << u"\\r"_s << QString() << u"ab"_s;
    QTest::newRow("double escape") << u"&amp;amp;"_s << u"&amp;"_s << u"&"_s << u"&"_s;
    QTest::newRow("triple escape") << u"x&AMP;amp;amp;y"_s << u"&amp;"_s << u"&"_s << u"x&y"_s;
    QTest::newRow("removal joins a new match")
        << u"<b<br>r>"_s << u"<br>"_s << QString() << QString();
    QTest::newRow("overlapping finds, left first") << u"aaa"_s << u"aa"_s << u"b"_s << u"ba"_s;
    QTest::newRow("shrinking chain") << u"aaaa"_s << u"aa"_s << u"a"_s << u"a"_s;
    QTest::newRow("mixed case pairs") << u"AbAB"_s << u"ab"_s << u"x"_s << u"xx"_s;
    QTest::newRow("CR LF to blank") << u"a\r\nb\nc\rd"_s << u"\r\n"_s << u" "_s << u"a b\nc\rd"_s;
    QTest::newRow("chinese around") << u"中<BR>文"_s << u"<br>"_s << u"\r\n"_s << u"中\r\n文"_s;
}

void TestHtmlText::killonecharReplaces()
{
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QCOMPARE(killonechar(text, find, replacement), expected);
}

void TestHtmlText::killcharRemovesSpans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one span") << u"a<b>c"_s << u"<"_s << u">"_s << u"ac"_s;
    QTest::newRow("two spans") << u"a<b>c<d>e"_s << u"<"_s << u">"_s << u"ace"_s;
    QTest::newRow("empty span") << u"a<>b"_s << u"<"_s << u">"_s << u"ab"_s;
    QTest::newRow("across lines") << u"a<b\r\nc>d"_s << u"<"_s << u">"_s << u"ad"_s;
    QTest::newRow("unclosed start stops") << u"a<b>c<d"_s << u"<"_s << u">"_s << u"ac<d"_s;
    QTest::newRow("unclosed first start stops everything")
        << u"x<script a>y<script>z"_s << u"<script"_s << u"</script>"_s
        << u"x<script a>y<script>z"_s;
    QTest::newRow("end before start is not used") << u"a>b<c"_s << u"<"_s << u">"_s << u"a>b<c"_s;
    QTest::newRow("nested start, first end") << u"<<b>>"_s << u"<"_s << u">"_s << u">"_s;
    QTest::newRow("removal leaves an end") << u"<a<b>>c>"_s << u"<"_s << u">"_s << u">c>"_s;
    QTest::newRow("case ignored") << u"x<SCRIPT a>y</Script>z"_s << u"<script"_s << u"</script>"_s
                                  << u"xz"_s;
    QTest::newRow("end searched from the start's own position")
        << u"xaby"_s << u"ab"_s << u"b"_s << u"xy"_s;
    QTest::newRow("empty text") << QString() << u"<"_s << u">"_s << QString();
    QTest::newRow("no start") << u"abc"_s << u"<"_s << u">"_s << u"abc"_s;
    QTest::newRow("entity span") << u"a&x;b&y;c"_s << u"&"_s << u";"_s << u"abc"_s;
}

void TestHtmlText::killcharRemovesSpans()
{
    QFETCH(QString, text);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, expected);
    QCOMPARE(killchar(text, start, end), expected);
}

void TestHtmlText::htm2txtConverts_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plain text unchanged") << u"Plain text 中文"_s << u"Plain text 中文"_s;
    QTest::newRow("upper-case </P>") << u"One</P>Two"_s << u"One\r\nTwo"_s;
    QTest::newRow("lower-case </p>") << u"One</p>Two"_s << u"One\r\nTwo"_s;
    QTest::newRow("<br> any case") << u"a<br>b<BR>c"_s << u"a\r\nb\r\nc"_s;
    QTest::newRow("<br/> leaves nothing") << u"a<br/>b<br />c"_s << u"abc"_s;
    QTest::newRow("</li> and </tr>") << u"<ul><li>a</li><li>b</li></ul>"_s << u"a\r\nb\r\n"_s;
    QTest::newRow("cells") << u"<tr><td>a</td><td>b</td></tr>"_s << u"a b \r\n"_s;
    QTest::newRow("</td > leaves nothing") << u"a</td >b"_s << u"ab"_s;
    QTest::newRow("tags removed, case kept") << u"<B>Hello</B> World"_s << u"Hello World"_s;
    QTest::newRow("source CR LF becomes blank") << u"a\r\nb</p>c"_s << u"a b\r\nc"_s;
    QTest::newRow("lone LF and CR stay") << u"a\nb\rc"_s << u"a\nb\rc"_s;
    QTest::newRow("backslash-n vanishes, LF stays") << u"a\\nb\nc"_s << u"ab\nc"_s;
    QTest::newRow("backslash-r and -t vanish") << u"a\\rb\\tc"_s << u"abc"_s;
    QTest::newRow("backslash-n joined late survives") << u"\\<b>n"_s << u"\\n"_s;
    QTest::newRow("script with attributes")
        << u"<script type=\"text/javascript\">var a = 1 < 2;</script>Visible"_s << u"Visible"_s;
    QTest::newRow("two upper-case scripts")
        << u"A<SCRIPT>x()</SCRIPT>B<SCRIPT>y()</SCRIPT>C"_s << u"ABC"_s;
    QTest::newRow("style plain and with attributes")
        << u"<style>p{}</style>a<STYLE type=\"text/css\">b{}</STYLE>b"_s << u"ab"_s;
    QTest::newRow("head block") << u"<html><head><title>T</title></head><body>Body</body></html>"_s
                                << u"Body"_s;
    QTest::newRow("comment") << u"<!-- note -->text"_s << u"text"_s;
    QTest::newRow("unclosed script, later steps run") << u"<script src=a.js>x<b>y</b>"_s << u"xy"_s;
    QTest::newRow("nbsp any case") << u"a&nbsp;b&NBSP;c"_s << u"a b c"_s;
    QTest::newRow("escaped markup survives") << u"&lt;b&gt;bold&lt;/b&gt;"_s << u"<b>bold</b>"_s;
    QTest::newRow("double-escaped lt decodes twice") << u"&amp;lt;"_s << u"<"_s;
    QTest::newRow("&amp;amp; to &") << u"&amp;amp;"_s << u"&"_s;
    QTest::newRow("&amp; without later ;") << u"A &amp; B"_s << u"A & B"_s;
    QTest::newRow("&amp; with later ;") << u"A &amp; B; C"_s << u"A  C"_s;
    QTest::newRow("ampersand without ;") << u"Tom & Jerry"_s << u"Tom & Jerry"_s;
    QTest::newRow("ampersand with later ;") << u"Tom & Jerry; end"_s << u"Tom  end"_s;
    QTest::newRow("ampersand span across LF") << u"a & b\nc;d"_s << u"a d"_s;
    QTest::newRow("ampersand span across CR LF") << u"a & b\r\nc;d"_s << u"a d"_s;
    QTest::newRow("other entities removed") << u"&quot;x&quot; &#20013;y"_s << u"x y"_s;
    QTest::newRow("less-than as text with a later tag") << u"1 < 2 <b>x</b>"_s << u"1 x"_s;
    QTest::newRow("less-than as text alone") << u"1 < 2"_s << u"1 < 2"_s;
    QTest::newRow("chinese paragraph")
        << u"<p class=\"t\">信息采集</p><P>第二段</P>"_s << u"信息采集\r\n第二段\r\n"_s;
}

void TestHtmlText::htm2txtConverts()
{
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(htm2txt(html), expected);
}

void TestHtmlText::htm2txtLongTextKeepsEveryBlock()
{
    // Many matches in one text: every block is converted, none skipped.
    QString html;
    QString expected;
    for (int i = 0; i < 5000; ++i) {
        const QString n = QString::number(i);
        html += u"<tr><td>"_s + n + u"</td><td>&amp;amp;</td></tr><SCRIPT>x</SCRIPT>"_s;
        expected += n + u" & \r\n"_s;
    }
    QCOMPARE(htm2txt(html), expected);
}

QTEST_GUILESS_MAIN(TestHtmlText)
#include "tst_htmltext.moc"
