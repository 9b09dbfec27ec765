#include "engine/scheduledtasks.h"

#include "records/recordstore.h"

#include <QFileInfo>

namespace caiji {

ScheduledTasks::ScheduledTasks(const Workspace &workspace, QueuedTest isQueued, Clock now,
                               QObject *parent)
    : QObject(parent), m_workspace(workspace), m_isQueued(std::move(isQueued)),
      m_now(now ? std::move(now) : Clock(&QDateTime::currentDateTime)), m_watchingSince(m_now())
{
    connect(&m_timer, &QTimer::timeout, this, &ScheduledTasks::check);
}

void ScheduledTasks::start(int intervalMs)
{
    m_timer.start(intervalMs);
}

void ScheduledTasks::noteStarted(const QString &task)
{
    m_started.insert(task, m_now());
}

ScheduledTasks::TaskSchedule ScheduledTasks::scheduleOf(const QString &task) const
{
    TaskSchedule result;
    const QString dataDir = QFileInfo(m_workspace.databaseFile(task)).absolutePath();
    result.settings = ScheduleSettings::read(dataDir, &result.error);
    if (!result.settings || !result.settings->isSet())
        return result;
    QDateTime last = RecordStore::lastRunStarted(m_workspace.databaseFile(task));
    const QDateTime started = m_started.value(task);
    if (started.isValid() && (!last.isValid() || started > last))
        last = started;
    // A task that never ran is due as if it were first seen when the watch
    // began: "every" at once, "daily" at the first listed time after it (seen
    // from the clock's reading, that time would move on with each check).
    result.next = result.settings->nextDue(last, m_watchingSince).value_or(QDateTime());
    return result;
}

void ScheduledTasks::check()
{
    const QDateTime now = m_now();
    for (const QString &task : m_workspace.taskNames()) {
        const TaskSchedule schedule = scheduleOf(task);
        if (schedule.next.isValid() && schedule.next <= now && !m_isQueued(task))
            Q_EMIT due(task);
    }
    Q_EMIT checked();
}

} // namespace caiji
