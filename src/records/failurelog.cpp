#include "records/failurelog.h"

#include "records/writefailure.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Tabs and line breaks would split a line of the list.
QString field(QString text)
{
    return text.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
}

} // namespace

QString FailureLog::fileFor(const QString &database)
{
    const QFileInfo info(database);
    return info.path() + u'/' + info.completeBaseName() + u".failures.tsv"_s;
}

bool FailureLog::open(const QString &database)
{
    close();
    m_file.setFileName(fileFor(database));
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

bool FailureLog::append(const FailureEntry &entry, QString *error)
{
    if (!m_file.isOpen()) {
        if (error)
            *error = u"失败清单未打开"_s;
        return false;
    }
    const QByteArray line =
        (field(entry.kind) + u'\t' + field(entry.reason) + u'\t' + field(entry.address) + u'\n')
            .toUtf8();
    if (m_file.write(line) == line.size())
        return true;
    if (error)
        *error = writeFailureReason(m_file);
    return false;
}

void FailureLog::close()
{
    if (m_file.isOpen())
        m_file.close();
}

std::optional<QList<FailureEntry>> FailureLog::read(const QString &database)
{
    QFile file(fileFor(database));
    if (!file.exists())
        return QList<FailureEntry>();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<FailureEntry> entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QStringList parts = QString::fromUtf8(line).split(u'\t');
        entries.append({parts.value(0), parts.value(1), parts.value(2)});
    }
    return entries;
}

} // namespace caiji
