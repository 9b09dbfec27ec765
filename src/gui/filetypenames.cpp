#include "gui/filetypenames.h"

#include <QFileInfo>

namespace caiji {

QString FileTypeNames::type(const QFileInfo &info) const
{
    if (info.isRoot())
        return tr("驱动器");
    if (info.isDir())
        return tr("文件夹");
    if (info.isSymLink() && !info.exists())
        return tr("链接");
    return QFileIconProvider::type(info);
}

} // namespace caiji
