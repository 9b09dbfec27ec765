// Which proxy a request goes through: the task's own, or the one the
// environment names as curl and wget read it (http_proxy, https_proxy,
// all_proxy and no_proxy, in either case). Set on the network manager rather
// than the application, so loopback addresses go through the proxy too unless
// no_proxy names them.
#pragma once

#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QProcessEnvironment>
#include <QStringList>
#include <optional>

namespace caiji {

class ProxyChooser : public QNetworkProxyFactory
{
public:
    ProxyChooser(const std::optional<QNetworkProxy> &taskProxy,
                 const QProcessEnvironment &environment);

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;
    // The proxy for `url`; type NoProxy for a direct connection.
    QNetworkProxy proxyFor(const QUrl &url) const;
    // "代理 host:port", for failure reasons; empty without a proxy.
    static QString describe(const QNetworkProxy &proxy);

private:
    bool bypasses(const QString &host) const;

    std::optional<QNetworkProxy> m_task;
    std::optional<QNetworkProxy> m_http;
    std::optional<QNetworkProxy> m_https;
    bool m_noProxyAll = false;
    QStringList m_noProxyNames; // lower case, without a leading dot
    QList<QPair<QHostAddress, int>> m_noProxySubnets;
};

} // namespace caiji
