// Cutting field values: the eight settings of a level section (getw), the
// first match of a pattern (getreg) and the a-list post-processing (geta).
#include "text/extract.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestExtract : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getwReadsAllEight();
    void getwMissingKeyCutsFromFifthChar_data();
    void getwMissingKeyCutsFromFifthChar();
    void getwUnclosedKeepsPreviousValue();
    void getwShortSectionKeepsEverything();
    void getwFirstOccurrenceWins();
    void getregFirstMatch_data();
    void getregFirstMatch();
    void getaCleansAndTests_data();
    void getaCleansAndTests();
};

namespace {

WValues previous()
{
    WValues w;
    for (int k = 0; k < 8; ++k)
        w[k] = u"old"_s + QString::number(k + 1);
    return w;
}

} // namespace

void TestExtract::getwReadsAllEight()
{
    const QString section = u"\r\nw1=[[1]]\r\nw2=[[0]]\r\nw3=[[2]]\r\n"
                            u"w4=[[<h1>^</h1>^^^-1^0|<p class=\"a]b\">^</p>^^^1^3]]\r\n"
                            u"w5=[[0]]w6=[[]]w7=[[1]]w8=[[来源\r\n第二行]]\r\n"_s;
    WValues w = previous();
    getw(section, w);
    const WValues expected = {
        u"1"_s, u"0"_s,    u"2"_s, u"<h1>^</h1>^^^-1^0|<p class=\"a]b\">^</p>^^^1^3"_s,
        u"0"_s, QString(), u"1"_s, u"来源\r\n第二行"_s};
    QCOMPARE(w, expected);
}

void TestExtract::getwMissingKeyCutsFromFifthChar_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("w3");

    const QString rest = u"w1=[[1]]w2=[[0]]w4=[[a]]w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]"_s;
    QTest::newRow("text from char 5") << u"abcdefg]]"_s + rest << u"efg"_s;
    QTest::newRow("]] at char 5 gives empty") << u"abcd]]"_s + rest << QString();
    QTest::newRow("section starting with CR LF") << u"\r\n"_s + rest << u"=[[1"_s;
}

void TestExtract::getwMissingKeyCutsFromFifthChar()
{
    QFETCH(QString, section);
    QFETCH(QString, w3);
    WValues w = previous();
    getw(section, w);
    QCOMPARE(w[2], w3);
    QCOMPARE(w[0], u"1"_s);
    QCOMPARE(w[3], u"a"_s);
}

void TestExtract::getwUnclosedKeepsPreviousValue()
{
    WValues w = previous();
    getw(u"w1=[[1]]w2=[[2]]w3=[[3]]w4=[[4]]w5=[[5]]w6=[[6]]w7=[[7]]w8=[[unclosed"_s, w);
    const WValues expected = {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"old8"_s};
    QCOMPARE(w, expected);
}

void TestExtract::getwShortSectionKeepsEverything()
{
    // No "]]" at or after the fifth character: every cut fails.
    for (const QString &section : {QString(), u"w1"_s, u"ab]]"_s, u"w1=[[1"_s}) {
        WValues w = previous();
        getw(section, w);
        QCOMPARE(w, previous());
    }
}

void TestExtract::getwFirstOccurrenceWins()
{
    WValues w = previous();
    getw(u"w1=[[first]]w1=[[second]]w2=[[a]]w2=[[b]]"_s, w);
    QCOMPARE(w[0], u"first"_s);
    QCOMPARE(w[1], u"a"_s);
}

void TestExtract::getregFirstMatch_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("digits") << u"\\d+"_s << u"ab 12 cd 345"_s << u"12"_s;
    QTest::newRow("case ignored") << u"X"_s << u"abx"_s << u"x"_s;
    QTest::newRow("case ignored, chinese around") << u"abc"_s << u"中ABC文"_s << u"ABC"_s;
    QTest::newRow("no match") << u"\\d+"_s << u"abc"_s << QString();
    QTest::newRow("whole match, not the group") << u"a(b)c"_s << u"xabcx"_s << u"abc"_s;
    QTest::newRow("leftmost-first alternation") << u"a|ab"_s << u"ab"_s << u"a"_s;
    QTest::newRow("greedy") << u"<.*>"_s << u"<a><b>"_s << u"<a><b>"_s;
    QTest::newRow("lazy") << u"<.*?>"_s << u"<a><b>"_s << u"<a>"_s;
    QTest::newRow("dot stops at a line feed") << u"a.b"_s << u"a\nb"_s << QString();
    QTest::newRow("lookahead") << u"\\d+(?=元)"_s << u"共12件 30元"_s << u"30"_s;
    QTest::newRow("chinese class by \\x{}")
        << u"[\\x{4e00}-\\x{9fa5}]+"_s << u"abc中文def"_s << u"中文"_s;
    // Patterns are written for an ECMAScript-style engine: "\uXXXX" names a
    // character, the usual way to write the range of Chinese characters.
    QTest::newRow("chinese class by \\u")
        << u"[\\u4e00-\\u9fa5]+"_s << u"abc中文def"_s << u"中文"_s;
    QTest::newRow("\\u upper-case hex") << u"\\u4E2D"_s << u"中文"_s << u"中"_s;
    QTest::newRow("\\u with case folding") << u"\\d\\u0041"_s << u"x1a"_s << u"1a"_s;
    QTest::newRow("escaped backslash before u") << u"\\\\u4e2d"_s << u"a\\u4e2d"_s << u"\\u4e2d"_s;
    QTest::newRow("\\u without four hex digits is u") << u"\\u12"_s << u"xu12"_s << u"u12"_s;
    QTest::newRow("empty pattern matches empty") << QString() << u"abc"_s << QString();
    QTest::newRow("invalid: open group") << u"("_s << u"(abc"_s << QString();
    QTest::newRow("invalid: open class") << u"[a-"_s << u"abc"_s << QString();
    QTest::newRow("invalid: reversed count") << u"a{2,1}"_s << u"aaa"_s << QString();
}

void TestExtract::getregFirstMatch()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(getreg(pattern, text), expected);
}

void TestExtract::getaCleansAndTests_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("alist");
    QTest::addColumn<QString>("expected");

    QTest::newRow("prefix and suffix") << u"Hi"_s << u"0|[|]||||"_s << u"[Hi]"_s;
    QTest::newRow("three parts only") << u"Hi"_s << u"0|[|]"_s << QString();
    QTest::newRow("six parts") << u"Hi"_s << u"0|[|]|||"_s << QString();
    QTest::newRow("empty a-list") << u"Hi"_s << QString() << QString();
    QTest::newRow("eight parts") << u"Hi"_s << u"0|[|]|||||extra"_s << u"[Hi]"_s;
    QTest::newRow("all empty parts") << u"Hi"_s << u"||||||"_s << u"Hi"_s;
    QTest::newRow("empty value passes empty") << QString() << u"0||||||"_s << QString();
    QTest::newRow("must contain news, fails") << u"hello"_s << u"0|x|y|||news|"_s << QString();
    QTest::newRow("must contain news, passes")
        << u"good news"_s << u"0|x|y|||news|"_s << u"xgood newsy"_s;
    QTest::newRow("must contain all, one missing")
        << u"news 2024"_s << u"0|||||news^2025|"_s << QString();
    QTest::newRow("must contain none, hit") << u"news 2024 ad"_s << u"0|||||news|ad"_s << QString();
    QTest::newRow("must contain none, clean")
        << u"news 2024"_s << u"0|||||news|ad"_s << u"news 2024"_s;
    QTest::newRow("replace pairs") << u"acac"_s << u"0|||a^b^c^d|||"_s << u"bdbd"_s;
    QTest::newRow("delete blank and hyphen") << u"a - b"_s << u"0|||| ^-||"_s << u"ab"_s;
    QTest::newRow("replace before delete") << u"ab"_s << u"0|||a^b|b||"_s << QString();
    QTest::newRow("prefix and suffix not replaced") << u"a"_s << u"0|a|a|a^x|||"_s << u"axa"_s;
    QTest::newRow("htm2txt when part 0 > 0") << u"<b>x</b>"_s << u"1||||||"_s << u"x"_s;
    QTest::newRow("part 0 read from its start") << u"<b>x</b>"_s << u" 2x||||||"_s << u"x"_s;
    QTest::newRow("part 0 letters: no conversion")
        << u"<b>x</b>"_s << u"abc||||||"_s << u"<b>x</b>"_s;
    QTest::newRow("part 0 negative: no conversion")
        << u"<b>x</b>"_s << u"-1||||||"_s << u"<b>x</b>"_s;
    QTest::newRow("none-test sees the value as cut")
        << u"<b>x</b>"_s << u"1||||||<b>"_s << QString();
    QTest::newRow("all-test sees the value as cut") << u"<b>x</b>"_s << u"1|||||b>|"_s << u"x"_s;
    QTest::newRow("convert then replace") << u"A &amp; B"_s << u"1|||&^and|||"_s << u"A and B"_s;
    QTest::newRow("chinese prefix") << u"新闻"_s << u"0|【|】||||"_s << u"【新闻】"_s;
}

void TestExtract::getaCleansAndTests()
{
    QFETCH(QString, value);
    QFETCH(QString, alist);
    QFETCH(QString, expected);
    QCOMPARE(geta(value, alist), expected);
}

QTEST_GUILESS_MAIN(TestExtract)
#include "tst_extract.moc"
