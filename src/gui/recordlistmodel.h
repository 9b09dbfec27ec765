// A list of stored records shown as display lines (rus), read from the
// database a page at a time as the view asks for rows: the window holds no
// copy of every record, however many there are.
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>
#include <functional>

namespace caiji {

class RecordListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Record lines of rows `first` .. `first + count - 1`.
    using Reader = std::function<QStringList(int first, int count)>;

    static constexpr int PageRows = 100;
    static constexpr int CachedRows = 2000;

    explicit RecordListModel(QObject *parent = nullptr);

    // New contents: `count` rows read through `reader`.
    void reset(int count, Reader reader);
    void clear();
    // One more row at the end whose line is already known.
    void appendRow(const QString &recordLine);
    void removeRecord(int row);
    // The row changed in the database: read it again when next shown.
    void refreshRow(int row);

    // The record line of `row`, empty when it cannot be read.
    QString recordLine(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void cache(int row, const QString &line) const;

    int m_count = 0;
    Reader m_reader;
    mutable QHash<int, QString> m_lines;
};

} // namespace caiji
