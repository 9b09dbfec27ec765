// Collecting again through the real program: a site that changes between two
// runs, the second with onlyNew. It fetches the list pages and only the pages
// whose records the database does not hold, the database holds each record
// once, and history and export name what the second run added.
#include "faultserver.h"
#include "programrun.h"
#include "records/recordstore.h"
#include "tempworkspace.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

constexpr int PerListPage = 3;

// A news site listing its articles newest first, three to a list page.
void serveNews(FaultServer &server, const QList<int> &articles, const QList<int> &broken)
{
    QList<int> newest = articles;
    std::sort(newest.rbegin(), newest.rend());
    for (qsizetype page = 0; page * PerListPage < newest.size(); ++page) {
        // The link to the next list page comes first: it is queued before
        // the articles show that nothing new follows.
        QByteArray list = "<html><body>";
        if ((page + 1) * PerListPage < newest.size())
            list += "<a href=/list/" + QByteArray::number(page + 2) + ".html>next</a>";
        for (int article : newest.mid(page * PerListPage, PerListPage))
            list += "<a href=/n/" + QByteArray::number(article) + ".html>article</a>";
        server.setPage(u"/list/%1.html"_s.arg(page + 1), list + "</body></html>");
    }
    // The blocks of a page of several records: one per article.
    QByteArray blocks = "<ul>";
    for (int article : articles) {
        // Long enough for a record of one field to be kept.
        const QByteArray title = "title" + QByteArray::number(article);
        server.setPage(u"/n/%1.html"_s.arg(article), "<h1>" + title + "</h1>");
        blocks += "<li>" + title + "</li>";
    }
    server.setPage(u"/blocks1.html"_s, blocks + "</ul>");
    for (int article : broken)
        server.setStatus(u"/n/%1.html"_s.arg(article), 404, "gone");
}

QString taskText(const QString &scheme, const FaultServer &server, int last)
{
    const QString oneRecord = u"<getm1>w1=[[1]]w2=[[0]]w3=[[1]]w4=[[<h1>^</h1>^<h1>^</h1>^-1^0]]"
                              "w5=[[0]]w7=[[0]]<getm1>"_s;
    if (scheme == u"two")
        return u"ur=[[2|%1|1000|/n/||/list/||0||]]uc=[[1]]"_s.arg(server.url(u"/list/1.html"_s)) +
               oneRecord;
    if (scheme == u"one")
        return u"ur=[[1|%1|1|%2|1|.html]]uc=[[1]]"_s.arg(server.url(u"/n/"_s)).arg(last) +
               oneRecord;
    return u"ur=[[1|%1|1|1|1|.html]]uc=[[1]]<getm1>w1=[[2]]w2=[[<ul>]]w3=[[<li>]]w4=[[</li>]]"
           "w5=[[1]]w6=[[<li>^</li>^-1^0]]w7=[[0]]<getm1>"_s.arg(server.url(u"/blocks"_s));
}

ProgramRun runCaiji(const QStringList &arguments)
{
    return runProgram(QStringLiteral(CAIJI_BINARY), arguments, 60000);
}

} // namespace

class TestOnlyNew : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void collectsAgain_data();
    void collectsAgain();
};

void TestOnlyNew::collectsAgain_data()
{
    QTest::addColumn<QString>("scheme");     // two: a crawl; one: a range; blocks: one page
    QTest::addColumn<QString>("settings");   // the task's data/settings.ini
    QTest::addColumn<QList<int>>("before");  // articles at the first run
    QTest::addColumn<QList<int>>("broken");  // of those, answering 404 then
    QTest::addColumn<int>("deleted");        // the article whose record the user deletes (0: none)
    QTest::addColumn<QList<int>>("after");   // articles at the second run
    QTest::addColumn<QList<int>>("fetched"); // content pages the second run asks for
    QTest::addColumn<int>("listPagesRead");  // by the second crawl (-1: all)
    QTest::addColumn<QStringList>("stored"); // every record after the second run
    QTest::addColumn<bool>("plainFirst");    // the first run a plain one, the second --only-new

    const QString onlyNew = u"[collect]\nonlyNew=true\n"_s;
    const QList<int> five{1, 2, 3, 4, 5};
    const QList<int> seven{1, 2, 3, 4, 5, 6, 7};
    QStringList t7;
    for (int article = 1; article <= 7; ++article)
        t7 << u"title%1"_s.arg(article);
    QTest::newRow("a crawl: only the new articles")
        << u"two"_s << onlyNew << five << QList<int>{} << 0 << seven << QList<int>{6, 7} << -1 << t7
        << false;
    QTest::newRow("a page that failed is tried again")
        << u"two"_s << onlyNew << five << QList<int>{3} << 0 << five << QList<int>{3} << -1
        << t7.mid(0, 5) << false;
    QTest::newRow("a record the user deleted is collected again")
        << u"two"_s << onlyNew << five << QList<int>{} << 4 << five << QList<int>{4} << -1
        << t7.mid(0, 5) << false;
    // Newest first: the first list page ends in two stored articles.
    QTest::newRow("stopAfterKnown reads one list page")
        << u"two"_s << onlyNew + u"stopAfterKnown=2\n"_s << five << QList<int>{} << 0
        << QList<int>{1, 2, 3, 4, 5, 6} << QList<int>{6} << 1 << t7.mid(0, 6) << false;
    QTest::newRow("a range that grows") << u"one"_s << onlyNew << five << QList<int>{} << 0 << seven
                                        << QList<int>{6, 7} << -1 << t7 << false;
    QTest::newRow("blocks of a page: each stored once")
        << u"blocks"_s << onlyNew << five << QList<int>{} << 0 << seven << QList<int>{} << -1 << t7
        << false;
    QTest::newRow("after a plain run") << u"two"_s << QString() << five << QList<int>{} << 0
                                       << seven << QList<int>{6, 7} << -1 << t7 << true;
}

void TestOnlyNew::collectsAgain()
{
    QFETCH(QString, scheme);
    QFETCH(QString, settings);
    QFETCH(QList<int>, before);
    QFETCH(QList<int>, broken);
    QFETCH(int, deleted);
    QFETCH(QList<int>, after);
    QFETCH(QList<int>, fetched);
    QFETCH(int, listPagesRead);
    QFETCH(QStringList, stored);
    QFETCH(bool, plainFirst);

    FaultServer server;
    QVERIFY(server.listen());
    TempWorkspace workspace;
    const auto setUp = [&](const QList<int> &articles, const QList<int> &failing) {
        serveNews(server, articles, failing);
        return workspace.addTask(u"新闻"_s, taskText(scheme, server, int(articles.size())));
    };
    QVERIFY(setUp(before, broken));
    QFile ini(workspace.taskDir(u"新闻"_s) + u"/data/settings.ini"_s);
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(settings.toUtf8()) >= 0);
    ini.close();
    const QStringList run{u"run"_s,       u"--workspace"_s, workspace.root(),
                          u"--tick-ms"_s, u"20"_s,          u"--quiet"_s};
    const ProgramRun first = runCaiji(run);
    QVERIFY2(first.finished, first.err.constData());
    const QString database = workspace.databaseFile(u"新闻"_s);
    if (deleted > 0) {
        const QStringList records = RecordStore::readAll(database, 1).value_or(QStringList());
        QVERIFY(RecordStore::remove(database, int(records.indexOf(u"^title%1"_s.arg(deleted)))));
    }

    QVERIFY(setUp(after, {}));
    QMap<QString, int> asked;
    for (const FaultServer::Request &request : server.requests())
        ++asked[request.path];
    const ProgramRun second = runCaiji(plainFirst ? run + QStringList{u"--only-new"_s} : run);
    QVERIFY2(second.finished && second.exitCode == 0 && second.err.isEmpty(),
             QByteArray(second.out + second.err).constData());
    for (int article : after) {
        const QString path = u"/n/%1.html"_s.arg(article);
        QCOMPARE(server.requestCount(path) - asked.value(path), fetched.contains(article) ? 1 : 0);
    }
    for (int page = 1; page <= (after.size() + PerListPage - 1) / PerListPage; ++page) {
        const QString path = u"/list/%1.html"_s.arg(page);
        if (scheme == u"two")
            QCOMPARE(server.requestCount(path) - asked.value(path),
                     listPagesRead < 0 || page <= listPagesRead ? 1 : 0);
    }

    QStringList records = RecordStore::readAll(database, 1).value_or(QStringList());
    for (QString &record : records)
        record.remove(0, 1);
    records.sort();
    QCOMPARE(records, stored);

    // The second run is named in the history with what it added, and
    // exported on its own.
    const QList<StoredRun> runs = RecordStore::runs(database).value_or(QList<StoredRun>());
    QCOMPARE(runs.size(), 2);
    const ProgramRun history =
        runCaiji({u"history"_s, u"--workspace"_s, workspace.root(), u"新闻"_s});
    const QStringList lines = QString::fromUtf8(history.out).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(
        lines.size() == 3 &&
            lines[1].startsWith(runs[1].name + u'\t' + QString::number(runs[1].added) + u'\t') &&
            lines[0].endsWith(u"\t当前数据库"_s) && lines[1].endsWith(u"\t当前库中的一次新增"_s),
        history.out.constData());
    const ProgramRun exported = runCaiji(
        {u"export"_s, u"--workspace"_s, workspace.root(), u"--run"_s, runs[1].name, u"新闻"_s});
    QCOMPARE(QString::fromUtf8(exported.out).count(u'\n') - 1, runs[1].added);
    QCOMPARE(runs[0].added + runs[1].added, qint64(stored.size()));
}

QTEST_GUILESS_MAIN(TestOnlyNew)
#include "tst_onlynew.moc"
