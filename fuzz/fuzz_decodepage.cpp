// Reading a fetched page's bytes: the GB18030 first read, the charset
// declaration and the byte sniff.
#include "fuzzinput.h"
#include "text/readtext.h"

#include <QByteArray>

using namespace caiji;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString page = decodePage(bytes);
    // Fewer than ten bytes cannot hold the ten characters a page needs.
    if (size < 10)
        fuzz::require(page.isEmpty(), "a page of fewer than 10 bytes reads as empty");
    return 0;
}
