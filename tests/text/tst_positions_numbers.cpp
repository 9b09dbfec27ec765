// The position helpers every cutting rule counts with, and the three ways the
// task format reads a number.
#include "text/numbers.h"
#include "text/positions.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestPositionsNumbers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void instrFinds_data();
    void instrFinds();
    void instrRevFinds_data();
    void instrRevFinds();
    void midCuts_data();
    void midCuts();
    void cutBetweenFailsOnNegativeLength_data();
    void cutBetweenFailsOnNegativeLength();
    void lowerSameLengthKeepsPositions();

    void numberAtStartNeverFails_data();
    void numberAtStartNeverFails();
    void readAsNumberWholeText_data();
    void readAsNumberWholeText();
    void toInt16RoundsAndRanges_data();
    void toInt16RoundsAndRanges();
};

void TestPositionsNumbers::instrFinds_data()
{
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<QString>("haystack");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("expected");

    QTest::newRow("first") << qsizetype(1) << u"abcabc"_s << u"bc"_s << qsizetype(2);
    QTest::newRow("from after first") << qsizetype(3) << u"abcabc"_s << u"bc"_s << qsizetype(5);
    QTest::newRow("from at match") << qsizetype(5) << u"abcabc"_s << u"bc"_s << qsizetype(5);
    QTest::newRow("none") << qsizetype(1) << u"abcabc"_s << u"x"_s << qsizetype(0);
    QTest::newRow("none after from") << qsizetype(6) << u"abcabc"_s << u"bc"_s << qsizetype(0);
    QTest::newRow("case-sensitive") << qsizetype(1) << u"ABC"_s << u"b"_s << qsizetype(0);
    QTest::newRow("empty needle at from") << qsizetype(3) << u"abc"_s << QString() << qsizetype(3);
    QTest::newRow("empty needle at 1") << qsizetype(1) << u"abc"_s << QString() << qsizetype(1);
    QTest::newRow("empty needle past end") << qsizetype(4) << u"abc"_s << QString() << qsizetype(0);
    QTest::newRow("empty haystack") << qsizetype(1) << QString() << u"a"_s << qsizetype(0);
    QTest::newRow("both empty") << qsizetype(1) << QString() << QString() << qsizetype(0);
    QTest::newRow("from past end") << qsizetype(10) << u"abc"_s << u"c"_s << qsizetype(0);
    QTest::newRow("from 0 counts as 1") << qsizetype(0) << u"abc"_s << u"a"_s << qsizetype(1);
    QTest::newRow("negative from") << qsizetype(-5) << u"abc"_s << u"c"_s << qsizetype(3);
    QTest::newRow("needle longer") << qsizetype(1) << u"ab"_s << u"abc"_s << qsizetype(0);
    QTest::newRow("chinese") << qsizetype(1) << u"信息采集"_s << u"采集"_s << qsizetype(3);
    QTest::newRow("marker") << qsizetype(1) << u"xx]]yy]]"_s << u"]]"_s << qsizetype(3);
    // Short and long texts are searched differently; both must agree.
    const QString page = QString(300, u'a') + u"<title>x</title>"_s + QString(300, u'b');
    QTest::newRow("long text") << qsizetype(1) << page << u"</title>"_s << qsizetype(309);
    QTest::newRow("long text, no match") << qsizetype(1) << page << u"<titlex"_s << qsizetype(0);
    QTest::newRow("256 left") << qsizetype(page.size() - 255) << page << u"bbb"_s
                              << page.size() - 255;
    QTest::newRow("255 left") << qsizetype(page.size() - 254) << page << u"bbb"_s
                              << page.size() - 254;
    QTest::newRow("short, three units")
        << qsizetype(1) << u"http://x/genindex.html"_s << u"genindex"_s << qsizetype(10);
    QTest::newRow("short, at the end")
        << qsizetype(1) << u"a/search.html"_s << u".html"_s << qsizetype(9);
}

void TestPositionsNumbers::instrFinds()
{
    QFETCH(qsizetype, from);
    QFETCH(QString, haystack);
    QFETCH(QString, needle);
    QFETCH(qsizetype, expected);
    QCOMPARE(instr(from, haystack, needle), expected);
}

void TestPositionsNumbers::instrRevFinds_data()
{
    QTest::addColumn<QString>("haystack");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("expected");

    QTest::newRow("last") << u"a/b/c"_s << u"/"_s << qsizetype(4);
    QTest::newRow("only") << u"a/b"_s << u"/"_s << qsizetype(2);
    QTest::newRow("none") << u"abc"_s << u"/"_s << qsizetype(0);
    QTest::newRow("at end") << u"abc/"_s << u"/"_s << qsizetype(4);
    QTest::newRow("empty needle") << u"abc"_s << QString() << qsizetype(0);
    QTest::newRow("empty haystack") << QString() << u"a"_s << qsizetype(0);
}

void TestPositionsNumbers::instrRevFinds()
{
    QFETCH(QString, haystack);
    QFETCH(QString, needle);
    QFETCH(qsizetype, expected);
    QCOMPARE(instrRev(haystack, needle), expected);
}

void TestPositionsNumbers::midCuts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QString>("expected");

    QTest::newRow("middle") << u"abcdef"_s << qsizetype(2) << qsizetype(3) << u"bcd"_s;
    QTest::newRow("from 1") << u"abcdef"_s << qsizetype(1) << qsizetype(2) << u"ab"_s;
    QTest::newRow("clipped at end") << u"abcdef"_s << qsizetype(5) << qsizetype(10) << u"ef"_s;
    QTest::newRow("last char") << u"abcdef"_s << qsizetype(6) << qsizetype(1) << u"f"_s;
    QTest::newRow("start past end") << u"abc"_s << qsizetype(4) << qsizetype(1) << QString();
    QTest::newRow("zero length") << u"abc"_s << qsizetype(2) << qsizetype(0) << QString();
    QTest::newRow("negative length") << u"abc"_s << qsizetype(2) << qsizetype(-1) << QString();
    QTest::newRow("start 0 counts as 1") << u"abc"_s << qsizetype(0) << qsizetype(2) << u"ab"_s;
    QTest::newRow("empty text") << QString() << qsizetype(1) << qsizetype(3) << QString();
    QTest::newRow("chinese") << u"信息采集"_s << qsizetype(2) << qsizetype(2) << u"息采"_s;
}

void TestPositionsNumbers::midCuts()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(QString, expected);
    QCOMPARE(mid(text, start, length), expected);
}

void TestPositionsNumbers::cutBetweenFailsOnNegativeLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("end");
    QTest::addColumn<bool>("cuts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("between") << u"ur=[[1|x]]"_s << qsizetype(6) << qsizetype(9) << true << u"1|x"_s;
    QTest::newRow("empty value") << u"ur=[[]]"_s << qsizetype(6) << qsizetype(6) << true
                                 << QString();
    QTest::newRow("end 0 fails") << u"ur=[[1"_s << qsizetype(6) << qsizetype(0) << false
                                 << QString();
    QTest::newRow("end before start fails")
        << u"abc"_s << qsizetype(3) << qsizetype(2) << false << QString();
    QTest::newRow("past the text cuts nothing")
        << u"abc"_s << qsizetype(5) << qsizetype(9) << true << QString();
}

void TestPositionsNumbers::cutBetweenFailsOnNegativeLength()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, end);
    QFETCH(bool, cuts);
    QFETCH(QString, expected);
    const std::optional<QString> value = cutBetween(text, start, end);
    QCOMPARE(value.has_value(), cuts);
    if (cuts)
        QCOMPARE(*value, expected);
}

void TestPositionsNumbers::lowerSameLengthKeepsPositions()
{
    QCOMPARE(lowerSameLength(u"</P>ABC中文"), u"</p>abc中文"_s);
    // U+0130 lower-cases to two code points in full case mapping; per unit
    // it stays one, so positions in the copy still match the original.
    const QString dotted = u"x\u0130y"_s;
    QCOMPARE(lowerSameLength(dotted).size(), dotted.size());
    QCOMPARE(lowerSameLength(dotted).at(2), QChar(u'y'));
    QString surrogates = u"a"_s;
    surrogates += QChar(0xD800);
    surrogates += u"B"_s;
    QCOMPARE(lowerSameLength(surrogates).size(), surrogates.size());
    QCOMPARE(lowerSameLength(surrogates).at(2), QChar(u'b'));
    QCOMPARE(lowerSameLength(QString()), QString());
}

void TestPositionsNumbers::numberAtStartNeverFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("integer") << u"12"_s << 12.0;
    QTest::newRow("leading blanks") << u"   3"_s << 3.0;
    QTest::newRow("leading tab and newline") << u"\t\n4"_s << 4.0;
    QTest::newRow("trailing text") << u"2abc"_s << 2.0;
    QTest::newRow("fraction") << u"1.5|x"_s << 1.5;
    QTest::newRow("negative") << u"-1"_s << -1.0;
    QTest::newRow("plus") << u"+7"_s << 7.0;
    QTest::newRow("leading point") << u".5"_s << 0.5;
    QTest::newRow("exponent") << u"1e3"_s << 1000.0;
    QTest::newRow("incomplete exponent") << u"2e"_s << 2.0;
    QTest::newRow("letters") << u"abc"_s << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("only blanks") << u"   "_s << 0.0;
    QTest::newRow("sign only") << u"-"_s << 0.0;
    QTest::newRow("point only") << u"."_s << 0.0;
    QTest::newRow("huge overflows to 0") << u"1e999"_s << 0.0;
    QTest::newRow("full-width digit is no digit") << u"\uFF11"_s << 0.0;
}

void TestPositionsNumbers::numberAtStartNeverFails()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(numberAtStart(text), expected);
}

void TestPositionsNumbers::readAsNumberWholeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("expected");

    QTest::newRow("integer") << u"1"_s << true << 1.0;
    QTest::newRow("blanks around") << u"  2  "_s << true << 2.0;
    QTest::newRow("fraction") << u"2.25"_s << true << 2.25;
    QTest::newRow("negative") << u"-3"_s << true << -3.0;
    QTest::newRow("exponent") << u"1E2"_s << true << 100.0;
    QTest::newRow("trailing point") << u"5."_s << true << 5.0;
    QTest::newRow("letters") << u"abc"_s << false << 0.0;
    QTest::newRow("trailing letters") << u"1a"_s << false << 0.0;
    QTest::newRow("inner blank") << u"1 2"_s << false << 0.0;
    QTest::newRow("empty") << QString() << false << 0.0;
    QTest::newRow("only blanks") << u"  "_s << false << 0.0;
    QTest::newRow("sign only") << u"+"_s << false << 0.0;
    QTest::newRow("overflow") << u"1e999"_s << false << 0.0;
}

void TestPositionsNumbers::readAsNumberWholeText()
{
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(double, expected);
    const std::optional<double> value = readAsNumber(text);
    QCOMPARE(value.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(*value, expected);
}

void TestPositionsNumbers::toInt16RoundsAndRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<int>("expected");

    QTest::newRow("12") << u"12"_s << true << 12;
    QTest::newRow("blanks around") << u" 7 "_s << true << 7;
    QTest::newRow("7.5 to even 8") << u"7.5"_s << true << 8;
    QTest::newRow("6.5 to even 6") << u"6.5"_s << true << 6;
    QTest::newRow("0.5 to even 0") << u"0.5"_s << true << 0;
    QTest::newRow("-2.5 to even -2") << u"-2.5"_s << true << -2;
    QTest::newRow("6.6 to nearest") << u"6.6"_s << true << 7;
    QTest::newRow("6.4 to nearest") << u"6.4"_s << true << 6;
    QTest::newRow("max") << u"32767"_s << true << 32767;
    QTest::newRow("min") << u"-32768"_s << true << -32768;
    QTest::newRow("32767.4 rounds into range") << u"32767.4"_s << true << 32767;
    QTest::newRow("32767.5 rounds out of range") << u"32767.5"_s << false << 0;
    QTest::newRow("-32768.5 rounds to even inside") << u"-32768.5"_s << true << -32768;
    QTest::newRow("32768") << u"32768"_s << false << 0;
    QTest::newRow("40000") << u"40000"_s << false << 0;
    QTest::newRow("-40000") << u"-40000"_s << false << 0;
    QTest::newRow("letters") << u"abc"_s << false << 0;
    QTest::newRow("digits then letters") << u"12abc"_s << false << 0;
    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("blanks only") << u"   "_s << false << 0;
}

void TestPositionsNumbers::toInt16RoundsAndRanges()
{
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(int, expected);
    const std::optional<qint16> value = toInt16(text);
    QCOMPARE(value.has_value(), converts);
    if (converts)
        QCOMPARE(int(*value), expected);
}

QTEST_GUILESS_MAIN(TestPositionsNumbers)
#include "tst_positions_numbers.moc"
