// The built program against a local web site: "caiji run" collects a
// scheme-one and a scheme-two task from pages in UTF-8, GBK and Big5, then
// the records, downloads and page folders are checked on disk; server faults,
// "caiji try", "caiji export" and bad arguments are run the same way.
#include "demosite/statichttpserver.h"
#include "engine/collectionengine.h"
#include "tempworkspace.h"
#include "text/names.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "programrun.h"
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

namespace {

const QString SchemeOne = u"一号任务"_s;
const QString SchemeTwo = u"二号任务"_s;
const QString Faults = u"三号任务"_s;
constexpr int RunTimeoutMs = 60000;

using Run = caiji::test::ProgramRun;

Run runCaiji(const QStringList &arguments, int timeoutMs = RunTimeoutMs)
{
    return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, timeoutMs);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList storedRecords(const QString &databaseFile)
{
    QStringList lines;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"endtoend"_s);
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(u"SELECT 字段1, 字段2, 字段3, 字段4 FROM data ORDER BY rowid"_s)) {
                while (query.next()) {
                    QString line;
                    for (int k = 0; k < 4; ++k)
                        line += u'^' + query.value(k).toString();
                    lines << line;
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(u"endtoend"_s);
    return lines;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Level 1 of every task: address, title, body and a picture to download.
QString taskText(const QString &ur)
{
    return u"ur=[["_s + ur + u"]]\r\nuc=[[4]]\r\n"_s +
           sectionText(1, {u"1"_s,
                           u"1"_s,
                           u"3"_s,
                           u"<title>^</title>^<title>^</title>^-1^0|"
                           u"<div class=\"body\">^</div>^<div class=\"body\">^</div>^-1^0|"
                           u"<div class=\"pic\">^</div>^src=\"^\"^0^0"_s,
                           u"0"_s,
                           {},
                           u"0"_s,
                           {}});
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void runExitsWhenAllComplete();
    void recordsStored_data();
    void recordsStored();
    void pictureDownloaded_data();
    void pictureDownloaded();
    void serverFaultsStoreNothingBad();
    void tryShowsLevelOne_data();
    void tryShowsLevelOne();
    void tryUnreachablePage();
    void tryChecksTheNextLevel_data();
    void tryChecksTheNextLevel();
    void tryLinks();
    void exportWritesCsv();
    void exportToFileAndUncollected();
    void badArguments_data();
    void badArguments();

private:
    QString pageUrl(const QString &name) const { return m_server.url(u'/' + name); }
    // The records of the three article pages, fetched under the given addresses.
    QStringList articleRecords(const QStringList &addresses) const;

    StaticHttpServer m_server;
    TempWorkspace m_workspace;
    Run m_run;
};

QStringList TestEndToEnd::articleRecords(const QStringList &addresses) const
{
    return {u"^"_s + addresses.value(0) + u"^第一条:UTF-8 新闻^正文 \"引号\" 和,逗号^"_s +
                name1(pageUrl(u"pic.png"_s)),
            u"^"_s + addresses.value(1) + u"^第二条新闻^简体中文内容^"_s,
            u"^"_s + addresses.value(2) + u"^第三條新聞^繁體中文內容^"_s};
}

void TestEndToEnd::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(CAIJI_BINARY)));
    QVERIFY(m_workspace.isValid());
    m_server.setRoot(QStringLiteral(CAIJI_TEST_DATA) + u"/site"_s);
    QVERIFY(m_server.listen());

    QVERIFY(
        m_workspace.addTask(SchemeOne, taskText(u"1|"_s + pageUrl(u"item"_s) + u"|1|3|1|.htm"_s)));
    QVERIFY(m_workspace.addTask(
        SchemeTwo, taskText(u"2|"_s + pageUrl(u"index.htm"_s) + u"|100|item||list||||"_s)));
    QVERIFY(
        m_workspace.addTask(Faults, taskText(u"1|"_s + pageUrl(u"fault"_s) + u"|1|6|1|.htm"_s)));

    m_run = runCaiji({u"run"_s, u"--workspace"_s, m_workspace.root(), u"--tick-ms"_s, u"20"_s,
                      SchemeOne, SchemeTwo});
}

void TestEndToEnd::runExitsWhenAllComplete()
{
    QVERIFY2(m_run.finished, m_run.err.constData());
    QCOMPARE(m_run.exitCode, 0);
    const QStringList lines = QString::fromUtf8(m_run.out).split(u'\n');
    for (const QString &name : {SchemeOne, SchemeTwo})
        QVERIFY(lines.contains(CollectionEngine::paddedName(name) +
                               CollectionEngine::completeMarker()));
    QVERIFY(lines.contains(CollectionEngine::paddedName(SchemeOne) +
                           u"[正在采集][方案一]目标6请求6完成4,文件1,记录3"_s));
    QVERIFY(
        !lines.contains(CollectionEngine::paddedName(Faults) + CollectionEngine::completeMarker()));
}

void TestEndToEnd::recordsStored_data()
{
    QTest::addColumn<QString>("task");
    QTest::newRow("scheme one") << SchemeOne;
    QTest::newRow("scheme two") << SchemeTwo;
}

void TestEndToEnd::recordsStored()
{
    QFETCH(QString, task);
    const QStringList expected =
        articleRecords({pageUrl(u"item1.htm"_s), pageUrl(u"item2.htm"_s), pageUrl(u"item3.htm"_s)});
    QCOMPARE(sorted(storedRecords(m_workspace.databaseFile(task))), sorted(expected));
    // Every page was read and deleted.
    QCOMPARE(TempWorkspace::filesIn(m_workspace.webDir(task)), QStringList());
}

void TestEndToEnd::pictureDownloaded_data()
{
    recordsStored_data();
}

void TestEndToEnd::pictureDownloaded()
{
    QFETCH(QString, task);
    const QString name = name1(pageUrl(u"pic.png"_s));
    QCOMPARE(TempWorkspace::filesIn(m_workspace.wekDir(task)), QStringList{name});
    QCOMPARE(fileBytes(m_workspace.wekDir(task) + u'/' + name),
             fileBytes(QStringLiteral(CAIJI_TEST_DATA) + u"/site/pic.png"_s));
}

void TestEndToEnd::serverFaultsStoreNothingBad()
{
    m_server.setStatus(u"/fault1.htm"_s, 404);
    m_server.setStatus(u"/fault2.htm"_s, 500);
    m_server.setDropConnection(u"/fault3.htm"_s);
    m_server.setRedirect(u"/fault4.htm"_s, u"/item2.htm"_s);
    m_server.setPage(u"/fault5.htm"_s,
                     fileBytes(QStringLiteral(CAIJI_TEST_DATA) + u"/site/item3.htm"_s));
    m_server.setDelay(u"/fault5.htm"_s, 300);
    m_server.setHugeBody(u"/fault6.htm"_s, 33 * 1024 * 1024); // past the page size cap

    // Ticks of 50 ms: the slow page stays well inside the stall window.
    const Run run =
        runCaiji({u"run"_s, u"--workspace"_s, m_workspace.root(), u"--tick-ms"_s, u"50"_s, Faults});
    QVERIFY2(run.finished, run.err.constData());
    // Four of the six pages failed, and the run says so.
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains(QStringLiteral("页面请求6,失败4,记录存储2,被拒0").toUtf8()),
             run.out.constData());
    for (int n = 1; n <= 6; ++n)
        QVERIFY(m_server.requestCount(u"/fault"_s + QString::number(n) + u".htm"_s) >= 1);
    QCOMPARE(m_server.requestCount(u"/item2.htm"_s) >= 1, true);

    const QStringList records =
        articleRecords({QString(), pageUrl(u"fault4.htm"_s), pageUrl(u"fault5.htm"_s)}).mid(1);
    QCOMPARE(sorted(storedRecords(m_workspace.databaseFile(Faults))), sorted(records));
    QCOMPARE(TempWorkspace::filesIn(m_workspace.webDir(Faults)), QStringList());
    QCOMPARE(TempWorkspace::filesIn(m_workspace.wekDir(Faults)), QStringList());

    // The run's failures are listed with their reasons.
    const Run failures =
        runCaiji({u"failures"_s, u"--json"_s, u"--workspace"_s, m_workspace.root(), Faults});
    QCOMPARE(failures.exitCode, 0);
    QStringList listed;
    for (const QJsonValue &failure : QJsonDocument::fromJson(failures.out).array())
        listed << failure[u"address"_s].toString().section(u'/', -1) + u' ' +
                      failure[u"reason"_s].toString();
    listed.sort();
    QCOMPARE(listed.size(), 4);
    QCOMPARE(listed[0], u"fault1.htm HTTP 404"_s);
    QCOMPARE(listed[1], u"fault2.htm HTTP 500"_s);
    QVERIFY2(listed[3].startsWith(u"fault6.htm 超过大小上限"_s), qPrintable(listed.join(u'\n')));
    QVERIFY2(run.out.contains(QStringLiteral("；失败原因：").toUtf8()), run.out.constData());
}

void TestEndToEnd::tryShowsLevelOne_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("line");
    const QString picture = pageUrl(u"pic.png"_s);
    const QStringList records =
        articleRecords({pageUrl(u"item1.htm"_s), pageUrl(u"item2.htm"_s), pageUrl(u"item3.htm"_s)});
    QTest::newRow("utf-8 with a picture")
        << u"item1.htm"_s << u"0|"_s + picture + u'|' + records[0];
    QTest::newRow("gbk") << u"item2.htm"_s << u"0||"_s + records[1];
    QTest::newRow("big5") << u"item3.htm"_s << u"0||"_s + records[2];
}

void TestEndToEnd::tryShowsLevelOne()
{
    QFETCH(QString, page);
    QFETCH(QString, line);
    const Run run = runCaiji(
        {u"try"_s, u"--json"_s, u"--workspace"_s, m_workspace.root(), SchemeOne, pageUrl(page)});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    const QJsonObject explanation = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(explanation[u"yielded"_s].toBool(), true);
    QCOMPARE(explanation[u"fetch"_s].toString(), u"HTTP 200"_s);
    const QJsonArray records = explanation[u"records"_s].toArray();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0][u"outcome"_s].toString(), u"queued"_s);
    QCOMPARE(records[0][u"line"_s].toString(), line);
}

void TestEndToEnd::tryUnreachablePage()
{
    const Run run = runCaiji(
        {u"try"_s, u"--workspace"_s, m_workspace.root(), SchemeOne, pageUrl(u"missing.htm"_s)});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains("HTTP 404"), run.err.constData());
}

void TestEndToEnd::tryChecksTheNextLevel_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // the first line, or a line of the output
    QTest::newRow("the next level is there")
        << u"item1.htm"_s << 0
        << u"下一层：第2层页面 "_s + pageUrl(u"item1.htm"_s) + u" 可以取得"_s;
    QTest::newRow("the next level answers 404")
        << u"missing.htm"_s << 1 << u"需要修改：第2层页面取不到：HTTP 404"_s;
}

void TestEndToEnd::tryChecksTheNextLevel()
{
    QFETCH(QString, href);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    // Level 1 cuts one address and goes on with it to level 2.
    const QString task = u"下一层"_s;
    QVERIFY(m_workspace.addTask(
        task,
        u"ur=[[1|x|1|1|1|]]uc=[[2]]"_s +
            sectionText(
                1,
                {u"1"_s, u"1"_s, u"1"_s, u"<a ^</a>^href=\"^\"^2^0"_s, u"0"_s, {}, u"0"_s, {}})));
    const QString page = m_workspace.root() + u"/list.htm"_s;
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html><body><a href=\"" + href.toUtf8() + "\">next</a></body></html>");
    file.close();
    const Run run = runCaiji({u"try"_s, u"--workspace"_s, m_workspace.root(), task, u"--file"_s,
                              page, u"--url"_s, pageUrl(u"list.htm"_s)});
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.contains(says.toUtf8()), run.out.constData());
}

void TestEndToEnd::tryLinks()
{
    // The start page of the scheme-two task: a list page, an article, a link
    // off the site and a picture.
    const Run run =
        runCaiji({u"try"_s, u"--links"_s, u"--workspace"_s, m_workspace.root(), SchemeTwo});
    QCOMPARE(run.exitCode, 0);
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(out.startsWith(u"没有问题：有内容页链接\n共4个链接：内容页收1个，列表页收1个"_s),
             qPrintable(out));
    QVERIFY2(
        out.contains(u"list2.htm “下一页”\n  内容页：不收，第3部分要求含有“item”\n  列表页：收"_s),
        qPrintable(out));
    QVERIFY2(
        out.contains(
            u"item1.htm “第一条 UTF-8 新闻”\n  内容页：收\n  列表页：不收，第5部分要求含有“list”"_s),
        qPrintable(out));
    QVERIFY2(out.contains(u"“外站新闻”\n  内容页：不收，不在起始页所在的网站，或不是网页"_s),
             qPrintable(out));
}

void TestEndToEnd::exportWritesCsv()
{
    const Run run = runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), SchemeOne});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith("\xEF\xBB\xBF"));
    QStringList lines = QString::fromUtf8(run.out.mid(3)).split(u"\r\n"_s);
    QCOMPARE(lines.takeFirst(), u"字段1,字段2,字段3,字段4"_s);
    QCOMPARE(lines.takeLast(), QString()); // every row ends in CR LF
    const QString picture = name1(pageUrl(u"pic.png"_s));
    const QStringList expected{pageUrl(u"item1.htm"_s) +
                                   u",第一条:UTF-8 新闻,\"正文 \"\"引号\"\" 和,逗号\","_s + picture,
                               pageUrl(u"item2.htm"_s) + u",第二条新闻,简体中文内容,"_s,
                               pageUrl(u"item3.htm"_s) + u",第三條新聞,繁體中文內容,"_s};
    QCOMPARE(sorted(lines), sorted(expected));
}

void TestEndToEnd::exportToFileAndUncollected()
{
    const QString out = m_workspace.root() + u"/out.csv"_s;
    const Run run =
        runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), SchemeTwo, u"--out"_s, out});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.isEmpty());
    const QByteArray csv = fileBytes(out);
    QVERIFY(csv.startsWith("\xEF\xBB\xBF字段1,字段2,字段3,字段4\r\n"_ba));
    QCOMPARE(csv.count("\r\n"), 4);

    QVERIFY(m_workspace.addTask(u"未采集"_s, taskText(u"1|x|1|1|1|"_s)));
    const Run never = runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), u"未采集"_s});
    QVERIFY(never.finished);
    QCOMPARE(never.exitCode, 2);
    QVERIFY(QString::fromUtf8(never.err).contains(u"该任务尚未采集!"_s));
}

void TestEndToEnd::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString w = m_workspace.root();
    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s};
    QTest::newRow("unknown option") << QStringList{u"run"_s, u"--bogus"_s, u"1"_s};
    QTest::newRow("tick 0") << QStringList{u"run"_s, u"--workspace"_s, w, u"--tick-ms"_s, u"0"_s};
    QTest::newRow("tick not a number")
        << QStringList{u"run"_s, u"--workspace"_s, w, u"--tick-ms"_s, u"fast"_s};
    QTest::newRow("option without value") << QStringList{u"run"_s, u"--workspace"_s};
    QTest::newRow("missing workspace")
        << QStringList{u"run"_s, u"--workspace"_s, w + u"/nowhere"_s};
    QTest::newRow("unknown task") << QStringList{u"run"_s, u"--workspace"_s, w, u"没有"_s};
    QTest::newRow("try without url") << QStringList{u"try"_s, u"--workspace"_s, w, SchemeOne};
    QTest::newRow("export without task") << QStringList{u"export"_s, u"--workspace"_s, w};
    QTest::newRow("export two tasks")
        << QStringList{u"export"_s, u"--workspace"_s, w, SchemeOne, SchemeTwo};
    QTest::newRow("links with one argument") << QStringList{u"links"_s, u"http://a/"_s};
    QTest::newRow("htm2txt unreadable") << QStringList{u"htm2txt"_s, w + u"/nothing.htm"_s};
}

void TestEndToEnd::badArguments()
{
    QFETCH(QStringList, arguments);
    const Run run = runCaiji(arguments, 10000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.startsWith("caiji: "));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
