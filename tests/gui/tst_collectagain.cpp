// Collecting again: when a schedule makes a task due, tasks handed over by
// `caiji run` join the window's queue once, the newest run's rows are browsed,
// edited, deleted, exported and published on their own, and a run's end is
// told of, with how publishing its records went.
#include "databaseserver.h"
#include "engine/livepublisher.h"
#include "engine/scheduledtasks.h"
#include "gui/publishdialog.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "gui/runlistdelegate.h"
#include "programrun.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "tasks/instancelock.h"
#include "tasks/networksettings.h"
#include "windowrig.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
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
    void publishListed_data();
    void publishListed();
    void livePublishing_data();
    void livePublishing();

private:
    // SERVER as `url` is the test's own PostgreSQL, started when first
    // needed, also in `text`. False, with the reason logged, when it cannot start.
    bool onServer(QString &url, QString &text);

    std::unique_ptr<DatabaseServer> m_server;
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

// A server that refuses every connection.
const QString Away = u"postgresql://caiji@127.0.0.1:1/x"_s;

// Serves p1..p`pages`, the last `failing` failing, until every queued task is
// complete, or until the running task stored `untilStored` records.
bool runAll(WindowRig &rig, int pages, int failing, int untilStored = -1)
{
    for (int n = 1; n <= pages; ++n) {
        if (n > pages - failing)
            rig.contentFetcher->setFailing(pageUrl(n));
        else
            rig.contentFetcher->setPage(pageUrl(n), u"<h1>第%1条</h1>"_s.arg(n).toUtf8());
    }
    CollectionEngine &engine = rig.window->engine();
    const auto reached = [&] {
        return untilStored >= 0 && engine.state().tally.recordsStored >= untilStored;
    };
    for (int tick = 0; tick < 300 && !engine.allQueuedComplete() && !reached(); ++tick) {
        engine.schedulerTick();
        engine.collectorTick();
        settle(*rig.contentFetcher);
    }
    return engine.allQueuedComplete() || reached();
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

bool TestCollectAgain::onServer(QString &url, QString &text)
{
    if (url != u"SERVER")
        return true;
    if (!m_server) {
        m_server = std::make_unique<DatabaseServer>(DatabaseServer::Kind::PostgreSql);
        qputenv("PGPASSWORD", DatabaseServer::password().toUtf8());
        m_server->start();
    }
    url = m_server->url();
    text.replace(u"SERVER"_s, url);
    if (!m_server->isRunning())
        qWarning().noquote() << m_server->error();
    return m_server->isRunning();
}

void TestCollectAgain::publishListed_data()
{
    // "newest": the newest run's rows; "history": the run before. Published
    // into a table of that name.
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("url");  // typed over the task's own; SERVER: the test's
    QTest::addColumn<QString>("told"); // the message begins so
    QTest::newRow("server away") << u"all"_s << Away
                                 << u"没有全部发布到 %1 的表 all：发布失败"_s.arg(Away);
    QTest::newRow("address refused") << u"all"_s << u"http://h/x"_s << u"数据库地址有误"_s;
    QTest::newRow("every row") << u"all"_s << u"SERVER"_s
                               << u"已发布到 SERVER 的表 all：新增5条，更新0条，删除0条"_s;
    QTest::newRow("newest run only") << u"newest"_s << u"SERVER"_s
                                     << u"已发布到 SERVER 的表 newest：新增2条，更新0条，删除0条"_s;
    QTest::newRow("earlier run") << u"history"_s << u"SERVER"_s
                                 << u"已发布到 SERVER 的表 history：新增1条，更新0条，删除0条"_s;
}

void TestCollectAgain::publishListed()
{
    QFETCH(QString, listing);
    QFETCH(QString, url);
    QFETCH(QString, told);
    QVERIFY2(onServer(url, told), "PostgreSQL did not start");

    WindowRig rig;
    QVERIFY(addTask(rig, u"t"_s, 1, u"[publish]\nurl=%1\n"_s.arg(Away)));
    // An earlier run of one record, from before the task collected only what
    // is new, last changed long after the file was made.
    const QString database = rig.workspace.databaseFile(u"t"_s);
    RunHistory history(QFileInfo(database).absolutePath());
    RecordStore earlier;
    QVERIFY(earlier.create(database, 2) && earlier.append(lines({9}).first()));
    earlier.close();
    QFile file(database);
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.setFileTime(QDateTime::currentDateTime().addDays(9), QFile::FileModificationTime));
    QVERIFY(history.retire(database) && storeRuns(rig, {{1, 2, 3}, {4, 5}}) && rig.start());
    QAction *publish = rig.action(u"CD17"_s);
    QVERIFY(!publish->isEnabled()); // nothing listed
    if (listing == u"history") {
        WindowRig::click(rig.list(u"List5"_s), 0);
        rig.shell.choices = {0};
        rig.action(u"CD33"_s)->trigger();
    } else {
        WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    }
    if (listing == u"newest")
        QTest::mouseClick(rig.window->findChild<QCheckBox *>(u"NewestRunOnly"_s), Qt::LeftButton);
    QVERIFY(publish->isEnabled());
    publish->trigger();
    auto *dialog = rig.window->findChild<PublishDialog *>();
    QCOMPARE(dialog->urlField()->text() + u'|' + dialog->tableField()->text(), Away + u"|t"_s);
    dialog->urlField()->setText(url);
    dialog->tableField()->setText(listing);
    dialog->publishButton()->click();
    const QString message = rig.shell.takeMessages().join(u'|');
    QVERIFY2(message.startsWith(told), qPrintable(message));
    QCOMPARE(message.endsWith(u"未发布的记录仍在本地数据库中，可以再次发布。"_s), url == Away);
    QCOMPARE(dialog->isVisible(), url.startsWith(u"http"));
    if (listing == u"history") // under its own name
        QCOMPARE(m_server->query(u"SELECT DISTINCT run FROM history"_s).trimmed(),
                 history.runs().value(0).name);
}

void TestCollectAgain::livePublishing_data()
{
    QTest::addColumn<QString>("url"); // [publish] url=; SERVER: the test's
    // "closed" after the first record; "only new": an earlier only-new run
    // stored p1, into table "again" (else "live"); "twice": queued again
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("told"); // the notice (closed: the message) begins so
    QTest::addColumn<QString>("status");
    const QString away = u"无法连接到 127.0.0.1:1 的 PostgreSQL 服务器：连接被拒绝（"_s;
    QTest::newRow("server away") << Away << QString() << u"t：新增2条记录，发布失败2条："_s + away
                                 << u"t：发布失败2条："_s + away;
    // The task does not start: nothing it stores could be published.
    QTest::newRow("address malformed")
        << u"http://h/x"_s << u"refused"_s << QString()
        << u"settings.ini 的 [publish] 中 url=http://h/x：数据库地址应以"_s;
    QTest::newRow("published") << u"SERVER"_s << QString() << u"t：新增2条记录"_s
                               << u"t：已发布2条记录到 SERVER 的表 live"_s;
    QTest::newRow("only new, the run's own rows")
        << u"SERVER"_s << u"only new"_s << u"t：新增1条记录"_s
        << u"t：已发布1条记录到 SERVER 的表 again"_s;
    // The second run may move the first one's database aside before it is read.
    QTest::newRow("queued twice") << Away << u"twice"_s << u"t：新增2条记录，发布失败"_s
                                  << u"t：发布失败2条："_s + away;
    QTest::newRow("closed while collecting")
        << Away << u"closed"_s << u"这些任务有记录没有发布到数据库：t\n"_s << u"t：发布失败"_s;
}

void TestCollectAgain::livePublishing()
{
    QFETCH(QString, url);
    QFETCH(QString, how);
    QFETCH(QString, told);
    QFETCH(QString, status);
    const bool published = url == u"SERVER";
    QVERIFY2(onServer(url, status), "PostgreSQL did not start");
    const bool onlyNew = how == u"only new";
    const QString table = onlyNew ? u"again"_s : u"live"_s;

    WindowRig rig;
    QVERIFY(addTask(rig, u"t"_s, 2,
                    u"[publish]\nurl=%1\ntable=%2\n[collect]\nonlyNew=%3\n"_s.arg(
                        url, table, onlyNew ? u"true"_s : u"false"_s)) &&
            (!onlyNew || storeRuns(rig, {{1}})) && rig.start());
    rig.window->livePublisher().setFinalRetryDelays({});
    if (how == u"twice")
        rig.window->engine().queueTask(u"t"_s);
    QVERIFY(runAll(rig, 2, 0, how == u"closed" ? 1 : -1));
    if (how == u"refused") {
        QCOMPARE(rig.list(u"List6"_s)->item(0)->text(),
                 CollectionEngine::paddedName(u"t"_s) + CollectionEngine::notStartedMarker() +
                     status + u"postgresql://或mysql://开头：http://h/x"_s);
        QVERIFY(!QFile::exists(rig.workspace.databaseFile(u"t"_s)));
        return;
    }
    if (how == u"closed")
        rig.window->close();
    // Every run's end is told of once its records are published, none while closing.
    QTRY_COMPARE(rig.shell.notices.size(), how == u"twice" ? 2 : how == u"closed" ? 0 : 1);
    const QString shown =
        how == u"closed" ? rig.shell.messages.join(u'|') : rig.shell.notices.join(u'|');
    QVERIFY2(published ? shown == told : shown.startsWith(told), qPrintable(shown));
    QVERIFY2(rig.window->statusBar()->currentMessage().startsWith(status),
             qPrintable(rig.window->statusBar()->currentMessage()));
    // The run's line says it too, in the warning colour.
    const QListWidgetItem *line = rig.list(u"List6"_s)->item(0);
    QCOMPARE(line->text().contains(u"发布失败"_s), !published);
    QCOMPARE(line->foreground().color() == RunListDelegate::warningColour(), !published);
    if (published)
        QCOMPARE(m_server->query(u"SELECT count(*) FROM "_s + table).trimmed(),
                 QString::number(onlyNew ? 1 : 2));
}

QTEST_MAIN(TestCollectAgain)
#include "tst_collectagain.moc"
