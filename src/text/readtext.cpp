#include "text/readtext.h"

#include "text/numbers.h"
#include "text/positions.h"

#include <QFile>
#include <QStringDecoder>

#include <unicode/ucsdet.h>

#include <memory>

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

} // namespace

QString readtext(const QString &path)
{
    const std::optional<QByteArray> bytes = readBytes(path);
    return bytes ? decodePage(*bytes) : QString();
}

namespace {

enum class PageSet { Gb18030, Utf8, Big5, Big5Hkscs };
constexpr const char *setNames[] = {"GB18030", "UTF-8", "Big5", "Big5-HKSCS"};

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

// The names a server's Content-Type gives these sets, with their aliases.
std::optional<PageSet> headerSet(const QByteArray &name)
{
    static const QList<std::pair<QByteArray, PageSet>> names = {
        {"gb2312", PageSet::Gb18030},
        {"gbk", PageSet::Gb18030},
        {"gb18030", PageSet::Gb18030},
        {"x-gbk", PageSet::Gb18030},
        {"cp936", PageSet::Gb18030},
        {"ms936", PageSet::Gb18030},
        {"windows-936", PageSet::Gb18030},
        {"euc-cn", PageSet::Gb18030},
        {"x-euc-cn", PageSet::Gb18030},
        {"csgb2312", PageSet::Gb18030},
        {"gb_2312-80", PageSet::Gb18030},
        {"big5", PageSet::Big5},
        {"x-big5", PageSet::Big5},
        {"csbig5", PageSet::Big5},
        {"cp950", PageSet::Big5},
        {"ms950", PageSet::Big5},
        {"big5-hkscs", PageSet::Big5Hkscs},
        {"utf-8", PageSet::Utf8},
        {"utf8", PageSet::Utf8},
        {"unicode-1-1-utf-8", PageSet::Utf8},
    };
    for (const auto &[known, set] : names) {
        if (name == known)
            return set;
    }
    return std::nullopt;
}

// Bytes that are not UTF-8 are Chinese text in GB18030 or Big5: ICU's
// detector tells which, and GB18030 wins when it is not sure.
std::pair<PageSet, int> detectChinese(const QByteArray &bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(ucsdet_open(&status),
                                                                              &ucsdet_close);
    if (U_FAILURE(status))
        return {PageSet::Gb18030, 0};
    // A page's first 64 KB tell its set as well as the whole.
    constexpr qsizetype Sample = 64 * 1024;
    ucsdet_setText(detector.get(), bytes.constData(), int(std::min(bytes.size(), Sample)), &status);
    int32_t found = 0;
    const UCharsetMatch **matches = ucsdet_detectAll(detector.get(), &found, &status);
    int gb = 0, big5 = 0;
    for (int32_t i = 0; U_SUCCESS(status) && i < found; ++i) {
        const QByteArray name(ucsdet_getName(matches[i], &status));
        const int confidence = ucsdet_getConfidence(matches[i], &status);
        if (name == "GB18030")
            gb = std::max(gb, confidence);
        else if (name == "Big5")
            big5 = std::max(big5, confidence);
    }
    return big5 > gb ? std::pair(PageSet::Big5, big5) : std::pair(PageSet::Gb18030, gb);
}

// decodePage; with `undecoded`, a page read as UTF-8 whose bytes are already
// valid UTF-8 without a byte-order mark is not decoded: the text is empty and
// *undecoded true, the bytes being the text's UTF-8 form as they are.
QString readPage(const QByteArray &pageBytes, PageCharset *charset, bool *undecoded,
                 const QByteArray &headerCharset)
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
    std::optional<bool> valid; // the bytes are UTF-8, looked at once
    const auto isUtf8 = [&] {
        if (!valid)
            valid = bytes->isValidUtf8();
        return *valid;
    };
    const auto utf8 = [&] {
        if (undecoded && !bytes->startsWith("\xEF\xBB\xBF") && isUtf8()) {
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
        switch (set) {
        case PageSet::Utf8:
            return utf8();
        case PageSet::Big5:
        case PageSet::Big5Hkscs:
            return decode(setNames[int(set)], *bytes);
        case PageSet::Gb18030:
            break;
        }
        return ansi();
    };
    const auto setName = [](PageSet set) { return QLatin1StringView(setNames[int(set)]); };
    for (const Declaration &declaration : declarations) {
        if (declares(declaration.marker)) {
            chose(setName(declaration.set),
                  u"前500个字符中声明了"_s + QLatin1StringView(declaration.shown));
            return read(declaration.set);
        }
    }
    // Bytes that are UTF-8 read as UTF-8 whatever else is said of them, as
    // they always did; the server's word decides between the other sets.
    const std::optional<PageSet> served = headerSet(headerCharset);
    if (served && (*served == PageSet::Utf8 || !isUtf8())) {
        chose(setName(*served), u"页面没有声明；服务器的Content-Type声明了charset="_s +
                                    QString::fromLatin1(headerCharset));
        return read(*served);
    }
    if (isUtf8()) {
        chose(u"UTF-8"_s, u"没有声明；字节是有效的UTF-8"_s);
        return utf8();
    }
    const auto [detected, confidence] = detectChinese(*bytes);
    chose(setName(detected), u"没有声明，字节也不是UTF-8；字符检测判断为"_s + setName(detected) +
                                 u"（把握"_s + QString::number(confidence) + u"%）"_s);
    return read(detected);
}

} // namespace

QString decodePage(const QByteArray &pageBytes, PageCharset *charset,
                   const QByteArray &headerCharset)
{
    return readPage(pageBytes, charset, nullptr, headerCharset);
}

QByteArray decodePageToUtf8(const QByteArray &pageBytes, const QByteArray &headerCharset,
                            PageCharset *charset)
{
    bool undecoded = false;
    const QString text = readPage(pageBytes, charset, &undecoded, headerCharset);
    return undecoded ? pageBytes : text.toUtf8();
}

qsizetype unreadableCharacters(QStringView text)
{
    return text.count(QChar::ReplacementCharacter);
}

QString decodeTaskText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decode(setNames[int(detectChinese(bytes).first)], bytes);
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
