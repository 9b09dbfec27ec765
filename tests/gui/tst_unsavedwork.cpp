// Work typed into the task dialogs is never lost without the user's word:
// whatever replaces the dialog's content or ends the program asks 保存 / 放弃
// / 取消 first, and 取消 keeps everything. The keyboard is never trapped: Tab
// leaves the multi-line boxes, Enter never presses a button that does not
// have the focus, and Tab follows the layout.
#include "gui/taskdialog.h"
#include "windowrig.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

using SaveAnswer = Shell::SaveAnswer;
Q_DECLARE_METATYPE(SaveAnswer)

class TestUnsavedWork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void editsAreAskedFor_data();
    void editsAreAskedFor();
    void keyboardNeverTrapped_data();
    void keyboardNeverTrapped();
    void tabFollowsTheLayout();
};

namespace {

const QString Typed = u"ur=[[0]]uc=[[2]]"_s; // the edit made in the dialog

QString definitionOf(WindowRig &rig, const QString &task)
{
    QFile file(rig.workspace.taskDir(task) + u"/data/task.txt"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool openEdit(WindowRig &rig, int row)
{
    rig.list(u"List5"_s)->setCurrentRow(row);
    rig.action(u"CD12"_s)->trigger();
    return rig.window->editTaskDialog() && rig.window->editTaskDialog()->isVisible();
}

// 编辑任务 open on a crawl task "a" (its start page refuses connections), with
// the keyboard's focus; nothing when it could not be opened.
TaskDialog *activeEditDialog(WindowRig &rig)
{
    if (!rig.workspace.addTask(u"a"_s, u"ur=[[2|http://127.0.0.1:1/]]uc=[[1]]"_s) || !rig.start() ||
        !openEdit(rig, 0))
        return nullptr;
    TaskDialog *form = rig.window->editTaskDialog();
    QApplication::setActiveWindow(form);
    return QTest::qWaitForWindowActive(form) ? form : nullptr;
}

// The names of the widgets Tab reaches from `start`, `count` presses on.
QStringList tabWalk(QWidget *start, int count)
{
    start->setFocus();
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names << QApplication::focusWidget()->objectName();
    }
    return names;
}

} // namespace

void TestUnsavedWork::editsAreAskedFor_data()
{
    QTest::addColumn<QString>("dialog"); // "edit": 编辑任务 on task a; "new": 新建任务 typed
    QTest::addColumn<QString>("way"); // "b": 编辑任务 on task b; "a": on a again; "close", "exit"
    QTest::addColumn<QList<SaveAnswer>>("answers");
    QTest::addColumn<QString>("shown"); // the task the dialog shows after; empty: closed
    QTest::addColumn<bool>("saved");    // the typed text is on disk
    QTest::addColumn<bool>("windowOpen");

    const QList<SaveAnswer> cancel{SaveAnswer::Cancel};
    QTest::newRow("编辑任务 on another task, 取消: the edit and the selection stay")
        << u"edit"_s << u"b"_s << cancel << u"a"_s << false << true;
    QTest::newRow("编辑任务 on another task, 放弃")
        << u"edit"_s << u"b"_s << QList<SaveAnswer>{SaveAnswer::Discard} << u"b"_s << false << true;
    QTest::newRow("编辑任务 on another task, 保存")
        << u"edit"_s << u"b"_s << QList<SaveAnswer>{SaveAnswer::Save} << u"b"_s << true << true;
    QTest::newRow("编辑任务 on the same task: nothing asked, the edit stays")
        << u"edit"_s << u"a"_s << QList<SaveAnswer>{} << u"a"_s << false << true;
    QTest::newRow("Alt+F4, 取消: the window and the edit stay")
        << u"edit"_s << u"close"_s << cancel << u"a"_s << false << true;
    QTest::newRow("Alt+F4, 保存") << u"edit"_s << u"close"_s << QList<SaveAnswer>{SaveAnswer::Save}
                                  << QString() << true << false;
    QTest::newRow("退出程序, 取消") << u"edit"_s << u"exit"_s << cancel << u"a"_s << false << true;
    QTest::newRow("a new task typed, Alt+F4, 取消")
        << u"new"_s << u"close"_s << cancel << QString() << false << true;
    QTest::newRow("a new task typed, Alt+F4, 保存: it is made")
        << u"new"_s << u"close"_s << QList<SaveAnswer>{SaveAnswer::Save} << QString() << true
        << false;
}

void TestUnsavedWork::editsAreAskedFor()
{
    QFETCH(QString, dialog);
    QFETCH(QString, way);
    QFETCH(QList<SaveAnswer>, answers);
    QFETCH(QString, shown);
    QFETCH(bool, saved);
    QFETCH(bool, windowOpen);
    WindowRig rig;
    for (const QString &task : {u"a"_s, u"b"_s})
        QVERIFY(rig.workspace.addTask(task, u"ur=[[0]]uc=[[1]]"_s));
    QVERIFY(rig.start());
    TaskDialog *form = nullptr;
    if (dialog == u"edit") {
        QVERIFY(openEdit(rig, 0));
        form = rig.window->editTaskDialog();
    } else {
        rig.action(u"CD11"_s)->trigger();
        form = rig.window->newTaskDialog();
        form->nameField()->setText(u"c"_s);
    }
    form->contentField()->setPlainText(Typed);
    rig.shell.saveAnswers = answers;

    if (way == u"a" || way == u"b")
        openEdit(rig, way == u"a" ? 0 : 1);
    else if (way == u"close")
        QCOMPARE(rig.window->close(), !windowOpen);
    else
        rig.action(u"CD14"_s)->trigger();
    rig.shell.takeMessages();

    QCOMPARE(rig.shell.questions.size(), way == u"a" ? 0 : 1);
    QCOMPARE(rig.window->isVisible(), windowOpen);
    QCOMPARE(form->isVisible(), !shown.isEmpty() || (windowOpen && dialog == u"new"));
    if (!shown.isEmpty()) {
        QCOMPARE(form->originalName(), shown);
        // After 取消 the list points at the task on display, not the one clicked.
        QCOMPARE(rig.list(u"List5"_s)->currentItem()->text(), shown);
        QCOMPARE(form->contentField()->toPlainText() == Typed, shown == u"a"_s);
    }
    const QString task = dialog == u"edit" ? u"a"_s : u"c"_s;
    QCOMPARE(definitionOf(rig, task) == Typed, saved);
}

void TestUnsavedWork::keyboardNeverTrapped_data()
{
    QTest::addColumn<QString>("start"); // the widget with the focus (Form3's, or the window's)
    QTest::addColumn<int>("key");       // pressed there, with `modifiers`
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("focus"); // has the focus after
    QTest::addColumn<bool>("inserted"); // a tab, into the box started from
    QTest::newRow("Tab leaves 任务内容")
        << u"Text2"_s << int(Qt::Key_Tab) << 0 << u"TryUrl"_s << false;
    QTest::newRow("Shift+Tab leaves 任务内容 backwards")
        << u"Text2"_s << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << u"Text1"_s << false;
    QTest::newRow("Tab leaves 附加请求头")
        << u"Headers"_s << int(Qt::Key_Tab) << 0 << u"CookiesFile"_s << false;
    QTest::newRow("Ctrl+Tab types a tab and keeps the page")
        << u"Text2"_s << int(Qt::Key_Tab) << int(Qt::ControlModifier) << u"Text2"_s << true;
    // Enter tries the address; the 试采 button after it in the chain must not
    // be pressed too (it would cancel the try).
    QTest::newRow("Enter in the try address tries, once")
        << u"TryUrl"_s << int(Qt::Key_Return) << 0 << u"TryUrl"_s << false;
}

void TestUnsavedWork::keyboardNeverTrapped()
{
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, focus);
    QFETCH(bool, inserted);
    WindowRig rig;
    TaskDialog *form = activeEditDialog(rig);
    QVERIFY(form);
    auto *tabs = form->findChild<QTabWidget *>(u"Tabs"_s);
    QWidget *field = form->findChild<QWidget *>(start);
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(field))
            tabs->setCurrentIndex(i);
    }
    const int page = tabs->currentIndex();
    rig.shell.fileNames = {u"/tmp/cookies.txt"_s}; // for a 浏览… pressed by mistake
    field->setFocus();
    QTest::keyClick(field, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(tabs->currentIndex(), page);
    if (auto *box = qobject_cast<QPlainTextEdit *>(field))
        QCOMPARE(box->toPlainText().contains(u'\t'), inserted);
    QVERIFY(form->isVisible());
    QVERIFY(rig.shell.messages.isEmpty());
    // No button was pressed by mistake: neither 浏览… nor 试采.
    QCOMPARE(rig.shell.fileNames.size(), 1);
    QCOMPARE(form->isTrying(), key == Qt::Key_Return);
}

void TestUnsavedWork::tabFollowsTheLayout()
{
    WindowRig rig;
    TaskDialog *form = activeEditDialog(rig);
    QVERIFY(form);
    QCOMPARE(tabWalk(form->nameField(), 8),
             QStringList({u"Text2"_s, u"TryUrl"_s, u"TryLevel"_s, u"TryButton"_s,
                          u"TryLinksButton"_s, u"TryResult"_s, u"Command1"_s, u"CancelButton"_s}));
    form->hide();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QCOMPARE(tabWalk(rig.list(u"List9"_s), 3),
             QStringList({u"List10"_s, u"Command3"_s, u"Command4"_s}));
}

QTEST_MAIN(TestUnsavedWork)
#include "tst_unsavedwork.moc"
