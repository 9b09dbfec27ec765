#include "tasks/schedulesettings.h"

#include "tasks/networksettings.h"

#include <QRegularExpression>
#include <QSettings>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Group = u"schedule"_s;
constexpr int MinutesPerDay = 24 * 60;
constexpr int MaxEveryMinutes = 366 * MinutesPerDay;

// A wall-clock time on `date`; a time the clock skips (the hour a change to
// summer time leaves out) is taken at the first moment after it.
QDateTime localTime(QDate date, QTime time)
{
    QDateTime moment(date, time);
    for (int hour = 1; !moment.isValid() && hour <= 2; ++hour)
        moment = QDateTime(date, time.addSecs(hour * 3600));
    return moment;
}

} // namespace

std::optional<QDateTime> ScheduleSettings::nextDue(const QDateTime &lastRun,
                                                   const QDateTime &now) const
{
    if (everyMinutes > 0) {
        if (!lastRun.isValid())
            return now;
        // Whole days keep the time of day across a change of summer time.
        if (everyMinutes % MinutesPerDay == 0)
            return lastRun.addDays(everyMinutes / MinutesPerDay);
        return lastRun.addSecs(qint64(everyMinutes) * 60);
    }
    if (daily.isEmpty())
        return std::nullopt;
    const QDateTime after = lastRun.isValid() ? lastRun : now;
    for (int day = 0; day <= 2; ++day) {
        for (const QTime &time : daily) {
            const QDateTime moment = localTime(after.date().addDays(day), time);
            if (moment > after)
                return moment;
        }
    }
    return std::nullopt; // not reached: a listed time comes within two days
}

QString ScheduleSettings::describe() const
{
    if (everyMinutes > 0) {
        if (everyMinutes % MinutesPerDay == 0)
            return u"每%1天"_s.arg(everyMinutes / MinutesPerDay);
        if (everyMinutes % 60 == 0)
            return u"每%1小时"_s.arg(everyMinutes / 60);
        return u"每%1分钟"_s.arg(everyMinutes);
    }
    QStringList times;
    for (const QTime &time : daily)
        times << time.toString(u"HH:mm"_s);
    return times.isEmpty() ? QString() : u"每天"_s + times.join(u'、');
}

std::optional<int> ScheduleSettings::parseEvery(const QString &text)
{
    static const QRegularExpression form(u"^\\s*(\\d{1,6})\\s*([mhd]?)\\s*$"_s,
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2).toLower();
    const qint64 minutes = match.captured(1).toLongLong() * (unit == u"d"   ? MinutesPerDay
                                                             : unit == u"h" ? 60
                                                                            : 1);
    if (minutes < 1 || minutes > MaxEveryMinutes)
        return std::nullopt;
    return int(minutes);
}

std::optional<QList<QTime>> ScheduleSettings::parseDaily(const QString &text)
{
    QString written = text;
    written.replace(u'，', u',').replace(u'、', u',').replace(u'：', u':');
    QList<QTime> times;
    for (const QString &item : written.split(u',', Qt::SkipEmptyParts)) {
        const QTime time = QTime::fromString(item.trimmed(), u"H:mm"_s);
        if (!time.isValid())
            return std::nullopt;
        if (!times.contains(time))
            times << time;
    }
    if (times.isEmpty())
        return std::nullopt;
    std::sort(times.begin(), times.end());
    return times;
}

QString ScheduleSettings::everyText() const
{
    if (everyMinutes <= 0)
        return {};
    if (everyMinutes % MinutesPerDay == 0)
        return QString::number(everyMinutes / MinutesPerDay) + u'd';
    if (everyMinutes % 60 == 0)
        return QString::number(everyMinutes / 60) + u'h';
    return QString::number(everyMinutes) + u'm';
}

QString ScheduleSettings::dailyText() const
{
    QStringList times;
    for (const QTime &time : daily)
        times << time.toString(u"HH:mm"_s);
    return times.join(u',');
}

std::optional<ScheduleSettings> ScheduleSettings::read(const QString &dataDir, QString *error)
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    ScheduleSettings settings;
    // "08:00,20:00" reads as a list in the INI format.
    const QString every = file.value(u"every"_s).toStringList().join(u',').trimmed();
    const QString daily = file.value(u"daily"_s).toStringList().join(u',').trimmed();
    if (!every.isEmpty() && !daily.isEmpty()) {
        *error = u"every和daily只能写一个"_s;
        return std::nullopt;
    }
    if (!every.isEmpty()) {
        const std::optional<int> minutes = parseEvery(every);
        if (!minutes) {
            *error = u"every=%1：应写成30m、6h或1d（分钟、小时、天）"_s.arg(every);
            return std::nullopt;
        }
        settings.everyMinutes = *minutes;
    }
    if (!daily.isEmpty()) {
        const std::optional<QList<QTime>> times = parseDaily(daily);
        if (!times) {
            *error = u"daily=%1：应写成08:00或08:00,20:00"_s.arg(daily);
            return std::nullopt;
        }
        settings.daily = *times;
    }
    return settings;
}

bool ScheduleSettings::write(const QString &dataDir) const
{
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(Group);
    if (everyMinutes > 0)
        file.setValue(u"every"_s, everyText());
    else
        file.remove(u"every"_s);
    // Written as one text: a list would be read back the same, but reads
    // worse in the file.
    if (!daily.isEmpty())
        file.setValue(u"daily"_s, dailyText());
    else
        file.remove(u"daily"_s);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace caiji
