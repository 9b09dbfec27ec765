#include "tasks/instancelock.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace caiji {

InstanceLock::InstanceLock(const QString &workspace)
    : m_lock(QDir(workspace).filePath(u".caiji.lock"_s))
{
    m_lock.setStaleLockTime(0);
}

bool InstanceLock::acquire()
{
    return m_lock.tryLock(0);
}

} // namespace caiji
