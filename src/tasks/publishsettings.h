// Where a task's records are published as they arrive: the [publish]
// section of the task's data/settings.ini, "url=postgresql://…" or
// "mysql://…" and an optional "table=" (default: the task's name). No URL:
// nothing is published.
#pragma once

#include <QString>
#include <optional>

namespace caiji {

struct PublishSettings
{
    QString url;
    QString table; // empty: the task's name

    bool isOn() const { return !url.isEmpty(); }
    QString tableFor(const QString &taskName) const { return table.isEmpty() ? taskName : table; }

    // Nothing, with `error` naming the key, when the URL is malformed.
    static std::optional<PublishSettings> read(const QString &dataDir, QString *error);
    bool write(const QString &dataDir) const;
};

} // namespace caiji
