// "caiji run" on pages whose links try to leave the task: "..", absolute
// paths, file: and javascript: addresses, NUL bytes and addresses of 10,000
// characters, as a download link field, as a link field to a deeper page and
// as list-page links. Nothing outside the task folder is read into it or
// written, and every fetch is either collected or counted as failed.
#include "collectcheck.h"
#include "concurrentruns.h"
#include "faultserver.h"
#include "tempworkspace.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int TickMs = 100;
constexpr int RunBoundMs = 60000;

// A download link field (level 0), a link field to a level-2 page, or a link
// on the start page of a crawl.
enum class Where { Download, Page, List };

enum class Value { DotDot, AbsolutePath, FileScheme, JavaScript, Nul, Long };

struct HostileRow
{
    QString name;
    Where where;
    Value value;
};

QList<HostileRow> hostileRows()
{
    const std::pair<Where, QString> places[] = {{Where::Download, u"download"_s},
                                                {Where::Page, u"level-2 page"_s},
                                                {Where::List, u"list link"_s}};
    const std::pair<Value, QString> values[] = {{Value::DotDot, u"../ to the canary"_s},
                                                {Value::AbsolutePath, u"/etc/passwd"_s},
                                                {Value::FileScheme, u"file: to the canary"_s},
                                                {Value::JavaScript, u"javascript:"_s},
                                                {Value::Nul, u"NUL bytes"_s},
                                                {Value::Long, u"10,000 characters"_s}};
    QList<HostileRow> rows;
    for (const auto &[where, place] : places) {
        for (const auto &[value, name] : values)
            rows.append({place + u", "_s + name, where, value});
    }
    return rows;
}

// Level 1: the address, the title and one link field of `level`; level 2:
// the title of the deeper page.
QString hostileTask(const QString &ur, int level)
{
    const QString fields = u"<title>^</title>^<title>^</title>^-1^0|"
                           u"<div class=\"next\">^</div>^href=\"^\"^"_s +
                           QString::number(level) + u"^0"_s;
    return u"ur=[["_s + ur + u"]]\r\nuc=[[4]]\r\n"_s +
           sectionText(1, {u"1"_s, u"1"_s, u"2"_s, fields, u"0"_s, {}, u"0"_s, {}}) +
           sectionText(2, {u"1"_s,
                           u"0"_s,
                           u"1"_s,
                           u"<title>^</title>^<title>^</title>^-1^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

QByteArray passwdHead()
{
    QFile passwd(u"/etc/passwd"_s);
    return passwd.open(QIODevice::ReadOnly) ? passwd.readLine().trimmed() : QByteArray();
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostileLinks_data();
    void hostileLinks();

private:
    struct RowRun
    {
        std::unique_ptr<QTemporaryDir> parent; // holds the canary and the workspace
        QString task;
        QStringList pagePaths;    // pages the server answers for the row
        QStringList picturePaths; // pictures the server answers
        bool collected = false;   // the hostile address is served
        QMap<QString, QByteArray> before;
        int process = -1;
    };

    bool setUpRow(RowRun &row, int index, const HostileRow &spec);
    QByteArray hostileValue(const RowRun &row, const FaultSite &site, Value value,
                            const QString &longName) const;
    // Requests the server answered (200) for these paths.
    int answered(const QStringList &paths) const;

    FaultServer m_server;
    const QByteArray m_canaryBytes = "hostile-canary: bytes only the canary file holds 91c4"_ba;
    std::vector<RowRun> m_rows;
    ConcurrentRuns m_runs;
};

QByteArray TestHostile::hostileValue(const RowRun &row, const FaultSite &site, Value value,
                                     const QString &longName) const
{
    const QString canary = row.parent->filePath(u"canary.txt"_s);
    switch (value) {
    case Value::DotDot: // from web/ or wek/ up to the canary beside the workspace
        return "../../../../canary.txt";
    case Value::AbsolutePath:
        return "/etc/passwd";
    case Value::FileScheme:
        return "file://" + canary.toUtf8();
    case Value::JavaScript:
        return "javascript:alert(document.cookie)";
    case Value::Nul:
        return "../x\0y/..\0/canary.htm"_ba;
    case Value::Long:
        return site.url(longName).toUtf8();
    }
    return {};
}

bool TestHostile::setUpRow(RowRun &row, int index, const HostileRow &spec)
{
    row.parent = std::make_unique<QTemporaryDir>();
    if (!row.parent->isValid())
        return false;
    QFile canary(row.parent->filePath(u"canary.txt"_s));
    if (!canary.open(QIODevice::WriteOnly) || canary.write(m_canaryBytes) != m_canaryBytes.size())
        return false;
    canary.close();

    FaultSite site{m_server, u"/h"_s + QString::number(index), {}, {}};
    const QString longName =
        QString(10000, u'a') + (spec.where == Where::Download ? u".png"_s : u".htm"_s);
    const QByteArray value = hostileValue(row, site, spec.value, longName);
    row.collected = spec.value == Value::Long;
    if (row.collected && spec.where == Where::Download) {
        m_server.setPage(site.path(longName), pictureBytes(index), "image/png"_ba);
        row.picturePaths << site.path(longName);
    } else if (row.collected) {
        m_server.setPage(site.path(longName), articlePage(site.title(9), QString()));
        row.pagePaths << site.path(longName);
    }

    QString ur;
    if (spec.where == Where::List) {
        QByteArray start = site.links({FaultSite::articleName(1)});
        start.replace("</body>", QByteArray("<a href=\"" + value + "\">hostile</a></body>"));
        m_server.setPage(site.path(u"index.htm"_s), start);
        site.page(1, articlePage(site.title(1), QString()));
        row.pagePaths << site.path(u"index.htm"_s) << site.path(FaultSite::articleName(1));
        ur = u"2|"_s + site.url(u"index.htm"_s) + u"|100|||||||"_s;
    } else {
        QByteArray page = articlePage(site.title(1), QString());
        page.replace("</body>", QByteArray("<div class=\"next\"><a href=\"" + value +
                                           "\">x</a></div></body>"));
        site.page(1, page);
        row.pagePaths << site.path(FaultSite::articleName(1));
        ur = u"1|"_s + site.url(u"art"_s) + u"|1|1|1|.htm"_s;
    }

    row.task = u"危险"_s + QString::number(index);
    const QString root = row.parent->filePath(u"ws"_s);
    const Workspace workspace(root);
    for (const QString &folder :
         QStringList{workspace.taskDir(row.task) + u"/data"_s, workspace.webDir(row.task),
                     workspace.wekDir(row.task)}) {
        if (!QDir().mkpath(folder))
            return false;
    }
    QFile taskFile(workspace.taskFile(row.task));
    const QByteArray taskText = hostileTask(ur, spec.where == Where::Page ? 2 : 0).toUtf8();
    if (!taskFile.open(QIODevice::WriteOnly) || taskFile.write(taskText) != taskText.size())
        return false;
    taskFile.close();

    row.before = fileTree(row.parent->path(), {u"ws/task/"_s + row.task});
    row.process = m_runs.start(
        QStringLiteral(CAIJI_BINARY),
        {u"run"_s, u"--workspace"_s, root, u"--tick-ms"_s, QString::number(TickMs), row.task});
    return true;
}

int TestHostile::answered(const QStringList &paths) const
{
    return int(
        std::count_if(m_server.requests().cbegin(), m_server.requests().cend(),
                      [&](const FaultServer::Request &r) { return paths.contains(r.path); }));
}

void TestHostile::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_server.listen());
    const QList<HostileRow> rows = hostileRows();
    m_rows.resize(rows.size());
    for (int i = 0; i < rows.size(); ++i)
        QVERIFY(setUpRow(m_rows[i], i, rows[i]));
    m_runs.waitAll(RunBoundMs);
}

void TestHostile::hostileLinks_data()
{
    QTest::addColumn<int>("row");
    const QList<HostileRow> rows = hostileRows();
    for (int i = 0; i < rows.size(); ++i)
        QTest::newRow(rows[i].name.toUtf8().constData()) << i;
}

void TestHostile::hostileLinks()
{
    QFETCH(int, row);
    const RowRun &r = m_rows.at(row);
    const Where where = hostileRows().at(row).where;
    const ProgramRun &run = m_runs.run(r.process);
    const Workspace workspace(r.parent->filePath(u"ws"_s));
    QVERIFY2(run.finished, "the run did not end by itself");
    const std::optional<QString> completeLine = completeLineIn(run.out, r.task);
    QVERIFY2(completeLine, run.out.right(1500).constData());

    // Nothing outside the task changed, and nothing from outside came in.
    QCOMPARE(fileTree(r.parent->path(), {u"ws/task/"_s + r.task}), r.before);
    QCOMPARE(filesHolding(workspace.root(), m_canaryBytes), QStringList());
    if (!passwdHead().isEmpty())
        QCOMPARE(filesHolding(workspace.root(), passwdHead()), QStringList());
    QCOMPARE(TempWorkspace::filesIn(workspace.webDir(r.task)), QStringList());
    for (const QString &name : TempWorkspace::filesIn(workspace.wekDir(r.task)))
        QVERIFY2(!name.endsWith(u".part"_s), qPrintable(name));

    const std::optional<QStringList> rows = databaseRows(workspace.databaseFile(r.task), 4);
    QVERIFY(rows);
    const std::optional<Tally> summary = summaryOf(run.out, r.task);
    QVERIFY2(summary, "no summary line");
    QCOMPARE(summary->stored, qint64(rows->size()));
    QCOMPARE(summary->refused, qint64(0));
    // Every page fetch the server answered succeeded; the others failed.
    QCOMPARE(summary->requested - summary->failed, qint64(answered(r.pagePaths)));
    QCOMPARE(summary->downloadsStored, qint64(answered(r.picturePaths)));
    const int failures = r.collected ? 0 : 1;
    switch (where) {
    case Where::Download:
        QCOMPARE(summary->toString(), (Tally{1, 0, 1, 0, 1 - failures, failures}).toString());
        break;
    case Where::Page:
        QCOMPARE(summary->toString(), (Tally{2, failures, 1 - failures, 0, 0, 0}).toString());
        break;
    case Where::List:
        QCOMPARE(summary->downloadsStored + summary->downloadsFailed, qint64(0));
        QVERIFY(summary->requested >= answered(r.pagePaths));
        break;
    }
    const bool anyFailed = summary->failed + summary->downloadsFailed > 0;
    QCOMPARE(run.exitCode, anyFailed ? 1 : 0);
    QVERIFY2(completeLine->endsWith(u"[采集完成]"_s), qPrintable(*completeLine));
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
