// What the fault tests read back after a "caiji run": the summary and status
// lines it printed, the rows of a task's database, and the files of a folder
// tree; and the article pages and task those runs collect.
#pragma once

#include "programrun.h"
#include "tasks/workspace.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace caiji::test {

class FaultServer;

// The six numbers of a run's summary line, in the order printed.
struct Tally
{
    qint64 requested = 0;
    qint64 failed = 0;
    qint64 stored = 0;
    qint64 refused = 0;
    qint64 downloadsStored = 0;
    qint64 downloadsFailed = 0;

    bool operator==(const Tally &) const = default;
    QString toString() const;
};

// The summary line of `task` in a run's standard output, or nothing.
std::optional<Tally> summaryOf(const QByteArray &out, const QString &task);
// The run list line of `task` that says it is complete ("[采集完成]" after
// the name), or nothing.
std::optional<QString> completeLineIn(const QByteArray &out, const QString &task);
// The largest ",记录N" of the status lines printed; -1 when none was.
int largestRecordCount(const QByteArray &out);

// The rows of the task database, fields joined as "^a^b..."; nothing when it
// cannot be read.
std::optional<QStringList> databaseRows(const QString &databaseFile, int fieldCount);
// "PRAGMA integrity_check" of a database: "ok" when sound.
QString integrityOf(const QString &databaseFile);

// Every file under `root` (hidden ones too) with its size and a hash of its
// bytes, by path relative to `root`; folders under `skip` (relative) are left
// out.
QMap<QString, QByteArray> fileTree(const QString &root, const QStringList &skip = {});
// Relative paths of the files under `root` that hold `needle`.
QStringList filesHolding(const QString &root, const QByteArray &needle);

// The article task: level 1 cuts the page address, its title and a picture
// address to download ("^url^title^picture file name").
QString articleTask(const QString &ur);
constexpr int ArticleFields = 3;
// An article page; `charset` goes into its meta declaration, `picture`
// (an address) is left out when empty.
QByteArray articlePage(const QByteArray &title, const QString &picture,
                       const QByteArray &charset = QByteArrayLiteral("utf-8"));
// A small picture body, different for each `seed`.
QByteArray pictureBytes(int seed);

// The pages of one test site on a shared server, under a folder of its own,
// and the records and pictures a run of its task must leave.
struct FaultSite
{
    FaultServer &server;
    QString prefix;                     // "/r7"
    QStringList records;                // the task's rows, in any order
    QMap<QString, QByteArray> pictures; // file name in wek -> bytes

    QString path(const QString &name) const { return prefix + u'/' + name; }
    QString url(const QString &name) const;
    static QString articleName(int n);
    static QString pictureName(int n);
    QString article(int n) const { return url(articleName(n)); }
    QString picture(int n) const { return url(pictureName(n)); }
    QByteArray title(int n) const;
    // The record of article `n` of the article task.
    QString recordOf(int n, const QString &pictureUrl) const;

    void page(int n, const QByteArray &body);
    void expectRecord(int n, const QString &pictureUrl) { records << recordOf(n, pictureUrl); }
    void goodPicture(int n);
    // Article `n` with its picture, both expected.
    void goodArticle(int n);
    // A list page linking to the named pages of the site.
    QByteArray links(const QStringList &names) const;
};

// What a run must show.
struct Expected
{
    QString task;
    Tally tally;
    int exitCode = 0;
};

// The first way a finished run, its task's folders and the rest of its
// workspace (`before` came from fileTree(root, {"task/" + task}) before the
// run) differ from what `site` and `expected` say; empty when none does.
QString firstMismatch(const ProgramRun &run, const Workspace &workspace,
                      const QMap<QString, QByteArray> &before, const FaultSite &site,
                      const Expected &expected);

} // namespace caiji::test
