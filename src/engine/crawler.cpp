#include "engine/crawler.h"

#include "engine/enginestate.h"
#include "engine/fetcher.h"
#include "engine/linklister.h"
#include "engine/linkrules.h"
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
            m_state.listCursor < m_state.listQueue.size() - 1 && belowMaximum() &&
            !m_state.listPagesClosed) {
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
            m_state.listPending[i] = {m_state.runId, url, m_state.pageFile(url), false, {}, {}};
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

void Crawler::noteContentLink(const QString &link)
{
    const int enough = m_state.collect.stopAfterKnown;
    if (!m_state.collect.onlyNew || enough <= 0 || m_state.listPagesClosed)
        return;
    if (!m_state.storedPages.contains(link)) {
        m_state.storedLinksInARow = 0;
        return;
    }
    if (++m_state.storedLinksInARow < enough)
        return;
    // A site that lists the newest first has nothing new past this point.
    m_state.listPagesClosed = true;
    m_state.notes << u"连续%1个内容页链接都已采过，后面的列表页不再读取"_s.arg(enough);
}

void Crawler::queueLinks(const QString &listing)
{
    // The scheme's rules, read once for all links of the page.
    const LinkRules rules(m_state.definition.schemeField);

    qsizetype p1 = instr(1, listing, u"ur=[[") + 5;
    qsizetype p2 = p1 > 5 ? listingAddressEnd(listing, p1) : 0;
    // p1 moves past p2 on every pass, so the scan ends with the listing.
    while (p1 > 5 && p2 > 0 && p2 > p1 && belowMaximum()) {
        const QString link = rules.canonical(mid(listing, p1, p2 - p1));
        if (!link.isEmpty()) {
            // Most links of a page were met before (menus, the index): the
            // set is asked first, the patterns only for new addresses.
            if (!m_state.listPagesClosed && !m_state.seenListPages.contains(link) &&
                rules.isListPage(link) && m_state.appendList(link)) {
                m_state.seenListPages.insert(link);
                m_state.listingStash.expect(link);
            }

            if (!m_state.seenTargets.contains(link) && rules.isContentPage(link) &&
                rules.titleFits(listedTitle(listing, p2))) {
                noteContentLink(link);
                if (m_state.appendContent(u"1|"_s + link + u'|'))
                    m_state.seenTargets.insert(link);
            }
        }
        p1 = instr(p2, listing, u"ur=[[") + 5;
        if (p1 > 5)
            p2 = listingAddressEnd(listing, p1);
    }
}

} // namespace caiji
