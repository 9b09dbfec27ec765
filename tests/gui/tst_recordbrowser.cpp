// The record browser in the main window: listing a task's stored records,
// laying one out by the task's display specs, saving edits and deleting, and
// that edits and deletes stay with the task and record they were made for.
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "text/names.h"
#include "windowrig.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestRecordBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadRecords_data();
    void loadRecords();
    void notCollected();
    void unreadableDatabase();
    void showRecord_data();
    void showRecord();
    void boxesFollowPanelSize();
    void updateWritesShownBoxes();
    void updateRefused_data();
    void updateRefused();
    void editsDroppedOnlyWhenAllowed_data();
    void editsDroppedOnlyWhenAllowed();
    void boxesKeepAWholeLine();
    void updateAndDeleteStayWithListedTask();
    void listedTaskDeletedMeanwhile();
    void deleteRecord_data();
    void deleteRecord();
    void browseEarlierRun();
};

namespace {

const QString Specs =
    u"ds=[[0|0|5|10|90|20]]\r\nds=[[1|1|100|0|50|50]]\r\nds=[[2|0|5|40|190|50]]"_s;
const QSize PictureSize(40, 30);
const QSize PlaceholderSize(8, 6);

QString recordLine(int n)
{
    const QString number = QString::number(n);
    return u"^标题"_s + number + u"^pic.png^正文"_s + number;
}

QStringList recordLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << recordLine(i);
    return lines;
}

bool saveImage(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image.save(path, "PNG");
}

// A task with three fields, the given display specs and stored records.
bool addCollectedTask(WindowRig &rig, const QString &name, const QStringList &lines,
                      const QString &specs = Specs)
{
    if (!rig.workspace.addTask(name, u"ur=[[0]]\r\nuc=[[3]]\r\n"_s + specs) ||
        !saveImage(rig.workspace.wekDir(name) + u"/pic.png"_s, PictureSize))
        return false;
    RecordStore store;
    if (!store.create(rig.workspace.databaseFile(name), 3))
        return false;
    for (const QString &line : lines) {
        if (!store.append(line))
            return false;
    }
    store.close();
    return true;
}

bool prepare(WindowRig &rig)
{
    return saveImage(rig.workspace.workspace().placeholderPicture(), PlaceholderSize) &&
           rig.start();
}

QStringList stored(WindowRig &rig, const QString &task)
{
    return RecordStore::readAll(rig.workspace.databaseFile(task), 3).value_or(QStringList{u"-"_s});
}

QStringList rusLines(const QStringList &lines)
{
    QStringList result;
    for (const QString &line : lines)
        result << rus(line);
    return result;
}

QList<int> shownBoxes(RecordDisplay *display)
{
    QList<int> shown;
    for (int k = 0; k < RecordDisplay::BoxCount; ++k) {
        if (display->isBoxShown(k))
            shown << k;
    }
    return shown;
}

// Lists the task at `row` of List9 and shows its record at `record`.
void loadAndShow(WindowRig &rig, int row, int record)
{
    WindowRig::doubleClick(rig.list(u"List9"_s), row);
    WindowRig::doubleClick(rig.view(u"List10"_s), record);
}

void press(WindowRig &rig, const QString &button)
{
    QTest::mouseClick(rig.window->findChild<QPushButton *>(button), Qt::LeftButton);
}

// `logical` in the 200 x 100 units of the display area, within a pixel.
bool placedAt(const QWidget *box, const QRectF &logical)
{
    const QWidget *area = box->parentWidget();
    const double sx = area->width() / 200.0;
    const double sy = area->height() / 100.0;
    const QRect actual = box->geometry();
    const QRectF expected(logical.x() * sx, logical.y() * sy, logical.width() * sx,
                          logical.height() * sy);
    return qAbs(actual.x() - expected.x()) <= 1 && qAbs(actual.y() - expected.y()) <= 1 &&
           qAbs(actual.width() - expected.width()) <= 1 &&
           qAbs(actual.height() - expected.height()) <= 1;
}

} // namespace

void TestRecordBrowser::loadRecords_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one") << 1;
    QTest::newRow("seven") << 7;
}

void TestRecordBrowser::loadRecords()
{
    QFETCH(int, count);
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(count)));
    QVERIFY(prepare(rig));
    QListView *list10 = rig.view(u"List10"_s);

    WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    QCOMPARE(WindowRig::texts(list10), rusLines(recordLines(count)));
    QCOMPARE(rig.window->browser().list11(), recordLines(count));
    QCOMPARE(rig.window->findChild<QLabel *>(u"Label8"_s)->text(), QString::number(count));
    QCOMPARE(WindowRig::currentRow(list10), count - 1);
    QCOMPARE(WindowRig::selectedCount(list10), 1);
    QCOMPARE(rig.window->browser().recedit(), 0);
    // The display area is not touched by loading.
    QVERIFY(shownBoxes(rig.display()).isEmpty());
    QVERIFY(rig.shell.messages.isEmpty());
}

void TestRecordBrowser::notCollected()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"a"_s, recordLines(2)));
    QVERIFY(rig.workspace.addTask(u"b"_s, u"uc=[[3]]"_s));
    QVERIFY(prepare(rig));
    QListView *list10 = rig.view(u"List10"_s);

    WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    QCOMPARE(WindowRig::count(list10), 2);
    WindowRig::doubleClick(rig.list(u"List9"_s), 1);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"该任务尚未采集!"_s});
    QCOMPARE(WindowRig::count(list10), 0);
    QVERIFY(rig.window->browser().list11().isEmpty());
    QCOMPARE(rig.window->browser().recedit(), 0);
}

void TestRecordBrowser::unreadableDatabase()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"a"_s, recordLines(2)));
    QVERIFY(rig.workspace.addTask(u"b"_s, u"uc=[[3]]"_s));
    QFile damaged(rig.workspace.databaseFile(u"b"_s));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    QVERIFY(prepare(rig));

    WindowRig::doubleClick(rig.list(u"List9"_s), 0);
    WindowRig::doubleClick(rig.list(u"List9"_s), 1);
    const QStringList messages = rig.shell.takeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(u"无法读取记录"_s), qPrintable(messages[0]));
    QCOMPARE(WindowRig::count(rig.view(u"List10"_s)), 0);
    QVERIFY(rig.window->browser().list11().isEmpty());
}

void TestRecordBrowser::showRecord_data()
{
    QTest::addColumn<QString>("specs");
    QTest::addColumn<QString>("record");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QSize>("picture"); // invalid: the picture box stays hidden

    const QString line = u"^标题^pic.png^正文"_s;
    QTest::newRow("text and picture") << Specs << line << QList<int>{0, 2} << PictureSize;
    QTest::newRow("no display specs") << QString() << line << QList<int>{} << QSize();
    QTest::newRow("missing picture")
        << Specs << u"^标题^gone.png^正文"_s << QList<int>{0, 2} << PlaceholderSize;
    QTest::newRow("empty picture value")
        << Specs << u"^标题^^正文"_s << QList<int>{0, 2} << PlaceholderSize;
    QTest::newRow("second part empty is a picture")
        << u"ds=[[1||0|0|10|10]]"_s << line << QList<int>{} << PictureSize;
    QTest::newRow("second part zero is text")
        << u"ds=[[1|0|0|0|10|10]]"_s << line << QList<int>{1} << QSize();
    QTest::newRow("field beyond the record")
        << u"ds=[[2|0|0|0|10|10]]"_s << u"^标题"_s << QList<int>{2} << QSize();
    QTest::newRow("field outside the boxes")
        << u"ds=[[51|0|0|0|10|10]]ds=[[-1|0|0|0|10|10]]ds=[[x|0|0|0|10|10]]"_s << line
        << QList<int>{} << QSize();
    QTest::newRow("last entry of a field wins")
        << u"ds=[[0|0|0|0|10|10]]ds=[[0|1|0|0|10|10]]ds=[[0|0|50|50|20|20]]"_s << line
        << QList<int>{0} << PlaceholderSize;
}

void TestRecordBrowser::showRecord()
{
    QFETCH(QString, specs);
    QFETCH(QString, record);
    QFETCH(QList<int>, shown);
    QFETCH(QSize, picture);

    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, {u"^x^y^z"_s, record}, specs));
    QVERIFY(prepare(rig));
    RecordDisplay *display = rig.display();
    // Something on display first: showing resets the whole area.
    loadAndShow(rig, 0, 0);
    WindowRig::doubleClick(rig.view(u"List10"_s), 1);

    QCOMPARE(rig.window->browser().recedit(), 1);
    QCOMPARE(shownBoxes(display), shown);
    const QStringList values = RecordStore::valuesOf(record);
    for (int k : shown)
        QCOMPARE(display->pt(k)->toPlainText(), values.value(k));
    QCOMPARE(display->pp()->isVisible(), picture.isValid());
    if (picture.isValid())
        QCOMPARE(display->pp()->pixmap().size(), picture);
    QVERIFY(rig.shell.messages.isEmpty());
}

void TestRecordBrowser::boxesFollowPanelSize()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(1)));
    QVERIFY(prepare(rig));
    loadAndShow(rig, 0, 0);
    RecordDisplay *display = rig.display();
    QVERIFY(display->pt(1)->isHidden()); // a picture field has no text box
    QCOMPARE(display->pt(1)->toPlainText(), u"pic.png"_s);

    for (const QSize size : {QSize(1100, 760), QSize(800, 900), QSize(1400, 700)}) {
        rig.window->resize(size);
        QCoreApplication::processEvents();
        QVERIFY(display->pt(0)->parentWidget()->width() > 100);
        QVERIFY(placedAt(display->pt(0), {5, 10, 90, 20}));
        QVERIFY(placedAt(display->pt(2), {5, 40, 190, 50}));
        QVERIFY(placedAt(display->pp(), {100, 0, 50, 50}));
    }
}

void TestRecordBrowser::updateWritesShownBoxes()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(3)));
    QVERIFY(prepare(rig));
    loadAndShow(rig, 0, 1);
    RecordDisplay *display = rig.display();
    display->pt(0)->setPlainText(u"新^标题"_s);
    display->pt(1)->setPlainText(u"hidden.png"_s); // not shown: not written
    display->pt(2)->setPlainText(u"两\n行"_s);
    press(rig, u"Command3"_s);

    QCOMPARE(rig.shell.takeMessages(), QStringList{u"更新完成"_s});
    const QString updated = u"^新*标题^pic.png^两\n行"_s;
    QStringList expected = recordLines(3);
    expected[1] = updated;
    QCOMPARE(stored(rig, u"t"_s), expected);
    QCOMPARE(rig.window->browser().list11(), expected);
    QCOMPARE(WindowRig::texts(rig.view(u"List10"_s)), rusLines(expected));
    QCOMPARE(rig.window->browser().recedit(), 1);

    // Saving again writes the same values again.
    press(rig, u"Command3"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"更新完成"_s});
    QCOMPARE(stored(rig, u"t"_s), expected);
}

void TestRecordBrowser::updateRefused_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("message"); // says what is wrong
    const QString nothingShown = RecordBrowser::nothingShownMessage();
    QTest::newRow("nothing shown yet") << u"load"_s << nothingShown;
    QTest::newRow("another task loaded after showing") << u"show, load other"_s << nothingShown;
    QTest::newRow("record deleted after showing") << u"show, delete"_s << u"显示的记录已被删除"_s;
}

void TestRecordBrowser::updateRefused()
{
    QFETCH(QString, before);
    QFETCH(QString, message);
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(3)));
    QVERIFY(addCollectedTask(rig, u"u"_s, recordLines(2)));
    QVERIFY(prepare(rig));
    QListWidget *list9 = rig.list(u"List9"_s);
    if (before == u"load") {
        WindowRig::doubleClick(list9, 0);
    } else {
        loadAndShow(rig, 0, 1);
        rig.display()->pt(0)->setPlainText(u"changed"_s);
        if (before.endsWith(u"other"))
            WindowRig::doubleClick(list9, 1);
        else
            press(rig, u"Command4"_s);
    }
    rig.shell.takeMessages();
    const QStringList t = stored(rig, u"t"_s);
    const QStringList u = stored(rig, u"u"_s);

    press(rig, u"Command3"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{message});
    QCOMPARE(stored(rig, u"t"_s), t);
    QCOMPARE(stored(rig, u"u"_s), u);
}

void TestRecordBrowser::editsDroppedOnlyWhenAllowed_data()
{
    QTest::addColumn<QString>("action"); // after record 2 of t is shown and edited
    QTest::addColumn<bool>("answer");    // to the one question asked
    QTest::addColumn<int>("saved");      // the row the kept edits are saved to; -1: dropped
    QTest::newRow("another record, kept") << u"record"_s << false << 2;
    QTest::newRow("another task, kept") << u"task"_s << false << 2;
    QTest::newRow("window closed, kept") << u"close"_s << false << 2;
    QTest::newRow("window closed, dropped") << u"close"_s << true << -1;
    QTest::newRow("earlier record deleted") << u"delete"_s << true << 1;
}

void TestRecordBrowser::editsDroppedOnlyWhenAllowed()
{
    QFETCH(QString, action);
    QFETCH(bool, answer);
    QFETCH(int, saved);
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(4)));
    QVERIFY(addCollectedTask(rig, u"u"_s, recordLines(1)));
    QVERIFY(prepare(rig));
    loadAndShow(rig, 0, 2);
    rig.display()->pt(0)->setPlainText(u"edited"_s);

    rig.shell.answers = {answer};
    if (action == u"record") {
        WindowRig::doubleClick(rig.view(u"List10"_s), 1);
    } else if (action == u"task") {
        WindowRig::doubleClick(rig.list(u"List9"_s), 1);
    } else if (action == u"close") {
        QCOMPARE(rig.window->close(), answer);
    } else {
        WindowRig::click(rig.view(u"List10"_s), 0);
        press(rig, u"Command4"_s); // asks whether to delete
    }
    QCOMPARE(rig.shell.questions.size(), 1);
    rig.shell.takeMessages();
    QStringList expected = recordLines(4);
    if (action == u"delete")
        expected.removeFirst();
    if (saved >= 0) {
        QCOMPARE(rig.display()->pt(0)->toPlainText(), u"edited"_s);
        press(rig, u"Command3"_s);
        QCOMPARE(rig.shell.takeMessages(), QStringList{u"更新完成"_s});
        expected[saved] = u"^edited^pic.png^正文2"_s;
    }
    QCOMPARE(stored(rig, u"t"_s), expected);
}

void TestRecordBrowser::boxesKeepAWholeLine()
{
    // Two boxes a tenth of the area high, one of half of it, in the smallest
    // window with the divider above the display dragged down.
    WindowRig rig;
    QVERIFY(
        addCollectedTask(rig, u"t"_s, recordLines(1),
                         u"ds=[[0|0|2|3|120|10]]ds=[[1|0|124|3|40|10]]ds=[[2|0|2|17|196|50]]"_s));
    QVERIFY(prepare(rig));
    rig.window->resize(800, 600);
    QCoreApplication::processEvents();
    auto *main = rig.window->findChild<QSplitter *>(u"MainSplitter"_s);
    QList<int> sizes = main->sizes();
    sizes[0] += sizes[3];
    sizes[3] = 0;
    main->setSizes(sizes);
    loadAndShow(rig, 0, 0);
    QCoreApplication::processEvents();
    // A whole line of text, and no scroll bar on a box of one line.
    for (const int k : {0, 2}) {
        QPlainTextEdit *box = rig.display()->pt(k);
        QVERIFY(box->viewport()->height() >= box->fontMetrics().height());
        QCOMPARE(box->verticalScrollBar()->isVisible(), k == 2);
    }
    // What does not fit is reached by scrolling.
    auto *scroll = rig.display()->findChild<QScrollArea *>(u"Picture3Scroll"_s);
    QCOMPARE(scroll->widget()->height(),
             scroll->viewport()->height() + scroll->verticalScrollBar()->maximum());
    // A field of one line stays one in a large window, with room for more.
    rig.window->resize(1920, 1080);
    main->setSizes({1, 1, 1, 2000});
    QCoreApplication::processEvents();
    QVERIFY(rig.display()->pt(0)->height() > 3 * rig.display()->pt(0)->fontMetrics().height());
    QVERIFY(!rig.display()->pt(0)->verticalScrollBar()->isVisible());
}

void TestRecordBrowser::updateAndDeleteStayWithListedTask()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(4)));
    QVERIFY(addCollectedTask(rig, u"u"_s, recordLines(4)));
    QVERIFY(prepare(rig));
    QListWidget *list9 = rig.list(u"List9"_s);
    QListView *list10 = rig.view(u"List10"_s);

    loadAndShow(rig, 0, 1);
    rig.display()->pt(0)->setPlainText(u"edited"_s);
    // Other selections afterwards: a record and a task that are not shown.
    WindowRig::click(list10, 3);
    WindowRig::click(list9, 1);
    press(rig, u"Command3"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"更新完成"_s});
    QStringList t = recordLines(4);
    t[1] = u"^edited^pic.png^正文1"_s;
    QCOMPARE(stored(rig, u"t"_s), t);
    QCOMPARE(stored(rig, u"u"_s), recordLines(4));
    QCOMPARE(WindowRig::texts(list10)[1], rus(t[1]));
    QCOMPARE(WindowRig::texts(list10)[3], rus(t[3]));

    // Delete takes the record selected in List10, in the listed task.
    press(rig, u"Command4"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"删除成功"_s});
    t.removeAt(3);
    QCOMPARE(stored(rig, u"t"_s), t);
    QCOMPARE(stored(rig, u"u"_s), recordLines(4));
    QCOMPARE(rig.window->browser().list11(), t);
}

void TestRecordBrowser::listedTaskDeletedMeanwhile()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(3)));
    QVERIFY(addCollectedTask(rig, u"u"_s, recordLines(3)));
    QVERIFY(prepare(rig));
    QListView *list10 = rig.view(u"List10"_s);
    loadAndShow(rig, 0, 1);

    WindowRig::click(rig.list(u"List5"_s), 0);
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"任务已删除"_s});
    // The listing stays as it was.
    QCOMPARE(WindowRig::texts(list10), rusLines(recordLines(3)));
    QCOMPARE(rig.window->browser().list11(), recordLines(3));
    QCOMPARE(WindowRig::texts(rig.list(u"List9"_s)), QStringList{u"u"_s});

    rig.display()->pt(0)->setPlainText(u"edited"_s);
    WindowRig::click(rig.list(u"List9"_s), 0); // u, which has a record at that place
    press(rig, u"Command3"_s);
    QStringList messages = rig.shell.takeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(u"任务已不存在"_s), qPrintable(messages[0]));

    WindowRig::click(list10, 2);
    press(rig, u"Command4"_s);
    messages = rig.shell.takeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(u"删除失败"_s), qPrintable(messages[0]));

    QCOMPARE(WindowRig::count(list10), 3);
    QCOMPARE(rig.window->browser().list11(), recordLines(3));
    QCOMPARE(stored(rig, u"u"_s), recordLines(3));
    QVERIFY(!QDir(rig.workspace.taskDir(u"t"_s)).exists());
}

void TestRecordBrowser::deleteRecord_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("first") << 7 << 0 << true;
    QTest::newRow("sixth") << 7 << 5 << true;
    QTest::newRow("last") << 7 << 6 << true;
    QTest::newRow("only") << 1 << 0 << true;
    QTest::newRow("answered no") << 7 << 3 << false;
}

void TestRecordBrowser::deleteRecord()
{
    QFETCH(int, count);
    QFETCH(int, deleted);
    QFETCH(bool, confirmed);

    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"t"_s, recordLines(count)));
    QVERIFY(prepare(rig));
    QListView *list10 = rig.view(u"List10"_s);
    loadAndShow(rig, 0, deleted);
    const QList<int> shown = shownBoxes(rig.display());
    QVERIFY(!shown.isEmpty());

    rig.shell.answers = {confirmed};
    press(rig, u"Command4"_s);
    // The question names the record.
    QCOMPARE(rig.shell.questions.size(), 1);
    QVERIFY(rig.shell.questions[0].startsWith(u"删除第"_s + QString::number(deleted + 1) +
                                              u"条记录？\n标题"_s + QString::number(deleted)));
    QStringList remaining = recordLines(count);
    if (!confirmed) {
        QVERIFY(rig.shell.takeMessages().isEmpty());
        QCOMPARE(stored(rig, u"t"_s), remaining);
        return;
    }
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"删除成功"_s});
    remaining.removeAt(deleted);
    QCOMPARE(stored(rig, u"t"_s), remaining);
    QCOMPARE(rig.window->browser().list11(), remaining);
    QCOMPARE(WindowRig::texts(list10), rusLines(remaining));
    // Nothing stays selected: a second press deletes nothing.
    QCOMPARE(WindowRig::currentRow(list10), -1);
    QCOMPARE(WindowRig::selectedCount(list10), 0);
    QCOMPARE(rig.window->browser().recedit(), 0);
    // The display keeps what it showed.
    QCOMPARE(shownBoxes(rig.display()), shown);
    press(rig, u"Command4"_s);
    QVERIFY(rig.shell.messages.isEmpty());
    QCOMPARE(rig.shell.questions.size(), 1);
    QCOMPARE(stored(rig, u"t"_s), remaining);
}

void TestRecordBrowser::browseEarlierRun()
{
    WindowRig rig;
    QVERIFY(addCollectedTask(rig, u"a"_s, recordLines(3)));
    QVERIFY(addCollectedTask(rig, u"b"_s, recordLines(1)));
    const QString database = rig.workspace.databaseFile(u"a"_s);
    QVERIFY(RunHistory(QFileInfo(database).absolutePath()).retire(database));
    RecordStore current;
    QVERIFY(current.create(database, 3));
    QVERIFY(current.append(recordLine(9)));
    current.close();
    QVERIFY(prepare(rig));

    // A task without earlier runs says so.
    WindowRig::click(rig.list(u"List5"_s), 1);
    rig.action(u"CD33"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"该任务没有更早的采集记录"_s});

    // Cancelling lists nothing; choosing lists that run's records.
    WindowRig::click(rig.list(u"List5"_s), 0);
    rig.action(u"CD33"_s)->trigger();
    QCOMPARE(rig.shell.offered.size(), 1);
    QVERIFY(rig.shell.offered[0].value(0).endsWith(u"（3条记录）"_s));
    QCOMPARE(WindowRig::count(rig.view(u"List10"_s)), 0);
    rig.shell.choices << 0;
    rig.action(u"CD33"_s)->trigger();
    QCOMPARE(WindowRig::texts(rig.view(u"List10"_s)), rusLines(recordLines(3)));
    // The caption and an export say it is an earlier run.
    const QString when = rig.shell.offered[0].value(0).section(u'（', 0, 0);
    const auto *listedRun = rig.window->findChild<QLabel *>(u"ListedRun"_s);
    QVERIFY(listedRun->isVisible() && listedRun->text().contains(when));
    rig.shell.fileNames = {rig.settings.filePath(u"run.csv"_s)};
    rig.action(u"CD15"_s)->trigger();
    QVERIFY(rig.shell.takeMessages().value(0).startsWith(u"已导出3条历史记录（任务“a”在 "_s + when +
                                                         u" 采集）"_s));

    // Deleting there deletes from that run, not from the current one.
    const QString earlier = RunHistory(QFileInfo(database).absolutePath()).runs().value(0).path;
    WindowRig::click(rig.view(u"List10"_s), 2);
    press(rig, u"Command4"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"删除成功"_s});
    QCOMPARE(RecordStore::readAll(earlier, 3), recordLines(2));
    QCOMPARE(stored(rig, u"a"_s), QStringList{recordLine(9)});
}

QTEST_MAIN(TestRecordBrowser)
#include "tst_recordbrowser.moc"
