// A small static HTTP/1.1 server on 127.0.0.1: serves the demo site (a folder
// or pages set in memory); tests also make it delay, fail, drop, redirect or
// send a huge body for chosen paths. Every connection is closed after one
// response.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

namespace caiji {

class StaticHttpServer : public QObject
{
    Q_OBJECT

public:
    // Connections still open when the server goes away are cut.
    static constexpr int MaxConnections = 64;
    static constexpr qsizetype MaxRequestBytes = 64 * 1024;

    explicit StaticHttpServer(QObject *parent = nullptr);
    ~StaticHttpServer() override;

    // Listens on 127.0.0.1 on `port`, or on a free one when it is 0.
    bool listen(quint16 port = 0);
    // Why listen() failed: the port is taken, or something else (the text).
    bool portInUse() const;
    QString errorString() const;
    quint16 port() const;
    // "http://127.0.0.1:PORT" + path (path starts with "/").
    QString url(const QString &path) const;

    // Paths not set in memory are looked up in this folder.
    void setRoot(const QString &directory);
    void setPage(const QString &path, const QByteArray &body,
                 const QByteArray &contentType = QByteArrayLiteral("text/html"));
    void setDelay(const QString &path, int ms);
    void setStatus(const QString &path, int status);
    void setDropConnection(const QString &path);
    void setRedirect(const QString &path, const QString &target);
    // A body of `bytes` bytes, written in chunks as the client reads.
    void setHugeBody(const QString &path, qint64 bytes);

    // Paths of the requests received, in order.
    const QStringList &requests() const { return m_requests; }
    int requestCount(const QString &path) const;

private:
    struct Response
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        QByteArray location;
        qint64 hugeBytes = -1;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const QString &path);
    Response responseFor(const QString &path) const;
    void send(QTcpSocket *socket, const Response &response);
    void sendHugeChunk(QTcpSocket *socket);

    QTcpServer m_server;
    QString m_root;
    QHash<QString, QByteArray> m_pages;
    QHash<QString, QByteArray> m_contentTypes;
    QHash<QString, int> m_delays;
    QHash<QString, int> m_statuses;
    QSet<QString> m_dropped;
    QHash<QString, QString> m_redirects;
    QHash<QString, qint64> m_huge;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QTcpSocket *, qint64> m_hugeLeft;
    QStringList m_requests;
};

} // namespace caiji
