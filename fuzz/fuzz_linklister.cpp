// The link lister on any page: "page NUL address of the page" (a fixed
// address when the second part is empty). Where the plain scan reads the page
// without the parser, its listing must be the parser's.
#include "engine/linklister.h"
#include "engine/linkscan.h"
#include "fuzzinput.h"

using namespace Qt::StringLiterals;
using namespace caiji;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList args = fuzz::arguments(data, size, 2);
    const QString url = args[1].isEmpty() ? u"http://www.example.com/news/index.htm"_s : args[1];
    const QString listing = ListLinks(url, args[0]);
    if (scanWellFormedLinks(args[0].toUtf8()))
        fuzz::require(listing == ListLinksParsed(url, args[0]),
                      "the plain scan lists what the parser lists");
    if (listing.isEmpty())
        return 0;
    // Links are "ur=[[address]]ut=[[text]]" with http(s) addresses.
    fuzz::require(listing.startsWith(u"ur=[[http://"_s, Qt::CaseInsensitive) ||
                      listing.startsWith(u"ur=[[https://"_s, Qt::CaseInsensitive),
                  "a listing starts with an http(s) address");
    fuzz::require(listing.contains(u"]]ut=[["_s) && listing.endsWith(u"]]"_s),
                  "a link's text follows its address and is closed");
    return 0;
}
