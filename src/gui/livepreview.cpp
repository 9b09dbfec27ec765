#include "gui/livepreview.h"

#include "engine/collectionengine.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "gui/recordlistmodel.h"
#include "records/recordstore.h"

#include <QListView>

using namespace Qt::StringLiterals;

namespace caiji {

LivePreview::LivePreview(const CollectionEngine &engine, QListView *list7, RecordDisplay *display,
                         RecordBrowser &browser, QObject *parent)
    : QObject(parent), m_engine(engine), m_list7(list7),
      m_records(qobject_cast<const RecordListModel *>(list7->model())), m_display(display),
      m_browser(browser)
{
    connect(m_list7->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { preview(current.row()); });
    connect(m_list7, &QListView::clicked, this, [this] { previewPicked(currentRow()); });
    connect(m_list7, &QListView::doubleClicked, this, [this] { previewPicked(currentRow()); });
    // The newest record is stored before its file has arrived. While edits
    // are kept it already counts as waiting.
    connect(&engine, &CollectionEngine::downloadStored, this, [this] {
        if (!keepsEdits() && currentRow() >= 0 && currentRow() == m_records->rowCount() - 1)
            layOut(currentRow());
    });
}

int LivePreview::currentRow() const
{
    return m_list7->currentIndex().row();
}

bool LivePreview::keepsEdits() const
{
    return m_browser.recedit() == 1 && m_display->hasUnsavedEdits();
}

void LivePreview::preview(int row)
{
    if (row < 0)
        return;
    if (keepsEdits()) {
        m_display->setWaitingRecords(m_display->waitingRecords() + 1);
        return;
    }
    layOut(row);
}

void LivePreview::previewPicked(int row)
{
    if (row < 0)
        return;
    if (!m_browser.mayDropEdits())
        return;
    layOut(row);
}

void LivePreview::layOut(int row)
{
    m_browser.clearEditable();
    m_display->reset(m_engine.workspace().placeholderPicture());
    if (row >= m_records->rowCount())
        return;
    const QString recordLine = m_records->recordLine(row);
    // Read-only: a record of the running collection cannot be saved here.
    if (!recordLine.isEmpty())
        m_display->layOut(m_engine.state().taskDir, RecordStore::valuesOf(recordLine), false);
}

} // namespace caiji
