#include "records/xlsxexport.h"

#include "records/recordstore.h"

#include <QFile>

#include <xlsxwriter.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr qsizetype MaxCellChars = 32767;

bool isAllowedControl(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r';
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
    const QByteArray file = QFile::encodeName(path);
    lxw_workbook *workbook = workbook_new(file.constData());
    if (!workbook) {
        if (error)
            *error = u"cannot create "_s + path;
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
            const QByteArray text = excelSafe(values[col]).toUtf8();
            if (!text.isEmpty())
                worksheet_write_string(sheet, row, lxw_col_t(col), text.constData(), nullptr);
        }
        ++row;
    }
    const lxw_error result = workbook_close(workbook);
    if (result != LXW_NO_ERROR) {
        if (error)
            *error = u"cannot write "_s + path + u": "_s + QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}

} // namespace caiji
