#include "platform/linux/XdgAutostartLoginItem.h"

#include "support/XdgPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString XdgAutostartLoginItem::entryPath()
{
    return XdgPaths::configHome() + QStringLiteral("/autostart/tovrika.desktop");
}

bool XdgAutostartLoginItem::isEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The user (or a settings tool) may have switched the entry off instead of removing it.
    const QByteArray contents = file.readAll();
    return !contents.contains("\nHidden=true") && !contents.contains("X-GNOME-Autostart-enabled=false");
}

std::optional<QString> XdgAutostartLoginItem::setEnabled(bool on)
{
    const QString path = entryPath();
    if (!on) {
        if (QFile::exists(path) && !QFile::remove(path))
            return QStringLiteral("Couldn't remove %1.").arg(path);
        return std::nullopt;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray entry = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Tovrika\n"
                             "Exec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) < 0 || !file.commit())
        return QStringLiteral("Couldn't write %1: %2").arg(path, file.errorString());
    return std::nullopt;
}
