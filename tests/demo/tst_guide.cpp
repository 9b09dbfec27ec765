// The user guide's examples, run against the demo site: every ```task block
// of docs/帮助.md is tried with "caiji try --json" on the page its "# 试用"
// line names and/or collected with "caiji run", and must yield what its other
// "# " lines say. The help document built from the guide must join wrapped
// Chinese lines without a space.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <optional>

#include "programrun.h"
#include "tempworkspace.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int TryTimeoutMs = 60000;
constexpr int RunTimeoutMs = 120000;

QString guidePath()
{
    return QStringLiteral(CAIJI_DOCS) + u"/帮助.md"_s;
}

QString readUtf8(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What an example says it yields: "# 键：值" lines, in order.
QList<std::pair<QString, QString>> claimsOf(const QString &example)
{
    static const QRegularExpression claim(u"^# ([^：]+)：(.*)$"_s);
    QList<std::pair<QString, QString>> claims;
    for (const QString &line : example.split(u'\n')) {
        const QRegularExpressionMatch match = claim.match(line);
        if (match.hasMatch())
            claims.append({match.captured(1), match.captured(2)});
    }
    return claims;
}

// Line breaks shown as caiji try shows them.
QString shownBreaks(QString text)
{
    return text.replace(u"\r\n"_s, u"↵"_s).replace(u'\n', u'↵').replace(u'\r', u'↵');
}

// A queue entry whose level reads as 0 (or not as a number) is a record the
// collector stores as it hands the entry out.
std::optional<QString> storedFromEntry(const QString &entry)
{
    bool number = false;
    const double level = entry.section(u'|', 0, 0).trimmed().toDouble(&number);
    if (number && level != 0)
        return std::nullopt;
    return entry.section(u'|', 2);
}

// Ideographs, CJK and full-width punctuation, and the quotes and dashes
// Chinese text shares with Western text.
bool isCjk(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x3000 && u <= 0x303F) || (u >= 0x3400 && u <= 0x9FFF) ||
           (u >= 0xFF00 && u <= 0xFFEF) || (u >= 0x2018 && u <= 0x201F) || u == 0x2014 ||
           u == 0x2026;
}

// Characters as md2rtf writes them: "\uN?" for all beyond ASCII.
QString rtfEscaped(QStringView text)
{
    QString out;
    for (const QChar c : text)
        out += u"\\u"_s + QString::number(qint16(c.unicode())) + u'?';
    return out;
}

} // namespace

class TestGuide : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void examples_data();
    void examples();
    void chineseLinesJoinWithoutSpace();
    void everyCommandHasARow();

private:
    void tryExample(const QString &task, const QList<std::pair<QString, QString>> &claims);
    void runExample(const QString &task, const QList<std::pair<QString, QString>> &claims);
    QStringList storedLines(const QString &task);

    QProcess m_site;
    QString m_port;
    caiji::test::TempWorkspace m_workspace;
};

void TestGuide::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
    QVERIFY(m_workspace.isValid());
    m_site.start(QStringLiteral(CAIJI_DEMO_SITE),
                 {u"--port"_s, u"0"_s, QStringLiteral(CAIJI_EXAMPLES) + u"/demo-site"_s});
    QVERIFY(m_site.waitForStarted(10000));
    for (int i = 0; i < 100 && !m_site.canReadLine(); ++i)
        m_site.waitForReadyRead(100);
    m_port = QString::fromLatin1(m_site.readLine().trimmed());
    QVERIFY2(m_port.toUInt() > 0, m_site.readAllStandardError().constData());
}

void TestGuide::cleanupTestCase()
{
    m_site.kill();
    m_site.waitForFinished(5000);
}

void TestGuide::examples_data()
{
    QTest::addColumn<QString>("example");
    const QStringList lines = readUtf8(guidePath()).split(u'\n');
    int found = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() != u"```task")
            continue;
        QStringList block;
        qsizetype j = i + 1;
        for (; j < lines.size() && !lines[j].startsWith(u"```"); ++j)
            block << lines[j];
        QTest::addRow("example at line %d", int(i + 1)) << block.join(u'\n') + u'\n';
        ++found;
        i = j;
    }
    if (found == 0)
        QTest::newRow("no examples in the guide") << QString();
}

void TestGuide::examples()
{
    QFETCH(QString, example);
    // The examples name the demo site's usual port; ours is a free one.
    example.replace(u"127.0.0.1:8391"_s, u"127.0.0.1:"_s + m_port)
        .replace(u"127.0.0.1♀38391"_s, u"127.0.0.1♀3"_s + m_port);
    const QList<std::pair<QString, QString>> claims = claimsOf(example);
    QStringList keys;
    for (const auto &[key, value] : claims)
        keys << key;
    static const QRegularExpression known(
        u"^(试用(第\\d+层)?|存入|排队|丢弃|记录数|提示|采集汇总|采集记录)$"_s);
    for (const QString &key : keys)
        QVERIFY2(known.match(key).hasMatch(), qPrintable(u"unknown claim # "_s + key));
    // A claim without the try or the run it is about would go unchecked.
    const qsizetype tries = keys.filter(QRegularExpression(u"^试用"_s)).size();
    const bool collected = keys.contains(u"采集汇总"_s);
    QVERIFY2(tries <= 1, "an example is tried on one page");
    QVERIFY2(tries == 1 ||
                 keys.filter(QRegularExpression(u"^(存入|排队|丢弃|记录数|提示)$"_s)).isEmpty(),
             "claims about a try need a # 试用 line");
    QVERIFY2(collected || !keys.contains(u"采集记录"_s), "# 采集记录 needs # 采集汇总");
    QVERIFY2(tries == 1 || collected, "an example needs a # 试用 or a # 采集汇总 line");

    const QString task = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    QVERIFY(m_workspace.addTask(task, example));
    if (tries == 1)
        tryExample(task, claims);
    if (collected && !QTest::currentTestFailed())
        runExample(task, claims);
}

void TestGuide::tryExample(const QString &task, const QList<std::pair<QString, QString>> &claims)
{
    QStringList arguments{u"try"_s, u"--workspace"_s, m_workspace.root(), u"--json"_s, task};
    QStringList stored, queued, dropped, hints;
    int expectedCount = -1;
    for (const auto &[key, value] : claims) {
        static const QRegularExpression tryLine(u"^试用(?:第(\\d+)层)?$"_s);
        if (const QRegularExpressionMatch match = tryLine.match(key); match.hasMatch()) {
            if (match.hasCaptured(1))
                arguments << u"--level"_s << match.captured(1);
            arguments << value;
        } else if (key == u"存入") {
            stored << value;
        } else if (key == u"排队") {
            queued << value;
        } else if (key == u"丢弃") {
            dropped << value;
        } else if (key == u"提示") {
            hints << value;
        } else if (key == u"记录数") {
            expectedCount = value.toInt();
        }
    }
    QVERIFY2(!stored.isEmpty() || !queued.isEmpty() || !dropped.isEmpty() || !hints.isEmpty() ||
                 expectedCount >= 0,
             "# 试用 needs a claim about what the page yields");

    const caiji::test::ProgramRun run =
        caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, TryTimeoutMs);
    QVERIFY2(run.finished && (run.exitCode == 0 || run.exitCode == 1), run.err.constData());
    const QJsonObject trace = QJsonDocument::fromJson(run.out).object();
    QVERIFY2(!trace.isEmpty(), run.out.constData());

    const QString firstProblem = trace.value(u"firstProblem").toString();
    if (hints.isEmpty())
        QVERIFY2(firstProblem.isEmpty(), qPrintable(u"caiji try says: "_s + firstProblem));
    for (const QString &hint : hints)
        QVERIFY2(firstProblem.contains(hint), qPrintable(firstProblem + u" / "_s + hint));

    QStringList storedLines, queuedLines, reasons;
    for (const QJsonValue &value : trace.value(u"records").toArray()) {
        const QJsonObject record = value.toObject();
        const QString outcome = record.value(u"outcome").toString();
        const QString line = shownBreaks(record.value(u"line").toString());
        if (outcome == u"stored") {
            storedLines << line;
        } else if (outcome == u"queued") {
            queuedLines << line;
            if (const std::optional<QString> recordLine = storedFromEntry(line))
                storedLines << *recordLine;
        } else {
            reasons << record.value(u"reason").toString();
        }
    }
    // Stored records in the order the page yields them.
    qsizetype next = 0;
    for (const QString &line : stored) {
        next = storedLines.indexOf(line, next) + 1;
        QVERIFY2(next > 0, qPrintable(u"not stored: "_s + line + u"\nstored: "_s +
                                      storedLines.join(u"\n        "_s)));
    }
    for (const QString &line : queued)
        QVERIFY2(queuedLines.contains(line), qPrintable(queuedLines.join(u'\n')));
    for (const QString &reason : dropped) {
        QVERIFY2(reasons.filter(reason).size() > 0,
                 qPrintable(u"no record dropped for "_s + reason + u": "_s + reasons.join(u'/')));
    }
    if (expectedCount >= 0)
        QCOMPARE(storedLines.size(), expectedCount);
}

void TestGuide::runExample(const QString &task, const QList<std::pair<QString, QString>> &claims)
{
    const caiji::test::ProgramRun run = caiji::test::runProgram(
        QStringLiteral(CAIJI_BINARY),
        {u"run"_s, u"--workspace"_s, m_workspace.root(), u"--tick-ms"_s, u"20"_s, task},
        RunTimeoutMs);
    QVERIFY2(run.finished, run.err.constData());
    const QString out = QString::fromUtf8(run.out);
    const QString prefix = u"汇总 "_s + task + u": "_s;
    const qsizetype at = out.indexOf(prefix);
    QVERIFY2(at >= 0, run.out.constData());
    const QString summary = out.mid(at).section(u'\n', 0, 0);
    // Exit status 1 tells that something failed or a task did not start.
    static const QRegularExpression failed(u"(失败|被拒)[1-9]|未启动"_s);
    QCOMPARE(run.exitCode, failed.match(summary).hasMatch() ? 1 : 0);

    const QStringList stored = storedLines(task);
    for (const auto &[key, value] : claims) {
        if (key == u"采集汇总")
            QVERIFY2(summary.contains(value), qPrintable(summary + u" / "_s + value));
        if (key == u"采集记录")
            QVERIFY2(stored.contains(value),
                     qPrintable(value + u"\nstored: "_s + stored.join(u"\n        "_s)));
    }
}

// The task's records as record lines; columns the record did not fill
// (NULL) are not part of its line.
QStringList TestGuide::storedLines(const QString &task)
{
    QStringList lines;
    const QString connection = u"guide-"_s + task;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(m_workspace.databaseFile(task));
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        QSqlQuery query(db);
        if (db.open() && query.exec(u"SELECT * FROM data ORDER BY rowid"_s)) {
            while (query.next()) {
                QString line;
                for (int k = 0; k < query.record().count() && !query.isNull(k); ++k)
                    line += u'^' + query.value(k).toString();
                lines << shownBreaks(line);
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return lines;
}

// Where a paragraph or list item of the guide wraps between two Chinese
// characters, the RTF holds the characters around the break side by side.
void TestGuide::chineseLinesJoinWithoutSpace()
{
    const QString rtf = readUtf8(QStringLiteral(CAIJI_BUILD_ROOT) + u"/帮助.doc"_s);
    QVERIFY(rtf.startsWith(u"{\\rtf1"));
    const QStringList lines = readUtf8(guidePath()).split(u'\n');
    static const QRegularExpression tail(u"[^\\x00-\\x7f]{1,4}$"_s);
    static const QRegularExpression head(u"^[^\\x00-\\x7f]{1,4}"_s);
    static const QRegularExpression notProse(u"^(#|\\||```|\\s*$)"_s);
    bool inCode = false;
    int joins = 0;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(u"```"))
            inCode = !inCode;
        const QString next = lines[i + 1].trimmed();
        if (inCode || notProse.match(lines[i]).hasMatch() ||
            notProse.match(lines[i + 1]).hasMatch() || next.startsWith(u"- ") ||
            next.contains(QRegularExpression(u"^\\d+\\. "_s)))
            continue;
        const QString before = tail.match(lines[i].trimmed()).captured();
        const QString after = head.match(next).captured();
        if (before.isEmpty() || after.isEmpty() || !isCjk(before.back()) || !isCjk(after.front()))
            continue;
        ++joins;
        QVERIFY2(
            rtf.contains(rtfEscaped(before) + rtfEscaped(after)),
            qPrintable(u"a space where line %1 wraps: "_s.arg(i + 1) + before + u" / "_s + after));
    }
    QVERIFY(joins > 0);
    // No Markdown mark is left over, also where code sits inside bold.
    QVERIFY(!rtf.contains(u'`') && !rtf.contains(u"**"_s));
}

// Every command `caiji --help` lists has a row in the command table of the
// guide's chapter on the command line.
void TestGuide::everyCommandHasARow()
{
    const caiji::test::ProgramRun run =
        caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), {u"--help"_s}, TryTimeoutMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.err.constData());
    // "  NAME    what it does"; option lines start with "-", wrapped ones with more blanks.
    static const QRegularExpression commandLine(u"^  ([a-z][a-z0-9]*) {2,}\\S"_s);
    QStringList commands;
    for (const QString &line : QString::fromUtf8(run.out).split(u'\n')) {
        if (const QRegularExpressionMatch match = commandLine.match(line); match.hasMatch())
            commands << match.captured(1);
    }
    QVERIFY2(commands.size() >= 10, run.out.constData());

    const QString guide = readUtf8(guidePath());
    static const QRegularExpression heading(u"^## [一二三四五六七八九十]+、命令行$"_s,
                                            QRegularExpression::MultilineOption);
    const qsizetype start = guide.indexOf(heading);
    QVERIFY2(start >= 0, "no chapter on the command line");
    const qsizetype end = guide.indexOf(u"\n## "_s, start);
    const QString chapter = guide.mid(start, end < 0 ? -1 : end - start);
    for (const QString &command : std::as_const(commands)) {
        const QRegularExpression row(u"^\\| `caiji "_s + command + u"[ `]"_s,
                                     QRegularExpression::MultilineOption);
        QVERIFY2(chapter.contains(row), qPrintable(u"no row for caiji "_s + command));
    }
}

QTEST_GUILESS_MAIN(TestGuide)
#include "tst_guide.moc"
