#include "text/links.h"

#include "text/positions.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// A plain search as the list tests make it: an empty item occurs in every
// non-empty text, nothing occurs in an empty one.
bool occurs(const QString &text, const QString &item)
{
    return instr(1, text, item) > 0;
}

// Letters first, then letters, digits, "+", "-" or ".": "://" after anything
// else (a query, say) is not the end of a scheme.
bool isSchemeName(QStringView text)
{
    if (text.isEmpty() || !text.front().isLetter() || text.front().unicode() >= 0x80)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.');
    });
}

QString pass(bool passed)
{
    return passed ? u"w"_s : QString();
}

} // namespace

PatternList::PatternList(const QString &hxss)
{
    if (!hxss.isEmpty())
        m_items = hxss.split(u'^');
}

bool PatternList::passes(int hxt, const QString &hxs1) const
{
    if (m_items.isEmpty())
        return hxt >= 3 && hxt <= 5;
    const auto found = [&](const QString &item) { return occurs(hxs1, item); };
    switch (hxt) {
    case 3:
        return std::all_of(m_items.begin(), m_items.end(), found);
    case 4:
        return std::none_of(m_items.begin(), m_items.end(), found);
    case 5:
        return std::any_of(m_items.begin(), m_items.end(), found);
    default:
        return false;
    }
}

QString hx(int hxt, const QString &hxs1, const QString &hxss)
{
    if (hxt < 1 || hxt > 5)
        return {};
    if (hxss.isEmpty())
        return hxt <= 2 ? hxs1 : u"w"_s;

    QString s = hxs1;
    switch (hxt) {
    case 1: {
        const QStringList items = hxss.split(u'^');
        for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
            if (!items[i].isEmpty())
                s.replace(items[i], items[i + 1]);
        }
        return s;
    }
    case 2:
        for (const QString &item : hxss.split(u'^')) {
            if (!item.isEmpty())
                s.remove(item);
        }
        return s;
    default:
        return pass(PatternList(hxss).passes(hxt, s));
    }
}

QString PatternList::decidingItem(int hxt, const QString &hxs1) const
{
    if (hxt != 3 && hxt != 4)
        return {};
    for (const QString &item : m_items) {
        if (occurs(hxs1, item) == (hxt == 4))
            return item;
    }
    return {};
}

QString hpkey(const QString &hds1)
{
    const QString t = hds1 + u'/';
    // The host starts after "://" whatever the scheme; for "http://" that is
    // position 8.
    const qsizetype schemeEnd = t.indexOf(u"://");
    const bool hasScheme = schemeEnd > 0 && isSchemeName(QStringView(t).first(schemeEnd));
    const qsizetype hostStart = hasScheme ? schemeEnd + 4 : 8;
    const qsizetype hostEnd = instr(hostStart, t, u"/");
    QString host = mid(t, hostStart, hostEnd - hostStart);
    const qsizetype firstDot = host.indexOf(u'.');
    if (firstDot >= 0 && host.indexOf(u'.', firstDot + 1) >= 0)
        host = host.sliced(firstDot + 1);
    return host;
}

SiteLinks::SiteLinks(const QString &startAddress) : m_key(lowerSameLength(hpkey(startAddress))) {}

QString SiteLinks::canonical(const QString &hds1) const
{
    const QString u = lowerSameLength(hds1);
    if (!m_key.isEmpty() && !u.contains(m_key))
        return {};
    if (u.isEmpty())
        return {}; // an empty link holds no site key either

    static const QString pageExtensions[] = {u".htm"_s, u".shtml"_s, u".asp"_s, u".jsp"_s,
                                             u".php"_s};
    const bool isPage = std::any_of(std::begin(pageExtensions), std::end(pageExtensions),
                                    [&](const QString &ext) { return u.contains(ext); });
    if (!isPage) {
        const qsizetype lastSlash = u.lastIndexOf(u'/');
        if (lastSlash < 0 || u.indexOf(u'.', lastSlash) >= 0)
            return {};
    }

    QString r = hds1;
    const qsizetype hash = r.indexOf(u'#');
    if (hash >= 0)
        r.truncate(hash);
    for (int i = 0; i < 3 && r.endsWith(u'/'); ++i)
        r.chop(1);
    return r;
}

QString hp(const QString &hds1, const QString &startAddress)
{
    return SiteLinks(startAddress).canonical(hds1);
}

} // namespace caiji
