#include "engine/collector.h"

#include "engine/enginestate.h"
#include "engine/fetcher.h"
#include "engine/linklister.h"
#include "engine/pagecutter.h"
#include "text/extract.h"
#include "text/numbers.h"
#include "text/readtext.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr int FreeAge = 100;

// One content-queue entry: "level|address|record line".
struct QueueEntry
{
    QString level;
    QString address;
    QString prefix;
    std::optional<double> number; // the level read as a number

    explicit QueueEntry(const QString &entry)
    {
        const QStringList parts = entry.split(u'|');
        level = parts.value(0);
        address = parts.value(1);
        prefix = parts.value(2);
        number = readAsNumber(level);
    }
    // A level that is not a number counts as 0, as a test that cannot read
    // its number passes.
    bool isRecord() const { return !number || *number == 0; }
    bool isPage() const { return number && *number > 0; }
};

// A page that came as a file is read once and deleted.
QString readPageFile(const QString &file)
{
    const QString page = readtext(file);
    QFile::remove(file);
    return page;
}

} // namespace

Collector::Collector(EngineState &state, Fetcher &fetcher, StoreRecord storeRecord)
    : m_state(state), m_fetcher(fetcher), m_storeRecord(std::move(storeRecord))
{
}

void Collector::tick()
{
    for (int i = 1; i <= SlotCount; ++i) {
        increment(m_state.wbAge[i]);
        if (m_state.wbAge[i] > 99 && !m_fetcher.isWaiting(i) &&
            m_state.contentCursor < m_state.contentQueue.size() - 1)
            dispatch(i);
    }
}

void Collector::dispatch(int slot)
{
    // Pages whose records are stored are passed over without using the slot.
    while (m_state.contentCursor < m_state.contentQueue.size() - 1) {
        ++m_state.contentCursor;
        const QueueEntry entry(m_state.contentQueue[m_state.contentCursor]);
        const QString origin = m_state.contentOrigins.value(m_state.contentCursor);
        if (entry.isRecord()) {
            // A finished record; its file downloads while it is stored.
            m_storeRecord(entry.prefix, origin);
            if (!entry.address.isEmpty())
                issue(slot, entry.address, m_state.downloadFile(entry.address), u"0"_s, QString(),
                      true, origin);
        } else if (entry.isPage()) {
            if (origin.isEmpty() && isStoredPage(entry.address, int(*entry.number))) {
                ++m_state.tally.pagesKnown;
                continue;
            }
            ++m_state.tally.pagesRequested;
            issue(slot, entry.address, m_state.pageFile(entry.address), entry.level, entry.prefix,
                  false, origin);
        }
        return;
    }
}

bool Collector::cutsOneRecord(int level) const
{
    if (level < 1 || level > MaxLevel)
        return false;
    WValues w;
    getw(m_state.definition.section[level], w);
    return readAsNumber(w[0]) == 1.0;
}

bool Collector::isStoredPage(const QString &address, int level) const
{
    // A page read for several records may hold new ones: it is always read.
    return m_state.collect.onlyNew && m_state.storedPages.contains(address) && cutsOneRecord(level);
}

void Collector::settle(const QString &entryText, const QString &origin, const QString &reason)
{
    const QueueEntry entry(entryText);
    if (entry.isRecord()) {
        m_storeRecord(entry.prefix, origin);
        if (!entry.address.isEmpty())
            m_state.countFailure(FailedFetch::Download, entry.address, reason);
    } else if (entry.isPage()) {
        m_state.countFailure(FailedFetch::ContentPage, entry.address, reason, entry.level);
    }
}

void Collector::settleQueue(const QString &reason)
{
    while (m_state.contentCursor < m_state.contentQueue.size() - 1) {
        ++m_state.contentCursor;
        settle(m_state.contentQueue[m_state.contentCursor],
               m_state.contentOrigins.value(m_state.contentCursor), reason);
    }
}

void Collector::issue(int slot, const QString &address, const QString &file, const QString &level,
                      const QString &prefix, bool download, const QString &origin)
{
    // The fetch this replaces would never complete.
    m_state.abandonContentSlot(slot, u"超时"_s);
    m_state.contentPending[slot] = {m_state.runId, address, file, download, level, origin};
    m_state.wbAge[slot] = 1;
    m_fetcher.fetch(slot, address, file, level, prefix);
}

void Collector::fetchDone(int index, const QString &url, const QString &file, qint64 count,
                          const QString &tag1, const QString &tag2, const QString &reason,
                          const QByteArray &body, const QByteArray &charset, const QString &origin)
{
    const std::optional<double> level = readAsNumber(tag1);
    bool counted = false;
    if (!(level && *level > 0)) {
        downloadDone(url, file, count, reason);
        counted = count >= 0 && QFile::exists(file);
    } else if (count < 0) {
        m_state.countFailure(FailedFetch::ContentPage, url, reason, tag1);
    } else if (body.isEmpty() && !QFile::exists(file)) {
        m_state.countFailure(FailedFetch::ContentPage, url, u"页面文件不见了"_s, tag1);
    } else if (count <= 2) {
        counted = true; // counted without being read; its file stays
    } else {
        PageCharset read;
        QString page = body.isEmpty() ? readPageFile(file) : decodePage(body, &read, charset);
        m_state.flagGarbled(url, read.name, unreadableCharacters(page));
        // The crawler will want this page's links: it need not ask the site again.
        if (!page.isEmpty() && body.size() <= ListingStash::LargestPage &&
            m_state.listingStash.wants(url))
            m_state.listingStash.offer(url, ListLinks(url, page));
        counted = processPage(url, std::move(page), tag1, tag2, origin);
        if (!counted)
            m_state.countFailure(FailedFetch::ContentPage, url, u"页面无法读取或不足10个字符"_s,
                                 tag1);
    }
    if (index >= 1 && index <= SlotCount)
        m_state.wbAge[index] = FreeAge;
    if (counted)
        increment(m_state.pagesDone);
}

void Collector::downloadDone(const QString &url, const QString &file, qint64 count,
                             const QString &reason)
{
    if (count < 0 || !QFile::exists(file)) {
        m_state.countFailure(FailedFetch::Download, url,
                             count < 0 ? reason : u"下载的文件不见了"_s);
        return;
    }
    ++m_state.tally.downloadsStored;
    if (m_state.downloads.size() < MaxListEntries)
        m_state.downloads.append(url);
}

bool Collector::processPage(const QString &url, QString page, const QString &tag1,
                            const QString &tag2, const QString &origin)
{
    if (page.isEmpty())
        return false;
    const int level = toInt16(tag1).value_or(0);
    // The first page of one record on the way is the page the record is of.
    const QString recordOf = origin.isEmpty() && cutsOneRecord(level) ? url : origin;
    PageCutter cutter(m_state.definition, m_state.fieldCount, m_state.w);
    const CutResult result = cutter.cut(std::move(page), url, level, tag2);
    for (const QString &entry : result.queueEntries) {
        if (!m_state.appendContent(entry, recordOf))
            settle(entry, recordOf, u"工作列表已满"_s);
    }
    for (const QString &record : result.records)
        m_storeRecord(record, recordOf);
    return true;
}

} // namespace caiji
