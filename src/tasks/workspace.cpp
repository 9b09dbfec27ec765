#include "tasks/workspace.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace caiji {

Workspace::Workspace(const QString &root) : m_root(QDir(root).absolutePath()) {}

QString Workspace::tasksDir() const
{
    return m_root + u"/task"_s;
}

QString Workspace::taskDir(const QString &name) const
{
    return tasksDir() + u'/' + name;
}

QString Workspace::taskFile(const QString &name) const
{
    return taskDir(name) + u"/data/task.txt"_s;
}

QString Workspace::databaseFile(const QString &name) const
{
    return taskDir(name) + u"/data/data.mdb"_s;
}

QString Workspace::webDir(const QString &name) const
{
    return taskDir(name) + u"/web"_s;
}

QString Workspace::wekDir(const QString &name) const
{
    return taskDir(name) + u"/wek"_s;
}

QString Workspace::placeholderPicture() const
{
    return tasksDir() + u"/n.jpg"_s;
}

QStringList Workspace::taskNames() const
{
    QStringList names = QDir(tasksDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace caiji
