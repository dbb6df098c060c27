#include "ui/Notifier.h"

#include "platform/DesktopNotifications.h"
#include "support/FileLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace {
DesktopNotifications *g_backend = nullptr;

QString attachmentFolder()
{
    return QDir::tempPath() + QStringLiteral("/tovrika-notifications");
}

// The server reads a picture whenever it shows it, so copies stay for a day, then go.
void pruneOldAttachments()
{
    const QDateTime cutoff = QDateTime::currentDateTime().addDays(-1);
    const QDir dir(attachmentFolder());
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files)) {
        if (entry.lastModified() < cutoff)
            QFile::remove(entry.absoluteFilePath());
    }
}
} // namespace

namespace Notifier {

void setBackend(DesktopNotifications *backend)
{
    g_backend = backend;
}

void show(const QString &title, const QString &body, const std::optional<QString> &imagePath)
{
    FileLog::write(title + QStringLiteral(" — ") + body);
    if (!g_backend || !g_backend->available())
        return;
    std::optional<QString> attachment;
    if (imagePath) {
        pruneOldAttachments();
        attachment = attachmentCopy(*imagePath);
    }
    g_backend->post(title, body, attachment);
}

std::optional<QString> attachmentCopy(const QString &imagePath)
{
    const QString suffix = QFileInfo(imagePath).suffix();
    const QString extension = suffix.isEmpty() ? QStringLiteral("png") : suffix;
    if (!QDir().mkpath(attachmentFolder()))
        return std::nullopt;
    const QString copy = attachmentFolder() + QLatin1Char('/')
                         + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('.') + extension;
    if (!QFile::copy(imagePath, copy))
        return std::nullopt;
    return copy;
}

} // namespace Notifier
