// Turns a list page into its link listing: for every <a href> and <area href>
// in page order, "ur=[[address]]ut=[[text]]" with the address made complete
// (against the page address and any <base>) and only http(s) kept.
#pragma once

#include <QString>

namespace caiji {

QString ListLinks(const QString &url, const QString &page);

// The same from the page's text in UTF-8 (see decodePageToUtf8).
QString ListLinksOfUtf8(const QString &url, const QByteArray &html);

// The same listing, always read through the HTML parser: ListLinks reads
// plain pages without it, and checks compare the two.
QString ListLinksParsed(const QString &url, const QString &page);

// Where the address that starts at `start` (1-based) in a listing ends: at the
// "]]" that opens its text, so that an address may itself end in "]". 0 when
// no address ends there.
qsizetype listingAddressEnd(const QString &listing, qsizetype start);
// The text of the link whose address ends at `addressEnd`, as listed.
QString listedTitle(const QString &listing, qsizetype addressEnd);

} // namespace caiji
