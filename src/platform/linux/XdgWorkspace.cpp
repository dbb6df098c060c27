#include "platform/linux/XdgWorkspace.h"

#include "support/FileLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>

bool XdgWorkspace::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

void XdgWorkspace::revealFile(const QString &path)
{
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()
        && (bus.interface()->isServiceRegistered(service).value()
            || bus.interface()->activatableServiceNames().value().contains(service))) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        bus.asyncCall(call);
        return;
    }
    // Without a file manager service, the folder that holds the file is the next best thing.
    if (!open(QUrl::fromLocalFile(QFileInfo(path).absolutePath())))
        FileLog::write(QStringLiteral("reveal file failed: %1").arg(path));
}
