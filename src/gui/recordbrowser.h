// Browsing a task's stored records: list them (List10, with the raw lines in
// List11), show one in the display area, save edits, delete. Update and delete
// act on the task that was listed and the record that is shown or selected,
// whatever is selected in the task list later.
#pragma once

#include "tasks/workspace.h"

#include <QObject>
#include <QStringList>

class QLabel;
class QListView;
class QListWidget;

namespace caiji {

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
        RecordDisplay *display;
    };

    RecordBrowser(const Workspace &workspace, Widgets widgets, Shell &shell, QWidget *dialogParent);

    static QString notCollectedMessage();
    static QString notEditableMessage();

    // Lists the records of the task selected in the all-tasks list.
    void loadRecords();
    // Lists the records of `database`, one of `task`'s runs (its current
    // database or an earlier run's); show, update and delete then act on it.
    void loadRecordsFrom(const QString &task, const QString &database);
    void showRecord();
    void updateRecord();
    void deleteRecord();
    // Records of the running collection are on display: they cannot be saved here.
    void clearEditable() { m_recedit = 0; }

    int recedit() const { return m_recedit; }
    // List11: the record lines of the listed records, read from the database.
    QStringList list11() const;
    QString listedTask() const { return m_listedTask; }
    // The database of the listed records: the task's own or an earlier run's.
    QString listedDatabase() const { return m_listedDatabase; }

private:
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
    QString m_listedTask;
    QString m_listedDatabase;
    int m_shownPosition = -1;
};

} // namespace caiji
