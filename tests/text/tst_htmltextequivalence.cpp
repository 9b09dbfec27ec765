// The linear-time text primitives must give exactly what the naive loops give:
// search again from the start after every change. The naive loops are kept
// here, written out literally, and both are run on overlaps and random input.
#include "text/foldscan.h"
#include "text/htmltext.h"
#include "text/positions.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// --- The naive loops, 1-based like the positions they count in ---

// Position of `needle` in `hay` at or after `from`; 0 when there is none.
qsizetype findFrom(qsizetype from, const QString &hay, const QString &needle)
{
    if (from > hay.size())
        return 0;
    return hay.indexOf(needle, from - 1) + 1;
}

// Replace the first occurrence, then look again from the start. Gives up after
// `budget` replacements: a replacement longer than what it replaces can make
// the text grow very fast, and then there is nothing sensible to compare.
std::optional<QString> naiveKillonechar(const QString &hxs1, const QString &hxss1,
                                        const QString &hxss2, int budget)
{
    QString s = hxs1;
    QString l = caiji::lowerSameLength(s);
    const QString f = caiji::lowerSameLength(hxss1);
    const QString lowerReplacement = caiji::lowerSameLength(hxss2);
    for (;;) {
        const qsizetype p = findFrom(1, l, f);
        if (p == 0)
            return s;
        if (budget-- == 0)
            return std::nullopt;
        s = s.left(p - 1) + hxss2 + s.mid(p - 1 + hxss1.size());
        l = l.left(p - 1) + lowerReplacement + l.mid(p - 1 + hxss1.size());
    }
}

// Every replacement htm2txt makes is shorter than what it replaces, so the loop
// ends within as many steps as the text has characters.
QString naiveShrinkingKillonechar(const QString &hxs1, const QString &hxss1, const QString &hxss2)
{
    return naiveKillonechar(hxs1, hxss1, hxss2, int(hxs1.size())).value_or(u"<no end>"_s);
}

// First start marker from the beginning, the end marker from the start marker's
// own position; remove both and what lies between, then look again.
QString naiveKillchar(const QString &hxs1, const QString &hxss1, const QString &hxss2)
{
    QString s = hxs1;
    QString l = caiji::lowerSameLength(s);
    const QString a = caiji::lowerSameLength(hxss1);
    const QString b = caiji::lowerSameLength(hxss2);
    qsizetype p = findFrom(1, l, a);
    qsizetype q = p > 0 ? findFrom(p, l, b) : 0;
    while (p > 0 && q > 0) {
        const qsizetype keepFrom = q + hxss2.size();
        s = s.left(p - 1) + s.mid(keepFrom - 1);
        l = l.left(p - 1) + l.mid(keepFrom - 1);
        p = findFrom(1, l, a);
        q = p > 0 ? findFrom(p, l, b) : 0;
    }
    return s;
}

struct Step
{
    bool removeSpan;
    QString first;
    QString second;
};

// "\\r", "\\n" and "\\t" are a backslash and a letter; "\r\n" is CR LF.
const QList<Step> &htm2txtSteps()
{
    static const QList<Step> steps = {
        {false, u"\\r"_s, u""_s},
        {false, u"\r\n"_s, u" "_s},
        {false, u"\\n"_s, u""_s},
        {false, u"\\t"_s, u""_s},
        {false, u"</td>"_s, u" "_s},
        {false, u"</li>"_s, u"\r\n"_s},
        {false, u"</p>"_s, u"\r\n"_s},
        {false, u"<br>"_s, u"\r\n"_s},
        {false, u"</tr>"_s, u"\r\n"_s},
        {false, u"&amp;"_s, u"&"_s},
        {false, u"&nbsp;"_s, u" "_s},
        {true, u"<head>"_s, u"</head>"_s},
        {true, u"<script>"_s, u"</script>"_s},
        {true, u"<style>"_s, u"</style>"_s},
        {true, u"<style"_s, u"</style>"_s},
        {true, u"<script"_s, u"</script>"_s},
        {true, u"<"_s, u">"_s},
        {false, u"&lt;"_s, u"<"_s},
        {false, u"&gt;"_s, u">"_s},
        {true, u"&"_s, u";"_s},
    };
    return steps;
}

QString naiveStep(const Step &step, const QString &s)
{
    return step.removeSpan ? naiveKillchar(s, step.first, step.second)
                           : naiveShrinkingKillonechar(s, step.first, step.second);
}

QString productionStep(const Step &step, const QString &s)
{
    return step.removeSpan ? caiji::killchar(s, step.first, step.second)
                           : caiji::killonechar(s, step.first, step.second);
}

QString naiveHtm2txt(const QString &hxs1)
{
    QString s = hxs1;
    for (const Step &step : htm2txtSteps())
        s = naiveStep(step, s);
    return s;
}

// --- Random input ---

// Readable in a failure message: control characters and backslashes escaped.
QString shown(const QString &text)
{
    QString out = u"\""_s;
    for (QChar c : text) {
        if (c == u'\\')
            out += u"\\\\"_s;
        else if (c == u'\r')
            out += u"\\r"_s;
        else if (c == u'\n')
            out += u"\\n"_s;
        else if (c == u'\t')
            out += u"\\t"_s;
        else
            out += c;
    }
    return out + u"\""_s;
}

QString randomCase(QRandomGenerator &rng, const QString &token)
{
    QString out = token;
    for (QChar &c : out) {
        if (rng.bounded(2) == 0)
            c = c.toUpper();
    }
    return out;
}

// Markers of htm2txt, their fragments and overlaps, and plain text around them.
const QStringList &htmlTokens()
{
    // clang-format off
    static const QStringList tokens = {
        u"<"_s, u">"_s, u"&"_s, u";"_s, u"<<"_s, u">>"_s, u"</"_s, u"/"_s, u"="_s, u"\""_s,
        u"&amp;"_s, u"amp;"_s, u"&am"_s, u"p;"_s, u"&amp;amp;"_s, u"&amp;lt;"_s, u"&nbsp;"_s,
        u"&lt;"_s, u"&gt;"_s, u"lt;"_s, u"&#39;"_s, u"&quot;"_s,
        u"</td>"_s, u"</TD>"_s, u"</ td>"_s, u"</li>"_s, u"</tr>"_s, u"<br>"_s, u"<BR>"_s,
        u"<br/>"_s, u"</p>"_s, u"</P>"_s, u"<p>"_s, u"<b>"_s, u"</b>"_s,
        u"<a href=\"?a=1&b=2\">"_s,
        u"<script"_s, u"<SCRIPT>"_s, u"<Script>"_s, u"<script>"_s, u"</script>"_s,
        u"</SCRIPT>"_s, u"<scr"_s, u"ipt>"_s, u"</scr"_s,
        u"<style"_s, u"<style>"_s, u"</style>"_s, u"<head>"_s, u"</head>"_s, u"<HEAD>"_s,
        u"\\r"_s, u"\\n"_s, u"\\t"_s, u"\\"_s, u"r"_s, u"n"_s, u"t"_s,
        u"\r"_s, u"\n"_s, u"\r\n"_s, u"\t"_s, u" "_s,
        u"a"_s, u"Z"_s, u"x"_s, u"中"_s, u"文"_s, u"字"_s, u"\U00020000"_s,
        // Upper-case letters whose lower case is not one ASCII letter.
        u"\u0130"_s, u"\u212A"_s, u"\u1E9E"_s, u"<SCR\u0130PT>"_s, u"</L\u0130>"_s,
    };
    // clang-format on
    return tokens;
}

QString randomHtml(QRandomGenerator &rng)
{
    const QStringList &tokens = htmlTokens();
    const int count = rng.bounded(80);
    QString out;
    for (int i = 0; i < count; ++i) {
        const QString &token = tokens[rng.bounded(int(tokens.size()))];
        out += rng.bounded(4) == 0 ? randomCase(rng, token) : token;
    }
    return out;
}

// Few letters, so that matches and overlaps are frequent. The Kelvin sign
// lower-cases to an ASCII letter; the capital I with dot keeps its own.
QString randomWord(QRandomGenerator &rng, int minLength, int maxLength)
{
    static const QString alphabet = u"aAbBkK\u212A;\u0130"_s;
    const int length = minLength + rng.bounded(maxLength - minLength + 1);
    QString out;
    for (int i = 0; i < length; ++i)
        out += alphabet[rng.bounded(int(alphabet.size()))];
    return out;
}

} // namespace

class TestHtmlTextEquivalence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handPicked_data();
    void handPicked();
    void randomHtmlThroughEveryStep();
    void randomReplacements();
    void randomSpanRemovals();
    void realPages_data();
    void realPages();
    void caseFoldingAgreesWithLowerCasedCopy();
    void searchAgreesWithLowerCasedCopy();
};

void TestHtmlTextEquivalence::handPicked_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("expected");

    const QString k1 = u"killonechar"_s;
    const QString k2 = u"killchar"_s;
    const QString h = u"htm2txt"_s;
    // Replacements that make a new match with the text before them.
    QTest::newRow("double-escaped ampersand")
        << k1 << u"&amp;amp;"_s << u"&amp;"_s << u"&"_s << u"&"_s;
    QTest::newRow("triple-escaped, mixed case")
        << k1 << u"x&AMP;Amp;amp;y"_s << u"&amp;"_s << u"&"_s << u"x&y"_s;
    QTest::newRow("shrinking run") << k1 << u"aaaa"_s << u"aa"_s << u"a"_s << u"a"_s;
    QTest::newRow("match starts before the replacement")
        << k1 << u"aab"_s << u"ab"_s << u"ba"_s << u"baa"_s;
    QTest::newRow("match reaches past the replacement")
        << k1 << u"abcc"_s << u"bc"_s << u"b"_s << u"ab"_s;
    QTest::newRow("replacement case kept, rest kept")
        << k1 << u"Xabab"_s << u"AB"_s << u"B"_s << u"XBB"_s;
    // Span removals that join text into a new start marker.
    QTest::newRow("partial start marker before a whole one")
        << k2 << u"<scr<script>x</script>y"_s << u"<script"_s << u"</script>"_s << u"<scry"_s;
    QTest::newRow("removal joins a new span") << k2 << u"aabcbc"_s << u"ab"_s << u"c"_s << u""_s;
    QTest::newRow("end marker inside the start marker")
        << k2 << u"xaby"_s << u"ab"_s << u"b"_s << u"xy"_s;
    QTest::newRow("nested brackets") << k2 << u"a<b<c>d>e"_s << u"<"_s << u">"_s << u"ad>e"_s;
    QTest::newRow("two spans one after the other")
        << k2 << u"a&b;c&d<e;"_s << u"&"_s << u";"_s << u"ac"_s;
    QTest::newRow("start marker inside a span") << k2 << u"1&x&y;"_s << u"&"_s << u";"_s << u"1"_s;
    QTest::newRow("end marker only before the start")
        << k2 << u"a;b&c"_s << u"&"_s << u";"_s << u"a;b&c"_s;
    // The whole conversion.
    QTest::newRow("broken closing script tag")
        << h << u"</scr</script>ipt>"_s << QString() << QString() << u"ipt>"_s;
    QTest::newRow("partial script opener")
        << h << u"<scr<script>x</script>y"_s << QString() << QString() << u"<scry"_s;
    QTest::newRow("escaped twice, decoded to bracket")
        << h << u"&amp;amp;lt;b"_s << QString() << QString() << u"<b"_s;
    QTest::newRow("decoded ampersand starts a span")
        << h << u"a&amp;b c;d"_s << QString() << QString() << u"ad"_s;
    QTest::newRow("upper- and mixed-case blocks")
        << h << u"<SCRIPT>a</SCRIPT>b<Script>c</script>d"_s << QString() << QString() << u"bd"_s;
    QTest::newRow("line break tags and source breaks")
        << h << u"A\r\nB</P>c<BR>d\\ne\nf"_s << QString() << QString() << u"A B\r\nc\r\nde\nf"_s;
    // Lower-cased one unit at a time: the capital I with dot stays itself (its
    // full lower case is two units), the Kelvin sign becomes k, the capital
    // sharp s becomes the small one.
    QTest::newRow("dotted I is no i in a block tag")
        << h << u"<SCR\u0130PT>x</SCR\u0130PT>y"_s << QString() << QString() << u"xy"_s;
    QTest::newRow("dotted I is no i in a line tag")
        << h << u"a</L\u0130>b</LI>c"_s << QString() << QString() << u"ab\r\nc"_s;
    QTest::newRow("dotted I found as itself")
        << k1 << u"a\u0130bi"_s << u"\u0130"_s << u"-"_s << u"a-bi"_s;
    QTest::newRow("Kelvin sign is a k") << k1 << u"x\u212Ay"_s << u"K"_s << u"-"_s << u"x-y"_s;
    QTest::newRow("Kelvin sign starts a span")
        << k2 << u"a\u212Ax;b"_s << u"k"_s << u";"_s << u"ab"_s;
    QTest::newRow("capital sharp s found by the small one")
        << k1 << u"Stra\u1E9Ee"_s << u"\u00DF"_s << u"ss"_s << u"Strasse"_s;
}

void TestHtmlTextEquivalence::handPicked()
{
    QFETCH(QString, function);
    QFETCH(QString, input);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);

    QString reference;
    QString production;
    if (function == u"killonechar") {
        reference = naiveKillonechar(input, first, second, 1000).value_or(u"<no end>"_s);
        production = caiji::killonechar(input, first, second);
    } else if (function == u"killchar") {
        reference = naiveKillchar(input, first, second);
        production = caiji::killchar(input, first, second);
    } else {
        reference = naiveHtm2txt(input);
        production = caiji::htm2txt(input);
    }
    QCOMPARE(reference, expected);
    QCOMPARE(production, expected);
}

void TestHtmlTextEquivalence::randomHtmlThroughEveryStep()
{
    QRandomGenerator rng(20240511);
    for (int i = 0; i < 20000; ++i) {
        const QString input = randomHtml(rng);
        for (const Step &step : htm2txtSteps()) {
            const QString expected = naiveStep(step, input);
            const QString actual = productionStep(step, input);
            if (actual != expected) {
                QFAIL(qPrintable(u"%1(%2, %3, %4): expected %5, got %6"_s.arg(
                    step.removeSpan ? u"killchar"_s : u"killonechar"_s, shown(input),
                    shown(step.first), shown(step.second), shown(expected), shown(actual))));
            }
        }
        const QString expected = naiveHtm2txt(input);
        // Read whole, and in small pieces so that every boundary between two
        // pieces falls inside some marker.
        for (const qsizetype piece : {qsizetype(8192), qsizetype(1 + i % 9)}) {
            const QString actual = caiji::htm2txt(input, piece);
            if (actual != expected) {
                QFAIL(qPrintable(u"htm2txt(%1) in pieces of %2: expected %3, got %4"_s.arg(
                    shown(input), QString::number(piece), shown(expected), shown(actual))));
            }
        }
    }
}

void TestHtmlTextEquivalence::randomReplacements()
{
    QRandomGenerator rng(7341);
    int compared = 0;
    int givenUp = 0;
    while (compared < 50000) {
        const QString input = randomWord(rng, 0, 24);
        const QString find = randomWord(rng, 1, 3);
        const QString replacement = randomWord(rng, 0, 4);
        // The loop would never end; no caller passes such a pair.
        if (caiji::lowerSameLength(replacement).contains(caiji::lowerSameLength(find)))
            continue;
        const std::optional<QString> expected = naiveKillonechar(input, find, replacement, 2000);
        if (!expected) {
            ++givenUp;
            continue;
        }
        const QString actual = caiji::killonechar(input, find, replacement);
        if (actual != *expected) {
            QFAIL(qPrintable(u"killonechar(%1, %2, %3): expected %4, got %5"_s.arg(
                shown(input), shown(find), shown(replacement), shown(*expected), shown(actual))));
        }
        ++compared;
    }
    // The comparison must cover nearly all pairs, not only the tame ones.
    QVERIFY2(givenUp * 100 < compared, qPrintable(QString::number(givenUp)));
}

void TestHtmlTextEquivalence::randomSpanRemovals()
{
    QRandomGenerator rng(90217);
    int changed = 0;
    for (int i = 0; i < 50000; ++i) {
        const QString input = randomWord(rng, 0, 24);
        const QString start = randomWord(rng, 1, 3);
        const QString end = randomWord(rng, 1, 2);
        const QString expected = naiveKillchar(input, start, end);
        const QString actual = caiji::killchar(input, start, end);
        if (actual != expected) {
            QFAIL(qPrintable(u"killchar(%1, %2, %3): expected %4, got %5"_s.arg(
                shown(input), shown(start), shown(end), shown(expected), shown(actual))));
        }
        changed += expected != input;
    }
    // Guards the generator: many inputs must have had something removed.
    QVERIFY2(changed > 12500, qPrintable(QString::number(changed)));
}

void TestHtmlTextEquivalence::realPages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<qsizetype>("piece");

    const QDir folder(QStringLiteral(CAIJI_TEST_DATA) + u"/real"_s);
    const QStringList pages = folder.entryList({u"*.html"_s}, QDir::Files, QDir::Name);
    QVERIFY(pages.size() >= 4);
    for (const QString &name : pages) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(file.readAll());
        // The pages have LF line ends; web servers often send CR LF.
        QString crlf = page;
        crlf.replace(u"\n"_s, u"\r\n"_s);
        QTest::addRow("%s", qPrintable(name)) << page << qsizetype(1 << 20);
        QTest::addRow("%s, CR LF, pieces of 7", qPrintable(name)) << crlf << qsizetype(7);
        QTest::addRow("%s, pieces of 1000", qPrintable(name)) << page << qsizetype(1000);
    }
}

void TestHtmlTextEquivalence::realPages()
{
    QFETCH(QString, page);
    QFETCH(qsizetype, piece);

    QString expected = page;
    for (const Step &step : htm2txtSteps()) {
        const QString before = expected;
        expected = naiveStep(step, before);
        QVERIFY2(productionStep(step, before) == expected, qPrintable(step.first));
    }
    QCOMPARE(caiji::htm2txt(page, piece), expected);
}

void TestHtmlTextEquivalence::caseFoldingAgreesWithLowerCasedCopy()
{
    // The search without a lower-cased copy must see each unit as the copy
    // would, and its quick test must let through every unit that lowers to
    // an ASCII unit of a marker.
    for (char32_t u = 0; u <= 0xFFFF; ++u) {
        const char16_t unit = char16_t(u);
        const char16_t lower = caiji::foldscan::lowerUnit(unit);
        QCOMPARE(lower, caiji::lowerSameLength(QStringView(&unit, 1))[0].unicode());
        if (lower >= 0x80)
            continue;
        if (const auto probe = caiji::foldscan::Probe::forLower(lower))
            QVERIFY2(probe->admits(unit), qPrintable(QString::number(u, 16)));
        else
            QCOMPARE(lower, u'k'); // no probe: searched unit by unit
    }
}

void TestHtmlTextEquivalence::searchAgreesWithLowerCasedCopy()
{
    // Texts long enough for whole blocks of positions and their tails, markers
    // cut from the text itself (so they occur) or made up (so they mostly do not).
    QRandomGenerator rng(31337);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        while (text.size() < rng.bounded(300))
            text += rng.bounded(3) == 0 ? randomWord(rng, 1, 12) : randomHtml(rng);
        QString marker;
        if (!text.isEmpty() && rng.bounded(2) == 0) {
            const qsizetype at = rng.bounded(int(text.size()));
            marker = randomCase(rng, text.mid(at, 1 + rng.bounded(40)));
        } else {
            marker = randomWord(rng, 1, 40);
        }
        const qsizetype from = rng.bounded(int(text.size()) + 1);
        const caiji::foldscan::Needle needle(marker);
        const qsizetype expected = caiji::lowerSameLength(text).indexOf(needle.lower(), from);
        const auto *units = reinterpret_cast<const char16_t *>(text.utf16());
        QVERIFY2(needle.findIn(units, from, text.size()) == expected,
                 qPrintable(u"%1 in %2 from %3"_s.arg(marker, text).arg(from)));
    }
}

QTEST_GUILESS_MAIN(TestHtmlTextEquivalence)
#include "tst_htmltextequivalence.moc"
