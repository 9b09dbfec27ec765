#include "text/readtext.h"

#include "text/numbers.h"
#include "text/positions.h"

#include <QFile>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

std::optional<QByteArray> readBytes(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt; // QFile would warn about the missing name
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QString decode(const char *charset, const QByteArray &bytes)
{
    QStringDecoder decoder(charset);
    if (!decoder.isValid())
        return {};
    return decoder.decode(bytes);
}

QString decodeUtf8(const QByteArray &bytes)
{
    // A byte-order mark is not part of the text.
    QStringDecoder decoder(QStringConverter::Utf8);
    return decoder.decode(bytes);
}

// Undeclared pages: only the bytes 0xFE and 0xFF fit no UTF-8 pattern. The
// first 3 and the last 19 bytes are not examined.
bool sniffsAsUtf8(const QByteArray &bytes)
{
    for (qsizetype i = 3; i <= bytes.size() - 20; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0xFE || b == 0xFF)
            return false;
    }
    return true;
}

} // namespace

QString readtext(const QString &path)
{
    const std::optional<QByteArray> bytes = readBytes(path);
    return bytes ? decodePage(*bytes) : QString();
}

namespace {

enum class PageSet { Gb18030, Utf8, Big5 };
constexpr const char *setNames[] = {"GB18030", "UTF-8", "Big5"};

// A declaration in the page's head, the set it names and how it is shown. The
// plain forms come first, the quoted and other names after them, so pages the
// plain forms decide read exactly as before the others were known.
struct Declaration
{
    const char *marker;
    PageSet set;
    const char *shown;
};
constexpr Declaration declarations[] = {
    {"charset=gb2312", PageSet::Gb18030, "charset=gb2312"},
    {"charset=utf-8", PageSet::Utf8, "charset=utf-8"},
    {"charset=big", PageSet::Big5, "charset=big5"},
    {"charset=\"gb2312", PageSet::Gb18030, "charset=gb2312"},
    {"charset='gb2312", PageSet::Gb18030, "charset=gb2312"},
    {"charset=gbk", PageSet::Gb18030, "charset=gbk"},
    {"charset=\"gbk", PageSet::Gb18030, "charset=gbk"},
    {"charset='gbk", PageSet::Gb18030, "charset=gbk"},
    {"charset=gb18030", PageSet::Gb18030, "charset=gb18030"},
    {"charset=\"gb18030", PageSet::Gb18030, "charset=gb18030"},
    {"charset='gb18030", PageSet::Gb18030, "charset=gb18030"},
    {"charset=\"utf-8", PageSet::Utf8, "charset=utf-8"},
    {"charset='utf-8", PageSet::Utf8, "charset=utf-8"},
    {"charset=\"big5", PageSet::Big5, "charset=big5"},
    {"charset='big5", PageSet::Big5, "charset=big5"},
};

// decodePage; with `undecoded`, a page read as UTF-8 whose bytes are already
// valid UTF-8 without a byte-order mark is not decoded: the text is empty and
// *undecoded true, the bytes being the text's UTF-8 form as they are.
QString readPage(const QByteArray &pageBytes, PageCharset *charset, bool *undecoded)
{
    const auto chose = [charset](const QString &name, const QString &reason) {
        if (charset)
            *charset = {name, reason};
    };
    const QByteArray *bytes = &pageBytes;
    // The declaration is looked for in the first 500 characters of the
    // GB18030 reading; 4096 bytes hold at least 1024 characters, so only the
    // final decoding reads the whole file.
    constexpr qsizetype HeadBytes = 4096;
    constexpr qsizetype HeadChars = 500;
    const bool whole = bytes->size() <= HeadBytes;
    // Most pages begin with 500 ASCII bytes, which are their first 500
    // characters in GB18030 too: then the declaration is read off the bytes.
    const QByteArrayView asciiHead =
        QByteArrayView(*bytes).first(std::min(HeadChars, bytes->size()));
    const bool asciiStart =
        bytes->size() >= HeadChars &&
        std::all_of(asciiHead.begin(), asciiHead.end(), [](char c) { return (c & 0x80) == 0; });
    QString first;
    if (!asciiStart) {
        first = decode("GB18030", whole ? *bytes : bytes->first(HeadBytes));
        if (first.size() < 10)
            return {};
    }
    const auto utf8 = [&] {
        if (undecoded && !bytes->startsWith("\xEF\xBB\xBF") && bytes->isValidUtf8()) {
            *undecoded = true;
            return QString();
        }
        return decodeUtf8(*bytes);
    };
    const auto ansi = [&] { return whole && !asciiStart ? first : decode("GB18030", *bytes); };
    const QString head = lowerSameLength(
        asciiStart ? QString::fromLatin1(asciiHead)
                   : QStringView(first).first(std::min(HeadChars, first.size())).toString());
    const auto declares = [&](const char *charset) {
        return head.contains(QLatin1StringView(charset));
    };
    const auto read = [&](PageSet set) {
        return set == PageSet::Utf8   ? utf8()
               : set == PageSet::Big5 ? decode("Big5", *bytes)
                                      : ansi();
    };
    for (const Declaration &declaration : declarations) {
        if (declares(declaration.marker)) {
            chose(QLatin1StringView(setNames[int(declaration.set)]),
                  u"前500个字符中声明了"_s + QLatin1StringView(declaration.shown));
            return read(declaration.set);
        }
    }
    if (sniffsAsUtf8(*bytes)) {
        chose(u"UTF-8"_s, u"没有声明；字节中没有0xFE和0xFF，按UTF-8读"_s);
        return utf8();
    }
    chose(u"GB18030"_s, u"没有声明；字节中有0xFE或0xFF，按默认的GB18030读"_s);
    return ansi();
}

} // namespace

QString decodePage(const QByteArray &pageBytes, PageCharset *charset)
{
    return readPage(pageBytes, charset, nullptr);
}

QByteArray decodePageToUtf8(const QByteArray &pageBytes)
{
    bool undecoded = false;
    const QString text = readPage(pageBytes, nullptr, &undecoded);
    return undecoded ? pageBytes : text.toUtf8();
}

QString decodeTaskText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decode("GB18030", bytes);
}

QString readTaskText(const QString &path)
{
    const std::optional<QByteArray> bytes = readBytes(path);
    return bytes ? decodeTaskText(*bytes) : QString();
}

qint16 fieldCountOf(const QString &taskText)
{
    const qsizetype start = instr(1, taskText, u"uc=[[") + 5;
    const qsizetype end = instr(start, taskText, u"]]");
    const std::optional<QString> value = cutBetween(taskText, start, end);
    if (!value)
        return 0;
    return toInt16(*value).value_or(0);
}

qint16 getuc(const QString &hds1)
{
    return fieldCountOf(readTaskText(hds1));
}

} // namespace caiji
