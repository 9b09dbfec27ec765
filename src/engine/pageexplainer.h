// Explaining what a task's rules make of one page: the page is cut exactly as
// the collector cuts it, with a trace of every step, and the trace is told in
// Chinese for people or as JSON for tools.
#pragma once

#include "engine/pagetrace.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace caiji {

// Reads the page's bytes as the collector does and cuts them with level
// `level` of the task whose definition file holds `taskText`. `fetch` says
// how the page was got ("HTTP 200", or a saved file); `headerCharset` is the
// charset the server named, if any.
PageTrace explainPage(const QString &taskText, const QByteArray &pageBytes, const QString &url,
                      int level, const QString &fetch,
                      const QByteArray &headerCharset = QByteArray());

// The explanation for a terminal or a text box; the first line says what to
// fix first. With `colour`, problems are red and outcomes bold (ANSI).
QString explanationText(const PageTrace &trace, bool colour = false);

// The same facts for tools; the schema is in docs/try-json.md.
QJsonObject explanationJson(const PageTrace &trace);

// One link of a list page and what a scheme-two crawl makes of it.
struct LinkTrace
{
    QString address;   // as listed
    QString link;      // as the crawl keeps it; empty when it leaves the site
    QString text;      // the link's text, blanks at its ends left out
    QString asContent; // why it is not taken as a content page; empty when it is
    QString asList;    // the same as a list page
};

// The links of the list page `pageBytes` at `url` and, for each, the scheme
// part that kept or refused it.
QList<LinkTrace> explainLinks(const QString &taskText, const QByteArray &pageBytes,
                              const QString &url, const QByteArray &headerCharset = QByteArray());
// Them for a terminal or a text box; the first line says what to fix.
QString linksText(const QList<LinkTrace> &links, bool colour = false);

} // namespace caiji
