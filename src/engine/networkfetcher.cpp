#include "engine/networkfetcher.h"

#include "engine/proxychooser.h"
#include "records/writefailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSslConfiguration>
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

// Statuses a server gives when trying again later may do better.
// Qt can merge a redirect hop's headers into the next hop's when the hop's
// are delivered late ("0, 18"): the last value is that of the response whose
// body arrives.
qint64 declaredLength(const QNetworkReply &reply)
{
    const QByteArray header = reply.rawHeader("Content-Length");
    if (header.isEmpty())
        return -1;
    bool ok = false;
    const qint64 length = header.mid(header.lastIndexOf(',') + 1).trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

bool isTransientStatus(int status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

bool isTransientError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

// A Retry-After of seconds or of an HTTP date, in milliseconds; nothing when
// the server sent none.
std::optional<qint64> retryAfterMs(const QNetworkReply &reply)
{
    const QByteArray value = reply.rawHeader("Retry-After").trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    if (ok)
        return std::max<qint64>(0, seconds) * 1000;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    if (!when.isValid())
        return std::nullopt;
    return std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when));
}

QString hostKeyOf(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme + u"://"_s + url.host().toLower() + u':' +
           QString::number(url.port(scheme == u"https"_s ? 443 : 80));
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
    m_proxies = new ProxyChooser(std::nullopt, QProcessEnvironment::systemEnvironment());
    m_manager.setProxyFactory(m_proxies);
    m_clock.start();
}

NetworkFetcher::~NetworkFetcher()
{
    abandonAll();
}

void NetworkFetcher::setStallTimeoutMs(int ms)
{
    m_stallTimeoutMs = std::max(1, ms);
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
    auto *jar = new QNetworkCookieJar(&m_manager);
    for (const QNetworkCookie &cookie : settings.cookies)
        jar->insertCookie(cookie);
    m_manager.setCookieJar(jar);
    m_proxies = new ProxyChooser(settings.taskProxy, QProcessEnvironment::systemEnvironment());
    m_manager.setProxyFactory(m_proxies);
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

QNetworkRequest NetworkFetcher::requestFor(const QUrl &address) const
{
    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      m_settings.userAgent.isEmpty() ? UserAgent : m_settings.userAgent.toUtf8());
    request.setMaximumRedirectsAllowed(MaxRedirects);
    for (const auto &[name, value] : m_settings.headers)
        request.setRawHeader(name, value);
    // Asked for by us, compressed bodies come as sent: Qt would inflate them
    // itself, and a body cut short would then pass for a whole one.
    request.setRawHeader("Accept-Encoding", BodyInflater::acceptedEncodings());
    if (!m_settings.caCertificates.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_settings.caCertificates);
        request.setSslConfiguration(ssl);
    }
    return request;
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

    Transfer &transfer = m_transfers[index];
    transfer.serial = ++m_serial;
    transfer.request = requestFor(address);
    transfer.host = hostKeyOf(address);
    transfer.part = std::move(part);
    transfer.url = url;
    transfer.file = file;
    transfer.tag1 = tag1;
    transfer.tag2 = tag2;
    transfer.limit = isPageFile(file) ? MaxPageBytes : MaxDownloadBytes;
    if (inMemory)
        transfer.body.reserve(ReadBufferBytes);
    m_hosts[transfer.host].queue.append({index, transfer.serial});
    pump(transfer.host);
}

void NetworkFetcher::pump(const QString &hostKey)
{
    Host &host = m_hosts[hostKey];
    if (m_settings.robots && host.robots != Host::Robots::Known) {
        if (host.robots == Host::Robots::Unknown)
            fetchRobots(hostKey);
        return;
    }
    const int connections =
        std::clamp(m_settings.connectionsPerHost, 1, NetworkSettings::MaxConnectionsPerHost);
    while (host.running < connections && !host.queue.isEmpty()) {
        const auto [index, serial] = host.queue.first();
        const auto it = m_transfers.find(index);
        if (it == m_transfers.end() || it->second.serial != serial ||
            it->second.state != State::Queued) {
            host.queue.removeFirst(); // dropped, or replaced on its slot
            continue;
        }
        const qint64 now = m_clock.elapsed();
        if (now < host.nextStartMs) {
            if (!host.wake) {
                host.wake = new QTimer(this);
                host.wake->setSingleShot(true);
                connect(host.wake, &QTimer::timeout, this, [this, hostKey] { pump(hostKey); });
            }
            host.wake->start(int(host.nextStartMs - now));
            return;
        }
        host.queue.removeFirst();
        Transfer &transfer = it->second;
        const QUrl address = transfer.request.url();
        if (m_settings.robots &&
            !host.rules.allows(address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority |
                                                 QUrl::RemoveFragment))) {
            const QStringList named{transfer.url, transfer.file, transfer.tag1, transfer.tag2};
            drop(index);
            failLater(index, named[0], named[1], named[2], named[3],
                      u"robots.txt 不允许取这个地址"_s);
            continue;
        }
        ++host.running;
        host.nextStartMs = now + std::max(m_settings.minDelayMs, host.delayMs);
        send(index, transfer);
    }
}

void NetworkFetcher::fetchRobots(const QString &hostKey)
{
    Host &host = m_hosts[hostKey];
    host.robots = Host::Robots::Fetching;
    QNetworkRequest request = requestFor(QUrl(hostKey + u"/robots.txt"_s));
    request.setRawHeader("Accept-Encoding", QByteArray()); // Qt inflates this one itself
    request.setTransferTimeout(m_stallTimeoutMs);
    QNetworkReply *reply = m_manager.get(request);
    host.robotsReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, hostKey, reply] {
        reply->deleteLater();
        const auto it = m_hosts.find(hostKey);
        if (it == m_hosts.end() || it->second.robotsReply != reply)
            return;
        Host &known = it->second;
        known.robotsReply = nullptr;
        known.robots = Host::Robots::Known;
        // Without a readable robots.txt everything is allowed.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        constexpr qint64 MaxRobotsBytes = 512 * 1024;
        known.rules = reply->error() == QNetworkReply::NoError && status == 200
                          ? RobotsRules(reply->read(MaxRobotsBytes), "caiji")
                          : RobotsRules();
        pump(hostKey);
    });
}

void NetworkFetcher::send(int index, Transfer &transfer)
{
    transfer.state = State::Running;
    transfer.reply = m_manager.get(transfer.request);
    transfer.reply->setReadBufferSize(ReadBufferBytes);
    // The time-out runs only once the request leaves the network layer's
    // queue: fifty requests to one host wait their turn for six connections.
    transfer.silence.reset(new QTimer(this));
    transfer.silence->setSingleShot(true);
    transfer.silence->setInterval(m_stallTimeoutMs);
    connect(transfer.silence.get(), &QTimer::timeout, this, [this, index] {
        if (auto it = m_transfers.find(index); it != m_transfers.end())
            fail(it->second, u"超时"_s, true);
    });
    const auto startClock = [this, index] {
        if (auto it = m_transfers.find(index); it != m_transfers.end() && it->second.silence)
            it->second.silence->start();
    };
    QNetworkReply *reply = transfer.reply;
    connect(reply, &QNetworkReply::socketStartedConnecting, this, startClock);
    connect(reply, &QNetworkReply::requestSent, this, startClock);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, index] { onMetaData(index); });
    connect(reply, &QNetworkReply::readyRead, this, [this, index] { onReadyRead(index); });
    connect(reply, &QNetworkReply::finished, this, [this, index] { onFinished(index); });
    // Certificate errors are never ignored: they fail the transfer, named.
    connect(reply, &QNetworkReply::sslErrors, this, [this, index](const QList<QSslError> &errors) {
        if (auto it = m_transfers.find(index); it != m_transfers.end() && !errors.isEmpty())
            it->second.certificateError = errors.first().errorString();
    });
    Q_EMIT sent(index);
}

bool NetworkFetcher::isWaiting(int index) const
{
    const auto it = m_transfers.find(index);
    return it != m_transfers.end() && it->second.state != State::Running;
}

bool NetworkFetcher::hasWaiting() const
{
    return std::any_of(m_transfers.begin(), m_transfers.end(),
                       [](const auto &entry) { return entry.second.state != State::Running; });
}

void NetworkFetcher::Transfer::DeleteLater::operator()(QTimer *timer) const
{
    timer->stop();
    timer->deleteLater();
}

void NetworkFetcher::heard(int index)
{
    if (auto it = m_transfers.find(index); it != m_transfers.end() && it->second.silence)
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

void NetworkFetcher::fail(Transfer &transfer, const QString &reason, bool transient)
{
    if (!transfer.failure.isEmpty())
        return;
    transfer.failure = reason;
    transfer.transient = transient;
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
    const qint64 length = declaredLength(*transfer.reply);
    transfer.declaredBytes = length;
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

QString NetworkFetcher::networkFailure(const QNetworkReply &reply, const Transfer &transfer) const
{
    QString reason;
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        reason = u"连接被拒绝"_s;
        break;
    case QNetworkReply::RemoteHostClosedError:
        reason = u"连接被关闭"_s;
        break;
    case QNetworkReply::HostNotFoundError:
        reason = u"找不到主机"_s;
        break;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        reason = u"超时"_s;
        break;
    case QNetworkReply::TooManyRedirectsError:
        return u"重定向过多"_s;
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::ProtocolUnknownError:
        return u"重定向到不允许的地址"_s;
    case QNetworkReply::SslHandshakeFailedError:
        return u"证书错误："_s + (transfer.certificateError.isEmpty() ? reply.errorString()
                                                                      : transfer.certificateError);
    case QNetworkReply::ProxyAuthenticationRequiredError:
        reason = u"要求认证（用户名或密码不对）"_s;
        break;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
        reason = u"出错："_s + reply.errorString();
        break;
    default:
        reason = u"网络错误："_s + reply.errorString();
        break;
    }
    // Through a proxy, a connection that fails is the proxy's first.
    const QString proxy = ProxyChooser::describe(m_proxies->proxyFor(reply.request().url()));
    return proxy.isEmpty() ? reason : proxy + u"："_s + reason;
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
    transfer.silence.reset();
    --m_hosts[transfer.host].running;

    if (transfer.failure.isEmpty() && reply.bytesAvailable() > 0)
        transfer.failure = take(transfer, reply.readAll());
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (transfer.failure.isEmpty() && status >= 400) {
        transfer.failure = u"HTTP "_s + QString::number(status);
        transfer.transient = isTransientStatus(status);
    }
    // A connection reset mid-body can end a reply without an error: a body
    // shorter than its declared length, or a compressed stream that never
    // reached its end, is not complete.
    if (transfer.failure.isEmpty() && transfer.declaredBytes >= 0 &&
        transfer.rawBytes != transfer.declaredBytes) {
        transfer.failure = u"内容不完整（收到%1字节，应有%2字节）"_s.arg(transfer.rawBytes)
                               .arg(transfer.declaredBytes);
        transfer.transient = true;
    }
    if (transfer.failure.isEmpty() && reply.error() != QNetworkReply::NoError) {
        transfer.failure = networkFailure(reply, transfer);
        transfer.transient = isTransientError(reply.error());
    }
    if (transfer.failure.isEmpty() && transfer.inflater && !transfer.inflater->isComplete()) {
        transfer.failure = u"内容不完整（压缩数据在结尾前中断）"_s;
        transfer.transient = true;
    }
    const QString host = transfer.host;
    if (transfer.transient && transfer.attempt < m_settings.retries &&
        scheduleRetry(index, std::move(transfer), reply, status)) {
        pump(host);
        return;
    }
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
    pump(host);
    Q_EMIT fetchDone(index, transfer.url, transfer.file, text, count, transfer.tag1, transfer.tag2,
                     body, charsetOf(reply));
}

bool NetworkFetcher::scheduleRetry(int index, Transfer &&transfer, const QNetworkReply &reply,
                                   int status)
{
    // What came of this try is thrown away: the next one starts afresh.
    if (transfer.part && (!transfer.part->resize(0) || !transfer.part->seek(0)))
        return false;
    const std::optional<qint64> asked = retryAfterMs(reply);
    qint64 delay = FirstRetryDelayMs;
    for (int i = 0; i < transfer.attempt && delay < MaxRetryDelayMs; ++i)
        delay *= 4;
    if (asked)
        delay = *asked;
    delay = std::min<qint64>(delay, MaxRetryDelayMs);
    if (asked && (status == 429 || status == 503)) {
        // The server asked for a pause: the whole host slows down for the
        // rest of the run.
        Host &host = m_hosts[transfer.host];
        host.delayMs = std::max(host.delayMs, int(delay));
        host.nextStartMs = std::max(host.nextStartMs, m_clock.elapsed() + delay);
    }
    const QString reason = transfer.failure;
    transfer.state = State::Waiting;
    transfer.serial = ++m_serial;
    ++transfer.attempt;
    transfer.reply = nullptr;
    transfer.body.clear();
    transfer.bytes = transfer.rawBytes = 0;
    transfer.declaredBytes = -1;
    transfer.inflater.reset();
    transfer.failure.clear();
    transfer.transient = false;
    transfer.certificateError.clear();
    const quint64 serial = transfer.serial;
    const QString url = transfer.url;
    m_transfers[index] = std::move(transfer);
    QTimer::singleShot(int(delay), this, [this, index, serial] {
        const auto it = m_transfers.find(index);
        if (it == m_transfers.end() || it->second.serial != serial)
            return; // dropped meanwhile
        it->second.state = State::Queued;
        m_hosts[it->second.host].queue.prepend({index, serial});
        pump(it->second.host);
    });
    Q_EMIT retryScheduled(index, url, reason, int(delay));
    return true;
}

void NetworkFetcher::drop(int index)
{
    auto it = m_transfers.find(index);
    if (it == m_transfers.end())
        return;
    Transfer transfer = std::move(it->second);
    m_transfers.erase(it);
    if (transfer.reply) {
        --m_hosts[transfer.host].running;
        transfer.reply->disconnect(this);
        transfer.reply->abort();
        transfer.reply->deleteLater();
    }
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
    for (auto &[key, host] : m_hosts) {
        delete host.wake;
        if (host.robotsReply) {
            host.robotsReply->disconnect(this);
            host.robotsReply->abort();
            host.robotsReply->deleteLater();
        }
    }
    m_hosts.clear();
}

} // namespace caiji
