// When a task runs by itself: the [schedule] section of the task's
// data/settings.ini, "every=6h" (a number with m, h or d) or
// "daily=08:00,20:00". The window queues a task when it is due; `caiji
// schedule` hands the same times to systemd or cron.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace caiji {

struct ScheduleSettings
{
    int everyMinutes = 0; // 0: not "every"
    QList<QTime> daily;   // sorted, each once

    bool isSet() const { return everyMinutes > 0 || !daily.isEmpty(); }

    // The next time the task is due after its last run started at
    // `lastRun` (invalid: it never ran), seen at `now`. "every" counts from
    // the last run (a task that never ran is due at once; days are calendar
    // days, hours and minutes elapsed time); "daily" is the first listed
    // wall-clock time after the last run, or after `now` for a task that
    // never ran. Nothing when no schedule is set.
    std::optional<QDateTime> nextDue(const QDateTime &lastRun, const QDateTime &now) const;

    // "每6小时", "每天08:00、20:00": for tooltips and messages.
    QString describe() const;

    // Reads "30m", "6h", "1d" (a bare number is minutes); nothing when it is
    // no such text.
    static std::optional<int> parseEvery(const QString &text);
    // Reads "08:00,20:00" (also "8:00" and the Chinese comma and colon).
    static std::optional<QList<QTime>> parseDaily(const QString &text);
    // The texts as written back: "6h", "08:00,20:00".
    QString everyText() const;
    QString dailyText() const;

    // `dataDir` is the task's data folder. Nothing when a value is
    // malformed; `error` then names the key.
    static std::optional<ScheduleSettings> read(const QString &dataDir, QString *error);
    // Writes the keys that are set (the others are removed), leaving other
    // sections alone. False when the file cannot be written.
    bool write(const QString &dataDir) const;
};

} // namespace caiji
