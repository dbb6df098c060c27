#pragma once
// In-memory stand-ins for the desktop facilities, recording what the program asked of them.

#include "fakes/FakeCameras.h"
#include "fakes/FakeKeyGrabber.h"
#include "fakes/FakeMediaToolkit.h"
#include "fakes/FakeScreenCapture.h"
#include "platform/Clipboard.h"
#include "platform/CredentialStore.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItem.h"
#include "platform/Platform.h"
#include "platform/Screens.h"
#include "platform/SettingsStore.h"
#include "platform/WebAuthSheet.h"
#include "platform/Workspace.h"

#include <QMap>
#include <QObject>
#include <functional>
#include <QStringList>

class FakeSettingsStore final : public SettingsStore {
public:
    std::optional<SettingValue> value(const QString &key) const override;
    void setValue(const QString &key, const SettingValue &value) override;
    void remove(const QString &key) override;

    QMap<QString, SettingValue> values;
    int writes = 0;
};

class FakeScreens final : public Screens {
public:
    QList<ScreenInfo> screens() const override { return list; }
    ScreenInfo primaryScreen() const override { return list.isEmpty() ? ScreenInfo{} : list.first(); }
    std::optional<ScreenInfo> keyWindowScreen() const override { return keyWindow; }
    QList<ScreenInfo> list;
    std::optional<ScreenInfo> keyWindow;
};

class FakeNotifications final : public DesktopNotifications {
public:
    struct Posted {
        QString title;
        QString body;
        std::optional<QString> imagePath;
    };
    bool available() const override { return isAvailable; }
    QString unavailableReason() const override { return QStringLiteral("fake turned off"); }
    void post(const QString &title, const QString &body, const std::optional<QString> &imagePath) override
    {
        posted.append({title, body, imagePath});
    }
    bool isAvailable = true;
    QList<Posted> posted;
};

class FakeClipboard final : public Clipboard {
public:
    void setText(const QString &text) override { current = text; }
    void setImage(const QImage &image) override { lastImage = image; }
    QString text() const override { return current; }
    QString current;
    QImage lastImage;
};

class FakeWorkspace final : public Workspace {
public:
    bool open(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }
    void revealFile(const QString &path) override { revealed.append(path); }
    QList<QUrl> opened;
    QStringList revealed;
};

class FakeLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    std::optional<QString> setEnabled(bool on) override
    {
        if (failure)
            return failure;
        enabled = on;
        return std::nullopt;
    }
    bool enabled = false;
    std::optional<QString> failure;
};

class FakeCredentialStore final : public CredentialStore {
public:
    Lookup read(const QString &account) override
    {
        if (failure)
            return {std::nullopt, failure};
        return {items.contains(account) ? std::optional(items.value(account)) : std::nullopt, std::nullopt};
    }
    std::optional<Failure> write(const QString &account, const QByteArray &data) override
    {
        if (failure)
            return failure;
        items.insert(account, data);
        return std::nullopt;
    }
    void remove(const QString &account) override { items.remove(account); }
    QMap<QString, QByteArray> items;
    std::optional<Failure> failure;
};

// A sign-in page that answers at once: `respond` turns the authorisation URL into the
// redirect (or throws), as the user and the authority would.
class FakeWebAuthSheet final : public WebAuthSheet {
public:
    QCoro::Task<QUrl> present(QUrl authorizeUrl) override;
    bool deliverRedirect(const QUrl &) override { return false; }
    void cancel() override {}
    std::function<QUrl(const QUrl &authorizeUrl)> respond;
    QList<QUrl> presented;
};

// All fakes together, installed as the program-wide notification backend while alive.
class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    Platform platform();

    FakeSettingsStore settings;
    FakeScreens screens;
    FakeNotifications notifications;
    FakeClipboard clipboard;
    FakeWorkspace workspace;
    FakeLoginItem loginItem;
    FakeCredentialStore credentials;
    FakeWebAuthSheet webAuth;
    FakeScreenCapture screenCapture;
    FakeMediaToolkit media;
    FakeKeyGrabber keys;
    FakeCameras cameras;
};
