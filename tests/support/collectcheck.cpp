#include "collectcheck.h"

#include "faultserver.h"
#include "records/failurelog.h"
#include "tempworkspace.h"
#include "text/names.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace caiji::test {

namespace {

constexpr qint64 ReadChunkBytes = 1024 * 1024;

QStringList outputLines(const QByteArray &out)
{
    return QString::fromUtf8(out).split(u'\n');
}

// Runs `work` on a connection of its own to `databaseFile`.
template <typename Work> void withDatabase(const QString &databaseFile, Work work)
{
    static int serial = 0;
    const QString name = u"collectcheck-"_s + QString::number(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(databaseFile);
        if (QFile::exists(databaseFile) && db.open())
            work(db);
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

QString Tally::toString() const
{
    return u"%1,%2,%3,%4,%5,%6"_s.arg(requested)
        .arg(failed)
        .arg(stored)
        .arg(refused)
        .arg(downloadsStored)
        .arg(downloadsFailed);
}

std::optional<Tally> summaryOf(const QByteArray &out, const QString &task)
{
    static const QRegularExpression line(
        u"^汇总 (.*): 页面请求(\\d+),失败(\\d+),记录存储(\\d+),被拒(\\d+),下载存储(\\d+),下载失败(\\d+)(,[^；]*)?(；.*)?$"_s);
    for (const QString &text : outputLines(out)) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch() || match.captured(1) != task)
            continue;
        return Tally{match.captured(2).toLongLong(), match.captured(3).toLongLong(),
                     match.captured(4).toLongLong(), match.captured(5).toLongLong(),
                     match.captured(6).toLongLong(), match.captured(7).toLongLong()};
    }
    return std::nullopt;
}

std::optional<QString> completeLineIn(const QByteArray &out, const QString &task)
{
    // The run list shows a name cut or padded to 20 characters.
    const QString start = QString(task + QString(20, u' ')).left(20) + u"[采集完成]"_s;
    for (const QString &line : outputLines(out)) {
        if (line.startsWith(start))
            return line;
    }
    return std::nullopt;
}

int largestRecordCount(const QByteArray &out)
{
    static const QRegularExpression count(u",记录(\\d+)"_s);
    int largest = -1;
    for (const QString &text : outputLines(out)) {
        const QRegularExpressionMatch match = count.match(text);
        if (match.hasMatch())
            largest = std::max(largest, match.captured(1).toInt());
    }
    return largest;
}

std::optional<QStringList> databaseRows(const QString &databaseFile, int fieldCount)
{
    std::optional<QStringList> rows;
    withDatabase(databaseFile, [&](QSqlDatabase &db) {
        QStringList columns;
        for (int k = 1; k <= fieldCount; ++k)
            columns << u"字段"_s + QString::number(k);
        QSqlQuery query(db);
        if (!query.exec(u"SELECT "_s + columns.join(u',') + u" FROM data ORDER BY rowid"_s))
            return;
        rows.emplace();
        while (query.next()) {
            QString line;
            for (int k = 0; k < fieldCount; ++k)
                line += u'^' + query.value(k).toString();
            rows->append(line);
        }
    });
    return rows;
}

QString integrityOf(const QString &databaseFile)
{
    QString result = u"cannot open"_s;
    withDatabase(databaseFile, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (query.exec(u"PRAGMA integrity_check"_s) && query.next())
            result = query.value(0).toString();
    });
    return result;
}

QMap<QString, QByteArray> fileTree(const QString &root, const QStringList &skip)
{
    QMap<QString, QByteArray> tree;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = base.relativeFilePath(path);
        if (std::any_of(skip.cbegin(), skip.cend(),
                        [&](const QString &folder) { return relative.startsWith(folder + u'/'); }))
            continue;
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
        tree.insert(relative, QByteArray::number(file.size()) + ' ' + hash.result().toHex());
    }
    return tree;
}

QStringList filesHolding(const QString &root, const QByteArray &needle)
{
    QStringList found;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // Chunks overlap by the needle's length, so no match is cut in two.
        QByteArray carry;
        while (!file.atEnd()) {
            const QByteArray window = carry + file.read(ReadChunkBytes);
            if (window.contains(needle)) {
                found << base.relativeFilePath(path);
                break;
            }
            carry = window.right(needle.size());
        }
    }
    return found;
}

QString articleTask(const QString &ur)
{
    return u"ur=[["_s + ur + u"]]\r\nuc=[["_s + QString::number(ArticleFields) + u"]]\r\n"_s +
           sectionText(1, {u"1"_s,
                           u"1"_s,
                           u"2"_s,
                           u"<title>^</title>^<title>^</title>^-1^0|"
                           u"<div class=\"pic\">^</div>^src=\"^\"^0^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

QByteArray articlePage(const QByteArray &title, const QString &picture, const QByteArray &charset)
{
    QByteArray page =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + charset +
        "\"><title>" + title + "</title></head><body>\n";
    if (!picture.isEmpty())
        page += "<div class=\"pic\"><img src=\"" + picture.toUtf8() + "\"></div>\n";
    return page + "<p>text of the article</p></body></html>\n";
}

QByteArray pictureBytes(int seed)
{
    QByteArray bytes = "\x89PNG\r\n\x1a\n"_ba;
    for (int i = 0; i < 200; ++i)
        bytes += char((seed * 31 + i * 7) & 0xff);
    return bytes;
}

QString FaultSite::url(const QString &name) const
{
    return server.url(path(name));
}

QString FaultSite::articleName(int n)
{
    return u"art"_s + QString::number(n) + u".htm"_s;
}

QString FaultSite::pictureName(int n)
{
    return u"pic"_s + QString::number(n) + u".png"_s;
}

QByteArray FaultSite::title(int n) const
{
    return prefix.mid(1).toUtf8() + '-' + QByteArray::number(n);
}

QString FaultSite::recordOf(int n, const QString &pictureUrl) const
{
    return u'^' + article(n) + u'^' + QString::fromUtf8(title(n)) + u'^' + name1(pictureUrl);
}

void FaultSite::page(int n, const QByteArray &body)
{
    server.setPage(path(articleName(n)), body);
}

void FaultSite::goodPicture(int n)
{
    server.setPage(path(pictureName(n)), pictureBytes(n), "image/png"_ba);
    pictures.insert(name1(picture(n)), pictureBytes(n));
}

void FaultSite::goodArticle(int n)
{
    page(n, articlePage(title(n), picture(n)));
    expectRecord(n, picture(n));
    goodPicture(n);
}

QByteArray FaultSite::links(const QStringList &names) const
{
    QByteArray html = "<html><head><meta charset=utf-8></head><body>\n";
    for (const QString &name : names)
        html += "<a href=\"" + url(name).toUtf8() + "\">" + name.toUtf8() + "</a>\n";
    return html + "</body></html>\n";
}

namespace {

QString differs(const QString &what, const QString &got, const QString &expected)
{
    return what + u": got "_s + got + u", expected "_s + expected;
}

QString joined(QStringList list)
{
    list.sort();
    return u"["_s + list.join(u" | "_s) + u"]"_s;
}

} // namespace

QString firstMismatch(const ProgramRun &run, const Workspace &workspace,
                      const QMap<QString, QByteArray> &before, const FaultSite &site,
                      const Expected &expected)
{
    const QString &task = expected.task;
    if (!run.finished)
        return u"the run did not end by itself"_s;
    const std::optional<QString> completeLine = completeLineIn(run.out, task);
    if (!completeLine)
        return u"no [采集完成] line; the run printed: "_s + QString::fromUtf8(run.out.right(1500));

    const std::optional<QStringList> rows =
        databaseRows(workspace.databaseFile(task), ArticleFields);
    if (!rows)
        return u"the database cannot be read"_s;
    if (joined(*rows) != joined(site.records))
        return differs(u"records"_s, joined(*rows), joined(site.records));
    if (largestRecordCount(run.out) != rows->size())
        return differs(u"the largest record count in the status lines"_s,
                       QString::number(largestRecordCount(run.out)),
                       QString::number(rows->size()) + u" (the rows stored)"_s);

    // No page file, no temporary file, only the pictures that arrived whole.
    const QStringList web = TempWorkspace::filesIn(workspace.webDir(task));
    if (!web.isEmpty())
        return differs(u"files in web"_s, joined(web), u"none"_s);
    const QStringList wek = TempWorkspace::filesIn(workspace.wekDir(task));
    if (joined(wek) != joined(site.pictures.keys()))
        return differs(u"files in wek"_s, joined(wek), joined(site.pictures.keys()));
    for (const auto &[name, bytes] : site.pictures.asKeyValueRange()) {
        QFile file(workspace.wekDir(task) + u'/' + name);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
            return u"the bytes of "_s + name + u" differ from what the server sent"_s;
    }
    const QMap<QString, QByteArray> after = fileTree(workspace.root(), {u"task/"_s + task});
    if (after != before)
        return differs(u"files outside the task folder"_s, joined(after.keys()),
                       joined(before.keys()));

    const std::optional<Tally> summary = summaryOf(run.out, task);
    if (!summary)
        return u"no summary line for "_s + task;
    if (*summary != expected.tally)
        return differs(u"summary numbers"_s, summary->toString(), expected.tally.toString());
    // Every failure counted is listed with the run, with its kind and reason.
    const std::optional<QList<FailureEntry>> failures =
        FailureLog::read(workspace.databaseFile(task));
    if (!failures)
        return u"the failure list cannot be read"_s;
    // Garbled pages are listed too, but are no failure.
    const qsizetype listed = std::count_if(failures->cbegin(), failures->cend(),
                                           [](const FailureEntry &f) { return f.kind != u"乱码"; });
    if (listed != summary->failed + summary->refused + summary->downloadsFailed)
        return differs(
            u"failures listed"_s, QString::number(listed),
            QString::number(summary->failed + summary->refused + summary->downloadsFailed));
    for (const FailureEntry &failure : *failures) {
        if (failure.kind.isEmpty() || failure.reason.isEmpty() || failure.address.isEmpty())
            return u"a failure listed without kind, reason or address: "_s + failure.kind +
                   u" | "_s + failure.reason + u" | "_s + failure.address;
    }
    if (run.exitCode != expected.exitCode)
        return differs(u"exit status"_s, QString::number(run.exitCode),
                       QString::number(expected.exitCode));
    if (!completeLine->endsWith(u"[采集完成]"_s))
        return u"the complete line does not end in [采集完成]: "_s + *completeLine;
    return {};
}

} // namespace caiji::test
