// One array of fetch slots (indexes 1..50): fetch an address into a file and
// report the result later, from the event loop, never from inside fetch().
#pragma once

#include "tasks/networksettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

namespace caiji {

class Fetcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts fetching `url` into `file` on slot `index`; a fetch still running
    // on that slot is dropped without a completion. `tag1` and `tag2` come
    // back unchanged.
    virtual void fetch(int index, const QString &url, const QString &file, const QString &tag1,
                       const QString &tag2) = 0;

    // Drops every fetch in flight; none of them completes.
    virtual void abandonAll() = 0;

    // Files may only be written inside these folders; other names are refused.
    virtual void setAllowedDirectories(const QStringList &directories) = 0;

    // A fetch of slot `index` that waits before it is sent: for its turn at
    // its host, or to be tried again. Its slot stays busy meanwhile.
    virtual bool isWaiting(int index) const
    {
        Q_UNUSED(index);
        return false;
    }
    // Some fetch waits: work in flight, so the task does not end meanwhile.
    virtual bool hasWaiting() const { return false; }

    // A new run starts with the task's network settings: state kept between
    // fetches (cookies, hosts' pacing) starts afresh.
    virtual void startRun(const NetworkSettings &settings = NetworkSettings())
    {
        Q_UNUSED(settings);
    }

    // Pages (files named "... .txt") are read once and deleted by their
    // reader: with this set, their bytes come with the completion instead,
    // and only a page of two bytes or less is written to its file.
    void setPagesInMemory(bool inMemory) { m_pagesInMemory = inMemory; }
    bool pagesInMemory() const { return m_pagesInMemory; }
    static bool isPageFile(const QString &file);
    // A fetched page's bytes, from a completion with a count of 0 or more.
    static QByteArray pageBytes(const QString &file, qint64 count, const QByteArray &body);

Q_SIGNALS:
    // `count` is the number of bytes stored in `file`, -1 when nothing was
    // stored (no file is left then); `text` then says why, in a few words.
    // The file holds this transfer's bytes when the signal is emitted, also
    // when another transfer to the same file is still running.
    // `body` holds a page's bytes when pages are kept in memory and it has more
    // than two; it is empty otherwise. `charset` is the charset the server's
    // Content-Type names, in lower case; empty when it names none.
    void fetchDone(int index, const QString &url, const QString &file, const QString &text,
                   qint64 count, const QString &tag1, const QString &tag2, const QByteArray &body,
                   const QByteArray &charset);
    // A transient failure of slot `index`'s fetch is tried again in
    // `delayMs`; no completion comes meanwhile.
    void retryScheduled(int index, const QString &url, const QString &reason, int delayMs);
    // The fetch of slot `index` leaves now, after waiting or at once: its age
    // counts from here.
    void sent(int index);

private:
    bool m_pagesInMemory = false;
};

} // namespace caiji
