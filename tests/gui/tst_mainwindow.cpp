// The main window as the user meets it: caption, menus and toolbar, the task
// lists and queue at start-up, double-click queuing, pause and continue, the
// shell commands and minimizing without a tray.
#include "gui/recorddisplay.h"
#include "windowrig.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void captions();
    void menus_data();
    void menus();
    void noActionItems_data();
    void noActionItems();
    void toolbarLayout();
    void toolbarRunsMenuItem_data();
    void toolbarRunsMenuItem();
    void startUpListsAndQueue_data();
    void startUpListsAndQueue();
    void doubleClickQueuesAgain();
    void queueAfterCompletionStartsAtNextTick();
    void pauseAndContinueSwitchOnlyTimers();
    void shellCommands_data();
    void shellCommands();
    void minimizeWithoutTray();
    void failuresOfLastRun();
    void examplesOfferedOnEmptyWorkspace_data();
    void examplesOfferedOnEmptyWorkspace();
    // Ends event loops: keep it last.
    void exitCommand();
};

namespace {

// Scheme-one tasks of one page that is never fetched: the tests make no
// collector ticks, so a run only waits for its stall window.
bool addIdleTasks(WindowRig &rig, const QStringList &names)
{
    for (const QString &name : names) {
        if (!rig.workspace.addTask(name, u"ur=[[1|http://h/p|1|1|1|.htm]]uc=[[1]]"_s))
            return false;
    }
    return true;
}

struct TimerFlags
{
    int interval[3];
    bool enabled[3];
    bool operator==(const TimerFlags &) const = default;
};

TimerFlags timerFlags(CollectionEngine &engine)
{
    TimerFlags flags{};
    EngineTimer *timers[] = {&engine.timer1(), &engine.timer2(), &engine.timer3()};
    for (int i = 0; i < 3; ++i) {
        flags.interval[i] = timers[i]->interval();
        flags.enabled[i] = timers[i]->isEnabled();
    }
    return flags;
}

// What a command visibly did: addresses opened (relative to the workspace),
// messages, open dialogs, the task list and the pause state.
QStringList effectsOf(WindowRig &rig)
{
    QStringList effects;
    const QString root = QUrl::fromLocalFile(rig.workspace.workspace().root()).toString();
    for (const QUrl &url : std::as_const(rig.shell.opened))
        effects << u"open "_s + url.toString().replace(root, u"<ws>"_s);
    const QString path = QDir::toNativeSeparators(rig.workspace.workspace().root());
    for (QString message : std::as_const(rig.shell.messages))
        effects << u"message "_s + message.replace(path, u"<ws>"_s);
    for (const QString &form : {u"Form2"_s, u"Form3"_s}) {
        const auto *dialog = rig.window->findChild<QWidget *>(form);
        if (dialog && dialog->isVisible())
            effects << form + u' ' + dialog->findChild<QLineEdit *>(u"Text1"_s)->text();
    }
    effects << u"List5 "_s + WindowRig::texts(rig.list(u"List5"_s)).join(u',');
    effects << (rig.window->engine().isPaused() ? u"paused"_s : u"running"_s);
    return effects;
}

} // namespace

void TestMainWindow::captions()
{
    WindowRig rig;
    QVERIFY(rig.start());
    QCOMPARE(rig.window->objectName(), u"Form1"_s);
    QCOMPARE(rig.window->windowTitle(), u"信息采集(V-3.4)"_s);
    const auto *heading = rig.display()->findChild<QLabel *>(u"Picture3Caption"_s);
    QVERIFY(heading);
    QCOMPARE(heading->text(), u"记录编辑显示界面"_s);
    for (const QString &name : {u"List5"_s, u"List6"_s, u"List9"_s})
        QVERIFY2(rig.list(name) && rig.list(name)->isVisible(), qPrintable(name));
    for (const QString &name : {u"List7"_s, u"List10"_s})
        QVERIFY2(rig.view(name) && rig.view(name)->isVisible(), qPrintable(name));
    for (const QString &name : {u"Label8"_s, u"Label9"_s})
        QCOMPARE(rig.window->findChild<QLabel *>(name)->text(), u"0"_s);
    // 关于 names the version the build has.
    rig.action(u"CD73"_s)->trigger();
    QCOMPARE(rig.shell.abouts.size(), 1);
    QVERIFY(rig.shell.abouts[0].contains(u"版本 "_s + QStringLiteral(CAIJI_PROJECT_VERSION)));
    QVERIFY(rig.shell.abouts[0].contains(u"许可证："_s));
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items"); // object name, then text; "-" a separator

    QTest::newRow("file") << 0 << u"CD1"_s << u"文件(&F)"_s
                          << QStringList{u"CD11"_s,
                                         u"新建任务(&N)"_s,
                                         u"CD12"_s,
                                         u"编辑任务(&E)"_s,
                                         u"CD13"_s,
                                         u"删除任务(&C)"_s,
                                         u"-"_s,
                                         u"CD15"_s,
                                         u"导出 CSV(&V)…"_s,
                                         u"CD16"_s,
                                         u"导出 Excel(&X)…"_s,
                                         u"CD17"_s,
                                         u"发布到数据库(&P)…"_s,
                                         u"-"_s,
                                         u"CD14"_s,
                                         u"退出程序(&Q)"_s};
    QTest::newRow("run") << 1 << u"CD2"_s << u"执行(&T)"_s
                         << QStringList{u"CD21"_s, u"暂停采集(&S)"_s, u"CD22"_s, u"继续采集(&Z)"_s};
    QTest::newRow("database") << 2 << u"CD3"_s << u"数据库(&D)"_s
                              << QStringList{
                                     u"CD31"_s, u"数据库查看(&J)"_s, u"CD32"_s, u"数据库移动(&W)"_s,
                                     u"CD33"_s, u"历史记录(&H)"_s,   u"CD34"_s, u"失败列表(&F)"_s};
    QTest::newRow("advanced") << 3 << u"CD4"_s << u"高级(&G)"_s
                              << QStringList{u"CD41"_s, u"进入任务主目录(&S)"_s, u"CD42"_s,
                                             u"进入下载文件目录(&H)"_s};
    QTest::newRow("options") << 4 << u"CD5"_s << u"选项配置(&X)"_s
                             << QStringList{u"CD51"_s, u"软件配置(&Z)"_s, u"CD52"_s,
                                            u"多线程配置(&Y)"_s};
    QTest::newRow("tools") << 5 << u"CD6"_s << u"工具(&K)"_s
                           << QStringList{u"CD61"_s, u"HTML-TXT转换器(&I)"_s, u"CD62"_s,
                                          u"URL-parse提取器(&L)"_s};
    QTest::newRow("help") << 6 << u"CD7"_s << u"帮助(&H)"_s
                          << QStringList{u"CD71"_s,     u"主页(&A)"_s, u"CD73"_s,
                                         u"关于(&N)"_s, u"CD74"_s,     u"帮助文档(&M)"_s};
}

void TestMainWindow::menus()
{
    QFETCH(int, position);
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, items);

    WindowRig rig;
    QVERIFY(rig.start());
    const QList<QAction *> bar = rig.window->menuBar()->actions();
    QCOMPARE(bar.size(), 7);
    QMenu *shown = bar[position]->menu();
    QVERIFY(shown);
    QCOMPARE(shown->objectName(), menu);
    QCOMPARE(shown->title(), title);
    QStringList actual;
    for (const QAction *action : shown->actions()) {
        if (action->isSeparator()) {
            actual << u"-"_s;
            continue;
        }
        // Publishing waits for records to be listed.
        QCOMPARE(action->isEnabled(), action->objectName() != u"CD17");
        actual << action->objectName() << action->text();
    }
    QCOMPARE(actual, items);
}

void TestMainWindow::noActionItems_data()
{
    QTest::addColumn<QString>("action");
    for (const QString &name :
         {u"CD32"_s, u"CD51"_s, u"CD52"_s, u"CD61"_s, u"CD62"_s, u"Toolbar1Button13"_s})
        QTest::newRow(qPrintable(name)) << name;
}

void TestMainWindow::noActionItems()
{
    QFETCH(QString, action);
    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s, u"b"_s}));
    QVERIFY(rig.start());
    WindowRig::click(rig.list(u"List5"_s), 1);
    const QStringList before = effectsOf(rig);
    const TimerFlags timers = timerFlags(rig.window->engine());
    const QWidgetList windows = QApplication::topLevelWidgets();

    QAction *item = rig.action(action);
    QVERIFY(item);
    QVERIFY(item->isEnabled());
    item->trigger();
    QCoreApplication::processEvents();

    QCOMPARE(effectsOf(rig), before);
    QVERIFY(timerFlags(rig.window->engine()) == timers);
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible() || widget == rig.window.get());
    QCOMPARE(QApplication::topLevelWidgets().size(), windows.size());
}

void TestMainWindow::toolbarLayout()
{
    WindowRig rig;
    QVERIFY(rig.start());
    auto *toolbar = rig.window->findChild<QToolBar *>(u"Toolbar1"_s);
    QVERIFY(toolbar);
    const QStringList captions = {
        u"暂停采集"_s,         u"继续采集"_s,       {}, u"新建任务"_s,
        u"编辑任务"_s,         u"删除任务"_s,       {}, u"进入任务主目录"_s,
        u"进入下载文件目录"_s, u"进入数据库目录"_s, {}, u"软件官方网站"_s,
        u"软件说明"_s,         u"软件帮助"_s,       {}, u"退出程序"_s};
    const QList<QAction *> actions = toolbar->actions();
    QCOMPARE(actions.size(), captions.size());
    for (int i = 0; i < actions.size(); ++i) {
        const int position = i + 1;
        QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
        if (actions[i]->isSeparator())
            continue;
        QCOMPARE(actions[i]->text(), captions[i]);
        QCOMPARE(actions[i]->objectName(), u"Toolbar1Button"_s + QString::number(position));
        QVERIFY(!actions[i]->icon().isNull());
    }
    QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
}

void TestMainWindow::toolbarRunsMenuItem_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("menuItem");
    QTest::newRow("pause") << 1 << u"CD21"_s;
    QTest::newRow("new task") << 4 << u"CD11"_s;
    QTest::newRow("edit task") << 5 << u"CD12"_s;
    QTest::newRow("delete task") << 6 << u"CD13"_s;
    QTest::newRow("task directory") << 8 << u"CD41"_s;
    QTest::newRow("download folder") << 9 << u"CD42"_s;
    QTest::newRow("database folder") << 10 << u"CD31"_s;
    QTest::newRow("home page") << 12 << u"CD71"_s;
    QTest::newRow("help") << 14 << u"CD74"_s;
}

void TestMainWindow::toolbarRunsMenuItem()
{
    QFETCH(int, position);
    QFETCH(QString, menuItem);

    // The same command from the menu and from the button, each on a fresh
    // window with task b selected, must leave the same visible effects.
    QStringList results[2];
    for (int run = 0; run < 2; ++run) {
        WindowRig rig;
        QVERIFY(addIdleTasks(rig, {u"a"_s, u"b"_s}));
        QVERIFY(rig.start());
        WindowRig::click(rig.list(u"List5"_s), 1);
        const QStringList before = effectsOf(rig);
        QAction *action =
            rig.action(run == 0 ? menuItem : u"Toolbar1Button"_s + QString::number(position));
        QVERIFY(action);
        action->trigger();
        QCoreApplication::processEvents();
        results[run] = effectsOf(rig);
        QVERIFY2(results[run] != before, qPrintable(before.join(u" / ")));
    }
    QCOMPARE(results[1], results[0]);
}

void TestMainWindow::startUpListsAndQueue_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<bool>("taskFolder");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("sorted, file skipped")
        << QStringList{u"c"_s, u"a"_s, u"b"_s} << true << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("chinese names")
        << QStringList{u"新闻"_s, u"图片"_s} << true << QStringList{u"图片"_s, u"新闻"_s};
    QTest::newRow("empty task folder") << QStringList{} << true << QStringList{};
    QTest::newRow("no task folder") << QStringList{} << false << QStringList{};
}

void TestMainWindow::startUpListsAndQueue()
{
    QFETCH(QStringList, folders);
    QFETCH(bool, taskFolder);
    QFETCH(QStringList, listed);

    WindowRig rig;
    QVERIFY(addIdleTasks(rig, folders));
    if (taskFolder) {
        QVERIFY(QDir().mkpath(rig.workspace.workspace().tasksDir()));
        QFile file(rig.workspace.workspace().tasksDir() + u"/notes.txt"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(rig.start());
    CollectionEngine &engine = rig.window->engine();

    QCOMPARE(WindowRig::texts(rig.list(u"List5"_s)), listed);
    QCOMPARE(WindowRig::texts(rig.list(u"List9"_s)), listed);
    QCOMPARE(WindowRig::texts(rig.list(u"List6"_s)), listed);
    QCOMPARE(engine.state().taskQueue, listed);
    QCOMPARE(engine.timer3().interval(), 1000);
    QVERIFY(!engine.state().running);

    engine.schedulerTick();
    if (listed.isEmpty()) {
        QVERIFY(!engine.state().running);
        QCOMPARE(engine.state().taskIndex, -1);
        return;
    }
    QVERIFY(engine.state().running);
    QCOMPARE(engine.state().taskIndex, 0);
    QCOMPARE(engine.state().taskName, listed[0]);
    // From the next tick the run list line of the first task reports its progress.
    engine.schedulerTick();
    const QString line = rig.list(u"List6"_s)->item(0)->text();
    QVERIFY2(line.startsWith(CollectionEngine::paddedName(listed[0]) + u"[正在采集]"_s),
             qPrintable(line));
    QCOMPARE(WindowRig::texts(rig.list(u"List6"_s)).mid(1), listed.mid(1));
}

void TestMainWindow::doubleClickQueuesAgain()
{
    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s, u"b"_s}));
    QVERIFY(rig.start());
    QListWidget *list5 = rig.list(u"List5"_s);
    for (int i = 0; i < 3; ++i)
        WindowRig::doubleClick(list5, 1);
    const QStringList queued = {u"a"_s, u"b"_s, u"b"_s, u"b"_s, u"b"_s};
    QCOMPARE(WindowRig::texts(rig.list(u"List6"_s)), queued);
    QCOMPARE(rig.window->engine().state().taskQueue, queued);
    QCOMPARE(WindowRig::texts(list5), (QStringList{u"a"_s, u"b"_s}));
}

void TestMainWindow::queueAfterCompletionStartsAtNextTick()
{
    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s}));
    QVERIFY(rig.start());
    CollectionEngine &engine = rig.window->engine();
    QListWidget *list6 = rig.list(u"List6"_s);
    int ticks = 0;
    while (ticks < 100 && !list6->item(0)->text().endsWith(CollectionEngine::completeMarker())) {
        engine.schedulerTick();
        ++ticks;
    }
    QVERIFY2(ticks < 100, qPrintable(list6->item(0)->text()));
    QVERIFY(!engine.state().running);
    // The finished line keeps the run's counts in its tip; the page no tick
    // of the collector reached counts as failed.
    QCOMPARE(
        list6->item(0)->toolTip(),
        u"页面请求0,失败1,记录存储0,被拒0,下载存储0,下载失败0；失败原因：任务结束时尚未请求×1"_s);

    WindowRig::doubleClick(rig.list(u"List5"_s), 0);
    QCOMPARE(list6->count(), 2);
    QCOMPARE(list6->item(1)->text(), u"a"_s);
    engine.schedulerTick();
    QVERIFY(engine.state().running);
    QCOMPARE(engine.state().taskIndex, 1);
    QCOMPARE(engine.state().taskName, u"a"_s);
    QVERIFY(list6->item(0)->text().endsWith(CollectionEngine::completeMarker()));
}

void TestMainWindow::failuresOfLastRun()
{
    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s}));
    QVERIFY(rig.start());
    CollectionEngine &engine = rig.window->engine();
    rig.contentFetcher->setFailing(u"http://h/p1.htm"_s);
    QListWidget *list6 = rig.list(u"List6"_s);
    const auto *progress = rig.window->findChild<QProgressBar *>(u"Progress"_s);
    const QColor warning(0xc0, 0, 0);
    for (int tick = 0; tick < 100 && !engine.allQueuedComplete(); ++tick) {
        engine.schedulerTick();
        engine.collectorTick();
        settle(*rig.contentFetcher);
        // The bar, full as the task waits to end, is not the colour of success.
        if (!engine.allQueuedComplete())
            QCOMPARE(progress->palette().color(QPalette::Highlight), warning);
    }
    QVERIFY(engine.allQueuedComplete());
    QCOMPARE(list6->item(0)->foreground().color(), warning);

    WindowRig::click(rig.list(u"List5"_s), 0);
    rig.action(u"CD34"_s)->trigger();
    const QStringList expected{u"a：最近一次采集失败1项（类型、原因、地址）"_s,
                               u"第1层内容页\tfailed\thttp://h/p1.htm\n"_s};
    QCOMPARE(rig.shell.shownTexts, expected);
    // The run's line leads there too, and the status bar's count.
    WindowRig::doubleClick(list6, 0);
    auto *link = rig.window->findChild<QLabel *>(u"FailuresLink"_s);
    QVERIFY(link->isVisible() && link->text().contains(u"失败1"_s));
    Q_EMIT link->linkActivated(u"failures"_s);
    QCOMPARE(rig.shell.shownTexts, expected + expected + expected);
}

void TestMainWindow::examplesOfferedOnEmptyWorkspace_data()
{
    QTest::addColumn<bool>("hasTask");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("listed");
    const QStringList examples = {u"列表-多记录"_s, u"新闻-方案一"_s, u"新闻-方案二"_s};
    QTest::newRow("empty workspace, yes") << false << true << examples;
    QTest::newRow("empty workspace, no") << false << false << QStringList();
    QTest::newRow("a task already there: not asked") << true << true << QStringList{u"a"_s};
}

void TestMainWindow::examplesOfferedOnEmptyWorkspace()
{
    QFETCH(bool, hasTask);
    QFETCH(bool, answer);
    QFETCH(QStringList, listed);
    WindowRig rig;
    if (hasTask)
        QVERIFY(addIdleTasks(rig, {u"a"_s}));
    QVERIFY(rig.start());
    rig.shell.answers = {answer};
    const Workspace examples(QStringLiteral(CAIJI_SOURCE_DIR) + u"/examples/workspace"_s);
    rig.window->offerExamples(examples);
    QCOMPARE(rig.shell.questions.size(), hasTask ? 0 : 1);
    QCOMPARE(WindowRig::texts(rig.list(u"List5"_s)), listed);
    QCOMPARE(WindowRig::texts(rig.list(u"List9"_s)), listed);
    QCOMPARE(rig.workspace.workspace().taskNames(), listed);
}

void TestMainWindow::pauseAndContinueSwitchOnlyTimers()
{
    WindowRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, u"ur=[[1|http://h/p|1|3|1|.htm]]uc=[[1]]"_s));
    QVERIFY(rig.start());
    CollectionEngine &engine = rig.window->engine();
    engine.schedulerTick();
    QVERIFY(engine.state().running);

    const TimerFlags running = timerFlags(engine);
    QVERIFY(running.enabled[0] && running.enabled[1] && running.enabled[2]);
    QCOMPARE(running.interval[0], 1000);
    const QStringList contentQueue = engine.state().contentQueue;
    const QStringList runList = engine.state().runList;

    QAction *pause = rig.action(u"CD21"_s);
    QAction *resume = rig.action(u"CD22"_s);
    resume->trigger(); // continue while collecting changes nothing
    QVERIFY(timerFlags(engine) == running);
    auto *pausedLabel = rig.window->findChild<QLabel *>(u"PausedLabel"_s);
    QVERIFY(pausedLabel->isHidden());

    TimerFlags paused = running;
    paused.enabled[0] = paused.enabled[1] = paused.enabled[2] = false;
    for (int i = 0; i < 2; ++i) { // pausing twice is the same as once
        pause->trigger();
        QVERIFY(timerFlags(engine) == paused);
        QVERIFY(!engine.timer1().isTicking() && !engine.timer3().isTicking());
    }
    QCOMPARE(engine.state().contentQueue, contentQueue);
    QCOMPARE(engine.state().runList, runList);
    QVERIFY(engine.state().running);
    QVERIFY(pausedLabel->isVisible());
    QCOMPARE(pausedLabel->text(), u"暂停中"_s);

    // Queuing sets the scheduler's interval but does not end the pause.
    WindowRig::doubleClick(rig.list(u"List5"_s), 0);
    QVERIFY(!engine.timer3().isEnabled());
    QCOMPARE(engine.state().taskQueue.size(), 2);

    resume->trigger();
    QVERIFY(timerFlags(engine) == running);
    QCOMPARE(engine.state().contentQueue, contentQueue);
    QVERIFY(pausedLabel->isHidden());
}

void TestMainWindow::shellCommands_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("select");
    QTest::addColumn<QString>("opened"); // relative to the workspace; empty: nothing

    const QString home = MainWindow::homePage();
    QTest::newRow("database folder") << u"CD31"_s << true << u"/task/b/data"_s;
    QTest::newRow("database folder, no selection") << u"CD31"_s << false << QString();
    QTest::newRow("download folder") << u"CD42"_s << true << u"/task/b/wek"_s;
    QTest::newRow("download folder, no selection") << u"CD42"_s << false << QString();
    QTest::newRow("database button, no selection") << u"Toolbar1Button10"_s << false << QString();
    QTest::newRow("download button, no selection") << u"Toolbar1Button9"_s << false << QString();
    QTest::newRow("task directory") << u"CD41"_s << true << u"/task"_s;
    QTest::newRow("task directory, no selection") << u"CD41"_s << false << u"/task"_s;
    QTest::newRow("task directory button") << u"Toolbar1Button8"_s << false << u"/task"_s;
    QTest::newRow("help document") << u"CD74"_s << false << u"/帮助.doc"_s;
    QTest::newRow("home page") << u"CD71"_s << false << home;
    QTest::newRow("edit, no selection") << u"CD12"_s << false << QString();
    QTest::newRow("delete, no selection") << u"CD13"_s << false << QString();
    QTest::newRow("edit button, no selection") << u"Toolbar1Button5"_s << false << QString();
    QTest::newRow("delete button, no selection") << u"Toolbar1Button6"_s << false << QString();
}

void TestMainWindow::shellCommands()
{
    QFETCH(QString, action);
    QFETCH(bool, select);
    QFETCH(QString, opened);

    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s, u"b"_s}));
    QVERIFY(rig.start());
    QFile help(rig.workspace.workspace().root() + u"/帮助.doc"_s);
    QVERIFY(help.open(QIODevice::WriteOnly));
    QListWidget *list5 = rig.list(u"List5"_s);
    if (select)
        WindowRig::click(list5, 1);
    QCOMPARE(list5->selectedItems().size(), select ? 1 : 0);
    const QStringList before = effectsOf(rig);

    rig.action(action)->trigger();
    QCoreApplication::processEvents();

    if (opened.isEmpty()) {
        QCOMPARE(effectsOf(rig), before);
        QVERIFY(QDir(rig.workspace.taskDir(u"b"_s)).exists());
        return;
    }
    QCOMPARE(rig.shell.opened.size(), 1);
    const QUrl expected = opened.startsWith(u"http")
                              ? QUrl(opened)
                              : QUrl::fromLocalFile(rig.workspace.workspace().root() + opened);
    QCOMPARE(rig.shell.opened[0], expected);
    QVERIFY(expected.isValid());
    QVERIFY(rig.shell.messages.isEmpty());
    // Without a program to open it, the user is told where it is.
    const QString place = expected.isLocalFile() ? QDir::toNativeSeparators(expected.toLocalFile())
                                                 : expected.toString();
    QVERIFY(rig.shell.noProgramMessages.value(0).contains(u'\n' + place));
}

void TestMainWindow::minimizeWithoutTray()
{
    WindowRig rig;
    QVERIFY(rig.start());
    QVERIFY(!rig.window->hasTray());
    QVERIFY(!rig.window->findChild<QObject *>(u"cSysTray1"_s));

    for (int round = 0; round < 2; ++round) {
        rig.window->setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        QVERIFY(rig.window->isMinimized());
        QVERIFY(rig.window->isVisible());

        rig.window->restoreFromTray();
        QCoreApplication::processEvents();
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.window->isMinimized());
        QVERIFY(rig.window->isMaximized());
    }
}

void TestMainWindow::exitCommand()
{
    WindowRig rig;
    QVERIFY(addIdleTasks(rig, {u"a"_s}));
    QVERIFY(rig.start());
    QAction *button = rig.action(u"Toolbar1Button16"_s);
    QSignalSpy menuItem(rig.action(u"CD14"_s), &QAction::triggered);

    // The button runs the menu item, which ends the running event loop at once
    // with code 0 without asking anything; the guard ends it with 1 otherwise.
    // Once ended, this thread's event loops stay ended, so this runs once.
    QEventLoop loop;
    QTimer::singleShot(0, button, &QAction::trigger);
    QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(menuItem.count(), 1);
    QVERIFY(rig.shell.messages.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
