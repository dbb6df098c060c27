#include "support/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>

namespace {
QString absoluteFromEnv(const char *name, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(name);
    // Relative values are invalid by the XDG rules and are ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + fallbackBelowHome;
}
} // namespace

namespace XdgPaths {

QString realHome()
{
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return QFile::decodeName(entry->pw_dir);
    return QDir::homePath();
}

QString configHome() { return absoluteFromEnv("XDG_CONFIG_HOME", QStringLiteral("/.config")); }
QString stateHome() { return absoluteFromEnv("XDG_STATE_HOME", QStringLiteral("/.local/state")); }
QString dataHome() { return absoluteFromEnv("XDG_DATA_HOME", QStringLiteral("/.local/share")); }

QString runtimeDir()
{
    const QString value = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    const QString fallback = QDir::tempPath() + QStringLiteral("/tovrika-runtime-%1").arg(getuid());
    QDir().mkpath(fallback);
    QFile::setPermissions(fallback, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return fallback;
}

} // namespace XdgPaths
