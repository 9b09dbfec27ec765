#include "tasks/instancelock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr char ShowRequest[] = "show\n";
// "queue NAME NAME…\n", each name percent-encoded; the window answers
// QueuedAnswer once it has queued them.
constexpr char QueueRequest[] = "queue";
constexpr char QueuedAnswer[] = "queued\n";

} // namespace

InstanceLock::InstanceLock(const QString &workspace, QObject *parent)
    : QObject(parent), m_workspace(workspace), m_path(QDir(workspace).filePath(u".caiji.lock"_s)),
      m_lock(m_path)
{
    m_lock.setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

InstanceLock::Outcome InstanceLock::tryAcquire()
{
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return Outcome::Acquired;
    return m_lock.error() == QLockFile::LockFailedError ? Outcome::HeldByAnother
                                                        : Outcome::CannotWrite;
}

QString InstanceLock::socketName() const
{
    // One name per workspace and user; the user's runtime folder keeps other
    // users out where there is one.
    QFileInfo info(m_workspace);
    const QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QString key =
        u"caiji-"_s + qEnvironmentVariable("USER") + u'-' +
        QString::fromLatin1(
            QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? QDir(runtime).filePath(key) : key;
}

bool InstanceLock::listenForOtherCopies()
{
    if (!m_lock.isLocked())
        return false;
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                const auto read = [this, socket] {
                    if (!socket->canReadLine())
                        return;
                    const QByteArray line = socket->readLine();
                    if (line == ShowRequest) {
                        Q_EMIT showRequested();
                    } else if (line.startsWith(QueueRequest)) {
                        QStringList tasks;
                        for (const QByteArray &name : line.trimmed().split(' ').mid(1))
                            tasks << QString::fromUtf8(QByteArray::fromPercentEncoding(name));
                        Q_EMIT queueRequested(tasks);
                        socket->write(QueuedAnswer);
                        socket->flush();
                    }
                    socket->disconnectFromServer();
                };
                connect(socket, &QLocalSocket::readyRead, this, read);
                read();
            }
        });
    }
    if (m_server->isListening())
        return true;
    // A socket left by a copy that crashed; no live copy owns it, as we hold the lock.
    QLocalServer::removeServer(socketName());
    return m_server->listen(socketName());
}

bool InstanceLock::askHolderToShow(int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketName());
        if (socket.waitForConnected(int(std::clamp<qint64>(deadline.remainingTime(), 0, 500)))) {
            socket.write(ShowRequest);
            socket.waitForBytesWritten(1000);
            const bool written = socket.bytesToWrite() == 0;
            socket.disconnectFromServer();
            return written;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

bool InstanceLock::askHolderToQueue(const QStringList &tasks, int timeoutMs) const
{
    QByteArray request = QueueRequest;
    for (const QString &task : tasks)
        request += ' ' + task.toUtf8().toPercentEncoding();
    request += '\n';
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketName());
    // A collection without a window holds the workspace but does not listen.
    if (!socket.waitForConnected(int(std::clamp<qint64>(deadline.remainingTime(), 0, 2000))))
        return false;
    socket.write(request);
    if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return false;
    while (!socket.canReadLine() && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
    }
    return socket.canReadLine() && socket.readLine() == QueuedAnswer;
}

} // namespace caiji
