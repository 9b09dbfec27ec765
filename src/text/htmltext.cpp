#include "text/htmltext.h"

#include "text/foldscan.h"
#include "text/positions.h"

#include <QStringView>

#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace caiji {

using foldscan::findAnyUnit;
using foldscan::lowerUnit;
using foldscan::matchesAt;
using foldscan::Needle;

namespace {

char16_t *unitsOf(QString &text)
{
    return reinterpret_cast<char16_t *>(text.data());
}

const char16_t *unitsOf(const QString &text)
{
    return reinterpret_cast<const char16_t *>(text.constData());
}

void copyUnits(char16_t *to, const char16_t *from, qsizetype count)
{
    if (count > 0 && to != from)
        std::memmove(to, from, size_t(count) * sizeof(char16_t));
}

// A growable run of units that is not zero-filled when it grows.
class Buffer
{
public:
    char16_t *data() { return m_data.get(); }
    const char16_t *data() const { return m_data.get(); }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    void clear() { m_size = 0; }

    // Room for at least `capacity` units; the contents are kept.
    char16_t *reserve(qsizetype capacity)
    {
        if (capacity > m_capacity) {
            const qsizetype grown = std::max(capacity, m_capacity * 2);
            std::unique_ptr<char16_t[]> data(new char16_t[size_t(grown)]);
            copyUnits(data.get(), m_data.get(), m_size);
            m_data = std::move(data);
            m_capacity = grown;
        }
        return m_data.get();
    }
    void append(const char16_t *units, qsizetype count)
    {
        copyUnits(reserve(m_size + count) + m_size, units, count);
        m_size += count;
    }
    void append(char16_t unit)
    {
        char16_t *data = reserve(m_size + 1);
        data[m_size++] = unit;
    }

private:
    std::unique_ptr<char16_t[]> m_data;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
};

// `units` (`count` of them) after what a stage held back from the pieces before:
// `units` itself when nothing is held, else both joined in `work`. Empties
// `held` and sets `count` to the joined length.
const char16_t *behindHeld(Buffer &held, Buffer &work, const char16_t *units, qsizetype &count)
{
    if (held.isEmpty())
        return units;
    work.clear();
    work.append(held.data(), held.size());
    work.append(units, count);
    held.clear();
    count = work.size();
    return work.data();
}

// A text rewritten from `src` into `dst` (which may be the same memory):
// `dst[0, w)` is the finished front, `src[r, n)` the part not yet looked at;
// together they are the text the naive loop would hold at the same moment.
// Every rewrite here shrinks the text, so the front never overtakes the rest.
struct Rewrite
{
    char16_t *dst;
    const char16_t *src;
    qsizetype n;
    qsizetype w = 0;
    qsizetype r = 0;

    qsizetype size() const { return w + (n - r); }
    // Moves unread units up to `end` to the front unchanged.
    void keepUpTo(qsizetype end)
    {
        copyUnits(dst + w, src + r, end - r);
        w += end - r;
        r = end;
    }
    void put(char16_t c) { dst[w++] = c; }
};

// Whether `lowerMarker` starts at index `v` of the text a Rewrite holds.
bool matchesAcross(const Rewrite &t, qsizetype v, QStringView lowerMarker)
{
    for (qsizetype i = 0; i < lowerMarker.size(); ++i) {
        const qsizetype at = v + i;
        const qsizetype s = at < t.w ? -1 : t.r + (at - t.w);
        if (s >= t.n)
            return false;
        if (lowerUnit(s < 0 ? t.dst[at] : t.src[s]) != lowerMarker[i].unicode())
            return false;
    }
    return true;
}

// First occurrence of `marker` at index `from` or later of the text t holds.
qsizetype findAcross(const Rewrite &t, qsizetype from, const Needle &marker)
{
    for (qsizetype v = from; v < t.w; ++v) {
        if (matchesAcross(t, v, marker.lower()))
            return v;
    }
    const qsizetype at = marker.findIn(t.src, t.r + std::max<qsizetype>(0, from - t.w), t.n);
    return at < 0 ? -1 : t.w + (at - t.r);
}

// killchar's loop on the text t holds, as far as that text goes. Returns the
// index of a start marker whose end marker the text does not hold, or -1 when
// no start marker is left; the unread rest stays unread either way.
qsizetype removeSpans(Rewrite &t, const Needle &start, const Needle &end)
{
    // No start marker begins in the front before `searchFrom`: a removal at
    // p can only make one that begins less than a marker's length before p.
    qsizetype searchFrom = 0;
    for (;;) {
        const qsizetype from = findAcross(t, searchFrom, start);
        if (from < 0)
            return -1;
        // The end marker is searched from the start marker's own position.
        const qsizetype to = findAcross(t, from, end);
        if (to < 0)
            return from;
        const qsizetype stop = to + end.size();
        if (stop <= t.w) {
            copyUnits(t.dst + from, t.dst + stop, t.w - stop);
            t.w -= stop - from;
        } else {
            if (from > t.w)
                t.keepUpTo(t.r + (from - t.w));
            t.r += stop - t.w;
            t.w = from;
        }
        searchFrom = std::max<qsizetype>(0, from - start.size() + 1);
    }
}

// killonechar when the replacement holds the find text: the naive loop never
// ends there, so every occurrence is replaced once, left to right.
QString replaceEachOnce(const QString &text, const Needle &find, const QString &replacement)
{
    const char16_t *s = unitsOf(text);
    QString out;
    qsizetype from = 0;
    for (qsizetype at; (at = find.findIn(s, from, text.size())) >= 0; from = at + find.size())
        out += QStringView(text).sliced(from, at - from) + replacement;
    return out + QStringView(text).sliced(from);
}

// --- htm2txt: the steps as a chain of stages the text streams through ---
//
// htm2txt is twenty steps, each applied to the whole result of the one before,
// letter case ignored ("\r", "\n" and "\t" are a backslash and a letter):
//   1 "\r" removed        2 CR LF to a blank      3 "\n" removed
//   4 "\t" removed        5 "</td>" to a blank    6-9 "</li>", "</p>", "<br>",
//  10 "&amp;" to "&"     11 "&nbsp;" to a blank       "</tr>" to CR LF
//  12-16 killchar of "<head>".."</head>", "<script>".."</script>",
//        "<style>".."</style>", "<style".."</style>", "<script".."</script>"
//  17 killchar of "<"..">"   18 "&lt;" to "<"   19 "&gt;" to ">"
//  20 killchar of "&"..";"
// The replacements are killonechar's: each searches again from the start, so
// a replacement can take part in a later match.
//
// Each stage applies one step (or several that cannot change what one another
// sees) to the text piece by piece, and passes on only what later input can no
// longer change. The text is read once and only the result is written, so a
// long page costs no more per byte than a short one.

constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

class Stage
{
public:
    virtual ~Stage() = default;
    // The next piece of the text.
    virtual void put(const char16_t *units, qsizetype count) = 0;
    // The text has ended.
    virtual void finish() = 0;
};

// The end of the chain: the result, written once. Pages come out at a fifth
// to a third of their length, so a quarter is reserved first; it grows when
// needed, up to the input's length (no step lengthens the text). A result
// that fills more than half of its room keeps it: the allocator then hands
// the same memory to the next page instead of fresh pages.
class Collect : public Stage
{
public:
    explicit Collect(qsizetype inputSize)
        : m_limit(inputSize), m_text(std::min(inputSize, inputSize / 4 + 4096), Qt::Uninitialized)
    {
    }

    void put(const char16_t *units, qsizetype count) override
    {
        if (m_size + count > m_text.size())
            m_text.resize(std::max(m_size + count, std::min(m_limit, 2 * m_text.size())));
        copyUnits(unitsOf(m_text) + m_size, units, count);
        m_size += count;
    }
    void finish() override {}

    QString result()
    {
        const bool roomy = m_text.size() > 2 * m_size;
        m_text.truncate(m_size);
        if (roomy)
            m_text.squeeze();
        return std::move(m_text);
    }

private:
    qsizetype m_limit;
    QString m_text;
    qsizetype m_size = 0;
};

// A stage that decides each change within a few units: what it cannot decide
// yet at the end of a piece waits in `carry` for the next piece.
class ShortStage : public Stage
{
public:
    explicit ShortStage(Stage &next) : m_next(next) {}

    void put(const char16_t *units, qsizetype count) override { run(units, count, false); }
    void finish() override
    {
        run(nullptr, 0, true);
        m_next.finish();
    }

protected:
    // Rewrites src[0, n) into dst, returns the size written; with `final`
    // false it may leave an undecided end in `carry` instead.
    virtual qsizetype rewrite(char16_t *dst, const char16_t *src, qsizetype n, bool final,
                              Buffer &carry) = 0;

private:
    void run(const char16_t *units, qsizetype count, bool final)
    {
        qsizetype n = count;
        const char16_t *src = behindHeld(m_carry, m_work, units, n);
        if (n == 0)
            return;
        const qsizetype w = rewrite(m_out.reserve(n), src, n, final, m_carry);
        m_next.put(m_out.data(), w);
    }

    Stage &m_next;
    Buffer m_carry;
    Buffer m_work;
    Buffer m_out;
};

// Steps 1 to 4 ("\r" removed, CR LF to a blank, "\n" and "\t" removed) as a
// chain of small machines, each holding back only what its next input may
// still change: a run of backslashes (a following r, n or t removes one) or a
// CR (a following LF makes a blank). A removal can join a backslash to a
// letter after it, so the removals pair up like brackets.
class EscapeStage : public Stage
{
public:
    explicit EscapeStage(Stage &next) : m_next(next) {}

    void put(const char16_t *units, qsizetype count) override
    {
        static constexpr char16_t starts[] = {u'\\', CR};
        qsizetype r = 0;
        if (idle()) {
            r = findAnyUnit(units, 0, count, starts, 2);
            m_next.put(units, r < 0 ? count : r);
            if (r < 0)
                return;
        }
        while (r < count) {
            if (idle()) {
                qsizetype next = findAnyUnit(units, r, count, starts, 2);
                if (next < 0)
                    next = count;
                m_out.append(units + r, next - r);
                r = next;
                if (r == count)
                    break;
            }
            put1(units[r++]);
        }
        flush();
    }
    void finish() override
    {
        flushSlashes(0);
        if (m_cr) {
            m_cr = false;
            put3(CR);
        }
        flushSlashes(1);
        flushSlashes(2);
        flush();
        m_next.finish();
    }

private:
    bool idle() const { return !m_slashes[0] && !m_cr && !m_slashes[1] && !m_slashes[2]; }
    void flush()
    {
        m_next.put(m_out.data(), m_out.size());
        m_out.clear();
    }
    // Stage k of the three backslash removals: `letter` after a held
    // backslash removes both.
    bool heldSlash(int k, char16_t c, char16_t letter)
    {
        if (c == u'\\') {
            ++m_slashes[k];
            return true;
        }
        if (m_slashes[k] > 0 && lowerUnit(c) == letter) {
            --m_slashes[k];
            return true;
        }
        flushSlashes(k);
        return false;
    }
    void flushSlashes(int k)
    {
        for (; m_slashes[k] > 0; --m_slashes[k]) {
            if (k == 0)
                put2(u'\\');
            else if (k == 1)
                put4(u'\\');
            else
                m_out.append(u'\\');
        }
    }
    void put1(char16_t c)
    {
        if (!heldSlash(0, c, u'r'))
            put2(c);
    }
    void put2(char16_t c)
    {
        if (m_cr) {
            m_cr = false;
            if (c == LF) {
                put3(u' ');
                return;
            }
            put3(CR);
        }
        if (c == CR)
            m_cr = true;
        else
            put3(c);
    }
    void put3(char16_t c)
    {
        if (!heldSlash(1, c, u'n'))
            put4(c);
    }
    void put4(char16_t c)
    {
        if (!heldSlash(2, c, u't'))
            m_out.append(c);
    }

    Stage &m_next;
    Buffer m_out;
    qsizetype m_slashes[3] = {0, 0, 0};
    bool m_cr = false;
};

// Whether src[from, n) could still grow into `lowerMarker` (it is a proper
// prefix of it), so that the next piece decides.
bool mayBecome(const char16_t *src, qsizetype from, qsizetype n, QStringView lowerMarker)
{
    const qsizetype have = n - from;
    return have < lowerMarker.size() && matchesAt(src, from, n, lowerMarker.first(have));
}

// Steps 5 to 11: the five tags to blanks and line breaks, "&amp;" to "&",
// "&nbsp;" to a blank. The tags cannot overlap one another nor an entity, and
// no replacement makes a new tag, so one pass does them all; only "&amp;"
// feeds itself and "&nbsp;" ("&amp;amp;nbsp;" ends as a blank).
class TagStage : public ShortStage
{
public:
    using ShortStage::ShortStage;

protected:
    qsizetype rewrite(char16_t *dst, const char16_t *src, qsizetype n, bool final,
                      Buffer &carry) override
    {
        static constexpr char16_t starts[] = {u'<', u'&'};
        struct Tag
        {
            QStringView rest; // after the "<"
            bool blank;
        };
        static constexpr Tag tags[] = {
            {u"/td>", true}, {u"/li>", false}, {u"/p>", false}, {u"br>", false}, {u"/tr>", false}};
        Rewrite t{dst, src, n};
        for (;;) {
            const qsizetype at = findAnyUnit(src, t.r, n, starts, 2);
            t.keepUpTo(at < 0 ? n : at);
            if (at < 0)
                break;
            if (src[at] == u'<') {
                const Tag *found = nullptr;
                bool undecided = false;
                for (const Tag &tag : tags) {
                    if (matchesAt(src, at + 1, n, tag.rest)) {
                        found = &tag;
                        break;
                    }
                    undecided = undecided || (!final && mayBecome(src, at + 1, n, tag.rest));
                }
                if (!found && undecided) {
                    carry.append(src + at, n - at);
                    t.r = n;
                    break;
                }
                t.r = at + 1;
                if (!found) {
                    t.put(u'<');
                } else if (found->blank) {
                    t.r += found->rest.size();
                    t.put(u' ');
                } else {
                    t.r += found->rest.size();
                    t.put(CR);
                    t.put(LF);
                }
                continue;
            }
            // "&" followed by "amp;" any number of times is "&" to what follows.
            qsizetype end = at + 1;
            while (matchesAt(src, end, n, u"amp;"))
                end += 4;
            if (!final && (mayBecome(src, end, n, u"amp;") || mayBecome(src, end, n, u"nbsp;"))) {
                carry.append(u'&');
                carry.append(src + end, n - end);
                t.r = n;
                break;
            }
            if (matchesAt(src, end, n, u"nbsp;")) {
                t.put(u' ');
                end += 5;
            } else {
                t.put(u'&');
            }
            t.r = end;
        }
        return t.w;
    }
};

// Steps 18 and 19: "&lt;" and "&gt;" decoded. They cannot overlap, and a
// decoded bracket makes no new one.
class BracketStage : public ShortStage
{
public:
    using ShortStage::ShortStage;

protected:
    qsizetype rewrite(char16_t *dst, const char16_t *src, qsizetype n, bool final,
                      Buffer &carry) override
    {
        static constexpr char16_t amp = u'&';
        Rewrite t{dst, src, n};
        for (;;) {
            const qsizetype at = findAnyUnit(src, t.r, n, &amp, 1);
            t.keepUpTo(at < 0 ? n : at);
            if (at < 0)
                break;
            if (!final && (mayBecome(src, at, n, u"&lt;") || mayBecome(src, at, n, u"&gt;"))) {
                carry.append(src + at, n - at);
                t.r = n;
                break;
            }
            if (matchesAt(src, at, n, u"&lt;") || matchesAt(src, at, n, u"&gt;")) {
                t.put(lowerUnit(src[at + 1]) == u'l' ? u'<' : u'>');
                t.r = at + 4;
            } else {
                t.put(u'&');
                t.r = at + 1;
            }
        }
        return t.w;
    }
};

// Where the units that later input can no longer change end, in a front
// whose units from `from` on may still begin a start marker: a removal at p
// can join the units before p into a new start marker, so a run of the
// marker's beginnings just before `from` stays too ("<scr" before "<script>").
qsizetype settledEnd(const char16_t *front, qsizetype from, const Needle &start)
{
    for (bool moved = true; moved;) {
        moved = false;
        for (qsizetype k = std::max<qsizetype>(0, from - start.size() + 1); k < from; ++k) {
            if (matchesAt(front, k, from, start.lower().first(from - k))) {
                from = k;
                moved = true;
                break;
            }
        }
    }
    return from;
}

// Steps 12 to 17 and 20: killchar. A start marker whose end marker has not
// come yet is held with everything after it: if the text ends first, nothing
// from it on is removed.
class SpanStage : public Stage
{
public:
    SpanStage(Stage &next, const Needle &start, const Needle &end)
        : m_next(next), m_start(start), m_end(end)
    {
    }

    void put(const char16_t *units, qsizetype count) override
    {
        if (m_open) {
            const qsizetype after = spanEndIn(units, count);
            if (after < 0) {
                m_span.append(units, count);
                m_endFrom = std::max<qsizetype>(m_endFrom, m_span.size() - m_end.size() + 1);
                return;
            }
            m_span.clear();
            m_open = false;
            units += after;
            count -= after;
        }
        qsizetype n = count;
        const char16_t *src = behindHeld(m_held, m_work, units, n);
        Rewrite t{m_out.reserve(n), src, n};
        const qsizetype open = removeSpans(t, m_start, m_end);
        // What is not settled waits: the unsettled front, then either the
        // open span or the last units, which may begin a start marker.
        if (t.w == 0 && t.r == 0) {
            // Nothing removed: the front is src itself, nothing need be copied.
            const qsizetype frontEnd =
                open >= 0 ? open : std::max<qsizetype>(0, n - (m_start.size() - 1));
            const qsizetype settled = settledEnd(src, frontEnd, m_start);
            m_next.put(src, settled);
            m_held.append(src + settled, (open >= 0 ? open : n) - settled);
            if (open >= 0)
                m_span.append(src + open, n - open);
        } else {
            const qsizetype frontEnd =
                open >= 0 ? open : std::max<qsizetype>(0, t.size() - (m_start.size() - 1));
            if (frontEnd > t.w)
                t.keepUpTo(t.r + (frontEnd - t.w));
            const qsizetype settled = settledEnd(t.dst, std::min(frontEnd, t.w), m_start);
            m_next.put(t.dst, settled);
            const qsizetype heldEnd = open >= 0 ? open : t.w;
            m_held.append(t.dst + settled, heldEnd - settled);
            Buffer &rest = open >= 0 ? m_span : m_held;
            rest.append(t.dst + heldEnd, t.w - heldEnd);
            rest.append(src + t.r, n - t.r);
        }
        if (open >= 0) {
            m_open = true;
            m_endFrom = std::max<qsizetype>(0, m_span.size() - m_end.size() + 1);
        }
    }

    void finish() override
    {
        // An open span is kept whole: its start marker stopped the removals.
        m_next.put(m_held.data(), m_held.size());
        m_next.put(m_span.data(), m_span.size());
        m_next.finish();
    }

private:
    // Index in `units` just past the end marker that closes the open span; -1
    // when it has not come yet.
    qsizetype spanEndIn(const char16_t *units, qsizetype count) const
    {
        const qsizetype spanSize = m_span.size();
        const QStringView end = m_end.lower();
        for (qsizetype k = std::max(m_endFrom, spanSize - end.size() + 1); k < spanSize; ++k) {
            const qsizetype inSpan = spanSize - k;
            if (count >= end.size() - inSpan &&
                matchesAt(m_span.data(), k, spanSize, end.first(inSpan)) &&
                matchesAt(units, 0, count, end.sliced(inSpan)))
                return end.size() - inSpan;
        }
        const qsizetype at = m_end.findIn(units, 0, count);
        return at < 0 ? -1 : at + end.size();
    }

    Stage &m_next;
    const Needle &m_start;
    const Needle &m_end;
    Buffer m_held; // not passed on yet; before the open span when there is one
    Buffer m_span; // from the open start marker on
    bool m_open = false;
    qsizetype m_endFrom = 0; // no end marker begins in the span before it
    Buffer m_work;
    Buffer m_out;
};

} // namespace

QString killonechar(const QString &hxs1, const QString &hxss1, const QString &hxss2)
{
    // One character without letter case (the collector's "|" and "^"): a
    // replacement cannot make a new match, so one pass over the text does.
    if (hxss1.size() == 1 && hxss1[0].unicode() < 0x80 && !hxss1[0].isLetter() &&
        !hxss2.contains(hxss1[0]))
        return QString(hxs1).replace(hxss1[0], hxss2);
    const Needle find(hxss1);
    const char16_t *s = unitsOf(hxs1);
    const qsizetype n = hxs1.size();
    qsizetype pos = find.findIn(s, 0, n);
    if (pos < 0)
        return hxs1;
    if (lowerSameLength(hxss2).contains(find.lower()))
        return replaceEachOnce(hxs1, find, hxss2);

    // `out` holds the finished front, s[pos..] the unread rest. No occurrence
    // starts in out before `searchFrom`: a change at m can only create new
    // ones that start within the length of the find text before m.
    QString out;
    out.reserve(n);
    out.append(QStringView(s, pos));
    const auto matchesHere = [&](qsizetype k) {
        for (qsizetype i = 0; i < find.size(); ++i) {
            const qsizetype v = k + i;
            const qsizetype u = v < out.size() ? -1 : pos + (v - out.size());
            if (u >= n)
                return false;
            const char16_t c = u < 0 ? out[v].unicode() : s[u];
            if (lowerUnit(c) != find.lower()[i].unicode())
                return false;
        }
        return true;
    };
    qsizetype searchFrom = pos;
    for (;;) {
        qsizetype match = -1;
        for (qsizetype k = searchFrom; k < out.size() && match < 0; ++k) {
            if (matchesHere(k))
                match = k;
        }
        if (match >= 0) {
            const qsizetype stop = match + find.size();
            if (stop <= out.size()) {
                out.remove(match, find.size());
            } else {
                pos += stop - out.size();
                out.truncate(match);
            }
        } else {
            const qsizetype at = find.findIn(s, pos, n);
            if (at < 0)
                break;
            out.append(QStringView(s + pos, at - pos));
            pos = at + find.size();
            match = out.size();
        }
        out.insert(match, hxss2);
        searchFrom = std::max<qsizetype>(0, match - find.size() + 1);
    }
    out.append(QStringView(s + pos, n - pos));
    return out;
}

QString killchar(const QString &hxs1, const QString &hxss1, const QString &hxss2)
{
    const Needle start(hxss1);
    const Needle end(hxss2);
    if (end.isEmpty() || start.findIn(unitsOf(hxs1), 0, hxs1.size()) < 0)
        return hxs1;
    QString text = hxs1;
    char16_t *d = unitsOf(text);
    Rewrite t{d, d, text.size()};
    removeSpans(t, start, end);
    t.keepUpTo(t.n);
    text.truncate(t.w);
    return text;
}

QString htm2txt(const QString &hxs1)
{
    // Pieces of 16 KB: every stage's buffers stay in the processor's cache.
    return htm2txt(hxs1, 8 * 1024);
}

QString htm2txt(const QString &hxs1, qsizetype pieceUnits)
{
    // Every step's marker starts with one of these: without them nothing changes.
    static constexpr char16_t markers[] = {u'\\', CR, u'<', u'&'};
    const char16_t *text = unitsOf(hxs1);
    const qsizetype size = hxs1.size();
    if (findAnyUnit(text, 0, size, markers, 4) < 0)
        return hxs1;

    static const Needle starts[] = {Needle(u"<head>"), Needle(u"<script>"), Needle(u"<style>"),
                                    Needle(u"<style"), Needle(u"<script"),  Needle(u"<"),
                                    Needle(u"&")};
    static const Needle ends[] = {Needle(u"</head>"),  Needle(u"</script>"), Needle(u"</style>"),
                                  Needle(u"</style>"), Needle(u"</script>"), Needle(u">"),
                                  Needle(u";")};
    // Built from the end of the chain: each stage passes its output to the one above it.
    Collect result(size);
    SpanStage step20(result, starts[6], ends[6]);
    BracketStage steps18and19(step20);
    SpanStage step17(steps18and19, starts[5], ends[5]);
    SpanStage step16(step17, starts[4], ends[4]);
    SpanStage step15(step16, starts[3], ends[3]);
    SpanStage step14(step15, starts[2], ends[2]);
    SpanStage step13(step14, starts[1], ends[1]);
    SpanStage step12(step13, starts[0], ends[0]);
    TagStage steps5to11(step12);
    EscapeStage steps1to4(steps5to11);

    pieceUnits = std::max<qsizetype>(1, pieceUnits);
    for (qsizetype at = 0; at < size; at += pieceUnits) {
        // The next piece is on its way from memory while this one is worked on.
        for (qsizetype p = at + pieceUnits; p < std::min(size, at + 2 * pieceUnits); p += 32)
            __builtin_prefetch(text + p);
        steps1to4.put(text + at, std::min(pieceUnits, size - at));
    }
    steps1to4.finish();
    return result.result();
}

} // namespace caiji
