#include "gui/mainwindow.h"

#include "engine/fetcher.h"
#include "engine/livepublisher.h"
#include "engine/scheduledtasks.h"
#include "gui/columnfont.h"
#include "gui/elidedlabel.h"
#include "gui/elidingstatusbar.h"
#include "gui/listheader.h"
#include "gui/livepreview.h"
#include "gui/publishdialog.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "gui/recordlistmodel.h"
#include "gui/rowdelegate.h"
#include "gui/runlistdelegate.h"
#include "gui/shell.h"
#include "gui/taskdialog.h"
#include "gui/toolbaricons.h"
#include "records/failurelog.h"
#include "records/publishrows.h"
#include "records/recordexport.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "tasks/installlayout.h"
#include "text/readtext.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <numeric>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

template <typename View> View *makeView(QWidget *parent, const QString &name, bool columns)
{
    auto *view = new View(parent);
    view->setObjectName(name);
    view->setUniformItemSizes(true);
    view->setItemDelegate(new RowDelegate(view));
    if (columns)
        view->setFont(columnFont(view->font()));
    return view;
}

QListWidget *makeList(QWidget *parent, const QString &name, bool columns = false)
{
    return makeView<QListWidget>(parent, name, columns);
}

// A list of records: rows are read from the database as they come into view,
// which needs every row to be of one height.
QListView *makeRecordList(QWidget *parent, const QString &name)
{
    auto *list = makeView<QListView>(parent, name, true);
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

// A caption (or caption row) over a list, as one pane of a splitter; the list
// keeps room for three rows. A header line naming the columns may sit right
// above the list.
// The height of a row of Chinese text in `list`.
int rowHeight(const QAbstractItemView *list)
{
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.widget = list;
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = u"中文Ag"_s;
    return list->style()
        ->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), list)
        .height();
}

QWidget *pane(QWidget *caption, QAbstractItemView *list, ListHeader *header = nullptr)
{
    auto *widget = new QWidget;
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(caption);
    if (header) {
        auto *column = new QVBoxLayout;
        column->setSpacing(0);
        column->addWidget(header);
        column->addWidget(list, 1);
        layout->addLayout(column, 1);
    } else {
        layout->addWidget(list, 1);
    }
    list->setMinimumHeight(3 * rowHeight(list) + 2 * list->frameWidth());
    return widget;
}

QSplitter *splitter(Qt::Orientation orientation, const QString &name, const QList<QWidget *> &panes,
                    const QList<int> &stretch)
{
    auto *result = new QSplitter(orientation);
    result->setObjectName(name);
    result->setChildrenCollapsible(false);
    for (qsizetype i = 0; i < panes.size(); ++i) {
        result->addWidget(panes[i]);
        result->setStretchFactor(int(i), stretch[i]);
    }
    return result;
}

// Rows each row of lists shows at the window's first start, room allowing.
constexpr int RowsShown = 8;

// How long closing the window waits for the last records to be published:
// one try each, which gives up on a server that does not answer in 5 s.
constexpr int ClosingPublishWaitMs = 8000;

// The current row's text when that row is selected, else empty.
QString selectedText(const QListWidget *list)
{
    const QListWidgetItem *item = list->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

} // namespace

QString MainWindow::version()
{
    return QStringLiteral(CAIJI_VERSION);
}

QString MainWindow::caption()
{
    return tr("信息采集(V-%1)").arg(version());
}

QString MainWindow::homePage()
{
    return u"https://caiji.example.com/"_s;
}

QString MainWindow::aboutText()
{
    // The licence as the package's copyright file states it.
    return tr("信息采集（caiji）\n版本 "
              "%1\n\n按规则采集网页内容，保存为记录，可浏览、编辑和导出。\n\n"
              "许可证：caiji 开发者尚未以任何许可证发布本程序，保留所有权利。\n"
              "使用 Qt 6（LGPL-3.0）、libxml2（MIT）、libxlsxwriter（BSD-2-Clause）"
              "和 SQLite（公有领域）。")
        .arg(version());
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
    setWindowIcon(programIcon());
    m_publisher = new LivePublisher(this);
    buildLists();
    buildMenusAndToolbar();
    buildStatusBar();
    buildTray();
    connectEngine();

    const QStringList names = m_engine->startUp();
    m_list5->addItems(names);
    m_list9->addItems(names);
    buildSchedule();
    // Logging out or shutting down asks about unsaved work as closing does,
    // where the session manager lets the program ask.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (manager.allowsInteraction()) {
            const bool mayEnd = settleUnsavedWork();
            manager.release();
            if (!mayEnd)
                manager.cancel();
        }
    });
    setMinimumSize(800, 600);
    // Room for RowsShown rows in each row of lists, where the screen has it.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1100, 860);
    resize(std::min(1100, screen.width()), std::clamp(screen.height() - 40, 600, 960));
    restoreLayout();
    updateStatus();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildLists()
{
    m_list5 = makeList(this, u"List5"_s);
    m_list6 = makeList(this, u"List6"_s, true);
    m_list6->setItemDelegate(new RunListDelegate(m_list6));
    m_list7 = makeRecordList(this, u"List7"_s);
    m_runRecords = new RecordListModel(this);
    m_list7->setModel(m_runRecords);
    m_list9 = makeList(this, u"List9"_s);
    m_list10 = makeRecordList(this, u"List10"_s);
    m_label8 = makeLabel(this, u"0"_s, u"Label8"_s);
    m_label9 = makeLabel(this, u"0"_s, u"Label9"_s);
    m_command3 = new QPushButton(tr("更新记录"), this);
    m_command3->setObjectName(u"Command3"_s);
    m_command4 = new QPushButton(tr("删除记录"), this);
    m_command4->setObjectName(u"Command4"_s);
    m_picture3 = new RecordDisplay(this);
    m_picture3->setMinimumHeight(160);
    auto *header6 = new ListHeader(m_list6, this);
    header6->setText(CollectionEngine::paddedName(tr("任务名称")) + tr("状态"));
    m_header7 = new ListHeader(m_list7, this);
    m_header7->setText(QString());
    auto *header10 = new ListHeader(m_list10, this);
    auto *listedRun = makeLabel(this, QString(), u"ListedRun"_s);
    auto *newestOnly = new QCheckBox(this);
    newestOnly->setObjectName(u"NewestRunOnly"_s);

    auto *recordsCaption =
        captionRow(this, makeLabel(this, tr("相应记录(浏览请双击下列)")), m_label8);
    // The run listed, when it is an earlier one, follows the count.
    qobject_cast<QHBoxLayout *>(recordsCaption->layout())->insertWidget(2, listedRun);
    qobject_cast<QHBoxLayout *>(recordsCaption->layout())->insertWidget(3, newestOnly);
    recordsCaption->layout()->addWidget(m_command3);
    recordsCaption->layout()->addWidget(m_command4);
    // The left column is as wide in both rows of lists; growing the window
    // gives the display area the most.
    auto *tasks = splitter(Qt::Horizontal, u"TaskSplitter"_s,
                           {pane(makeLabel(this, tr("启动区任务(执行请双击下列)")), m_list5),
                            pane(makeLabel(this, tr("执行区任务")), m_list6, header6)},
                           {0, 1});
    auto *browse = splitter(Qt::Horizontal, u"BrowseSplitter"_s,
                            {pane(makeLabel(this, tr("所有任务(浏览请双击下列)")), m_list9),
                             pane(recordsCaption, m_list10, header10)},
                            {0, 1});
    auto *runRecords =
        pane(captionRow(this, makeLabel(this, tr("执行区记录(浏览请双击下列)")), m_label9), m_list7,
             m_header7);
    auto *main = splitter(Qt::Vertical, u"MainSplitter"_s, {tasks, runRecords, browse, m_picture3},
                          {2, 3, 3, 8});
    connect(tasks, &QSplitter::splitterMoved, browse,
            [tasks, browse] { browse->setSizes(tasks->sizes()); });
    connect(browse, &QSplitter::splitterMoved, tasks,
            [tasks, browse] { tasks->setSizes(browse->sizes()); });
    m_splitters = {main, tasks, browse};
    // What the user sets is kept at once, not only when the window closes.
    for (QSplitter *splitter : std::as_const(m_splitters))
        connect(splitter, &QSplitter::splitterMoved, this, &MainWindow::saveLayout);

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(main);
    setCentralWidget(central);

    m_browser = new RecordBrowser(
        m_workspace, {m_list9, m_list10, m_label8, listedRun, header10, m_picture3, newestOnly},
        m_shell, this);
    m_preview = new LivePreview(*m_engine, m_list7, m_picture3, *m_browser, this);

    const auto showFailuresOfRow = [this] {
        showFailures(m_engine->state().taskQueue.value(m_list6->currentRow()));
    };
    connect(m_list5, &QListWidget::itemDoubleClicked, this, &MainWindow::queueSelectedTask);
    // A run's line leads to what failed in it.
    connect(m_list6, &QListWidget::itemDoubleClicked, this, showFailuresOfRow);
    connect(m_list9, &QListWidget::itemDoubleClicked, m_browser, &RecordBrowser::loadRecords);
    connect(m_list10, &QListView::doubleClicked, m_browser, &RecordBrowser::showRecord);
    connect(m_command3, &QPushButton::clicked, m_browser, &RecordBrowser::updateRecord);
    connect(m_command4, &QPushButton::clicked, m_browser, &RecordBrowser::deleteRecord);

    // Tab reads the window as it is laid out: the lists top to bottom, the
    // listed records before the buttons that change them.
    const QList<QWidget *> order{m_list5,    m_list6,  m_list7,    m_list9,
                                 newestOnly, m_list10, m_command3, m_command4};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    onEnter(m_list5, [this] { queueSelectedTask(); });
    onEnter(m_list6, showFailuresOfRow);
    onEnter(m_list7, [this] { m_preview->previewPicked(m_list7->currentIndex().row()); });
    onEnter(m_list9, [this] { m_browser->loadRecords(); });
    onEnter(m_list10, [this] { m_browser->showRecord(); });
}

void MainWindow::onEnter(QAbstractItemView *view, std::function<void()> action)
{
    m_enterActions.insert(view, std::move(action));
    view->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const auto action = m_enterActions.constFind(watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && action != m_enterActions.cend()) {
            if (static_cast<QAbstractItemView *>(watched)->currentIndex().isValid())
                (*action)();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::buildMenusAndToolbar()
{
    struct Command
    {
        QString name;
        QString text;
        std::function<void()> run; // empty: no action
        QKeySequence shortcut = {};
        bool separatorBefore = false;
    };
    auto none = std::function<void()>();
    const QList<QPair<QString, QString>> menus = {
        {u"CD1"_s, tr("文件(&F)")}, {u"CD2"_s, tr("执行(&T)")},     {u"CD3"_s, tr("数据库(&D)")},
        {u"CD4"_s, tr("高级(&G)")}, {u"CD5"_s, tr("选项配置(&X)")}, {u"CD6"_s, tr("工具(&K)")},
        {u"CD7"_s, tr("帮助(&H)")}};
    const QList<Command> items = {
        {u"CD11"_s, tr("新建任务(&N)"), [this] { newTask(); }, QKeySequence::New},
        {u"CD12"_s, tr("编辑任务(&E)"), [this] { editTask(); }},
        {u"CD13"_s, tr("删除任务(&C)"), [this] { deleteTask(); }},
        {u"CD15"_s, tr("导出 CSV(&V)…"), [this] { exportRecords(ExportFormat::Csv); }, {}, true},
        {u"CD16"_s, tr("导出 Excel(&X)…"), [this] { exportRecords(ExportFormat::Excel); }},
        {u"CD17"_s, tr("发布到数据库(&P)…"), [this] { publishRecords(); }},
        {u"CD14"_s, tr("退出程序(&Q)"), [this] { exitProgram(); }, {}, true},
        {u"CD21"_s, tr("暂停采集(&S)"), [this] { pause(); }},
        {u"CD22"_s, tr("继续采集(&Z)"), [this] { resume(); }},
        {u"CD31"_s, tr("数据库查看(&J)"), [this] { openSelectedTaskFolder(u"data"_s); }},
        {u"CD32"_s, tr("数据库移动(&W)"), none},
        {u"CD33"_s, tr("历史记录(&H)"), [this] { browseHistory(); }},
        {u"CD34"_s, tr("失败列表(&F)"), [this] { showFailures(); }},
        {u"CD41"_s, tr("进入任务主目录(&S)"), [this] { openTaskDirectory(); }},
        {u"CD42"_s, tr("进入下载文件目录(&H)"), [this] { openSelectedTaskFolder(u"wek"_s); }},
        {u"CD51"_s, tr("软件配置(&Z)"), none},
        {u"CD52"_s, tr("多线程配置(&Y)"), none},
        {u"CD61"_s, tr("HTML-TXT转换器(&I)"), none},
        {u"CD62"_s, tr("URL-parse提取器(&L)"), none},
        {u"CD71"_s, tr("主页(&A)"), [this] { openHomePage(); }},
        {u"CD73"_s, tr("关于(&N)"), [this] { showAbout(); }},
        {u"CD74"_s, tr("帮助文档(&M)"), [this] { openHelp(); }, QKeySequence::HelpContents},
    };
    QHash<QString, QAction *> actions;
    for (const auto &[menuName, menuText] : menus) {
        QMenu *menu = menuBar()->addMenu(menuText);
        menu->setObjectName(menuName);
        for (const Command &item : items) {
            if (!item.name.startsWith(menuName) || item.name.size() != menuName.size() + 1)
                continue;
            if (item.separatorBefore)
                menu->addSeparator();
            QAction *action = menu->addAction(item.text);
            action->setObjectName(item.name);
            action->setShortcut(item.shortcut);
            if (item.run)
                connect(action, &QAction::triggered, this, item.run);
            actions[item.name] = action;
        }
    }
    m_publishAction = actions.value(u"CD17"_s);
    connect(m_list9, &QListWidget::itemSelectionChanged, this, &MainWindow::updatePublishAction);
    connect(m_browser, &RecordBrowser::listed, this, &MainWindow::updatePublishAction);
    updatePublishAction();

    m_toolbar1 = addToolBar(u"Toolbar1"_s);
    m_toolbar1->setObjectName(u"Toolbar1"_s);
    m_toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar1->setMovable(false);
    // In position order; a button without a caption is a separator. Icons
    // by their freedesktop names, with the built-in Tango icon.
    struct Button
    {
        QString text;
        QString menuItem;
        QString icon;
        QString bundled;
        QString tip;
    };
    const QList<Button> buttons = {
        {tr("暂停采集"), u"CD21"_s, u"media-playback-pause"_s, u"media-playback-pause"_s,
         tr("暂停采集：不再发出新的请求，已发出的照常完成")},
        {tr("继续采集"), u"CD22"_s, u"media-playback-start"_s, u"media-playback-start"_s,
         tr("继续采集：从暂停处接着采集")},
        {},
        {tr("新建任务"), u"CD11"_s, u"document-new"_s, u"document-new"_s,
         tr("新建任务：填写任务名称和任务内容（Ctrl+N）")},
        {tr("编辑任务"), u"CD12"_s, u"document-properties"_s, u"document-properties"_s,
         tr("编辑“启动区任务”中选中的任务")},
        {tr("删除任务"), u"CD13"_s, u"edit-delete"_s, u"edit-delete"_s,
         tr("删除“启动区任务”中选中的任务，连同它的记录和下载的文件（先询问）")},
        {},
        {tr("进入任务主目录"), u"CD41"_s, u"folder-open"_s, u"folder-open"_s,
         tr("打开任务主目录（每个任务一个子目录）")},
        {tr("进入下载文件目录"), u"CD42"_s, u"folder-download"_s, u"folder"_s,
         tr("打开选中任务的下载文件目录（wek）")},
        {tr("进入数据库目录"), u"CD31"_s, u"x-office-spreadsheet"_s, u"x-office-spreadsheet"_s,
         tr("打开选中任务的数据库目录（data）")},
        {},
        {tr("软件官方网站"), u"CD71"_s, u"go-home"_s, u"go-home"_s,
         tr("在浏览器中打开软件官方网站")},
        {tr("软件说明"), QString(), u"help-about"_s, u"dialog-information"_s, QString()},
        {tr("软件帮助"), u"CD74"_s, u"help-contents"_s, u"help-browser"_s,
         tr("打开帮助文档（F1）")},
        {},
        {tr("退出程序"), u"CD14"_s, u"application-exit"_s, u"system-log-out"_s,
         tr("退出程序：已存储的记录不会丢失；显示的记录有未保存的修改时先询问")},
    };
    int position = 0;
    for (const Button &spec : buttons) {
        ++position;
        if (spec.text.isEmpty()) {
            m_toolbar1->addSeparator();
            continue;
        }
        QAction *button = m_toolbar1->addAction(themedIcon(spec.icon, spec.bundled), spec.text);
        button->setObjectName(u"Toolbar1Button"_s + QString::number(position));
        if (!spec.tip.isEmpty())
            button->setToolTip(spec.tip);
        if (QAction *action = actions.value(spec.menuItem))
            connect(button, &QAction::triggered, action, &QAction::trigger);
    }
}

void MainWindow::buildStatusBar()
{
    setStatusBar(new ElidingStatusBar(this));
    m_statusText = new ElidedLabel(this);
    m_statusText->setObjectName(u"StatusText"_s);
    m_pausedLabel = new QLabel(tr("暂停中"), this);
    m_pausedLabel->setObjectName(u"PausedLabel"_s);
    m_pausedLabel->setStyleSheet(u"QLabel { color: #b00000; font-weight: bold; }"_s);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(u"Progress"_s);
    m_progress->setFormat(u"%v/%m"_s);
    m_progress->setMaximumWidth(260);
    // What failed in the run shown leads to its failure list.
    m_failures = new QLabel(this);
    m_failures->setObjectName(u"FailuresLink"_s);
    m_failures->setTextFormat(Qt::RichText);
    m_failures->setToolTip(tr("查看失败列表"));
    m_failures->hide();
    connect(m_failures, &QLabel::linkActivated, this, [this] {
        const EngineState &s = m_engine->state();
        showFailures(s.taskQueue.value(s.taskIndex));
    });
    statusBar()->addWidget(m_pausedLabel);
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_failures);
    statusBar()->addPermanentWidget(m_progress);
}

qint64 MainWindow::failuresOf(int index) const
{
    const EngineState &s = m_engine->state();
    if (index == s.taskIndex && s.running)
        return s.tally.failures();
    return m_engine->summary(index).tally.failures();
}

bool MainWindow::publishFailed(int index) const
{
    const auto outcome = m_publishOutcomes.constFind(index);
    return outcome != m_publishOutcomes.cend() && !outcome->isClean();
}

void MainWindow::markFailures(int index)
{
    QListWidgetItem *item = m_list6->item(index);
    if (!item)
        return;
    if (failuresOf(index) > 0 || publishFailed(index))
        item->setForeground(RunListDelegate::warningColour());
    else
        item->setData(Qt::ForegroundRole, QVariant());
}

void MainWindow::updateStatus()
{
    const EngineState &s = m_engine->state();
    m_pausedLabel->setVisible(m_engine->isPaused());
    const QString status = s.running ? tr("正在采集：%1（第%2个，共%3个）")
                                           .arg(s.taskName, QString::number(s.taskIndex + 1),
                                                QString::number(s.taskQueue.size()))
                           : s.taskIndex + 1 < s.taskQueue.size()
                               ? tr("等待开始：%1").arg(s.taskQueue.value(s.taskIndex + 1))
                           : s.taskQueue.isEmpty() ? tr("没有排队的任务")
                                                   : tr("排队的任务都已采集完成");
    m_statusText->setFullText(status);
    // Every entry of the run's work lists that has been handed out and is
    // not still being fetched is done, failed or not.
    int inFlight = 0;
    for (int slot = 1; slot <= SlotCount; ++slot) {
        inFlight += s.listPending[slot].run == s.runId;
        inFlight += s.contentPending[slot].run == s.runId;
    }
    const qsizetype queued = s.contentQueue.size() + s.listQueue.size();
    const qsizetype done = s.contentCursor + 1 + s.listCursor + 1 - inFlight;
    m_progress->setVisible(s.running);
    // While list pages wait to be read the crawl keeps finding pages: the
    // bar only shows it is busy, so it never runs backwards as the total grows.
    const bool finding = s.schemeIs(2) && s.listCursor + 1 < s.listQueue.size();
    m_progress->setRange(0, finding ? 0 : int(std::max<qsizetype>(queued, 1)));
    m_progress->setValue(int(std::clamp<qsizetype>(done, 0, queued)));
    m_progress->setToolTip(
        tr("本次采集已处理%1个页面（取到的和失败的都算），已排队%2个（列表页和内容页）%3")
            .arg(QString::number(std::max<qsizetype>(done, 0)), QString::number(queued),
                 finding ? tr("；还有列表页没有读，总数还会增加") : QString()));
    // A run where pages failed is not shown as a plain success.
    const qint64 failed = s.taskIndex >= 0 ? failuresOf(s.taskIndex) : 0;
    QPalette palette = QApplication::palette(m_progress);
    if (failed > 0)
        palette.setColor(QPalette::Highlight, RunListDelegate::warningColour());
    m_progress->setPalette(palette);
    m_failures->setText(u"<a href=\"failures\">%1</a>"_s.arg(tr("失败%1").arg(failed)));
    m_failures->setVisible(failed > 0);
}

void MainWindow::pause()
{
    m_engine->pause();
    updateStatus();
}

void MainWindow::resume()
{
    m_engine->resume();
    updateStatus();
}

void MainWindow::buildTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(programIcon(), this);
    m_tray->setObjectName(u"cSysTray1"_s);
    m_tray->setToolTip(tr("信息采集"));
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
                    markFailures(index);
                    m_list6->setCurrentRow(index);
                }
            });
    connect(m_engine.get(), &CollectionEngine::runRecordsCleared, this, [this] {
        m_runRecords->reset(0, [engine = m_engine.get()](int first, int count) {
            return engine->runRecords(first, count);
        });
        m_label9->setText(QString::number(m_engine->runRecordCount()));
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
        markFailures(index);
    };
    // What the run could not keep is said at once, not only in the tip.
    connect(m_engine.get(), &CollectionEngine::taskWarning, this,
            [this](int, const QString &name, const QString &message) {
                statusBar()->showMessage(tr("%1：%2").arg(name, message));
            });
    connect(m_engine.get(), &CollectionEngine::taskCompleted, this, showSummary);
    connect(m_engine.get(), &CollectionEngine::taskCompleted, this, &MainWindow::endPublishing);
    connect(m_engine.get(), &CollectionEngine::taskStarted, this, &MainWindow::followPublishing);
    connect(m_publisher, &LivePublisher::finished, this, &MainWindow::publishingFinished);
    connect(m_engine.get(), &CollectionEngine::taskNotStarted, this, showSummary);

    for (const auto signal : {&CollectionEngine::taskStarted, &CollectionEngine::taskCompleted})
        connect(m_engine.get(), signal, this, &MainWindow::updateStatus);
    connect(m_engine.get(), &CollectionEngine::taskNotStarted, this, &MainWindow::updateStatus);
    connect(m_engine.get(), &CollectionEngine::runListLineChanged, this, &MainWindow::updateStatus);
    connect(m_engine.get(), &CollectionEngine::recordStored, this, &MainWindow::updateStatus);
    connect(m_engine.get(), &CollectionEngine::fetchFailed, this, &MainWindow::updateStatus);
    // The run's records are named after their fields.
    connect(m_engine.get(), &CollectionEngine::taskStarted, this,
            [this] { m_header7->setText(ListHeader::fieldsLine(m_engine->state().fieldCount)); });
}

void MainWindow::buildSchedule()
{
    m_schedule = new ScheduledTasks(
        m_workspace, [this](const QString &task) { return isQueuedOrRunning(task); }, {}, this);
    connect(m_schedule, &ScheduledTasks::due, this, [this](const QString &task) {
        m_engine->queueTask(task);
        statusBar()->showMessage(tr("定时任务已加入队列：%1").arg(task));
    });
    connect(m_schedule, &ScheduledTasks::checked, this, &MainWindow::refreshScheduleTips);
    // A start counts also when the database keeps no trace of it (the task
    // could not start), so a failing task is not queued again every check.
    const auto started = [this](int, const QString &task) {
        m_schedule->noteStarted(task);
        refreshScheduleTips();
    };
    connect(m_engine.get(), &CollectionEngine::taskStarted, this, started);
    connect(m_engine.get(), &CollectionEngine::taskNotStarted, this,
            [started](int index, const QString &task) { started(index, task); });
    m_schedule->start();
    refreshScheduleTips();
}

void MainWindow::refreshScheduleTips()
{
    for (int row = 0; row < m_list5->count(); ++row) {
        QListWidgetItem *item = m_list5->item(row);
        const ScheduledTasks::TaskSchedule schedule = m_schedule->scheduleOf(item->text());
        if (!schedule.settings)
            item->setToolTip(tr("定时设置有误：%1").arg(schedule.error));
        else if (schedule.next.isValid())
            item->setToolTip(tr("定时：%1，下次 %2")
                                 .arg(schedule.settings->describe(),
                                      schedule.next.toString(u"yyyy-MM-dd HH:mm"_s)));
        else
            item->setToolTip(QString());
    }
}

namespace {

// "发布失败N条", without the count when no row was tried.
QString publishFailureCount(const PublishOutcome &outcome)
{
    return outcome.failed > 0 ? MainWindow::tr("发布失败%1条").arg(outcome.failed)
                              : MainWindow::tr("发布失败");
}

// A server that is not there is said at once: the waits between tries are
// for a connection lost on the way.
PublishOutcome publishDatabase(const ServerAddress &address, const QString &table,
                               const QString &task, const QString &database, const QString &run,
                               const QString &runName)
{
    ServerConnection probe(address);
    if (!probe.open()) {
        PublishOutcome away;
        away.error = probe.lastError();
        return away;
    }
    probe.close();
    return RecordPublisher::publishDatabase(address, table, task, database, run, runName);
}

QString publishFailureText(const PublishOutcome &outcome)
{
    return MainWindow::tr("%1：%2").arg(publishFailureCount(outcome), outcome.error.simplified());
}

} // namespace

void MainWindow::tellRunEnded(int index, const QString &task)
{
    const RunTally tally = m_engine->summary(index).tally;
    const qint64 added = tally.recordsStored;
    const qint64 failed = tally.failures();
    const bool notPublished = publishFailed(index);
    if (added == 0 && failed == 0 && !notPublished)
        return;
    QString text;
    if (added > 0 && failed > 0)
        text = tr("%1：新增%2条记录，失败%3项")
                   .arg(task, QString::number(added), QString::number(failed));
    else if (added > 0)
        text = tr("%1：新增%2条记录").arg(task, QString::number(added));
    else if (failed > 0)
        text = tr("%1：采集完成，失败%2项").arg(task, QString::number(failed));
    else
        text = tr("%1：采集完成").arg(task);
    if (notPublished)
        text += tr("，%1").arg(publishFailureText(m_publishOutcomes.value(index)));
    // The click may come long after, from the desktop.
    const QPointer<MainWindow> window(this);
    m_shell.notify(m_tray, text, [window, task, added] {
        if (!window)
            return;
        window->bringToFront();
        if (added > 0)
            window->m_browser->showNewestRun(task);
        else
            window->showFailures(task);
    });
}

QString MainWindow::dataDirOf(const QString &task) const
{
    return QFileInfo(m_workspace.taskFile(task)).absolutePath();
}

void MainWindow::followPublishing(int index, const QString &task)
{
    QString error;
    const PublishSettings settings = PublishDialog::settingsAsWritten(dataDirOf(task), &error);
    if (!settings.isOn())
        return;
    // A malformed address is followed too: the run then ends with its
    // records counted as not published, and why.
    QString why;
    const std::optional<ServerAddress> address = ServerAddress::parse(settings.url, &why);
    // An only-new run adds to the database: the rows before it were
    // published by the runs that stored them.
    Publishing publishing{task,
                          index,
                          settings.url,
                          address ? address->display() : QString(),
                          settings.tableFor(task),
                          PublishRows::lastRow(m_workspace.databaseFile(task))};
    // The publisher follows one run of a task at a time: a run that starts
    // before the last records of the one before are published waits for them.
    const bool waits = std::any_of(m_publishing.cbegin(), m_publishing.cend(),
                                   [&task](const Publishing &other) { return other.task == task; });
    if (!waits)
        follow(publishing);
    m_publishing.append(publishing);
}

void MainWindow::follow(Publishing &publishing)
{
    m_publisher->follow(publishing.task, m_workspace.databaseFile(publishing.task), publishing.url,
                        publishing.table, publishing.afterRow);
    publishing.followed = true;
    if (publishing.ending)
        m_publisher->finish(publishing.task);
}

void MainWindow::endPublishing(int index, const QString &task)
{
    for (Publishing &publishing : m_publishing) {
        if (publishing.task == task && publishing.index == index && !publishing.ending) {
            publishing.ending = true;
            if (publishing.followed)
                m_publisher->finish(task);
            return;
        }
    }
    tellRunEnded(index, task);
}

void MainWindow::publishingFinished(const QString &task, const PublishOutcome &outcome)
{
    // The publisher finishes the runs of a task in the order they ended.
    const auto found =
        std::find_if(m_publishing.begin(), m_publishing.end(),
                     [&task](const Publishing &publishing) { return publishing.task == task; });
    if (found == m_publishing.end())
        return;
    const Publishing publishing = *found;
    m_publishing.erase(found);
    const auto next =
        std::find_if(m_publishing.begin(), m_publishing.end(),
                     [&task](const Publishing &waiting) { return waiting.task == task; });
    if (next != m_publishing.end())
        follow(*next);
    m_publishOutcomes.insert(publishing.index, outcome);
    showPublished(publishing, outcome);
    if (m_closing) {
        if (!outcome.isClean())
            m_leftToPublish << task;
        return;
    }
    tellRunEnded(publishing.index, task);
}

void MainWindow::showPublished(const Publishing &publishing, const PublishOutcome &outcome)
{
    const int index = publishing.index;
    CollectionEngine::RunSummary summary = m_engine->summary(index);
    summary.published = outcome.added + outcome.updated;
    summary.publishFailed = outcome.failed;
    QString tip = CollectionEngine::describe(summary);
    QListWidgetItem *item = m_list6->item(index);
    if (outcome.isClean()) {
        statusBar()->showMessage(tr("%1：已发布%2条记录到 %3 的表 %4")
                                     .arg(publishing.task, QString::number(summary.published),
                                          publishing.server, publishing.table));
    } else {
        const QString failure = publishFailureText(outcome);
        tip += tr("；发布失败原因：%1").arg(outcome.error.simplified());
        if (item)
            item->setText(item->text() + u' ' + publishFailureCount(outcome));
        statusBar()->showMessage(
            tr("%1：%2。未发布的记录仍在本地数据库中，可以用“文件→发布到数据库…”"
               "或 caiji publish 再次发布")
                .arg(publishing.task, failure));
    }
    if (item)
        item->setToolTip(tip);
    markFailures(index);
}

void MainWindow::waitForPublishing()
{
    if (!m_publisher->isBusy())
        return;
    m_closing = true;
    // One try each, with no waits between tries.
    m_publisher->setFinalRetryDelays({});
    // A task still collecting ends first, so that its last records are
    // published too.
    const EngineState &state = m_engine->state();
    if (state.running && std::any_of(m_publishing.cbegin(), m_publishing.cend(),
                                     [&state](const Publishing &publishing) {
                                         return publishing.task == state.taskName &&
                                                !publishing.ending;
                                     }))
        m_engine->stop(tr("窗口已关闭"));
    statusBar()->showMessage(tr("正在发布最后的记录…"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_publisher->waitForFinished(ClosingPublishWaitMs);
    QApplication::restoreOverrideCursor();
    QStringList left = m_leftToPublish;
    for (const Publishing &publishing : std::as_const(m_publishing))
        left << publishing.task;
    left.removeDuplicates();
    if (!left.isEmpty())
        m_shell.inform(this, tr("这些任务有记录没有发布到数据库：%1\n这些记录仍在本地数据库中，"
                                "可以用“文件→发布到数据库…”或 caiji publish 再次发布。")
                                 .arg(left.join(tr("、"))));
}

bool MainWindow::offerExamples(const Workspace &examples)
{
    if (!m_workspace.taskNames().isEmpty() || examples.taskNames().isEmpty())
        return false;
    const QString question =
        tr("工作目录中还没有任务。要把示范任务（%1）复制进来吗？\n示范任务采集本机的示范网站："
           "先在终端运行 caiji-demo-site，再双击启动区中的任务。")
            .arg(examples.taskNames().join(tr("、")));
    if (!m_shell.confirm(this, question))
        return false;
    QStringList failed;
    for (const auto &[task, copied] : m_folders.copyExampleTasks(examples)) {
        if (!copied) {
            failed << task;
            continue;
        }
        m_list5->addItem(task);
        m_list9->addItem(task);
    }
    if (!failed.isEmpty())
        m_shell.inform(this, tr("无法复制示范任务：%1").arg(failed.join(tr("、"))));
    return failed.size() < examples.taskNames().size();
}

void MainWindow::browseHistory()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    const QList<HistoryRun> runs =
        RunHistory(QFileInfo(m_workspace.databaseFile(task)).absolutePath()).runs();
    if (runs.isEmpty()) {
        m_shell.inform(this, tr("该任务没有更早的采集记录"));
        return;
    }
    QStringList items;
    for (const HistoryRun &run : runs) {
        const std::optional<qint64> count = RecordStore::count(run.path);
        items << tr("%1（%2条记录）")
                     .arg(run.lastChanged.toString(u"yyyy-MM-dd HH:mm:ss"_s),
                          count ? QString::number(*count) : u"?"_s);
    }
    const int choice = m_shell.choose(this, tr("%1：选择要浏览的一次采集").arg(task), items);
    if (choice >= 0 && choice < runs.size())
        m_browser->loadRecordsFrom(task, runs[choice].path,
                                   runs[choice].lastChanged.toString(u"yyyy-MM-dd HH:mm:ss"_s));
}

void MainWindow::showFailures(const QString &task)
{
    const QString name = task.isEmpty() ? selectedTask() : task;
    if (name.isEmpty())
        return;
    const std::optional<QList<FailureEntry>> failures =
        FailureLog::read(m_workspace.databaseFile(name));
    if (!failures) {
        m_shell.inform(this, tr("无法读取失败列表：%1")
                                 .arg(QDir::toNativeSeparators(
                                     FailureLog::fileFor(m_workspace.databaseFile(name)))));
        return;
    }
    if (failures->isEmpty()) {
        m_shell.inform(this, tr("%1：最近一次采集没有失败").arg(name));
        return;
    }
    QString text;
    for (const FailureEntry &failure : *failures)
        text += failure.kind + u'\t' + failure.reason + u'\t' + failure.address + u'\n';
    m_shell.showText(this,
                     tr("%1：最近一次采集失败%2项（类型、原因、地址）")
                         .arg(name, QString::number(failures->size())),
                     text);
}

QString MainWindow::selectedTask() const
{
    return selectedText(m_list5);
}

bool MainWindow::isRunning(const QString &task) const
{
    const EngineState &state = m_engine->state();
    return state.running && state.taskName == TaskFolders::trimBlanks(task);
}

bool MainWindow::isQueuedOrRunning(const QString &task) const
{
    const EngineState &state = m_engine->state();
    // The entry at the index runs, or it is complete and the next waits.
    const int first = std::max(0, state.running ? state.taskIndex : state.taskIndex + 1);
    return state.taskQueue.indexOf(task, first) >= 0;
}

void MainWindow::queueSelectedTask()
{
    const QString task = selectedTask();
    if (!task.isEmpty())
        m_engine->queueTask(task);
}

void MainWindow::queueTasks(const QStringList &tasks)
{
    const QStringList known = m_workspace.taskNames();
    QStringList queued;
    QStringList waiting;
    QStringList unknown;
    for (const QString &task : tasks) {
        if (!known.contains(task)) {
            unknown << task;
        } else if (isQueuedOrRunning(task)) {
            waiting << task;
        } else {
            m_engine->queueTask(task);
            queued << task;
        }
    }
    QStringList parts;
    if (!queued.isEmpty())
        parts << tr("已加入队列：%1").arg(queued.join(tr("、")));
    if (!waiting.isEmpty())
        parts << tr("已在队列中：%1").arg(waiting.join(tr("、")));
    if (!unknown.isEmpty())
        parts << tr("没有这些任务：%1").arg(unknown.join(tr("、")));
    statusBar()->showMessage(parts.join(tr("；")));
}

void MainWindow::newTask()
{
    if (!m_form2) {
        m_form2 = new TaskDialog(TaskDialog::Kind::New, m_shell, this);
        m_form2->setWorkspace(m_workspace);
        connect(m_form2, &TaskDialog::submitted, this, &MainWindow::createTask);
    }
    // Input survives reopening an open dialog, not closing it.
    if (!m_form2->isVisible())
        m_form2->clearInput();
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

// The 网络 tab's settings when they are to be written: only a changed tab is
// (a new task left at the defaults gets no settings.ini). False when a value
// is malformed; the user is told which.
bool MainWindow::networkToSave(TaskDialog *dialog, std::optional<NetworkSettings> *network)
{
    if (!dialog->networkChanged())
        return true;
    QString error;
    *network = dialog->typedNetwork(&error);
    if (*network)
        return true;
    dialog->showNetworkTab();
    m_shell.inform(dialog, tr("网络设置有误，任务没有保存：\n%1").arg(error));
    return false;
}

void MainWindow::createTask()
{
    std::optional<NetworkSettings> network;
    if (!networkToSave(m_form2, &network))
        return;
    const TaskChange change = m_folders.create(m_form2->nameField()->text(),
                                               m_form2->contentField()->toPlainText(), network);
    m_shell.inform(m_form2, change.message);
    if (!change.ok)
        return;
    const QString name = TaskFolders::trimBlanks(m_form2->nameField()->text());
    m_list5->addItem(name);
    m_list9->addItem(name);
    m_form2->clearInput();
    m_form2->accept();
}

void MainWindow::editTask()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    if (!m_form3) {
        m_form3 = new TaskDialog(TaskDialog::Kind::Edit, m_shell, this);
        m_form3->setWorkspace(m_workspace);
        connect(m_form3, &TaskDialog::submitted, this, &MainWindow::saveEdit);
    }
    if (m_form3->isVisible()) {
        const QString shown = m_form3->originalName();
        // The task on display again: its edits stay as they are.
        if (shown == task && m_form3->hasTypedText()) {
            m_form3->raise();
            m_form3->activateWindow();
            return;
        }
        // Another task: the edits on display are saved or dropped first.
        if (!m_form3->settleTyped()) {
            const QList<QListWidgetItem *> found = m_list5->findItems(shown, Qt::MatchExactly);
            if (!found.isEmpty())
                m_list5->setCurrentItem(found.first());
            return;
        }
    }
    m_form3->openOn(task, m_list5->currentRow(), m_folders.readDefinition(task));
    m_form3->show();
    m_form3->raise();
    m_form3->activateWindow();
    m_form3->loadNetwork();
}

void MainWindow::saveEdit()
{
    const QString oldName = m_form3->originalName();
    const QString newName = m_form3->nameField()->text();
    const bool renames = TaskFolders::trimBlanks(oldName) != TaskFolders::trimBlanks(newName);
    if (renames && !TaskFolders::hasForbiddenCharacter(newName) && isRunning(oldName)) {
        m_shell.inform(m_form3, tr("该任务正在采集，不能更改名称"));
        return;
    }
    std::optional<NetworkSettings> network;
    if (!networkToSave(m_form3, &network))
        return;
    const TaskChange change =
        m_folders.edit(oldName, newName, m_form3->contentField()->toPlainText(), network);
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
    m_form3->accept();
}

void MainWindow::deleteTask()
{
    const QString task = selectedTask();
    if (task.isEmpty())
        return;
    if (isRunning(task)) {
        m_shell.inform(this, tr("该任务正在采集，不能删除"));
        return;
    }
    const int index = m_list5->currentRow();
    // A delete takes the folder with every record: the user says yes first.
    const std::optional<qint64> records = RecordStore::count(m_workspace.databaseFile(task));
    const QString question =
        records ? tr("删除任务“%1”？\n任务目录连同其中的%2条记录、历史记录和下载的文件都将被删除，"
                     "不能恢复。")
                      .arg(task, QString::number(*records))
                : tr("删除任务“%1”？\n任务目录连同其中的记录、历史记录和下载的文件都将被删除，"
                     "不能恢复。")
                      .arg(task);
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

void MainWindow::openFolder(const QString &path, const QString &what)
{
    const QString shown = QDir::toNativeSeparators(path);
    // A task folder made by hand may lack it; the engine makes it at the start.
    if (!QDir().mkpath(path)) {
        m_shell.inform(this, tr("无法打开%1：\n%2").arg(what, shown));
        return;
    }
    m_shell.open(this, QUrl::fromLocalFile(path),
                 tr("没有能打开文件夹的程序。%1在：\n%2").arg(what, shown));
}

void MainWindow::openTaskDirectory()
{
    openFolder(m_workspace.tasksDir(), tr("任务主目录"));
}

void MainWindow::openSelectedTaskFolder(const QString &subfolder)
{
    const QString task = selectedTask();
    if (!task.isEmpty())
        openFolder(m_workspace.taskDir(task) + u'/' + subfolder,
                   subfolder == u"wek" ? tr("下载文件目录") : tr("数据库目录"));
}

void MainWindow::openHomePage()
{
    m_shell.open(this, QUrl(homePage()),
                 tr("没有能打开网页的程序。软件官方网站：\n%1").arg(homePage()));
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
    if (found == candidates.end()) {
        m_shell.inform(
            this, tr("找不到帮助文档：\n%1").arg(QDir::toNativeSeparators(candidates.first())));
        return;
    }
    m_shell.open(this, QUrl::fromLocalFile(*found),
                 tr("没有能打开帮助文档的程序。帮助文档在：\n%1\n"
                    "它是 RTF 格式，可以用 LibreOffice Writer 等文字处理程序打开。")
                     .arg(QDir::toNativeSeparators(*found)));
}

void MainWindow::showAbout()
{
    m_shell.about(this, aboutText());
}

MainWindow::ListedRecords MainWindow::listedRecords() const
{
    ListedRecords listed{m_browser->listedTask(),
                         m_browser->listedDatabase(),
                         m_browser->listedRunTime(),
                         m_browser->listedRowsOf(),
                         m_browser->listedRowsStarted().toString(u"yyyy-MM-dd HH:mm:ss"_s),
                         {}};
    if (listed.task.isEmpty()) {
        listed.task = selectedText(m_list9);
        listed.database = m_workspace.databaseFile(listed.task);
    }
    // An earlier run is named wherever the records go, and so is a newest
    // run listed on its own.
    listed.description =
        !listed.rowsOf.isEmpty()
            ? tr("任务“%1”在 %2 开始的采集新增的记录").arg(listed.task, listed.rowsStarted)
        : listed.runTime.isEmpty()
            ? tr("任务“%1”的记录").arg(listed.task)
            : tr("任务“%1”在 %2 采集的历史记录").arg(listed.task, listed.runTime);
    return listed;
}

void MainWindow::updatePublishAction()
{
    m_publishAction->setEnabled(!listedRecords().task.isEmpty());
}

void MainWindow::publishRecords()
{
    const ListedRecords listed = listedRecords();
    if (listed.task.isEmpty())
        return;
    if (!QFile::exists(listed.database)) {
        m_shell.inform(this, RecordBrowser::notCollectedMessage());
        return;
    }
    if (!m_publishDialog) {
        m_publishDialog = new PublishDialog(m_shell, this);
        connect(m_publishDialog, &QDialog::accepted, this, &MainWindow::publishListed);
    }
    m_toPublish = listed;
    // A malformed address is offered as written, to be mended.
    QString error;
    m_publishDialog->ask(listed.description, listed.task,
                         PublishDialog::settingsAsWritten(dataDirOf(listed.task), &error));
}

void MainWindow::publishListed()
{
    const ListedRecords listed = m_toPublish;
    const ServerAddress address = m_publishDialog->address();
    const QString table = m_publishDialog->table();
    // An earlier run's database is published under the run's own name.
    const QString runName =
        listed.runTime.isEmpty() ? QString() : QFileInfo(listed.database).completeBaseName();
    PublishOutcome outcome;
    m_shell.runBusy(this, tr("正在把%1发布到 %2 …").arg(listed.description, address.display()),
                    [&] {
                        outcome = publishDatabase(address, table, listed.task, listed.database,
                                                  listed.rowsOf, runName);
                    });
    if (outcome.failed < 0) {
        m_shell.inform(this, tr("无法读取记录：%1\n%2")
                                 .arg(QDir::toNativeSeparators(listed.database), outcome.error));
        return;
    }
    const QString counts =
        tr("新增%1条，更新%2条，删除%3条")
            .arg(QString::number(outcome.added), QString::number(outcome.updated),
                 QString::number(outcome.removed));
    if (outcome.isClean())
        m_shell.inform(this, tr("已发布到 %1 的表 %2：%3").arg(address.display(), table, counts));
    else
        m_shell.inform(this,
                       tr("没有全部发布到 %1 的表 %2：%3\n已%4。\n"
                          "未发布的记录仍在本地数据库中，可以再次发布。")
                           .arg(address.display(), table, publishFailureText(outcome), counts));
}

void MainWindow::exportRecords(ExportFormat format)
{
    const ListedRecords listed = listedRecords();
    const QString &task = listed.task;
    const QString &database = listed.database;
    const QString &runTime = listed.runTime;
    const QString &rowsOf = listed.rowsOf;
    if (task.isEmpty()) {
        m_shell.inform(this, tr("请先在“所有任务”中选择要导出的任务"));
        return;
    }
    if (!QFile::exists(database)) {
        m_shell.inform(this, RecordBrowser::notCollectedMessage());
        return;
    }
    const bool excel = format == ExportFormat::Excel;
    QSettings settings(u"caiji"_s, u"caiji"_s);
    const QString folder =
        settings
            .value(u"export/folder"_s,
                   QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .toString();
    const QString &rowsStarted = listed.rowsStarted;
    const QString &records = listed.description;
    QString fileName = task;
    if (!runTime.isEmpty())
        fileName += u'-' + QString(runTime).replace(u':', u'-').replace(u' ', u'_');
    if (!rowsOf.isEmpty())
        fileName += u'-' + rowsOf;
    const QString path = m_shell.saveFileName(
        this,
        excel ? tr("把%1导出为 Excel 工作簿").arg(records) : tr("把%1导出为 CSV 文件").arg(records),
        QDir(folder).filePath(fileName + (excel ? u".xlsx"_s : u".csv"_s)),
        excel ? tr("Excel 工作簿 (*.xlsx)") : tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    // Cells cut to Excel's limit are named after the export, the first few
    // of them.
    constexpr int CutCellsShown = 10;
    QStringList cutCells;
    qint64 cutCount = 0;
    const auto noteCut = [&](const CutCell &cut) {
        if (++cutCount <= CutCellsShown)
            cutCells << tr("第%1条记录的字段%2（单元格 %3）：%4个字符")
                            .arg(QString::number(cut.record), QString::number(cut.field), cut.cell,
                                 QString::number(cut.length));
    };
    const ExportOutcome outcome = caiji::exportRecords(
        database, path, excel ? caiji::ExportFormat::Xlsx : caiji::ExportFormat::Csv,
        CsvValues::Safe, noteCut, rowsOf);
    if (outcome.failure == ExportOutcome::Failure::Read) {
        m_shell.inform(
            this,
            tr("无法读取记录：%1\n%2").arg(QDir::toNativeSeparators(database), outcome.reason));
        return;
    }
    if (outcome.failure != ExportOutcome::Failure::None) {
        m_shell.inform(this,
                       tr("导出失败：%1\n%2").arg(QDir::toNativeSeparators(path), outcome.reason));
        return;
    }
    settings.setValue(u"export/folder"_s, QFileInfo(path).absolutePath());
    QString message =
        !rowsOf.isEmpty() ? tr("已导出%1条记录（任务“%2”在 %3 开始的采集新增的）：\n%4")
                                .arg(QString::number(outcome.records), task, rowsStarted,
                                     QDir::toNativeSeparators(path))
        : runTime.isEmpty()
            ? tr("已导出%1条记录：\n%2").arg(outcome.records).arg(QDir::toNativeSeparators(path))
            : tr("已导出%1条历史记录（任务“%2”在 %3 采集）：\n%4")
                  .arg(QString::number(outcome.records), task, runTime,
                       QDir::toNativeSeparators(path));
    if (cutCount > 0) {
        message += u"\n\n"_s + tr("这些单元格超过 Excel 的 32767 个字符，只保留了前 32767 个：") +
                   u'\n' + cutCells.join(u'\n');
        if (cutCount > CutCellsShown)
            message += u'\n' + tr("……共%1个单元格").arg(cutCount);
    }
    m_shell.inform(this, message);
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray) {
        m_tray->show();
        hide();
    }
}

bool MainWindow::settleUnsavedWork()
{
    for (TaskDialog *dialog : {m_form3, m_form2}) {
        if (dialog && !dialog->settleTyped())
            return false;
    }
    return m_browser->mayDropEdits();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!settleUnsavedWork()) {
        event->ignore();
        return;
    }
    waitForPublishing();
    saveLayout();
    QMainWindow::closeEvent(event);
}

void MainWindow::restoreLayout()
{
    QSettings settings(u"caiji"_s, u"caiji"_s);
    settings.beginGroup(u"window"_s);
    restoreGeometry(settings.value(u"geometry"_s).toByteArray());
    m_panesSized = true;
    for (QSplitter *splitter : std::as_const(m_splitters)) {
        m_panesSized =
            splitter->restoreState(settings.value(splitter->objectName()).toByteArray()) &&
            m_panesSized;
    }
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_panesSized)
        return;
    // The first start: each row of lists shows RowsShown rows when the
    // window has the room, the display area gets what is left (its boxes
    // scroll when that is less than they need), and the lists' left column
    // keeps the original widths (2895 : 12135).
    m_panesSized = true;
    // Once the panes are laid out: their captions and headers are measured.
    QTimer::singleShot(0, this, &MainWindow::sizePanes);
}

void MainWindow::sizePanes()
{
    QSplitter *main = m_splitters[0];
    const auto rowsRoom = [this](const QAbstractItemView *list) {
        // What the pane holds besides the list's rows: caption, header (also
        // one that shows only once there are fields to name), frame.
        const QWidget *pane = list->parentWidget();
        const auto *header = findChild<ListHeader *>(list->objectName() + u"Header"_s);
        return pane->height() - list->viewport()->height() +
               (header && header->isHidden() ? header->sizeHint().height() : 0) +
               RowsShown * rowHeight(list);
    };
    // Each row of lists by its pane that holds the most besides its rows.
    QList<int> sizes{rowsRoom(m_list6), rowsRoom(m_list7), rowsRoom(m_list10)};
    const int room = main->height() - 3 * main->handleWidth();
    const int lists = std::accumulate(sizes.begin(), sizes.end(), 0);
    const int display = std::max(m_picture3->minimumSizeHint().height(), room - lists);
    if (lists + display > room) {
        // Too low for all: the lists share what the display leaves.
        for (int &size : sizes)
            size = std::max(1, (room - display) / 3);
    }
    main->setSizes(sizes << std::max(1, room - std::accumulate(sizes.begin(), sizes.end(), 0)));
    const auto widths = [](QSplitter *splitter) {
        const int width = splitter->width();
        splitter->setSizes({int(qint64(width) * 2895 / 15030), int(qint64(width) * 12135 / 15030)});
    };
    widths(m_splitters[1]);
    widths(m_splitters[2]);
}

void MainWindow::saveLayout() const
{
    QSettings settings(u"caiji"_s, u"caiji"_s);
    settings.beginGroup(u"window"_s);
    settings.setValue(u"geometry"_s, saveGeometry());
    for (const QSplitter *splitter : m_splitters)
        settings.setValue(splitter->objectName(), splitter->saveState());
}

void MainWindow::bringToFront()
{
    if (isHidden()) {
        restoreFromTray();
        return;
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
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
    if (!settleUnsavedWork())
        return;
    waitForPublishing();
    saveLayout();
    QApplication::exit(0);
}

} // namespace caiji
