#include "gui/livepreview.h"

#include "engine/collectionengine.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "gui/recordlistmodel.h"
#include "records/recordstore.h"

#include <QListView>

namespace caiji {

LivePreview::LivePreview(const CollectionEngine &engine, QListView *list7, RecordDisplay *display,
                         RecordBrowser &browser, QObject *parent)
    : QObject(parent), m_engine(engine), m_list7(list7),
      m_records(qobject_cast<const RecordListModel *>(list7->model())), m_display(display),
      m_browser(browser)
{
    connect(m_list7->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { preview(current.row()); });
    connect(m_list7, &QListView::clicked, this, [this] { preview(currentRow()); });
    connect(m_list7, &QListView::doubleClicked, this, [this] { preview(currentRow()); });
    // The newest record is stored before its file has arrived.
    connect(&engine, &CollectionEngine::downloadStored, this, [this] {
        if (currentRow() >= 0 && currentRow() == m_records->rowCount() - 1)
            preview(currentRow());
    });
}

int LivePreview::currentRow() const
{
    return m_list7->currentIndex().row();
}

void LivePreview::preview(int row)
{
    if (row < 0)
        return;
    m_browser.clearEditable();
    m_display->reset(m_engine.workspace().placeholderPicture());
    if (row >= m_records->rowCount())
        return;
    const QString recordLine = m_records->recordLine(row);
    if (!recordLine.isEmpty())
        m_display->layOut(m_engine.state().taskDir, RecordStore::valuesOf(recordLine));
}

} // namespace caiji
