#pragma once
// The desktop facilities the program's logic uses, bundled so they can be handed around
// (and replaced by fakes in tests). The object that builds them owns them.

class SettingsStore;
class Screens;
class DesktopNotifications;
class Clipboard;
class Workspace;
class LoginItem;
class CredentialStore;
class WebAuthSheet;
class ScreenCapture;
class MediaToolkit;
class GlobalKeyGrabber;
class Cameras;

struct Platform {
    SettingsStore &settings;
    Screens &screens;
    DesktopNotifications &notifications;
    Clipboard &clipboard;
    Workspace &workspace;
    LoginItem &loginItem;
    CredentialStore &credentials;
    WebAuthSheet &webAuth;
    ScreenCapture &screenCapture;
    MediaToolkit &media;
    GlobalKeyGrabber &keys;
    Cameras &cameras;
};
