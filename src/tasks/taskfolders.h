// Creating, editing, renaming and deleting task folders, with the checks and
// messages the task dialogs show. No widgets: the dialogs call these.
#pragma once

#include "tasks/networksettings.h"
#include "tasks/workspace.h"

#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace caiji {

struct TaskChange
{
    bool ok = false;
    QString message; // what to tell the user, success or failure
};

class TaskFolders
{
public:
    explicit TaskFolders(const Workspace &workspace);

    static QString forbiddenCharacterMessage();
    static QString existsMessage();
    // The nine characters a task name may not hold, tested on the raw text.
    static bool hasForbiddenCharacter(const QString &rawName);
    // Only blanks are trimmed; tabs and line breaks stay.
    static QString trimBlanks(const QString &text);

    // A file or folder of that name in the task folder (an empty name names
    // the task folder itself, so it exists).
    bool exists(const QString &name) const;

    // `network`, when given, goes into the task's data/settings.ini; a cookies
    // or CA file named by an absolute path is copied into data/ first (as
    // cookies.txt, ca.crt), so the task folder holds all the task needs.
    TaskChange create(const QString &rawName, const QString &rawContent,
                      const std::optional<NetworkSettings> &network = std::nullopt) const;
    // Writes the content and settings under the old name first, then renames
    // when the name changed.
    TaskChange edit(const QString &oldName, const QString &rawNewName, const QString &rawContent,
                    const std::optional<NetworkSettings> &network = std::nullopt) const;
    TaskChange remove(const QString &name) const;

    QString readDefinition(const QString &name) const;

    // Copies the tasks of `examples` that this workspace does not have (with
    // the placeholder picture when it is missing). For each example task:
    // true when it was copied, false when copying failed; tasks of a name
    // already here are left out.
    QList<QPair<QString, bool>> copyExampleTasks(const Workspace &examples) const;

private:
    // False with `reason` set when the file could not be written whole; an
    // earlier file is then unchanged.
    bool writeDefinition(const QString &name, const QString &content, QString *reason) const;
    bool writeNetwork(const QString &name, NetworkSettings network, QString *reason) const;

    Workspace m_workspace;
};

} // namespace caiji
