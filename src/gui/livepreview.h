// Lays out the record of the run's record list (List7) that is selected, as
// stored, with the running task's display specs. The newest
// record is selected as it arrives, so the display follows the collection.
#pragma once

#include <QObject>

class QListView;

namespace caiji {

class CollectionEngine;
class RecordBrowser;
class RecordDisplay;
class RecordListModel;

class LivePreview : public QObject
{
    Q_OBJECT

public:
    // `list7` shows the run's records through a RecordListModel.
    LivePreview(const CollectionEngine &engine, QListView *list7, RecordDisplay *display,
                RecordBrowser &browser, QObject *parent = nullptr);

    // Lays out the run's record at `row`, read-only. A record arriving while
    // the user has unsaved edits in a stored record is not shown (the display
    // says so); a row the user picks asks first.
    void preview(int row);
    void previewPicked(int row);

private:
    int currentRow() const;

    const CollectionEngine &m_engine;
    QListView *m_list7;
    const RecordListModel *m_records;
    RecordDisplay *m_display;
    RecordBrowser &m_browser;
    bool keepsEdits() const;
    void layOut(int row);
};

} // namespace caiji
