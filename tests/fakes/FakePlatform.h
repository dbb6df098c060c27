#pragma once
// In-memory stand-ins for the desktop facilities, recording what the program asked of them.

#include "platform/Clipboard.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItem.h"
#include "platform/Platform.h"
#include "platform/Screens.h"
#include "platform/SettingsStore.h"
#include "platform/Workspace.h"

#include <QMap>
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
    QList<ScreenInfo> list;
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
};
