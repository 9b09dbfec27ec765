// One running window per workspace: a lock file in the workspace, released
// when the program ends (also after a crash, as the lock goes stale).
#pragma once

#include <QLockFile>
#include <QString>

namespace caiji {

class InstanceLock
{
public:
    explicit InstanceLock(const QString &workspace);
    // False when another copy holds the workspace.
    bool acquire();

private:
    QLockFile m_lock;
};

} // namespace caiji
