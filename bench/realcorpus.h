// The real-page corpus of the benchmarks (bench/make_real_corpus.sh): the
// Python documentation's pages in UTF-8, and pages joined into one long page.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace caiji::bench {

// CAIJI_REAL_CORPUS, else real-corpus in the build folder.
QString realCorpusDir();

// Every page of the UTF-8 copy, in the corpus's order; none without a corpus.
QList<QByteArray> realCorpusPages(const QString &dir = realCorpusDir());

// Whole pages, one after another, up to `limit` bytes; only the first keeps
// its document type declaration, as one long page would.
QByteArray joinedPages(const QList<QByteArray> &pages, qsizetype limit);

} // namespace caiji::bench
