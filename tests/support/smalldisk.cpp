#include "smalldisk.h"

#include <QFile>
#include <QProcess>
#include <QStorageInfo>

#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace caiji::test {

SmallDisk::SmallDisk(int kilobytes)
{
    m_mounted = m_dir.isValid() && QProcess::execute(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s,
                                                                  u"size=%1k"_s.arg(kilobytes),
                                                                  u"tmpfs"_s, m_dir.path()}) == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        QProcess::execute(u"umount"_s, {u"-l"_s, m_dir.path()});
}

bool SmallDisk::fill(qint64 leaveBytes)
{
    QFile filler(m_dir.filePath(u".filler"_s));
    if (!filler.open(QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const qint64 take = QStorageInfo(m_dir.path()).bytesAvailable() - leaveBytes;
    if (take > 0 && posix_fallocate(filler.handle(), filler.size(), take) != 0)
        return false;
    // What rounding left of a full disk goes byte by byte.
    while (leaveBytes == 0 && filler.write("f", 1) == 1) {
    }
    return true;
}

} // namespace caiji::test
