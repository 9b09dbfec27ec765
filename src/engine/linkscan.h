// Reads the links of a page written in plain, well-formed markup straight off
// its bytes, giving what libxml2's HTML parser would report for them, at a
// fraction of the parser's cost. Where the parser's error recovery could
// decide what a link holds (a link left open or nested, a block inside a link,
// a quote never closed, a processing instruction, a NUL byte, ...) it gives up
// and the caller parses the page.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace caiji {

struct PageLink
{
    QByteArray href; // as written, entities decoded; empty when missing
    QByteArray text; // every character inside the link; an area's alt
};

struct PageLinks
{
    std::vector<PageLink> links; // in page order
    QString base;                // the last non-blank <base href>, trimmed
};

std::optional<PageLinks> scanWellFormedLinks(QByteArrayView html);

} // namespace caiji
