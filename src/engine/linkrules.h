// The rules by which a scheme-two crawl keeps the links of a list page:
// within the start page's site, list pages by scheme parts 5 and 6, content
// pages by parts 3 and 4 and their link text by parts 7 to 9. The crawler
// asks them link by link; `caiji try --links` asks why.
#pragma once

#include "text/links.h"

#include <QString>
#include <QStringList>

namespace caiji {

class LinkRules
{
public:
    // `schemeFields` is the task's "ur" value split on "|".
    explicit LinkRules(const QStringList &schemeFields);

    // The link as the crawler keeps it, or empty when it leaves the site or
    // names a file that is no page.
    QString canonical(const QString &address) const { return m_site.canonical(address); }
    bool isListPage(const QString &link) const;
    bool isContentPage(const QString &link) const;
    // `title` is the link's text as listed; blanks at its ends do not count.
    bool titleFits(const QString &title) const;

    // Why a link is not taken, in the guide's words; empty when it is.
    QString refusedAsList(const QString &link) const;
    QString refusedAsContent(const QString &link, const QString &title) const;

    static QString trimmedTitle(QString title);

private:
    SiteLinks m_site;
    QStringList m_fields;
    PatternList m_listMust, m_listMustNot, m_targetMust, m_targetMustNot, m_titleAny,
        m_titleMustNot;
    qsizetype m_shortestTitle;
};

} // namespace caiji
