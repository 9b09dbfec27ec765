// A task's schedule as the system runs it without the window: a systemd
// user timer and service ("caiji-<escaped name>.timer" and ".service" in
// ~/.config/systemd/user), or crontab lines where there is no systemd user
// manager. Both run `caiji run --quiet` on the task.
#pragma once

#include "tasks/schedulesettings.h"

#include <QString>
#include <QStringList>

namespace caiji {

struct ScheduleUnits
{
    QString program;   // absolute path of caiji
    QString workspace; // absolute
    QString task;
    ScheduleSettings schedule;

    // "caiji-" and the task's name escaped as systemd-escape does, without
    // the suffix.
    QString unitName() const;
    QString serviceText() const;
    QString timerText() const;
    // Lines for `crontab -e`: the same times, as near as cron can say them;
    // a comment line first when it cannot say them exactly.
    QStringList cronLines() const;

    // What a unit file written by caiji says of itself: its task, workspace
    // and schedule ("every=6h"); empty fields when it is no such file.
    static ScheduleUnits readTimer(const QString &text);
    static QString escapeUnitName(const QString &name);
};

} // namespace caiji
