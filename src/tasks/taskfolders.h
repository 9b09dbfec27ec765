// Creating, editing, renaming and deleting task folders, with the checks and
// messages the task dialogs show. No widgets: the dialogs call these.
#pragma once

#include "tasks/workspace.h"

#include <QList>
#include <QPair>
#include <QString>

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

    TaskChange create(const QString &rawName, const QString &rawContent) const;
    // Writes the content under the old name first, then renames when the
    // name changed.
    TaskChange edit(const QString &oldName, const QString &rawNewName,
                    const QString &rawContent) const;
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

    Workspace m_workspace;
};

} // namespace caiji
