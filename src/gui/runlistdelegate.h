// The run list's lines (List6): a task name padded to 20 characters, then the
// run's status. The name is drawn as it is and every status at one x, past the
// widest name, so the statuses line up whatever script the names are in. A
// run that failed something is drawn in the warning colour.
#pragma once

#include "gui/rowdelegate.h"

#include <QFont>

class QAbstractItemView;

namespace caiji {

class RunListDelegate : public RowDelegate
{
    Q_OBJECT

public:
    // The characters of the name field, as the engine pads names.
    static constexpr int NameField = 20;

    static QColor warningColour();

    explicit RunListDelegate(QAbstractItemView *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Draws `option.text` as a run-list line: the header line uses it too.
    void paintLine(QPainter *painter, const QStyleOptionViewItem &option) const;
    // Where the status starts, from the start of the line.
    int statusOffset(const QFont &font) const;

private:
    QAbstractItemView *m_view;
    mutable int m_offset = -1; // -1: to be measured
    mutable QFont m_measuredIn;
};

} // namespace caiji
