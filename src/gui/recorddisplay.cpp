#include "gui/recorddisplay.h"

#include "tasks/taskfile.h"
#include "text/numbers.h"
#include "text/readtext.h"

#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace caiji {

RecordDisplay::RecordDisplay(QWidget *parent)
    : QFrame(parent), m_scroll(new QScrollArea(this)), m_stage(new QWidget),
      m_area(new QWidget(m_stage)), m_caption(new QLabel(this))
{
    setObjectName(u"Picture3"_s);
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_caption->setObjectName(u"Picture3Caption"_s);
    showCaption();
    layout->addWidget(m_caption);
    m_scroll->setObjectName(u"Picture3Scroll"_s);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_stage);
    layout->addWidget(m_scroll, 1);
    m_area->setObjectName(u"Picture3Area"_s);
    m_stage->installEventFilter(this);
    m_area->installEventFilter(this);

    m_pp = new QLabel(m_area);
    m_pp->setObjectName(u"pp"_s);
    m_pp->setScaledContents(true);
    m_pp->hide();
    for (int k = 0; k < BoxCount; ++k) {
        m_pt[k] = new QPlainTextEdit(m_area);
        m_pt[k]->setObjectName(u"pt"_s + QString::number(k));
        m_pt[k]->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_pt[k]->hide();
        connect(m_pt[k], &QPlainTextEdit::textChanged, this, [this] {
            if (!m_filling)
                m_edited = true;
        });
    }
}

void RecordDisplay::showCaption()
{
    m_caption->setText(
        m_waiting > 0 ? tr("记录编辑显示界面（有未保存的修改；%1条新记录未显示）").arg(m_waiting)
                      : tr("记录编辑显示界面"));
}

void RecordDisplay::markSaved()
{
    m_edited = false;
    setWaitingRecords(0);
}

void RecordDisplay::setWaitingRecords(int count)
{
    m_waiting = count;
    showCaption();
}

bool RecordDisplay::isBoxShown(int k) const
{
    return k >= 0 && k < BoxCount && !m_pt[k]->isHidden();
}

void RecordDisplay::reset(const QString &placeholderPicture)
{
    m_filling = true;
    m_pp->hide();
    m_pp->setPixmap(QPixmap(placeholderPicture));
    for (QPlainTextEdit *box : m_pt) {
        box->hide();
        box->clear();
    }
    m_filling = false;
    markSaved();
    updateMinimumHeight();
}

void RecordDisplay::layOut(const QString &taskDir, const QStringList &values, bool editable)
{
    for (QPlainTextEdit *box : m_pt) {
        box->setReadOnly(!editable);
        // A record that cannot be edited (one of the running task's) looks
        // it: the window's colour behind its text, as a label has.
        box->viewport()->setBackgroundRole(editable ? QPalette::Base : QPalette::Window);
    }
    const QString text = readTaskText(taskDir + u"/data/task.txt"_s);
    for (const QString &entry : displaySpecs(text)) {
        const QStringList parts = entry.split(u'|');
        const std::optional<qint16> k = toInt16(parts.value(0));
        const bool validField = k && *k >= 0 && *k < BoxCount;
        const bool hasValue = validField && *k < values.size();
        if (hasValue) {
            m_filling = true;
            m_pt[*k]->setPlainText(values[*k]);
            m_filling = false;
        }
        // A second part that is missing or not a number shows a picture too.
        const std::optional<double> picture = readAsNumber(parts.value(1));
        if (!picture || *picture > 0) {
            if (hasValue) {
                const QPixmap pixmap(taskDir + u"/wek/"_s + values[*k]);
                if (!pixmap.isNull())
                    m_pp->setPixmap(pixmap);
            }
            placeFromSpec(m_pp, parts);
            m_pp->show();
        } else if (validField) {
            placeFromSpec(m_pt[*k], parts);
            m_pt[*k]->show();
        }
    }
    updateMinimumHeight();
}

int RecordDisplay::lineHeight(const QPlainTextEdit *box) const
{
    return box->fontMetrics().lineSpacing() + 2 * box->frameWidth() +
           int(std::ceil(2 * box->document()->documentMargin()));
}

void RecordDisplay::updateMinimumHeight()
{
    // A box thinner than this part of the area is not meant for text: it is
    // not worth a display many screens high.
    constexpr double ThinnestShare = 30;
    int needed = 0;
    for (auto it = m_logical.cbegin(); it != m_logical.cend(); ++it) {
        const auto *box = qobject_cast<const QPlainTextEdit *>(it.key());
        const double height = it.value().height();
        if (!box || box->isHidden() || height <= 0)
            continue;
        const double share = std::min(Height / height, ThinnestShare);
        needed = std::max(needed, int(std::ceil(lineHeight(box) * share)));
    }
    m_minimumHeight = needed;
    m_stage->setMinimumHeight(needed);
    fitArea();
}

void RecordDisplay::placeFromSpec(QWidget *box, const QStringList &parts)
{
    QRectF rect = m_logical.value(box);
    // Each coordinate that cannot be read leaves that one as it was.
    if (const auto x = readAsNumber(parts.value(2)))
        rect.moveLeft(*x);
    if (const auto y = readAsNumber(parts.value(3)))
        rect.moveTop(*y);
    if (const auto w = readAsNumber(parts.value(4)))
        rect.setWidth(std::max(0.0, *w));
    if (const auto h = readAsNumber(parts.value(5)))
        rect.setHeight(std::max(0.0, *h));
    m_logical[box] = rect;
    applyGeometry(box);
}

void RecordDisplay::applyGeometry(QWidget *box)
{
    const QRectF rect = m_logical.value(box);
    const double sx = m_area->width() / Width;
    const double sy = m_area->height() / Height;
    box->setGeometry(
        QRectF(rect.left() * sx, rect.top() * sy, rect.width() * sx, rect.height() * sy).toRect());
    // A box of one line gets no scroll bar: its arrows would make it look
    // like a spin box. A box the specs make a field of one line (about 10
    // to 12 of the area's 100 units) stays one at any window size, however
    // many lines a large window would give it room for.
    if (auto *text = qobject_cast<QPlainTextEdit *>(box)) {
        const bool oneLine = box->height() < lineHeight(text) + text->fontMetrics().lineSpacing() ||
                             rect.height() < OneLineUnits;
        text->setVerticalScrollBarPolicy(oneLine ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    }
}

void RecordDisplay::fitArea()
{
    const QSize room = m_stage->size();
    int width = std::min(room.width(), int(room.height() * Aspect));
    int height = int(width / Aspect);
    // Too low for the boxes in proportion: as wide as the panel, as high as
    // the boxes need, and the panel scrolls.
    if (height < m_minimumHeight) {
        width = room.width();
        height = m_minimumHeight;
    }
    m_area->setGeometry(0, 0, width, height);
}

bool RecordDisplay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stage && event->type() == QEvent::Resize)
        fitArea();
    if (watched == m_area && event->type() == QEvent::Resize) {
        for (auto it = m_logical.cbegin(); it != m_logical.cend(); ++it)
            applyGeometry(it.key());
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace caiji
