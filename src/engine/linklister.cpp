#include "engine/linklister.h"

#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString fromXml(const xmlChar *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

bool isElement(xmlNode *node, const char *name)
{
    return node->type == XML_ELEMENT_NODE &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

QString attribute(xmlNode *node, const char *name)
{
    xmlChar *value = xmlGetProp(node, reinterpret_cast<const xmlChar *>(name));
    const QString text = fromXml(value);
    xmlFree(value);
    return text;
}

// Depth-first, document order, without recursion (pages can nest deeply).
template <typename Visit> void walk(xmlNode *root, Visit visit)
{
    xmlNode *node = root;
    while (node) {
        const bool descend = visit(node);
        if (descend && node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next && node != root)
            node = node->parent;
        if (!node || node == root)
            break;
        node = node->next;
    }
}

QString visibleText(xmlNode *node)
{
    xmlChar *content = xmlNodeGetContent(node);
    const QString text = fromXml(content).simplified();
    xmlFree(content);
    return text;
}

QString escapeClosers(QString text)
{
    return text.replace(u"]]"_s, u"] ]"_s);
}

} // namespace

QString ListLinks(const QString &url, const QString &page)
{
    const QByteArray html = page.toUtf8();
    if (html.isEmpty())
        return {};
    const QByteArray baseUrl = url.toUtf8();
    htmlDocPtr doc = htmlReadMemory(
        html.constData(), int(std::min<qsizetype>(html.size(), INT_MAX)), baseUrl.constData(),
        "UTF-8", HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc)
        return {};
    xmlNode *root = xmlDocGetRootElement(doc);

    QUrl base(url);
    walk(root, [&](xmlNode *node) {
        if (isElement(node, "base")) {
            const QString href = attribute(node, "href").trimmed();
            if (!href.isEmpty())
                base = QUrl(url).resolved(QUrl(href));
            return false;
        }
        return true;
    });

    QString listing;
    walk(root, [&](xmlNode *node) {
        if (!isElement(node, "a") && !isElement(node, "area"))
            return true;
        const QString href = attribute(node, "href").trimmed();
        if (href.isEmpty())
            return true;
        const QUrl address = base.resolved(QUrl(href));
        const QString scheme = address.scheme().toLower();
        if (!address.isValid() || (scheme != u"http"_s && scheme != u"https"_s) ||
            address.host().isEmpty())
            return true;
        const QString text =
            isElement(node, "area") ? attribute(node, "alt").simplified() : visibleText(node);
        listing += u"ur=[["_s + escapeClosers(address.toString()) + u"]]ut=[["_s +
                   escapeClosers(text) + u"]]"_s;
        return true;
    });
    xmlFreeDoc(doc);
    return listing;
}

} // namespace caiji
