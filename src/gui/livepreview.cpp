#include "gui/livepreview.h"

#include "engine/collectionengine.h"
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "records/recordstore.h"

#include <QListWidget>

namespace caiji {

LivePreview::LivePreview(const CollectionEngine &engine, QListWidget *list7, RecordDisplay *display,
                         RecordBrowser &browser, QObject *parent)
    : QObject(parent), m_engine(engine), m_list7(list7), m_display(display), m_browser(browser)
{
    connect(m_list7, &QListWidget::currentRowChanged, this, &LivePreview::preview);
    connect(m_list7, &QListWidget::itemClicked, this, [this] { preview(m_list7->currentRow()); });
    connect(m_list7, &QListWidget::itemDoubleClicked, this,
            [this] { preview(m_list7->currentRow()); });
    // The newest record is stored before its file has arrived.
    connect(&engine, &CollectionEngine::downloadStored, this, [this] {
        if (m_list7->currentRow() == m_list7->count() - 1)
            preview(m_list7->currentRow());
    });
}

void LivePreview::preview(int row)
{
    if (row < 0)
        return;
    m_browser.clearEditable();
    m_display->reset(m_engine.workspace().placeholderPicture());
    const EngineState &state = m_engine.state();
    if (row >= state.runRecords.size())
        return;
    m_display->layOut(state.taskDir, RecordStore::valuesOf(state.runRecords[row]));
}

} // namespace caiji
