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

} // namespace caiji
