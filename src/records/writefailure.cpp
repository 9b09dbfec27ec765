#include "records/writefailure.h"

#include <QFileDevice>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace caiji {

QString writeFailureReason(const QFileDevice &file)
{
    const int error = errno;
    // Qt files a full disk as a resource error; errno tells where Qt has not
    // looked at it yet.
    if (error == ENOSPC || error == EDQUOT || file.error() == QFileDevice::ResourceError)
        return u"磁盘已满"_s;
    return u"无法写入文件："_s + file.errorString();
}

QString writeFailureReason(int errorNumber, const QString &otherwise)
{
    if (errorNumber == ENOSPC || errorNumber == EDQUOT)
        return u"磁盘已满"_s;
    return errorNumber != 0 ? qt_error_string(errorNumber) : otherwise;
}

} // namespace caiji
