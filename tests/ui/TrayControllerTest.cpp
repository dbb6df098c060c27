// The tray menu as shown: kept in place while its entries keep their kinds, made anew where
// they do not, and every item running the action of the entries of the moment.

#include "TestSupport.h"
#include "app/AppState.h"
#include "fakes/FakeCaptureServices.h"
#include "fakes/FakePlatform.h"
#include "ui/TrayController.h"

#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

namespace {
using Pointers = QList<QPointer<QAction>>;

Pointers pointers(const QMenu &menu)
{
    Pointers result;
    for (QAction *action : menu.actions())
        result << action;
    return result;
}

QStringList texts(const QMenu &menu)
{
    QStringList result;
    for (const QAction *action : menu.actions())
        result << (action->isSeparator() ? QStringLiteral("---") : action->text());
    return result;
}

QAction *item(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

struct TrayFixture : ::testing::Test {
    TrayFixture()
    {
        fake.settings.values[QStringLiteral("welcomeShown")] = true;
        fake.screens.list = {ScreenInfo{7, QStringLiteral("Main"), QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1050), 1.0, true}};
        fake.media.microphones = {{QStringLiteral("usb-mic"), QStringLiteral("USB Microphone")}};
        // No tray icon: the menu alone is under test.
        qputenv("TOVRIKA_NULL_BACKENDS", "tray");
        tray = std::make_unique<TrayController>(app);
        qunsetenv("TOVRIKA_NULL_BACKENDS");
    }
    static CaptureServices services()
    {
        CaptureServices services;
        services.recorder = std::make_unique<FakeRecorder>();
        services.overlays = std::make_unique<FakeOverlays>();
        return services;
    }

    TestSupport::PrivateHome home;
    FakePlatform fake;
    AppState app{fake.platform(), services()};
    std::unique_ptr<TrayController> tray;
    QMenu &menu() { return *tray->menu(); }
};
} // namespace

TEST_F(TrayFixture, AnOpenMenuChangesItsTextsInPlace)
{
    app.setPhase(AppPhase::recording(QDateTime::currentDateTimeUtc()));
    app.setElapsed(QStringLiteral("0:01"));
    menu().popup(QPoint(100, 100));
    const Pointers shown = pointers(menu());
    EXPECT_EQ(texts(menu()).last(), QStringLiteral("Recording… 0:01"));

    app.setElapsed(QStringLiteral("0:02"));
    app.setRecordingPaused(true);
    EXPECT_EQ(pointers(menu()), shown);
    EXPECT_EQ(texts(menu()), (QStringList{QStringLiteral("Stop Recording"), QStringLiteral("Resume Recording"),
                                        QStringLiteral("Redo Recording"), QStringLiteral("Discard Recording"),
                                        QStringLiteral("---"), QStringLiteral("Paused at 0:02")}));
    EXPECT_EQ(std::optional(menu().actions()[0]->shortcut()), app.hotKeys().keyboardShortcut(HotKeys::Action::toggleAreaRecording));

    // Back to idle: another layout, other items.
    app.setRecordingPaused(false);
    app.setPhase(AppPhase::idle());
    for (const QPointer<QAction> &old : shown)
        EXPECT_TRUE(old.isNull());
    EXPECT_EQ(texts(menu()).first(), QStringLiteral("Record Full Screen"));
    menu().close();
}

TEST_F(TrayFixture, ItemsKeptInPlaceRunTheCurrentAction)
{
    QMenu *settings = item(menu(), QStringLiteral("Settings"))->menu();
    QMenu *microphones = item(*settings, QStringLiteral("Microphone Device"))->menu();
    const Pointers rows = pointers(*microphones);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0]->isChecked());

    // Another microphone in place of the first: same items, the new name and the new device.
    fake.media.microphones = {{QStringLiteral("headset"), QStringLiteral("Headset")}};
    emit menu().aboutToShow();
    EXPECT_EQ(pointers(*microphones), rows);
    EXPECT_EQ(rows[1]->text(), QStringLiteral("Headset"));

    rows[1]->trigger();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return app.micDeviceID().has_value(); }));
    EXPECT_EQ(app.micDeviceID(), QStringLiteral("headset"));
    EXPECT_TRUE(rows[1]->isChecked());
    EXPECT_FALSE(rows[0]->isChecked());
}

TEST_F(TrayFixture, OnlyTheLevelThatChangedShapeIsMadeAnew)
{
    const Pointers top = pointers(menu());
    QPointer<QMenu> settings = item(menu(), QStringLiteral("Settings"))->menu();
    const Pointers settingsItems = pointers(*settings);

    // The camera device picker joins the settings; the top level stays as it is.
    app.setCameraCorner(QStringLiteral("bl"));
    EXPECT_EQ(pointers(menu()), top);
    ASSERT_FALSE(settings.isNull());
    EXPECT_TRUE(texts(*settings).contains(QStringLiteral("Camera Device")));
    EXPECT_TRUE(settingsItems.first().isNull());

    // A hotkey another program holds puts the warning at the top.
    const HotKeyCombo gif = HotKeys::defaultCombo(HotKeys::Action::gifRecording);
    fake.keys.takenElsewhere.insert({gif.keyCode, gif.modifiers});
    app.hotKeys().registerAll();
    EXPECT_TRUE(top.first().isNull());
    EXPECT_EQ(texts(menu()).first(), QStringLiteral("⚠︎ Some hotkeys unavailable"));
    EXPECT_FALSE(menu().actions().first()->isEnabled());
}
