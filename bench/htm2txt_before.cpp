// The htm2txt of before the single-pass rewrite, kept only so that the
// benchmark can time both on the same input in one run: 20 passes over the
// text, each keeping a lower-cased copy of it up to date.
#include "text/positions.h"

#include <QString>
#include <QStringView>

using namespace Qt::StringLiterals;

namespace caiji::before {

QString htm2txt(const QString &hxs1);

namespace {

// A text and its lower-cased copy, changed together so that searching the
// copy finds positions in the original.
struct CasedText
{
    QString text;
    QString lower;
};

// The text being rebuilt: `out` holds the finished front, `src` from `pos`
// the part not yet looked at. Together they are the text the naive loop would
// hold at the same moment. `out` is a buffer lent by the caller: a chain of
// steps then reuses two allocations instead of faulting in fresh memory for
// every step, which dominated the time on pages of tens of megabytes.
class Rewriter
{
public:
    Rewriter(const CasedText &input, CasedText &out) : m_src(input), m_out(out)
    {
        m_out.text.resize(0);
        m_out.lower.resize(0);
        m_out.text.reserve(input.text.size());
        m_out.lower.reserve(input.text.size());
    }

    qsizetype outSize() const { return m_out.text.size(); }

    // First occurrence of `needle` that starts in out[from..] and may reach
    // into the unread text; -1 when none starts in out.
    qsizetype findInOutTail(qsizetype from, QStringView needle) const
    {
        for (qsizetype k = from; k < outSize(); ++k) {
            if (matchesAt(k, needle))
                return k;
        }
        return -1;
    }

    // First occurrence of `needle` in the unread text at or after src index
    // `from`; -1 when none.
    qsizetype findInSource(qsizetype from, QStringView needle) const
    {
        return findText(m_src.lower, needle, from);
    }

    qsizetype sourcePos() const { return m_pos; }

    // Moves unread text up to src index `end` into out unchanged.
    void copySourceUpTo(qsizetype end)
    {
        m_out.text.append(QStringView(m_src.text).sliced(m_pos, end - m_pos));
        m_out.lower.append(QStringView(m_src.lower).sliced(m_pos, end - m_pos));
        m_pos = end;
    }

    // Removes the characters from out index `from` up to virtual index `end`
    // (indexes past out continue into the unread text).
    void removeFromOut(qsizetype from, qsizetype end)
    {
        if (end <= outSize()) {
            m_out.text.remove(from, end - from);
            m_out.lower.remove(from, end - from);
        } else {
            m_pos += end - outSize();
            m_out.text.truncate(from);
            m_out.lower.truncate(from);
        }
    }

    void skipSource(qsizetype end) { m_pos = end; }

    void insertIntoOut(qsizetype at, const CasedText &piece)
    {
        m_out.text.insert(at, piece.text);
        m_out.lower.insert(at, piece.lower);
    }

    void finish() { copySourceUpTo(m_src.text.size()); }

private:
    // Whether `needle` starts at out index `at`, reading on into the unread text.
    bool matchesAt(qsizetype at, QStringView needle) const
    {
        for (qsizetype i = 0; i < needle.size(); ++i) {
            const qsizetype v = at + i;
            QChar c;
            if (v < outSize()) {
                c = m_out.lower[v];
            } else {
                const qsizetype s = m_pos + (v - outSize());
                if (s >= m_src.lower.size())
                    return false;
                c = m_src.lower[s];
            }
            if (c != needle[i])
                return false;
        }
        return true;
    }

    const CasedText &m_src;
    qsizetype m_pos = 0;
    CasedText &m_out;
};

CasedText cased(const QString &text)
{
    return {text, lowerSameLength(text)};
}

// Both return false when the text stays as it is; otherwise the result is in `out`.
bool replaceAll(const CasedText &input, const QString &find, const QString &replacement,
                CasedText &out)
{
    const QString f = lowerSameLength(find);
    if (f.isEmpty() || findText(input.lower, f) < 0)
        return false;
    const CasedText with = cased(replacement);
    if (with.lower.contains(f)) {
        // The naive loop would never end here; replace once, left to right.
        out = CasedText();
        qsizetype from = 0;
        for (qsizetype at; (at = input.lower.indexOf(f, from)) >= 0; from = at + f.size()) {
            out.text += QStringView(input.text).sliced(from, at - from) + with.text;
            out.lower += QStringView(input.lower).sliced(from, at - from) + with.lower;
        }
        out.text += QStringView(input.text).sliced(from);
        out.lower += QStringView(input.lower).sliced(from);
        return true;
    }

    Rewriter text(input, out);
    // No occurrence starts in out before `searchFrom`: a change at m can only
    // create new ones that start within the length of the marker before m.
    qsizetype searchFrom = 0;
    for (;;) {
        qsizetype match = text.findInOutTail(searchFrom, f);
        if (match >= 0) {
            text.removeFromOut(match, match + f.size());
        } else {
            const qsizetype at = text.findInSource(text.sourcePos(), f);
            if (at < 0)
                break;
            text.copySourceUpTo(at);
            text.skipSource(at + f.size());
            match = text.outSize();
        }
        text.insertIntoOut(match, with);
        searchFrom = std::max<qsizetype>(0, match - f.size() + 1);
    }
    text.finish();
    return true;
}

bool removeSpans(const CasedText &input, const QString &startMarker, const QString &endMarker,
                 CasedText &out)
{
    const QString a = lowerSameLength(startMarker);
    const QString b = lowerSameLength(endMarker);
    if (a.isEmpty() || b.isEmpty() || findText(input.lower, a) < 0)
        return false;

    Rewriter text(input, out);
    bool removed = false;
    qsizetype searchFrom = 0;
    for (;;) {
        qsizetype start = text.findInOutTail(searchFrom, a);
        if (start < 0) {
            const qsizetype at = text.findInSource(text.sourcePos(), a);
            if (at < 0)
                break;
            // The end marker is searched from the start marker's own position.
            const qsizetype end = text.findInSource(at, b);
            if (end < 0)
                break;
            text.copySourceUpTo(at);
            text.skipSource(end + b.size());
            start = text.outSize();
        } else {
            qsizetype end = text.findInOutTail(start, b);
            if (end < 0) {
                const qsizetype at = text.findInSource(text.sourcePos(), b);
                if (at < 0)
                    break;
                end = text.outSize() + (at - text.sourcePos());
            }
            text.removeFromOut(start, end + b.size());
        }
        removed = true;
        searchFrom = std::max<qsizetype>(0, start - a.size() + 1);
    }
    text.finish();
    return removed;
}

} // namespace

QString htm2txt(const QString &hxs1)
{
    struct Step
    {
        bool removeSpan;
        QString first;
        QString second;
    };
    // "\r", "\n" and "\t" are a backslash and a letter, not control characters.
    static const Step steps[] = {
        {false, u"\\r"_s, QString()},
        {false, u"\r\n"_s, u" "_s},
        {false, u"\\n"_s, QString()},
        {false, u"\\t"_s, QString()},
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
    CasedText text = cased(hxs1);
    CasedText spare;
    for (const Step &step : steps) {
        const bool changed = step.removeSpan ? removeSpans(text, step.first, step.second, spare)
                                             : replaceAll(text, step.first, step.second, spare);
        if (changed)
            std::swap(text, spare);
    }
    return text.text;
}

} // namespace caiji::before
