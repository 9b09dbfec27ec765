#include "faultserver.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <sys/socket.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace caiji::test {

namespace {

constexpr qint64 HugeChunkBytes = 64 * 1024;
constexpr qint64 MaxBufferedBytes = 1024 * 1024;
constexpr qint64 BombBlockBytes = 1024 * 1024;
// Bytes of a reset body reach the peer before the reset does.
constexpr int ResetDelayMs = 50;

// Clients read the status code; the phrase only has to be there.
QByteArray reasonOf(int status)
{
    return status < 300 ? "OK"_ba : status < 400 ? "Moved"_ba : "Error"_ba;
}

// Deflates `input` into gzip format on a stream set up by the caller.
QByteArray deflateSome(z_stream &stream, const QByteArray &input, int flush)
{
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
    stream.avail_in = uInt(input.size());
    char buffer[16384];
    int result = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = deflate(&stream, flush);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
    } while (stream.avail_out == 0 && result != Z_STREAM_ERROR);
    return out;
}

void putLittleEndian32(QByteArray &bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xff);
}

// After a full flush deflate starts afresh, so every further block of zeros
// compresses to the same bytes: the bomb is a header, one block repeated and
// a trailer whose CRC and size are worked out for the whole length.
QByteArray gzipOfZeros(qint64 expandedBytes)
{
    const qint64 blocks = expandedBytes / BombBlockBytes;
    if (blocks < 2)
        return FaultServer::gzip(QByteArray(expandedBytes, '\0'));
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    const QByteArray zeros(BombBlockBytes, '\0');
    const QByteArray first = deflateSome(stream, zeros, Z_FULL_FLUSH);
    const QByteArray block = deflateSome(stream, zeros, Z_FULL_FLUSH);
    QByteArray tail = deflateSome(stream, QByteArray(), Z_FINISH);
    deflateEnd(&stream);
    if (!first.endsWith(block) || tail.size() < 8)
        return {};

    const uLong blockCrc = crc32(crc32(0L, Z_NULL, 0),
                                 reinterpret_cast<const Bytef *>(zeros.data()), uInt(zeros.size()));
    uLong crc = blockCrc;
    for (qint64 i = 1; i < blocks; ++i)
        crc = crc32_combine(crc, blockCrc, z_off_t(BombBlockBytes));
    putLittleEndian32(tail, tail.size() - 8, quint32(crc));
    putLittleEndian32(tail, tail.size() - 4, quint32(quint64(blocks * BombBlockBytes)));

    QByteArray out = first;
    out.reserve(first.size() + block.size() * (blocks - 1) + tail.size());
    for (qint64 i = 1; i < blocks; ++i)
        out += block;
    return out + tail;
}

} // namespace

QByteArray FaultServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

FaultServer::FaultServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

FaultServer::~FaultServer()
{
    if (m_server)
        m_server->close();
    for (auto &[socket, connection] : m_connections) {
        if (connection->timer)
            connection->timer->stop();
        socket->disconnect(this);
        socket->abort();
    }
    m_connections.clear();
}

bool FaultServer::listen()
{
    m_server = std::make_unique<QTcpServer>();
    m_server->setMaxPendingConnections(MaxConnections);
    // A TLS connection is pending only once its handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &FaultServer::onNewConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool FaultServer::listenTls(const QSslCertificate &certificate, const QSslKey &key)
{
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    server->setSslConfiguration(tls);
    m_server = std::move(server);
    m_scheme = u"https"_s;
    m_server->setMaxPendingConnections(MaxConnections);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &FaultServer::onNewConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FaultServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString FaultServer::url(const QString &path) const
{
    return m_scheme + u"://127.0.0.1:"_s + QString::number(port()) + path;
}

void FaultServer::setFailFirst(const QString &path, int times, FirstFailure failure)
{
    m_failFirst.insert(path, {times, failure});
}

void FaultServer::setRequiredHeader(const QString &path, const QByteArray &name,
                                    const QByteArray &value)
{
    m_required.insert(path, {name, value});
}

int FaultServer::peakOpen(const QString &prefix) const
{
    QList<std::pair<qint64, int>> events;
    for (const Request &request : m_requests) {
        if (!request.path.startsWith(prefix))
            continue;
        events.append({request.atMs, 1});
        if (request.answeredAtMs >= 0)
            events.append({request.answeredAtMs, -1});
    }
    std::sort(events.begin(), events.end()); // an answer before an arrival at the same time
    int open = 0, peak = 0;
    for (const auto &[at, change] : events)
        peak = std::max(peak, open += change);
    return peak;
}

quint16 FaultServer::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1; // port 1 is not open on a test machine either
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray FaultServer::gzip(const QByteArray &data)
{
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out = deflateSome(stream, data, Z_FINISH);
    deflateEnd(&stream);
    return out;
}

FaultServer::Behaviour &FaultServer::behave(const QString &path, Kind kind, const QByteArray &body,
                                            const QByteArray &contentType)
{
    Behaviour &behaviour = m_behaviours[path];
    behaviour = Behaviour();
    behaviour.kind = kind;
    behaviour.body = body;
    behaviour.contentType = contentType;
    return behaviour;
}

void FaultServer::setPage(const QString &path, const QByteArray &body,
                          const QByteArray &contentType, bool gzip)
{
    behave(path, Kind::Page, gzip ? FaultServer::gzip(body) : body, contentType).encoding =
        gzip ? "gzip"_ba : QByteArray();
}

void FaultServer::setStatus(const QString &path, int status, const QByteArray &body)
{
    behave(path, Kind::Page, body).status = status;
}

void FaultServer::setResetMidBody(const QString &path, const QByteArray &body, qsizetype sentBytes)
{
    behave(path, Kind::Reset, body).resetAfter = std::clamp<qsizetype>(sentBytes, 0, body.size());
}

void FaultServer::setSilent(const QString &path)
{
    behave(path, Kind::Silent);
}

void FaultServer::setTrickle(const QString &path, const QByteArray &body, int intervalMs)
{
    behave(path, Kind::Trickle, body).intervalMs = std::max(1, intervalMs);
}

void FaultServer::setRedirect(const QString &path, const QByteArray &location)
{
    Behaviour &behaviour = behave(path, Kind::Redirect, {}, {});
    behaviour.status = 302;
    behaviour.location = location;
}

void FaultServer::setShortBody(const QString &path, const QByteArray &body, qint64 announcedBytes)
{
    behave(path, Kind::Short, body).announced = announcedBytes;
}

void FaultServer::setEncoded(const QString &path, const QByteArray &bytes,
                             const QByteArray &encoding, qint64 announcedBytes)
{
    Behaviour &behaviour = behave(path, Kind::Short, bytes);
    behaviour.encoding = encoding;
    behaviour.announced = announcedBytes;
}

void FaultServer::setHugeBody(const QString &path, qint64 bytes, const QByteArray &contentType)
{
    behave(path, Kind::Huge, {}, contentType).hugeBytes = bytes;
}

void FaultServer::setGzipBomb(const QString &path, qint64 expandedBytes,
                              const QByteArray &contentType)
{
    behave(path, Kind::Page, gzipOfZeros(expandedBytes), contentType).encoding = "gzip"_ba;
}

void FaultServer::setCookie(const QString &path, const QByteArray &cookie)
{
    m_cookies.insert(path, cookie);
}

void FaultServer::setDelay(const QString &path, int ms)
{
    m_delays.insert(path, ms);
}

void FaultServer::setHeld(const QString &path, bool held)
{
    m_heldPaths.insert(path, held);
}

int FaultServer::heldCount(const QString &path) const
{
    return int(m_held.value(path).size());
}

bool FaultServer::release(const QString &path, int arrival)
{
    auto held = m_held.find(path);
    if (held == m_held.end() || arrival < 0 || arrival >= held->size())
        return false;
    Held &entry = (*held)[arrival];
    Connection *connection = entry.waiting ? connectionOf(entry.socket) : nullptr;
    entry.waiting = false;
    if (!connection)
        return false;
    respondLater(*connection);
    return true;
}

int FaultServer::answeredCount(const QString &path) const
{
    return m_answered.value(path);
}

int FaultServer::requestCount(const QString &path) const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(),
                             [&](const Request &request) { return request.path == path; }));
}

FaultServer::Connection *FaultServer::connectionOf(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    return it == m_connections.end() ? nullptr : it->second.get();
}

void FaultServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        m_connections.emplace(socket, std::move(connection));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { onDisconnected(socket); });
    }
}

void FaultServer::onReadyRead(QTcpSocket *socket)
{
    Connection *connection = connectionOf(socket);
    if (!connection)
        return;
    if (connection->requested) {
        socket->readAll(); // one request per connection
        return;
    }
    connection->buffer += socket->readAll();
    if (connection->buffer.size() > MaxRequestBytes) {
        socket->abort();
        return;
    }
    const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() < 2) {
        socket->abort();
        return;
    }
    connection->requested = true;
    connection->path = QUrl::fromPercentEncoding(requestLine[1]);
    connection->buffer.clear();

    Request request;
    request.path = connection->path;
    request.atMs = m_clock.elapsed();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    if (m_requests.size() < MaxRecordedRequests) {
        connection->request = m_requests.size();
        m_requests.append(request);
    }

    if (m_heldPaths.value(connection->path)) {
        m_held[connection->path].append(Held{socket, true});
        return;
    }
    respondLater(*connection);
}

void FaultServer::onDisconnected(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (it->second->timer)
        it->second->timer->stop();
    for (QList<Held> &held : m_held) {
        for (Held &entry : held) {
            if (entry.socket == socket)
                entry.waiting = false;
        }
    }
    m_connections.erase(it);
    socket->deleteLater();
}

void FaultServer::respondLater(Connection &connection)
{
    const int delay = m_delays.value(connection.path);
    if (delay <= 0) {
        respond(connection);
        return;
    }
    runTimer(connection, delay, true, &FaultServer::respond);
}

void FaultServer::runTimer(Connection &connection, int ms, bool once,
                           void (FaultServer::*action)(Connection &))
{
    if (!connection.timer)
        connection.timer = new QTimer(connection.socket);
    QTimer *timer = connection.timer;
    timer->disconnect(this);
    timer->setSingleShot(once);
    QTcpSocket *socket = connection.socket;
    connect(timer, &QTimer::timeout, this, [this, socket, action] {
        if (Connection *c = connectionOf(socket))
            (this->*action)(*c);
    });
    timer->start(ms);
}

FaultServer::Behaviour FaultServer::behaviourFor(const QString &path) const
{
    if (const auto it = m_behaviours.constFind(path); it != m_behaviours.cend())
        return *it;
    Behaviour missing;
    missing.status = 404;
    missing.contentType = "text/html"_ba;
    missing.body = "<html><body>not found</body></html>"_ba;
    return missing;
}

void FaultServer::writeHead(Connection &connection, const Behaviour &behaviour, qint64 length)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(behaviour.status) + ' ' +
                      reasonOf(behaviour.status) + "\r\n";
    if (!behaviour.contentType.isEmpty())
        head += "Content-Type: " + behaviour.contentType + "\r\n";
    if (!behaviour.encoding.isEmpty())
        head += "Content-Encoding: " + behaviour.encoding + "\r\n";
    head += behaviour.extraHeaders;
    if (!behaviour.location.isEmpty())
        head += "Location: " + behaviour.location + "\r\n";
    if (const auto cookie = m_cookies.constFind(connection.path); cookie != m_cookies.cend())
        head += "Set-Cookie: " + *cookie + "\r\n";
    if (length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Connection: close\r\n\r\n";
    connection.socket->write(head);
}

FaultServer::Behaviour FaultServer::behaviourFor(const Connection &connection)
{
    const QString &path = connection.path;
    Behaviour behaviour = behaviourFor(path);
    const auto failing = m_failFirst.constFind(path);
    if (failing != m_failFirst.cend() && m_failed[path] < failing->first) {
        ++m_failed[path];
        const QByteArray body = behaviour.body;
        switch (failing->second) {
        case FirstFailure::Unavailable:
            behaviour = Behaviour();
            behaviour.status = 503;
            behaviour.body = "<html>busy</html>"_ba;
            break;
        case FirstFailure::TooManyRetryAfter2:
            behaviour = Behaviour();
            behaviour.status = 429;
            behaviour.body = "<html>slow down</html>"_ba;
            behaviour.extraHeaders = "Retry-After: 2\r\n"_ba;
            break;
        case FirstFailure::Reset:
            behaviour.kind = Kind::Reset;
            behaviour.resetAfter = body.size() / 2;
            break;
        case FirstFailure::Cut:
            behaviour.kind = Kind::Short;
            behaviour.announced = body.size();
            behaviour.body = body.left(body.size() / 2);
            break;
        }
        return behaviour;
    }
    const auto required = m_required.constFind(path);
    if (required != m_required.cend() && connection.request >= 0 &&
        !m_requests[connection.request].header(required->first).contains(required->second)) {
        behaviour = Behaviour();
        behaviour.status = 403;
        behaviour.body = "<html>forbidden</html>"_ba;
    }
    return behaviour;
}

void FaultServer::respond(Connection &connection)
{
    const Behaviour behaviour = behaviourFor(connection);
    QTcpSocket *socket = connection.socket;
    switch (behaviour.kind) {
    case Kind::Silent:
        return;
    case Kind::Page:
    case Kind::Redirect:
        writeHead(connection, behaviour, behaviour.body.size());
        socket->write(behaviour.body);
        finish(connection);
        return;
    case Kind::Short:
        writeHead(connection, behaviour, behaviour.announced);
        socket->write(behaviour.body);
        finish(connection);
        return;
    case Kind::Reset:
        writeHead(connection, behaviour, behaviour.body.size());
        socket->write(behaviour.body.left(behaviour.resetAfter));
        runTimer(connection, ResetDelayMs, true, &FaultServer::resetNow);
        return;
    case Kind::Trickle:
        writeHead(connection, behaviour, behaviour.body.size());
        connection.trickle = behaviour.body;
        runTimer(connection, behaviour.intervalMs, false, &FaultServer::sendTrickleByte);
        return;
    case Kind::Huge:
        writeHead(connection, behaviour, behaviour.hugeBytes);
        connection.hugeLeft = behaviour.hugeBytes;
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (Connection *c = connectionOf(socket))
                sendHugeChunk(*c);
        });
        sendHugeChunk(connection);
        return;
    }
}

void FaultServer::finish(Connection &connection)
{
    ++m_answered[connection.path];
    if (connection.request >= 0)
        m_requests[connection.request].answeredAtMs = m_clock.elapsed();
    connection.socket->disconnectFromHost();
}

void FaultServer::sendHugeChunk(Connection &connection)
{
    static const QByteArray chunk(HugeChunkBytes, 'x');
    if (connection.hugeLeft <= 0)
        return;
    QTcpSocket *socket = connection.socket;
    while (connection.hugeLeft > 0 && socket->bytesToWrite() < MaxBufferedBytes) {
        const qint64 size = std::min(connection.hugeLeft, HugeChunkBytes);
        socket->write(chunk.constData(), size);
        connection.hugeLeft -= size;
    }
    if (connection.hugeLeft == 0)
        finish(connection);
}

void FaultServer::sendTrickleByte(Connection &connection)
{
    if (connection.trickleSent >= connection.trickle.size()) {
        connection.timer->stop();
        finish(connection);
        return;
    }
    connection.socket->write(connection.trickle.mid(connection.trickleSent, 1));
    ++connection.trickleSent;
}

void FaultServer::resetNow(Connection &connection)
{
    // A zero linger time makes the close a reset (RST), not an orderly end.
    const linger noLinger{1, 0};
    ::setsockopt(int(connection.socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                 sizeof noLinger);
    connection.socket->abort();
}

} // namespace caiji::test
