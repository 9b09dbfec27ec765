#include "engine/linkscan.h"

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace caiji {

namespace {

// The parser reads at most this many characters of a tag or attribute name
// and starts a new name with the rest.
constexpr qsizetype kNameLimit = 100;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isLetter(char c)
{
    const char lower = char(c | 0x20);
    return lower >= 'a' && lower <= 'z';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isNameChar(char c)
{
    return isLetter(c) || isDigit(c) || c == ':' || c == '-' || c == '_' || c == '.';
}

// The first `c` in [from, to), or nothing.
const char *find(const char *from, const char *to, char c)
{
    return static_cast<const char *>(std::memchr(from, c, size_t(to - from)));
}

// How an entity or instruction name may start.
bool isNameStart(char c)
{
    return isLetter(c) || c == '_' || c == ':';
}

// How a tag or attribute name may start: the parser reads those more loosely.
bool isTagNameStart(char c)
{
    return isNameStart(c) || c == '.';
}

// Inline elements that may sit inside a link without the parser closing
// anything: none of them ends a link or another of them by starting, so
// inside a link they end exactly at their own end tags.
constexpr std::string_view kInline[] = {"span", "code", "em",     "strong", "b",     "i",
                                        "tt",   "kbd",  "var",    "samp",   "abbr",  "acronym",
                                        "cite", "dfn",  "sub",    "sup",    "small", "big",
                                        "u",    "s",    "strike", "font",   "q",     "bdo"};
// Elements the parser ends as soon as they start.
constexpr std::string_view kEmpty[] = {"img", "br"};

// The characters the parser accepts from a character reference.
bool isXmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(QByteArray &out, uint32_t c)
{
    out += QStringView(QChar::fromUcs4(char32_t(c))).toUtf8();
}

class Scanner
{
public:
    Scanner(const char *begin, const char *end) : m_p(begin), m_end(end) {}

    bool run();
    PageLinks take() { return std::move(m_links); }

private:
    struct Tag
    {
        std::array<char, kNameLimit> buffer; // only the first `length` are set
        qsizetype length = 0;
        bool selfClosed = false; // a start tag ending in "/>"
        bool loose = false;      // an end tag with more than blanks after its name
        std::string_view name() const { return {buffer.data(), size_t(length)}; }
    };
    enum class Wanted { None, Link, Area, Base };

    // Whether the text at the cursor starts with `prefix`, letter case ignored.
    bool at(std::string_view prefix) const
    {
        return m_end - m_p >= qsizetype(prefix.size()) &&
               qstrnicmp(m_p, prefix.data(), qsizetype(prefix.size())) == 0;
    }
    void skipBlanks()
    {
        while (m_p < m_end && isBlank(*m_p))
            ++m_p;
    }
    bool readName(Tag &tag);
    bool startTag(Tag &tag, Wanted wanted, QByteArray *href, QByteArray *alt);
    bool attributeValue(bool keep, QByteArray &value);
    bool reference(QByteArray &out);
    bool endTag(Tag &tag);
    bool skipComment();
    bool skipDoctype();
    bool skipRawText(std::string_view name);
    bool skipProcessingInstruction();
    bool prologue();
    bool outside();
    bool insideLink();
    bool linkText(const char *to);

    const char *m_p;
    const char *const m_end;
    PageLinks m_links;
    std::vector<std::string_view> m_inner; // inline elements open inside the link
};

bool Scanner::readName(Tag &tag)
{
    tag.length = 0;
    while (m_p < m_end && isNameChar(*m_p)) {
        if (tag.length == kNameLimit)
            return false;
        tag.buffer[size_t(tag.length++)] = char(*m_p >= 'A' && *m_p <= 'Z' ? *m_p | 0x20 : *m_p);
        ++m_p;
    }
    return m_p < m_end;
}

// A start tag from its name on: attributes (a value quoted, unquoted or none)
// up to ">" or "/>". Keeps the first href (and alt) when asked; the parser
// drops a repeated attribute.
bool Scanner::startTag(Tag &tag, Wanted wanted, QByteArray *href, QByteArray *alt)
{
    bool seenHref = false;
    bool seenAlt = false;
    for (;;) {
        skipBlanks();
        if (m_p == m_end)
            return false;
        if (*m_p == '>') {
            ++m_p;
            tag.selfClosed = false;
            return true;
        }
        if (*m_p == '/' && m_p + 1 < m_end && m_p[1] == '>') {
            m_p += 2;
            tag.selfClosed = true;
            return true;
        }
        if (!isTagNameStart(*m_p))
            return false;
        Tag attribute;
        if (!readName(attribute))
            return false;
        const std::string_view name = attribute.name();
        QByteArray *keep = nullptr;
        if (wanted != Wanted::None && name == "href" && !seenHref) {
            keep = href;
            seenHref = true;
        } else if (wanted == Wanted::Area && name == "alt" && !seenAlt) {
            keep = alt;
            seenAlt = true;
        }
        skipBlanks();
        if (m_p < m_end && *m_p == '=') {
            ++m_p;
            skipBlanks();
            QByteArray ignored;
            if (!attributeValue(keep != nullptr, keep ? *keep : ignored))
                return false;
        }
    }
}

bool Scanner::attributeValue(bool keep, QByteArray &value)
{
    if (m_p == m_end)
        return false;
    const char quote = *m_p;
    const char *end;
    if (quote == '"' || quote == '\'') {
        end = find(m_p + 1, m_end, quote);
        if (!end)
            return false;
        ++m_p;
    } else {
        end = m_p;
        while (end < m_end && !isBlank(*end) && *end != '>')
            ++end;
        if (end == m_end)
            return false;
    }
    if (keep) {
        // References end before the value's end: names and digits never
        // hold a quote, a blank or ">".
        while (m_p < end) {
            const char *amp = find(m_p, end, '&');
            const char *chunkEnd = amp ? amp : end;
            value.append(m_p, chunkEnd - m_p);
            m_p = chunkEnd;
            if (amp && !reference(value))
                return false;
        }
    }
    m_p = quote == '"' || quote == '\'' ? end + 1 : end;
    return true;
}

// A reference at "&", as the parser turns it into characters: a known entity
// or a valid character number is replaced, anything else stays as written. A
// number the parser refuses, or a name it reads the long way, is given up.
bool Scanner::reference(QByteArray &out)
{
    const char *p = m_p + 1;
    if (p < m_end && *p == '#') {
        ++p;
        const bool hex = p < m_end && (*p == 'x' || *p == 'X');
        p += hex;
        uint32_t value = 0;
        while (p < m_end && *p != ';') {
            int digit;
            if (isDigit(*p))
                digit = *p - '0';
            else if (hex && (*p | 0x20) >= 'a' && (*p | 0x20) <= 'f')
                digit = (*p | 0x20) - 'a' + 10;
            else
                break;
            if (value < 0x110000)
                value = value * (hex ? 16 : 10) + uint32_t(digit);
            ++p;
        }
        if (p < m_end && *p == ';')
            ++p;
        if (!isXmlChar(value))
            return false;
        appendUtf8(out, value);
        m_p = p;
        return true;
    }
    if (p == m_end || static_cast<unsigned char>(*p) >= 0x80)
        return false;
    if (!isNameStart(*p)) {
        out += '&';
        m_p = p;
        return true;
    }
    const char *nameStart = p;
    while (p < m_end && (isNameChar(*p)))
        ++p;
    if (p == m_end || static_cast<unsigned char>(*p) >= 0x80)
        return false;
    const QByteArray name(nameStart, p - nameStart);
    const htmlEntityDesc *entity =
        *p == ';' ? htmlEntityLookup(reinterpret_cast<const xmlChar *>(name.constData())) : nullptr;
    if (entity && entity->value > 0) {
        appendUtf8(out, entity->value);
        m_p = p + 1;
    } else {
        out += '&';
        out += name;
        m_p = p;
    }
    return true;
}

bool Scanner::endTag(Tag &tag)
{
    m_p += 2;
    if (m_p == m_end || !isTagNameStart(*m_p))
        return false;
    if (!readName(tag))
        return false;
    skipBlanks();
    const char *close = find(m_p, m_end, '>');
    if (!close)
        return false;
    tag.loose = close != m_p;
    m_p = close + 1;
    return true;
}

// "<!--" to the first "-->" or "--!>" after it.
bool Scanner::skipComment()
{
    for (const char *p = m_p + 4; p + 2 < m_end; ++p) {
        p = find(p, m_end, '-');
        if (!p || p + 2 >= m_end)
            return false;
        if (p[1] != '-')
            continue;
        if (p[2] == '>') {
            m_p = p + 3;
            return true;
        }
        if (p[2] == '!' && p + 3 < m_end && p[3] == '>') {
            m_p = p + 4;
            return true;
        }
    }
    return false;
}

// "<!DOCTYPE" to its first ">", when no quoted identifier could hold it.
bool Scanner::skipDoctype()
{
    const char *close = find(m_p, m_end, '>');
    if (!close)
        return false;
    const std::string_view declaration(m_p, size_t(close - m_p));
    if (declaration.find('\'') != std::string_view::npos)
        return false;
    size_t quotes = 0;
    for (char c : declaration)
        quotes += c == '"';
    if (quotes % 2)
        return false;
    m_p = close + 1;
    return true;
}

// "<?" and a target name to the first ">"; without a name the parser reads
// on as text, which is given up.
bool Scanner::skipProcessingInstruction()
{
    const char *p = m_p + 2;
    if (p == m_end || !isNameStart(*p))
        return false;
    while (p < m_end && isNameChar(*p))
        ++p;
    if (p == m_end || static_cast<unsigned char>(*p) >= 0x80)
        return false;
    const char *close = find(p, m_end, '>');
    if (!close)
        return false;
    m_p = close + 1;
    return true;
}

// Script and style text runs to the first "</" followed by the element's
// name; nothing inside is markup.
bool Scanner::skipRawText(std::string_view name)
{
    const auto closes = [&](const char *p) {
        return m_end - p > qsizetype(name.size()) + 2 && p[1] == '/' &&
               qstrnicmp(p + 2, name.data(), qsizetype(name.size())) == 0;
    };
    // Right after the start tag the parser still reads tags: another end tag
    // there may close the element, so may some start tags.
    if (m_end - m_p > 1 && *m_p == '<' && !closes(m_p) && (isNameStart(m_p[1]) || m_p[1] == '/'))
        return false;
    for (const char *p = m_p; p < m_end; ++p) {
        p = find(p, m_end, '<');
        if (!p)
            return false;
        if (!closes(p))
            continue;
        // The parser would read a longer name and carry on in the text.
        if (isNameChar(p[2 + name.size()]))
            return false;
        m_p = p;
        Tag tag;
        return endTag(tag);
    }
    return false;
}

// Outside links only tags count: text, end tags and comments are stepped over.
bool Scanner::outside()
{
    while (m_p < m_end) {
        m_p = find(m_p, m_end, '<');
        if (!m_p)
            return true;
        if (m_p + 1 == m_end)
            return true;
        const char next = m_p[1];
        if (next == '/') {
            if (m_p + 2 < m_end && isTagNameStart(m_p[2])) {
                Tag tag;
                if (!endTag(tag))
                    return false;
            } else {
                m_p += 2;
            }
            continue;
        }
        if (next == '!') {
            if (at("<!--")) {
                if (!skipComment())
                    return false;
            } else if (at("<!DOCTYPE")) {
                // Past the start the parser reads what follows it its own way.
                return false;
            } else {
                ++m_p;
            }
            continue;
        }
        if (next == '?') {
            if (!skipProcessingInstruction())
                return false;
            continue;
        }
        if (!isLetter(next)) {
            ++m_p;
            continue;
        }
        ++m_p;
        Tag tag;
        if (!readName(tag))
            return false;
        const std::string_view name = tag.name();
        const Wanted wanted = name == "a"      ? Wanted::Link
                              : name == "area" ? Wanted::Area
                              : name == "base" ? Wanted::Base
                                               : Wanted::None;
        PageLink link;
        QByteArray baseHref;
        if (!startTag(tag, wanted, wanted == Wanted::Base ? &baseHref : &link.href, &link.text))
            return false;
        switch (wanted) {
        case Wanted::None:
            if (!tag.selfClosed && (name == "script" || name == "style") && !skipRawText(name))
                return false;
            break;
        case Wanted::Base: {
            const QString href = QString::fromUtf8(baseHref).trimmed();
            if (!href.isEmpty())
                m_links.base = href;
            break;
        }
        case Wanted::Area:
            m_links.links.push_back(std::move(link));
            break;
        case Wanted::Link:
            m_links.links.push_back(std::move(link));
            if (!tag.selfClosed && !insideLink())
                return false;
            break;
        }
    }
    return true;
}

// Text of a link up to `to`: characters and references; a character the
// parser would drop is given up.
bool Scanner::linkText(const char *to)
{
    QByteArray &text = m_links.links.back().text;
    while (m_p < to) {
        const char *p = m_p;
        while (p < to && *p != '&') {
            const auto c = static_cast<unsigned char>(*p);
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            if (c == 0xEF && p + 2 < to && static_cast<unsigned char>(p[1]) == 0xBF &&
                (static_cast<unsigned char>(p[2]) & 0xFE) == 0xBE)
                return false;
            ++p;
        }
        text.append(m_p, p - m_p);
        m_p = p;
        if (p < to && !reference(text))
            return false;
    }
    return true;
}

// From after a link's start tag to its end tag; only text, comments and the
// inline elements, properly nested, may come between.
bool Scanner::insideLink()
{
    m_inner.clear();
    while (m_p < m_end) {
        const char *lt = find(m_p, m_end, '<');
        if (!lt)
            return false;
        if (!linkText(lt))
            return false;
        m_p = lt;
        if (m_p + 1 == m_end)
            return false;
        const char next = m_p[1];
        if (next == '/') {
            Tag tag;
            if (!endTag(tag) || tag.loose)
                return false;
            if (m_inner.empty())
                return tag.name() == "a";
            if (tag.name() != m_inner.back())
                return false;
            m_inner.pop_back();
            continue;
        }
        if (at("<!--")) {
            if (!skipComment())
                return false;
            continue;
        }
        if (next == '?' || at("<!DOCTYPE"))
            return false;
        if (!isLetter(next)) {
            // Not markup: the parser reads the "<" as text.
            m_links.links.back().text += '<';
            ++m_p;
            continue;
        }
        ++m_p;
        Tag tag;
        if (!readName(tag) || !startTag(tag, Wanted::None, nullptr, nullptr))
            return false;
        const std::string_view name = tag.name();
        if (std::find(std::begin(kEmpty), std::end(kEmpty), name) != std::end(kEmpty))
            continue;
        const auto inlineTag = std::find(std::begin(kInline), std::end(kInline), name);
        if (inlineTag == std::end(kInline))
            return false;
        if (!tag.selfClosed)
            m_inner.push_back(*inlineTag);
    }
    return false;
}

// Blanks, comments and processing instructions, then a document type
// declaration, may open the page.
bool Scanner::prologue()
{
    skipBlanks();
    for (bool doctype = true;;) {
        if (at("<!--")) {
            if (!skipComment())
                return false;
        } else if (at("<?")) {
            if (!skipProcessingInstruction())
                return false;
        } else if (doctype && at("<!DOCTYPE")) {
            if (!skipDoctype())
                return false;
            doctype = false;
        } else {
            return true;
        }
        skipBlanks();
    }
}

bool Scanner::run()
{
    return prologue() && outside();
}

} // namespace

std::optional<PageLinks> scanWellFormedLinks(QByteArrayView html)
{
    // The parser stops at a NUL and reads a byte order mark its own way.
    if (html.isEmpty() || std::memchr(html.data(), 0, size_t(html.size())) ||
        html.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    Scanner scanner(html.data(), html.data() + html.size());
    if (!scanner.run())
        return std::nullopt;
    return scanner.take();
}

} // namespace caiji
