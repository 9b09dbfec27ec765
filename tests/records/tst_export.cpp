// Records written as CSV and as Excel workbooks, each read back: the CSV by a
// strict RFC 4180 reader, the workbook by unzipping its XML parts. Both the
// functions and the "caiji export" command on a real record database, also
// on a full disk and at 150,000 records.
#include "records/csvexport.h"
#include "records/recordstore.h"
#include "records/runhistory.h"
#include "records/xlsxexport.h"
#include "smalldisk.h"
#include "tasks/taskfolders.h"
#include "tempworkspace.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include "programrun.h"
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

using Rows = QList<QStringList>;

namespace {

const QByteArray Bom = "\xEF\xBB\xBF";
const QString Collected = u"已采集"_s;
const QString NeverRun = u"未采集"_s;
const QString Big = u"大"_s;  // 200 records of 1 KB
const QString Huge = u"巨"_s; // 150,000 records of 2 KB

// The records of the collected task: commas, quotes, line breaks, Chinese, a
// line shorter than the four columns (stored as NULLs) and empty values.
const QStringList StoredLines{u"^http://a/1.html^标题,逗号^他说\"好\"^第一行\n第二行"_s,
                              u"^http://a/2.html^短记录"_s, u"^^^^"_s,
                              u"^http://a/3.html^\x01控制\x0b字符^a\tb^c\r\nd"_s};
const Rows StoredValues{
    {u"http://a/1.html"_s, u"标题,逗号"_s, u"他说\"好\""_s, u"第一行\n第二行"_s},
    {u"http://a/2.html"_s, u"短记录"_s, QString(), QString()},
    {QString(), QString(), QString(), QString()},
    {u"http://a/3.html"_s, u"\x01控制\x0b字符"_s, u"a\tb"_s, u"c\r\nd"_s}};

QStringList header(int fieldCount)
{
    QStringList names;
    for (int i = 1; i <= fieldCount; ++i)
        names << u"字段"_s + QString::number(i);
    return names;
}

// Strict RFC 4180: every row ends in CR LF, a field is either plain (no
// comma, quote or line break) or quoted with doubled inner quotes. Anything
// else is malformed and gives nothing.
std::optional<Rows> parseCsv(const QString &text)
{
    Rows rows;
    QStringList row;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        QString field;
        if (text[i] == u'"') {
            for (++i;; ++i) {
                if (i >= n)
                    return std::nullopt;
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        field += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i];
            }
        } else {
            for (; i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n'; ++i) {
                if (text[i] == u'"')
                    return std::nullopt;
                field += text[i];
            }
        }
        row << field;
        if (i < n && text[i] == u',') {
            ++i;
            continue;
        }
        if (text.mid(i, 2) != u"\r\n")
            return std::nullopt;
        rows << row;
        row.clear();
        i += 2;
    }
    if (!row.isEmpty())
        return std::nullopt;
    return rows;
}

// The rows of a CSV file after its byte-order mark; nothing when the mark is
// missing or the text is malformed.
std::optional<Rows> readCsv(const QByteArray &bytes)
{
    if (!bytes.startsWith(Bom))
        return std::nullopt;
    return parseCsv(QString::fromUtf8(bytes.mid(Bom.size())));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray unzipEntry(const QString &zip, const QString &entry)
{
    QProcess unzip;
    unzip.start(u"unzip"_s, {u"-p"_s, zip, entry});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0)
        return {};
    return unzip.readAllStandardOutput();
}

// Cell text as Excel reads it: "_xHHHH_" is the character HHHH.
QString decodeEscapes(const QString &text)
{
    static const QRegularExpression escape(u"_x([0-9A-Fa-f]{4})_"_s);
    QString decoded;
    qsizetype from = 0;
    for (auto it = escape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        decoded += QStringView(text).mid(from, match.capturedStart() - from);
        decoded += QChar(char16_t(match.captured(1).toUShort(nullptr, 16)));
        from = match.capturedEnd();
    }
    return decoded + QStringView(text).mid(from);
}

// The cells of the first sheet by reference ("A1"), shared strings resolved.
QMap<QString, QString> sheetCells(const QString &xlsx)
{
    QStringList shared;
    QXmlStreamReader strings(unzipEntry(xlsx, u"xl/sharedStrings.xml"_s));
    while (!strings.atEnd()) {
        strings.readNext();
        if (strings.isStartElement() && strings.name() == u"si")
            shared << QString();
        else if (strings.isStartElement() && strings.name() == u"t" && !shared.isEmpty())
            shared.last() += strings.readElementText();
    }
    QMap<QString, QString> cells;
    QXmlStreamReader sheet(unzipEntry(xlsx, u"xl/worksheets/sheet1.xml"_s));
    QString ref;
    QString type;
    while (!sheet.atEnd()) {
        sheet.readNext();
        if (!sheet.isStartElement())
            continue;
        if (sheet.name() == u"c") {
            ref = sheet.attributes().value(u"r"_s).toString();
            type = sheet.attributes().value(u"t"_s).toString();
        } else if (sheet.name() == u"v") {
            const QString v = sheet.readElementText();
            cells.insert(ref, decodeEscapes(type == u"s" ? shared.value(v.toInt()) : v));
        } else if (sheet.name() == u"t" && type == u"inlineStr") {
            cells.insert(ref, decodeEscapes(sheet.readElementText()));
        }
    }
    return cells;
}

using Run = caiji::test::ProgramRun;

Run runCaiji(const QStringList &arguments, int timeoutMs = 30000)
{
    return caiji::test::runProgram(QStringLiteral(CAIJI_BINARY), arguments, timeoutMs);
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void csvFromRecordLines_data();
    void csvFromRecordLines();
    void csvExportCommand();
    void excelSafe_data();
    void excelSafe();
    void xlsxFromRecordLines();
    void xlsxLongCell_data();
    void xlsxLongCell();
    void xlsxUnwritablePath();
    void xlsxExportCommand();
    void badArguments_data();
    void badArguments();
    void columnsFromDatabase_data();
    void columnsFromDatabase();
    void fullDisk_data();
    void fullDisk();
    void peakMemory_data();
    void peakMemory();

private:
    QString out(const QString &name) const { return m_out.filePath(name); }

    TempWorkspace m_workspace;
    QTemporaryDir m_out;
};

void TestExport::initTestCase()
{
    QVERIFY2(QFile::exists(QStringLiteral(CAIJI_BINARY)), CAIJI_BINARY);
    QVERIFY(m_workspace.isValid() && m_out.isValid());
    QVERIFY(m_workspace.addTask(Collected, u"uc=[[4]]\n"_s));
    QVERIFY(m_workspace.addTask(NeverRun, u"uc=[[4]]\n"_s));
    QVERIFY(m_workspace.addTask(Big, u"uc=[[2]]\n"_s) &&
            m_workspace.addTask(Huge, u"uc=[[2]]\n"_s));
    RecordStore big;
    QVERIFY(big.create(m_workspace.databaseFile(Big), 2));
    for (int i = 0; i < 200; ++i)
        QVERIFY(big.append(u"^http://a/"_s + QString::number(i) + u'^' + QString(1000, u'x')));
    RecordStore huge;
    QVERIFY(huge.create(m_workspace.databaseFile(Huge), 2));
    huge.close();
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"huge"_s);
    db.setDatabaseName(m_workspace.databaseFile(Huge));
    // One statement is one transaction, so this takes a second.
    QVERIFY(db.open() &&
            QSqlQuery(db).exec(u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 150000) INSERT INTO data SELECT 'http://a/' || i || "
                               "'.html', i || replace(hex(zeroblob(660)), '00', '长') FROM n"_s));

    RecordStore store;
    QVERIFY(store.create(m_workspace.databaseFile(Collected), 4));
    for (const QString &line : StoredLines)
        QVERIFY(store.append(line));
    store.close();

    // The short record really holds NULLs, not empty texts.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"export-check"_s);
        db.setDatabaseName(m_workspace.databaseFile(Collected));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(u"SELECT 字段3 FROM data WHERE 字段2 = '短记录'"_s) && query.next());
        QVERIFY(query.isNull(0));
    }
    QSqlDatabase::removeDatabase(u"export-check"_s);
}

void TestExport::csvFromRecordLines_data()
{
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Rows>("values");

    QTest::newRow("chinese") << 3 << QStringList{u"^南京舉辦豐收節^2026-01-07^简体与繁體"_s}
                             << Rows{{u"南京舉辦豐收節"_s, u"2026-01-07"_s, u"简体与繁體"_s}};
    QTest::newRow("commas") << 2 << QStringList{u"^a,b^,"_s} << Rows{{u"a,b"_s, u","_s}};
    QTest::newRow("quotes") << 3 << QStringList{u"^他说\"好\"^\"^\"\""_s}
                            << Rows{{u"他说\"好\""_s, u"\""_s, u"\"\""_s}};
    QTest::newRow("line breaks") << 3 << QStringList{u"^第一行\n第二行^a\r\nb^c\rd"_s}
                                 << Rows{{u"第一行\n第二行"_s, u"a\r\nb"_s, u"c\rd"_s}};
    QTest::newRow("blanks kept") << 2 << QStringList{u"^ 前后 ^x\t"_s}
                                 << Rows{{u" 前后 "_s, u"x\t"_s}};
    // Cells a spreadsheet would run as formulas get a leading "'".
    QTest::newRow("formulas neutralised")
        << 8 << QStringList{u"^=1+1^+1^-1^@SUM(A1)^\tx^\rx^a=b^'="_s}
        << Rows{{u"'=1+1"_s, u"'+1"_s, u"'-1"_s, u"'@SUM(A1)"_s, u"'\tx"_s, u"'\rx"_s, u"a=b"_s,
                 u"'="_s}};
    QTest::newRow("empty values") << 3 << QStringList{u"^^^"_s}
                                  << Rows{{QString(), QString(), QString()}};
    QTest::newRow("line shorter than the fields")
        << 4 << QStringList{u"^只有一个"_s, u"^a^b"_s}
        << Rows{{u"只有一个"_s, QString(), QString(), QString()},
                {u"a"_s, u"b"_s, QString(), QString()}};
    QTest::newRow("values past the last field dropped")
        << 2 << QStringList{u"^a^b^c^d"_s} << Rows{{u"a"_s, u"b"_s}};
    QTest::newRow("no records") << 2 << QStringList() << Rows();
}

void TestExport::csvFromRecordLines()
{
    QFETCH(int, fieldCount);
    QFETCH(QStringList, lines);
    QFETCH(Rows, values);
    const QByteArray csv = recordsToCsv(fieldCount, lines);
    QVERIFY(csv.startsWith(QByteArray(Bom + "字段1,字段2"_ba)));
    const std::optional<Rows> rows = readCsv(csv);
    QVERIFY2(rows, csv.constData());
    QCOMPARE(rows->value(0), header(fieldCount));
    QCOMPARE(rows->mid(1), values);
}

void TestExport::csvExportCommand()
{
    const QString file = out(u"记录.csv"_s);
    const Run toFile =
        runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), Collected, u"--out"_s, file});
    QVERIFY(toFile.finished);
    QCOMPARE(toFile.exitCode, 0);
    QCOMPARE(toFile.out, QByteArray());
    QCOMPARE(toFile.err, QByteArray());
    const QByteArray bytes = fileBytes(file);
    const std::optional<Rows> rows = readCsv(bytes);
    QVERIFY2(rows, bytes.constData());
    QCOMPARE(rows->value(0), header(4));
    QCOMPARE(rows->mid(1), StoredValues);

    // Without --out the same bytes go to stdout.
    const Run toStdout = runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), Collected});
    QVERIFY(toStdout.finished);
    QCOMPARE(toStdout.exitCode, 0);
    QCOMPARE(toStdout.out, bytes);
}

void TestExport::excelSafe_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("safe");

    const QString smile = u"\U0001F600"_s;
    const QChar high(char16_t(0xD83D));
    const QChar low(char16_t(0xDE00));
    const QString x32766(32766, u'x');
    const QString x32767(32767, u'x');

    QTest::newRow("chinese unchanged") << u"信息采集，繁體"_s << u"信息采集，繁體"_s;
    QTest::newRow("refused controls removed") << u"\x01"
                                                 u"a\x0b"
                                                 u"b\x1f\x7f"_s
                                              << u"ab\x7f"_s;
    QTest::newRow("nul removed") << QString(QChar(u'\0')) + u"a"_s << u"a"_s;
    QTest::newRow("tab, LF, CR kept") << u"a\tb\nc\rd"_s << u"a\tb\nc\rd"_s;
    QTest::newRow("non-characters removed") << u"a\uFFFEb\uFFFF"_s << u"ab"_s;
    QTest::newRow("surrogate pair kept") << u"前"_s + smile + u"后"_s << u"前"_s + smile + u"后"_s;
    QTest::newRow("lone high at end") << u"a"_s + high << u"a"_s;
    QTest::newRow("high before a letter") << QString(high) + u"a"_s << u"a"_s;
    QTest::newRow("lone low") << QString(low) + u"a"_s << u"a"_s;
    QTest::newRow("low before high") << QString(low) + high << QString();
    QTest::newRow("two highs then low") << QString(high) + high + low << smile;
    QTest::newRow("at the cap") << x32767 << x32767;
    QTest::newRow("over the cap") << x32767 + u"yz"_s << x32767;
    QTest::newRow("pair across the cap dropped whole") << x32766 + smile << x32766;
    QTest::newRow("pair ending at the cap kept")
        << x32767.left(32765) + smile << x32767.left(32765) + smile;
    QTest::newRow("controls removed before the cap") << u"\x01\x02"_s + x32767 << x32767;
}

void TestExport::excelSafe()
{
    QFETCH(QString, value);
    QFETCH(QString, safe);
    QCOMPARE(caiji::excelSafe(value), safe);
}

void TestExport::xlsxFromRecordLines()
{
    const QString file = out(u"直接.xlsx"_s);
    QString error;
    const QStringList lines{u"^中文标题^a\tb^c\r\nd"_s, u"^\x01控制\x0b字符\x1f^\U0001F600^"_s,
                            u"^短"_s, u"^=1+1^<b>&amp;</b>^\"引号\""_s,
                            u"^_x0041_^_x0041_x0042_^a_x000D_b_x005F_"_s};
    QVERIFY2(writeRecordsXlsx(file, 3, lines, &error), qPrintable(error));

    // The cells' texts are in the sheet itself.
    const QByteArray strings = unzipEntry(file, u"xl/worksheets/sheet1.xml"_s);
    QVERIFY(!strings.isEmpty());
    for (char c = 0; c < 0x20; ++c) {
        if (c != '\t' && c != '\n' && c != '\r')
            QVERIFY2(!strings.contains(c), qPrintable(QString::number(int(c))));
    }

    const QMap<QString, QString> expected{
        {u"A1"_s, u"字段1"_s},    {u"B1"_s, u"字段2"_s},         {u"C1"_s, u"字段3"_s},
        {u"A2"_s, u"中文标题"_s}, {u"B2"_s, u"a\tb"_s},          {u"C2"_s, u"c\r\nd"_s},
        {u"A3"_s, u"控制字符"_s}, {u"B3"_s, u"\U0001F600"_s},    {u"A4"_s, u"短"_s},
        {u"A5"_s, u"=1+1"_s},     {u"B5"_s, u"<b>&amp;</b>"_s},  {u"C5"_s, u"\"引号\""_s},
        {u"A6"_s, u"_x0041_"_s},  {u"B6"_s, u"_x0041_x0042_"_s}, {u"C6"_s, u"a_x000D_b_x005F_"_s}};
    QCOMPARE(sheetCells(file), expected);
}

void TestExport::xlsxLongCell_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QString>("cut"); // record, field, cell and length reported

    // 40000 Chinese characters are 120000 bytes of UTF-8: the cap counts
    // characters, so the cell keeps 32767 of them.
    QString chinese;
    for (int i = 0; i < 40000; ++i)
        chinese += QChar(char16_t(0x4E00 + i % 0x5000));
    QTest::newRow("chinese over the cap") << chinese << 32767 << u"1 1 A2 40000"_s;
    // Literal escapes take more room in the file than in the cell; what fits
    // is kept rather than the whole cell refused.
    QString escapes;
    for (int i = 0; i < 5000; ++i)
        escapes += u"_x0041_"_s;
    QTest::newRow("literal escapes over the cap")
        << escapes << 32767 * 7 / 13 - 7 << u"1 1 A2 35000"_s;
    QTest::newRow("escapes outgrowing the cap")
        << escapes.left(28000) << 32767 * 7 / 14 - 7 << u"1 1 A2 28000"_s;
    QTest::newRow("at the cap") << QString(32767, u'x') << 32767 << QString();
}

void TestExport::xlsxLongCell()
{
    QFETCH(QString, value);
    QFETCH(int, minimum);
    QFETCH(QString, cut);
    const QString file = out(u"长.xlsx"_s);
    QString error;
    QStringList cuts;
    const auto onCut = [&](const CutCell &c) {
        cuts << u"%1 %2 %3 %4"_s.arg(c.record).arg(c.field).arg(c.cell).arg(c.length);
    };
    QVERIFY2(writeRecordsXlsx(file, 2, {u"^"_s + value + u"^后"_s}, &error, onCut),
             qPrintable(error));
    QCOMPARE(cuts, cut.isEmpty() ? QStringList() : QStringList{cut});
    const QMap<QString, QString> cells = sheetCells(file);
    const QString cell = cells.value(u"A2"_s);
    QVERIFY2(cell.size() >= minimum && cell.size() <= 32767,
             qPrintable(QString::number(cell.size())));
    QVERIFY(value.startsWith(cell));
    QCOMPARE(cells.value(u"B2"_s), u"后"_s);
}

void TestExport::xlsxUnwritablePath()
{
    const QString file = out(u"没有/这个/目录.xlsx"_s);
    QString error;
    QVERIFY(!writeRecordsXlsx(file, 2, {u"^a^b"_s}, &error));
    QVERIFY2(error.contains(file), qPrintable(error));
    QVERIFY(!QFile::exists(file));
}

void TestExport::xlsxExportCommand()
{
    // An older export in the way is replaced.
    const QString file = out(u"记录.xlsx"_s);
    {
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    }
    const Run run =
        runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), Collected, u"--xlsx"_s, file});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, QByteArray());

    const QMap<QString, QString> expected{{u"A1"_s, u"字段1"_s},
                                          {u"B1"_s, u"字段2"_s},
                                          {u"C1"_s, u"字段3"_s},
                                          {u"D1"_s, u"字段4"_s},
                                          {u"A2"_s, u"http://a/1.html"_s},
                                          {u"B2"_s, u"标题,逗号"_s},
                                          {u"C2"_s, u"他说\"好\""_s},
                                          {u"D2"_s, u"第一行\n第二行"_s},
                                          {u"A3"_s, u"http://a/2.html"_s},
                                          {u"B3"_s, u"短记录"_s},
                                          {u"A5"_s, u"http://a/3.html"_s},
                                          {u"B5"_s, u"控制字符"_s},
                                          {u"C5"_s, u"a\tb"_s},
                                          {u"D5"_s, u"c\r\nd"_s}};
    QCOMPARE(sheetCells(file), expected);
}

void TestExport::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("mustNotExist");

    const QString w = m_workspace.root();
    const QString csv = out(u"both.csv"_s);
    const QString xlsx = out(u"both.xlsx"_s);
    QTest::newRow("--out with --xlsx")
        << QStringList{u"export"_s, u"--workspace"_s, w,   Collected, u"--out"_s,
                       csv,         u"--xlsx"_s,      xlsx}
        << u"not both"_s << csv;
    QTest::newRow("--xlsx with --out")
        << QStringList{u"export"_s, u"--workspace"_s, w,  Collected, u"--xlsx"_s,
                       xlsx,        u"--out"_s,       csv}
        << u"not both"_s << xlsx;
    QTest::newRow("unknown task") << QStringList{u"export"_s,       u"--workspace"_s, w,
                                                 u"没有这个任务"_s, u"--out"_s,       csv}
                                  << u"no task named 没有这个任务"_s << csv;
    QTest::newRow("uncollected task")
        << QStringList{u"export"_s, u"--workspace"_s, w, NeverRun, u"--out"_s, csv}
        << u"该任务尚未采集!"_s << csv;
    QTest::newRow("uncollected task as xlsx")
        << QStringList{u"export"_s, u"--workspace"_s, w, NeverRun, u"--xlsx"_s, xlsx}
        << u"该任务尚未采集!"_s << xlsx;
    QTest::newRow("--out into a missing folder")
        << QStringList{u"export"_s, u"--workspace"_s, w, Collected, u"--out"_s, out(u"无/x.csv"_s)}
        << u"cannot write"_s << out(u"无/x.csv"_s);
    QTest::newRow("--xlsx into a missing folder")
        << QStringList{u"export"_s, u"--workspace"_s, w,
                       Collected,   u"--xlsx"_s,      out(u"无/x.xlsx"_s)}
        << u"cannot write"_s << out(u"无/x.xlsx"_s);
}

void TestExport::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(QString, mustNotExist);
    const Run run = runCaiji(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QByteArray());
    const QString err = QString::fromUtf8(run.err);
    QVERIFY2(err.startsWith(u"caiji: "_s) && err.endsWith(u'\n') && err.count(u'\n') == 1,
             qPrintable(err));
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(!QFile::exists(mustNotExist));
}

void TestExport::columnsFromDatabase_data()
{
    QTest::addColumn<QString>("taskText"); // the task file at export time
    QTest::addColumn<bool>("earlierRun");  // export the run moved into the history
    QTest::addColumn<QString>("option");

    QTest::newRow("uc lowered") << u"uc=[[2]]\n"_s << false << u"--out"_s;
    QTest::newRow("uc removed") << QString() << false << u"--out"_s;
    QTest::newRow("uc removed, workbook") << QString() << false << u"--xlsx"_s;
    QTest::newRow("earlier run, uc lowered") << u"uc=[[2]]\n"_s << true << u"--xlsx"_s;
}

void TestExport::columnsFromDatabase()
{
    QFETCH(QString, taskText);
    QFETCH(bool, earlierRun);
    QFETCH(QString, option);
    // Collected with three columns; one value is longer than a cell holds.
    TempWorkspace workspace;
    const QString task = u"列"_s, database = workspace.databaseFile(task);
    const QString longValue(40000, u'长');
    RecordStore store;
    QVERIFY(workspace.addTask(task, taskText) && store.create(database, 3));
    QVERIFY(store.append(u"^a^b^c"_s) && store.append(u"^1^2^"_s + longValue));
    store.close();
    const QString file = out(u"列"_s + option);
    QStringList arguments{u"export"_s, u"--workspace"_s, workspace.root(), task, option, file};
    RunHistory history(QFileInfo(database).absolutePath());
    if (earlierRun) {
        QVERIFY(history.retire(database));
        arguments << u"--run"_s << history.runs().value(0).name;
    }
    const Run run = runCaiji(arguments);
    QCOMPARE(run.exitCode, 0);
    if (option == u"--out") {
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(readCsv(fileBytes(file)),
                 Rows({header(3), {u"a"_s, u"b"_s, u"c"_s}, {u"1"_s, u"2"_s, longValue}}));
        return;
    }
    const QMap<QString, QString> cells = sheetCells(file);
    QCOMPARE(cells.size(), 9);
    QCOMPARE(cells.value(u"C1"_s) + cells.value(u"C2"_s) + cells.value(u"B3"_s), u"字段3c2"_s);
    QCOMPARE(cells.value(u"C3"_s), longValue.left(32767));
    QCOMPARE(run.err, "caiji: warning: record 2, field 3 (cell C3) has 40000 characters, cut to "
                      "the 32767 an Excel cell holds\n"_ba);
}

void TestExport::fullDisk_data()
{
    QTest::addColumn<QString>("target"); // task.txt: a task saved on the full disk
    QTest::addColumn<QString>("task");
    QTest::addColumn<qint64>("room"); // left free on the disk

    QTest::newRow("csv under 16 KB") << u"earlier.csv"_s << Collected << 0LL;
    QTest::newRow("csv") << u"earlier.csv"_s << Big << 0LL;
    QTest::newRow("xlsx") << u"earlier.xlsx"_s << Big << 0LL;
    // Room for the rows but not for the copy the workbook's assembly makes:
    // refused, rather than a workbook with rows missing.
    QTest::newRow("xlsx with room for its rows only") << u"earlier.xlsx"_s << Big << 600 * 1024LL;
    QTest::newRow("task definition") << u"task.txt"_s << QString() << 0LL;
}

void TestExport::fullDisk()
{
    QFETCH(QString, target);
    QFETCH(QString, task);
    QFETCH(qint64, room);
    SmallDisk disk(4096);
    if (!disk.isMounted())
        QSKIP("cannot mount a small disk here (it needs root)");
    const Workspace onDisk(disk.path());
    const QString file =
        task.isEmpty() ? onDisk.taskFile(u"t"_s) : disk.path() + u"/out/"_s + target;
    const QByteArray earlier = "earlier\r\n";
    QFile old(file);
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()) && old.open(QIODevice::WriteOnly));
    QVERIFY(old.write(earlier) == earlier.size() && old.flush());
    QVERIFY(disk.fill(room));

    QString err;
    int exitCode = 1;
    if (task.isEmpty()) {
        const TaskChange change = TaskFolders(onDisk).edit(u"t"_s, u"t"_s, u"uc=[[2]]"_s);
        std::tie(exitCode, err) = std::pair(change.ok ? 0 : 1, change.message);
    } else {
        const QString option = target.endsWith(u".csv"_s) ? u"--out"_s : u"--xlsx"_s;
        const Run run =
            runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), task, option, file});
        std::tie(exitCode, err) = std::pair(run.exitCode, QString::fromUtf8(run.err));
    }
    QCOMPARE(exitCode, 1);
    QVERIFY2(err.contains(u"磁盘已满"_s), qPrintable(err));
    QCOMPARE(fileBytes(file), earlier);
    // Nothing half written is left beside it.
    QCOMPARE(TempWorkspace::filesIn(QFileInfo(file).absolutePath()),
             QStringList{QFileInfo(file).fileName()});
}

void TestExport::peakMemory_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("csv") << u"--out"_s;
    QTest::newRow("xlsx") << u"--xlsx"_s;
}

void TestExport::peakMemory()
{
    QFETCH(QString, option);
    const QString file = out(u"巨"_s + option);
    const auto remove = qScopeGuard([&] { QFile::remove(file); });
    const Run run =
        runCaiji({u"export"_s, u"--workspace"_s, m_workspace.root(), Huge, option, file}, 300000);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFileInfo(file).size() > (option == u"--out" ? 150000 * 2000LL : 0));
    // Only this executable's runs are its children: the largest of them.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    qInfo("peak resident size of caiji export %s: %ld KiB", qPrintable(option), usage.ru_maxrss);
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's own memory would be measured
    QVERIFY2(usage.ru_maxrss < 64 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
#endif
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
