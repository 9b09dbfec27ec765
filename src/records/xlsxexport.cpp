#include "records/xlsxexport.h"

#include "records/recordstore.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr qsizetype MaxCellChars = 32767;

bool isAllowedControl(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r';
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
// still within the cell limit once escaped.
QString cellText(const QString &value)
{
    const QString safe = excelSafe(value);
    QString text;
    text.reserve(safe.size());
    for (qsizetype i = 0; i < safe.size();) {
        const bool escape = looksLikeEscape(safe, i);
        const qsizetype units = safe[i].isHighSurrogate() ? 2 : 1;
        if (text.size() + (escape ? 7 : units) > MaxCellChars)
            break;
        if (escape)
            text += u"_x005F_"_s;
        else
            text += QStringView(safe).mid(i, units);
        i += units;
    }
    return text;
}

bool writeWorkbook(const QByteArray &file, int fieldCount, const QStringList &recordLines,
                   QString *error)
{
    lxw_workbook *workbook = workbook_new(file.constData());
    if (!workbook) {
        if (error)
            *error = u"cannot create a workbook"_s;
        return false;
    }
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "data");
    lxw_format *bold = workbook_add_format(workbook);
    format_set_bold(bold);
    for (int col = 0; col < fieldCount; ++col) {
        const QByteArray header = (u"字段"_s + QString::number(col + 1)).toUtf8();
        worksheet_write_string(sheet, 0, lxw_col_t(col), header.constData(), bold);
    }
    lxw_row_t row = 1;
    for (const QString &line : recordLines) {
        const QStringList values = RecordStore::valuesOf(line);
        for (int col = 0; col < fieldCount && col < values.size(); ++col) {
            const QByteArray text = cellText(values[col]).toUtf8();
            if (!text.isEmpty())
                worksheet_write_string(sheet, row, lxw_col_t(col), text.constData(), nullptr);
        }
        ++row;
    }
    const lxw_error result = workbook_close(workbook);
    if (result != LXW_NO_ERROR) {
        if (error)
            *error = u"cannot write a workbook: "_s + QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}

} // namespace

QString excelSafe(const QString &value)
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
    if (safe.size() > MaxCellChars) {
        safe.truncate(MaxCellChars);
        if (safe.back().isHighSurrogate())
            safe.chop(1);
    }
    return safe;
}

bool writeRecordsXlsx(const QString &path, int fieldCount, const QStringList &recordLines,
                      QString *error)
{
    // The workbook is made in a private folder and then put in place, so a
    // target that cannot be written leaves any old file intact and the
    // failure is reported once, here, rather than by the library on stderr.
    QTemporaryDir dir;
    if (!dir.isValid()) {
        if (error)
            *error = u"cannot create a temporary folder"_s;
        return false;
    }
    const QString made = dir.filePath(u"records.xlsx"_s);
    if (!writeWorkbook(QFile::encodeName(made), fieldCount, recordLines, error))
        return false;
    QFile workbook(made);
    QSaveFile target(path);
    if (!workbook.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)) {
        if (error)
            *error = u"cannot write "_s + path + u": "_s + target.errorString();
        return false;
    }
    const QByteArray bytes = workbook.readAll();
    if (target.write(bytes) != bytes.size() || !target.commit()) {
        if (error)
            *error = u"cannot write "_s + path + u": "_s + target.errorString();
        return false;
    }
    return true;
}

} // namespace caiji
