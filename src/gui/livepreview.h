// Lays out the record of the run's record list (List7) that is selected, from
// the run's record lines, with the running task's display specs. The newest
// record is selected as it arrives, so the display follows the collection.
#pragma once

#include <QObject>

class QListWidget;

namespace caiji {

class CollectionEngine;
class RecordBrowser;
class RecordDisplay;

class LivePreview : public QObject
{
    Q_OBJECT

public:
    LivePreview(const CollectionEngine &engine, QListWidget *list7, RecordDisplay *display,
                RecordBrowser &browser, QObject *parent = nullptr);

    void preview(int row);

private:
    const CollectionEngine &m_engine;
    QListWidget *m_list7;
    RecordDisplay *m_display;
    RecordBrowser &m_browser;
};

} // namespace caiji
