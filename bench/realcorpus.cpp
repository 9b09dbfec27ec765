#include "realcorpus.h"

#include <QFile>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace caiji::bench {

QString realCorpusDir()
{
    const QString dir = qEnvironmentVariable("CAIJI_REAL_CORPUS");
    return dir.isEmpty() ? QStringLiteral(CAIJI_BUILD_DIR) + u"/real-corpus"_s : dir;
}

QList<QByteArray> realCorpusPages(const QString &dir)
{
    QList<QByteArray> pages;
    QFile list(dir + u"/pages.txt"_s);
    if (!list.open(QIODevice::ReadOnly))
        return pages;
    QTextStream names(&list);
    while (!names.atEnd()) {
        QFile page(dir + u"/site/"_s + names.readLine());
        if (page.open(QIODevice::ReadOnly))
            pages << page.readAll();
    }
    return pages;
}

QByteArray joinedPages(const QList<QByteArray> &pages, qsizetype limit)
{
    QByteArray joined;
    for (QByteArray page : pages) {
        const qsizetype doctype = page.indexOf("<!DOCTYPE");
        if (!joined.isEmpty() && doctype >= 0 && doctype < 16)
            page.remove(0, page.indexOf('>', doctype) + 1);
        if (joined.size() + page.size() > limit)
            break;
        joined += page;
    }
    return joined;
}

} // namespace caiji::bench
