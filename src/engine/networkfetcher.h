// The fetch slots on QNetworkAccessManager: http and https only, redirects
// followed. Each transfer streams into a temporary file of its own beside its
// target, which replaces the target atomically when the body arrived whole,
// so two transfers to one file never spoil each other.
#pragma once

#include "engine/bodyinflater.h"
#include "engine/fetcher.h"

#include <QNetworkAccessManager>
#include <map>
#include <memory>

class QFile;
class QNetworkReply;
class QNetworkRequest;
class QTimer;

namespace caiji {

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
    // Temporary files are named ".caiji-" + 12 hex digits + ".part".
    static QString temporaryPrefix();
    static QString temporarySuffix();

    explicit NetworkFetcher(QObject *parent = nullptr);
    ~NetworkFetcher() override;

    void fetch(int index, const QString &url, const QString &file, const QString &tag1,
               const QString &tag2) override;
    void abandonAll() override;
    void setAllowedDirectories(const QStringList &directories) override;
    // Cookies are kept per run.
    void startRun(const NetworkSettings &settings = NetworkSettings()) override;
    void setStallTimeoutMs(int ms);

private:
    struct Transfer
    {
        QNetworkReply *reply = nullptr;
        std::unique_ptr<QFile> part; // none for a page kept in memory
        QByteArray body;             // a page kept in memory
        QString url, file, tag1, tag2;
        qint64 bytes = 0;    // stored, inflated
        qint64 rawBytes = 0; // as they came, compressed or not
        qint64 limit = 0;
        std::unique_ptr<BodyInflater> inflater; // a compressed body
        // Deleted later: the transfer may end inside the timer's own signal.
        struct DeleteLater
        {
            void operator()(QTimer *timer) const;
        };
        std::unique_ptr<QTimer, DeleteLater> silence;
        QString failure; // empty while the transfer goes well
    };

    bool isAllowedFile(const QString &file) const;
    void failLater(int index, const QString &url, const QString &file, const QString &tag1,
                   const QString &tag2, const QString &reason);
    void start(int index, Transfer &transfer, const QNetworkRequest &request);
    void onMetaData(int index);
    void onReadyRead(int index);
    void onFinished(int index);
    void drop(int index);
    void fail(Transfer &transfer, const QString &reason);
    // Takes bytes of the body as they came: inflates them when the body is
    // compressed, checks the caps and stores them. The failure, or nothing.
    QString take(Transfer &transfer, const QByteArray &raw);
    QString store(Transfer &transfer, QByteArrayView bytes);
    // The transfer is not silent: its time-out starts again.
    void heard(int index);
    // Puts the transfer's bytes in place; the reason when that failed.
    QString finish(Transfer &transfer);

    QNetworkAccessManager m_manager;
    std::map<int, Transfer> m_transfers;
    QStringList m_allowedDirectories;
    quint64 m_generation = 0;
    int m_stallTimeoutMs = StallTimeoutMs;
    NetworkSettings m_settings;
};

} // namespace caiji
