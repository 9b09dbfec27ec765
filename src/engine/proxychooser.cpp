#include "engine/proxychooser.h"

#include "tasks/networksettings.h"

#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString variable(const QProcessEnvironment &environment, const QString &name)
{
    const QString lower = environment.value(name);
    return lower.isEmpty() ? environment.value(name.toUpper()) : lower;
}

std::optional<QNetworkProxy> proxyFrom(const QString &address)
{
    if (address.trimmed().isEmpty())
        return std::nullopt;
    QString error;
    return NetworkSettings::parseProxy(address.trimmed(), &error);
}

} // namespace

ProxyChooser::ProxyChooser(const std::optional<QNetworkProxy> &taskProxy,
                           const QProcessEnvironment &environment)
    : m_task(taskProxy)
{
    const std::optional<QNetworkProxy> all = proxyFrom(variable(environment, u"all_proxy"_s));
    m_http = proxyFrom(variable(environment, u"http_proxy"_s));
    m_https = proxyFrom(variable(environment, u"https_proxy"_s));
    if (!m_http)
        m_http = all;
    if (!m_https)
        m_https = all;
    static const QRegularExpression separators(u"[,\\s]+"_s);
    for (const QString &entry :
         variable(environment, u"no_proxy"_s).split(separators, Qt::SkipEmptyParts)) {
        if (entry == u"*"_s) {
            m_noProxyAll = true;
            continue;
        }
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(entry);
        if (!subnet.first.isNull())
            m_noProxySubnets << subnet;
        else
            m_noProxyNames << entry.toLower().remove(QRegularExpression(u"^\\."_s));
    }
}

bool ProxyChooser::bypasses(const QString &host) const
{
    if (m_noProxyAll)
        return true;
    const QHostAddress address(host);
    if (!address.isNull()) {
        return std::any_of(m_noProxySubnets.cbegin(), m_noProxySubnets.cend(),
                           [&](const auto &subnet) { return address.isInSubnet(subnet); }) ||
               m_noProxyNames.contains(host);
    }
    const QString name = host.toLower();
    return std::any_of(m_noProxyNames.cbegin(), m_noProxyNames.cend(), [&](const QString &entry) {
        return name == entry || name.endsWith(u'.' + entry);
    });
}

QNetworkProxy ProxyChooser::proxyFor(const QUrl &url) const
{
    if (m_task)
        return *m_task;
    const std::optional<QNetworkProxy> &proxy =
        url.scheme().toLower() == u"https"_s ? m_https : m_http;
    if (!proxy || bypasses(url.host()))
        return QNetworkProxy(QNetworkProxy::NoProxy);
    return *proxy;
}

QList<QNetworkProxy> ProxyChooser::queryProxy(const QNetworkProxyQuery &query)
{
    return {proxyFor(query.url())};
}

QString ProxyChooser::describe(const QNetworkProxy &proxy)
{
    if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::DefaultProxy)
        return {};
    return u"代理 "_s + proxy.hostName() + u':' + QString::number(proxy.port());
}

} // namespace caiji
