#include "tempworkspace.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace caiji::test {

TempWorkspace::TempWorkspace(const QString &parent)
    : m_dir((parent.isEmpty() ? QDir::tempPath() : parent) + u"/caiji-test-XXXXXX"_s)
{
}

bool TempWorkspace::addTaskFolders(const QString &name)
{
    const QDir dir(taskDir(name));
    for (const QString &sub : {u"data"_s, u"web"_s, u"wek"_s}) {
        if (!dir.mkpath(sub))
            return false;
    }
    return true;
}

bool TempWorkspace::addTaskBytes(const QString &name, const QByteArray &taskBytes)
{
    if (!addTaskFolders(name))
        return false;
    QFile file(workspace().taskFile(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(taskBytes) == taskBytes.size();
}

bool TempWorkspace::addTask(const QString &name, const QString &taskText)
{
    return addTaskBytes(name, taskText.toUtf8());
}

QString TempWorkspace::taskDir(const QString &name) const
{
    return workspace().taskDir(name);
}

QString TempWorkspace::databaseFile(const QString &name) const
{
    return workspace().databaseFile(name);
}

QString TempWorkspace::webDir(const QString &name) const
{
    return workspace().webDir(name);
}

QString TempWorkspace::wekDir(const QString &name) const
{
    return workspace().wekDir(name);
}

QStringList TempWorkspace::filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QString sectionText(int level, const QStringList &w)
{
    const QString marker = u"<getm"_s + QString::number(level) + u'>';
    QString text = marker + u"\r\n"_s;
    for (int k = 0; k < 8; ++k)
        text += u'w' + QString::number(k + 1) + u"=[["_s + w.value(k) + u"]]\r\n"_s;
    return text + marker + u"\r\n"_s;
}

} // namespace caiji::test
