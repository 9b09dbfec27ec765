#include "tasks/installlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace caiji {

InstallLayout::InstallLayout(const QString &programDir) : m_programDir(programDir) {}

QString InstallLayout::sharedDataDir() const
{
    return QDir::cleanPath(m_programDir + u"/../share/caiji"_s);
}

bool InstallLayout::isInstalled() const
{
    // Not a test of write access: root may write to /usr/bin, yet the
    // workspace does not belong there.
    return QFileInfo(m_programDir).fileName() == u"bin"_s &&
           QFileInfo::exists(sharedDataDir() + u"/帮助.doc"_s);
}

QString InstallLayout::examplesWorkspaceDir() const
{
    const QString examples = isInstalled() ? sharedDataDir() : m_programDir;
    const QString workspace = QDir::cleanPath(examples + u"/examples/workspace"_s);
    return QFileInfo(workspace + u"/task"_s).isDir() ? workspace : QString();
}

QString InstallLayout::defaultWorkspace() const
{
    if (!isInstalled())
        return m_programDir;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/caiji"_s;
}

bool InstallLayout::prepareWorkspace(const QString &workspace) const
{
    if (!QDir().mkpath(workspace + u"/task"_s))
        return false;
    const QString shared = sharedDataDir();
    for (const QString &file : {u"task/n.jpg"_s, u"帮助.doc"_s}) {
        const QString target = workspace + u'/' + file;
        if (!QFileInfo::exists(target) && QFileInfo::exists(shared + u'/' + file))
            QFile::copy(shared + u'/' + file, target);
    }
    return true;
}

} // namespace caiji
