// The window in daily use: padded record lines line up to the pixel whatever
// their script, rows stay high enough for Chinese text, Enter does what a
// double-click does, and export writes the bytes `caiji export` writes.
#include "gui/elidedlabel.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "records/recordstore.h"
#include "windowrig.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestWindowUse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void columnsLineUp();
    void runListStatusesLineUp();
    void rowsFitChineseAfterLatinTask();
    void enterKey_data();
    void enterKey();
    void exportRecords_data();
    void exportRecords();
    void longTextsFitTheirRoom();
    void listsShowEightRows();
};

namespace {

// The rightmost pixel of each row that is not the row's background.
QList<int> rightmostInk(QListView *view)
{
    const QImage image = view->viewport()->grab().toImage();
    QList<int> result;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QRect rect = view->visualRect(view->model()->index(row, 0)) & image.rect();
        const QRgb background = image.pixel(image.width() - 1, rect.center().y());
        int found = -1;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = image.width() - 1; x > found; --x) {
                if (qAbs(qGray(image.pixel(x, y)) - qGray(background)) > 40) {
                    found = x;
                    break;
                }
            }
        }
        result << found;
    }
    return result;
}

// Task a has two stored records and shows field 1; b has none.
bool addTasks(WindowRig &rig)
{
    if (!rig.workspace.addTask(u"a"_s, u"uc=[[2]]ds=[[0|0|0|0|100|20]]"_s) ||
        !rig.workspace.addTask(u"b"_s, u"uc=[[1]]"_s))
        return false;
    RecordStore store;
    return store.create(rig.workspace.databaseFile(u"a"_s), 2) &&
           store.append(u"^第一条^2026-04-12"_s) && store.append(u"^第二条, \"引号\"^=1+1"_s);
}

// What the keys did: the queue, the listed records and the record shown.
QStringList effectsOf(WindowRig &rig)
{
    return {rig.window->engine().state().taskQueue.join(u','),
            QString::number(WindowRig::count(rig.view(u"List10"_s))),
            QString::number(rig.window->browser().recedit()), rig.display()->pt(0)->toPlainText()};
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestWindowUse::columnsLineUp()
{
    // First values, each followed by a second value "|" that starts column 2.
    const QStringList firstValues = {u"abcdefghijklmnopqrst"_s, u"中文名称中文名称中文"_s,
                                     u"ab中文名称中文名称中"_s, u"ＡＢＣ１２３中文名称"_s,
                                     u"2026-04 第1期"_s};
    WindowRig rig;
    QVERIFY(rig.workspace.addTask(u"t"_s, u"uc=[[2]]"_s));
    {
        RecordStore store;
        QVERIFY(store.create(rig.workspace.databaseFile(u"t"_s), 2));
        for (const QString &value : firstValues)
            QVERIFY(store.append(u'^' + value + u"^|"_s));
    }
    QVERIFY(rig.start());
    rig.window->resize(1100, 1000); // room for every row
    WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    QListView *list10 = rig.view(u"List10"_s);
    QCOMPARE(WindowRig::count(list10), firstValues.size());
    list10->setCurrentIndex(QModelIndex());
    list10->clearSelection();
    list10->scrollToTop();

    const QList<int> ink = rightmostInk(list10);
    QVERIFY(ink.first() > 0);
    QCOMPARE(ink, QList<int>(ink.size(), ink.first()));
    // The other padded lists use the same font.
    QCOMPARE(rig.view(u"List7"_s)->font(), list10->font());
    QCOMPARE(rig.list(u"List6"_s)->font(), list10->font());
}

void TestWindowUse::runListStatusesLineUp()
{
    // An ASCII name, a Chinese one, and one whose 20th character is Chinese.
    WindowRig rig;
    for (const QString &name : {u"a"_s, u"新闻"_s, u"abcdefghijklmnopqrs中文"_s})
        QVERIFY(rig.workspace.addTask(name, u"uc=[[1]]"_s));
    QVERIFY(rig.start());
    CollectionEngine &engine = rig.window->engine();
    for (int tick = 0; tick < 200 && !engine.allQueuedComplete(); ++tick)
        engine.schedulerTick();
    QVERIFY(engine.allQueuedComplete());
    rig.list(u"List6"_s)->clearSelection();
    // Every line ends in the same status, so it ends at the same x.
    const QList<int> ink = rightmostInk(rig.list(u"List6"_s));
    QVERIFY(ink.first() > 0);
    QCOMPARE(ink, QList<int>(ink.size(), ink.first()));
}

void TestWindowUse::rowsFitChineseAfterLatinTask()
{
    WindowRig rig;
    for (const QString &name : {u"新闻"_s, u"图片"_s})
        QVERIFY(rig.workspace.addTask(name, u"uc=[[1]]"_s));
    QVERIFY(rig.start());
    rig.action(u"CD11"_s)->trigger();
    auto *form2 = rig.window->findChild<QWidget *>(u"Form2"_s);
    form2->findChild<QLineEdit *>(u"Text1"_s)->setText(u"abc"_s);
    form2->findChild<QPlainTextEdit *>(u"Text2"_s)->setPlainText(u"uc=[[1]]"_s);
    form2->findChild<QPushButton *>(u"Command1"_s)->click();
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"任务创建成功!"_s});

    // A Chinese row as high as a list without shared row heights makes it.
    QListWidget natural;
    natural.addItem(u"新闻"_s);
    natural.show();
    QVERIFY(QTest::qWaitForWindowExposed(&natural));
    const int needed = natural.visualItemRect(natural.item(0)).height();
    for (const QString &name : {u"List5"_s, u"List9"_s}) {
        QListWidget *list = rig.list(name);
        QCOMPARE(list->count(), 3);
        for (int row = 0; row < list->count(); ++row)
            QVERIFY(list->visualItemRect(list->item(row)).height() >= needed);
    }
}

void TestWindowUse::enterKey_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("row"); // selected first; -1: none
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("effects");
    QTest::newRow("start list queues")
        << u"List5"_s << 1 << int(Qt::Key_Return) << QStringList{u"a,b,b"_s, u"0"_s, u"0"_s, {}};
    QTest::newRow("keypad enter queues")
        << u"List5"_s << 0 << int(Qt::Key_Enter) << QStringList{u"a,b,a"_s, u"0"_s, u"0"_s, {}};
    QTest::newRow("nothing selected")
        << u"List5"_s << -1 << int(Qt::Key_Return) << QStringList{u"a,b"_s, u"0"_s, u"0"_s, {}};
    QTest::newRow("all tasks lists records")
        << u"List9"_s << 0 << int(Qt::Key_Return) << QStringList{u"a,b"_s, u"2"_s, u"0"_s, {}};
    QTest::newRow("record is shown") << u"List10"_s << 0 << int(Qt::Key_Return)
                                     << QStringList{u"a,b"_s, u"2"_s, u"1"_s, u"第一条"_s};
}

void TestWindowUse::enterKey()
{
    QFETCH(QString, list);
    QFETCH(int, row);
    QFETCH(int, key);
    QFETCH(QStringList, effects);

    WindowRig rig;
    QVERIFY(addTasks(rig));
    QVERIFY(rig.start());
    if (list == u"List10") {
        WindowRig::doubleClick(rig.list(u"List9"_s), 0);
        rig.shell.takeMessages();
    }
    QAbstractItemView *view = rig.window->findChild<QAbstractItemView *>(list);
    if (row >= 0)
        WindowRig::click(view, row);
    QTest::keyClick(view, Qt::Key(key));
    QCOMPARE(effectsOf(rig), effects);
    QVERIFY(rig.shell.messages.isEmpty());
}

void TestWindowUse::exportRecords_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("listFirst"); // list a's records before exporting
    QTest::addColumn<int>("selectTask"); // row of 所有任务 to select; -1: none
    QTest::addColumn<QString>("target"); // empty: the dialog is cancelled
    QTest::addColumn<QString>("message");

    const QString done = u"已导出2条记录：\n<out>"_s;
    // Listing a and then selecting b exports a, as listed.
    QTest::newRow("listed task as CSV") << u"CD15"_s << true << 1 << u"out.csv"_s << done;
    QTest::newRow("listed task as Excel") << u"CD16"_s << true << -1 << u"out.xlsx"_s << done;
    QTest::newRow("cancelled") << u"CD16"_s << true << -1 << QString() << QString();
    QTest::newRow("selected task") << u"CD15"_s << false << 0 << u"out.csv"_s << done;
    QTest::newRow("never collected")
        << u"CD15"_s << false << 1 << u"out.csv"_s << u"该任务尚未采集!"_s;
    QTest::newRow("folder missing")
        << u"CD15"_s << true << -1 << u"missing/out.csv"_s << u"导出失败：<out>"_s;
}

void TestWindowUse::exportRecords()
{
    QFETCH(QString, command);
    QFETCH(bool, listFirst);
    QFETCH(int, selectTask);
    QFETCH(QString, target);
    QFETCH(QString, message);

    WindowRig rig;
    QVERIFY(addTasks(rig));
    QVERIFY(rig.start());
    QListWidget *list9 = rig.list(u"List9"_s);
    if (listFirst)
        WindowRig::doubleClick(list9, 0);
    if (selectTask >= 0)
        WindowRig::click(list9, selectTask);
    const QString out = target.isEmpty() ? QString() : rig.settings.filePath(target);
    rig.shell.fileNames = {out};
    rig.action(command)->trigger();

    const QStringList messages = rig.shell.takeMessages();
    QCOMPARE(messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(messages[0].startsWith(message.replace(u"<out>"_s, out)), qPrintable(messages[0]));
    if (!message.startsWith(u"已导出")) {
        QVERIFY(out.isEmpty() || !QFile::exists(out));
        return;
    }
    const QByteArray written = readFile(out);
    if (command == u"CD16") {
        QVERIFY(written.startsWith("PK") && written.contains("xl/worksheets/sheet1.xml"));
        return;
    }
    // The same bytes as the command line's export.
    QProcess cli;
    cli.start(QStringLiteral(CAIJI_BINARY),
              {u"export"_s, u"--workspace"_s, rig.workspace.root(), u"--out"_s,
               rig.settings.filePath(u"cli.csv"_s), u"a"_s});
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(written, readFile(rig.settings.filePath(u"cli.csv"_s)));
    QVERIFY(written.contains("第二条"));
}

void TestWindowUse::longTextsFitTheirRoom()
{
    WindowRig rig;
    QVERIFY(rig.start());
    const int width = rig.window->width();
    const QString name = QString(300, u'长');
    auto *status = rig.window->findChild<ElidedLabel *>(u"StatusText"_s);
    status->setFullText(u"正在采集："_s + name);
    QVERIFY2(status->text().endsWith(u'…'), qPrintable(status->text()));
    QCOMPARE(status->toolTip(), u"正在采集："_s + name);
    // The message is cut where it is drawn; its whole text stays readable.
    rig.window->statusBar()->showMessage(name);
    QCOMPARE(rig.window->statusBar()->toolTip(), name);
    QCoreApplication::processEvents();
    QCOMPARE(rig.window->width(), width);
}

void TestWindowUse::listsShowEightRows()
{
    WindowRig rig;
    rig.initialSize = QSize(1100, 960); // the default on a 1920 x 1080 screen
    QVERIFY(rig.start());
    QTest::qWait(50); // the panes are sized once laid out
    for (const QString &name : {u"List6"_s, u"List7"_s, u"List10"_s}) {
        auto *list = rig.window->findChild<QAbstractItemView *>(name);
        // Room for the header of fields too, which shows once there are fields.
        auto *header = rig.window->findChild<QWidget *>(name + u"Header"_s);
        const int room = list->viewport()->height() -
                         (header && header->isHidden() ? header->sizeHint().height() : 0);
        QVERIFY2(room >= 8 * list->fontMetrics().height(), qPrintable(name));
    }
    // A divider the user moves is kept at once.
    QSettings(u"caiji"_s, u"caiji"_s).remove(u"window"_s);
    auto *main = rig.window->findChild<QSplitter *>(u"MainSplitter"_s);
    QSplitterHandle *handle = main->handle(1);
    QTest::mousePress(handle, Qt::LeftButton);
    QTest::mouseMove(handle, handle->rect().center() + QPoint(0, 30));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->rect().center() + QPoint(0, 30));
    QCOMPARE(QSettings(u"caiji"_s, u"caiji"_s).value(u"window/MainSplitter"_s).toByteArray(),
             main->saveState());
}

QTEST_MAIN(TestWindowUse)
#include "tst_windowuse.moc"
