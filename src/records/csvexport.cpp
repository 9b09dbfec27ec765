#include "records/csvexport.h"

#include "records/recordstore.h"

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString csvField(const QString &value)
{
    if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n') &&
        !value.contains(u'\r'))
        return value;
    QString quoted = value;
    quoted.replace(u"\""_s, u"\"\""_s);
    return u'"' + quoted + u'"';
}

// A spreadsheet runs a cell that starts with one of these as a formula.
QString neutralised(const QString &value)
{
    static const QString starts = u"=+-@\t\r"_s;
    return !value.isEmpty() && starts.contains(value.front()) ? u'\'' + value : value;
}

} // namespace

QByteArray recordsToCsv(int fieldCount, const QStringList &recordLines, CsvValues values)
{
    QString csv;
    QStringList header;
    for (int i = 0; i < fieldCount; ++i)
        header << u"字段"_s + QString::number(i + 1);
    csv += header.join(u',') + u"\r\n"_s;
    for (const QString &line : recordLines) {
        QStringList row;
        const QStringList stored = RecordStore::valuesOf(line);
        for (int i = 0; i < fieldCount; ++i) {
            const QString value = stored.value(i);
            row << csvField(values == CsvValues::Safe ? neutralised(value) : value);
        }
        csv += row.join(u',') + u"\r\n"_s;
    }
    return QByteArrayLiteral("\xEF\xBB\xBF") + csv.toUtf8();
}

} // namespace caiji
