// Desktop notifications where there is no tray icon to show a message: the
// freedesktop notification service on the session bus, each with a default
// action, so a click on it does what a click on a tray message does.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <functional>

namespace caiji {

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // Sends the notification without waiting for the service; `onClick`
    // runs when the user activates it. Nothing happens without a service.
    void notify(const QString &title, const QString &text, std::function<void()> onClick);

private Q_SLOTS:
    void actionInvoked(uint id, const QString &action);
    void closed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QHash<uint, std::function<void()>> m_clicks; // by notification id
};

} // namespace caiji
