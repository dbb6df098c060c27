#pragma once
// The one way the program posts a notification: every notification is also a log line
// ("title — body"), and a picture is attached as a private copy the server may read later.

#include <QString>
#include <optional>

class DesktopNotifications;

namespace Notifier {
// Installs the program-wide notification backend; without one, notifications are only logged.
void setBackend(DesktopNotifications *backend);

// Posts at once. Texts are passed already localised, placeholders filled.
void show(const QString &title, const QString &body, const std::optional<QString> &imagePath = std::nullopt);

// Copies `imagePath` into the temporary folder under a fresh UUID name, keeping its extension
// ("png" when it has none). Nothing when the copy fails.
std::optional<QString> attachmentCopy(const QString &imagePath);
} // namespace Notifier
