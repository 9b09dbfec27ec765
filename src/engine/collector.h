// The content-page collector: hands content-queue entries to 50 fetch slots,
// cuts each arrived page by its level section and stores the records or
// queues deeper pages and downloads.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace caiji {

class Fetcher;
struct EngineState;

class Collector
{
public:
    // `page`: the page whose record it is, empty for one of several records
    // cut from one page.
    using StoreRecord = std::function<void(const QString &recordLine, const QString &page)>;

    Collector(EngineState &state, Fetcher &fetcher, StoreRecord storeRecord);

    void tick();
    // At the task's end: the entries no slot reached are settled, so no
    // record the task produced is dropped.
    void settleQueue(const QString &reason);
    // `reason` says why nothing was stored when `count` is negative; `body`
    // holds the page when it was kept in memory (else it is read from `file`);
    // `origin` is the page whose record the fetch was completing.
    void fetchDone(int index, const QString &url, const QString &file, qint64 count,
                   const QString &tag1, const QString &tag2, const QString &reason,
                   const QByteArray &body = QByteArray(), const QByteArray &charset = QByteArray(),
                   const QString &origin = QString());

private:
    void dispatch(int slot);
    void issue(int slot, const QString &address, const QString &file, const QString &level,
               const QString &prefix, bool download, const QString &origin);
    // Only what is new: a page of one record whose record is stored.
    bool isStoredPage(const QString &address, int level) const;
    bool cutsOneRecord(int level) const;
    // An entry that will never be fetched: a finished record is stored and
    // its download counted as failed; a page is counted as failed.
    void settle(const QString &entry, const QString &origin, const QString &reason);
    void downloadDone(const QString &url, const QString &file, qint64 count, const QString &reason);
    // False when the page brought no text; it is then not counted as done.
    bool processPage(const QString &url, QString page, const QString &tag1, const QString &tag2,
                     const QString &origin);

    EngineState &m_state;
    Fetcher &m_fetcher;
    StoreRecord m_storeRecord;
};

} // namespace caiji
