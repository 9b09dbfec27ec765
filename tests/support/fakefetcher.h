// A fetcher that serves pages from memory: completions come on the next turn
// of the event loop, and single addresses can be made to fail, hang or return
// a body of two bytes. Every call is recorded for assertions.
#pragma once

#include "engine/fetcher.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>

namespace caiji::test {

class FakeFetcher : public Fetcher
{
    Q_OBJECT

public:
    struct Call
    {
        int index = 0;
        QString url;
        QString file;
        QString tag1;
        QString tag2;
    };

    explicit FakeFetcher(QObject *parent = nullptr);

    void setPage(const QString &url, const QByteArray &body);
    // Completes with count -1 and leaves no file.
    void setFailing(const QString &url);
    // Never completes on its own; deliver() can complete it later.
    void setHanging(const QString &url);
    // Completes with a two-byte body.
    void setTiny(const QString &url);

    void fetch(int index, const QString &url, const QString &file, const QString &tag1,
               const QString &tag2) override;
    void abandonAll() override;
    void setAllowedDirectories(const QStringList &directories) override;
    void startRun(const NetworkSettings &settings = NetworkSettings()) override;

    // Completes a hanging fetch of `url` now, as a transfer that outlived its
    // run would: abandonment does not stop it. False when none hangs.
    bool deliver(const QString &url);

    const QList<Call> &calls() const { return m_calls; }
    QStringList calledUrls() const;
    int abandonCount() const { return m_abandonCount; }
    int deliveredCount() const { return m_delivered; }
    // Completions scheduled but not yet delivered.
    int pendingCount() const { return int(m_scheduled.size()); }
    const QStringList &allowedDirectories() const { return m_allowed; }
    // The settings of every startRun(), in order.
    const QList<NetworkSettings> &runs() const { return m_runs; }

private:
    void complete(const Call &call);
    bool isAllowed(const QString &file) const;

    QHash<QString, QByteArray> m_pages;
    QSet<QString> m_failing;
    QSet<QString> m_hanging;
    QSet<QString> m_tiny;
    QList<Call> m_calls;
    QList<Call> m_hung;
    QHash<quint64, Call> m_scheduled;
    QHash<int, quint64> m_slotTicket; // the newest fetch of each slot
    QStringList m_allowed;
    QList<NetworkSettings> m_runs;
    quint64 m_nextTicket = 1;
    int m_abandonCount = 0;
    int m_delivered = 0;
};

// Runs the event loop until no completion is scheduled (bounded).
void settle(const FakeFetcher &fetcher);
void settle(const FakeFetcher &first, const FakeFetcher &second);

} // namespace caiji::test
