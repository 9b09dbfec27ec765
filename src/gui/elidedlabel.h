// A one-line label that never widens its window: a text longer than its room
// ends in "…" and shows whole in the tooltip.
#pragma once

#include <QLabel>

namespace caiji {

class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_fullText;
};

} // namespace caiji
