#include "text/names.h"

#include <QCryptographicHash>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Page files add " .txt"; 255 bytes is the usual file-name limit.
constexpr qsizetype MaxNameBytes = 255 - 5;
constexpr qsizetype HashChars = 32;

bool isShown(char16_t c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0x4E00 && c <= 0x9FA5) ||
           (c >= 0xF900 && c <= 0xFA2D) || (c >= 0xFF10 && c <= 0xFF19) ||
           (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A);
}

int displayWidth(QChar c)
{
    return c.unicode() < 256 ? 1 : 2;
}

QString shortened(const QString &encoded, const QString &original)
{
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(original.toUtf8(), QCryptographicHash::Sha256)
                                .toHex()
                                .left(HashChars));
    const qsizetype budget = MaxNameBytes - 1 - HashChars;
    QString prefix;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const bool pair = encoded[i].isHighSurrogate() && i + 1 < encoded.size() &&
                          encoded[i + 1].isLowSurrogate();
        const QStringView unit = QStringView(encoded).sliced(i, pair ? 2 : 1);
        const qsizetype size = unit.toUtf8().size();
        if (bytes + size > budget)
            break;
        prefix += unit;
        bytes += size;
        if (pair)
            ++i;
    }
    return prefix + u'~' + hash;
}

} // namespace

QString name1(const QString &hds1)
{
    static const char16_t replaced[] = u"\\/:*?\"<>|";
    QString name = hds1;
    for (int i = 0; i < 9; ++i)
        name.replace(QChar(replaced[i]), u'\u2640' + QString::number(i + 1));
    if (name.toUtf8().size() > MaxNameBytes)
        return shortened(name, hds1);
    return name;
}

int okchar(const QString &text)
{
    return !text.isEmpty() && isShown(text[0].unicode()) ? 1 : 0;
}

QString padcut(const QString &value, int width)
{
    QString shown;
    shown.reserve(value.size());
    for (QChar c : value) {
        if (isShown(c.unicode()))
            shown += c;
    }
    QStringView text(shown);
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);

    QString out;
    int columns = 0;
    for (QChar c : text) {
        if (columns + displayWidth(c) > width)
            return out;
        out += c;
        columns += displayWidth(c);
    }
    // The value is padded with 500 blanks before it is cut.
    const int blanks = std::clamp(width - columns, 0, 500);
    out += QString(blanks, u' ');
    return out;
}

QString rus(const QString &hds1)
{
    if (hds1.size() <= 1)
        return {};
    QString line;
    for (const QString &value : hds1.sliced(1).split(u'^'))
        line += padcut(value, 20) + u"    ";
    return line;
}

} // namespace caiji
