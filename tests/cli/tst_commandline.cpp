// The command line of the built program, run as a separate process: output
// as UTF-8, exit codes, and one line on stderr for every usage error.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "programrun.h"
#include "tempworkspace.h"

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void helpExitsZero();
    void htm2txtPrintsUtf8_data();
    void htm2txtPrintsUtf8();
    void usageErrors_data();
    void usageErrors();
    void runOutput_data();
    void runOutput();
    void examplesCopied();
};

namespace {

using Result = caiji::test::ProgramRun;

Result runCaiji(const QStringList &arguments, const QString &locale = {})
{
    QProcessEnvironment environment;
    if (!locale.isEmpty()) {
        environment.insert(u"LC_ALL"_s, locale);
        environment.insert(u"LANG"_s, locale);
    }
    return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, 30000, environment);
}

QString fixture(const QString &relative)
{
    return QStringLiteral(CAIJI_TEST_DATA) + u'/' + relative;
}

} // namespace

void TestCommandLine::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
}

void TestCommandLine::helpExitsZero()
{
    const QStringList commands = {u"run"_s,    u"try"_s,      u"links"_s,
                                  u"export"_s, u"history"_s,  u"failures"_s,
                                  u"count"_s,  u"examples"_s, u"htm2txt"_s};
    for (const QString &option : {u"--help"_s, u"-h"_s, u"help"_s}) {
        const Result result = runCaiji({option});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("Usage: caiji"));
        for (const QString &command : commands)
            QVERIFY2(result.out.contains(QByteArray("\n  " + command.toUtf8() + ' ')),
                     qPrintable(command));
        QCOMPARE(result.err, QByteArray());
    }
    // Every command explains itself, and its usage line names it.
    for (const QString &command : commands) {
        for (const QString &option : {u"--help"_s, u"-h"_s}) {
            const Result result = runCaiji({command, option});
            QCOMPARE(result.exitCode, 0);
            QVERIFY2(result.out.startsWith(QByteArray("Usage: caiji " + command.toUtf8())),
                     result.out.constData());
            QVERIFY(result.out.contains("-h, --help"));
        }
    }
    const Result version = runCaiji({u"--version"_s});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, "caiji 3.4\n"_ba);
}

void TestCommandLine::htm2txtPrintsUtf8_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");

    QTest::newRow("gb2312 page") << u"readtext/gb2312.html"_s << u"信息采集测试\r\n"_s;
    QTest::newRow("big5 page") << u"readtext/big5.html"_s << u"繁體中文測試\r\n"_s;
    QTest::newRow("utf-8 page with BOM") << u"readtext/utf8-bom.html"_s << u"信息采集测试\r\n"_s;
    QTest::newRow("short file: nothing") << u"readtext/nine.txt"_s << QString();
}

void TestCommandLine::htm2txtPrintsUtf8()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    const Result result = runCaiji({u"htm2txt"_s, fixture(file)});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, text.toUtf8());
    QCOMPARE(result.err, QByteArray());
    // UTF-8 whatever the locale says.
    const Result plainLocale = runCaiji({u"htm2txt"_s, fixture(file)}, u"C"_s);
    QCOMPARE(plainLocale.exitCode, 0);
    QCOMPARE(plainLocale.out, text.toUtf8());
}

void TestCommandLine::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s};
    QTest::newRow("unknown command with a file")
        << QStringList{u"frobnicate"_s, fixture(u"readtext/ten.txt"_s)};
    QTest::newRow("htm2txt without FILE") << QStringList{u"htm2txt"_s};
    QTest::newRow("htm2txt with two files") << QStringList{
        u"htm2txt"_s, fixture(u"readtext/ten.txt"_s), fixture(u"readtext/nine.txt"_s)};
    QTest::newRow("htm2txt missing file")
        << QStringList{u"htm2txt"_s, fixture(u"readtext/no-such-file.html"_s)};
    QTest::newRow("htm2txt on a folder") << QStringList{u"htm2txt"_s, fixture(u"readtext"_s)};
}

void TestCommandLine::usageErrors()
{
    QFETCH(QStringList, arguments);
    const Result result = runCaiji(arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.startsWith("caiji: "), result.err.constData());
    QVERIFY2(result.err.endsWith('\n'), result.err.constData());
    QCOMPARE(result.err.count('\n'), 1);
}

void TestCommandLine::runOutput_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("status lines and a waiting line") << false;
    QTest::newRow("--quiet: the summary only") << true;
}

void TestCommandLine::runOutput()
{
    QFETCH(bool, quiet);
    // A task that starts and then has nothing to do waits 21 ticks.
    caiji::test::TempWorkspace workspace;
    QVERIFY(workspace.addTask(u"空任务"_s, u"ur=[[1|http://127.0.0.1:9/p|1|0|1|]]uc=[[1]]"_s));
    QStringList arguments{u"run"_s, u"--workspace"_s, workspace.root(), u"--tick-ms"_s, u"20"_s};
    if (quiet)
        arguments << u"--quiet"_s;
    const Result result = runCaiji(arguments);
    QCOMPARE(result.exitCode, 0);
    const QStringList lines = QString::fromUtf8(result.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.last(), u"汇总 空任务: 页面请求0,失败0,记录存储0,被拒0,下载存储0,下载失败0"_s);
    if (quiet) {
        QCOMPARE(lines.size(), 1);
        return;
    }
    const QStringList waiting = lines.filter(u"[等待]"_s);
    QCOMPARE(waiting.size(), 1);
    QVERIFY2(waiting[0].contains(u"仍没有进展就结束本任务"_s), qPrintable(waiting[0]));
    QVERIFY(lines.filter(u"[采集完成]"_s).size() == 1);
}

void TestCommandLine::examplesCopied()
{
    caiji::test::TempWorkspace workspace;
    QVERIFY(workspace.addTask(u"新闻-方案一"_s, u"ur=[[0]]uc=[[1]]"_s)); // one of the same name
    const Result first = runCaiji({u"examples"_s, u"--workspace"_s, workspace.root()});
    QCOMPARE(first.exitCode, 0);
    const QString out = QString::fromUtf8(first.out);
    QVERIFY2(out.contains(u"新闻-方案一\tkept"_s), qPrintable(out));
    QVERIFY(out.contains(u"新闻-方案二\tcopied"_s));
    QVERIFY(out.contains(u"列表-多记录\tcopied"_s));
    QVERIFY(QFile::exists(workspace.root() + u"/task/新闻-方案二/data/task.txt"_s));
    QVERIFY(QFile::exists(workspace.root() + u"/task/n.jpg"_s));
    QVERIFY(!QFile::exists(workspace.root() + u"/task/新闻-方案二/web/.keep"_s));
    // The task that was there keeps its definition.
    QFile kept(workspace.root() + u"/task/新闻-方案一/data/task.txt"_s);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), "ur=[[0]]uc=[[1]]"_ba);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
