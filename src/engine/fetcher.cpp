#include "engine/fetcher.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace caiji {

bool Fetcher::isPageFile(const QString &file)
{
    return file.endsWith(u" .txt"_s);
}

QByteArray Fetcher::pageBytes(const QString &file, qint64 count, const QByteArray &body)
{
    // Pages of two bytes or less come as a file.
    QFile small(file);
    return count > 2 || !small.open(QIODevice::ReadOnly) ? body : small.readAll();
}

} // namespace caiji
