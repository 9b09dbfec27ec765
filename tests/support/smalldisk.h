// A small file system of its own (a tmpfs) for tests of a full disk. Only
// root can mount one: isMounted() is false elsewhere, and the test skips.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace caiji::test {

class SmallDisk
{
public:
    explicit SmallDisk(int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    // Takes all of the disk's free room but `leaveBytes` with a filler
    // file; true when that worked.
    bool fill(qint64 leaveBytes = 0);

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace caiji::test
