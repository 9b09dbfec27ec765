// A status bar whose message never runs past its room: a long one ends in
// "…" and shows whole in the tooltip.
#pragma once

#include <QStatusBar>

namespace caiji {

class ElidingStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit ElidingStatusBar(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace caiji
