#pragma once
// Builds the real Linux implementation of every desktop facility, or the null one when the
// facility is missing or named in TOVRIKA_NULL_BACKENDS (comma-separated, e.g.
// "notifications,tray"), and owns them for the life of the program.

#include "platform/Platform.h"

#include <QString>
#include <memory>

class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();

    Platform platform();
    // Whether a facility was forced to its null implementation.
    static bool forcedNull(const QString &facility);

private:
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Screens> m_screens;
    std::unique_ptr<DesktopNotifications> m_notifications;
    std::unique_ptr<Clipboard> m_clipboard;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<CredentialStore> m_credentials;
    std::unique_ptr<WebAuthSheet> m_webAuth;
    std::unique_ptr<ScreenCapture> m_screenCapture;
    std::unique_ptr<MediaToolkit> m_media;
    std::unique_ptr<GlobalKeyGrabber> m_keys;
    std::unique_ptr<Cameras> m_cameras;
};
