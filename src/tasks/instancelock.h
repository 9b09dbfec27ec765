// One running caiji per workspace: a lock file in the workspace, released
// when the program ends (also after a crash, as the lock goes stale), and a
// local socket through which a second window asks the first to come forward.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace caiji {

class InstanceLock : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Acquired,
        HeldByAnother,
        CannotWrite, // the lock file cannot be made: the workspace is not writable
    };

    explicit InstanceLock(const QString &workspace, QObject *parent = nullptr);
    ~InstanceLock() override;

    Outcome tryAcquire();
    // False when another copy holds the workspace or it cannot be written.
    bool acquire() { return tryAcquire() == Outcome::Acquired; }
    QString lockFilePath() const { return m_path; }

    // While the lock is held: another copy's request arrives as showRequested().
    // False when the socket cannot be opened (the lock still holds).
    bool listenForOtherCopies();
    // Asks the copy holding the workspace to bring its window forward, trying
    // for up to `timeoutMs` (it may be starting). False when no window answered,
    // as when the holder is a collection without a window.
    bool askHolderToShow(int timeoutMs) const;

    // Hands `tasks` to the window holding the workspace, which queues them.
    // False when no window took them (no window holds it, or it did not
    // answer within `timeoutMs`).
    bool askHolderToQueue(const QStringList &tasks, int timeoutMs) const;

Q_SIGNALS:
    void showRequested();
    // Another copy handed these tasks over to be queued.
    void queueRequested(const QStringList &tasks);

private:
    QString socketName() const;

    QString m_workspace;
    QString m_path;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace caiji
