#include "gui/toolbaricons.h"

using namespace Qt::StringLiterals;

namespace caiji {

QIcon themedIcon(const QString &name, const QString &bundled)
{
    QIcon fallback;
    for (const int size : {16, 24, 32})
        fallback.addFile(u":/icons/%1/%2.png"_s.arg(size).arg(bundled), QSize(size, size));
    return QIcon::fromTheme(name, fallback);
}

QIcon programIcon()
{
    QIcon fallback;
    for (const int size : {16, 24, 32, 48, 64})
        fallback.addFile(u":/icons/caiji-%1.png"_s.arg(size), QSize(size, size));
    return QIcon::fromTheme(u"caiji"_s, fallback);
}

} // namespace caiji
