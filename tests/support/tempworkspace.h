// A workspace in a temporary folder that tests fill with tasks: each task gets
// task/NAME/{data,web,wek} and a task.txt written from a string.
#pragma once

#include "tasks/workspace.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace caiji::test {

class TempWorkspace
{
public:
    // In the system's temporary folder, or in `parent`.
    explicit TempWorkspace(const QString &parent = QString());

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    Workspace workspace() const { return Workspace(root()); }

    // Creates the task's folders and writes `taskText` as UTF-8; false on failure.
    bool addTask(const QString &name, const QString &taskText);
    // The same with the task file's bytes as given (for other encodings).
    bool addTaskBytes(const QString &name, const QByteArray &taskBytes);
    // The folders without a task file.
    bool addTaskFolders(const QString &name);

    QString taskDir(const QString &name) const;
    QString databaseFile(const QString &name) const;
    QString webDir(const QString &name) const;
    QString wekDir(const QString &name) const;

    // Names of the files in a folder, sorted.
    static QStringList filesIn(const QString &directory);

private:
    QTemporaryDir m_dir;
};

// A level section "<getmK>" holding w1..w8 (w[0] is w1).
QString sectionText(int level, const QStringList &w);

} // namespace caiji::test
