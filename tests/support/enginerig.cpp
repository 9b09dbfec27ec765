#include "enginerig.h"

using namespace Qt::StringLiterals;

namespace caiji::test {

EngineRig::EngineRig(CollectionEngine::Options options)
    : engine(workspace.workspace(), &listFetcher, &contentFetcher, options)
{
    QObject::connect(&engine, &CollectionEngine::runRecordsCleared, &engine,
                     [this] { runRecords.clear(); });
    QObject::connect(&engine, &CollectionEngine::recordStored, &engine,
                     [this](int, const QString &line) { runRecords << line; });
}

void EngineRig::schedulerTicks(int count)
{
    for (int i = 0; i < count; ++i)
        engine.schedulerTick();
}

void EngineRig::collectorRound()
{
    engine.collectorTick();
    settle(contentFetcher);
}

void EngineRig::crawlerRound()
{
    engine.crawlerTick();
    settle(listFetcher);
}

int EngineRig::ticksUntilComplete(int index, int limit)
{
    for (int i = 1; i <= limit; ++i) {
        engine.schedulerTick();
        if (engine.state().runList.value(index).contains(CollectionEngine::completeMarker()))
            return i;
    }
    return -1;
}

QString taskFileText(const QString &ur, const QString &uc, const QString &rest)
{
    return u"ur=[["_s + ur + u"]]\r\nuc=[["_s + uc + u"]]\r\n"_s + rest;
}

} // namespace caiji::test
