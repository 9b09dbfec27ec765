// File names made from addresses (name1) and record lines laid out in
// columns (okchar, padcut, rus).
#include "text/names.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void name1Encodes_data();
    void name1Encodes();
    void name1LongNamesFitAndStayDistinct();
    void name1LengthBoundary_data();
    void name1LengthBoundary();
    void okcharRanges_data();
    void okcharRanges();
    void padcutFits_data();
    void padcutFits();
    void rusLaysOutColumns_data();
    void rusLaysOutColumns();
};

namespace {

const QString Forbidden = u"\\/:*?\"<>|"_s;

int columns(const QString &text)
{
    int total = 0;
    for (QChar c : text)
        total += c.unicode() < 256 ? 1 : 2;
    return total;
}

bool hasForbidden(const QString &name)
{
    return std::any_of(Forbidden.begin(), Forbidden.end(),
                       [&](QChar c) { return name.contains(c); });
}

// The nine replacements alone, without the shortening.
QString plainEncoding(QString text)
{
    for (int i = 0; i < Forbidden.size(); ++i)
        text.replace(Forbidden[i], u"♀"_s + QString::number(i + 1));
    return text;
}

} // namespace

void TestNames::name1Encodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");

    QTest::newRow("backslash") << u"a\\b"_s << u"a♀1b"_s;
    QTest::newRow("slash") << u"a/b"_s << u"a♀2b"_s;
    QTest::newRow("colon") << u"a:b"_s << u"a♀3b"_s;
    QTest::newRow("asterisk") << u"a*b"_s << u"a♀4b"_s;
    QTest::newRow("question mark") << u"a?b"_s << u"a♀5b"_s;
    QTest::newRow("double quote") << u"a\"b"_s << u"a♀6b"_s;
    QTest::newRow("less-than") << u"a<b"_s << u"a♀7b"_s;
    QTest::newRow("greater-than") << u"a>b"_s << u"a♀8b"_s;
    QTest::newRow("vertical bar") << u"a|b"_s << u"a♀9b"_s;
    QTest::newRow("all nine in order") << Forbidden << u"♀1♀2♀3♀4♀5♀6♀7♀8♀9"_s;
    QTest::newRow("address") << u"http://www.example.com/news/list.asp?id=3|p=2"_s
                             << u"http♀3♀2♀2www.example.com♀2news♀2list.asp♀5id=3♀9p=2"_s;
    QTest::newRow("letters, digits, dots, chinese untouched")
        << u"Ab9.中文网页，新闻。"_s << u"Ab9.中文网页，新闻。"_s;
    QTest::newRow("other punctuation untouched")
        << u"a b-c_d=e&f#g%h'i"_s << u"a b-c_d=e&f#g%h'i"_s;
    QTest::newRow("existing code kept") << u"♀1"_s << u"♀1"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestNames::name1Encodes()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QCOMPARE(name1(text), name);
    QVERIFY(!hasForbidden(name1(text)));
}

void TestNames::name1LongNamesFitAndStayDistinct()
{
    const QString base = u"http://www.example.com/news/"_s + QString(300, u'x') + u"?id="_s;
    const QString a = base + u"1"_s;
    const QString b = base + u"2"_s;
    const QString nameA = name1(a);
    const QString nameB = name1(b);

    QVERIFY(nameA.toUtf8().size() <= 250); // with " .txt" added: 255
    QVERIFY(!hasForbidden(nameA));
    QCOMPARE(name1(a), nameA); // deterministic
    QVERIFY(nameA != nameB);
    QVERIFY(nameA.startsWith(u"http♀3♀2♀2www.example.com♀2news♀2xxx"_s));

    // Long Chinese text: three bytes a character.
    const QString chinese = QString(200, QChar(0x4E2D));
    QVERIFY(name1(chinese).toUtf8().size() <= 250);
    QVERIFY(name1(chinese) != name1(chinese + u"文"_s));
    // A name made only of encoded characters (four bytes each).
    const QString slashes = QString(100, u'/');
    QVERIFY(name1(slashes).toUtf8().size() <= 250);
    QVERIFY(!hasForbidden(name1(slashes)));
    QVERIFY(name1(slashes) != name1(QString(100, u'\\')));
    // Characters outside the BMP are never split.
    QString emoji;
    for (int i = 0; i < 100; ++i)
        emoji += u"\U0001F600"_s;
    const QString shortenedEmoji = name1(emoji);
    QVERIFY(shortenedEmoji.toUtf8().size() <= 250);
    QVERIFY(shortenedEmoji.isValidUtf16());
}

void TestNames::name1LengthBoundary_data()
{
    // The encoded name, or nothing when it is too long and gets shortened.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");

    QTest::newRow("250 ASCII bytes kept") << QString(250, u'a') << QString(250, u'a');
    QTest::newRow("251 ASCII bytes shortened") << QString(251, u'a') << QString();
    QTest::newRow("83 Chinese, 249 bytes kept")
        << QString(83, QChar(0x6587)) << QString(83, QChar(0x6587));
    QTest::newRow("84 Chinese, 252 bytes shortened") << QString(84, QChar(0x6587)) << QString();
    QTest::newRow("62 codes, 248 bytes kept") << QString(62, u':') << QString(u"♀3"_s).repeated(62);
    QTest::newRow("63 codes, 252 bytes shortened") << QString(63, u':') << QString();
}

void TestNames::name1LengthBoundary()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    const QString result = name1(text);
    QVERIFY(result.toUtf8().size() <= 250);
    if (!name.isEmpty()) {
        QCOMPARE(result, name);
    } else {
        QVERIFY(result != plainEncoding(text));
        QCOMPARE(name1(text), result);
        QVERIFY(!hasForbidden(result));
    }
}

void TestNames::okcharRanges_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("shown");

    const struct
    {
        const char *name;
        int code;
        int shown;
    } rows[] = {
        {"NUL", 0x00, 0},
        {"tab", 0x09, 0},
        {"LF", 0x0A, 0},
        {"CR", 0x0D, 0},
        {"0x1F", 0x1F, 0},
        {"blank", 0x20, 1},
        {"caret", 0x5E, 1},
        {"tilde", 0x7E, 1},
        {"DEL", 0x7F, 0},
        {"NBSP", 0xA0, 0},
        {"e acute", 0xE9, 0},
        {"ideographic blank", 0x3000, 0},
        {"ideographic stop", 0x3002, 0},
        {"0x4DFF", 0x4DFF, 0},
        {"first CJK", 0x4E00, 1},
        {"zhong", 0x4E2D, 1},
        {"last CJK", 0x9FA5, 1},
        {"0x9FA6", 0x9FA6, 0},
        {"high surrogate", 0xD800, 0},
        {"0xF8FF", 0xF8FF, 0},
        {"first compat", 0xF900, 1},
        {"last compat", 0xFA2D, 1},
        {"0xFA2E", 0xFA2E, 0},
        {"full-width comma", 0xFF0C, 0},
        {"0xFF0F", 0xFF0F, 0},
        {"full-width 0", 0xFF10, 1},
        {"full-width 9", 0xFF19, 1},
        {"full-width colon", 0xFF1A, 0},
        {"0xFF20", 0xFF20, 0},
        {"full-width A", 0xFF21, 1},
        {"full-width Z", 0xFF3A, 1},
        {"0xFF3B", 0xFF3B, 0},
        {"0xFF40", 0xFF40, 0},
        {"full-width a", 0xFF41, 1},
        {"full-width z", 0xFF5A, 1},
        {"0xFF5B", 0xFF5B, 0},
        {"BOM", 0xFEFF, 0},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.code << row.shown;
}

void TestNames::okcharRanges()
{
    QFETCH(int, code);
    QFETCH(int, shown);
    QCOMPARE(okchar(QString(QChar(code))), shown);
    // Only the first character counts.
    QCOMPARE(okchar(QString(QChar(code)) + u"a中"_s), shown);
}

void TestNames::padcutFits_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");

    const QString twenty = u"abcdefghijklmnopqrst"_s;
    const QString chinese = u"一二三四五六七八九十"_s;
    QTest::newRow("25 ASCII to 20") << twenty + u"uvwxy"_s << 20 << twenty;
    QTest::newRow("exactly 20 ASCII") << twenty << 20 << twenty;
    QTest::newRow("11 Chinese to 10") << chinese + u"百"_s << 20 << chinese;
    QTest::newRow("1 ASCII + 10 Chinese: 19 columns")
        << u"a"_s + chinese << 20 << u"a一二三四五六七八九"_s;
    QTest::newRow("1 ASCII + 9 Chinese: one blank")
        << u"a一二三四五六七八九"_s << 20 << u"a一二三四五六七八九 "_s;
    QTest::newRow("short value padded") << u"ab"_s << 20 << u"ab"_s + QString(18, u' ');
    QTest::newRow("empty value") << QString() << 20 << QString(20, u' ');
    QTest::newRow("breaks, tabs, Chinese punctuation")
        << u"\r\n\t，。、“”（）【】\u3000！"_s << 20 << QString(20, u' ');
    QTest::newRow("ASCII punctuation shown")
        << u"a,b.c!"_s << 20 << u"a,b.c!"_s + QString(14, u' ');
    QTest::newRow("outer blanks removed, inner kept")
        << u"   a  b   "_s << 20 << u"a  b"_s + QString(16, u' ');
    QTest::newRow("blanks left after dropped characters")
        << u"\t a\r\n"_s << 20 << u"a"_s + QString(19, u' ');
    QTest::newRow("line breaks inside dropped") << u"a\r\nb"_s << 20 << u"ab"_s + QString(18, u' ');
    QTest::newRow("full-width letters and digits")
        << u"\uFF21\uFF11"_s << 20 << u"\uFF21\uFF11"_s + QString(16, u' ');
    QTest::newRow("Latin-1 letter dropped") << u"caf\u00E9"_s << 20 << u"caf"_s + QString(17, u' ');
    QTest::newRow("width 0") << u"abc"_s << 0 << QString();
    QTest::newRow("width 1, two-column first") << u"中"_s << 1 << QString();
    QTest::newRow("width 3") << u"中文"_s << 3 << u"中"_s;
    QTest::newRow("width 600 pads 500 at most") << QString() << 600 << QString(500, u' ');
}

void TestNames::padcutFits()
{
    QFETCH(QString, value);
    QFETCH(int, width);
    QFETCH(QString, expected);
    const QString out = padcut(value, width);
    QCOMPARE(out, expected);
    QVERIFY(columns(out) <= std::max(width, 0));
}

void TestNames::rusLaysOutColumns_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    const QString gap = QString(4, u' ');
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only ^") << u"^"_s << QString();
    QTest::newRow("one value") << u"^abc"_s << u"abc"_s + QString(17, u' ') + gap;
    QTest::newRow("three values") << u"^a^b^c"_s
                                  << u"a"_s + QString(19, u' ') + gap + u"b"_s + QString(19, u' ') +
                                         gap + u"c"_s + QString(19, u' ') + gap;
    QTest::newRow("empty values keep their columns")
        << u"^^x"_s << QString(20, u' ') + gap + u"x"_s + QString(19, u' ') + gap;
    QTest::newRow("trailing ^ makes an empty column")
        << u"^x^"_s << u"x"_s + QString(19, u' ') + gap + QString(20, u' ') + gap;
    QTest::newRow("long and Chinese values")
        << u"^一二三四五六七八九十百^\r\n新闻"_s
        << u"一二三四五六七八九十"_s + gap + u"新闻"_s + QString(16, u' ') + gap;
    QTest::newRow("straddling value: 19 columns")
        << u"^a一二三四五六七八九十^b"_s
        << u"a一二三四五六七八九"_s + gap + u"b"_s + QString(19, u' ') + gap;
}

void TestNames::rusLaysOutColumns()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(rus(line), expected);
}

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
