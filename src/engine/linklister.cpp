#include "engine/linklister.h"

#include "engine/linkscan.h"
#include "text/positions.h"

#include <QHash>
#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// The parser's events are read as they come: no document tree is built. A
// link's text is every character the parser reports between its start and
// end, as the tree would hold below it; the address is resolved at the end,
// because a <base> later in the page applies to the links before it too.
struct Listing
{
    PageLinks page;
    std::vector<size_t> open; // links whose end has not come, innermost last
};

bool isTag(const xmlChar *name, const char *tag)
{
    return xmlStrcasecmp(name, reinterpret_cast<const xmlChar *>(tag)) == 0;
}

// The value of `key` among the start tag's attributes; a key without a value
// reads as empty, a missing key as nothing.
const xmlChar *attribute(const xmlChar **atts, const char *key)
{
    for (const xmlChar **a = atts; a && a[0]; a += 2) {
        if (isTag(a[0], key))
            return a[1] ? a[1] : reinterpret_cast<const xmlChar *>("");
    }
    return nullptr;
}

void onStart(void *context, const xmlChar *name, const xmlChar **atts)
{
    auto &listing = *static_cast<Listing *>(context);
    if (isTag(name, "base")) {
        const QString href =
            QString::fromUtf8(reinterpret_cast<const char *>(attribute(atts, "href"))).trimmed();
        if (!href.isEmpty())
            listing.page.base = href;
        return;
    }
    const bool area = isTag(name, "area");
    if (!area && !isTag(name, "a"))
        return;
    PageLink link;
    if (const xmlChar *href = attribute(atts, "href"))
        link.href = reinterpret_cast<const char *>(href);
    if (area) {
        if (const xmlChar *alt = attribute(atts, "alt"))
            link.text = reinterpret_cast<const char *>(alt);
    }
    listing.page.links.push_back(std::move(link));
    if (!area)
        listing.open.push_back(listing.page.links.size() - 1);
}

void onEnd(void *context, const xmlChar *name)
{
    auto &listing = *static_cast<Listing *>(context);
    if (!listing.open.empty() && isTag(name, "a"))
        listing.open.pop_back();
}

void onText(void *context, const xmlChar *text, int length)
{
    auto &listing = *static_cast<Listing *>(context);
    for (size_t index : listing.open)
        listing.page.links[index].text.append(reinterpret_cast<const char *>(text), length);
}

QString escapeClosers(QString text)
{
    // Almost no address holds "]]": the replacement's matcher is built only then.
    if (!text.contains(u"]]"))
        return text;
    return text.replace(u"]]"_s, u"] ]"_s);
}

// A link's text is read back up to the first "]]" and trimmed, and the
// listing is searched for "ur=[[": a text must not end in "]" nor hold "[[",
// or a page could cut its own text short or slip in addresses of its choice.
QString escapeText(QString text)
{
    if (!text.contains(u'[') && !text.contains(u']'))
        return text;
    text = escapeClosers(text.replace(u"[["_s, u"[ ["_s));
    if (text.endsWith(u']'))
        text += u' ';
    return text;
}

// The parser's listing, for pages the plain scan gives up on.
PageLinks parsedLinks(const QByteArray &html, const QString &url)
{
    htmlSAXHandler handler{};
    handler.startElement = onStart;
    handler.endElement = onEnd;
    handler.characters = onText;
    handler.cdataBlock = onText; // script and style text
    Listing listing;
    const std::unique_ptr<htmlParserCtxt, decltype(&htmlFreeParserCtxt)> context(
        htmlNewParserCtxt(), htmlFreeParserCtxt);
    if (!context)
        return {};
    *context->sax = handler;
    context->userData = &listing;
    const QByteArray baseUrl = url.toUtf8();
    htmlCtxtReadMemory(context.get(), html.constData(),
                       int(std::min<qsizetype>(html.size(), INT_MAX)), baseUrl.constData(), "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                           HTML_PARSE_NONET);
    return std::move(listing.page);
}

// "ur=[[address]]ut=[[text]]" for every link with an http(s) address.
QString formatListing(const PageLinks &links, const QString &url)
{
    const QUrl base = links.base.isEmpty() ? QUrl(url) : QUrl(url).resolved(QUrl(links.base));

    // Pages repeat their addresses (menus, "top" links): each is resolved once.
    QHash<QByteArray, QString> resolved;
    resolved.reserve(qsizetype(links.links.size()));
    const auto addressOf = [&](const QByteArray &hrefBytes) {
        auto it = resolved.constFind(hrefBytes);
        if (it != resolved.cend())
            return *it;
        QString complete;
        const QString href = QString::fromUtf8(hrefBytes).trimmed();
        if (!href.isEmpty()) {
            const QUrl address = base.resolved(QUrl(href));
            const QString scheme = address.scheme().toLower();
            if (address.isValid() && (scheme == u"http"_s || scheme == u"https"_s) &&
                !address.host().isEmpty())
                complete = escapeClosers(address.toString());
        }
        resolved.insert(hrefBytes, complete);
        return complete;
    };

    QString result;
    result.reserve(links.links.size() * 64);
    for (const PageLink &link : links.links) {
        const QString address = addressOf(link.href);
        if (address.isEmpty())
            continue;
        result += u"ur=[[";
        result += address;
        result += u"]]ut=[[";
        result += escapeText(QString::fromUtf8(link.text).simplified());
        result += u"]]";
    }
    return result;
}

} // namespace

QString ListLinks(const QString &url, const QString &page)
{
    return ListLinksOfUtf8(url, page.toUtf8());
}

QString ListLinksOfUtf8(const QString &url, const QByteArray &html)
{
    if (html.isEmpty())
        return {};
    std::optional<PageLinks> scanned = scanWellFormedLinks(html);
    return formatListing(scanned ? *scanned : parsedLinks(html, url), url);
}

qsizetype listingAddressEnd(const QString &listing, qsizetype start)
{
    // Addresses and texts hold no "]]", so the first "]]ut=[[" closes this
    // address.
    return instr(start, listing, u"]]ut=[[");
}

QString listedTitle(const QString &listing, qsizetype addressEnd)
{
    const qsizetype t1 = instr(addressEnd, listing, u"ut=[[") + 5;
    const qsizetype t2 = instr(t1, listing, u"]]");
    return t2 > 0 ? mid(listing, t1, t2 - t1) : QString();
}

QString ListLinksParsed(const QString &url, const QString &page)
{
    const QByteArray html = page.toUtf8();
    return html.isEmpty() ? QString() : formatListing(parsedLinks(html, url), url);
}

} // namespace caiji
