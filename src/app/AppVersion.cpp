#include "app/AppVersion.h"

namespace AppVersion {

QString shortVersion() { return QStringLiteral(TOVRIKA_VERSION); }
QString buildNumber() { return QStringLiteral(TOVRIKA_BUILD_NUMBER); }
QString label() { return label(shortVersion(), buildNumber()); }

QString label(const QString &shortVersion, const QString &buildNumber)
{
    if (shortVersion.isEmpty())
        return buildNumber;
    if (buildNumber.isEmpty())
        return shortVersion;
    return QStringLiteral("%1 (%2)").arg(shortVersion, buildNumber);
}

} // namespace AppVersion
