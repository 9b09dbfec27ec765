#include "fuzzinput.h"

#include <cstdio>
#include <cstdlib>

namespace caiji::fuzz {

QStringList arguments(const uint8_t *data, size_t size, int count)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    QString text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        const size_t units = (size - 2) / 2;
        text.resize(qsizetype(units));
        for (size_t i = 0; i < units; ++i)
            text[qsizetype(i)] = QChar(char16_t(data[2 + 2 * i] | data[3 + 2 * i] << 8));
    } else {
        text = QString::fromUtf8(bytes, qsizetype(size));
    }
    QStringList parts = text.split(QChar(0));
    if (parts.size() > count) {
        const QString last = parts.sliced(count - 1).join(QChar(0));
        parts.resize(count - 1);
        parts.append(last);
    }
    while (parts.size() < count)
        parts.append(QString());
    return parts;
}

void require(bool ok, const char *property)
{
    if (ok)
        return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}

} // namespace caiji::fuzz
