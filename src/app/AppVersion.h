#pragma once
// The version text shown in the menu and in diagnostics: "0.1.0 (42)".

#include <QString>

namespace AppVersion {
QString shortVersion();
QString buildNumber();
QString label();
// "short (build)", or whichever of the two is present, or "".
QString label(const QString &shortVersion, const QString &buildNumber);
} // namespace AppVersion
