// The record display area: 51 text boxes pt(0)..pt(50) and one picture box
// pp, placed by a task's display specs in a 200 x 100 coordinate system that
// is mapped onto the largest part of the panel with the original panel's
// proportions, so the boxes keep their shapes however the window is sized.
// A panel too low for every box to show a whole line scrolls instead.
#pragma once

#include <QFrame>
#include <QHash>
#include <QRectF>
#include <QStringList>
#include <array>

class QLabel;
class QPlainTextEdit;
class QScrollArea;

namespace caiji {

class RecordDisplay : public QFrame
{
    Q_OBJECT

public:
    static constexpr int BoxCount = 51;
    static constexpr double Width = 200;
    static constexpr double Height = 100;
    // Width to height of the panel the display specs were written for.
    static constexpr double Aspect = 15255.0 / 5175.0;
    // Boxes lower than this many units are fields of one line.
    static constexpr double OneLineUnits = 15;

    explicit RecordDisplay(QWidget *parent = nullptr);

    QPlainTextEdit *pt(int k) const { return m_pt[k]; }
    QLabel *pp() const { return m_pp; }
    bool isBoxShown(int k) const;

    // Hides every box, empties the texts and loads the placeholder picture.
    void reset(const QString &placeholderPicture);
    // Places the record's values as the task's display specs say; the boxes
    // take typing only when `editable`.
    void layOut(const QString &taskDir, const QStringList &values, bool editable);
    // The height below which the area scrolls: every shown box keeps a line.
    int minimumAreaHeight() const { return m_minimumHeight; }

    // The user typed into a box since the record was laid out or saved.
    bool hasUnsavedEdits() const { return m_edited; }
    void markSaved();
    // Records that arrived but were not shown, so as not to replace edits.
    void setWaitingRecords(int count);
    int waitingRecords() const { return m_waiting; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeFromSpec(QWidget *box, const QStringList &parts);
    void applyGeometry(QWidget *box);

    void showCaption();
    void fitArea();
    // The height a box needs to show one whole line.
    int lineHeight(const QPlainTextEdit *box) const;
    void updateMinimumHeight();

    QScrollArea *m_scroll;
    QWidget *m_stage; // what the panel offers; m_area is the part in proportion
    QWidget *m_area;
    int m_minimumHeight = 0;
    QLabel *m_caption;
    bool m_edited = false;
    bool m_filling = false; // texts set by the program, not typed
    int m_waiting = 0;
    std::array<QPlainTextEdit *, BoxCount> m_pt{};
    QLabel *m_pp;
    QHash<QWidget *, QRectF> m_logical;
};

} // namespace caiji
