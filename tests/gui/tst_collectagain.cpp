// Collecting again: when a schedule makes a task due, tasks handed over by
// `caiji run` join the window's queue once, the newest run's rows are browsed,
// edited, deleted and exported on their own, and a run's end is told of.
#include "engine/scheduledtasks.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "programrun.h"
#include "records/recordstore.h"
#include "tasks/instancelock.h"
#include "tasks/networksettings.h"
#include "windowrig.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestCollectAgain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void due_data();
    void due();
    void handOver_data();
    void handOver();
    void newestRun_data();
    void newestRun();
    void notices_data();
    void notices();
};

namespace {

QString pageUrl(int n)
{
    return u"http://h/p%1.htm"_s.arg(n);
}

QStringList lines(const QList<int> &numbers)
{
    QStringList result;
    for (int n : numbers)
        result << u'^' + pageUrl(n) + u"^第%1条"_s.arg(n);
    return result;
}

// Scheme one over p1..p`pages`, each page's record lines({n}), and settings.ini.
bool addTask(WindowRig &rig, const QString &name, int pages, const QString &settings = {})
{
    const QString text = u"ur=[[1|http://h/p|1|%1|1|.htm]]uc=[[2]]ds=[[1|0|0|0|100|20]]"
                         "<getm1>w1=[[1]]w2=[[1]]w3=[[1]]w4=[[<h1>^</h1>^<h1>^</h1>^-1^0]]"
                         "w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]<getm1>"_s;
    QFile file(NetworkSettings::fileIn(rig.workspace.taskDir(name) + u"/data"_s));
    return rig.workspace.addTask(name, text.arg(pages)) && file.open(QIODevice::WriteOnly) &&
           file.write(settings.toUtf8()) >= 0;
}

// Only-new runs of task t that stored these pages' records.
bool storeRuns(WindowRig &rig, const QList<QList<int>> &runs)
{
    RecordStore store;
    for (const QList<int> &run : runs) {
        if (!store.isOpen() && !store.create(rig.workspace.databaseFile(u"t"_s), 2, true))
            return false;
        store.startRun();
        for (int n : run)
            store.append(lines({n}).first(), pageUrl(n));
    }
    return true;
}

// Serves p1..p`pages`, the last `failing` failing, until every queued task is complete.
bool runAll(WindowRig &rig, int pages, int failing)
{
    for (int n = 1; n <= pages; ++n) {
        if (n > pages - failing)
            rig.contentFetcher->setFailing(pageUrl(n));
        else
            rig.contentFetcher->setPage(pageUrl(n), u"<h1>第%1条</h1>"_s.arg(n).toUtf8());
    }
    CollectionEngine &engine = rig.window->engine();
    for (int tick = 0; tick < 300 && !engine.allQueuedComplete(); ++tick) {
        engine.schedulerTick();
        engine.collectorTick();
        settle(*rig.contentFetcher);
    }
    return engine.allQueuedComplete();
}

} // namespace

void TestCollectAgain::due_data()
{
    QTest::addColumn<QString>("schedule"); // "DAILY": two hours after the start
    QTest::addColumn<bool>("ran");         // a run started as the watch did
    QTest::addColumn<int>("noted");        // hours on, the window started it; -1: never
    QTest::addColumn<int>("checkAt");      // hours on
    QTest::addColumn<bool>("queued");
    QTest::addColumn<bool>("due");
    QTest::newRow("every, due") << u"every=6h"_s << true << -1 << 7 << false << true;
    QTest::newRow("every, not yet") << u"every=6h"_s << true << -1 << 5 << false << false;
    QTest::newRow("already queued") << u"every=6h"_s << true << -1 << 7 << true << false;
    QTest::newRow("window started it since") << u"every=6h"_s << true << 4 << 7 << false << false;
    QTest::newRow("malformed") << u"every=6x"_s << true << -1 << 99 << false << false;
    QTest::newRow("no schedule") << QString() << false << -1 << 99 << false << false;
    QTest::newRow("never ran, every") << u"every=6h"_s << false << -1 << 0 << false << true;
    QTest::newRow("never ran, daily before") << u"DAILY"_s << false << -1 << 1 << false << false;
    QTest::newRow("never ran, daily passed") << u"DAILY"_s << false << -1 << 3 << false << true;
}

void TestCollectAgain::due()
{
    QFETCH(QString, schedule);
    QFETCH(bool, ran);
    QFETCH(int, noted);
    QFETCH(int, checkAt);
    QFETCH(bool, queued);
    QFETCH(bool, due);

    WindowRig rig; // its workspace only
    QVERIFY(addTask(rig, u"t"_s, 1) && (!ran || storeRuns(rig, {{}})));
    const QDateTime start = ran ? RecordStore::lastRunStarted(rig.workspace.databaseFile(u"t"_s))
                                : QDateTime::currentDateTime();
    schedule.replace(u"DAILY"_s, u"daily="_s + start.addSecs(7200).toString(u"HH:mm"_s));
    QVERIFY(addTask(rig, u"t"_s, 1, u"[schedule]\n"_s + schedule));
    int hours = 0;
    ScheduledTasks tasks(
        rig.workspace.workspace(), [queued](const QString &) { return queued; },
        [&] { return start.addSecs(hours * 3600); });
    QSignalSpy spy(&tasks, &ScheduledTasks::due);
    if ((hours = noted) >= 0)
        tasks.noteStarted(u"t"_s);
    hours = checkAt;
    tasks.check();
    QCOMPARE(spy, due ? QList<QVariantList>{{u"t"_s}} : QList<QVariantList>());
    QCOMPARE(tasks.scheduleOf(u"t"_s).error.isEmpty(), !schedule.endsWith(u'x'));
}

void TestCollectAgain::handOver_data()
{
    QTest::addColumn<bool>("runFirst");      // else only the first task starts
    QTest::addColumn<QStringList>("handed"); // one `caiji run` each
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("status");
    QTest::newRow("waiting") << false << QStringList{u"b"_s} << u"a,b"_s << u"已在队列中：b"_s;
    QTest::newRow("running") << false << QStringList{u"a"_s} << u"a,b"_s << u"已在队列中：a"_s;
    QTest::newRow("complete, queued once")
        << true << QStringList{u"a"_s, u"a"_s} << u"a,b,a"_s << u"已在队列中：a"_s;
    // The program refuses names of no task; a task deleted meanwhile is one.
    QTest::newRow("no such task") << true << QStringList{u"zz"_s} << u"a,b"_s
                                  << u"没有这些任务：zz"_s;
}

void TestCollectAgain::handOver()
{
    QFETCH(bool, runFirst);
    QFETCH(QStringList, handed);
    QFETCH(QString, queue);
    QFETCH(QString, status);

    WindowRig rig;
    QVERIFY(addTask(rig, u"a"_s, 1) && addTask(rig, u"b"_s, 1) && rig.start());
    InstanceLock lock(rig.workspace.root());
    QVERIFY(lock.acquire() && lock.listenForOtherCopies());
    connect(&lock, &InstanceLock::queueRequested, rig.window.get(), &MainWindow::queueTasks);
    QVERIFY(runFirst ? runAll(rig, 1, 0) : (rig.window->engine().schedulerTick(), true));
    for (const QString &task : handed) {
        if (task == u"zz") {
            Q_EMIT lock.queueRequested({task});
            continue;
        }
        const ProgramRun run = runProgram(QStringLiteral(CAIJI_BINARY),
                                          {u"run"_s, u"--workspace"_s, rig.workspace.root(), task});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(QString::fromUtf8(run.err).contains(u"already waiting: "_s + task),
                 run.err.constData());
    }
    QCOMPARE(rig.window->engine().state().taskQueue.join(u','), queue);
    QCOMPARE(rig.window->statusBar()->currentMessage(), status);
}

void TestCollectAgain::newestRun_data()
{
    QTest::addColumn<QString>("command"); // with the newest run's second record shown
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<QList<int>>("listed");
    const QList<int> all{1, 2, 3, 4, 5};
    QTest::newRow("shown") << QString() << all << QList<int>{4, 5};
    QTest::newRow("updated") << u"Command3"_s << all << QList<int>{4, 5};
    QTest::newRow("deleted") << u"Command4"_s << QList<int>{1, 2, 3, 4} << QList<int>{4};
    QTest::newRow("exported") << u"CD15"_s << all << QList<int>{4, 5};
    QTest::newRow("every row again") << u"NewestRunOnly"_s << all << all;
}

void TestCollectAgain::newestRun()
{
    QFETCH(QString, command);
    QFETCH(QList<int>, stored);
    QFETCH(QList<int>, listed);

    WindowRig rig;
    QVERIFY(addTask(rig, u"t"_s, 1) && storeRuns(rig, {{1, 2, 3}, {4, 5}}) && rig.start());
    auto *newestOnly = rig.window->findChild<QCheckBox *>(u"NewestRunOnly"_s);
    WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    QVERIFY(newestOnly->isVisible() && !newestOnly->isChecked());
    QTest::mouseClick(newestOnly, Qt::LeftButton);
    WindowRig::doubleClick(rig.view(u"List10"_s), 1);
    QCOMPARE(rig.display()->pt(1)->toPlainText(), u"第5条"_s);
    rig.display()->pt(1)->setPlainText(u"改"_s);

    rig.shell.fileNames = {rig.settings.filePath(u"out.csv"_s)};
    if (command == u"CD15")
        rig.action(command)->trigger();
    else if (!command.isEmpty())
        QTest::mouseClick(rig.window->findChild<QAbstractButton *>(command), Qt::LeftButton);
    if (command == u"CD15") // the count is what the export wrote
        QVERIFY(rig.shell.messages.value(0).startsWith(u"已导出2条记录（任务“t”在 "_s));
    const auto edited = [&](QList<int> numbers) {
        return lines(numbers).replaceInStrings(command == u"Command3" ? u"第5条"_s : u"-"_s,
                                               u"改"_s);
    };
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"t"_s), 2), edited(stored));
    QCOMPARE(rig.window->browser().list11(), edited(listed));
    QCOMPARE(newestOnly->text(), u"只看最近一次新增（%1条）"_s.arg(stored.size() - 3));
}

void TestCollectAgain::notices_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("failing");  // the last pages fail
    QTest::addColumn<bool>("earlier"); // an earlier run stored p1
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QStringList>("clicked"); // the records listed, or the text shown
    QTest::newRow("added, newest run listed")
        << 3 << 0 << true << u"t：新增2条记录"_s << lines({2, 3});
    QTest::newRow("added and failed")
        << 2 << 1 << false << u"t：新增1条记录，失败1项"_s << lines({1});
    QTest::newRow("only failed") << 1 << 1 << false << u"t：采集完成，失败1项"_s
                                 << QStringList{u"t：最近一次采集失败1项（类型、原因、地址）"_s};
    QTest::newRow("nothing new") << 1 << 0 << true << QString() << QStringList();
}

void TestCollectAgain::notices()
{
    QFETCH(int, pages);
    QFETCH(int, failing);
    QFETCH(bool, earlier);
    QFETCH(QString, notice);
    QFETCH(QStringList, clicked);

    WindowRig rig;
    QVERIFY(addTask(rig, u"t"_s, pages, u"[collect]\nonlyNew=true\n[schedule]\nevery=6h\n"_s));
    QVERIFY((!earlier || storeRuns(rig, {{1}})) && rig.start());
    const QDateTime next = QDateTime::currentDateTime().addSecs(6 * 3600);
    QVERIFY(runAll(rig, pages, failing));
    // The tip tells when the task runs again (the minute may turn meanwhile).
    const QString tip = rig.list(u"List5"_s)->item(0)->toolTip().remove(u"定时：每6小时，下次 "_s);
    QVERIFY2(qAbs(QDateTime::fromString(tip, u"yyyy-MM-dd HH:mm"_s).secsTo(next)) <= 90,
             qPrintable(tip));

    QCOMPARE(rig.shell.notices, notice.isEmpty() ? QStringList() : QStringList{notice});
    if (notice.isEmpty())
        return;
    rig.shell.noticeClick();
    QCOMPARE(failing == pages ? rig.shell.shownTexts.mid(0, 1) : rig.window->browser().list11(),
             clicked);
}

QTEST_MAIN(TestCollectAgain)
#include "tst_collectagain.moc"
