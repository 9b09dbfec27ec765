#include "tasks/scheduleunits.h"

#include <QMap>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr int MinutesPerDay = 24 * 60;
const QString TaskLine = u"# caiji task: "_s;
const QString WorkspaceLine = u"# caiji workspace: "_s;
const QString ScheduleLine = u"# caiji schedule: "_s;

// One argument of ExecStart: quoted, with what systemd would expand escaped.
QString systemdWord(const QString &word)
{
    QString escaped = word;
    escaped.replace(u"\\"_s, u"\\\\"_s)
        .replace(u"\""_s, u"\\\""_s)
        .replace(u"%"_s, u"%%"_s)
        .replace(u"$"_s, u"$$"_s);
    return u'"' + escaped + u'"';
}

// One word for sh, as cron hands its line to it; cron itself reads "%" as a
// line end unless escaped.
QString cronWord(const QString &word)
{
    QString quoted = u'\'' + QString(word).replace(u"'"_s, u"'\\''"_s) + u'\'';
    return quoted.replace(u"%"_s, u"\\%"_s);
}

// Free text in a unit file: "%" starts a specifier there.
QString unitText(const QString &text)
{
    return QString(text).replace(u"%"_s, u"%%"_s);
}

QString scheduleText(const ScheduleSettings &schedule)
{
    return schedule.everyMinutes > 0 ? u"every="_s + schedule.everyText()
                                     : u"daily="_s + schedule.dailyText();
}

// Minutes of the day on which the task runs, grouped: minutes that run at the
// same hours share a line.
QStringList cronTimes(const QList<int> &minutesOfDay)
{
    QMap<int, QList<int>> hoursByMinute;
    for (int minute : minutesOfDay)
        hoursByMinute[minute % 60] << minute / 60;
    QMap<QString, QStringList> minutesByHours;
    for (auto it = hoursByMinute.begin(); it != hoursByMinute.end(); ++it) {
        QStringList hours;
        for (int hour : it.value())
            hours << QString::number(hour);
        const QString hourField = hours.size() == 24 ? u"*"_s : hours.join(u',');
        minutesByHours[hourField] << QString::number(it.key());
    }
    QStringList fields;
    for (auto it = minutesByHours.begin(); it != minutesByHours.end(); ++it)
        fields << it.value().join(u',') + u' ' + it.key() + u" * * *"_s;
    return fields;
}

} // namespace

QString ScheduleUnits::escapeUnitName(const QString &name)
{
    QString escaped;
    const QByteArray bytes = name.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == ':' || c == '_' || (c == '.' && i > 0);
        if (c == '/')
            escaped += u'-';
        else if (plain)
            escaped += QLatin1Char(c);
        else
            escaped += u"\\x"_s + QString::number(quint8(c), 16).rightJustified(2, u'0');
    }
    return escaped;
}

QString ScheduleUnits::unitName() const
{
    return u"caiji-"_s + escapeUnitName(task);
}

QString ScheduleUnits::serviceText() const
{
    return TaskLine + task + u'\n' + WorkspaceLine + workspace + u'\n' + ScheduleLine +
           scheduleText(schedule) + u"\n[Unit]\nDescription=caiji: collect "_s + unitText(task) +
           u"\n\n[Service]\nType=oneshot\nExecStart="_s + systemdWord(program) +
           u" run --quiet --workspace "_s + systemdWord(workspace) + u' ' + systemdWord(task) +
           u'\n';
}

QString ScheduleUnits::timerText() const
{
    QString timer = TaskLine + task + u'\n' + WorkspaceLine + workspace + u'\n' + ScheduleLine +
                    scheduleText(schedule) + u"\n[Unit]\nDescription=caiji: collect "_s +
                    unitText(task) + u' ' + schedule.describe() + u"\n\n[Timer]\n"_s;
    if (schedule.everyMinutes > 0) {
        // The first run soon after the timer starts, then one each interval
        // after the last.
        timer += u"OnActiveSec=1min\nOnUnitActiveSec=%1min\n"_s.arg(schedule.everyMinutes);
    } else {
        for (const QTime &time : schedule.daily)
            timer += u"OnCalendar=*-*-* "_s + time.toString(u"HH:mm"_s) + u":00\n"_s;
        // A time missed while the computer was off runs when it is on again.
        timer += u"Persistent=true\n"_s;
    }
    return timer + u"AccuracySec=1min\n\n[Install]\nWantedBy=timers.target\n"_s;
}

QStringList ScheduleUnits::cronLines() const
{
    QStringList times;
    QString warning;
    const int every = schedule.everyMinutes;
    if (every >= MinutesPerDay) {
        const int days = every / MinutesPerDay;
        times << (days == 1 ? u"0 0 * * *"_s : u"0 0 */%1 * *"_s.arg(days));
        // 25 hours is no day count: cron runs it at midnight as it can.
        if (days > 1)
            warning = u"# cron 只能近似“%1”：每%2天的0点一次，每月从1日重新数起"_s.arg(
                schedule.describe(), QString::number(days));
        else if (every % MinutesPerDay != 0)
            warning = u"# cron 只能近似“%1”：每天0点一次"_s.arg(schedule.describe());
    } else if (every > 0) {
        QList<int> minutes;
        for (int minute = 0; minute < MinutesPerDay; minute += every)
            minutes << minute;
        times = cronTimes(minutes);
        if (MinutesPerDay % every != 0)
            warning = u"# cron 只能近似“%1”：每天0点重新数起"_s.arg(schedule.describe());
    } else {
        QList<int> minutes;
        for (const QTime &time : schedule.daily)
            minutes << time.hour() * 60 + time.minute();
        times = cronTimes(minutes);
    }
    const QString command = cronWord(program) + u" run --quiet --workspace "_s +
                            cronWord(workspace) + u' ' + cronWord(task);
    QStringList lines;
    if (!warning.isEmpty())
        lines << warning;
    for (const QString &time : std::as_const(times))
        lines << time + u' ' + command;
    return lines;
}

ScheduleUnits ScheduleUnits::readTimer(const QString &text)
{
    ScheduleUnits units;
    for (const QString &line : text.split(u'\n')) {
        if (line.startsWith(TaskLine))
            units.task = line.mid(TaskLine.size());
        else if (line.startsWith(WorkspaceLine))
            units.workspace = line.mid(WorkspaceLine.size());
        else if (line.startsWith(ScheduleLine + u"every="_s))
            units.schedule.everyMinutes =
                ScheduleSettings::parseEvery(line.mid(ScheduleLine.size() + 6)).value_or(0);
        else if (line.startsWith(ScheduleLine + u"daily="_s))
            units.schedule.daily = ScheduleSettings::parseDaily(line.mid(ScheduleLine.size() + 6))
                                       .value_or(QList<QTime>());
    }
    return units;
}

} // namespace caiji
