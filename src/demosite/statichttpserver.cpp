#include "demosite/statichttpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr qint64 HugeChunkBytes = 256 * 1024;
constexpr qint64 MaxBufferedBytes = 1024 * 1024;

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK"_ba;
    case 301:
        return "Moved Permanently"_ba;
    case 302:
        return "Found"_ba;
    case 404:
        return "Not Found"_ba;
    case 500:
        return "Internal Server Error"_ba;
    default:
        return "Status"_ba;
    }
}

QByteArray contentTypeOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"htm"_s || suffix == u"html"_s)
        return "text/html"_ba;
    if (suffix == u"png"_s)
        return "image/png"_ba;
    if (suffix == u"jpg"_s || suffix == u"jpeg"_s)
        return "image/jpeg"_ba;
    if (suffix == u"txt"_s)
        return "text/plain"_ba;
    return "application/octet-stream"_ba;
}

} // namespace

StaticHttpServer::StaticHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &StaticHttpServer::onNewConnection);
}

StaticHttpServer::~StaticHttpServer()
{
    m_server.close();
    const QList<QTcpSocket *> sockets = m_buffers.keys();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool StaticHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

bool StaticHttpServer::portInUse() const
{
    return m_server.serverError() == QAbstractSocket::AddressInUseError;
}

QString StaticHttpServer::errorString() const
{
    return m_server.errorString();
}

quint16 StaticHttpServer::port() const
{
    return m_server.serverPort();
}

QString StaticHttpServer::url(const QString &path) const
{
    return u"http://127.0.0.1:"_s + QString::number(port()) + path;
}

void StaticHttpServer::setRoot(const QString &directory)
{
    m_root = QDir(directory).absolutePath();
}

void StaticHttpServer::setPage(const QString &path, const QByteArray &body,
                               const QByteArray &contentType)
{
    m_pages.insert(path, body);
    m_contentTypes.insert(path, contentType);
}

void StaticHttpServer::setDelay(const QString &path, int ms)
{
    m_delays.insert(path, ms);
}

void StaticHttpServer::setStatus(const QString &path, int status)
{
    m_statuses.insert(path, status);
}

void StaticHttpServer::setDropConnection(const QString &path)
{
    m_dropped.insert(path);
}

void StaticHttpServer::setRedirect(const QString &path, const QString &target)
{
    m_redirects.insert(path, target);
}

void StaticHttpServer::setHugeBody(const QString &path, qint64 bytes)
{
    m_huge.insert(path, bytes);
}

int StaticHttpServer::requestCount(const QString &path) const
{
    return int(m_requests.count(path));
}

void StaticHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_buffers.size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            m_hugeLeft.remove(socket);
            socket->deleteLater();
        });
    }
}

void StaticHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    if (buffer.size() > MaxRequestBytes) {
        socket->abort();
        return;
    }
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    // One request per connection; anything after it is ignored.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    if (requestLine.size() < 2) {
        socket->abort();
        return;
    }
    handle(socket, QUrl::fromPercentEncoding(requestLine[1]));
}

void StaticHttpServer::handle(QTcpSocket *socket, const QString &path)
{
    m_requests.append(path);
    auto respond = [this, socket, path] {
        if (m_dropped.contains(path)) {
            socket->abort();
            return;
        }
        send(socket, responseFor(path));
    };
    const int delay = m_delays.value(path);
    if (delay > 0)
        QTimer::singleShot(delay, socket, respond);
    else
        respond();
}

StaticHttpServer::Response StaticHttpServer::responseFor(const QString &path) const
{
    Response response;
    if (const auto target = m_redirects.constFind(path); target != m_redirects.cend()) {
        response.status = 302;
        response.location = target->toUtf8();
        return response;
    }
    if (const auto status = m_statuses.constFind(path); status != m_statuses.cend()) {
        response.status = *status;
        response.contentType = "text/html"_ba;
        response.body = "<html><body>error " + QByteArray::number(*status) + "</body></html>";
        return response;
    }
    if (const auto huge = m_huge.constFind(path); huge != m_huge.cend()) {
        response.contentType = contentTypeOf(path);
        response.hugeBytes = *huge;
        return response;
    }
    if (const auto page = m_pages.constFind(path); page != m_pages.cend()) {
        response.contentType = m_contentTypes.value(path);
        response.body = *page;
        return response;
    }
    QString filePath = path.section(u'?', 0, 0);
    if (filePath.endsWith(u'/'))
        filePath += u"index.html"_s;
    if (!m_root.isEmpty() && !filePath.contains(u".."_s)) {
        QFile file(m_root + filePath);
        if (QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly)) {
            response.contentType = contentTypeOf(filePath);
            response.body = file.readAll();
            return response;
        }
    }
    response.status = 404;
    response.contentType = "text/html"_ba;
    response.body = "<html><body>not found</body></html>"_ba;
    return response;
}

void StaticHttpServer::send(QTcpSocket *socket, const Response &response)
{
    const qint64 length = response.hugeBytes >= 0 ? response.hugeBytes : response.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonOf(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    if (response.hugeBytes < 0) {
        socket->write(response.body);
        socket->disconnectFromHost();
        return;
    }
    m_hugeLeft.insert(socket, response.hugeBytes);
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { sendHugeChunk(socket); });
    sendHugeChunk(socket);
}

void StaticHttpServer::sendHugeChunk(QTcpSocket *socket)
{
    const auto left = m_hugeLeft.find(socket);
    if (left == m_hugeLeft.end())
        return;
    while (*left > 0 && socket->bytesToWrite() < MaxBufferedBytes) {
        const qint64 size = std::min(*left, HugeChunkBytes);
        socket->write(QByteArray(size, 'x'));
        *left -= size;
    }
    if (*left == 0) {
        m_hugeLeft.erase(left);
        socket->disconnectFromHost();
    }
}

} // namespace caiji
