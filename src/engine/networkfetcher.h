// The fetch slots on QNetworkAccessManager: http and https only, redirects
// followed. Each transfer streams into a temporary file of its own beside its
// target, which replaces the target atomically when the body arrived whole,
// so two transfers to one file never spoil each other.
#pragma once

#include "engine/fetcher.h"

#include <QNetworkAccessManager>
#include <map>
#include <memory>

class QFile;
class QNetworkReply;
class QNetworkRequest;

namespace caiji {

class NetworkFetcher : public Fetcher
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 10;
    static constexpr int StallTimeoutMs = 30000;
    static constexpr qint64 MaxPageBytes = 32 * 1024 * 1024;
    static constexpr qint64 MaxDownloadBytes = 256 * 1024 * 1024;
    // Qt reads no further ahead than this before we take the bytes, so a
    // body past its cap never piles up in memory.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;
    static constexpr qint64 DecompressionCheckBytes = 10 * 1024 * 1024;
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
    void startRun() override;

private:
    struct Transfer
    {
        QNetworkReply *reply = nullptr;
        std::unique_ptr<QFile> part; // none for a page kept in memory
        QByteArray body;             // a page kept in memory
        QString url, file, tag1, tag2;
        qint64 bytes = 0;
        qint64 limit = 0;
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
    bool store(Transfer &transfer, const QByteArray &bytes);
    // Puts the transfer's bytes in place; the reason when that failed.
    QString finish(Transfer &transfer);

    QNetworkAccessManager m_manager;
    std::map<int, Transfer> m_transfers;
    QStringList m_allowedDirectories;
    quint64 m_generation = 0;
};

} // namespace caiji
