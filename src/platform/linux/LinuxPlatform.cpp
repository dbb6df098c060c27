#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/BrowserAuthSheet.h"
#include "platform/linux/DBusNotifications.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "platform/linux/JsonSettingsStore.h"
#include "platform/linux/NullCredentialStore.h"
#include "platform/linux/NullNotifications.h"
#include "platform/linux/QtCameras.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/SecretServiceCredentialStore.h"
#include "platform/linux/X11KeyGrabber.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/linux/XdgWorkspace.h"

bool LinuxPlatform::forcedNull(const QString &facility)
{
    const QStringList forced = qEnvironmentVariable("TOVRIKA_NULL_BACKENDS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    return forced.contains(facility.trimmed());
}

LinuxPlatform::LinuxPlatform()
    : m_settings(std::make_unique<JsonSettingsStore>(JsonSettingsStore::defaultPath()))
    , m_screens(std::make_unique<QtScreens>())
    , m_clipboard(std::make_unique<QtClipboard>())
    , m_workspace(std::make_unique<XdgWorkspace>())
    , m_loginItem(std::make_unique<XdgAutostartLoginItem>())
    , m_webAuth(std::make_unique<BrowserAuthSheet>())
    , m_screenCapture(std::make_unique<X11ScreenCapture>())
    , m_media(std::make_unique<FfmpegMediaToolkit>())
    , m_keys(std::make_unique<X11KeyGrabber>())
    , m_cameras(std::make_unique<QtCameras>())
{
    if (forcedNull(QStringLiteral("keychain")))
        m_credentials = std::make_unique<NullCredentialStore>(QStringLiteral("turned off by TOVRIKA_NULL_BACKENDS"));
    else
        m_credentials = std::make_unique<SecretServiceCredentialStore>();
    if (forcedNull(QStringLiteral("notifications")))
        m_notifications = std::make_unique<NullNotifications>(QStringLiteral("turned off by TOVRIKA_NULL_BACKENDS"));
    else
        m_notifications = std::make_unique<DBusNotifications>();
}

LinuxPlatform::~LinuxPlatform() = default;

Platform LinuxPlatform::platform()
{
    return Platform{*m_settings, *m_screens, *m_notifications, *m_clipboard,
                    *m_workspace, *m_loginItem, *m_credentials, *m_webAuth,
                    *m_screenCapture, *m_media, *m_keys, *m_cameras};
}
