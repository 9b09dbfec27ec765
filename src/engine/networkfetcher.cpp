#include "engine/networkfetcher.h"

#include "records/writefailure.h"

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

// The charset parameter of the response's Content-Type, in lower case.
QByteArray charsetOf(const QNetworkReply &reply)
{
    const QByteArray type = reply.rawHeader("Content-Type");
    for (const QByteArray &parameter : type.split(';')) {
        const QByteArray trimmed = parameter.trimmed();
        if (trimmed.toLower().startsWith("charset="))
            return trimmed.mid(8).trimmed().toLower().replace('"', "").replace('\'', "");
    }
    return {};
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
}

void NetworkFetcher::setStallTimeoutMs(int ms)
{
    m_stallTimeoutMs = std::max(1, ms);
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

void NetworkFetcher::startRun(const NetworkSettings &settings)
{
    m_settings = settings;
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
    // Asked for by us, compressed bodies come as sent: Qt would inflate them
    // itself, and a body cut short would then pass for a whole one.
    request.setRawHeader("Accept-Encoding", BodyInflater::acceptedEncodings());
    Transfer &transfer = m_transfers[index];
    transfer.part = std::move(part);
    transfer.url = url;
    transfer.file = file;
    transfer.tag1 = tag1;
    transfer.tag2 = tag2;
    transfer.limit = isPageFile(file) ? MaxPageBytes : MaxDownloadBytes;
    if (inMemory)
        transfer.body.reserve(ReadBufferBytes);
    start(index, transfer, request);
}

void NetworkFetcher::start(int index, Transfer &transfer, const QNetworkRequest &request)
{
    transfer.reply = m_manager.get(request);
    transfer.reply->setReadBufferSize(ReadBufferBytes);
    // The time-out runs only once the request leaves the network layer's
    // queue: fifty requests to one host wait their turn for six connections.
    transfer.silence.reset(new QTimer(this));
    transfer.silence->setSingleShot(true);
    transfer.silence->setInterval(m_stallTimeoutMs);
    connect(transfer.silence.get(), &QTimer::timeout, this, [this, index] {
        if (auto it = m_transfers.find(index); it != m_transfers.end())
            fail(it->second, u"超时"_s);
    });
    const auto startClock = [this, index] {
        if (auto it = m_transfers.find(index); it != m_transfers.end())
            it->second.silence->start();
    };
    connect(transfer.reply, &QNetworkReply::socketStartedConnecting, this, startClock);
    connect(transfer.reply, &QNetworkReply::requestSent, this, startClock);
    connect(transfer.reply, &QNetworkReply::metaDataChanged, this,
            [this, index] { onMetaData(index); });
    connect(transfer.reply, &QNetworkReply::readyRead, this, [this, index] { onReadyRead(index); });
    connect(transfer.reply, &QNetworkReply::finished, this, [this, index] { onFinished(index); });
}

void NetworkFetcher::Transfer::DeleteLater::operator()(QTimer *timer) const
{
    timer->stop();
    timer->deleteLater();
}

void NetworkFetcher::heard(int index)
{
    if (auto it = m_transfers.find(index); it != m_transfers.end())
        it->second.silence->start();
}

void NetworkFetcher::failLater(int index, const QString &url, const QString &file,
                               const QString &tag1, const QString &tag2, const QString &reason)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [=, this] {
        if (generation == m_generation)
            Q_EMIT fetchDone(index, url, file, reason, -1, tag1, tag2, {}, {});
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
    heard(index);
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer &transfer = it->second;
    // The encoding is that of the response whose body arrives: a redirect's
    // own body is never read, so headers seen again before any byte (the
    // next hop's) replace those before.
    if (transfer.rawBytes > 0)
        return;
    bool supported = true;
    transfer.inflater =
        BodyInflater::forEncoding(transfer.reply->rawHeader("Content-Encoding"), &supported);
    if (!supported) {
        fail(transfer, u"不支持的内容编码："_s +
                           QString::fromLatin1(transfer.reply->rawHeader("Content-Encoding")));
        return;
    }
    // A declared length past the cap fails before any of the body is read.
    const QVariant header = transfer.reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 length = header.isValid() ? header.toLongLong() : -1;
    if (length > transfer.limit)
        fail(transfer, u"超过大小上限"_s);
    else if (!transfer.part && !transfer.inflater && length > transfer.body.capacity())
        transfer.body.reserve(length); // one buffer, no copies as it grows
}

void NetworkFetcher::onReadyRead(int index)
{
    heard(index);
    auto it = m_transfers.find(index);
    if (it == m_transfers.end() || !it->second.failure.isEmpty())
        return;
    Transfer &transfer = it->second;
    const QString failure = take(transfer, transfer.reply->readAll());
    if (!failure.isEmpty())
        fail(transfer, failure);
}

QString NetworkFetcher::take(Transfer &transfer, const QByteArray &raw)
{
    transfer.rawBytes += raw.size();
    if (!transfer.inflater)
        return store(transfer, raw);
    QString failure;
    const bool inflated = transfer.inflater->inflate(raw, [&](QByteArrayView bytes) {
        failure = store(transfer, bytes);
        if (failure.isEmpty() && transfer.bytes > DecompressionCheckBytes &&
            transfer.bytes > MaxCompressionRatio * transfer.rawBytes)
            failure = u"超过大小上限"_s; // a bomb
        return failure.isEmpty();
    });
    if (!inflated && failure.isEmpty())
        failure = transfer.inflater->error();
    return failure;
}

QString NetworkFetcher::store(Transfer &transfer, QByteArrayView bytes)
{
    if (transfer.bytes + bytes.size() > transfer.limit)
        return u"超过大小上限"_s;
    if (transfer.part) {
        if (transfer.part->write(bytes.data(), bytes.size()) != bytes.size())
            return writeFailureReason(*transfer.part);
    } else {
        transfer.body += bytes;
    }
    transfer.bytes += bytes.size();
    return {};
}

QString NetworkFetcher::finish(Transfer &transfer)
{
    // Tiny pages are left in their file for whoever looks; the rest of a page
    // kept in memory goes straight to its reader.
    if (!transfer.part && transfer.bytes <= 2) {
        transfer.part = openTemporaryFile(transfer.file);
        if (!transfer.part)
            return u"无法写入文件"_s;
        if (transfer.part->write(transfer.body) != transfer.body.size())
            return writeFailureReason(*transfer.part);
    }
    if (!transfer.part)
        return {};
    if (!transfer.part->flush())
        return writeFailureReason(*transfer.part);
    transfer.part->close();
    if (!replaceAtomically(transfer.part->fileName(), transfer.file))
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

    if (transfer.failure.isEmpty() && reply.bytesAvailable() > 0)
        transfer.failure = take(transfer, reply.readAll());
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (transfer.failure.isEmpty() && status >= 400)
        transfer.failure = u"HTTP "_s + QString::number(status);
    // A connection reset mid-body can end a reply without an error: a body
    // shorter than its declared length, or a compressed stream that never
    // reached its end, is not complete.
    const QVariant declared = reply.header(QNetworkRequest::ContentLengthHeader);
    if (transfer.failure.isEmpty() && declared.isValid() &&
        transfer.rawBytes != declared.toLongLong())
        transfer.failure = u"内容不完整（收到%1字节，应有%2字节）"_s.arg(transfer.rawBytes)
                               .arg(declared.toLongLong());
    if (transfer.failure.isEmpty() && reply.error() != QNetworkReply::NoError)
        transfer.failure = networkFailure(reply);
    if (transfer.failure.isEmpty() && transfer.inflater && !transfer.inflater->isComplete())
        transfer.failure = u"内容不完整（压缩数据在结尾前中断）"_s;
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
                     body, charsetOf(reply));
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
