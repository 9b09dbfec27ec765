#include "engine/linkrules.h"

#include "text/numbers.h"

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Must-contain (3) and must-not-contain (4) of scheme part `part`.
QString refusal(const PatternList &list, int kind, int part, const QString &text)
{
    if (list.passes(kind, text))
        return {};
    const QString item = list.decidingItem(kind, text);
    return u"第%1部分"_s.arg(part) +
           (kind == 3 ? u"要求含有“"_s + item + u"”"_s : u"不许含有“"_s + item + u"”"_s);
}

} // namespace

LinkRules::LinkRules(const QStringList &schemeFields)
    : m_site(schemeFields.value(1)), m_fields(schemeFields), m_listMust(schemeFields.value(5)),
      m_listMustNot(schemeFields.value(6)), m_targetMust(schemeFields.value(3)),
      m_targetMustNot(schemeFields.value(4)), m_titleAny(schemeFields.value(8)),
      m_titleMustNot(schemeFields.value(9)), m_shortestTitle(numberAtStart(schemeFields.value(7)))
{
}

QString LinkRules::trimmedTitle(QString title)
{
    while (title.startsWith(u' '))
        title.remove(0, 1);
    while (title.endsWith(u' '))
        title.chop(1);
    return title;
}

bool LinkRules::isListPage(const QString &link) const
{
    return m_listMust.passes(3, link) && m_listMustNot.passes(4, link);
}

bool LinkRules::isContentPage(const QString &link) const
{
    return m_targetMust.passes(3, link) && m_targetMustNot.passes(4, link);
}

bool LinkRules::titleFits(const QString &title) const
{
    const QString trimmed = trimmedTitle(title);
    return trimmed.size() > m_shortestTitle && m_titleAny.passes(5, trimmed) &&
           m_titleMustNot.passes(4, trimmed);
}

QString LinkRules::refusedAsList(const QString &link) const
{
    const QString must = refusal(m_listMust, 3, 5, link);
    return must.isEmpty() ? refusal(m_listMustNot, 4, 6, link) : must;
}

QString LinkRules::refusedAsContent(const QString &link, const QString &title) const
{
    QString why = refusal(m_targetMust, 3, 3, link);
    if (why.isEmpty())
        why = refusal(m_targetMustNot, 4, 4, link);
    const QString trimmed = trimmedTitle(title);
    if (why.isEmpty() && trimmed.size() <= m_shortestTitle)
        why = u"第7部分要求链接文字多于%1个字，这里只有%2个"_s.arg(m_shortestTitle)
                  .arg(trimmed.size());
    if (why.isEmpty() && !m_titleAny.passes(5, trimmed))
        why = u"第8部分要求链接文字含有“"_s + m_fields.value(8) + u"”中的一个"_s;
    if (why.isEmpty())
        why = refusal(m_titleMustNot, 4, 9, trimmed);
    return why;
}

} // namespace caiji
