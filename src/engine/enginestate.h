// The state the scheduler, the crawler and the collector share while a task
// runs: the work lists, cursors, slot ages and the task's settings.
#pragma once

#include "engine/listingstash.h"
#include "records/recordstore.h"
#include "tasks/collectsettings.h"
#include "tasks/networksettings.h"
#include "tasks/taskfile.h"
#include "text/extract.h"

#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace caiji {

constexpr int SlotCount = 50;
// Counts, cursors and list indexes are 16-bit: a work list stops growing here.
constexpr int MaxListEntries = 32767;

// A fetch that brought nothing, kept for the run's report.
struct FailedFetch
{
    // Garbled: the page was read, but in a character set that left
    // characters it could not decode; it is listed, not counted as failed.
    enum Kind { ListPage, ContentPage, Download, Record, Garbled };
    Kind kind = ContentPage;
    QString url; // a refused record: its record line
    QString reason;
    QString level; // a content page's level

    // "列表页", "第2层内容页", "下载", "记录", "乱码"
    QString kindText() const;
};

// What became of a run's work: the status line and the summary show it.
struct RunTally
{
    qint64 pagesRequested = 0; // list and content page fetches issued
    qint64 pagesFailed = 0;
    qint64 recordsStored = 0; // rows the database committed
    qint64 recordsRefused = 0;
    qint64 downloadsStored = 0;
    qint64 downloadsFailed = 0;
    qint64 failuresUnlisted = 0; // failures the run's failure list could not take
    qint64 pagesGarbled = 0;     // read with characters that could not be decoded
    qint64 retries = 0;          // fetches tried again after a transient failure
    qint64 pagesKnown = 0;       // content pages left out: their records are stored
    qint64 recordsKnown = 0;     // records left out: stored by an earlier run

    qint64 failures() const { return pagesFailed + recordsRefused + downloadsFailed; }
};

// A record on its way to the database, with the page it is the record of
// (empty for one of several records cut from a page).
struct RecordToStore
{
    QString line;
    QString page;
};

struct EngineState
{
    QStringList contentQueue; // List1: "level|address|record line"
    // Beside each content entry: the page whose record it is completing, once
    // a page of one record per page was reached (empty before).
    QStringList contentOrigins;
    QStringList listQueue; // List2: list-page addresses
    QStringList downloads; // List3: addresses of downloads that stored a file
    QStringList taskQueue; // List4: task names
    QStringList runList;   // List6: task names, then status lines
    // List7 and List8, the records stored in this run: their rows in the
    // task's database, read back when shown rather than kept here.
    QList<qint64> runRowIds;

    int taskIndex = -1;
    bool running = false;
    int stallCount = 20;
    QString lastProgress = QStringLiteral("00000000");
    QString taskName;
    QString taskDir; // absolute folder of the running task
    int fieldCount = 0;
    TaskDefinition definition;
    NetworkSettings network; // the task's data/settings.ini
    CollectSettings collect;
    // Only what is new: the pages and records the continued database holds.
    QSet<QString> storedPages;
    QSet<QByteArray> storedRecords;
    int storedLinksInARow = 0;    // content links a crawl met that were stored
    bool listPagesClosed = false; // stopAfterKnown was reached
    WValues w;
    int contentCursor = -1;
    int listCursor = -1;
    int pagesDone = 0;
    int listPagesDone = 0;
    // Every finished fetch, failed or not: a run of failures is progress too,
    // so a task with pages still queued is not declared complete.
    qint64 fetchesFinished = 0;
    RunTally tally;
    QList<FailedFetch> failures; // the first MaxListEntries of the run
    // Every failure counted, as it is counted: the engine lists it.
    std::function<void(const FailedFetch &)> failureListener;
    // What the run's summary adds to its counts (a lost failure list, a
    // database deleted under the run).
    QStringList notes;
    // Records the database was too busy to take, in order; they are retried
    // each tick until `waitingSince` is too old, then refused.
    QList<RecordToStore> waitingRecords;
    QElapsedTimer waitingSince;
    QSet<QString> seenListPages;
    QSet<QString> seenTargets;
    ListingStash listingStash; // listings of content pages the crawler will read as list pages
    std::array<int, SlotCount + 1> waAge{};
    std::array<int, SlotCount + 1> wbAge{};
    RecordStore store; // the task connection
    // Fetches carry the run they were issued in; completions of other runs are ignored.
    quint64 runId = 1;
    // The fetch each slot waits for: a late completion of an earlier run on a
    // slot the new run reuses neither counts nor takes the slot's turn.
    struct PendingFetch
    {
        quint64 run = 0; // 0: nothing pending
        QString url;
        QString file;
        bool download = false;
        QString level;
        QString origin; // see contentOrigins
    };
    std::array<PendingFetch, SlotCount + 1> listPending{};
    std::array<PendingFetch, SlotCount + 1> contentPending{};
    // A fetch sent after waiting (for its host, or to be tried again) is
    // progress: it gets a stall window of its own.
    qint64 requestsSent = 0;

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

    bool appendContent(const QString &entry, const QString &origin = QString());
    bool appendList(const QString &address);
    QString progressSignature() const;

    // Counts a failed fetch, a refused record (`url` then holds the record
    // line) or a garbled page, and lists it while the list has room.
    void countFailure(FailedFetch::Kind kind, const QString &url, const QString &reason,
                      const QString &level = QString());
    // A slot is handed a new fetch, or its run ends, while its fetch of this
    // run is still out: that fetch will never complete, so it failed.
    // A page whose text holds `unreadable` characters that could not be
    // decoded in `charset` is flagged.
    void flagGarbled(const QString &url, const QString &charset, qsizetype unreadable);
    void abandonListSlot(int slot, const QString &reason);
    void abandonContentSlot(int slot, const QString &reason);
};

// Adds 1 without passing the 16-bit limit.
inline void increment(int &counter)
{
    if (counter < MaxListEntries)
        ++counter;
}

} // namespace caiji
