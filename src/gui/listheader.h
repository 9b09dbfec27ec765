// The header line over a list of padded lines: it names the columns in the
// list's font, starts where the list's rows start and scrolls sideways with
// them, so each name stands over its column.
#pragma once

#include <QWidget>

class QAbstractItemView;

namespace caiji {

class ListHeader : public QWidget
{
    Q_OBJECT

public:
    // `list` is not owned; the header is placed right above it.
    explicit ListHeader(QAbstractItemView *list, QWidget *parent = nullptr);

    // The names of a record line's fields, padded as the records are.
    static QString fieldsLine(int fieldCount);

    void setText(const QString &text);
    QString text() const { return m_text; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QAbstractItemView *m_list;
    QString m_text;
};

} // namespace caiji
