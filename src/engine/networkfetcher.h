// The fetch slots on QNetworkAccessManager: http and https only, redirects
// followed, the body streamed to "file.part" and renamed when it arrived whole.
#pragma once

#include "engine/fetcher.h"

#include <QNetworkAccessManager>
#include <map>
#include <memory>

class QFile;
class QNetworkReply;

namespace caiji {

class NetworkFetcher : public Fetcher
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 10;
    static constexpr int StallTimeoutMs = 30000;
    static constexpr qint64 MaxPageBytes = 32 * 1024 * 1024;
    static constexpr qint64 MaxDownloadBytes = 256 * 1024 * 1024;

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
        std::unique_ptr<QFile> part;
        QString url, file, tag1, tag2;
        qint64 bytes = 0;
        qint64 limit = 0;
        bool failed = false;
    };

    bool isAllowedFile(const QString &file) const;
    void failLater(int index, const QString &url, const QString &file, const QString &tag1,
                   const QString &tag2);
    void onReadyRead(int index);
    void onFinished(int index);
    void drop(int index);

    QNetworkAccessManager m_manager;
    std::map<int, Transfer> m_transfers;
    QStringList m_allowedDirectories;
    quint64 m_generation = 0;
};

} // namespace caiji
