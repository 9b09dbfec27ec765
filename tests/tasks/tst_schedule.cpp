// When a scheduled task is due, and how its schedule reaches systemd and
// cron: the arithmetic in a zone with summer time (TZ=Europe/Berlin), the
// units the real `caiji schedule` writes, checked by systemd's own tools
// where they exist, and the crontab lines where systemctl --user is missing.
#include "programrun.h"
#include "tasks/schedulesettings.h"
#include "tasks/scheduleunits.h"
#include "tempworkspace.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;

namespace {

QDateTime at(const QString &text)
{
    return QDateTime::fromString(text, u"yyyy-MM-dd HH:mm"_s);
}

ScheduleSettings scheduleOf(const QString &written)
{
    ScheduleSettings schedule;
    if (written.startsWith(u"every="))
        schedule.everyMinutes = ScheduleSettings::parseEvery(written.mid(6)).value_or(0);
    else
        schedule.daily = ScheduleSettings::parseDaily(written.mid(6)).value_or(QList<QTime>());
    return schedule;
}

// Output of one of systemd's tools, or nothing when it is not installed.
std::optional<QString> systemdTool(const QString &tool, const QStringList &arguments,
                                   int *exitCode = nullptr)
{
    const QString path = QStandardPaths::findExecutable(tool);
    if (path.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromUtf8(process.readAll()).trimmed();
}

} // namespace

class TestSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nextDue_data();
    void nextDue();
    void cronLines_data();
    void cronLines();
    void scheduleCommand();
};

void TestSchedule::nextDue_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("lastRun"); // empty: never ran
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("due");

    QTest::newRow("every: from the last run")
        << u"every=6h"_s << u"2026-06-01 09:10"_s << u"2026-06-01 10:00"_s << u"2026-06-01 15:10"_s;
    QTest::newRow("every: never ran, due at once")
        << u"every=30m"_s << QString() << u"2026-06-01 10:00"_s << u"2026-06-01 10:00"_s;
    // On 2026-03-29 the clocks go from 02:00 to 03:00.
    QTest::newRow("every hours: elapsed time across summer time")
        << u"every=3h"_s << u"2026-03-29 00:30"_s << u"2026-03-29 01:00"_s << u"2026-03-29 04:30"_s;
    QTest::newRow("every day: the same time of day across summer time")
        << u"every=1d"_s << u"2026-03-28 08:00"_s << u"2026-03-28 09:00"_s << u"2026-03-29 08:00"_s;
    QTest::newRow("daily: the next time the same day")
        << u"daily=08:00,20:00"_s << u"2026-06-01 08:01"_s << u"2026-06-01 09:00"_s
        << u"2026-06-01 20:00"_s;
    QTest::newRow("daily: across midnight") << u"daily=20:00,08:00"_s << u"2026-06-01 20:00"_s
                                            << u"2026-06-01 21:00"_s << u"2026-06-02 08:00"_s;
    QTest::newRow("daily: a time missed while closed is due at once")
        << u"daily=08:00"_s << u"2026-06-01 08:00"_s << u"2026-06-03 10:00"_s
        << u"2026-06-02 08:00"_s;
    QTest::newRow("daily: never ran, the next time after now")
        << u"daily=08:00"_s << QString() << u"2026-06-01 09:00"_s << u"2026-06-02 08:00"_s;
    QTest::newRow("daily: a time the clock skips runs after the jump")
        << u"daily=02:30"_s << u"2026-03-28 02:30"_s << u"2026-03-28 03:00"_s
        << u"2026-03-29 03:30"_s;
    QTest::newRow("not a schedule")
        << u"every=6x"_s << QString() << u"2026-06-01 09:00"_s << QString();
    QTest::newRow("no times") << u"daily=8点"_s << QString() << u"2026-06-01 09:00"_s << QString();
}

void TestSchedule::nextDue()
{
    QFETCH(QString, written);
    QFETCH(QString, lastRun);
    QFETCH(QString, now);
    QFETCH(QString, due);
    const std::optional<QDateTime> next =
        scheduleOf(written).nextDue(lastRun.isEmpty() ? QDateTime() : at(lastRun), at(now));
    QCOMPARE(next ? next->toString(u"yyyy-MM-dd HH:mm"_s) : QString(), due);
}

void TestSchedule::cronLines_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<bool>("exact");
    QTest::newRow("30m") << u"every=30m"_s << QStringList{u"0,30 * * * *"_s} << true;
    QTest::newRow("6h") << u"every=6h"_s << QStringList{u"0 0,6,12,18 * * *"_s} << true;
    QTest::newRow("90m: two lines")
        << u"every=90m"_s
        << QStringList{u"0 0,3,6,9,12,15,18,21 * * *"_s, u"30 1,4,7,10,13,16,19,22 * * *"_s}
        << true;
    QTest::newRow("7h: restarts at midnight")
        << u"every=7h"_s << QStringList{u"0 0,7,14,21 * * *"_s} << false;
    QTest::newRow("1d") << u"every=1d"_s << QStringList{u"0 0 * * *"_s} << true;
    QTest::newRow("2d") << u"every=2d"_s << QStringList{u"0 0 */2 * *"_s} << false;
    QTest::newRow("daily, two minutes")
        << u"daily=08:00,20:00,08:30"_s << QStringList{u"0 8,20 * * *"_s, u"30 8 * * *"_s} << true;
}

void TestSchedule::cronLines()
{
    QFETCH(QString, written);
    QFETCH(QStringList, times);
    QFETCH(bool, exact);
    const ScheduleUnits units{u"/usr/bin/caiji"_s, u"/home/u/采集 100%"_s, u"新闻's"_s,
                              scheduleOf(written)};
    QStringList lines = units.cronLines();
    QCOMPARE(!lines.isEmpty() && lines.first().startsWith(u'#'), !exact);
    if (!exact)
        lines.removeFirst();
    const QString command = u" '/usr/bin/caiji' run --quiet --workspace '/home/u/采集 100\\%' "
                            "'新闻'\\''s'"_s;
    QStringList expected;
    for (const QString &time : times)
        expected << time + command;
    lines.sort();
    expected.sort();
    QCOMPARE(lines, expected);
}

void TestSchedule::scheduleCommand()
{
    // A name with a blank, a quote, a percent sign and Chinese.
    const QString task = u"新闻 \"晚报\" 100%"_s;
    caiji::test::TempWorkspace workspace;
    QVERIFY(workspace.addTask(task, u"ur=[[1|http://127.0.0.1:9/|1|1|1|]]uc=[[1]]"_s));
    QTemporaryDir config;
    QProcessEnvironment environment;
    environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
    // No systemctl: the crontab lines instead, and the units are still written.
    environment.insert(u"PATH"_s, config.path());
    const auto caiji = [&](const QStringList &arguments) {
        return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY),
                                       QStringList{u"schedule"_s} + arguments, 30000, environment);
    };
    QCOMPARE(caiji({u"--workspace"_s, workspace.root(), task}).exitCode, 2); // no schedule yet
    QFile ini(workspace.taskDir(task) + u"/data/settings.ini"_s);
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[schedule]\ndaily=08:00\n") > 0);
    ini.close();

    const caiji::test::ProgramRun written = caiji({u"--workspace"_s, workspace.root(), task});
    QCOMPARE(written.exitCode, 0);
    QVERIFY2(written.out.contains("\n0 8 * * * '"), written.out.constData());
    const QString unitDir = config.path() + u"/systemd/user"_s;
    const ScheduleUnits units{QStringLiteral(CAIJI_BINARY), workspace.root(), task, {}};
    const QString base = unitDir + u'/' + units.unitName();
    QVERIFY(QFile::exists(base + u".timer"_s) && QFile::exists(base + u".service"_s));
    // systemd names the unit as we do, and finds nothing wrong in it.
    if (const std::optional<QString> escaped = systemdTool(u"systemd-escape"_s, {task}))
        QCOMPARE(u"caiji-"_s + *escaped, units.unitName());
    int status = -1;
    if (const std::optional<QString> verdict = systemdTool(
            u"systemd-analyze"_s, {u"verify"_s, base + u".service"_s, base + u".timer"_s}, &status))
        QVERIFY2(status == 0 && verdict->isEmpty(), qPrintable(*verdict));

    const caiji::test::ProgramRun listed = caiji({u"--list"_s});
    QVERIFY2(listed.out.startsWith(QByteArray(task.toUtf8() + "\t每天08:00\t")),
             listed.out.constData());
    QCOMPARE(caiji({u"--remove"_s, u"--workspace"_s, workspace.root(), task}).exitCode, 0);
    QVERIFY(QDir(unitDir).isEmpty());
    QCOMPARE(caiji({u"--remove"_s, u"--workspace"_s, workspace.root(), task}).exitCode, 2);
}

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
