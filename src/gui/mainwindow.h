// The main window Form1: task lists, the run list and the run's records, the
// record browser and display area in resizable panes, menus, toolbar, status
// bar and tray icon. It owns the engine and observes it through its signals;
// its size and pane sizes are kept between starts. Tasks due by their schedule
// and tasks another copy hands over join the queue; a run that added records
// or failed is told of through the tray or the desktop's notifications. Tasks
// whose [publish] setting names a server database have their records
// published while they are stored, and a run's end tells how that went.
#pragma once

#include "engine/collectionengine.h"
#include "records/recordpublisher.h"
#include "tasks/taskfolders.h"
#include "tasks/workspace.h"

#include <QHash>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class QAbstractItemView;
class QAction;
class QLabel;
class QListView;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSplitter;
class QSystemTrayIcon;
class QToolBar;

namespace caiji {

class ElidedLabel;
class Fetcher;
class ListHeader;
class LivePublisher;
class PublishDialog;
class ScheduledTasks;
class LivePreview;
class RecordBrowser;
class RecordDisplay;
class RecordListModel;
class Shell;
class TaskDialog;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static QString caption();
    static QString version();
    static QString homePage();
    // The about box's text: the program's name, version and licence.
    static QString aboutText();

    // `shell` is not owned; the fetchers are.
    MainWindow(const Workspace &workspace, std::unique_ptr<Fetcher> listFetcher,
               std::unique_ptr<Fetcher> contentFetcher, CollectionEngine::Options options,
               Shell &shell, QWidget *parent = nullptr);
    ~MainWindow() override;

    CollectionEngine &engine() { return *m_engine; }
    RecordBrowser &browser() { return *m_browser; }
    TaskDialog *newTaskDialog() const { return m_form2; }
    TaskDialog *editTaskDialog() const { return m_form3; }
    bool hasTray() const;
    LivePublisher &livePublisher() { return *m_publisher; }

    void queueSelectedTask();
    // Queues each task as a double-click does, unless it waits in the queue
    // or runs already; names of no task are reported in the status bar.
    void queueTasks(const QStringList &tasks);
    void newTask();
    void editTask();
    void deleteTask();
    void openTaskDirectory();
    void openSelectedTaskFolder(const QString &subfolder);
    // On a workspace without tasks: offers to copy in the example tasks of
    // `examples` and lists those copied. True when some were copied.
    bool offerExamples(const Workspace &examples);
    // Lists the selected task's earlier runs and browses the one chosen.
    void browseHistory();
    // Lists what failed in the last run of `task` (the selected one when empty).
    void showFailures(const QString &task = QString());
    void openHomePage();
    void openHelp();
    void showAbout();
    enum class ExportFormat { Csv, Excel };
    // Writes the records listed in 相应记录 (else of the task selected in 所有任务)
    // to a file the user names, as `caiji export` does.
    void exportRecords(ExportFormat format);
    // Asks for a server database and publishes the records the export would
    // write, reporting what the server added, updated and deleted.
    void publishRecords();
    void pause();
    void resume();
    void restoreFromTray();
    // Another copy was started on this workspace: show this window instead.
    void bringToFront();
    void exitProgram();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What 相应记录 lists (perhaps an earlier run, or only the newest run's
    // rows), else the task selected in 所有任务; `task` is empty when neither.
    struct ListedRecords
    {
        QString task;
        QString database;
        QString runTime;     // an earlier run's
        QString rowsOf;      // only this run's rows
        QString rowsStarted; // when that run started
        QString description; // "任务“t”的记录", ...
    };
    // A run whose records are published while it stores them.
    struct Publishing
    {
        QString task;
        int index = -1; // of the run in the task queue
        QString url;
        QString server; // the address without its password
        QString table;
        qint64 afterRow = 0; // the rows before the run are not its own
        bool followed = false;
        bool ending = false;
    };

    void buildLists();
    void buildMenusAndToolbar();
    void buildStatusBar();
    void buildTray();
    void connectEngine();
    void updateStatus();
    // Failures so far of the run at `index` of the task queue.
    qint64 failuresOf(int index) const;
    // The run's line in the warning colour when something in it failed.
    void markFailures(int index);
    // Makes the folder if it is missing, then opens it; `what` names it.
    void openFolder(const QString &path, const QString &what);
    void restoreLayout();
    // The panes at the first start, as showEvent() says.
    void sizePanes();
    void saveLayout() const;
    // Enter on `view` does what a double-click does.
    void onEnter(QAbstractItemView *view, std::function<void()> action);
    bool networkToSave(TaskDialog *dialog, std::optional<NetworkSettings> *network);
    void createTask();
    void saveEdit();
    QString selectedTask() const;
    bool isRunning(const QString &task) const;
    bool isQueuedOrRunning(const QString &task) const;
    void buildSchedule();
    // Each task's schedule and next time in its tip in 启动区任务.
    void refreshScheduleTips();
    // Tells the user what the run at `index` added or what failed in it.
    void tellRunEnded(int index, const QString &task);
    ListedRecords listedRecords() const;
    QString dataDirOf(const QString &task) const;
    void updatePublishAction();
    void publishListed();
    void followPublishing(int index, const QString &task);
    void follow(Publishing &publishing);
    // The run has ended: its last records are published before it is told of.
    void endPublishing(int index, const QString &task);
    void publishingFinished(const QString &task, const PublishOutcome &outcome);
    void showPublished(const Publishing &publishing, const PublishOutcome &outcome);
    bool publishFailed(int index) const;
    // On closing: the last records of the tasks published are waited for a
    // few seconds; the user is told what is left to publish.
    void waitForPublishing();
    // Before the program ends: typed text in the task dialogs and edits in
    // the record browser are saved or dropped as the user says; false when
    // the user keeps one (取消).
    bool settleUnsavedWork();

    Workspace m_workspace;
    TaskFolders m_folders;
    Shell &m_shell;
    std::unique_ptr<Fetcher> m_listFetcher;
    std::unique_ptr<Fetcher> m_contentFetcher;
    std::unique_ptr<CollectionEngine> m_engine;

    QListWidget *m_list5 = nullptr;
    QListWidget *m_list6 = nullptr;
    QListView *m_list7 = nullptr;
    ListHeader *m_header7 = nullptr;         // names the run's fields
    RecordListModel *m_runRecords = nullptr; // List7's rows
    QListWidget *m_list9 = nullptr;
    QListView *m_list10 = nullptr;
    QLabel *m_label8 = nullptr;
    QLabel *m_label9 = nullptr;
    QPushButton *m_command3 = nullptr;
    QPushButton *m_command4 = nullptr;
    RecordDisplay *m_picture3 = nullptr;
    QList<QSplitter *> m_splitters; // their sizes are kept between starts
    bool m_panesSized = false;
    QHash<QObject *, std::function<void()>> m_enterActions;
    ElidedLabel *m_statusText = nullptr;
    QLabel *m_pausedLabel = nullptr;
    QLabel *m_failures = nullptr; // 失败N, a link to the failure list
    QProgressBar *m_progress = nullptr;
    QToolBar *m_toolbar1 = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    RecordBrowser *m_browser = nullptr;
    LivePreview *m_preview = nullptr;
    TaskDialog *m_form2 = nullptr;
    TaskDialog *m_form3 = nullptr;
    ScheduledTasks *m_schedule = nullptr;
    LivePublisher *m_publisher = nullptr;
    QList<Publishing> m_publishing;               // in the order they started
    QHash<int, PublishOutcome> m_publishOutcomes; // by the run's index in the task queue
    QStringList m_leftToPublish;                  // tasks whose last records failed while closing
    bool m_closing = false;
    QAction *m_publishAction = nullptr;
    PublishDialog *m_publishDialog = nullptr;
    ListedRecords m_toPublish; // what the open PublishDialog is for
};

} // namespace caiji
