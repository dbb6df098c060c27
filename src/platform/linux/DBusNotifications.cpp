#include "platform/linux/DBusNotifications.h"

#include "support/FileLog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QUrl>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
}

DBusNotifications::DBusNotifications()
    : m_bus(QDBusConnection::sessionBus())
{
    if (!m_bus.isConnected())
        return;
    // A server may start (or be started on demand by the bus) after us, or go away.
    const QDBusConnectionInterface *bus = m_bus.interface();
    m_serverPresent = bus->isServiceRegistered(kService).value()
                      || bus->activatableServiceNames().value().contains(kService);
    m_watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForRegistration
                                                             | QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, m_watcher, [this] { m_serverPresent = true; });
    QObject::connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, m_watcher, [this] {
        m_serverPresent = m_bus.interface()->activatableServiceNames().value().contains(kService);
    });
}

DBusNotifications::~DBusNotifications()
{
    delete m_watcher;
}

bool DBusNotifications::available() const
{
    return m_bus.isConnected() && m_serverPresent;
}

QString DBusNotifications::unavailableReason() const
{
    if (!m_bus.isConnected())
        return QStringLiteral("no session bus");
    if (!m_serverPresent)
        return QStringLiteral("no notification server");
    return {};
}

void DBusNotifications::post(const QString &title, const QString &body, const std::optional<QString> &imagePath)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tovrika"));
    if (imagePath)
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(*imagePath).toString());

    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                       kService, QStringLiteral("Notify"));
    call << QStringLiteral("Tovrika") << uint(0) << QString() << title << body << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *finished) {
        if (finished->isError())
            FileLog::write(QStringLiteral("notification: post failed: %1").arg(finished->error().message()));
        finished->deleteLater();
    });
}
