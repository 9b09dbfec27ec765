#include "engine/networkfetcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <filesystem>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QByteArray UserAgent =
    QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                      "Chrome/120.0 Safari/537.36");

// A file of its own for one transfer, in the target's folder so that the
// final rename stays on one file system.
std::unique_ptr<QFile> openTemporaryFile(const QString &target)
{
    const QString dir = QFileInfo(target).absolutePath();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const quint64 random = QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFFull;
        auto file = std::make_unique<QFile>(dir + u'/' + NetworkFetcher::temporaryPrefix() +
                                            QString::number(random, 16).rightJustified(12, u'0') +
                                            NetworkFetcher::temporarySuffix());
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file;
        if (file->exists())
            continue;
        return nullptr;
    }
    return nullptr;
}

// rename(2): the target is replaced in one step, never missing in between.
bool replaceAtomically(const QString &from, const QString &to)
{
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(from).toStdString(),
                            QFile::encodeName(to).toStdString(), error);
    return !error;
}

QString networkFailure(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return u"连接被拒绝"_s;
    case QNetworkReply::RemoteHostClosedError:
        return u"连接被关闭"_s;
    case QNetworkReply::HostNotFoundError:
        return u"找不到主机"_s;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return u"超时"_s;
    case QNetworkReply::TooManyRedirectsError:
        return u"重定向过多"_s;
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::ProtocolUnknownError:
        return u"重定向到不允许的地址"_s;
    default:
        return u"网络错误："_s + reply.errorString();
    }
}

} // namespace

QString NetworkFetcher::temporaryPrefix()
{
    return u".caiji-"_s;
}

QString NetworkFetcher::temporarySuffix()
{
    return u".part"_s;
}

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
    if (name.isEmpty() || name == u"."_s || name == u".."_s || name.contains(QChar(0)))
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
        address.host().isEmpty()) {
        failLater(index, url, file, tag1, tag2, u"不是http(s)地址"_s);
        return;
    }
    if (!isAllowedFile(file)) {
        failLater(index, url, file, tag1, tag2, u"文件名被拒绝"_s);
        return;
    }
    const bool inMemory = pagesInMemory() && isPageFile(file);
    std::unique_ptr<QFile> part = inMemory ? nullptr : openTemporaryFile(file);
    if (!inMemory && !part) {
        failLater(index, url, file, tag1, tag2, u"无法写入文件"_s);
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
    if (inMemory)
        transfer.body.reserve(ReadBufferBytes);
    // Past this many inflated bytes a body that compresses more than 40 to 1
    // is refused as a bomb: Qt inflates ahead of the read buffer.
    request.setDecompressedSafetyCheckThreshold(DecompressionCheckBytes);
    start(index, transfer, request);
}

void NetworkFetcher::start(int index, Transfer &transfer, const QNetworkRequest &request)
{
    transfer.reply = m_manager.get(request);
    transfer.reply->setReadBufferSize(ReadBufferBytes);
    connect(transfer.reply, &QNetworkReply::metaDataChanged, this,
            [this, index] { onMetaData(index); });
    connect(transfer.reply, &QNetworkReply::readyRead, this, [this, index] { onReadyRead(index); });
    connect(transfer.reply, &QNetworkReply::finished, this, [this, index] { onFinished(index); });
}

void NetworkFetcher::failLater(int index, const QString &url, const QString &file,
                               const QString &tag1, const QString &tag2, const QString &reason)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [=, this] {
        if (generation == m_generation)
            Q_EMIT fetchDone(index, url, file, reason, -1, tag1, tag2, QByteArray());
    });
}

void NetworkFetcher::fail(Transfer &transfer, const QString &reason)
{
    if (!transfer.failure.isEmpty())
        return;
    transfer.failure = reason;
    transfer.reply->abort();
}

void NetworkFetcher::onMetaData(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer &transfer = it->second;
    // A declared length past the cap fails before any of the body is read.
    const QVariant header = transfer.reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 length = header.isValid() ? header.toLongLong() : -1;
    if (length > transfer.limit)
        fail(transfer, u"超过大小上限"_s);
    else if (!transfer.part && length > transfer.body.capacity())
        transfer.body.reserve(length); // one buffer, no copies as it grows
}

void NetworkFetcher::onReadyRead(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end() || !it->second.failure.isEmpty())
        return;
    Transfer &transfer = it->second;
    const QByteArray chunk = transfer.reply->readAll();
    if (transfer.bytes + chunk.size() > transfer.limit) {
        fail(transfer, u"超过大小上限"_s);
        return;
    }
    if (!store(transfer, chunk))
        fail(transfer, u"无法写入文件"_s);
}

bool NetworkFetcher::store(Transfer &transfer, const QByteArray &bytes)
{
    if (transfer.part) {
        if (transfer.part->write(bytes) != bytes.size())
            return false;
    } else {
        transfer.body += bytes;
    }
    transfer.bytes += bytes.size();
    return true;
}

QString NetworkFetcher::finish(Transfer &transfer)
{
    // Tiny pages are left in their file for whoever looks; the rest of a page
    // kept in memory goes straight to its reader.
    if (!transfer.part && transfer.bytes <= 2) {
        transfer.part = openTemporaryFile(transfer.file);
        if (!transfer.part || transfer.part->write(transfer.body) != transfer.body.size())
            return u"无法写入文件"_s;
    }
    if (!transfer.part)
        return {};
    const bool flushed = transfer.part->flush();
    transfer.part->close();
    if (!flushed || !replaceAtomically(transfer.part->fileName(), transfer.file))
        return u"无法写入文件"_s;
    return {};
}

void NetworkFetcher::onFinished(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer transfer = std::move(it->second);
    m_transfers.erase(it);
    QNetworkReply &reply = *transfer.reply;
    reply.deleteLater();

    if (transfer.failure.isEmpty() && reply.bytesAvailable() > 0) {
        const QByteArray rest = reply.readAll();
        if (transfer.bytes + rest.size() > transfer.limit)
            transfer.failure = u"超过大小上限"_s;
        else if (!store(transfer, rest))
            transfer.failure = u"无法写入文件"_s;
    }
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (transfer.failure.isEmpty() && status >= 400)
        transfer.failure = u"HTTP "_s + QString::number(status);
    // A connection reset mid-body can end a reply without an error: a body
    // shorter than its declared length is not complete (a compressed body's
    // length is that of its compressed form, so only plain ones are checked).
    const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (transfer.failure.isEmpty() && declared.isValid() &&
        (encoding.isEmpty() || encoding == "identity") && transfer.bytes != declared.toLongLong())
        transfer.failure = u"内容不完整（收到%1字节，应有%2字节）"_s.arg(transfer.bytes)
                               .arg(declared.toLongLong());
    if (transfer.failure.isEmpty() && reply.error() != QNetworkReply::NoError)
        transfer.failure = networkFailure(reply);
    if (transfer.failure.isEmpty())
        transfer.failure = finish(transfer);

    const qint64 count = transfer.failure.isEmpty() ? transfer.bytes : -1;
    if (count < 0 && transfer.part) {
        transfer.part->close();
        transfer.part->remove();
    }
    const QByteArray body = count > 2 ? std::move(transfer.body) : QByteArray();
    // A failure says why; a success gives its status.
    const QString text = count < 0 ? transfer.failure : u"HTTP "_s + QString::number(status);
    Q_EMIT fetchDone(index, transfer.url, transfer.file, text, count, transfer.tag1, transfer.tag2,
                     body);
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
    if (transfer.part) {
        transfer.part->close();
        transfer.part->remove();
    }
}

void NetworkFetcher::abandonAll()
{
    ++m_generation;
    while (!m_transfers.empty())
        drop(m_transfers.begin()->first);
}

} // namespace caiji
