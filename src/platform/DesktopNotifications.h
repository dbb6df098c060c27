#pragma once
// Posts a desktop notification. Implementations never block and never fail towards the caller.

#include <QString>
#include <optional>

class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // False when nothing can be posted (no session bus, no server); `unavailableReason` says why.
    virtual bool available() const = 0;
    virtual QString unavailableReason() const { return {}; }
    // `imagePath` is a local file the notification server may read after this call returns.
    virtual void post(const QString &title, const QString &body,
                      const std::optional<QString> &imagePath) = 0;
};
