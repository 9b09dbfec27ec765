#include "engine/crawler.h"

#include "engine/enginestate.h"
#include "engine/fetcher.h"
#include "engine/linklister.h"
#include "text/links.h"
#include "text/numbers.h"
#include "text/positions.h"
#include "text/readtext.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Free again on the fourth tick after its page arrived.
constexpr int AgeAfterPage = 96;

} // namespace

Crawler::Crawler(EngineState &state, Fetcher &fetcher) : m_state(state), m_fetcher(fetcher) {}

bool Crawler::belowMaximum() const
{
    return numberAtStart(m_state.schemeField(2)) > m_state.contentQueue.size();
}

void Crawler::tick()
{
    for (int i = 1; i <= Slots; ++i) {
        increment(m_state.waAge[i]);
        if (m_state.waAge[i] > 99 && !m_fetcher.isWaiting(i) &&
            m_state.listCursor < m_state.listQueue.size() - 1 && belowMaximum()) {
            ++m_state.listCursor;
            m_state.waAge[i] = 1;
            const QString url = m_state.listQueue[m_state.listCursor];
            // The fetch this replaces would never complete.
            m_state.abandonListSlot(i, u"超时"_s);
            if (const std::optional<QString> listing = m_state.listingStash.take(url)) {
                // The collector fetched it already: its links count as arrived.
                queueLinks(*listing);
                pageDone(i);
                continue;
            }
            m_state.listPending[i] = {m_state.runId, url, m_state.pageFile(url), false, QString()};
            ++m_state.tally.pagesRequested;
            m_fetcher.fetch(i, url, m_state.listPending[i].file, QString(), QString());
        }
    }
}

void Crawler::fetchDone(int index, const QString &url, const QString &file, qint64 count,
                        const QString &reason, const QByteArray &body, const QByteArray &charset)
{
    if (count < 0) {
        m_state.countFailure(FailedFetch::ListPage, url, reason);
    } else if (!body.isEmpty()) {
        PageCharset read;
        const QByteArray text = decodePageToUtf8(body, charset, &read);
        // U+FFFD in UTF-8: characters the page's set could not decode.
        m_state.flagGarbled(url, read.name, text.count("\xEF\xBF\xBD"));
        queueLinks(ListLinksOfUtf8(url, text));
    } else if (count > 0 && !QFile::exists(file)) {
        m_state.countFailure(FailedFetch::ListPage, url, u"页面文件不见了"_s);
    } else if (count > 0) {
        const QString page = readtext(file);
        QFile::remove(file);
        queueLinks(ListLinks(url, page));
    }
    pageDone(index);
}

void Crawler::pageDone(int index)
{
    if (index >= 1 && index <= Slots)
        m_state.waAge[index] = AgeAfterPage;
    increment(m_state.listPagesDone);
}

void Crawler::queueLinks(const QString &listing)
{
    // The scheme's rules, read once for all links of the page.
    const SiteLinks site(m_state.schemeField(1));
    const PatternList listMust(m_state.schemeField(5)), listMustNot(m_state.schemeField(6));
    const PatternList targetMust(m_state.schemeField(3)), targetMustNot(m_state.schemeField(4));
    const PatternList titleAny(m_state.schemeField(8)), titleMustNot(m_state.schemeField(9));
    const qsizetype shortestTitle = numberAtStart(m_state.schemeField(7));

    qsizetype p1 = instr(1, listing, u"ur=[[") + 5;
    qsizetype p2 = p1 > 5 ? listingAddressEnd(listing, p1) : 0;
    // p1 moves past p2 on every pass, so the scan ends with the listing.
    while (p1 > 5 && p2 > 0 && p2 > p1 && belowMaximum()) {
        const QString link = site.canonical(mid(listing, p1, p2 - p1));
        if (!link.isEmpty()) {
            // Most links of a page were met before (menus, the index): the
            // set is asked first, the patterns only for new addresses.
            if (!m_state.seenListPages.contains(link) && listMust.passes(3, link) &&
                listMustNot.passes(4, link) && m_state.appendList(link)) {
                m_state.seenListPages.insert(link);
                m_state.listingStash.expect(link);
            }

            if (!m_state.seenTargets.contains(link) && targetMust.passes(3, link) &&
                targetMustNot.passes(4, link)) {
                const qsizetype t1 = instr(p2, listing, u"ut=[[") + 5;
                const qsizetype t2 = instr(t1, listing, u"]]");
                QString title = t2 > 0 ? mid(listing, t1, t2 - t1) : QString();
                while (title.startsWith(u' '))
                    title.remove(0, 1);
                while (title.endsWith(u' '))
                    title.chop(1);
                if (title.size() > shortestTitle && titleAny.passes(5, title) &&
                    titleMustNot.passes(4, title) && m_state.appendContent(u"1|"_s + link + u'|'))
                    m_state.seenTargets.insert(link);
            }
        }
        p1 = instr(p2, listing, u"ur=[[") + 5;
        if (p1 > 5)
            p2 = listingAddressEnd(listing, p1);
    }
}

} // namespace caiji
