// An HTTP/1.1 server on 127.0.0.1 that misbehaves on purpose, path by path:
// error statuses, resets, silence, trickling, redirects, short or endless
// bodies, gzip bombs, cookies, and responses held back until the test
// releases them in the order it wants. Every request's headers are recorded.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <map>
#include <memory>

class QSslCertificate;
class QSslKey;
class QTcpSocket;
class QTimer;

namespace caiji::test {

class FaultServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxConnections = 128;
    static constexpr qsizetype MaxRequestBytes = 64 * 1024;
    static constexpr int MaxRecordedRequests = 100000;

    struct Request
    {
        QString path; // as sent, percent-encoding undone
        QList<std::pair<QByteArray, QByteArray>> headers;
        qint64 atMs = 0;          // when it arrived, since the server started
        qint64 answeredAtMs = -1; // when its response was written out
        // The first header of that name (any letter case), or empty.
        QByteArray header(const QByteArray &name) const;
    };

    explicit FaultServer(QObject *parent = nullptr);
    ~FaultServer() override;

    bool listen();
    // Serves HTTPS with this certificate and key instead.
    bool listenTls(const QSslCertificate &certificate, const QSslKey &key);
    quint16 port() const;
    // "http://127.0.0.1:PORT" + path ("https://" when serving TLS).
    QString url(const QString &path) const;
    // A port on 127.0.0.1 that nothing listens on: connections are refused.
    static quint16 unusedPort();

    // Paths not set below answer 404.
    void setPage(const QString &path, const QByteArray &body,
                 const QByteArray &contentType = QByteArrayLiteral("text/html"), bool gzip = false);
    void setStatus(const QString &path, int status, const QByteArray &body);
    // Announces the whole body, sends `sentBytes` of it, then resets the connection.
    void setResetMidBody(const QString &path, const QByteArray &body, qsizetype sentBytes);
    // Reads the request and never answers.
    void setSilent(const QString &path);
    // Sends the body one byte every `intervalMs`.
    void setTrickle(const QString &path, const QByteArray &body, int intervalMs = 1000);
    // 302 to `location` (an absolute address or a path).
    void setRedirect(const QString &path, const QByteArray &location);
    // Announces `announcedBytes`, sends the shorter body and closes.
    void setShortBody(const QString &path, const QByteArray &body, qint64 announcedBytes);
    // Sends `bytes` as a body with that Content-Encoding, announcing
    // `announcedBytes` (no length when negative: the close ends the body).
    void setEncoded(const QString &path, const QByteArray &bytes, const QByteArray &encoding,
                    qint64 announcedBytes);
    // `bytes` bytes of "x", written as the client reads; never held in memory.
    void setHugeBody(const QString &path, qint64 bytes,
                     const QByteArray &contentType = QByteArrayLiteral("text/html"));
    // A gzip body of about 1 MB that expands to `expandedBytes` zero bytes
    // (a multiple of 1 MiB).
    void setGzipBomb(const QString &path, qint64 expandedBytes,
                     const QByteArray &contentType = QByteArrayLiteral("text/html"));
    // Adds a Set-Cookie header to the path's responses.
    void setCookie(const QString &path, const QByteArray &cookie);
    // The response waits this long after the request (or its release).
    void setDelay(const QString &path, int ms);
    // The first `times` requests of the path fail this way; later ones get
    // what the path serves.
    enum class FirstFailure { Unavailable, TooManyRetryAfter2, Reset, Cut };
    void setFailFirst(const QString &path, int times, FirstFailure failure);
    // 403 unless the request's header `name` holds `value`.
    void setRequiredHeader(const QString &path, const QByteArray &name, const QByteArray &value);
    // The most requests of `prefix` ever waiting for their answer at once.
    int peakOpen(const QString &prefix) const;

    // Requests for a held path wait until release() answers them.
    void setHeld(const QString &path, bool held = true);
    // Requests of the path held so far, answered or not.
    int heldCount(const QString &path) const;
    // Answers the held request of `path` that arrived as number `arrival`
    // (0 for the first held one); false when it is not waiting (answered
    // already, or its client went away).
    bool release(const QString &path, int arrival);
    // Responses to the path written out completely.
    int answeredCount(const QString &path) const;

    const QList<Request> &requests() const { return m_requests; }
    int requestCount(const QString &path) const;

    // gzip (RFC 1952) of `data`.
    static QByteArray gzip(const QByteArray &data);

private:
    enum class Kind { Page, Reset, Silent, Trickle, Redirect, Short, Huge };

    struct Behaviour
    {
        Kind kind = Kind::Page;
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        QByteArray location;
        QByteArray encoding;     // Content-Encoding
        QByteArray extraHeaders; // whole lines, CR LF included
        qint64 announced = -1;   // Content-Length of a short body; none when negative
        qint64 hugeBytes = 0;
        qsizetype resetAfter = 0;
        int intervalMs = 0;
    };

    struct Connection
    {
        QTcpSocket *socket = nullptr;
        QByteArray buffer;
        QString path;
        qsizetype request = -1; // its entry in m_requests
        bool requested = false;
        qint64 hugeLeft = 0;
        QByteArray trickle;
        qsizetype trickleSent = 0;
        QTimer *timer = nullptr; // delays, trickles and resets
    };

    struct Held
    {
        QTcpSocket *socket = nullptr;
        bool waiting = true;
    };

    // A fresh behaviour for `path`, to be filled in further.
    Behaviour &behave(const QString &path, Kind kind, const QByteArray &body = {},
                      const QByteArray &contentType = QByteArrayLiteral("text/html"));
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void onDisconnected(QTcpSocket *socket);
    void respondLater(Connection &connection);
    // The connection's one timer (delays, trickles and resets) runs `action`.
    void runTimer(Connection &connection, int ms, bool once,
                  void (FaultServer::*action)(Connection &));
    void respond(Connection &connection);
    void writeHead(Connection &connection, const Behaviour &behaviour, qint64 length);
    void finish(Connection &connection);
    void sendHugeChunk(Connection &connection);
    void sendTrickleByte(Connection &connection);
    void resetNow(Connection &connection);
    Behaviour behaviourFor(const QString &path) const;
    // What the path serves to this request: its behaviour, or a failure of
    // setFailFirst() or setRequiredHeader().
    Behaviour behaviourFor(const Connection &connection);
    Connection *connectionOf(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    QString m_scheme = QStringLiteral("http");
    QElapsedTimer m_clock;
    QHash<QString, std::pair<int, FirstFailure>> m_failFirst;
    QHash<QString, int> m_failed;
    QHash<QString, std::pair<QByteArray, QByteArray>> m_required;
    QHash<QString, Behaviour> m_behaviours;
    QHash<QString, QByteArray> m_cookies;
    QHash<QString, int> m_delays;
    QHash<QString, bool> m_heldPaths;
    QHash<QString, QList<Held>> m_held;
    QHash<QString, int> m_answered;
    std::map<QTcpSocket *, std::unique_ptr<Connection>> m_connections;
    QList<Request> m_requests;
};

} // namespace caiji::test
