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

QByteArray csvHeader(int fieldCount)
{
    QStringList header;
    for (int i = 0; i < fieldCount; ++i)
        header << u"字段"_s + QString::number(i + 1);
    return QByteArrayLiteral("\xEF\xBB\xBF") + (header.join(u',') + u"\r\n"_s).toUtf8();
}

QByteArray csvRow(const QStringList &row, CsvValues values)
{
    QString line;
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (i > 0)
            line += u',';
        line += csvField(values == CsvValues::Safe ? neutralised(row[i]) : row[i]);
    }
    return (line + u"\r\n"_s).toUtf8();
}

QByteArray recordsToCsv(int fieldCount, const QStringList &recordLines, CsvValues values)
{
    QByteArray csv = csvHeader(fieldCount);
    for (const QString &line : recordLines) {
        QStringList row = RecordStore::valuesOf(line);
        row.resize(fieldCount);
        csv += csvRow(row, values);
    }
    return csv;
}

} // namespace caiji
