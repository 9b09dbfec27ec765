// The state the scheduler, the crawler and the collector share while a task
// runs: the work lists, cursors, slot ages and the task's settings.
#pragma once

#include "records/recordstore.h"
#include "tasks/taskfile.h"
#include "text/extract.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <array>

namespace caiji {

constexpr int SlotCount = 50;
// Counts, cursors and list indexes are 16-bit: a work list stops growing here.
constexpr int MaxListEntries = 32767;

struct EngineState
{
    QStringList contentQueue;    // List1: "level|address|record line"
    QStringList listQueue;       // List2: list-page addresses
    QStringList downloads;       // List3: addresses of downloads that stored a file
    QStringList taskQueue;       // List4: task names
    QStringList runList;         // List6: task names, then status lines
    QStringList runDisplayLines; // List7: records stored in this run, as display lines
    QStringList runRecords;      // List8: the same records as record lines

    int taskIndex = -1;
    bool running = false;
    int stallCount = 20;
    QString lastProgress = QStringLiteral("00000");
    QString taskName;
    QString taskDir; // absolute folder of the running task
    int fieldCount = 0;
    TaskDefinition definition;
    WValues w;
    int contentCursor = -1;
    int listCursor = -1;
    int pagesDone = 0;
    int listPagesDone = 0;
    QSet<QString> seenListPages;
    QSet<QString> seenTargets;
    std::array<int, SlotCount + 1> waAge{};
    std::array<int, SlotCount + 1> wbAge{};
    RecordStore store; // the task connection
    // Fetches carry the run they were issued in; completions of other runs are ignored.
    quint64 runId = 1; // slots holding 0 have nothing pending
    std::array<quint64, SlotCount + 1> waRun{};
    std::array<quint64, SlotCount + 1> wbRun{};
    // The file of the fetch each slot waits for: a late completion of an earlier
    // run on a slot the new run reuses neither counts nor takes the slot's turn.
    std::array<QString, SlotCount + 1> waFile{};
    std::array<QString, SlotCount + 1> wbFile{};

    QString webDir() const;
    QString wekDir() const;
    // Where a fetched page of `url` is kept until it is read ("name .txt").
    QString pageFile(const QString &url) const;
    // Where a download of `url` is stored for good.
    QString downloadFile(const QString &url) const;
    QString schemeField(int i) const;
    // Scheme field 0 compared with `scheme`: a field that is not a number
    // matches every scheme; a task without scheme fields matches none.
    bool schemeIs(int scheme) const;

    bool appendContent(const QString &entry);
    bool appendList(const QString &address);
    QString progressSignature() const;
};

// Adds 1 without passing the 16-bit limit.
inline void increment(int &counter)
{
    if (counter < MaxListEntries)
        ++counter;
}

} // namespace caiji
