#include "engine/networkfetcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QByteArray UserAgent =
    QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                      "Chrome/120.0 Safari/537.36");

bool isPageFile(const QString &file)
{
    return file.endsWith(u" .txt"_s);
}

} // namespace

NetworkFetcher::NetworkFetcher(QObject *parent) : Fetcher(parent)
{
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_manager.setTransferTimeout(StallTimeoutMs);
}

NetworkFetcher::~NetworkFetcher()
{
    abandonAll();
}

void NetworkFetcher::setAllowedDirectories(const QStringList &directories)
{
    m_allowedDirectories.clear();
    for (const QString &dir : directories)
        m_allowedDirectories << QDir::cleanPath(QDir(dir).absolutePath());
}

void NetworkFetcher::startRun()
{
    m_manager.setCookieJar(new QNetworkCookieJar(&m_manager));
}

bool NetworkFetcher::isAllowedFile(const QString &file) const
{
    const QFileInfo info(file);
    const QString dir = QDir::cleanPath(info.absolutePath());
    const QString name = info.fileName();
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return false;
    return m_allowedDirectories.isEmpty() || m_allowedDirectories.contains(dir);
}

void NetworkFetcher::fetch(int index, const QString &url, const QString &file, const QString &tag1,
                           const QString &tag2)
{
    drop(index);
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != u"http"_s && scheme != u"https"_s) ||
        address.host().isEmpty() || !isAllowedFile(file)) {
        failLater(index, url, file, tag1, tag2);
        return;
    }

    auto part = std::make_unique<QFile>(file + u".part"_s);
    if (!part->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failLater(index, url, file, tag1, tag2);
        return;
    }

    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    Transfer &transfer = m_transfers[index];
    transfer.part = std::move(part);
    transfer.url = url;
    transfer.file = file;
    transfer.tag1 = tag1;
    transfer.tag2 = tag2;
    transfer.limit = isPageFile(file) ? MaxPageBytes : MaxDownloadBytes;
    transfer.reply = m_manager.get(request);
    connect(transfer.reply, &QNetworkReply::readyRead, this, [this, index] { onReadyRead(index); });
    connect(transfer.reply, &QNetworkReply::finished, this, [this, index] { onFinished(index); });
}

void NetworkFetcher::failLater(int index, const QString &url, const QString &file,
                               const QString &tag1, const QString &tag2)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [=, this] {
        if (generation == m_generation)
            Q_EMIT fetchDone(index, url, file, QString(), -1, tag1, tag2);
    });
}

void NetworkFetcher::onReadyRead(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end() || it->second.failed)
        return;
    Transfer &transfer = it->second;
    const QByteArray chunk = transfer.reply->readAll();
    if (transfer.bytes + chunk.size() > transfer.limit ||
        transfer.part->write(chunk) != chunk.size()) {
        transfer.failed = true;
        transfer.reply->abort();
        return;
    }
    transfer.bytes += chunk.size();
}

void NetworkFetcher::onFinished(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer transfer = std::move(it->second);
    m_transfers.erase(it);
    transfer.reply->deleteLater();

    if (!transfer.failed && transfer.reply->bytesAvailable() > 0)
        transfer.failed = transfer.part->write(transfer.reply->readAll()) < 0;
    const int status = transfer.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = !transfer.failed && transfer.reply->error() == QNetworkReply::NoError &&
                    status < 400 && transfer.part->flush();
    transfer.bytes = transfer.part->size();
    transfer.part->close();

    qint64 count = -1;
    if (ok && transfer.bytes <= transfer.limit) {
        QFile::remove(transfer.file);
        if (transfer.part->rename(transfer.file))
            count = transfer.bytes;
    }
    if (count < 0)
        transfer.part->remove();
    Q_EMIT fetchDone(index, transfer.url, transfer.file, QString(), count, transfer.tag1,
                     transfer.tag2);
}

void NetworkFetcher::drop(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer transfer = std::move(it->second);
    m_transfers.erase(it);
    transfer.reply->disconnect(this);
    transfer.reply->abort();
    transfer.reply->deleteLater();
    transfer.part->close();
    transfer.part->remove();
}

void NetworkFetcher::abandonAll()
{
    ++m_generation;
    while (!m_transfers.empty())
        drop(m_transfers.begin()->first);
}

} // namespace caiji
