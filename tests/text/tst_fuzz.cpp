// Bounded fuzzing of the text functions with a fixed seed: random page files
// through readtext, htm2txt, getw, geta, getreg, rus and name1, plus texts
// made only of markers, unpaired surrogates, empty texts and one long text.
// Each step checks a property that must hold for every input.
#include "tasks/taskfile.h"
#include "text/extract.h"
#include "text/htmltext.h"
#include "text/links.h"
#include "text/names.h"
#include "text/positions.h"
#include "text/readtext.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace Qt::StringLiterals;
using namespace caiji;

class TestFuzz : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void randomPagesThroughThePipeline();
    void markerOnlyTexts();
    void unpairedSurrogates();
    void emptyTexts();
    void longText();

private:
    QString writeFile(const QByteArray &bytes);

    QTemporaryDir m_dir;
};

namespace {

constexpr quint32 Seed = 20240607;
constexpr int RandomPages = 3000;
constexpr int MarkerTexts = 3000;

const QString Forbidden = u"\\/:*?\"<>|"_s;

// Byte pieces a page is built from: markup, declarations, task-file markers,
// Chinese in three encodings and the bytes the sniff looks for.
const QByteArray PageAtoms[] = {
    "<p>",
    "</P>",
    "<br>",
    "<BR/>",
    "</td>",
    "</li>",
    "</tr>",
    "<head>",
    "</head>",
    "<script>",
    "<SCRIPT type=x>",
    "</script>",
    "<style>",
    "<style a>",
    "</STYLE>",
    "<",
    ">",
    "&",
    ";",
    "&amp;",
    "&AMP;amp;",
    "&nbsp;",
    "&lt;",
    "&gt;",
    "&#20013;",
    "\r\n",
    "\r",
    "\n",
    "\\n",
    "\\r",
    "\\t",
    "charset=utf-8",
    "charset=gb2312",
    "CHARSET=GB2312",
    "charset=big5",
    "charset = utf-8",
    "]]",
    "[[",
    "w1=[[",
    "w3=[[",
    "w8=[[",
    "<getm1>",
    "a1=[[",
    "ds=[[",
    "|",
    "^",
    " ",
    "   ",
    "abc",
    "Hello",
    "0123456789",
    "http://www.example.com/a.html?x=1",
    "\xE4\xB8\xAD\xE6\x96\x87", // 中文 in UTF-8
    "\xD6\xD0\xCE\xC4",         // 中文 in GBK
    "\xA4\xA4\xA4\xE5",         // 中文 in Big5
    "\xEF\xBB\xBF",
    "\xFE",
    "\xFF",
    "\x80",
    "\x00",
    "\x1B",
};

const QString MarkerAtoms[] = {
    u"<"_s,        u">"_s,        u"</"_s,     u"<script"_s, u"</script>"_s, u"<SCRIPT>"_s,
    u"<style"_s,   u"</style>"_s, u"<head>"_s, u"</head>"_s, u"&"_s,         u";"_s,
    u"&amp;"_s,    u"amp;"_s,     u"&lt;"_s,   u"&gt;"_s,    u"&nbsp;"_s,    u"</p>"_s,
    u"<br>"_s,     u"</td>"_s,    u"\r\n"_s,   u"\r"_s,      u"\n"_s,        u"\\"_s,
    u"n"_s,        u"]]"_s,       u"[["_s,     u"=[["_s,     u"ur=[["_s,     u"uc=[["_s,
    u"w1=[["_s,    u"w2=[["_s,    u"a1=[["_s,  u"a10=[["_s,  u"ds=[["_s,     u"<getm1>"_s,
    u"<getm10>"_s, u"|"_s,        u"^"_s,      u"♀"_s,       u"1"_s,         u"/"_s,
    u":"_s,
};

const QString Patterns[] = {
    u"\\d+"_s,
    u"[a-z]+"_s,
    u"<.*?>"_s,
    u"<.*>"_s,
    u"中文|abc"_s,
    u"[\\u4e00-\\u9fa5]+"_s,
    u"(a|ab)(c|bcd)(d*)"_s,
    u"^.{0,3}"_s,
    u"$"_s,
    u""_s,
    u"("_s,
    u"[a-"_s,
    u"a{2,1}"_s,
    u"\\"_s,
    u"\\u12"_s,
    u"(?i)HELLO"_s,
    u"(.)\\1"_s,
    u"\\s+"_s,
    u"[^<>]+"_s,
};

QString gb18030Of(const QByteArray &bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

QString utf8Of(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    return decoder.decode(bytes);
}

QString big5Of(const QByteArray &bytes)
{
    QStringDecoder decoder("Big5");
    return decoder.decode(bytes);
}

enum class ReadPath { Short, DeclaredGb, DeclaredUtf8, DeclaredBig5, Detected, ValidUtf8 };

// What readtext must return, written from the rule rather than the code, and
// which branch of the rule decides. An undeclared page that is not UTF-8 is
// read as GB18030 or Big5, whichever the detector judges: either is right.
std::pair<QStringList, ReadPath> expectedReadtext(const QByteArray &bytes)
{
    const QString first = gb18030Of(bytes);
    if (first.size() < 10)
        return {{QString()}, ReadPath::Short};
    const QString head = first.left(500).toLower();
    if (head.contains(u"charset=gb2312"))
        return {{first}, ReadPath::DeclaredGb};
    if (head.contains(u"charset=utf-8"))
        return {{utf8Of(bytes)}, ReadPath::DeclaredUtf8};
    if (head.contains(u"charset=big"))
        return {{big5Of(bytes)}, ReadPath::DeclaredBig5};
    if (bytes.isValidUtf8())
        return {{utf8Of(bytes)}, ReadPath::ValidUtf8};
    return {{first, big5Of(bytes)}, ReadPath::Detected};
}

int columns(const QString &text)
{
    int total = 0;
    for (QChar c : text)
        total += c.unicode() < 256 ? 1 : 2;
    return total;
}

// htm2txt only shortens: every step replaces a text by a shorter one or
// removes a span.
bool htm2txtProperties(const QString &input, const QString &output)
{
    if (output.size() > input.size())
        return false;
    // The last step removed every "&" .. ";" span: no ";" follows the first "&".
    const qsizetype amp = output.indexOf(u'&');
    return amp < 0 || output.indexOf(u';', amp) < 0;
}

// killchar leaves no end marker after the first start marker.
bool killcharProperty(const QString &output, const QString &start, const QString &end)
{
    const QString lower = lowerSameLength(output);
    const qsizetype at = lower.indexOf(lowerSameLength(start));
    return at < 0 || lower.indexOf(lowerSameLength(end), at) < 0;
}

// A cell is the longest prefix of the value's shown characters (outer blanks
// removed, blanks appended) that fits 20 columns; only shown characters and
// blanks appear on the line.
bool padcutProperty(const QString &value, const QString &cell)
{
    QString shown;
    for (QChar c : value) {
        if (okchar(QString(c)))
            shown += c;
    }
    const QString padded = shown.trimmed() + QString(500, u' ');
    if (!padded.startsWith(cell) || columns(cell) > 20)
        return false;
    return columns(cell) + columns(QString(padded[cell.size()])) > 20;
}

bool rusProperties(const QString &line, const QString &display)
{
    for (QChar c : display) {
        if (c != u' ' && !okchar(QString(c)))
            return false;
    }
    if (line.size() <= 1)
        return display.isEmpty();
    QString joined;
    for (const QString &value : line.sliced(1).split(u'^')) {
        const QString cell = padcut(value, 20);
        if (!padcutProperty(value, cell))
            return false;
        joined += cell + u"    "_s;
    }
    return joined == display;
}

bool name1Properties(const QString &text, const QString &name)
{
    if (name != name1(text) || name.toUtf8().size() > 250)
        return false;
    if (std::any_of(Forbidden.begin(), Forbidden.end(), [&](QChar c) { return name.contains(c); }))
        return false;
    // Names that fit are the nine replacements and nothing else.
    QString plain = text;
    for (int i = 0; i < Forbidden.size(); ++i)
        plain.replace(Forbidden[i], u"♀"_s + QString::number(i + 1));
    return plain.toUtf8().size() <= 250 ? name == plain : name != plain;
}

// A lone surrogate never comes out of a decoder, so it marks "not set".
QString sentinel()
{
    return QString(QChar(0xDC00)) + u"unset"_s;
}

bool getwProperties(const QString &section, const WValues &w)
{
    for (const QString &value : w) {
        if (value == sentinel())
            continue;
        if (value.contains(u"]]") || !section.contains(value))
            return false;
    }
    return true;
}

bool getaProperties(const QString &alist, const QString &result)
{
    const QStringList parts = alist.split(u'|');
    if (parts.size() < 7)
        return result.isEmpty();
    return result.isEmpty() || (result.startsWith(parts[1]) && result.endsWith(parts[2]));
}

QString randomAlist(QRandomGenerator &random)
{
    static const QString pieces[] = {u"0"_s,     u"1"_s,   u"abc"_s, u"["_s,  u"]"_s,
                                     u"a^b"_s,   u"x^"_s,  u"^"_s,   u"中"_s, QString(),
                                     u"&^and"_s, u" ^-"_s, u"<^>"_s};
    const int count = random.bounded(9);
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << pieces[random.bounded(int(std::size(pieces)))];
    return parts.join(u'|');
}

} // namespace

void TestFuzz::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestFuzz::writeFile(const QByteArray &bytes)
{
    const QString path = m_dir.filePath(u"page.html"_s);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(bytes);
    return path;
}

void TestFuzz::randomPagesThroughThePipeline()
{
    QRandomGenerator random(Seed);
    std::map<ReadPath, int> paths;
    for (int round = 0; round < RandomPages; ++round) {
        QByteArray bytes;
        const int pieces = random.bounded(round % 10 == 0 ? 200 : 40);
        for (int i = 0; i < pieces; ++i) {
            if (random.bounded(4) == 0) {
                for (int n = random.bounded(1, 5); n > 0; --n)
                    bytes += char(random.bounded(256));
            } else {
                bytes += PageAtoms[random.bounded(int(std::size(PageAtoms)))];
            }
        }
        const QString path = writeFile(bytes);
        QVERIFY(!path.isEmpty());

        const QString text = readtext(path);
        const auto [expected, readPath] = expectedReadtext(bytes);
        QVERIFY2(expected.contains(text), bytes.toHex().constData());
        ++paths[readPath];

        const QString plain = htm2txt(text);
        QVERIFY2(htm2txtProperties(text, plain), qUtf8Printable(text));
        QVERIFY(killcharProperty(killchar(text, u"<"_s, u">"_s), u"<"_s, u">"_s));
        QVERIFY(!lowerSameLength(killonechar(text, u"&amp;"_s, u"&"_s)).contains(u"&amp;"));

        WValues w;
        w.fill(sentinel());
        getw(text, w);
        QVERIFY2(getwProperties(text, w), qUtf8Printable(text));

        const QString pattern = Patterns[random.bounded(int(std::size(Patterns)))];
        const QString match = getreg(pattern, text);
        QVERIFY(text.contains(match));

        const QString alist = randomAlist(random);
        const QString cleaned = geta(plain, alist);
        QVERIFY2(getaProperties(alist, cleaned), qUtf8Printable(alist));

        const QString line = u"^"_s + plain + u"^"_s + w[0] + u"^"_s + match + u"^"_s + cleaned;
        QVERIFY2(rusProperties(line, rus(line)), qUtf8Printable(line));
        QVERIFY2(name1Properties(text, name1(text)), qUtf8Printable(text));
        QVERIFY(name1Properties(plain, name1(plain)));
    }
    // Every branch of readtext was taken by a fair number of pages.
    QCOMPARE(paths.size(), size_t(6));
    for (const auto &[readPath, count] : paths) {
        QVERIFY2(count >= 20, QByteArray::number(int(readPath)).constData());
    }
}

void TestFuzz::markerOnlyTexts()
{
    QRandomGenerator random(Seed + 1);
    TaskDefinition definition;
    for (int round = 0; round < MarkerTexts; ++round) {
        QString text;
        for (int i = random.bounded(60); i > 0; --i)
            text += MarkerAtoms[random.bounded(int(std::size(MarkerAtoms)))];

        QVERIFY2(htm2txtProperties(text, htm2txt(text)), qUtf8Printable(text));
        QVERIFY(killcharProperty(killchar(text, u"<script"_s, u"</script>"_s), u"<script"_s,
                                 u"</script>"_s));
        QVERIFY(killcharProperty(killchar(text, u"&"_s, u";"_s), u"&"_s, u";"_s));

        WValues w;
        w.fill(sentinel());
        getw(text, w);
        QVERIFY2(getwProperties(text, w), qUtf8Printable(text));

        readTaskDefinition(text, definition);
        for (int k = 1; k <= MaxLevel; ++k)
            QVERIFY(!definition.alist[k].contains(u"]]"));
        if (const auto section = levelSection(text, 1))
            QVERIFY(!section->contains(u"<getm1>"));
        const QStringList specs = displaySpecs(text);
        QVERIFY(specs.size() <= MaxDisplaySpecs);
        for (const QString &display : specs)
            QVERIFY(!display.contains(u"]]") && text.contains(display));

        for (int kind = 0; kind <= 6; ++kind) {
            const QString result = hx(kind, text, text.left(20));
            if (kind >= 3)
                QVERIFY(result.isEmpty() || result == u"w");
        }
        QVERIFY(hp(text, text).isEmpty() || text.contains(hp(text, text)));
        QVERIFY(rusProperties(text, rus(text)));
        QVERIFY(name1Properties(text, name1(text)));
    }
}

void TestFuzz::unpairedSurrogates()
{
    QRandomGenerator random(Seed + 2);
    for (int round = 0; round < 1000; ++round) {
        QString text;
        for (int i = random.bounded(40); i > 0; --i) {
            switch (random.bounded(4)) {
            case 0:
                text += QChar(char16_t(0xD800 + random.bounded(0x800))); // lone surrogate
                break;
            case 1:
                text += u"\U0001F600"_s; // a proper pair
                break;
            default:
                text += MarkerAtoms[random.bounded(int(std::size(MarkerAtoms)))];
            }
        }
        QVERIFY(htm2txtProperties(text, htm2txt(text)));
        QVERIFY(rusProperties(u"^"_s + text, rus(u"^"_s + text)));
        QVERIFY(name1Properties(text, name1(text)));
        const QString longName = name1(text.repeated(40));
        QVERIFY(longName.toUtf8().size() <= 250);
        QCOMPARE(name1(text.repeated(40)), longName);
        QVERIFY(text.contains(getreg(Patterns[random.bounded(int(std::size(Patterns)))], text)));
        QVERIFY(getaProperties(u"1|<|>||||"_s, geta(text, u"1|<|>||||"_s)));
        QCOMPARE(padcut(text, 20).size() <= 20, true);
        QVERIFY(hp(text, u"http://www.example.com/"_s).size() <= text.size());
    }
}

void TestFuzz::emptyTexts()
{
    QCOMPARE(htm2txt(QString()), QString());
    QCOMPARE(killchar(QString(), u"<"_s, u">"_s), QString());
    QCOMPARE(killonechar(QString(), u"a"_s, u"b"_s), QString());
    QCOMPARE(name1(QString()), QString());
    QCOMPARE(rus(QString()), QString());
    QCOMPARE(padcut(QString(), 20), QString(20, u' '));
    QCOMPARE(getreg(QString(), QString()), QString());
    QCOMPARE(geta(QString(), QString()), QString());
    QCOMPARE(hp(QString(), QString()), QString());
    QCOMPARE(hpkey(QString()), QString());
    QCOMPARE(displaySpecs(QString()), QStringList());
    QCOMPARE(readtext(writeFile(QByteArray())), QString());
    QCOMPARE(fieldCountOf(QString()), qint16(0));
    WValues w;
    w.fill(sentinel());
    getw(QString(), w);
    for (const QString &value : w)
        QCOMPARE(value, sentinel());
    for (int kind = 0; kind <= 6; ++kind)
        QCOMPARE(hx(kind, QString(), QString()), kind >= 3 && kind <= 5 ? u"w"_s : QString());
}

void TestFuzz::longText()
{
    // About 4 MB of page text with many matches of every step.
    QRandomGenerator random(Seed + 3);
    // Only the utf-8 declaration lies within the first 500 characters.
    QByteArray page = "<html><head><meta charset=utf-8><title>t</title></head><body><!--" +
                      QByteArray(500, ' ') + "-->";
    while (page.size() < 4 * 1024 * 1024) {
        for (int i = 0; i < 16; ++i)
            page += PageAtoms[random.bounded(int(std::size(PageAtoms)))];
        page += "<p>\xE4\xBF\xA1\xE6\x81\xAF\xE9\x87\x87\xE9\x9B\x86</p>";
    }
    const QString text = readtext(writeFile(page));
    QCOMPARE(text, utf8Of(page));
    QCOMPARE(expectedReadtext(page).second, ReadPath::DeclaredUtf8);
    const QString plain = htm2txt(text);
    QVERIFY(htm2txtProperties(text, plain));
    QVERIFY(plain.contains(u"信息采集"));
    QVERIFY(killcharProperty(killchar(text, u"<"_s, u">"_s), u"<"_s, u">"_s));
    WValues w;
    w.fill(sentinel());
    getw(text, w);
    QVERIFY(getwProperties(text, w));
    QVERIFY(text.contains(getreg(u"<p>[^<]*</p>"_s, text)));
    QVERIFY(name1(text).toUtf8().size() <= 250);
    QVERIFY(rusProperties(u"^"_s + plain, rus(u"^"_s + plain)));

    // Inputs that make the literal search-from-the-start loops quadratic.
    const int n = 200000;
    QCOMPARE(htm2txt(u"&"_s + u"amp;"_s.repeated(n)), u"&"_s);
    QCOMPARE(htm2txt(u"x<"_s.repeated(n) + u">y"_s), u"xy"_s);
    QCOMPARE(htm2txt(u"&"_s + QString(n, u'a')), u"&"_s + QString(n, u'a'));
    QCOMPARE(htm2txt(u"<br>"_s.repeated(n)), u"\r\n"_s.repeated(n));
    QCOMPARE(killchar(u"<a>"_s.repeated(n), u"<"_s, u">"_s), QString());
    QCOMPARE(killonechar(u"<b<br>r>"_s.repeated(n), u"<br>"_s, QString()), QString());
}

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
