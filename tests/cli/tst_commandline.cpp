// The command line of the built program, run as a separate process: output
// as UTF-8, exit codes, one line on stderr for every usage error, and its
// messages and help in the locale's language.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "faultserver.h"
#include "programrun.h"
#include "tasks/taskfile.h"
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
    void refusedBeforeItStarts_data();
    void refusedBeforeItStarts();
    void examplesCopied();
    void messagesFollowLocale_data();
    void messagesFollowLocale();
    void helpFitsInBothLanguages();
};

namespace {

using Result = caiji::test::ProgramRun;

Result runCaiji(const QStringList &arguments, const QString &locale = {},
                const QString &language = {})
{
    QProcessEnvironment environment;
    if (!locale.isEmpty()) {
        environment.insert(u"LC_ALL"_s, locale);
        environment.insert(u"LANG"_s, locale);
        environment.insert(u"LANGUAGE"_s, language); // empty counts as unset
    }
    // No window: `caiji` with only the window's options collects instead.
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.insert(name, QString());
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
    QTest::newRow("--version with an argument") << QStringList{u"--version"_s, u"extra"_s};
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
    QTest::newRow("status lines and the quiet end") << false;
    QTest::newRow("--quiet: the summary only") << true;
}

void TestCommandLine::runOutput()
{
    QFETCH(bool, quiet);
    // The task stores its first page, then waits for a server that never
    // answers the second until 21 quiet ticks end it.
    caiji::test::FaultServer server;
    QVERIFY(server.listen());
    server.setPage(u"/1.html"_s, "<title>t</title>");
    server.setSilent(u"/2.html"_s);
    caiji::test::TempWorkspace workspace;
    QVERIFY(
        workspace.addTask(u"慢"_s, u"ur=[[1|%1|1|2|1|.html]]uc=[[1]]"_s.arg(server.url(u"/"_s))));
    QStringList arguments{u"run"_s, u"--workspace"_s, workspace.root(), u"--tick-ms"_s, u"20"_s};
    if (quiet)
        arguments << u"--quiet"_s;
    const Result result = runCaiji(arguments);
    QCOMPARE(result.exitCode, 1);
    const QStringList lines = QString::fromUtf8(result.out).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(lines.last().startsWith(u"汇总 慢: 页面请求2,失败1,记录存储1,"_s));
    if (quiet) {
        QCOMPARE(lines.size(), 1);
        return;
    }
    // The notice comes when the task has really stood still, right before it
    // is declared complete, with the ticks that are really left.
    const QString notice =
        u"[等待] 3个周期没有进展；再过18个周期（约0.4秒）仍没有进展就结束本任务"_s;
    const qsizetype complete = lines.indexOf(QRegularExpression(u".*\\[采集完成\\]$"_s));
    QVERIFY2(complete >= 2 && lines.filter(u"[等待]"_s).size() == 1 &&
                 lines[complete - 1].endsWith(notice) &&
                 lines[complete - 2].contains(u"完成1,文件0,记录1"_s),
             qPrintable(lines.join(u'\n')));
}

void TestCommandLine::refusedBeforeItStarts_data()
{
    QTest::addColumn<QByteArray>("settings"); // data/settings.ini
    QTest::addColumn<QString>("proxy");       // http_proxy
    QTest::addColumn<QString>("said");
    QTest::newRow("a [publish] url of no database")
        << "[publish]\nurl=pg://caiji@db/news\n"_ba << QString()
        << u"settings.ini 的 [publish] 中 url=pg://caiji@db/news：数据库地址应以postgresql://"_s;
    QTest::newRow("http_proxy of a scheme no proxy speaks")
        << QByteArray() << u"ftp://127.0.0.1:21"_s
        << u"环境变量 http_proxy=ftp://127.0.0.1:21：不支持的代理协议“ftp”"_s;
    QTest::newRow("Chinese in userAgent")
        << "[network]\nuserAgent=采集器/1\n"_ba << QString()
        << u"settings.ini 的 [network] 中 userAgent=采集器/1：HTTP请求头的值只能用ASCII字符"_s;
    QTest::newRow("Chinese in a header")
        << "[network]\nheaders=Referer: http://a.cn/新闻\n"_ba << QString()
        << u"settings.ini 的 [network] 中 headers：Referer的值“http://a.cn/新闻”：HTTP请求头的值只能用"_s;
}

void TestCommandLine::refusedBeforeItStarts()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, proxy);
    QFETCH(QString, said);
    caiji::test::FaultServer server;
    QVERIFY(server.listen());
    caiji::test::TempWorkspace workspace;
    QVERIFY(
        workspace.addTask(u"设错"_s, u"ur=[[1|%1|1|2|1|.html]]uc=[[1]]"_s.arg(server.url(u"/"_s))));
    QFile ini(workspace.taskDir(u"设错"_s) + u"/data/settings.ini"_s);
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(settings) >= 0);
    ini.close();
    QProcessEnvironment environment;
    if (!proxy.isEmpty())
        environment.insert(u"http_proxy"_s, proxy);
    const Result result = caiji::test::runProgram(
        QStringLiteral(CAIJI_BINARY),
        {u"run"_s, u"--workspace"_s, workspace.root(), u"--tick-ms"_s, u"20"_s, u"设错"_s}, 30000,
        environment);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(QString::fromUtf8(result.err).contains(u"设错: 未启动："_s + said),
             result.err.constData());
    QVERIFY(server.requests().isEmpty());
    QVERIFY(!QFile::exists(workspace.databaseFile(u"设错"_s)));
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

void TestCommandLine::messagesFollowLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("language"); // LANGUAGE
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // the start of stdout, or else of stderr

    const QString zh = u"zh_CN.UTF-8"_s;
    const QString c = u"C"_s;
    const QStringList unknown{u"frobnicate"_s};
    QTest::newRow("zh: unknown command")
        << zh << QString() << unknown << 2
        << u"caiji: 未知的命令：frobnicate（参见 caiji --help）\n"_s;
    QTest::newRow("C: unknown command")
        << c << QString() << unknown << 2
        << u"caiji: unknown command: frobnicate (see caiji --help)\n"_s;
    QTest::newRow("C: an unknown option before the command")
        << c << QString() << QStringList{u"--bogus"_s, u"count"_s} << 2
        << u"caiji: Unknown option 'bogus'. (see caiji --help)\n"_s;
    // The window's options before a command; an empty workspace says how to fill it.
    const QString tasks = QStringLiteral(CAIJI_SOURCE_DIR) + u"/examples/workspace"_s;
    const QString empty = fixture(u"readtext"_s);
    QTest::newRow("C: --workspace=DIR before the command")
        << c << QString() << QStringList{u"--workspace="_s + tasks, u"count"_s} << 0
        << u"列表-多记录\t0\n"_s;
    QTest::newRow("C: the command's own --workspace wins")
        << c << QString()
        << QStringList{u"--workspace"_s, u"/nonexistent"_s, u"count"_s, u"--workspace"_s, tasks}
        << 0 << u"列表-多记录\t0\n"_s;
    QTest::newRow("C: count in an empty workspace")
        << c << QString() << QStringList{u"count"_s, u"--workspace"_s, empty} << 0
        << u"caiji: the workspace %1 has no tasks yet; `caiji examples --workspace %1` copies"_s
               .arg(empty);
    QTest::newRow("C: no display, an empty workspace")
        << c << QString() << QStringList{u"--tick-ms"_s, u"20"_s, u"--workspace"_s, empty} << 0
        << u"caiji: no display, collecting without a window (caiji run)\n"
           "caiji: the workspace %1 has no tasks yet"_s.arg(empty);
    QTest::newRow("zh_TW is Chinese too")
        << u"zh_TW.UTF-8"_s << QString() << unknown << 2 << u"caiji: 未知的命令"_s;
    QTest::newRow("LANGUAGE first: Chinese over en_US")
        << u"en_US.UTF-8"_s << u"zh_CN:en"_s << unknown << 2 << u"caiji: 未知的命令"_s;
    QTest::newRow("LANGUAGE is ignored under C")
        << c << u"zh_CN"_s << unknown << 2 << u"caiji: unknown command"_s;
    QTest::newRow("other languages: English")
        << u"de_DE.UTF-8"_s << QString() << unknown << 2 << u"caiji: unknown command"_s;
    // Qt's own parser messages come from Qt's translation.
    QTest::newRow("zh: the parser's message")
        << zh << QString() << QStringList{u"run"_s, u"--bogus"_s} << 2
        << u"caiji: 未知选项“bogus”。（参见 caiji run --help）\n"_s;
    QTest::newRow("C: the parser's message")
        << c << QString() << QStringList{u"run"_s, u"--bogus"_s} << 2
        << u"caiji: Unknown option 'bogus'. (see caiji run --help)\n"_s;
    QTest::newRow("zh: a number out of range")
        << zh << QString() << QStringList{u"try"_s, u"--level"_s, u"0"_s, u"t"_s, u"u"_s} << 2
        << u"caiji: --level 需要 1 到 %1 之间的数\n"_s.arg(caiji::MaxLevel);
    QTest::newRow("zh: no workspace")
        << zh << QString() << QStringList{u"count"_s, u"--workspace"_s, u"/nonexistent"_s} << 2
        << u"caiji: 找不到工作目录：/nonexistent\n"_s;
    QTest::newRow("zh: program help")
        << zh << QString() << QStringList{u"--help"_s} << 0
        << u"用法：caiji [--workspace DIR] [--tick-ms N]\n  或：caiji [--workspace DIR] COMMAND"_s;
    QTest::newRow("C: program help")
        << c << QString() << QStringList{u"--help"_s} << 0
        << u"Usage: caiji [--workspace DIR] [--tick-ms N]\n  or:  caiji [--workspace DIR] COMMAND"_s;
    QTest::newRow("zh: command help")
        << zh << QString() << QStringList{u"links"_s, u"--help"_s} << 0
        << u"用法：caiji links START-URL FILE\n输出已保存的列表页 FILE 中"_s;
    QTest::newRow("C: command help") << c << QString() << QStringList{u"links"_s, u"--help"_s} << 0
                                     << u"Usage: caiji links START-URL FILE\nPrints"_s;
    // Data stays as it is: the version line is the same in every language.
    QTest::newRow("zh: version") << zh << QString() << QStringList{u"--version"_s} << 0
                                 << u"caiji 3.4\n"_s;
}

void TestCommandLine::messagesFollowLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, language);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const Result result = runCaiji(arguments, locale, language);
    QCOMPARE(result.exitCode, exitCode);
    const QString shown = QString::fromUtf8(result.out.isEmpty() ? result.err : result.out);
    QVERIFY2(shown.startsWith(expected), qPrintable(shown));
    if (exitCode == 2)
        QCOMPARE(result.out, QByteArray());
}

void TestCommandLine::helpFitsInBothLanguages()
{
    // Chinese characters take two columns; every help line fits 78, and the
    // Chinese help carries no English sentence left untranslated.
    const QList<QStringList> helps = {{u"--help"_s},           {u"run"_s, u"--help"_s},
                                      {u"try"_s, u"--help"_s}, {u"export"_s, u"--help"_s},
                                      {u"history"_s, u"-h"_s}, {u"examples"_s, u"-h"_s}};
    const QRegularExpression englishWords(u"\\b(the|of|and|to|when|with)\\b"_s);
    for (const QString &locale : {u"C"_s, u"zh_CN.UTF-8"_s}) {
        for (const QStringList &arguments : helps) {
            const Result result = runCaiji(arguments, locale);
            QCOMPARE(result.exitCode, 0);
            for (const QString &line : QString::fromUtf8(result.out).split(u'\n')) {
                int columns = 0;
                for (const QChar ch : line)
                    columns += ch.unicode() >= 0x2e80 ? 2 : 1;
                QVERIFY2(columns <= 78, qPrintable(locale + u": "_s + line));
                if (locale != u"C")
                    QVERIFY2(!line.contains(englishWords), qPrintable(line));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
