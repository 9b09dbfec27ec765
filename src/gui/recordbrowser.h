// Browsing a task's stored records: list them (List10, with the raw lines in
// List11), show one in the display area, save edits, delete. Update and delete
// act on the task that was listed and the record that is shown or selected,
// whatever is selected in the task list later. Typed edits are dropped only
// when the user says so. A database that several runs added to can be listed
// with only the rows its newest run added.
#pragma once

#include "tasks/workspace.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>
#include <optional>

class QCheckBox;
class QLabel;
class QListView;
class QListWidget;

namespace caiji {

class ListHeader;
class Shell;
class RecordDisplay;
class RecordListModel;

class RecordBrowser : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QListWidget *list9; // all tasks
        QListView *list10;  // records of the listed task (its model is the browser's)
        QLabel *label8;     // number of records listed
        QLabel *listedRun;  // which earlier run is listed, if one is
        ListHeader *header10;
        RecordDisplay *display;
        QCheckBox *newestOnly; // lists only the rows the newest run added
    };

    RecordBrowser(const Workspace &workspace, Widgets widgets, Shell &shell, QWidget *dialogParent);

    static QString notCollectedMessage();
    // 更新记录 when the display shows a record of the running collection.
    static QString notEditableMessage();
    // 更新记录 when no record of the listed task is on display.
    static QString nothingShownMessage();

    // True when the shown record has no unsaved edits, or the user agrees to
    // drop them.
    bool mayDropEdits();

    // Lists the records of the task selected in the all-tasks list.
    void loadRecords();
    // Lists the records of `database`, one of `task`'s runs (its current
    // database or, collected at `runTime`, an earlier run's); show, update and
    // delete then act on it.
    void loadRecordsFrom(const QString &task, const QString &database,
                         const QString &runTime = QString());
    // Lists `task`'s records, only those its newest run added when its
    // database holds more than one run.
    void showNewestRun(const QString &task);
    void showRecord();
    void updateRecord();
    void deleteRecord();
    // Records of the running collection are on display: they cannot be saved here.
    void clearEditable();

    int recedit() const { return m_recedit; }
    // List11: the record lines of the listed records, read from the database.
    QStringList list11() const;
    QString listedTask() const { return m_listedTask; }
    // The database of the listed records: the task's own or an earlier run's.
    QString listedDatabase() const { return m_listedDatabase; }
    // When the earlier run listed was collected; empty for the task's own.
    QString listedRunTime() const { return m_listedRunTime; }
    // The run whose rows alone are listed, and when it started; empty when
    // every row is.
    QString listedRowsOf() const { return m_rowIds ? m_newestRun : QString(); }
    QDateTime listedRowsStarted() const { return m_newestRunStarted; }

Q_SIGNALS:
    // Another task or run is listed (or tried to be).
    void listed();

private:
    void list(const QString &task, const QString &database, const QString &runTime,
              bool newestOnly);
    void showNewestOnly(bool newestOnly);
    void setNewestCount();
    QString selectedTask() const;
    int currentRow() const;
    void selectRow(int row);
    void showFailure(const QString &what);

    Workspace m_workspace;
    Widgets m_w;
    Shell &m_shell;
    QWidget *m_dialogParent;
    RecordListModel *m_records; // List10's rows
    int m_recedit = 0;
    QString m_notEditable; // why the display holds nothing to save
    QString m_listedTask;
    QString m_listedDatabase;
    QString m_listedRunTime;
    int m_shownPosition = -1;
    QString m_newestRun; // of the listed database, when it holds more than one
    QDateTime m_newestRunStarted;
    // The rows listed, by rowid, when they are not every row of the table.
    std::optional<QList<qint64>> m_rowIds;
};

} // namespace caiji
