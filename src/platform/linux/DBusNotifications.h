#pragma once
// Notifications through org.freedesktop.Notifications on the session bus; the picture goes
// in the "image-path" hint.

#include "platform/DesktopNotifications.h"

#include <QDBusConnection>

class QDBusServiceWatcher;

class DBusNotifications final : public DesktopNotifications {
public:
    DBusNotifications();
    ~DBusNotifications() override;

    bool available() const override;
    QString unavailableReason() const override;
    void post(const QString &title, const QString &body, const std::optional<QString> &imagePath) override;

private:
    QDBusConnection m_bus;
    bool m_serverPresent = false;
    QDBusServiceWatcher *m_watcher = nullptr;
};
