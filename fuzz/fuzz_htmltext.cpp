// HTML to text, and the two rewriting steps it is made of with markers the
// input chooses: "text NUL marker NUL marker". The search under both is
// compared with Qt's.
#include "fuzzinput.h"
#include "text/htmltext.h"
#include "text/positions.h"

using namespace caiji;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList args = fuzz::arguments(data, size, 3);
    const QString &text = args[0];
    const QString &first = args[1];
    const QString &second = args[2];

    // Every step removes markup or puts a shorter text in its place.
    fuzz::require(htm2txt(text).size() <= text.size(), "htm2txt never lengthens a text");

    const QString removed = killchar(text, first, second);
    fuzz::require(removed.size() <= text.size(), "killchar never lengthens a text");
    if (first.isEmpty() || second.isEmpty())
        fuzz::require(removed == text, "killchar without both markers changes nothing");

    // A marker of two or more characters with a replacement as long or longer
    // can be rebuilt across the replacement's borders without end ("+x+x",
    // "+x" -> "xx++" never finishes): known, and no caller passes such a pair,
    // so only pairs whose rewriting must end are tried.
    const QString lowerFirst = lowerSameLength(first);
    const bool selfContaining = lowerSameLength(second).contains(lowerFirst);
    if (first.size() <= 1 || second.size() < first.size() || selfContaining) {
        const QString replaced = killonechar(text, first, second);
        // When the replacement cannot bring the marker back, none is left over.
        if (!first.isEmpty() && !selfContaining)
            fuzz::require(!lowerSameLength(replaced).contains(lowerFirst),
                          "killonechar leaves no marker behind");
    }

    for (const qsizetype from : {qsizetype(0), text.size() / 2, text.size()}) {
        fuzz::require(findText(text, first, from) == QStringView(text).indexOf(first, from),
                      "findText finds what indexOf finds");
    }
    return 0;
}
