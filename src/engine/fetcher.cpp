#include "engine/fetcher.h"

using namespace Qt::StringLiterals;

namespace caiji {

bool Fetcher::isPageFile(const QString &file)
{
    return file.endsWith(u" .txt"_s);
}

} // namespace caiji
