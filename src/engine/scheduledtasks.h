// Which tasks of the workspace are due by the [schedule] of their
// data/settings.ini, while the window is open: a check every half minute
// emits due() for each task whose next time has come and that is not queued
// already. The clock is a function so tests can set the time.
#pragma once

#include "tasks/schedulesettings.h"
#include "tasks/workspace.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

namespace caiji {

class ScheduledTasks : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // True when the task waits in the queue or is running.
    using QueuedTest = std::function<bool(const QString &task)>;

    static constexpr int CheckIntervalMs = 30000;

    struct TaskSchedule
    {
        std::optional<ScheduleSettings> settings; // nothing when malformed
        QString error;                            // why it is malformed
        QDateTime next;                           // invalid without a schedule
    };

    // `now` defaults to the system clock; the watch begins at its first reading.
    ScheduledTasks(const Workspace &workspace, QueuedTest isQueued, Clock now = {},
                   QObject *parent = nullptr);

    void setClock(Clock now) { m_now = std::move(now); }
    // Checks on a timer from now on.
    void start(int intervalMs = CheckIntervalMs);
    // The task started now: its schedule counts from here (also when its
    // database keeps no trace of the start, as when it could not be made).
    void noteStarted(const QString &task);
    TaskSchedule scheduleOf(const QString &task) const;
    // Emits due() for every task due and not queued, then checked().
    void check();

Q_SIGNALS:
    void due(const QString &task);
    void checked();

private:
    Workspace m_workspace;
    QueuedTest m_isQueued;
    Clock m_now;
    QDateTime m_watchingSince;
    QHash<QString, QDateTime> m_started;
    QTimer m_timer;
};

} // namespace caiji
