// The scheduler driven tick by tick: task starts, the stall rule, status
// lines, seeding of both schemes, pause and continue, and what a task start
// and a task completion must reset or stop.
#include "enginerig.h"
#include "records/recordstore.h"
#include "records/runhistory.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstTaskStartsAtFirstTick();
    void stallCompletesAndStartsNextInSameTick();
    void statusLines_data();
    void statusLines();
    void statusCountsProgress();
    void emptyTaskAfterStartUpCompletesAtNextTick();
    void nextTaskGetsItsOwnStallWindow();
    void seeding_data();
    void seeding();
    void seedingStopsAtListLimit();
    void pauseChangesOnlyEnabled();
    void pausedEngineDoesNotComplete();
    void settingsDoNotLeakIntoNextTask();
    void taskWithoutTableDoesNotStart_data();
    void taskWithoutTableDoesNotStart();
    void completionStopsTimersAndFetches();
    void pendingCompletionDroppedAtCompletion();
    void lateCompletionOfEarlierRunIgnored_data();
    void lateCompletionOfEarlierRunIgnored();
    void lateCompletionChangesNothing_data();
    void lateCompletionChangesNothing();
    void rerunEmptiesDatabaseAndPages();
};

namespace {

const QString Site = u"http://www.site.com/"_s;

// Level 1 cuts the title after the page address: "^url^title".
QString titleSection()
{
    return sectionText(1, {u"1"_s,
                           u"1"_s,
                           u"1"_s,
                           u"<title>^</title>^<title>^</title>^-1^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

QString schemeOne(int last)
{
    return taskFileText(u"1|"_s + Site + u"p|1|"_s + QString::number(last) + u"|1|.htm"_s, u"2"_s,
                        titleSection());
}

QByteArray titlePage(const QString &title)
{
    return "<html><head><title>" + title.toUtf8() +
           "</title><meta charset=utf-8></head><body>text</body></html>";
}

void servePages(FakeFetcher &fetcher, int last)
{
    for (int n = 1; n <= last; ++n)
        fetcher.setPage(Site + u"p"_s + QString::number(n) + u".htm"_s,
                        titlePage(u"T"_s + QString::number(n)));
}

QString completeLine(const QString &name)
{
    return CollectionEngine::paddedName(name) + CollectionEngine::completeMarker();
}

} // namespace

void TestScheduler::firstTaskStartsAtFirstTick()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    QVERIFY(rig.workspace.addTask(u"b"_s, schemeOne(2)));
    QCOMPARE(rig.engine.startUp(), QStringList({u"a"_s, u"b"_s}));
    QCOMPARE(rig.engine.timer3().interval(), 1000);
    QCOMPARE(rig.state().taskIndex, -1);

    rig.engine.schedulerTick();
    QCOMPARE(rig.state().taskIndex, 0);
    QVERIFY(rig.state().running);
    QCOMPARE(rig.state().taskName, u"a"_s);
    QCOMPARE(rig.state().contentQueue.size(), 3);
    QCOMPARE(rig.engine.timer1().interval(), 1000);
    QCOMPARE(rig.engine.timer2().interval(), 0);
    // The status line is first written at the next tick.
    QCOMPARE(rig.state().runList, QStringList({u"a"_s, u"b"_s}));
}

void TestScheduler::stallCompletesAndStartsNextInSameTick()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    QVERIFY(rig.workspace.addTask(u"b"_s, schemeOne(2)));
    rig.engine.startUp();
    QSignalSpy completed(&rig.engine, &CollectionEngine::taskCompleted);
    QSignalSpy started(&rig.engine, &CollectionEngine::taskStarted);

    rig.engine.schedulerTick(); // starts a
    rig.engine.schedulerTick(); // the seeding changed the signature
    QCOMPARE(rig.state().stallCount, 0);
    for (int i = 1; i <= 20; ++i) {
        rig.engine.schedulerTick();
        QCOMPARE(rig.state().stallCount, i);
        QCOMPARE(rig.state().taskIndex, 0);
        QVERIFY(!rig.state().runList[0].contains(CollectionEngine::completeMarker()));
    }
    QCOMPARE(completed.size(), 0);
    QCOMPARE(started.size(), 1);

    rig.engine.schedulerTick(); // the 21st unchanged tick
    QCOMPARE(rig.state().runList[0], completeLine(u"a"_s));
    QCOMPARE(completed.size(), 1);
    QCOMPARE(started.size(), 2);
    QCOMPARE(rig.state().taskIndex, 1);
    QCOMPARE(rig.state().taskName, u"b"_s);
    QCOMPARE(rig.state().contentQueue.size(), 2);

    // A complete line is never rewritten.
    rig.schedulerTicks(3);
    QCOMPARE(rig.state().runList[0], completeLine(u"a"_s));
}

void TestScheduler::statusLines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ur");
    QTest::addColumn<QString>("line");

    const QString one = u"[正在采集][方案一]目标3请求0完成0,文件0,记录0"_s;
    QTest::newRow("scheme one") << u"short"_s << u"1|P|1|3|1|S"_s
                                << u"short               "_s + one;
    QTest::newRow("scheme two")
        << u"two"_s << u"2|http://www.site.com/|10|||||||"_s
        << u"two                 [正在采集][方案二]站内1请求0,目标0请求0完成0,文件0,记录0"_s;
    QTest::newRow("long name cut")
        << u"abcdefghijklmnopqrstuvwxyz"_s << u"1|P|1|3|1|S"_s << u"abcdefghijklmnopqrst"_s + one;
    QTest::newRow("exactly 20") << u"abcdefghijklmnopqrst"_s << u"1|P|1|3|1|S"_s
                                << u"abcdefghijklmnopqrst"_s + one;
    QTest::newRow("chinese name") << u"中文任务名"_s << u"1|P|1|3|1|S"_s
                                  << u"中文任务名               "_s + one;
    // Both schemes are seeded; the scheme-two line is the one shown.
    QTest::newRow("field 0 not a number")
        << u"x"_s << u"x|http://www.site.com/|1|2|1|"_s
        << u"x                   [正在采集][方案二]站内1请求0,目标2请求0完成0,文件0,记录0"_s;
}

void TestScheduler::statusLines()
{
    QFETCH(QString, name);
    QFETCH(QString, ur);
    QFETCH(QString, line);
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(name, taskFileText(ur, u"2"_s)));
    rig.engine.queueTask(name);
    rig.schedulerTicks(2);
    QCOMPARE(rig.state().runList.value(0), line);
}

void TestScheduler::statusCountsProgress()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    servePages(rig.contentFetcher, 2);
    rig.contentFetcher.setHanging(Site + u"p3.htm"_s);
    rig.engine.queueTask(u"a"_s);
    QSignalSpy recordCount(&rig.engine, &CollectionEngine::recordCountChanged);
    rig.engine.schedulerTick();
    rig.collectorRound();
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().runList[0], CollectionEngine::paddedName(u"a"_s) +
                                         u"[正在采集][方案一]目标3请求3完成2,文件0,记录2"_s);
    QVERIFY(!recordCount.isEmpty());
    QCOMPARE(recordCount.last().at(0).toInt(), 2);
}

void TestScheduler::emptyTaskAfterStartUpCompletesAtNextTick()
{
    // Scheme 3 seeds nothing, and the stall count is not reset at a start: the
    // signature is the one before the start, so the task is complete at once.
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskFileText(u"3|P|1|3|1|S"_s, u"2"_s)));
    QVERIFY(rig.workspace.addTask(u"b"_s, schemeOne(3)));
    rig.engine.startUp();
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().taskIndex, 0);
    QVERIFY(rig.state().contentQueue.isEmpty());
    QVERIFY(rig.state().listQueue.isEmpty());
    QCOMPARE(rig.engine.timer1().interval(), 1000);
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().runList[0], completeLine(u"a"_s));
    QCOMPARE(rig.state().taskIndex, 1);
}

void TestScheduler::nextTaskGetsItsOwnStallWindow()
{
    // Task a's server never answers; b has as many pages, so when a ends
    // the counters read as b's first do.
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    QVERIFY(rig.workspace.addTask(u"b"_s, schemeOne(3)));
    for (int n = 1; n <= 3; ++n)
        rig.contentFetcher.setHanging(Site + u"p%1.htm"_s.arg(n));
    rig.engine.startUp();
    rig.engine.schedulerTick();
    rig.collectorRound();
    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QCOMPARE(rig.state().taskName, u"b"_s);
    rig.engine.schedulerTick();
    QVERIFY(rig.state().running);
    QCOMPARE(rig.state().stallCount, 0);
}

void TestScheduler::seeding_data()
{
    QTest::addColumn<QString>("ur");
    QTest::addColumn<QStringList>("content");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("timer2");

    QTest::newRow("1..3 step 1") << u"1|P|1|3|1|S"_s
                                 << QStringList{u"1|P1S|"_s, u"1|P2S|"_s, u"1|P3S|"_s}
                                 << QStringList() << 0;
    QTest::newRow("counts down") << u"1|P|3|1|-1|S"_s
                                 << QStringList{u"1|P3S|"_s, u"1|P2S|"_s, u"1|P1S|"_s}
                                 << QStringList() << 0;
    QTest::newRow("step 2 stops before last")
        << u"1|P|1|6|2|"_s << QStringList{u"1|P1|"_s, u"1|P3|"_s, u"1|P5|"_s} << QStringList() << 0;
    QTest::newRow("fraction step")
        << u"1|P|0|1|0.5|"_s << QStringList{u"1|P0|"_s, u"1|P0.5|"_s, u"1|P1|"_s} << QStringList()
        << 0;
    QTest::newRow("tenths without binary error")
        << u"1|P|0.2|0.4|0.1|"_s << QStringList{u"1|P0.2|"_s, u"1|P0.3|"_s, u"1|P0.4|"_s}
        << QStringList() << 0;
    QTest::newRow("large numbers in plain decimal")
        << u"1|P|999999|1000001|1|S"_s
        << QStringList{u"1|P999999S|"_s, u"1|P1000000S|"_s, u"1|P1000001S|"_s} << QStringList()
        << 0;
    QTest::newRow("step 0 seeds nothing")
        << u"1|P|1|3|0|S"_s << QStringList() << QStringList() << 0;
    QTest::newRow("first after last") << u"1|P|5|3|1|S"_s << QStringList() << QStringList() << 0;
    QTest::newRow("range not numbers")
        << u"1|P|a|3|1|S"_s << QStringList{u"1|PS|"_s} << QStringList() << 0;
    QTest::newRow("scheme 3") << u"3|P|1|3|1|S"_s << QStringList() << QStringList() << 0;
    QTest::newRow("scheme two") << u"2|http://www.site.com/|10|||||||"_s << QStringList()
                                << QStringList{u"http://www.site.com/"_s} << 1000;
    QTest::newRow("field 0 not a number seeds both")
        << u"x|http://www.site.com/|1|2|1|"_s
        << QStringList{u"1|http://www.site.com/1|"_s, u"1|http://www.site.com/2|"_s}
        << QStringList{u"http://www.site.com/"_s} << 1000;
    QTest::newRow("blank field 0 seeds both")
        << u"|P|1|1|1|"_s << QStringList{u"1|P1|"_s} << QStringList{u"P"_s} << 1000;
}

void TestScheduler::seeding()
{
    QFETCH(QString, ur);
    QFETCH(QStringList, content);
    QFETCH(QStringList, list);
    QFETCH(int, timer2);
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskFileText(ur, u"2"_s)));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().contentQueue, content);
    QCOMPARE(rig.state().listQueue, list);
    QCOMPARE(rig.engine.timer1().interval(), 1000);
    QCOMPARE(rig.engine.timer2().interval(), timer2);
}

void TestScheduler::seedingStopsAtListLimit()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskFileText(u"1|P|1|40000|1|"_s, u"2"_s)));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().contentQueue.size(), MaxListEntries);
    QCOMPARE(rig.state().contentQueue.last(), u"1|P32767|"_s);
}

void TestScheduler::pauseChangesOnlyEnabled()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();

    rig.engine.pause();
    QVERIFY(rig.engine.isPaused());
    for (EngineTimer *timer : {&rig.engine.timer1(), &rig.engine.timer2(), &rig.engine.timer3()})
        QVERIFY(!timer->isEnabled());
    QCOMPARE(rig.engine.timer1().interval(), 1000);
    QCOMPARE(rig.engine.timer2().interval(), 0);
    QCOMPARE(rig.engine.timer3().interval(), 1000);

    rig.engine.resume();
    QVERIFY(!rig.engine.isPaused());
    QVERIFY(rig.engine.timer1().isTicking());
    QVERIFY(!rig.engine.timer2().isTicking()); // interval 0 stays idle
    QVERIFY(rig.engine.timer3().isTicking());
}

void TestScheduler::pausedEngineDoesNotComplete()
{
    // Real timers at 5 ms: 21 ticks take about 0.1 s.
    EngineRig rig({5, true});
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(1)));
    rig.contentFetcher.setHanging(Site + u"p1.htm"_s);
    rig.engine.queueTask(u"a"_s);
    QTRY_COMPARE_WITH_TIMEOUT(rig.state().taskIndex, 0, 5000);
    rig.engine.pause();
    const int stall = rig.state().stallCount;
    QTest::qWait(300);
    QCOMPARE(rig.state().stallCount, stall);
    QVERIFY(rig.state().running);
    QCOMPARE(rig.state().runList[0].contains(CollectionEngine::completeMarker()), false);

    rig.engine.resume();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.allQueuedComplete(), 10000);
    QCOMPARE(rig.state().runList[0], completeLine(u"a"_s));
    // The page that never came failed.
    QCOMPARE(rig.engine.summary(0).tally.pagesFailed, 1);
}

void TestScheduler::settingsDoNotLeakIntoNextTask()
{
    EngineRig rig;
    const QString alists = u"a3=[[1|<|>||||]]\r\n"_s + sectionText(2, {u"1"_s, u"0"_s});
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(1) + alists));
    QVERIFY(rig.workspace.addTask(u"b"_s, taskFileText(u"3|"_s, u"2"_s)));
    rig.contentFetcher.setPage(Site + u"p1.htm"_s, titlePage(u"T1"_s));
    rig.engine.startUp();
    rig.engine.schedulerTick();
    QCOMPARE(rig.state().definition.alist[3], u"1|<|>||||"_s);
    QVERIFY(!rig.state().definition.section[2].isEmpty());
    rig.collectorRound(); // fills the w values from section 1
    QCOMPARE(rig.state().w[0], u"1"_s);

    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QCOMPARE(rig.state().taskName, u"b"_s);
    QVERIFY(rig.state().definition.alist[3].isEmpty());
    QVERIFY(rig.state().definition.section[1].isEmpty());
    QVERIFY(rig.state().definition.section[2].isEmpty());
    QCOMPARE(rig.state().w, WValues());
}

void TestScheduler::taskWithoutTableDoesNotStart_data()
{
    QTest::addColumn<QByteArray>("taskFile"); // empty: no file; "/": a folder in its place
    QTest::addColumn<QString>("reason");
    const QByteArray ur = "ur=[[1|http://www.site.com/p|1|3|1|.htm]]\r\n";
    QTest::newRow("missing file") << QByteArray() << u"无法读取任务文件"_s;
    QTest::newRow("a folder in its place") << "/"_ba << u"无法读取任务文件"_s;
    QTest::newRow("uc too large") << ur + "uc=[[100000]]" << u"uc=[[100000]]不是"_s;
    QTest::newRow("uc zero") << ur + "uc=[[0]]" << u"uc=[[0]]不是"_s;
    QTest::newRow("uc negative") << ur + "uc=[[-3]]" << u"uc=[[-3]]不是"_s;
    QTest::newRow("NUL inside uc") << ur + QByteArray("uc=[[1\0002]]", 10) << u"不是1到32767"_s;
    QTest::newRow("no uc") << ur << u"没有uc"_s;
}

void TestScheduler::taskWithoutTableDoesNotStart()
{
    QFETCH(QByteArray, taskFile);
    QFETCH(QString, reason);
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(3)));
    QVERIFY(rig.workspace.addTaskFolders(u"b"_s));
    if (taskFile == "/")
        QVERIFY(QDir().mkpath(rig.workspace.workspace().taskFile(u"b"_s)));
    else if (!taskFile.isEmpty())
        QVERIFY(rig.workspace.addTaskBytes(u"b"_s, taskFile));
    // A database of an earlier run must survive the refused start.
    RecordStore earlier;
    QVERIFY(earlier.create(rig.workspace.databaseFile(u"b"_s), 1));
    QVERIFY(earlier.append(u"^kept"_s));
    earlier.close();
    servePages(rig.contentFetcher, 3);
    QSignalSpy refused(&rig.engine, &CollectionEngine::taskNotStarted);
    rig.engine.startUp();
    rig.engine.schedulerTick();
    rig.collectorRound();
    QCOMPARE(rig.runRecords.size(), 3);

    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused[0][1].toString(), u"b"_s);
    QVERIFY2(refused[0][2].toString().contains(reason), qPrintable(refused[0][2].toString()));
    QCOMPARE(rig.state().runList[1], CollectionEngine::paddedName(u"b"_s) +
                                         CollectionEngine::notStartedMarker() +
                                         refused[0][2].toString());
    QVERIFY(rig.engine.allQueuedComplete());
    QVERIFY(!rig.state().running);
    QVERIFY(rig.state().definition.schemeField.isEmpty());
    QVERIFY(rig.state().contentQueue.isEmpty());
    QCOMPARE(rig.engine.timer1().interval(), 0);
    QVERIFY(!rig.engine.summary(1).started);
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"b"_s), 1), QStringList{u"^kept"_s});

    // Later ticks leave the line alone.
    rig.schedulerTicks(3);
    QCOMPARE(rig.state().runList[1].contains(CollectionEngine::notStartedMarker()), true);
}

void TestScheduler::completionStopsTimersAndFetches()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(2)));
    rig.contentFetcher.setHanging(Site + u"p1.htm"_s);
    rig.contentFetcher.setHanging(Site + u"p2.htm"_s);
    rig.contentFetcher.setPage(Site + u"p1.htm"_s, titlePage(u"T1"_s));
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calls().size(), 2);

    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QVERIFY(!rig.state().running);
    QCOMPARE(rig.engine.timer1().interval(), 0);
    QCOMPARE(rig.engine.timer2().interval(), 0);
    QVERIFY(rig.contentFetcher.abandonCount() > 0);
    QVERIFY(rig.listFetcher.abandonCount() > 0);

    // A transfer that still finishes is not taken into the finished task.
    QVERIFY(rig.contentFetcher.deliver(Site + u"p1.htm"_s));
    QCOMPARE(rig.state().pagesDone, 0);
    QVERIFY(rig.runRecords.isEmpty());
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"a"_s), 2), QStringList());
}

void TestScheduler::pendingCompletionDroppedAtCompletion()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(2)));
    servePages(rig.contentFetcher, 2);
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    rig.engine.collectorTick(); // completions scheduled, not yet delivered
    QCOMPARE(rig.contentFetcher.pendingCount(), 2);
    QVERIFY(rig.ticksUntilComplete(0) > 0);
    settle(rig.contentFetcher);
    QTest::qWait(0);
    QCOMPARE(rig.contentFetcher.deliveredCount(), 0);
    QCOMPARE(rig.state().pagesDone, 0);
    QVERIFY(rig.runRecords.isEmpty());
}

void TestScheduler::lateCompletionOfEarlierRunIgnored_data()
{
    QTest::addColumn<bool>("slotReused");
    QTest::newRow("slot idle in the new run") << false;
    QTest::newRow("slot busy in the new run") << true;
}

void TestScheduler::lateCompletionOfEarlierRunIgnored()
{
    QFETCH(bool, slotReused);
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(1)));
    const QString other = u"http://other.site.com/"_s;
    QVERIFY(rig.workspace.addTask(
        u"b"_s, taskFileText(u"1|"_s + other + u"q|1|1|1|.htm"_s, u"2"_s, titleSection())));
    rig.contentFetcher.setPage(Site + u"p1.htm"_s, titlePage(u"from a"_s));
    rig.contentFetcher.setHanging(Site + u"p1.htm"_s);
    rig.contentFetcher.setPage(other + u"q1.htm"_s, titlePage(u"from b"_s));
    rig.contentFetcher.setHanging(other + u"q1.htm"_s);
    rig.engine.startUp();
    rig.engine.schedulerTick();
    rig.collectorRound();
    QCOMPARE(rig.contentFetcher.calls().size(), 1);
    QCOMPARE(rig.contentFetcher.calls()[0].index, 1);

    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QCOMPARE(rig.state().taskName, u"b"_s);
    if (slotReused) {
        rig.collectorRound();
        QCOMPARE(rig.contentFetcher.calls().size(), 2);
        QCOMPARE(rig.contentFetcher.calls()[1].index, 1);
    }

    QVERIFY(rig.contentFetcher.deliver(Site + u"p1.htm"_s));
    QCOMPARE(rig.state().pagesDone, 0);
    QVERIFY(rig.runRecords.isEmpty());
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"b"_s), 2), QStringList());

    if (slotReused) {
        // The new run's own fetch on that slot still counts.
        QVERIFY(rig.contentFetcher.deliver(other + u"q1.htm"_s));
        QCOMPARE(rig.runRecords, QStringList{u"^"_s + other + u"q1.htm^from b"_s});
        QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"b"_s), 2), rig.runRecords);
    }
}

void TestScheduler::lateCompletionChangesNothing_data()
{
    // Level 1 cuts the title and a link of `level` from <div class="next">,
    // which links page n to "x" n `linked` (none when empty); the fetch of
    // `hanging` outlives the task.
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("linked");
    QTest::addColumn<QString>("hanging");
    QTest::newRow("page that yields a record") << 0 << QString() << u"p2.htm"_s;
    QTest::newRow("page that queues a deeper page") << 2 << u".htm"_s << u"p2.htm"_s;
    QTest::newRow("deeper page") << 2 << u".htm"_s << u"x2.htm"_s;
    QTest::newRow("download") << 0 << u".png"_s << u"x2.png"_s;
}

void TestScheduler::lateCompletionChangesNothing()
{
    QFETCH(int, level);
    QFETCH(QString, linked);
    QFETCH(QString, hanging);
    const QString fields = u"<title>^</title>^<title>^</title>^-1^0|"
                           u"<div class=\"next\">^</div>^href=\"^\"^"_s +
                           QString::number(level) + u"^0"_s;
    const QString sections =
        sectionText(1, {u"1"_s, u"1"_s, u"2"_s, fields, u"0"_s, {}, u"0"_s, {}}) +
        titleSection().replace(u"getm1"_s, u"getm2"_s);
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(
        u"a"_s, taskFileText(u"1|"_s + Site + u"p|1|2|1|.htm"_s, u"4"_s, sections)));
    for (int n = 1; n <= 2; ++n) {
        const QString number = QString::number(n);
        QByteArray page = titlePage(u"T"_s + number);
        if (!linked.isEmpty()) {
            const QString next = Site + u'x' + number + linked;
            page.replace("</body>", QByteArray("<div class=\"next\">href=\"" + next.toUtf8() +
                                               "\"</div></body>"));
            rig.contentFetcher.setPage(next, titlePage(u"X"_s + number));
        }
        rig.contentFetcher.setPage(Site + u'p' + number + u".htm"_s, page);
    }
    rig.contentFetcher.setHanging(Site + hanging);
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    for (int round = 0; round < 3; ++round)
        rig.collectorRound();
    QVERIFY(rig.ticksUntilComplete(0) > 0);

    const auto snapshot = [&] {
        const EngineState &s = rig.state();
        const RunTally t = rig.engine.summary(0).tally;
        return QStringList{s.contentQueue.join(u'\n'),
                           s.downloads.join(u'\n'),
                           rig.runRecords.join(u'\n'),
                           QString::number(s.pagesDone),
                           u"%1 %2 %3 %4 %5 %6"_s.arg(t.pagesRequested)
                               .arg(t.pagesFailed)
                               .arg(t.recordsStored)
                               .arg(t.recordsRefused)
                               .arg(t.downloadsStored)
                               .arg(t.downloadsFailed),
                           RecordStore::readAll(rig.workspace.databaseFile(u"a"_s), 4)
                               .value_or(QStringList{u"unreadable"_s})
                               .join(u'\n')};
    };
    const QStringList before = snapshot();
    QVERIFY2(!rig.runRecords.isEmpty(), "the first page stored a record");
    QVERIFY(rig.contentFetcher.deliver(Site + hanging));
    QCOMPARE(snapshot(), before);
}

void TestScheduler::rerunEmptiesDatabaseAndPages()
{
    EngineRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, schemeOne(2)));
    servePages(rig.contentFetcher, 2);
    rig.engine.queueTask(u"a"_s);
    rig.engine.queueTask(u"a"_s);
    rig.engine.schedulerTick();
    rig.collectorRound();
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"a"_s), 2)->size(), 2);
    QFile stray(rig.workspace.webDir(u"a"_s) + u"/left over .txt"_s);
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();

    const QStringList firstRun = *RecordStore::readAll(rig.workspace.databaseFile(u"a"_s), 2);
    QVERIFY(rig.ticksUntilComplete(0) > 0);
    QCOMPARE(rig.state().taskIndex, 1);
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"a"_s), 2), QStringList());
    // The first run's records are kept aside, not lost.
    const QList<HistoryRun> history = RunHistory(rig.workspace.taskDir(u"a"_s) + u"/data"_s).runs();
    QCOMPARE(history.size(), 1);
    QCOMPARE(RecordStore::readAll(history[0].path, 2), firstRun);
    QVERIFY(TempWorkspace::filesIn(rig.workspace.webDir(u"a"_s)).isEmpty());
    QVERIFY(rig.runRecords.isEmpty());
    QCOMPARE(rig.state().pagesDone, 0);
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
