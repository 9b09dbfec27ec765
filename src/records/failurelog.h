// The failures of a run, kept beside its database: "data.mdb" has
// "data.failures.tsv", and a run moved to the history keeps its list under the
// same name with ".failures.tsv". One line per failure (kind, reason,
// address), written as it happens, so a run that was killed keeps its list.
#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <optional>

namespace caiji {

struct FailureEntry
{
    QString kind;    // 列表页, 第N层内容页, 下载, 记录
    QString reason;  // HTTP 404, 超时, 连接被拒绝, ... or the database's refusal
    QString address; // a refused record: its record line
};

class FailureLog
{
public:
    static QString fileFor(const QString &database);

    // Starts an empty list for the run whose database is `database`.
    bool open(const QString &database);
    // False when the line could not be written (`error` says why); the
    // list is written unbuffered, so a reader sees each line at once.
    bool append(const FailureEntry &entry, QString *error = nullptr);
    void close();
    QString fileName() const { return m_file.fileName(); }

    // The list of the run whose database is `database`: empty when the run
    // had no failures, nothing when the list cannot be read.
    static std::optional<QList<FailureEntry>> read(const QString &database);

private:
    QFile m_file;
};

} // namespace caiji
