// A collection engine on a temporary workspace with two fake fetchers, its
// timers not driven: tests call the tick handlers themselves.
#pragma once

#include "engine/collectionengine.h"
#include "fakefetcher.h"
#include "tempworkspace.h"

namespace caiji::test {

class EngineRig
{
public:
    explicit EngineRig(CollectionEngine::Options options = {1000, false});

    const EngineState &state() const { return engine.state(); }
    void schedulerTicks(int count);
    // One collector tick, then every completion it caused.
    void collectorRound();
    // One crawler tick, then every completion it caused.
    void crawlerRound();
    // Scheduler ticks until the task at `index` is complete (at most `limit`
    // ticks); the number of ticks made, or -1.
    int ticksUntilComplete(int index, int limit = 100);

    TempWorkspace workspace;
    FakeFetcher listFetcher;
    FakeFetcher contentFetcher;
    CollectionEngine engine;
    // The record lines the running task stored, as the engine stored them.
    QStringList runRecords;
};

// A task file: the scheme fields, the field count and any further entries.
QString taskFileText(const QString &ur, const QString &uc, const QString &rest = QString());

} // namespace caiji::test
