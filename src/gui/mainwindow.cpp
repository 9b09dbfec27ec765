#include "gui/mainwindow.h"

#include "engine/fetcher.h"
#include "gui/livepreview.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "gui/recordlistmodel.h"
#include "gui/shell.h"
#include "gui/taskdialog.h"
#include "gui/toolbaricons.h"
#include "records/failurelog.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "tasks/installlayout.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QUrl>
#include <QWindowStateChangeEvent>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QListWidget *makeList(QWidget *parent, const QString &name)
{
    auto *list = new QListWidget(parent);
    list->setObjectName(name);
    list->setUniformItemSizes(true);
    return list;
}

// A list of records: rows are read from the database as they come into view,
// which needs every row to be of one height.
QListView *makeRecordList(QWidget *parent, const QString &name)
{
    auto *list = new QListView(parent);
    list->setObjectName(name);
    list->setUniformItemSizes(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

QLabel *makeLabel(QWidget *parent, const QString &text, const QString &name = QString())
{
    auto *label = new QLabel(text, parent);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

QWidget *captionRow(QWidget *parent, QLabel *caption, QLabel *count)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(caption);
    if (count)
        layout->addWidget(count);
    layout->addStretch(1);
    return row;
}

} // namespace

QString MainWindow::caption()
{
    return u"信息采集(V-3.4)"_s;
}

QString MainWindow::homePage()
{
    return u"https://caiji.example.com/"_s;
}

MainWindow::MainWindow(const Workspace &workspace, std::unique_ptr<Fetcher> listFetcher,
                       std::unique_ptr<Fetcher> contentFetcher, CollectionEngine::Options options,
                       Shell &shell, QWidget *parent)
    : QMainWindow(parent), m_workspace(workspace), m_folders(workspace), m_shell(shell),
      m_listFetcher(std::move(listFetcher)), m_contentFetcher(std::move(contentFetcher)),
      m_engine(std::make_unique<CollectionEngine>(workspace, m_listFetcher.get(),
                                                  m_contentFetcher.get(), options))
{
    setObjectName(u"Form1"_s);
    setWindowTitle(caption());
    buildLists();
    buildMenusAndToolbar();
    buildTray();
    connectEngine();

    const QStringList names = m_engine->startUp();
    m_list5->addItems(names);
    m_list9->addItems(names);
    resize(1100, 760);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildLists()
{
    auto *central = new QWidget(this);
    auto *grid = new QGridLayout(central);
    grid->setContentsMargins(4, 4, 4, 4);

    m_list5 = makeList(central, u"List5"_s);
    m_list6 = makeList(central, u"List6"_s);
    m_list7 = makeRecordList(central, u"List7"_s);
    m_runRecords = new RecordListModel(this);
    m_list7->setModel(m_runRecords);
    m_list9 = makeList(central, u"List9"_s);
    m_list10 = makeRecordList(central, u"List10"_s);
    m_label8 = makeLabel(central, u"0"_s, u"Label8"_s);
    m_label9 = makeLabel(central, u"0"_s, u"Label9"_s);
    m_command3 = new QPushButton(u"更新记录"_s, central);
    m_command3->setObjectName(u"Command3"_s);
    m_command4 = new QPushButton(u"删除记录"_s, central);
    m_command4->setObjectName(u"Command4"_s);
    m_picture3 = new RecordDisplay(central);

    grid->addWidget(makeLabel(central, u"启动区任务(执行请双击下列)"_s), 0, 0);
    grid->addWidget(makeLabel(central, u"执行区任务"_s), 0, 1);
    grid->addWidget(m_list5, 1, 0);
    grid->addWidget(m_list6, 1, 1);
    grid->addWidget(
        captionRow(central, makeLabel(central, u"执行区记录(浏览请双击下列)"_s), m_label9), 2, 0, 1,
        2);
    grid->addWidget(m_list7, 3, 0, 1, 2);
    grid->addWidget(makeLabel(central, u"所有任务(浏览请双击下列)"_s), 4, 0);
    auto *recordsCaption =
        captionRow(central, makeLabel(central, u"相应记录(浏览请双击下列)"_s), m_label8);
    recordsCaption->layout()->addWidget(m_command3);
    recordsCaption->layout()->addWidget(m_command4);
    grid->addWidget(recordsCaption, 4, 1);
    grid->addWidget(m_list9, 5, 0);
    grid->addWidget(m_list10, 5, 1);
    grid->addWidget(m_picture3, 6, 0, 1, 2);
    // The proportions of the original arrangement: list widths 2895 : 12135,
    // heights 780 : 1140 : 1140 : 5175.
    grid->setColumnStretch(0, 2895);
    grid->setColumnStretch(1, 12135);
    grid->setRowStretch(1, 780);
    grid->setRowStretch(3, 1140);
    grid->setRowStretch(5, 1140);
    grid->setRowStretch(6, 5175);
    setCentralWidget(central);

    m_browser =
        new RecordBrowser(m_workspace, {m_list9, m_list10, m_label8, m_picture3}, m_shell, this);
    m_preview = new LivePreview(*m_engine, m_list7, m_picture3, *m_browser, m_shell, this);

    connect(m_list5, &QListWidget::itemDoubleClicked, this, &MainWindow::queueSelectedTask);
    // A run's line leads to what failed in it.
    connect(m_list6, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        showFailures(m_engine->state().taskQueue.value(m_list6->row(item)));
    });
    connect(m_list9, &QListWidget::itemDoubleClicked, m_browser, &RecordBrowser::loadRecords);
    connect(m_list10, &QListView::doubleClicked, m_browser, &RecordBrowser::showRecord);
    connect(m_command3, &QPushButton::clicked, m_browser, &RecordBrowser::updateRecord);
    connect(m_command4, &QPushButton::clicked, m_browser, &RecordBrowser::deleteRecord);
}

void MainWindow::buildMenusAndToolbar()
{
    struct Command
    {
        QString name;
        QString text;
        std::function<void()> run; // empty: no action
    };
    auto none = std::function<void()>();
    const QList<QPair<QString, QString>> menus = {
        {u"CD1"_s, u"文件(&F)"_s}, {u"CD2"_s, u"执行(&T)"_s},     {u"CD3"_s, u"数据库(&D)"_s},
        {u"CD4"_s, u"高级(&G)"_s}, {u"CD5"_s, u"选项配置(&X)"_s}, {u"CD6"_s, u"工具(&K)"_s},
        {u"CD7"_s, u"帮助(&H)"_s}};
    const QList<Command> items = {
        {u"CD11"_s, u"新建任务(&N)"_s, [this] { newTask(); }},
        {u"CD12"_s, u"编辑任务(&E)"_s, [this] { editTask(); }},
        {u"CD13"_s, u"删除任务(&C)"_s, [this] { deleteTask(); }},
        {u"CD14"_s, u"退出程序(&Q)"_s, [this] { exitProgram(); }},
        {u"CD21"_s, u"暂停采集(&S)"_s, [this] { m_engine->pause(); }},
        {u"CD22"_s, u"继续采集(&Z)"_s, [this] { m_engine->resume(); }},
        {u"CD31"_s, u"数据库查看(&J)"_s, [this] { openSelectedTaskFolder(u"data"_s); }},
        {u"CD32"_s, u"数据库移动(&W)"_s, none},
        {u"CD33"_s, u"历史记录(&H)"_s, [this] { browseHistory(); }},
        {u"CD34"_s, u"失败列表(&F)"_s, [this] { showFailures(); }},
        {u"CD41"_s, u"进入任务主目录(&S)"_s, [this] { openTaskDirectory(); }},
        {u"CD42"_s, u"进入下载文件目录(&H)"_s, [this] { openSelectedTaskFolder(u"wek"_s); }},
        {u"CD51"_s, u"软件配置(&Z)"_s, none},
        {u"CD52"_s, u"多线程配置(&Y)"_s, none},
        {u"CD61"_s, u"HTML-TXT转换器(&I)"_s, none},
        {u"CD62"_s, u"URL-parse提取器(&L)"_s, none},
        {u"CD71"_s, u"主页(&A)"_s, [this] { openHomePage(); }},
        {u"CD73"_s, u"关于(&N)"_s, none},
        {u"CD74"_s, u"帮助文档(&M)"_s, [this] { openHelp(); }},
    };
    QHash<QString, QAction *> actions;
    for (const auto &[menuName, menuText] : menus) {
        QMenu *menu = menuBar()->addMenu(menuText);
        menu->setObjectName(menuName);
        for (const Command &item : items) {
            if (!item.name.startsWith(menuName) || item.name.size() != menuName.size() + 1)
                continue;
            QAction *action = menu->addAction(item.text);
            action->setObjectName(item.name);
            if (item.run)
                connect(action, &QAction::triggered, this, item.run);
            actions[item.name] = action;
        }
    }

    m_toolbar1 = addToolBar(u"Toolbar1"_s);
    m_toolbar1->setObjectName(u"Toolbar1"_s);
    m_toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar1->setMovable(false);
    // Position, caption, the menu item it runs (empty: none), icon glyph.
    const QList<std::tuple<QString, QString, QString>> buttons = {
        {u"暂停采集"_s, u"CD21"_s, u"停"_s},         {u"继续采集"_s, u"CD22"_s, u"续"_s},
        {QString(), QString(), QString()},           {u"新建任务"_s, u"CD11"_s, u"新"_s},
        {u"编辑任务"_s, u"CD12"_s, u"编"_s},         {u"删除任务"_s, u"CD13"_s, u"删"_s},
        {QString(), QString(), QString()},           {u"进入任务主目录"_s, u"CD41"_s, u"目"_s},
        {u"进入下载文件目录"_s, u"CD42"_s, u"下"_s}, {u"进入数据库目录"_s, u"CD31"_s, u"库"_s},
        {QString(), QString(), QString()},           {u"软件官方网站"_s, u"CD71"_s, u"网"_s},
        {u"软件说明"_s, QString(), u"说"_s},         {u"软件帮助"_s, u"CD74"_s, u"帮"_s},
        {QString(), QString(), QString()},           {u"退出程序"_s, u"CD14"_s, u"退"_s},
    };
    int position = 0;
    for (const auto &[text, menuItem, glyph] : buttons) {
        ++position;
        if (text.isEmpty()) {
            m_toolbar1->addSeparator();
            continue;
        }
        QAction *button = m_toolbar1->addAction(toolbarIcon(glyph, position), text);
        button->setObjectName(u"Toolbar1Button"_s + QString::number(position));
        if (QAction *action = actions.value(menuItem))
            connect(button, &QAction::triggered, action, &QAction::trigger);
    }
}

void MainWindow::buildTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(toolbarIcon(u"采"_s, 1), this);
    m_tray->setObjectName(u"cSysTray1"_s);
    m_tray->setToolTip(u"信息采集"_s);
    connect(m_tray, &QSystemTrayIcon::activated, this, &MainWindow::restoreFromTray);
}

bool MainWindow::hasTray() const
{
    return m_tray != nullptr;
}

void MainWindow::connectEngine()
{
    connect(m_engine.get(), &CollectionEngine::runListLineChanged, this,
            [this](int index, const QString &line) {
                if (index == m_list6->count()) {
                    m_list6->addItem(line);
                    return;
                }
                if (QListWidgetItem *item = m_list6->item(index)) {
                    item->setText(line);
                    m_list6->setCurrentRow(index);
                }
            });
    connect(m_engine.get(), &CollectionEngine::runRecordsCleared, this, [this] {
        m_runRecords->reset(0, [engine = m_engine.get()](int first, int count) {
            return engine->runRecords(first, count);
        });
    });
    connect(m_engine.get(), &CollectionEngine::recordStored, this,
            [this](int row, const QString &recordLine) {
                m_runRecords->appendRow(recordLine);
                m_list7->setCurrentIndex(m_runRecords->index(row));
            });
    connect(m_engine.get(), &CollectionEngine::recordCountChanged, this,
            [this](int count) { m_label9->setText(QString::number(count)); });
    // A finished run's line keeps its counts in its tip.
    const auto showSummary = [this](int index) {
        if (QListWidgetItem *item = m_list6->item(index))
            item->setToolTip(CollectionEngine::describe(m_engine->summary(index)));
    };
    connect(m_engine.get(), &CollectionEngine::taskCompleted, this, showSummary);
    connect(m_engine.get(), &CollectionEngine::taskNotStarted, this, showSummary);
}

void MainWindow::browseHistory()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    const QList<HistoryRun> runs =
        RunHistory(QFileInfo(m_workspace.databaseFile(task)).absolutePath()).runs();
    if (runs.isEmpty()) {
        m_shell.inform(this, u"该任务没有更早的采集记录"_s);
        return;
    }
    QStringList items;
    for (const HistoryRun &run : runs) {
        const std::optional<qint64> count = RecordStore::count(run.path);
        items << run.lastChanged.toString(u"yyyy-MM-dd HH:mm:ss"_s) + u"（"_s +
                     (count ? QString::number(*count) : u"?"_s) + u"条记录）"_s;
    }
    const int choice = m_shell.choose(this, task + u"：选择要浏览的一次采集"_s, items);
    if (choice >= 0 && choice < runs.size())
        m_browser->loadRecordsFrom(task, runs[choice].path);
}

void MainWindow::showFailures(const QString &task)
{
    const QString name = task.isEmpty() ? selectedTask() : task;
    if (name.isEmpty())
        return;
    const std::optional<QList<FailureEntry>> failures =
        FailureLog::read(m_workspace.databaseFile(name));
    if (!failures) {
        m_shell.inform(this, u"无法读取失败列表："_s + QDir::toNativeSeparators(FailureLog::fileFor(
                                                           m_workspace.databaseFile(name))));
        return;
    }
    if (failures->isEmpty()) {
        m_shell.inform(this, name + u"：最近一次采集没有失败"_s);
        return;
    }
    QString text;
    for (const FailureEntry &failure : *failures)
        text += failure.kind + u'\t' + failure.reason + u'\t' + failure.address + u'\n';
    m_shell.showText(this,
                     name + u"：最近一次采集失败"_s + QString::number(failures->size()) +
                         u"项（类型、原因、地址）"_s,
                     text);
}

QString MainWindow::selectedTask() const
{
    const QListWidgetItem *item = m_list5->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

bool MainWindow::isRunning(const QString &task) const
{
    const EngineState &state = m_engine->state();
    return state.running && state.taskName == TaskFolders::trimBlanks(task);
}

void MainWindow::queueSelectedTask()
{
    const QString task = selectedTask();
    if (!task.isEmpty())
        m_engine->queueTask(task);
}

void MainWindow::newTask()
{
    if (!m_form2) {
        m_form2 = new TaskDialog(TaskDialog::Kind::New, this);
        connect(m_form2, &TaskDialog::submitted, this, &MainWindow::createTask);
    }
    // Input survives reopening an open dialog, not closing it.
    if (!m_form2->isVisible()) {
        m_form2->nameField()->clear();
        m_form2->contentField()->clear();
    }
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

void MainWindow::createTask()
{
    const TaskChange change =
        m_folders.create(m_form2->nameField()->text(), m_form2->contentField()->toPlainText());
    m_shell.inform(m_form2, change.message);
    if (!change.ok)
        return;
    const QString name = TaskFolders::trimBlanks(m_form2->nameField()->text());
    m_list5->addItem(name);
    m_list9->addItem(name);
    m_form2->nameField()->clear();
    m_form2->contentField()->clear();
    m_form2->close();
}

void MainWindow::editTask()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    if (!m_form3) {
        m_form3 = new TaskDialog(TaskDialog::Kind::Edit, this);
        connect(m_form3, &TaskDialog::submitted, this, &MainWindow::saveEdit);
    }
    m_form3->openOn(task, m_list5->currentRow(), m_folders.readDefinition(task));
    m_form3->show();
    m_form3->raise();
    m_form3->activateWindow();
}

void MainWindow::saveEdit()
{
    const QString oldName = m_form3->originalName();
    const QString newName = m_form3->nameField()->text();
    const bool renames = TaskFolders::trimBlanks(oldName) != TaskFolders::trimBlanks(newName);
    if (renames && !TaskFolders::hasForbiddenCharacter(newName) && isRunning(oldName)) {
        m_shell.inform(m_form3, u"该任务正在采集，不能更改名称"_s);
        return;
    }
    const TaskChange change =
        m_folders.edit(oldName, newName, m_form3->contentField()->toPlainText());
    m_shell.inform(m_form3, change.message);
    if (!change.ok)
        return;
    int ta = m_form3->originalIndex();
    // A task deleted while the dialog was open moves the entries below it.
    if (const QListWidgetItem *item = m_list5->item(ta); !item || item->text() != oldName) {
        const QList<QListWidgetItem *> found = m_list5->findItems(oldName, Qt::MatchExactly);
        ta = found.isEmpty() ? -1 : m_list5->row(found.first());
    }
    if (renames) {
        const QString name = TaskFolders::trimBlanks(newName);
        if (QListWidgetItem *item = m_list5->item(ta))
            item->setText(name);
        if (QListWidgetItem *item = m_list9->item(ta))
            item->setText(name);
    }
    m_form3->close();
}

void MainWindow::deleteTask()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    if (isRunning(task)) {
        m_shell.inform(this, u"该任务正在采集，不能删除"_s);
        return;
    }
    const int index = m_list5->currentRow();
    // A delete takes the folder with every record: the user says yes first.
    const std::optional<qint64> records = RecordStore::count(m_workspace.databaseFile(task));
    const QString question = u"删除任务“"_s + task + u"”？\n任务目录连同其中的"_s +
                             (records ? QString::number(*records) + u"条记录"_s : u"记录"_s) +
                             u"、历史记录和下载的文件都将被删除，不能恢复。"_s;
    if (!m_shell.confirm(this, question))
        return;
    const TaskChange change = m_folders.remove(task);
    m_shell.inform(this, change.message);
    if (!change.ok)
        return;
    delete m_list9->takeItem(index);
    delete m_list5->takeItem(index);
    // Nothing stays selected, so a second click deletes nothing by itself.
    for (QListWidget *list : {m_list5, m_list9}) {
        list->setCurrentRow(-1);
        list->clearSelection();
    }
}

void MainWindow::openTaskDirectory()
{
    m_shell.open(QUrl::fromLocalFile(m_workspace.tasksDir()));
}

void MainWindow::openSelectedTaskFolder(const QString &subfolder)
{
    const QString task = selectedTask();
    if (!task.isEmpty())
        m_shell.open(QUrl::fromLocalFile(m_workspace.taskDir(task) + u'/' + subfolder));
}

void MainWindow::openHomePage()
{
    m_shell.open(QUrl(homePage()));
}

void MainWindow::openHelp()
{
    // The workspace's own copy first; a workspace elsewhere (the demo's, or
    // one named on the command line) uses the one beside the program.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {m_workspace.root() + u"/帮助.doc"_s,
                                    programDir + u"/帮助.doc"_s,
                                    InstallLayout(programDir).sharedDataDir() + u"/帮助.doc"_s};
    const auto found = std::find_if(candidates.begin(), candidates.end(),
                                    [](const QString &path) { return QFileInfo::exists(path); });
    m_shell.open(QUrl::fromLocalFile(found != candidates.end() ? *found : candidates.first()));
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray) {
        m_tray->show();
        hide();
    }
}

void MainWindow::restoreFromTray()
{
    show();
    if (m_tray)
        m_tray->show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    activateWindow();
}

void MainWindow::exitProgram()
{
    QApplication::exit(0);
}

} // namespace caiji
