// How a task collects again, beside its definition file: the [collect]
// section of the task's data/settings.ini. With onlyNew a run continues the
// task's database and leaves out the pages whose records it already holds;
// stopAfterKnown ends a crawl's list pages after that many stored content
// links in a row (a site that lists the newest first).
#pragma once

#include <QString>
#include <optional>

namespace caiji {

struct CollectSettings
{
    static constexpr int MaxStopAfterKnown = 32767;

    bool onlyNew = false;
    int stopAfterKnown = 0; // 0: every list page is read

    // `dataDir` is the task's data folder. Nothing when a value is malformed;
    // `error` then names the key.
    static std::optional<CollectSettings> read(const QString &dataDir, QString *error);
    // Writes the keys that differ from the defaults (the others are
    // removed), leaving other sections alone. False when the file cannot be
    // written.
    bool write(const QString &dataDir) const;
};

} // namespace caiji
