// The shipped demo: the demo-site server and "caiji run" as separate
// processes on a copy of the sample workspace, then every task's database,
// downloads and page folder are checked against what the site generator
// writes for article N (UTF-8, GBK and Big5 pages alike).
#include "text/names.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include "programrun.h"

using namespace Qt::StringLiterals;

namespace {

const QString ListTask = u"列表-多记录"_s;
const QString SchemeOne = u"新闻-方案一"_s;
const QString SchemeTwo = u"新闻-方案二"_s;
constexpr int Articles = 100;
constexpr int RunTimeoutMs = 120000;

// The site generator's word lists; articles with N % 10 == 7 use the
// traditional ones.
const QStringList Topics{u"科技"_s, u"教育"_s, u"体育"_s, u"文化"_s, u"经济"_s,
                         u"健康"_s, u"旅游"_s, u"环境"_s, u"农业"_s, u"交通"_s};
const QStringList Places{u"北京"_s, u"上海"_s, u"广州"_s, u"杭州"_s, u"成都"_s,
                         u"西安"_s, u"南京"_s, u"武汉"_s, u"长沙"_s, u"青岛"_s};
const QStringList Verbs{u"举办"_s, u"发布"_s, u"启动"_s, u"完成"_s, u"推出"_s,
                        u"召开"_s, u"开展"_s, u"建成"_s, u"迎来"_s, u"实施"_s};
const QStringList Things{u"创新大会"_s,   u"年度报告"_s, u"志愿活动"_s, u"公共图书馆"_s,
                         u"新能源项目"_s, u"健康讲座"_s, u"摄影展览"_s, u"植树计划"_s,
                         u"丰收节"_s,     u"地铁新线"_s};
const QStringList TopicsT{u"科技"_s, u"教育"_s, u"體育"_s, u"文化"_s, u"經濟"_s,
                          u"健康"_s, u"旅遊"_s, u"環境"_s, u"農業"_s, u"交通"_s};
const QStringList PlacesT{u"北京"_s, u"上海"_s, u"廣州"_s, u"杭州"_s, u"成都"_s,
                          u"西安"_s, u"南京"_s, u"武漢"_s, u"長沙"_s, u"青島"_s};
const QStringList VerbsT{u"舉辦"_s, u"發佈"_s, u"啟動"_s, u"完成"_s, u"推出"_s,
                         u"召開"_s, u"開展"_s, u"建成"_s, u"迎來"_s, u"實施"_s};
const QStringList ThingsT{u"創新大會"_s,   u"年度報告"_s, u"志願活動"_s, u"公共圖書館"_s,
                          u"新能源項目"_s, u"健康講座"_s, u"攝影展覽"_s, u"植樹計劃"_s,
                          u"豐收節"_s,     u"地鐵新線"_s};

bool traditional(int n)
{
    return n % 10 == 7;
}

QString titleOf(int n)
{
    const int i = n - 1;
    const bool t = traditional(n);
    return (t ? PlacesT : Places)[i % 10] + (t ? VerbsT : Verbs)[(i / 10) % 10] +
           (t ? ThingsT : Things)[(i * 3) % 10] + u"（第"_s + QString::number(n) + u"期）"_s;
}

QString dateOf(int n)
{
    return u"2026-%1-%2"_s.arg((n - 1) / 28 + 1, 2, 10, QChar(u'0'))
        .arg((n - 1) % 28 + 1, 2, 10, QChar(u'0'));
}

QString topicOf(int n)
{
    return (traditional(n) ? TopicsT : Topics)[(n - 1) % 10];
}

// The three paragraphs of article N's body, without their markup.
QStringList paragraphsOf(int n)
{
    const bool t = traditional(n);
    const QString reporter = Places[(n + 3) % 10].left(1);
    const QString units = QString::number(n * 7 % 90 + 10);
    if (t)
        return {u"本報訊 "_s + dateOf(n) + u"，"_s + titleOf(n) +
                    u"。活動吸引了眾多市民參加，現場氣氛熱烈。"_s,
                u"主辦方表示，本次活動圍繞"_s + topicOf(n) + u"主題展開，共有"_s + units +
                    u"個單位參與，今後還將定期舉辦。"_s,
                u"記者 王"_s + reporter + u"明 報道"_s};
    return {u"本报讯 "_s + dateOf(n) + u"，"_s + titleOf(n) +
                u"。活动吸引了众多市民参加，现场气氛热烈。"_s,
            u"主办方表示，本次活动围绕"_s + topicOf(n) + u"主题展开，共有"_s + units +
                u"个单位参与，今后还将定期举办。"_s,
            u"记者 王"_s + reporter + u"明 报道"_s};
}

QString sourceOf(int n)
{
    return Places[(n + 5) % 10] + u"日报"_s;
}

QString siteDir()
{
    return QStringLiteral(CAIJI_EXAMPLES) + u"/demo-site"_s;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(source);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target))
            return false;
    }
    return true;
}

bool replaceInFile(const QString &path, const QByteArray &before, const QByteArray &after)
{
    QByteArray bytes = fileBytes(path);
    if (!bytes.contains(before))
        return false;
    bytes.replace(before, after);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Names of the visible files in a folder (the placeholder ".keep" is hidden).
QStringList visibleFiles(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files);
}

using Run = caiji::test::ProgramRun;

Run runCaiji(const QStringList &arguments, int timeoutMs)
{
    return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, timeoutMs);
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void siteHasTheDeclaredEncodings_data();
    void siteHasTheDeclaredEncodings();
    void runCompletesEveryTask();
    void everyTaskStoresAHundred_data();
    void everyTaskStoresAHundred();
    void listTaskRecords();
    void schemeOneRecords_data();
    void schemeOneRecords();
    void schemeOneAllArticles();
    void schemeTwoRecords_data();
    void schemeTwoRecords();
    void schemeTwoAllPictures();
    void countPrintsAHundred();

private:
    QString base() const { return u"http://127.0.0.1:"_s + m_port; }
    QString taskDir(const QString &task) const { return m_dir.path() + u"/task/"_s + task; }
    QString database(const QString &task) const { return taskDir(task) + u"/data/data.mdb"_s; }
    // One row per record as its values; keyed by the value in `keyColumn`.
    QMap<QString, QStringList> records(const QString &task, int keyColumn);
    qint64 recordCount(const QString &task);

    QProcess m_server;
    QString m_port;
    QTemporaryDir m_dir;
    Run m_run;
};

QMap<QString, QStringList> TestDemo::records(const QString &task, int keyColumn)
{
    QMap<QString, QStringList> rows;
    const QString connection = u"demo-records-"_s + task;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(database(task));
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(u"SELECT * FROM data ORDER BY rowid"_s)) {
                while (query.next()) {
                    QStringList values;
                    for (int k = 0; k < query.record().count(); ++k)
                        values << query.value(k).toString();
                    rows.insert(values.value(keyColumn), values);
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return rows;
}

qint64 TestDemo::recordCount(const QString &task)
{
    qint64 count = -1;
    const QString connection = u"demo-count-"_s + task;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(database(task));
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(u"SELECT COUNT(*) FROM data"_s) && query.next())
                count = query.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return count;
}

void TestDemo::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_DEMO_SITE)), CAIJI_DEMO_SITE);
    QVERIFY(m_dir.isValid());

    m_server.start(QStringLiteral(CAIJI_DEMO_SITE), {u"--port"_s, u"0"_s, siteDir()});
    QVERIFY(m_server.waitForStarted(10000));
    for (int i = 0; i < 100 && !m_server.canReadLine(); ++i)
        m_server.waitForReadyRead(100);
    QVERIFY2(m_server.canReadLine(), m_server.readAllStandardError().constData());
    m_port = QString::fromLatin1(m_server.readLine().trimmed());
    bool ok = false;
    const uint port = m_port.toUInt(&ok);
    QVERIFY2(ok && port > 0 && port < 65536, qPrintable(m_port));

    QVERIFY(copyTree(QStringLiteral(CAIJI_EXAMPLES) + u"/workspace"_s, m_dir.path()));
    for (const QString &task : {ListTask, SchemeOne, SchemeTwo}) {
        QVERIFY2(replaceInFile(taskDir(task) + u"/data/task.txt"_s, "127.0.0.1:8391",
                               "127.0.0.1:" + m_port.toLatin1()),
                 qPrintable(task));
    }

    m_run =
        runCaiji({u"run"_s, u"--workspace"_s, m_dir.path(), u"--tick-ms"_s, u"20"_s}, RunTimeoutMs);
}

void TestDemo::cleanupTestCase()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

void TestDemo::siteHasTheDeclaredEncodings_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("declared");
    QTest::addColumn<bool>("validUtf8");

    QTest::newRow("utf-8 article 1") << 1 << "charset=utf-8"_ba << true;
    QTest::newRow("gbk article 3") << 3 << "charset=gb2312"_ba << false;
    QTest::newRow("big5 article 7") << 7 << "charset=big5"_ba << false;
    QTest::newRow("gbk article 93") << 93 << "charset=gb2312"_ba << false;
}

// The collection checks below only prove the decoding if the pages really
// are in the legacy encodings.
void TestDemo::siteHasTheDeclaredEncodings()
{
    QFETCH(int, n);
    QFETCH(QByteArray, declared);
    QFETCH(bool, validUtf8);
    const QByteArray page = fileBytes(siteDir() + u"/news/"_s + QString::number(n) + u".html"_s);
    QVERIFY(page.contains(declared));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(page);
    QCOMPARE(!utf8.hasError(), validUtf8);
    if (!validUtf8)
        QVERIFY(!decoded.contains(titleOf(n)));
}

void TestDemo::runCompletesEveryTask()
{
    QVERIFY2(m_run.finished, m_run.err.constData());
    QCOMPARE(m_run.exitCode, 0);
    const QString out = QString::fromUtf8(m_run.out);
    for (const QString &task : {ListTask, SchemeOne, SchemeTwo}) {
        const QRegularExpression done(u"^"_s + QRegularExpression::escape(task) +
                                          u"\\s+\\[采集完成\\]$"_s,
                                      QRegularExpression::MultilineOption);
        QVERIFY2(done.match(out).hasMatch(), qPrintable(task));
    }
}

void TestDemo::everyTaskStoresAHundred_data()
{
    QTest::addColumn<QString>("task");
    QTest::addColumn<int>("fields");
    QTest::addColumn<int>("downloads");

    QTest::newRow("list pages, ten records each") << ListTask << 3 << 0;
    QTest::newRow("scheme one with attachments") << SchemeOne << 5 << Articles;
    QTest::newRow("scheme two with pictures") << SchemeTwo << 6 << Articles;
}

void TestDemo::everyTaskStoresAHundred()
{
    QFETCH(QString, task);
    QFETCH(int, fields);
    QFETCH(int, downloads);
    QCOMPARE(recordCount(task), qint64(Articles));
    const QMap<QString, QStringList> rows = records(task, 0);
    QCOMPARE(rows.size(), Articles); // no record stored twice
    QCOMPARE(rows.first().size(), fields);
    // Fetched pages are read and deleted; only finished downloads stay.
    QCOMPARE(QDir(taskDir(task) + u"/web"_s)
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(visibleFiles(taskDir(task) + u"/wek"_s).size(), downloads);
}

void TestDemo::listTaskRecords()
{
    const QMap<QString, QStringList> rows = records(ListTask, 0);
    QCOMPARE(rows.size(), Articles);
    QCOMPARE(rows.value(u"广州举办摄影展览（第3期）"_s),
             (QStringList{u"广州举办摄影展览（第3期）"_s, u"2026-01-03"_s,
                          u"体育：广州举办摄影展览（第3期）。"_s}));
    QCOMPARE(rows.value(u"南京舉辦豐收節（第7期）"_s),
             (QStringList{u"南京舉辦豐收節（第7期）"_s, u"2026-01-07"_s,
                          u"旅遊：南京舉辦豐收節（第7期）。"_s}));
    for (int n = 1; n <= Articles; ++n) {
        const QString title = titleOf(n);
        QCOMPARE(rows.value(title),
                 (QStringList{title, dateOf(n), topicOf(n) + u"："_s + title + u"。"_s}));
    }
}

void TestDemo::schemeOneRecords_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");

    QTest::newRow("utf-8 first") << 1 << u"北京举办创新大会（第1期）"_s << u"2026-01-01"_s;
    QTest::newRow("gbk") << 3 << u"广州举办摄影展览（第3期）"_s << u"2026-01-03"_s;
    QTest::newRow("big5, traditional") << 7 << u"南京舉辦豐收節（第7期）"_s << u"2026-01-07"_s;
    QTest::newRow("big5, third month") << 57 << u"南京召開豐收節（第57期）"_s << u"2026-03-01"_s;
    QTest::newRow("gbk, last month") << 93 << u"广州实施摄影展览（第93期）"_s << u"2026-04-09"_s;
    QTest::newRow("utf-8 last") << 100 << u"青岛实施植树计划（第100期）"_s << u"2026-04-16"_s;
}

void TestDemo::schemeOneRecords()
{
    QFETCH(int, n);
    QFETCH(QString, title);
    QFETCH(QString, date);
    QCOMPARE(titleOf(n), title);
    QCOMPARE(dateOf(n), date);

    const QString url = base() + u"/news/"_s + QString::number(n) + u".html"_s;
    const QStringList row = records(SchemeOne, 0).value(url);
    QCOMPARE(row.size(), 5);
    QCOMPARE(row[1], title);
    QCOMPARE(row[2], date);
    const QString body = row[3];
    QVERIFY2(!body.contains(u'<') && !body.contains(u'>'), qPrintable(body));
    for (const QString &paragraph : paragraphsOf(n))
        QVERIFY2(body.contains(paragraph), qPrintable(body + u" / "_s + paragraph));

    const QString attachment =
        u"http♀3♀2♀2127.0.0.1♀3"_s + m_port + u"♀2files♀2"_s + QString::number(n) + u".txt"_s;
    QCOMPARE(row[4], attachment);
    const QByteArray stored = fileBytes(taskDir(SchemeOne) + u"/wek/"_s + attachment);
    QCOMPARE(QString::fromUtf8(stored),
             u"第"_s + QString::number(n) + u"篇文章的附件："_s + title + u'\n');
}

void TestDemo::schemeOneAllArticles()
{
    const QMap<QString, QStringList> rows = records(SchemeOne, 0);
    for (int n = 1; n <= Articles; ++n) {
        const QString url = base() + u"/news/"_s + QString::number(n) + u".html"_s;
        const QStringList row = rows.value(url);
        QVERIFY2(row.size() == 5, qPrintable(url));
        QCOMPARE(row[1], titleOf(n));
        QCOMPARE(row[2], dateOf(n));
        QVERIFY2(row[3].contains(paragraphsOf(n).constFirst()), qPrintable(row[3]));
        const QString attachment =
            caiji::name1(base() + u"/files/"_s + QString::number(n) + u".txt"_s);
        QCOMPARE(row[4], attachment);
        QCOMPARE(fileBytes(taskDir(SchemeOne) + u"/wek/"_s + attachment),
                 fileBytes(siteDir() + u"/files/"_s + QString::number(n) + u".txt"_s));
    }
}

void TestDemo::schemeTwoRecords_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("source");

    QTest::newRow("utf-8") << 1 << u"北京举办创新大会（第1期）"_s << u"来源：南京日报"_s;
    QTest::newRow("gbk") << 3 << u"广州举办摄影展览（第3期）"_s << u"来源：长沙日报"_s;
    QTest::newRow("big5") << 7 << u"南京舉辦豐收節（第7期）"_s << u"来源：广州日报"_s;
    QTest::newRow("big5 from list page 2")
        << 17 << u"南京發佈豐收節（第17期）"_s << u"来源：广州日报"_s;
    QTest::newRow("last") << 100 << u"青岛实施植树计划（第100期）"_s << u"来源：西安日报"_s;
}

void TestDemo::schemeTwoRecords()
{
    QFETCH(int, n);
    QFETCH(QString, title);
    QFETCH(QString, source);
    QCOMPARE(titleOf(n), title);
    QCOMPARE(u"来源："_s + sourceOf(n), source);

    const QString url = base() + u"/news/"_s + QString::number(n) + u".html"_s;
    const QStringList row = records(SchemeTwo, 0).value(url);
    QCOMPARE(row.size(), 6);
    QCOMPARE(row[1], title);
    QCOMPARE(row[2], dateOf(n));
    QCOMPARE(row[3], base() + u"/news/"_s + QString::number(n) + u"/detail.html"_s);
    QCOMPARE(row[4], source);
    QCOMPARE(row[5],
             u"http♀3♀2♀2127.0.0.1♀3"_s + m_port + u"♀2img♀2"_s + QString::number(n) + u".png"_s);
    const QByteArray picture = fileBytes(taskDir(SchemeTwo) + u"/wek/"_s + row[5]);
    QVERIFY(picture.startsWith("\x89PNG\r\n\x1a\n"_ba));
    QCOMPARE(picture, fileBytes(siteDir() + u"/img/"_s + QString::number(n) + u".png"_s));
}

void TestDemo::schemeTwoAllPictures()
{
    const QMap<QString, QStringList> rows = records(SchemeTwo, 0);
    for (int n = 1; n <= Articles; ++n) {
        const QString url = base() + u"/news/"_s + QString::number(n) + u".html"_s;
        const QStringList row = rows.value(url);
        QVERIFY2(row.size() == 6, qPrintable(url));
        QCOMPARE(row[1], titleOf(n));
        QCOMPARE(row[4], u"来源："_s + sourceOf(n));
        QCOMPARE(row[5], caiji::name1(base() + u"/img/"_s + QString::number(n) + u".png"_s));
        QCOMPARE(fileBytes(taskDir(SchemeTwo) + u"/wek/"_s + row[5]),
                 fileBytes(siteDir() + u"/img/"_s + QString::number(n) + u".png"_s));
    }
}

void TestDemo::countPrintsAHundred()
{
    const Run run = runCaiji({u"count"_s, u"--workspace"_s, m_dir.path()}, 30000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QStringList lines = QString::fromUtf8(run.out).split(u'\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines,
             (QStringList{ListTask + u"\t100"_s, SchemeOne + u"\t100"_s, SchemeTwo + u"\t100"_s}));
}

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
