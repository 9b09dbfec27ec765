#include "gui/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString Service = u"org.freedesktop.Notifications"_s;
const QString Path = u"/org/freedesktop/Notifications"_s;
const QString Interface = u"org.freedesktop.Notifications"_s;
constexpr int ExpireDefault = -1; // as the service sees fit

} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    // Signals of the bus connect only by their names.
    m_bus.connect(Service, Path, Interface, u"ActionInvoked"_s, this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, u"NotificationClosed"_s, this,
                  SLOT(closed(uint, uint)));
}

void DesktopNotifier::notify(const QString &title, const QString &text,
                             std::function<void()> onClick)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, u"Notify"_s);
    const QVariantMap hints{{u"desktop-entry"_s, u"caiji"_s}};
    call << u"caiji"_s << uint(0) << u"caiji"_s << title << text << QStringList{u"default"_s, title}
         << hints << ExpireDefault;
    // Waiting would hold the window up when the service is slow to start.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, onClick = std::move(onClick)] {
                const QDBusPendingReply<uint> reply = *watcher;
                if (!reply.isError() && onClick)
                    m_clicks.insert(reply.value(), onClick);
                watcher->deleteLater();
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString &action)
{
    // Other programs' notifications come by too; ours are known by id.
    const auto click = m_clicks.constFind(id);
    if (click == m_clicks.cend() || action != u"default")
        return;
    const std::function<void()> run = *click;
    run();
}

void DesktopNotifier::closed(uint id, uint)
{
    m_clicks.remove(id);
}

} // namespace caiji
