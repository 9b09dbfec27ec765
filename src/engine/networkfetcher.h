// The fetch slots on QNetworkAccessManager: http and https only, redirects
// followed. Each transfer streams into a temporary file of its own beside its
// target, which replaces the target atomically when the body arrived whole,
// so two transfers to one file never spoil each other.
//
// Requests wait in a queue of their host until the task's settings let them
// go (connections per host, the least delay between two requests, robots.txt);
// a transient failure is tried again on the same slot before it completes.
#pragma once

#include "engine/bodyinflater.h"
#include "engine/fetcher.h"
#include "engine/robotsrules.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <map>
#include <memory>

class QFile;
class QNetworkReply;
class QTimer;

namespace caiji {

class ProxyChooser;

class NetworkFetcher : public Fetcher
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 10;
    // A transfer that has been silent this long since it was sent (or began
    // to connect) fails; waiting for a free connection is not silence.
    static constexpr int StallTimeoutMs = 30000;
    static constexpr qint64 MaxPageBytes = 32 * 1024 * 1024;
    static constexpr qint64 MaxDownloadBytes = 256 * 1024 * 1024;
    // Qt reads no further ahead than this before we take the bytes, so a
    // body past its cap never piles up in memory.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;
    // Past this many inflated bytes a body that compresses more than
    // MaxCompressionRatio to 1 is refused as a bomb.
    static constexpr qint64 DecompressionCheckBytes = 10 * 1024 * 1024;
    static constexpr qint64 MaxCompressionRatio = 40;
    // A retry waits 2 s, then 8 s, four times longer each time, or as long as
    // the server's Retry-After says; never longer than this.
    static constexpr int FirstRetryDelayMs = 2000;
    static constexpr int MaxRetryDelayMs = 120000;
    // Temporary files are named ".caiji-" + 12 hex digits + ".part".
    static QString temporaryPrefix();
    static QString temporarySuffix();

    explicit NetworkFetcher(QObject *parent = nullptr);
    ~NetworkFetcher() override;

    void fetch(int index, const QString &url, const QString &file, const QString &tag1,
               const QString &tag2) override;
    void abandonAll() override;
    void setAllowedDirectories(const QStringList &directories) override;
    // The task's settings; cookies and the hosts' pacing start afresh.
    void startRun(const NetworkSettings &settings = NetworkSettings()) override;
    void setStallTimeoutMs(int ms);
    bool isWaiting(int index) const override;
    bool hasWaiting() const override;

private:
    enum class State { Queued, Running, Waiting };

    struct Transfer
    {
        State state = State::Queued;
        quint64 serial = 0; // tells this transfer from a later one on its slot
        int attempt = 0;
        QNetworkRequest request;
        QString host; // "scheme://host:port"
        QNetworkReply *reply = nullptr;
        std::unique_ptr<QFile> part; // none for a page kept in memory
        QByteArray body;             // a page kept in memory
        QString url, file, tag1, tag2;
        qint64 bytes = 0;          // stored, inflated
        qint64 rawBytes = 0;       // as they came, compressed or not
        qint64 declaredBytes = -1; // Content-Length of the response whose body arrives
        qint64 limit = 0;
        std::unique_ptr<BodyInflater> inflater; // a compressed body
        // Deleted later: the transfer may end inside the timer's own signal.
        struct DeleteLater
        {
            void operator()(QTimer *timer) const;
        };
        std::unique_ptr<QTimer, DeleteLater> silence;
        QString failure;        // empty while the transfer goes well
        bool transient = false; // the failure may pass if tried again
        QString certificateError;
    };

    struct Host
    {
        int running = 0;
        QList<std::pair<int, quint64>> queue; // slot and serial, in order
        qint64 nextStartMs = 0;               // on m_clock
        int delayMs = 0; // a Retry-After raises the least delay between two starts
        QTimer *wake = nullptr;
        enum class Robots { Unknown, Fetching, Known } robots = Robots::Unknown;
        RobotsRules rules;
        QNetworkReply *robotsReply = nullptr;
    };

    bool isAllowedFile(const QString &file) const;
    QNetworkRequest requestFor(const QUrl &address) const;
    void failLater(int index, const QString &url, const QString &file, const QString &tag1,
                   const QString &tag2, const QString &reason);
    // Starts what the host's rules let start now, and wakes up for the rest.
    void pump(const QString &hostKey);
    void fetchRobots(const QString &hostKey);
    void send(int index, Transfer &transfer);
    void onMetaData(int index);
    void onReadyRead(int index);
    void onFinished(int index);
    // The transfer ended in a transient failure with tries left: it waits
    // and goes back into its host's queue. True when it was so scheduled.
    bool scheduleRetry(int index, Transfer &&transfer, const QNetworkReply &reply, int status);
    void drop(int index);
    void fail(Transfer &transfer, const QString &reason, bool transient = false);
    // Takes bytes of the body as they came: inflates them when the body is
    // compressed, checks the caps and stores them. The failure, or nothing.
    QString take(Transfer &transfer, const QByteArray &raw);
    QString store(Transfer &transfer, QByteArrayView bytes);
    // Why the reply failed, as the failure list says it.
    QString networkFailure(const QNetworkReply &reply, const Transfer &transfer) const;
    // The transfer is not silent: its time-out starts again.
    void heard(int index);
    // Puts the transfer's bytes in place; the reason when that failed.
    QString finish(Transfer &transfer);

    QNetworkAccessManager m_manager;
    ProxyChooser *m_proxies = nullptr; // owned by m_manager
    std::map<int, Transfer> m_transfers;
    std::map<QString, Host> m_hosts;
    QElapsedTimer m_clock;
    QStringList m_allowedDirectories;
    quint64 m_generation = 0;
    quint64 m_serial = 0;
    int m_stallTimeoutMs = StallTimeoutMs;
    NetworkSettings m_settings;
};

} // namespace caiji
