#include "gui/recordlistmodel.h"

#include "text/names.h"

namespace caiji {

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
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_count)
        return {};
    return rus(recordLine(index.row()));
}

} // namespace caiji
