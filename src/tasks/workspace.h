// The workspace on disk: one folder per task under "task", each with "data"
// (task.txt, data.mdb), "web" (fetched pages) and "wek" (downloaded files).
#pragma once

#include <QString>
#include <QStringList>

namespace caiji {

class Workspace
{
public:
    explicit Workspace(const QString &root);

    QString root() const { return m_root; }
    QString tasksDir() const;
    QString taskDir(const QString &name) const;
    QString taskFile(const QString &name) const;
    QString databaseFile(const QString &name) const;
    QString webDir(const QString &name) const;
    QString wekDir(const QString &name) const;
    QString placeholderPicture() const;

    // Names of the task folders, sorted by name; files are not tasks.
    QStringList taskNames() const;

private:
    QString m_root;
};

} // namespace caiji
