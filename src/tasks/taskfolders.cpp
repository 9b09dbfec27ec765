#include "tasks/taskfolders.h"

#include "text/readtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Copies a folder with everything in it; placeholder ".keep" files stay behind.
bool copyFolder(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    const QDir source(from);
    for (const QFileInfo &entry :
         source.entryInfoList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + u'/' + entry.fileName();
        if (entry.isDir() ? !copyFolder(entry.filePath(), target)
                          : entry.fileName() != u".keep" && !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

// Replaces `to` only once the whole file is copied.
bool copyFile(const QString &from, const QString &to, QString *reason)
{
    QFile source(from);
    QSaveFile target(to);
    if (!source.open(QIODevice::ReadOnly)) {
        *reason = u"无法读取 "_s + QDir::toNativeSeparators(from);
        return false;
    }
    const QByteArray bytes = source.readAll();
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size() ||
        !target.flush() || !target.commit()) {
        *reason = u"无法写入 "_s + QDir::toNativeSeparators(to);
        return false;
    }
    return true;
}

} // namespace

TaskFolders::TaskFolders(const Workspace &workspace) : m_workspace(workspace) {}

QList<QPair<QString, bool>> TaskFolders::copyExampleTasks(const Workspace &examples) const
{
    QList<QPair<QString, bool>> copied;
    const QStringList existing = m_workspace.taskNames();
    for (const QString &task : examples.taskNames()) {
        if (!existing.contains(task))
            copied.append({task, copyFolder(examples.taskDir(task), m_workspace.taskDir(task))});
    }
    if (!QFile::exists(m_workspace.placeholderPicture()))
        QFile::copy(examples.placeholderPicture(), m_workspace.placeholderPicture());
    return copied;
}

QString TaskFolders::forbiddenCharacterMessage()
{
    return u"任务名称不能出现下列特殊字符：/\\:*?\"<>|"_s;
}

QString TaskFolders::existsMessage()
{
    return u"任务已存在"_s;
}

bool TaskFolders::hasForbiddenCharacter(const QString &rawName)
{
    static const QString forbidden = u"/\\:*?\"<>|"_s;
    return std::any_of(forbidden.begin(), forbidden.end(),
                       [&](QChar c) { return rawName.contains(c); });
}

QString TaskFolders::trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}

bool TaskFolders::exists(const QString &name) const
{
    return QFileInfo::exists(m_workspace.taskDir(name));
}

bool TaskFolders::writeDefinition(const QString &name, const QString &content,
                                  QString *reason) const
{
    QSaveFile file(m_workspace.taskFile(name));
    const QByteArray bytes = content.toUtf8();
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    // The write is buffered: a full disk shows first in flush(), which a
    // save file's commit would not notice, leaving an empty task file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        // Qt reports a full disk (ENOSPC) as a resource error.
        *reason = file.error() == QFileDevice::ResourceError ? u"磁盘已满"_s : file.errorString();
        return false;
    }
    return true;
}

bool TaskFolders::writeNetwork(const QString &name, NetworkSettings network, QString *reason) const
{
    const QString dataDir = QFileInfo(m_workspace.taskFile(name)).absolutePath();
    // QSettings would make the folders of a task that is gone.
    if (!QFileInfo(dataDir).isDir()) {
        *reason = u"找不到 "_s + QDir::toNativeSeparators(dataDir);
        return false;
    }
    // Fixed names: a picked file never replaces the task's own files.
    const std::pair<QString *, QString> files[] = {{&network.cookiesFile, u"cookies.txt"_s},
                                                   {&network.caFile, u"ca.crt"_s}};
    for (const auto &[file, copy] : files) {
        if (!QDir::isAbsolutePath(*file))
            continue;
        if (!copyFile(*file, dataDir + u'/' + copy, reason))
            return false;
        *file = copy;
    }
    if (!network.write(dataDir)) {
        *reason = u"无法写入 "_s + QDir::toNativeSeparators(NetworkSettings::fileIn(dataDir));
        return false;
    }
    return true;
}

TaskChange TaskFolders::create(const QString &rawName, const QString &rawContent,
                               const std::optional<NetworkSettings> &network) const
{
    if (hasForbiddenCharacter(rawName))
        return {false, forbiddenCharacterMessage()};
    const QString name = trimBlanks(rawName);
    if (exists(name))
        return {false, existsMessage()};
    QDir tasks(m_workspace.tasksDir());
    const QString dir = m_workspace.taskDir(name);
    if (!tasks.mkpath(dir) || !QDir(dir).mkdir(u"data"_s) || !QDir(dir).mkdir(u"web"_s) ||
        !QDir(dir).mkdir(u"wek"_s)) {
        QDir(dir).removeRecursively();
        return {false, u"无法创建任务目录："_s + QDir::toNativeSeparators(dir)};
    }
    QString reason;
    if (!writeDefinition(name, trimBlanks(rawContent), &reason)) {
        QDir(dir).removeRecursively();
        return {false, u"无法写入任务文件："_s +
                           QDir::toNativeSeparators(m_workspace.taskFile(name)) + u"\n"_s + reason};
    }
    if (network && !writeNetwork(name, *network, &reason)) {
        QDir(dir).removeRecursively();
        return {false, u"无法写入网络设置："_s + reason};
    }
    return {true, u"任务创建成功!"_s};
}

TaskChange TaskFolders::edit(const QString &oldName, const QString &rawNewName,
                             const QString &rawContent,
                             const std::optional<NetworkSettings> &network) const
{
    if (hasForbiddenCharacter(rawNewName))
        return {false, forbiddenCharacterMessage()};
    const QString from = trimBlanks(oldName);
    const QString to = trimBlanks(rawNewName);
    if (from != to && exists(to))
        return {false, existsMessage()};
    QString reason;
    if (!writeDefinition(from, trimBlanks(rawContent), &reason))
        return {false, u"无法写入任务文件："_s +
                           QDir::toNativeSeparators(m_workspace.taskFile(from)) + u"\n"_s + reason};
    if (network && !writeNetwork(from, *network, &reason))
        return {false, u"无法写入网络设置："_s + reason};
    if (from != to && !QDir().rename(m_workspace.taskDir(from), m_workspace.taskDir(to)))
        return {false, u"无法更改任务名称："_s + from};
    return {true, u"任务编辑成功!"_s};
}

TaskChange TaskFolders::remove(const QString &name) const
{
    const QString dir = m_workspace.taskDir(name);
    // An empty name would be the task folder itself.
    if (name.isEmpty() || !QFileInfo(dir).isDir() || !QDir(dir).removeRecursively())
        return {false, u"无法删除任务目录："_s + QDir::toNativeSeparators(dir)};
    return {true, u"任务已删除"_s};
}

QString TaskFolders::readDefinition(const QString &name) const
{
    return readTaskText(m_workspace.taskFile(trimBlanks(name)));
}

} // namespace caiji
