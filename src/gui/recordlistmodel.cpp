#include "gui/recordlistmodel.h"

#include "text/names.h"

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr int ColumnWidth = 20;

int columnsOf(QStringView text)
{
    int columns = 0;
    for (QChar c : text)
        columns += c.unicode() < 0x100 ? 1 : 2;
    return columns;
}

// The record line in the list's columns, as rus() lays it out, but a value
// cut to its column ends in "…": a cut address otherwise reads like another
// one ("http://127.0.0.1:893"). `cut` tells whether one was.
QString shownLine(const QString &line, bool *cut)
{
    *cut = false;
    if (line.size() <= 1)
        return {};
    QString shown;
    for (const QString &value : line.sliced(1).split(u'^')) {
        // Wide enough to tell a value longer than its column.
        if (columnsOf(padcut(value, 4 * ColumnWidth).trimmed()) <= ColumnWidth) {
            shown += padcut(value, ColumnWidth) + u"    "_s;
            continue;
        }
        *cut = true;
        QString head = padcut(value, ColumnWidth - 2);
        while (head.endsWith(u' '))
            head.chop(1);
        head += u'…';
        shown += head + QString(ColumnWidth - columnsOf(head), u' ') + u"    "_s;
    }
    return shown;
}

} // namespace

RecordListModel::RecordListModel(QObject *parent) : QAbstractListModel(parent) {}

void RecordListModel::reset(int count, Reader reader)
{
    beginResetModel();
    m_count = std::max(0, count);
    m_reader = std::move(reader);
    m_lines.clear();
    endResetModel();
}

void RecordListModel::clear()
{
    reset(0, {});
}

void RecordListModel::appendRow(const QString &recordLine)
{
    beginInsertRows(QModelIndex(), m_count, m_count);
    cache(m_count, recordLine);
    ++m_count;
    endInsertRows();
}

void RecordListModel::removeRecord(int row)
{
    if (row < 0 || row >= m_count)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    --m_count;
    // Rows after it move up; their cached lines are simply read again.
    m_lines.clear();
    endRemoveRows();
}

void RecordListModel::refreshRow(int row)
{
    m_lines.remove(row);
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at);
}

void RecordListModel::cache(int row, const QString &line) const
{
    if (m_lines.size() >= CachedRows)
        m_lines.clear();
    m_lines.insert(row, line);
}

QString RecordListModel::recordLine(int row) const
{
    if (row < 0 || row >= m_count)
        return {};
    if (const auto it = m_lines.constFind(row); it != m_lines.cend())
        return *it;
    if (!m_reader)
        return {};
    // A page around the row: views ask for neighbouring rows next.
    const int first = std::max(0, row - PageRows / 2);
    const QStringList lines = m_reader(first, std::min(PageRows, m_count - first));
    for (int i = 0; i < lines.size(); ++i)
        cache(first + i, lines[i]);
    return row - first < lines.size() ? lines[row - first] : QString();
}

int RecordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

QVariant RecordListModel::data(const QModelIndex &index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.row() >= m_count)
        return {};
    const QString line = recordLine(index.row());
    bool cut = false;
    const QString shown = shownLine(line, &cut);
    if (role == Qt::DisplayRole)
        return shown;
    if (!cut)
        return {};
    // The whole values of a row some of whose values were cut.
    QStringList values = line.sliced(1).split(u'^');
    for (qsizetype i = 0; i < values.size(); ++i)
        values[i] = tr("字段%1：%2").arg(i + 1).arg(values[i]);
    return values.join(u'\n');
}

} // namespace caiji
