// Turns a list page into its link listing: for every <a href> and <area href>
// in page order, "ur=[[address]]ut=[[text]]" with the address made complete
// (against the page address and any <base>) and only http(s) kept.
#pragma once

#include <QString>

namespace caiji {

QString ListLinks(const QString &url, const QString &page);

} // namespace caiji
