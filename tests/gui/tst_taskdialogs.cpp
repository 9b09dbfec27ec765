// The New Task and Edit Task dialogs and the delete command, driven through
// the menus: names and contents as typed, the messages, the folders on disk,
// and the two task lists kept parallel.
#include "gui/taskdialog.h"
#include "records/recordstore.h"
#include "windowrig.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestTaskDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createEditDeleteFlow();
    void createTask_data();
    void createTask();
    void editTask_data();
    void editTask();
    void renameUsesIndexFromOpening();
    void renameAfterEarlierTaskDeleted();
    void oneDialogOfEachKind();
    void runningTaskKeepsNameAndFolder();
    void fileSystemFailures_data();
    void fileSystemFailures();
    void deleteTaskAsksFirst();
    void escapeAsksBeforeDroppingText_data();
    void escapeAsksBeforeDroppingText();
    void tryExplainsTypedDefinition_data();
    void tryExplainsTypedDefinition();
    void tryWaits_data();
    void tryWaits();
    void firstAddress_data();
    void firstAddress();
    void networkTabSaves_data();
    void networkTabSaves();
    void testConnection_data();
    void testConnection();
};

namespace {

const QString Forbidden = u"任务名称不能出现下列特殊字符：/\\:*?\"<>|"_s;
const QString Exists = u"任务已存在"_s;
const QString Created = u"任务创建成功!"_s;
const QString Edited = u"任务编辑成功!"_s;
const QString Deleted = u"任务已删除"_s;

QString contentOf(const QString &task)
{
    return u"ur=[[0]]uc=[[1]]"_s + task;
}

bool addTasks(WindowRig &rig, const QStringList &names)
{
    for (const QString &name : names) {
        if (!rig.workspace.addTask(name, contentOf(name)))
            return false;
    }
    return true;
}

QDialog *dialog(WindowRig &rig, const QString &form)
{
    return rig.window->findChild<QDialog *>(form);
}

QDialog *openDialog(WindowRig &rig, const QString &menuItem, const QString &form)
{
    rig.action(menuItem)->trigger();
    QCoreApplication::processEvents();
    return dialog(rig, form);
}

QLineEdit *nameField(QDialog *dialog)
{
    return dialog->findChild<QLineEdit *>(u"Text1"_s);
}

QPlainTextEdit *contentField(QDialog *dialog)
{
    return dialog->findChild<QPlainTextEdit *>(u"Text2"_s);
}

void submit(QDialog *dialog, const QString &name, const QString &content)
{
    nameField(dialog)->setText(name);
    contentField(dialog)->setPlainText(content);
    QTest::mouseClick(dialog->findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QCoreApplication::processEvents();
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"<missing>"_s;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

QStringList taskFolders(WindowRig &rig)
{
    return QDir(rig.workspace.workspace().tasksDir())
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Sets each "Field=value" of `typed` ("|" between them) on the 网络 tab; a
// browse button is answered with the value.
void typeNetwork(QDialog *form, RecordingShell &shell, const QString &typed)
{
    for (const QString &item : typed.split(u'|', Qt::SkipEmptyParts)) {
        QObject *field = form->findChild<QObject *>(item.section(u'=', 0, 0));
        if (auto *button = qobject_cast<QPushButton *>(field))
            (shell.fileNames << item.section(u'=', 1), button->click());
        else
            field->metaObject()->userProperty().write(field, item.section(u'=', 1));
    }
}

// The fields `typed` names, as the tab shows them.
QString shownNetwork(QDialog *form, const QString &typed)
{
    QStringList shown;
    for (const QString &item : typed.split(u'|', Qt::SkipEmptyParts)) {
        QObject *field = form->findChild<QObject *>(item.section(u'=', 0, 0));
        shown << item.section(u'=', 0, 0) + u'=' +
                     field->metaObject()->userProperty().read(field).toString();
    }
    return shown.join(u'|');
}

// The [network] keys of a task's settings.ini, sorted; <none> without the file.
QString networkKeys(WindowRig &rig, const QString &task)
{
    QSettings file(NetworkSettings::fileIn(rig.workspace.taskDir(task) + u"/data"_s),
                   QSettings::IniFormat);
    QStringList keys;
    for (const QString &key : file.allKeys()) {
        const QVariant value = file.value(key);
        keys << key.section(u'/', 1) + u'=' +
                    (value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',')
                                                              : value.toString());
    }
    return QFile::exists(file.fileName()) ? sorted(keys).join(u'|') : u"<none>"_s;
}

// The two task lists hold the same names in the same order.
void compareLists(WindowRig &rig, const QStringList &names)
{
    QCOMPARE(WindowRig::texts(rig.list(u"List5"_s)), names);
    QCOMPARE(WindowRig::texts(rig.list(u"List9"_s)), names);
}

} // namespace

void TestTaskDialogs::createEditDeleteFlow()
{
    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s}));
    QVERIFY(rig.start());

    QDialog *form2 = openDialog(rig, u"CD11"_s, u"Form2"_s);
    QVERIFY(form2 && form2->isVisible());
    QCOMPARE(form2->windowTitle(), u"新建任务"_s);
    QVERIFY(nameField(form2)->text().isEmpty());
    submit(form2, u"  abc  "_s, u"  \n\nur=[[1|x]]\nuc=[[2]]  "_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{Created});
    QVERIFY(!form2->isVisible());
    compareLists(rig, {u"a"_s, u"abc"_s});
    for (const QString &sub : {u"data"_s, u"web"_s, u"wek"_s})
        QVERIFY(QDir(rig.workspace.taskDir(u"abc"_s) + u'/' + sub).exists());
    // Blanks go, blank lines stay.
    QCOMPARE(fileText(rig.workspace.workspace().taskFile(u"abc"_s)), u"\n\nur=[[1|x]]\nuc=[[2]]"_s);

    WindowRig::click(rig.list(u"List5"_s), 1);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    QVERIFY(form3 && form3->isVisible());
    QCOMPARE(form3->windowTitle(), u"编辑任务"_s);
    QCOMPARE(nameField(form3)->text(), u"abc"_s);
    QCOMPARE(contentField(form3)->toPlainText(), u"\n\nur=[[1|x]]\nuc=[[2]]"_s);
    submit(form3, u"xyz"_s, u"uc=[[3]]"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{Edited});
    QVERIFY(!form3->isVisible());
    compareLists(rig, {u"a"_s, u"xyz"_s});
    QCOMPARE(taskFolders(rig), (QStringList{u"a"_s, u"xyz"_s}));
    QCOMPARE(fileText(rig.workspace.workspace().taskFile(u"xyz"_s)), u"uc=[[3]]"_s);

    WindowRig::click(rig.list(u"List5"_s), 1);
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{Deleted});
    compareLists(rig, {u"a"_s});
    QCOMPARE(taskFolders(rig), QStringList{u"a"_s});
}

void TestTaskDialogs::createTask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("created"); // empty: refused

    for (const QChar c : u"/\\:*?\"<>|"_s)
        QTest::newRow(qPrintable(u"forbidden "_s + c))
            << u"ab"_s + c + u'c' << Forbidden << QString();
    QTest::newRow("forbidden, padded") << u"  a|b  "_s << Forbidden << QString();
    QTest::newRow("empty") << QString() << Exists << QString();
    QTest::newRow("blanks only") << u"   "_s << Exists << QString();
    QTest::newRow("existing task") << u"a"_s << Exists << QString();
    QTest::newRow("existing task, padded") << u"  a "_s << Exists << QString();
    QTest::newRow("existing file") << u"n.jpg"_s << Exists << QString();
    QTest::newRow("dot") << u"."_s << Exists << QString();
    QTest::newRow("blanks trimmed") << u"  abc  "_s << Created << u"abc"_s;
    QTest::newRow("tab kept") << u"a\tb"_s << Created << u"a\tb"_s;
    QTest::newRow("inner blank kept") << u"新 任务"_s << Created << u"新 任务"_s;
    QTest::newRow("other punctuation") << u"a.b-c[1]"_s << Created << u"a.b-c[1]"_s;
    QTest::newRow("case differs") << u"A"_s << Created << u"A"_s;
}

void TestTaskDialogs::createTask()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, created);

    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s}));
    QFile picture(rig.workspace.workspace().placeholderPicture());
    QVERIFY(picture.open(QIODevice::WriteOnly));
    picture.close();
    QVERIFY(rig.start());

    QDialog *form2 = openDialog(rig, u"CD11"_s, u"Form2"_s);
    submit(form2, name, u"uc=[[1]]"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{message});
    if (created.isEmpty()) {
        // Refused: nothing on disk or in the lists, the input stays.
        QVERIFY(form2->isVisible());
        QCOMPARE(nameField(form2)->text(), name);
        QCOMPARE(contentField(form2)->toPlainText(), u"uc=[[1]]"_s);
        compareLists(rig, {u"a"_s});
        QCOMPARE(taskFolders(rig), QStringList{u"a"_s});
        return;
    }
    QVERIFY(!form2->isVisible());
    compareLists(rig, {u"a"_s, created});
    QCOMPARE(fileText(rig.workspace.workspace().taskFile(created)), u"uc=[[1]]"_s);
}

void TestTaskDialogs::editTask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("listed"); // after the edit; old file kept when refused

    const QStringList unchanged = {u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("same name") << u"b"_s << Edited << unchanged;
    QTest::newRow("same name, padded") << u" b  "_s << Edited << unchanged;
    QTest::newRow("rename") << u"d"_s << Edited << QStringList{u"a"_s, u"d"_s, u"c"_s};
    QTest::newRow("rename, padded") << u"  d  "_s << Edited << QStringList{u"a"_s, u"d"_s, u"c"_s};
    QTest::newRow("rename, case") << u"B"_s << Edited << QStringList{u"a"_s, u"B"_s, u"c"_s};
    QTest::newRow("existing name") << u"c"_s << Exists << unchanged;
    QTest::newRow("cleared") << QString() << Exists << unchanged;
    QTest::newRow("forbidden") << u"b*"_s << Forbidden << unchanged;
}

void TestTaskDialogs::editTask()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QStringList, listed);

    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s, u"c"_s}));
    QVERIFY(rig.start());
    WindowRig::click(rig.list(u"List5"_s), 1);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    QCOMPARE(contentField(form3)->toPlainText(), contentOf(u"b"_s));
    submit(form3, name, u"  uc=[[5]]  "_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{message});
    compareLists(rig, listed);
    QCOMPARE(taskFolders(rig), sorted(listed));

    const QString renamed = listed[1];
    const QString file = rig.workspace.workspace().taskFile(renamed);
    if (message != Edited) {
        QVERIFY(form3->isVisible());
        QCOMPARE(fileText(file), contentOf(u"b"_s));
        return;
    }
    QVERIFY(!form3->isVisible());
    QCOMPARE(fileText(file), u"uc=[[5]]"_s);
    // The other tasks are untouched.
    QCOMPARE(fileText(rig.workspace.workspace().taskFile(u"c"_s)), contentOf(u"c"_s));
}

void TestTaskDialogs::renameUsesIndexFromOpening()
{
    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s, u"c"_s}));
    QVERIFY(rig.start());
    QListWidget *list5 = rig.list(u"List5"_s);
    WindowRig::click(list5, 1);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    WindowRig::click(list5, 2); // the selection moves while the dialog is open
    submit(form3, u"e"_s, contentOf(u"b"_s));
    QCOMPARE(rig.shell.takeMessages(), QStringList{Edited});
    compareLists(rig, {u"a"_s, u"e"_s, u"c"_s});
    QCOMPARE(taskFolders(rig), (QStringList{u"a"_s, u"c"_s, u"e"_s}));
}

void TestTaskDialogs::renameAfterEarlierTaskDeleted()
{
    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s, u"c"_s}));
    QVERIFY(rig.start());
    QListWidget *list5 = rig.list(u"List5"_s);
    WindowRig::click(list5, 1);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    // Deleting a task above it moves the edited task up the lists.
    WindowRig::click(list5, 0);
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{Deleted});
    submit(form3, u"e"_s, contentOf(u"b"_s));
    QCOMPARE(rig.shell.takeMessages(), QStringList{Edited});
    compareLists(rig, {u"e"_s, u"c"_s});
    QCOMPARE(taskFolders(rig), (QStringList{u"c"_s, u"e"_s}));
}

void TestTaskDialogs::oneDialogOfEachKind()
{
    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s}));
    QVERIFY(rig.start());

    QDialog *form2 = openDialog(rig, u"CD11"_s, u"Form2"_s);
    nameField(form2)->setText(u"typed"_s);
    typeNetwork(form2, rig.shell, u"Proxy=h:1"_s);
    QCOMPARE(openDialog(rig, u"Toolbar1Button4"_s, u"Form2"_s), form2);
    QCOMPARE(nameField(form2)->text(), u"typed"_s); // kept while open
    form2->close();                                 // the close box drops the input
    QCOMPARE(openDialog(rig, u"CD11"_s, u"Form2"_s), form2);
    QVERIFY(form2->isVisible());
    QVERIFY(nameField(form2)->text().isEmpty());
    QCOMPARE(shownNetwork(form2, u"Proxy="_s), u"Proxy="_s);

    QListWidget *list5 = rig.list(u"List5"_s);
    WindowRig::click(list5, 0);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    QCOMPARE(nameField(form3)->text(), u"a"_s);
    WindowRig::click(list5, 1);
    QCOMPARE(openDialog(rig, u"Toolbar1Button5"_s, u"Form3"_s), form3);
    QCOMPARE(nameField(form3)->text(), u"b"_s);
    QCOMPARE(contentField(form3)->toPlainText(), contentOf(u"b"_s));

    QCOMPARE(rig.window->findChildren<QDialog *>().size(), 2);
    QVERIFY(rig.shell.messages.isEmpty());
}

void TestTaskDialogs::runningTaskKeepsNameAndFolder()
{
    WindowRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, u"ur=[[1|http://h/p|1|3|1|.htm]]uc=[[1]]"_s));
    QVERIFY(addTasks(rig, {u"b"_s}));
    QVERIFY(rig.start());
    rig.window->engine().schedulerTick();
    QVERIFY(rig.window->engine().state().running);
    QCOMPARE(rig.window->engine().state().taskName, u"a"_s);
    QListWidget *list5 = rig.list(u"List5"_s);

    WindowRig::click(list5, 0);
    QDialog *form3 = openDialog(rig, u"CD12"_s, u"Form3"_s);
    submit(form3, u"renamed"_s, u"uc=[[1]]"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"该任务正在采集，不能更改名称"_s});
    QVERIFY(form3->isVisible());
    compareLists(rig, {u"a"_s, u"b"_s});
    QCOMPARE(taskFolders(rig), (QStringList{u"a"_s, u"b"_s}));
    QVERIFY(fileText(rig.workspace.workspace().taskFile(u"a"_s)).startsWith(u"ur=[[1|"_s));

    // Its definition may still be saved under the same name.
    submit(form3, u"a"_s, u"ur=[[1|http://h/q|1|3|1|.htm]]uc=[[1]]"_s);
    QCOMPARE(rig.shell.takeMessages(), QStringList{Edited});
    QVERIFY(fileText(rig.workspace.workspace().taskFile(u"a"_s)).contains(u"h/q"_s));

    WindowRig::click(list5, 0);
    rig.action(u"Toolbar1Button6"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"该任务正在采集，不能删除"_s});
    compareLists(rig, {u"a"_s, u"b"_s});
    QVERIFY(QDir(rig.workspace.taskDir(u"a"_s)).exists());

    // A task that is only queued can go.
    WindowRig::click(list5, 1);
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.takeMessages(), QStringList{Deleted});
    compareLists(rig, {u"a"_s});
    QVERIFY(rig.window->engine().state().running);
}

void TestTaskDialogs::fileSystemFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("message"); // how the message starts

    QTest::newRow("task folder not created") << u"create"_s << u"无法创建任务目录："_s;
    QTest::newRow("task file not written") << u"write"_s << u"无法写入任务文件："_s;
    QTest::newRow("rename refused") << u"rename"_s << u"无法更改任务名称："_s;
    QTest::newRow("folder gone before delete") << u"delete"_s << u"无法删除任务目录："_s;
    QTest::newRow("folder gone while editing") << u"edit gone"_s << u"无法写入任务文件："_s;
}

void TestTaskDialogs::fileSystemFailures()
{
    QFETCH(QString, operation);
    QFETCH(QString, message);

    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s}));
    QVERIFY(rig.start());
    // Longer than any file name the file system takes.
    const QString tooLong(300, u'x');
    QDialog *open = nullptr;
    if (operation == u"create") {
        open = openDialog(rig, u"CD11"_s, u"Form2"_s);
        submit(open, tooLong, u"uc=[[1]]"_s);
    } else if (operation == u"write") {
        // A file where the data folder should be.
        const QString data = rig.workspace.taskDir(u"b"_s) + u"/data"_s;
        QVERIFY(QDir(data).removeRecursively());
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        WindowRig::click(rig.list(u"List5"_s), 1);
        open = openDialog(rig, u"CD12"_s, u"Form3"_s);
        submit(open, u"c"_s, u"uc=[[1]]"_s);
    } else if (operation == u"rename") {
        WindowRig::click(rig.list(u"List5"_s), 1);
        open = openDialog(rig, u"CD12"_s, u"Form3"_s);
        submit(open, tooLong, u"uc=[[1]]"_s);
    } else if (operation == u"edit gone") {
        WindowRig::click(rig.list(u"List5"_s), 1);
        open = openDialog(rig, u"CD12"_s, u"Form3"_s);
        QVERIFY(QDir(rig.workspace.taskDir(u"b"_s)).removeRecursively());
        submit(open, u"b"_s, u"uc=[[1]]"_s);
    } else {
        QVERIFY(QDir(rig.workspace.taskDir(u"b"_s)).removeRecursively());
        WindowRig::click(rig.list(u"List5"_s), 1);
        rig.action(u"CD13"_s)->trigger();
    }

    const QStringList messages = rig.shell.takeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(message), qPrintable(messages[0]));
    compareLists(rig, {u"a"_s, u"b"_s});
    if (open)
        QVERIFY(open->isVisible());
    const QStringList left = operation == u"delete" || operation == u"edit gone"
                                 ? QStringList{u"a"_s}
                                 : QStringList{u"a"_s, u"b"_s};
    QCOMPARE(taskFolders(rig), left);
}

void TestTaskDialogs::deleteTaskAsksFirst()
{
    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s, u"b"_s, u"c"_s}));
    {
        RecordStore store;
        QVERIFY(store.create(rig.workspace.databaseFile(u"b"_s), 1));
        for (int i = 0; i < 3; ++i)
            QVERIFY(store.append(u"^r"_s));
    }
    QVERIFY(rig.start());
    QListWidget *list5 = rig.list(u"List5"_s);
    WindowRig::click(list5, 1);

    rig.shell.answers = {false};
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.questions.size(), 1);
    QVERIFY(rig.shell.questions[0].startsWith(u"删除任务“b”？\n任务目录连同其中的3条记录"_s));
    QVERIFY(QFileInfo::exists(rig.workspace.taskDir(u"b"_s)));
    QVERIFY(rig.shell.takeMessages().isEmpty());

    rig.action(u"CD13"_s)->trigger(); // yes
    QVERIFY(!QFileInfo::exists(rig.workspace.taskDir(u"b"_s)));
    QCOMPARE(rig.shell.takeMessages(), QStringList{Deleted});
    QCOMPARE(WindowRig::texts(list5), (QStringList{u"a"_s, u"c"_s}));
    // Nothing is selected now, so the next click deletes nothing.
    QCOMPARE(list5->selectedItems().size(), 0);
    rig.action(u"CD13"_s)->trigger();
    QCOMPARE(rig.shell.questions.size(), 2);
    QVERIFY(QFileInfo::exists(rig.workspace.taskDir(u"c"_s)));
}

void TestTaskDialogs::escapeAsksBeforeDroppingText_data()
{
    QTest::addColumn<QString>("command");
    // Typed into the name field, or as Field=value on the 网络 tab; empty: left as it is.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("answer"); // to the question, if one is asked
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("stays");

    QTest::newRow("new, nothing typed") << u"CD11"_s << QString() << true << false << false;
    QTest::newRow("new, typed, keep") << u"CD11"_s << u"x"_s << false << true << true;
    QTest::newRow("new, typed, drop") << u"CD11"_s << u"x"_s << true << true << false;
    QTest::newRow("new, network, keep") << u"CD11"_s << u"Proxy=h:1"_s << false << true << true;
    QTest::newRow("edit, unchanged") << u"CD12"_s << QString() << true << false << false;
    QTest::newRow("edit, renamed, keep") << u"CD12"_s << u"e"_s << false << true << true;
    QTest::newRow("edit, mended, keep")
        << u"CD12"_s << u"Headers=|Proxy="_s << false << true << true;
    QTest::newRow("edit, only new unticked, keep")
        << u"CD12"_s << u"OnlyNew=false"_s << false << true << true;
    QTest::newRow("edit, publish mended, keep")
        << u"CD12"_s << u"PublishUrl=|PublishTable=t2"_s << false << true << true;
    // The 取消 button does what Escape does.
    QTest::newRow("new, typed, 取消, keep") << u"CD11+取消"_s << u"x"_s << false << true << true;
}

void TestTaskDialogs::escapeAsksBeforeDroppingText()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, stays);
    const bool button = command.endsWith(u"+取消");
    command.remove(u"+取消"_s);

    WindowRig rig;
    QVERIFY(addTasks(rig, {u"a"_s}));
    // Settings loaded on opening are not typed, nor is a malformed file shown as written.
    const QString written = u"MinDelayMs=250|Headers=: x|Proxy=ftp://h|PublishUrl=http://h/x"_s;
    QVERIFY(
        writeFile(rig.workspace.taskDir(u"a"_s) + u"/data/settings.ini"_s,
                  "[network]\nminDelayMs=250\nheaders=: x\nproxy=ftp://h\n"
                  "[collect]\nonlyNew=true\n[schedule]\nevery=6h\n[publish]\nurl=http://h/x\n"));
    QVERIFY(rig.start());
    WindowRig::click(rig.list(u"List5"_s), 0);
    QDialog *form = openDialog(rig, command, command == u"CD11" ? u"Form2"_s : u"Form3"_s);
    if (command == u"CD12") {
        QCOMPARE(shownNetwork(form, written), written);
        QVERIFY(rig.shell.messages.join(u'|').contains(u"数据库地址“http://h/x”："_s));
        QVERIFY(rig.shell.takeMessages().join(u'|').contains(u"附加请求头："_s));
    }
    if (name.contains(u'='))
        typeNetwork(form, rig.shell, name);
    else if (!name.isEmpty())
        nameField(form)->setText(name);
    const QString shown = nameField(form)->text();
    rig.shell.answers = {answer};
    if (button)
        form->findChild<QPushButton *>(u"CancelButton"_s)->click();
    else
        QTest::keyClick(form, Qt::Key_Escape);
    QCOMPARE(rig.shell.questions.size(), asked ? 1 : 0);
    QCOMPARE(form->isVisible(), stays);
    QCOMPARE(nameField(form)->text(), shown);
    // Saving closes without asking.
    if (stays) {
        submit(form, command == u"CD11" ? u"n"_s : u"e"_s, contentOf(u"n"_s));
        QVERIFY(!form->isVisible());
        QCOMPARE(rig.shell.questions.size(), 1);
    }
}

void TestTaskDialogs::tryExplainsTypedDefinition_data()
{
    QTest::addColumn<QString>("marker"); // the start marker of the title field
    QTest::addColumn<QString>("page");   // the page tried
    QTest::addColumn<QString>("shown");  // text the explanation must hold
    QTest::addColumn<bool>("red");       // shown marked in red
    QTest::addColumn<QString>("proxy");  // typed on the 网络 tab, never saved
    QTest::newRow("found") << u"<h1>"_s << u"p.htm"_s << u"截取值：“标题”"_s << false << QString();
    // 试链接: the links of the page by the typed scheme-two rules.
    QTest::newRow("links") << u"<h1>"_s << u"p.htm"_s << u"链接1 http://h/art.htm “文章”"_s << false
                           << u"links"_s;
    QTest::newRow("misspelt marker")
        << u"<h2>"_s << u"p.htm"_s << u"请检查：标记字段1：区域开始标记“<h2>”在页面中找不到"_s
        << true << QString();
    QTest::newRow("page not fetched")
        << u"<h1>"_s << u"missing.htm"_s << u"取不到页面 http://h/missing.htm（failed）"_s << true
        << QString();
    QTest::newRow("typed proxy") << u"<h1>"_s << u"p.htm"_s << u"截取值：“标题”"_s << false
                                 << u"h:1081"_s;
    QTest::newRow("malformed proxy")
        << u"<h1>"_s << u"p.htm"_s << u"需要修改：网络设置 代理“ftp://h”："_s << true
        << u"ftp://h"_s;
}

void TestTaskDialogs::tryExplainsTypedDefinition()
{
    QFETCH(QString, marker);
    QFETCH(QString, page);
    QFETCH(QString, shown);
    QFETCH(bool, red);
    QFETCH(QString, proxy);
    auto owned = std::make_unique<FakeFetcher>();
    FakeFetcher *fetcher = owned.get();
    fetcher->setPage(u"http://h/p.htm"_s,
                     "<html><head><meta charset=utf-8></head><body><h1>标题</h1>"
                     "<a href=art.htm>文章</a></body></html>");
    RecordingShell shell;
    TaskDialog dialog(TaskDialog::Kind::New, shell, nullptr, std::move(owned));
    const bool links = proxy == u"links";
    typeNetwork(&dialog, shell, links ? QString() : u"Proxy="_s + proxy);
    // Typed, never saved.
    dialog.contentField()->setPlainText(u"ur=[[2|http://h/p.htm|9|art||||||]]uc=[[2]]"_s +
                                        u"<getm1>w1=[[1]]w2=[[1]]w3=[[1]]w4=[["_s + marker +
                                        u"^</body>^"_s + marker +
                                        u"^</h1>^-1^0]]w5=[[0]]w7=[[0]]<getm1>"_s);
    dialog.tryUrlField()->setText(u"http://h/"_s + page);
    QSignalSpy tried(&dialog, &TaskDialog::tried);
    (links ? dialog.tryLinksButton() : dialog.tryButton())->click();
    QVERIFY(!tried.isEmpty() || tried.wait(5000)); // a refusal shows at once
    const QTextCursor found = dialog.tryResult()->document()->find(shown);
    QVERIFY2(!found.isNull(), qPrintable(dialog.tryResult()->toPlainText()));
    QCOMPARE(found.charFormat().foreground().color() == QColor(0xc0, 0, 0), red);
    QVERIFY(dialog.tryButton()->isEnabled());
    // Each fetch starts with the tab's values; a malformed one fetches nothing.
    QCOMPARE(fetcher->calls().size(), proxy.startsWith(u"ftp") ? 0 : 1);
    QCOMPARE(fetcher->runs().size() == 1 && fetcher->runs()[0].taskProxy, proxy == u"h:1081");
    // A range of addresses has no list page whose links could be tried.
    QVERIFY(dialog.tryLinksButton()->isEnabled());
    dialog.contentField()->setPlainText(u"ur=[[1|http://h/|1|2|1|.htm]]uc=[[1]]"_s);
    QVERIFY(!dialog.tryLinksButton()->isEnabled());
}

void TestTaskDialogs::tryWaits_data()
{
    QTest::addColumn<QString>("then"); // while the page is awaited
    QTest::addColumn<QString>("shown");
    QTest::newRow("cancelled") << u"cancel"_s << u"试采已取消。"_s;
    // A slow site is no fault of the definition: nothing to fix, nothing red.
    QTest::newRow("timed out") << u"time out"_s
                               << u"取不到页面 http://h/p.htm（超时）：网站没有在限定时间内回应，"
                                  "这不是任务内容的问题，可以稍后再试。"_s;
}

void TestTaskDialogs::tryWaits()
{
    QFETCH(QString, then);
    QFETCH(QString, shown);
    auto owned = std::make_unique<FakeFetcher>();
    FakeFetcher *fetcher = owned.get();
    fetcher->setHanging(u"http://h/p.htm"_s);
    RecordingShell shell;
    TaskDialog dialog(TaskDialog::Kind::New, shell, nullptr, std::move(owned));
    // No address typed: the definition's first one is tried.
    dialog.contentField()->setPlainText(u"ur=[[2|http://h/p.htm]]uc=[[1]]"_s);
    dialog.tryButton()->click();
    QCOMPARE(dialog.tryUrlField()->text(), u"http://h/p.htm"_s);
    QVERIFY(dialog.isTrying());
    if (then == u"cancel") {
        dialog.tryButton()->click();                    // the same button cancels
        QVERIFY(fetcher->deliver(u"http://h/p.htm"_s)); // too late to count
    } else {
        Q_EMIT fetcher->fetchDone(1, u"http://h/p.htm"_s, QString(), u"超时"_s, -1, QString(),
                                  QString(), QByteArray(), QByteArray());
    }
    QCOMPARE(dialog.tryResult()->toPlainText().trimmed(), shown);
    QVERIFY(!dialog.tryResult()->toHtml().contains(u"#c00000"_s));
}

void TestTaskDialogs::firstAddress_data()
{
    QTest::addColumn<QString>("ur");
    QTest::addColumn<QString>("address");
    QTest::newRow("scheme one") << u"1|http://h/p|3|9|2|.htm"_s << u"http://h/p3.htm"_s;
    QTest::newRow("counting down") << u"1|http://h/p|9|3|-2|.htm"_s << u"http://h/p9.htm"_s;
    QTest::newRow("step of 0 seeds nothing") << u"1|http://h/p|1|9|0|.htm"_s << QString();
    QTest::newRow("scheme two") << u"2|http://h/list.htm|x"_s << u"http://h/list.htm"_s;
}

void TestTaskDialogs::firstAddress()
{
    QFETCH(QString, ur);
    QFETCH(QString, address);
    // The edit dialog opens with it.
    RecordingShell shell;
    TaskDialog dialog(TaskDialog::Kind::Edit, shell, nullptr, std::make_unique<FakeFetcher>());
    dialog.openOn(u"t"_s, 0, u"ur=[["_s + ur + u"]]\r\nuc=[[1]]"_s);
    QCOMPARE(dialog.tryUrlField()->text(), address);
}

void TestTaskDialogs::networkTabSaves_data()
{
    QTest::addColumn<QString>("name");    // "n": a new task; else task "a" edited under that name
    QTest::addColumn<QString>("typed");   // Field=value|...
    QTest::addColumn<QString>("refusal"); // what the message names; empty: saved
    QTest::addColumn<QString>("keys");    // [network] of the saved (or kept) settings.ini

    const QString kept = u"cookiesFile=c.txt|retries=3"_s;
    QTest::newRow("new, defaults") << u"n"_s << QString() << QString() << u"<none>"_s;
    QTest::newRow("new, every field")
        << u"n"_s
        << u"Retries=0|ConnectionsPerHost=2|MinDelayMs=500|Robots=true|UserAgent=B;1|"
           "Headers=Referer: http://a.cn/\nAccept-Language: zh-CN,zh;q=0.9|Proxy=h:1"_s
        << QString()
        << u"connectionsPerHost=2|headers=Referer: http://a.cn/,Accept-Language: zh-CN,zh;q=0.9|"
           "minDelayMs=500|proxy=h:1|retries=0|robots=true|userAgent=B;1"_s;
    QTest::newRow("new, cookies picked elsewhere")
        << u"n"_s << u"CookiesBrowse=OUT"_s << QString() << u"cookiesFile=cookies.txt"_s;
    QTest::newRow("edit, untouched") << u"a"_s << QString() << QString() << kept;
    QTest::newRow("renamed, one back to its default, cookies move along")
        << u"b"_s << u"UserAgent=B|Retries=2"_s << QString() << u"cookiesFile=c.txt|userAgent=B"_s;
    QTest::newRow("new, unknown proxy scheme")
        << u"n"_s << u"Proxy=ftp://h"_s << u"网络页：代理“ftp://h”："_s << u"<none>"_s;
    QTest::newRow("edit, missing cookies file, named as typed")
        << u"a"_s << u"CookiesFile=none.txt"_s << u"网络页：cookies 文件“none.txt”："_s << kept;
    // Every problem of the dialog in one message, the schedule's too.
    QTest::newRow("new, three problems said at once")
        << u"n"_s
        << u"Proxy=ftp://h|CookiesFile=none.txt|ScheduleEvery=true|EveryCount=400|EveryUnit=天"_s
        << u"\n网络页：代理“ftp://h”：不支持的代理协议“ftp”（可用 http:// 或 socks5://）\n"
           "采集方式页：每400天"_s
        << u"<none>"_s;
    // The 采集方式 tab: [collect] and [schedule] beside [network].
    QTest::newRow("new, only new, stop after 5") << u"n"_s << u"OnlyNew=true|StopAfterKnown=5"_s
                                                 << QString() << u"onlyNew=true|stopAfterKnown=5"_s;
    QTest::newRow("renamed, every 6 hours, network kept")
        << u"b"_s << u"ScheduleEvery=true|EveryCount=6|EveryUnit=小时"_s << QString()
        << u"cookiesFile=c.txt|every=6h|retries=3"_s;
    QTest::newRow("new, daily") << u"n"_s << u"ScheduleDaily=true|DailyTimes=08:00,20:00"_s
                                << QString() << u"daily=08:00,20:00"_s;
    QTest::newRow("new, every 400 days")
        << u"n"_s << u"ScheduleEvery=true|EveryCount=400|EveryUnit=天"_s << u"每400天"_s
        << u"<none>"_s;
    QTest::newRow("edit, malformed daily, only new not saved either")
        << u"a"_s << u"DailyTimes=25:00|ScheduleDaily=true|OnlyNew=true"_s << u"每天“25:00”"_s
        << kept;
    QTest::newRow("edit, settings.ini unwritable")
        << u"a"_s << u"OnlyNew=true"_s << u"没有写入"_s << u"<unwritable>"_s;
    // The 发布 tab: [publish].
    QTest::newRow("new, publish address and table")
        << u"n"_s << u"PublishUrl=mysql://u@h:3306/db|PublishTable=表"_s << QString()
        << u"table=表|url=mysql://u@h:3306/db"_s;
    QTest::newRow("edit, publish address refused")
        << u"a"_s << u"PublishUrl=http://h/db"_s << u"postgresql://或mysql://"_s << kept;
    QTest::newRow("edit, publish not written")
        << u"a"_s << u"PublishTable=x"_s << u"“发布”页的设置没有写入"_s << u"<unwritable>"_s;
}

void TestTaskDialogs::networkTabSaves()
{
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    QFETCH(QString, keys);

    WindowRig rig;
    QTemporaryDir outside;
    const QByteArray cookies = "site.cn\tFALSE\t/\tFALSE\t0\tsession\tabc\n";
    const QByteArray ini = "[network]\n; 登录用\nretries=3\ncookiesFile=c.txt\n";
    const QString data = rig.workspace.taskDir(u"a"_s) + u"/data/"_s;
    QVERIFY(addTasks(rig, {u"a"_s}) && writeFile(data + u"settings.ini"_s, ini) &&
            writeFile(data + u"c.txt"_s, cookies) && writeFile(outside.filePath(u"c"_s), cookies));
    const bool unwritable = keys == u"<unwritable>";
    if (unwritable) // a folder where the file is
        QVERIFY(QFile::remove(data + u"settings.ini"_s) && QDir(data).mkdir(u"settings.ini"_s));
    QVERIFY(rig.start());
    const bool isNew = name == u"n";
    WindowRig::click(rig.list(u"List5"_s), 0);
    QDialog *form = openDialog(rig, isNew ? u"CD11"_s : u"CD12"_s, isNew ? u"Form2"_s : u"Form3"_s);
    typeNetwork(form, rig.shell, QString(typed).replace(u"OUT"_s, outside.path() + u"/c"_s));
    submit(form, name, u"uc=[[1]]"_s);
    if (unwritable) { // the task is saved; that the settings are not is told
        const QString told = rig.shell.takeMessages().join(u'|');
        QVERIFY2(told.contains(Edited) && told.contains(refusal) && !form->isVisible(),
                 qPrintable(told));
        return;
    }
    const QString task = refusal.isEmpty() || isNew ? name : u"a"_s;
    QCOMPARE(networkKeys(rig, task), keys);
    // A refused or untouched tab leaves the file as it was written.
    if (typed.isEmpty() || !refusal.isEmpty())
        QCOMPARE(fileText(data + u"settings.ini"_s), QString::fromUtf8(ini));
    const QString told = rig.shell.takeMessages().join(u'|');
    QVERIFY2(told.contains(refusal.isEmpty() ? (isNew ? Created : Edited) : refusal),
             qPrintable(told));
    if (!refusal.isEmpty()) { // on the tab of the field, with nothing saved
        QVERIFY(form->findChild<QTabWidget *>(u"Tabs"_s)->currentWidget()->isAncestorOf(
                    form->findChild<QWidget *>(typed.section(u'=', 0, 0))) &&
                form->isVisible() && !QFileInfo::exists(rig.workspace.taskDir(u"n"_s)));
        return;
    }
    // Opened again, the tab shows what was saved, and the files it names read.
    WindowRig::click(rig.list(u"List5"_s), isNew ? 1 : 0);
    form = openDialog(rig, u"CD12"_s, u"Form3"_s);
    const QString saved = typed.replace(u"CookiesBrowse=OUT"_s, u"CookiesFile=cookies.txt"_s);
    QCOMPARE(shownNetwork(form, saved), saved);
    QString error;
    QVERIFY2(NetworkSettings::read(rig.workspace.taskDir(task) + u"/data"_s, &error),
             qPrintable(error));
}

void TestTaskDialogs::testConnection_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("told"); // the message begins so
    QTest::newRow("address refused") << u"http://h/x"_s << u"数据库地址有误：\n数据库地址应以"_s;
    QTest::newRow("server away") << u"postgresql://caiji:pw@127.0.0.1:1/x"_s
                                 << u"无法连接 postgresql://caiji@127.0.0.1:1/x：\n"_s;
}

void TestTaskDialogs::testConnection()
{
    QFETCH(QString, url);
    QFETCH(QString, told);
    WindowRig rig;
    QVERIFY(rig.start());
    typeNetwork(openDialog(rig, u"CD11"_s, u"Form2"_s), rig.shell,
                u"PublishUrl="_s + url + u"|TestConnection"_s);
    // The server's reason follows, and the password is not shown.
    const QString message = rig.shell.takeMessages().join(u'|');
    QVERIFY2(message.startsWith(told) && message.size() > told.size() + 4 &&
                 !message.contains(u"pw"_s),
             qPrintable(message));
}

QTEST_MAIN(TestTaskDialogs)
#include "tst_taskdialogs.moc"
