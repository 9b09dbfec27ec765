// The linear-time text primitives must give exactly what the naive loops give:
// search again from the start after every change. The naive loops are kept
// here, written out literally, and both are run on overlaps and random input.
#include "text/htmltext.h"
#include "text/positions.h"

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
// lower-cases to an ASCII letter.
QString randomWord(QRandomGenerator &rng, int minLength, int maxLength)
{
    static const QString alphabet = u"aAbBkK;"_s;
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
        const QString actual = caiji::htm2txt(input);
        if (actual != expected) {
            QFAIL(qPrintable(u"htm2txt(%1): expected %2, got %3"_s.arg(
                shown(input), shown(expected), shown(actual))));
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

QTEST_GUILESS_MAIN(TestHtmlTextEquivalence)
#include "tst_htmltextequivalence.moc"
