#include "records/xlsxexport.h"

#include "records/recordstore.h"
#include "records/writefailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QUuid>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr qsizetype MaxCellChars = 32767;
// Room the workbook's assembly needs besides a second copy of the rows: the
// last row, the small parts and the zip's own buffers.
constexpr qint64 AssemblyReserve = 1024 * 1024;

bool isAllowedControl(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r';
}

QString withoutRefused(const QString &value)
{
    QString safe;
    safe.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if ((c < 0x20 && !isAllowedControl(c)) || c == 0xFFFE || c == 0xFFFF)
            continue;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
                safe += value[i];
                safe += value[++i];
            }
            continue;
        }
        if (QChar::isLowSurrogate(c))
            continue;
        safe += value[i];
    }
    return safe;
}

QString capped(QString safe)
{
    if (safe.size() > MaxCellChars) {
        safe.truncate(MaxCellChars);
        if (safe.back().isHighSurrogate())
            safe.chop(1);
    }
    return safe;
}

// Excel reads "_xHHHH_" in a cell as the character HHHH.
bool looksLikeEscape(const QString &text, qsizetype i)
{
    if (i + 6 >= text.size() || text[i] != u'_' || text[i + 1] != u'x' || text[i + 6] != u'_')
        return false;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        const char16_t c = text[k].unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

// The cell text as libxlsxwriter needs it: excelSafe, with the underscore of
// a literal "_xHHHH_" written as "_x005F_" so it reads back unchanged, and
// still within the cell limit once escaped. `cut` tells whether the limit
// cost any of the value.
QString cellText(const QString &value, bool *cut)
{
    const QString kept = withoutRefused(value);
    const QString safe = capped(kept);
    *cut = safe.size() < kept.size();
    QString text;
    text.reserve(safe.size());
    for (qsizetype i = 0; i < safe.size();) {
        const bool escape = looksLikeEscape(safe, i);
        const qsizetype units = safe[i].isHighSurrogate() ? 2 : 1;
        if (text.size() + (escape ? 7 : units) > MaxCellChars) {
            *cut = true;
            break;
        }
        if (escape)
            text += u"_x005F_"_s;
        else
            text += QStringView(safe).mid(i, units);
        i += units;
    }
    return text;
}

QString cellName(lxw_row_t row, lxw_col_t col)
{
    char name[LXW_MAX_CELL_NAME_LENGTH] = {};
    lxw_rowcol_to_cell(name, row, col);
    return QString::fromLatin1(name);
}

constexpr auto failed = &ExportOutcome::failed;

// The finished file on the disk before it replaces the old one, as a save
// file does; a file system that cannot sync is no failure.
int syncToDisk(const QByteArray &name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

QString excelSafe(const QString &value)
{
    return capped(withoutRefused(value));
}

ExportOutcome writeXlsx(const QString &path, int fieldCount, const NextRow &next,
                        const CutCellSink &onCut)
{
    using Failure = ExportOutcome::Failure;
    // The workbook and the library's temporary files are made next to the
    // target: nothing large goes to /tmp, and the rename stays on one file
    // system, so the old file is replaced only by a whole workbook.
    const QString folder = QFileInfo(path).absolutePath();
    const QString made = QDir(folder).filePath(
        u".caiji-"_s + QUuid::createUuid().toString(QUuid::Id128) + u".xlsx.part"_s);
    {
        QFile part(made);
        if (!part.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return failed(Failure::Target, part.errorString());
    }
    bool placed = false;
    const auto removePart = qScopeGuard([&] {
        if (!placed)
            QFile::remove(made);
    });

    const QByteArray madeName = QFile::encodeName(made);
    QByteArray tmpdir = QFile::encodeName(folder);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.data();
    errno = 0;
    lxw_workbook *workbook = workbook_new_opt(madeName.constData(), &options);
    lxw_worksheet *sheet = workbook ? workbook_add_worksheet(workbook, "data") : nullptr;
    if (!sheet || !sheet->optimize_tmpfile) {
        const int error = errno;
        lxw_workbook_free(workbook);
        return failed(Failure::Target, writeFailureReason(error, u"无法创建工作簿"_s));
    }
    // Freeing a workbook leaves its rows' temporary file open, holding its
    // room on the disk until the program ends.
    const auto discard = [&] {
        std::fclose(sheet->optimize_tmpfile);
        sheet->optimize_tmpfile = nullptr;
        lxw_workbook_free(workbook);
    };

    lxw_format *bold = workbook_add_format(workbook);
    format_set_bold(bold);
    lxw_error written = LXW_NO_ERROR;
    for (int col = 0; col < fieldCount && written == LXW_NO_ERROR; ++col) {
        const QByteArray header = (u"字段"_s + QString::number(col + 1)).toUtf8();
        written = worksheet_write_string(sheet, 0, lxw_col_t(col), header.constData(), bold);
    }
    ExportOutcome outcome;
    QStringList row;
    QString readError;
    while (written == LXW_NO_ERROR && next(&row, &readError)) {
        ++outcome.records;
        const lxw_row_t sheetRow = lxw_row_t(outcome.records);
        for (int col = 0; col < fieldCount && col < row.size() && written == LXW_NO_ERROR; ++col) {
            bool cut = false;
            const QByteArray text = cellText(row[col], &cut).toUtf8();
            if (cut && onCut)
                onCut({outcome.records, col + 1, cellName(sheetRow, lxw_col_t(col)),
                       row[col].size()});
            if (!text.isEmpty())
                written = worksheet_write_string(sheet, sheetRow, lxw_col_t(col), text.constData(),
                                                 nullptr);
        }
    }
    if (!readError.isEmpty()) {
        discard();
        return failed(Failure::Read, readError);
    }
    if (written != LXW_NO_ERROR) {
        discard();
        return failed(Failure::Write, written == LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE
                                          ? u"一个 Excel 工作表最多容纳 1048575 条记录"_s
                                          : QString::fromUtf8(lxw_strerror(written)));
    }

    // The library ignores failed writes of its temporary files, and a row
    // lost there still makes a workbook. So the rows' file is checked here,
    // and the folder must hold the copy of it the assembly makes: the rows'
    // file is freed before the zip is written, so a failed copy would pass.
    errno = 0;
    if (std::fflush(sheet->optimize_tmpfile) != 0 || std::ferror(sheet->optimize_tmpfile)) {
        const int error = errno;
        discard();
        return failed(Failure::Write, writeFailureReason(error, u"无法写入工作簿的临时文件"_s));
    }
    const qint64 rowBytes = std::ftell(sheet->optimize_tmpfile);
    const qint64 room = QStorageInfo(folder).bytesAvailable();
    if (room >= 0 && room < rowBytes + AssemblyReserve) {
        discard();
        return failed(Failure::Write, writeFailureReason(ENOSPC, {}));
    }
    errno = 0;
    const lxw_error closed = workbook_close(workbook);
    // Only a full disk is worth naming: other errors may be left over from
    // calls that did not fail.
    const int closeError = errno == ENOSPC || errno == EDQUOT ? errno : 0;
    if (closed != LXW_NO_ERROR)
        return failed(Failure::Write,
                      writeFailureReason(closeError, QString::fromUtf8(lxw_strerror(closed))));
    if (const int error = syncToDisk(madeName))
        return failed(Failure::Write, writeFailureReason(error, {}));
    if (std::rename(madeName.constData(), QFile::encodeName(path).constData()) != 0)
        return failed(Failure::Target, qt_error_string(errno));
    placed = true;
    return outcome;
}

bool writeRecordsXlsx(const QString &path, int fieldCount, const QStringList &recordLines,
                      QString *error, const CutCellSink &onCut)
{
    qsizetype line = 0;
    const ExportOutcome outcome = writeXlsx(
        path, fieldCount,
        [&](QStringList *row, QString *) {
            if (line == recordLines.size())
                return false;
            *row = RecordStore::valuesOf(recordLines[line++]);
            return true;
        },
        onCut);
    if (outcome.failure == ExportOutcome::Failure::None)
        return true;
    if (error)
        *error = u"cannot write "_s + path + u": "_s + outcome.reason;
    return false;
}

} // namespace caiji
