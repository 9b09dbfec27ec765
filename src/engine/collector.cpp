#include "engine/collector.h"

#include "engine/enginestate.h"
#include "engine/fetcher.h"
#include "engine/pagecutter.h"
#include "text/numbers.h"
#include "text/readtext.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr int FreeAge = 100;

} // namespace

Collector::Collector(EngineState &state, Fetcher &fetcher, StoreRecord storeRecord)
    : m_state(state), m_fetcher(fetcher), m_storeRecord(std::move(storeRecord))
{
}

void Collector::tick()
{
    for (int i = 1; i <= SlotCount; ++i) {
        increment(m_state.wbAge[i]);
        if (m_state.wbAge[i] > 99 && m_state.contentCursor < m_state.contentQueue.size() - 1)
            dispatch(i);
    }
}

void Collector::dispatch(int slot)
{
    ++m_state.contentCursor;
    const QStringList entry = m_state.contentQueue[m_state.contentCursor].split(u'|');
    const QString level = entry.value(0);
    const QString address = entry.value(1);
    const QString prefix = entry.value(2);

    const std::optional<double> number = readAsNumber(level);
    if (!number || *number == 0) {
        // A finished record; its file downloads while it is stored.
        m_storeRecord(prefix);
        if (!address.isEmpty()) {
            m_state.wbRun[slot] = m_state.runId;
            m_state.wbFile[slot] = m_state.downloadFile(address);
            m_state.wbAge[slot] = 1;
            m_fetcher.fetch(slot, address, m_state.wbFile[slot], u"0"_s, QString());
        }
    } else if (*number > 0) {
        m_state.wbRun[slot] = m_state.runId;
        m_state.wbFile[slot] = m_state.pageFile(address);
        m_state.wbAge[slot] = 1;
        m_fetcher.fetch(slot, address, m_state.wbFile[slot], level, prefix);
    }
}

void Collector::fetchDone(int index, const QString &url, const QString &file, qint64 count,
                          const QString &tag1, const QString &tag2)
{
    const std::optional<double> level = readAsNumber(tag1);
    const bool exists = QFile::exists(file);
    if ((!level || *level == 0) && count >= 0 && exists &&
        m_state.downloads.size() < MaxListEntries)
        m_state.downloads.append(url);
    // Pages of two bytes or less and downloads are counted without being read.
    const bool counted =
        exists && (!(level && *level > 0) || count <= 2 || processPage(url, file, tag1, tag2));
    if (index >= 1 && index <= SlotCount)
        m_state.wbAge[index] = FreeAge;
    if (counted)
        increment(m_state.pagesDone);
}

bool Collector::processPage(const QString &url, const QString &file, const QString &tag1,
                            const QString &tag2)
{
    const QString page = readtext(file);
    QFile::remove(file);
    if (page.isEmpty())
        return false;
    PageCutter cutter(m_state.definition, m_state.fieldCount, m_state.w);
    const CutResult result = cutter.cut(page, url, toInt16(tag1).value_or(0), tag2);
    for (const QString &entry : result.queueEntries)
        m_state.appendContent(entry);
    for (const QString &record : result.records)
        m_storeRecord(record);
    return true;
}

} // namespace caiji
