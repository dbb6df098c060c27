#include "TestSupport.h"
#include "app/AppState.h"
#include "app/AppVersion.h"
#include "fakes/FakeCaptureServices.h"
#include "fakes/FakePlatform.h"
#include "ui/MenuContent.h"

#include <gtest/gtest.h>

using Action = HotKeys::Action;

namespace {
QStringList titles(const QList<MenuEntry> &entries)
{
    QStringList result;
    for (const MenuEntry &entry : entries)
        result << (entry.kind == MenuEntry::Kind::separator ? QStringLiteral("---") : entry.title);
    return result;
}

const MenuEntry *find(const QList<MenuEntry> &entries, const QString &title)
{
    for (const MenuEntry &entry : entries) {
        if (entry.title == title)
            return &entry;
        if (const MenuEntry *inner = find(entry.children, title))
            return inner;
    }
    return nullptr;
}

const ScreenInfo kMain{7, QStringLiteral("Main"), QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1050), 1.0, true};
const ScreenInfo kSide{9, QStringLiteral("Side"), QRect(1920, 0, 1280, 720), QRect(1920, 0, 1280, 720), 1.0, true};

struct MenuFixture : ::testing::Test {
    MenuFixture()
    {
        fake.settings.values[QStringLiteral("welcomeShown")] = true;
        fake.screens.list = {kMain};
    }
    static CaptureServices services()
    {
        CaptureServices services;
        services.recorder = std::make_unique<FakeRecorder>();
        services.overlays = std::make_unique<FakeOverlays>();
        return services;
    }
    QList<MenuEntry> menu() { return MenuContent::build(app); }
    QStringList settingsTitles() { return titles(find(menu(), QStringLiteral("Settings"))->children); }

    TestSupport::PrivateHome home;
    FakePlatform fake;
    AppState app{fake.platform(), services()};
};
} // namespace

TEST_F(MenuFixture, StatusLayoutsFollowThePhase)
{
    const QString quit = QStringLiteral("Quit Tovrika");
    struct Case {
        AppPhase phase;
        bool annotating;
        bool signingIn;
        QStringList expected;
    };
    const QList<Case> cases = {
        {AppPhase::uploading(42), false, false, {QStringLiteral("Uploading… 42%"), QStringLiteral("---"), quit}},
        {AppPhase::selectingRegion(), false, false, {QStringLiteral("Drag to select an area (Esc to cancel)"), QStringLiteral("---"), quit}},
        {AppPhase::processing(), false, false, {QStringLiteral("Finishing up…"), QStringLiteral("---"), quit}},
        {AppPhase::processing(), true, false, {QStringLiteral("Annotate the screenshot to continue"), QStringLiteral("---"), quit}},
        {AppPhase::idle(), false, true, {QStringLiteral("Waiting for sign-in…"), QStringLiteral("Cancel Sign-In"), QStringLiteral("---"), quit}},
    };
    for (const Case &c : cases) {
        app.setPhase(c.phase);
        app.setAnnotatingScreenshot(c.annotating);
        app.setSigningIn(c.signingIn);
        EXPECT_EQ(titles(MenuContent::build(app)), c.expected) << c.phase.description().toStdString();
    }
    app.setAnnotatingScreenshot(false);
    app.setSigningIn(false);
    app.setPhase(AppPhase::idle());
}

TEST_F(MenuFixture, RecordingOffersItsControlsAndNoQuit)
{
    app.setPhase(AppPhase::recording(QDateTime::currentDateTimeUtc()));
    app.setElapsed(QStringLiteral("2:05"));
    const QStringList controls{QStringLiteral("Stop Recording"), QStringLiteral("Pause Recording"),
                               QStringLiteral("Redo Recording"), QStringLiteral("Discard Recording"), QStringLiteral("---")};
    QList<MenuEntry> recording = menu();
    EXPECT_EQ(titles(recording), controls + QStringList{QStringLiteral("Recording… 2:05")});
    EXPECT_EQ(recording[0].shortcut, app.hotKeys().keyboardShortcut(Action::toggleAreaRecording));
    EXPECT_TRUE(recording[0].shortcut.has_value());

    // Paused: the elapsed time stays as it was when the pause began.
    app.setRecordingPaused(true);
    QStringList paused = controls;
    paused[1] = QStringLiteral("Resume Recording");
    EXPECT_EQ(titles(menu()), paused + QStringList{QStringLiteral("Paused at 2:05")});
    app.setRecordingPaused(false);
    app.setPhase(AppPhase::idle());
}

TEST_F(MenuFixture, IdleOffersTheRecordingsThatCanBeMade)
{
    const QStringList tail{QStringLiteral("Open Captures Folder"),
                           QStringLiteral("---"),
                           QStringLiteral("Settings"),
                           QStringLiteral("---"),
                           QStringLiteral("Not signed in — captures won't be shared"),
                           QStringLiteral("Sign In…"),
                           QStringLiteral("---"),
                           QStringLiteral("Quit Tovrika")};
    // Without a last selection or a last link their entries are missing, not disabled.
    EXPECT_EQ(titles(menu()), QStringList({QStringLiteral("Record Full Screen"), QStringLiteral("Record Selected Area…"),
                                           QStringLiteral("Record GIF (10s)…"), QStringLiteral("Upload Video File…"),
                                           QStringLiteral("---")}) + tail);

    app.setLastSelection(LastSelection{7, QRectF(10, 20, 300, 200)});
    app.setLastLink(ShareLink{QStringLiteral("abc"), QStringLiteral("https://tovrika.example/abc"), {}, {}});
    const QList<MenuEntry> full = menu();
    EXPECT_EQ(titles(full), QStringList({QStringLiteral("Record Full Screen"), QStringLiteral("Record Selected Area…"),
                                         QStringLiteral("Record Again (Last Selection)"), QStringLiteral("Record GIF (10s)…"),
                                         QStringLiteral("Upload Video File…"), QStringLiteral("---"),
                                         QStringLiteral("Copy Last Link (abc)")}) + tail);

    const HotKeys &keys = app.hotKeys();
    const QList<std::pair<QString, Action>> hinted = {
        {QStringLiteral("Record Full Screen"), Action::toggleFullScreenRecording},
        {QStringLiteral("Record Selected Area…"), Action::toggleAreaRecording},
        {QStringLiteral("Record Again (Last Selection)"), Action::quickRecord},
        {QStringLiteral("Record GIF (10s)…"), Action::gifRecording},
    };
    for (const auto &[title, action] : hinted) {
        ASSERT_TRUE(keys.keyboardShortcut(action).has_value());
        EXPECT_EQ(find(full, title)->shortcut, keys.keyboardShortcut(action)) << title.toStdString();
    }
    EXPECT_FALSE(find(full, QStringLiteral("Upload Video File…"))->shortcut.has_value());
}

TEST_F(MenuFixture, RecordingWithTranslationNeedsItsPicker)
{
    EXPECT_EQ(find(menu(), QStringLiteral("Record with Translation…")), nullptr);

    CaptureServices withPicker = services();
    withPicker.translationPicker = std::make_unique<FakeTranslationPicker>();
    AppState translating(fake.platform(), std::move(withPicker));
    const QStringList rows = titles(MenuContent::build(translating));
    EXPECT_EQ(rows.indexOf(QStringLiteral("Record with Translation…")), rows.indexOf(QStringLiteral("Record Selected Area…")) + 1);
}

TEST_F(MenuFixture, AHotkeyThatCouldNotBeGrabbedIsReportedUntilItIs)
{
    const HotKeyCombo gif = HotKeys::defaultCombo(Action::gifRecording);
    fake.keys.takenElsewhere.insert({gif.keyCode, gif.modifiers});
    app.hotKeys().registerAll();
    QList<MenuEntry> warned = menu();
    ASSERT_GE(warned.size(), 3);
    EXPECT_EQ(warned[0].kind, MenuEntry::Kind::text);
    EXPECT_EQ(warned[0].title, QStringLiteral("⚠︎ Some hotkeys unavailable"));
    EXPECT_EQ(warned[1].kind, MenuEntry::Kind::separator);
    EXPECT_EQ(warned[2].title, QStringLiteral("Record Full Screen"));

    fake.keys.takenElsewhere.clear();
    app.hotKeys().registerAll();
    EXPECT_EQ(menu()[0].title, QStringLiteral("Record Full Screen"));
}

TEST_F(MenuFixture, SeveralScreensEachGetTheirOwnFullScreenEntry)
{
    for (const QList<ScreenInfo> &screens : {QList<ScreenInfo>{}, QList<ScreenInfo>{kMain}}) {
        fake.screens.list = screens;
        const QList<MenuEntry> idle = menu();
        const MenuEntry *single = find(idle, QStringLiteral("Record Full Screen"));
        EXPECT_EQ(single->kind, MenuEntry::Kind::button) << screens.size();
        EXPECT_EQ(single->shortcut, app.hotKeys().keyboardShortcut(Action::toggleFullScreenRecording));
    }

    fake.screens.list = {kMain, kSide};
    const QList<MenuEntry> idle = menu();
    const MenuEntry *perScreen = find(idle, QStringLiteral("Record Full Screen"));
    ASSERT_EQ(perScreen->kind, MenuEntry::Kind::submenu);
    EXPECT_EQ(titles(perScreen->children), (QStringList{QStringLiteral("Main"), QStringLiteral("Side")}));
    for (const MenuEntry &row : perScreen->children)
        EXPECT_FALSE(row.shortcut.has_value());

    // Each row records its own screen.
    auto &recorder = static_cast<FakeRecorder &>(app.recorder());
    perScreen->children[1].action(false);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return app.phase().is(AppPhase::Kind::recording); }));
    ASSERT_EQ(recorder.starts.size(), 1u);
    EXPECT_EQ(recorder.starts[0].displayID, kSide.displayID);
    EXPECT_FALSE(recorder.starts[0].sourceRect.has_value());
    EXPECT_TRUE(TestSupport::run(app.discardRecording()));
}

TEST_F(MenuFixture, MicrophonePickerFallsBackToTheSystemDefault)
{
    fake.media.defaultMicrophone = MediaDevice{QStringLiteral("built-in"), QStringLiteral("Built-in Audio")};
    fake.media.microphones = {{QStringLiteral("usb-mic"), QStringLiteral("USB Microphone")},
                              {QStringLiteral("headset"), QStringLiteral("Headset")}};
    const auto picker = [&] { return find(menu(), QStringLiteral("Microphone Device"))->children; };
    EXPECT_EQ(titles(picker()), (QStringList{QStringLiteral("System Default (Built-in Audio)"), QStringLiteral("USB Microphone"),
                                             QStringLiteral("Headset")}));
    EXPECT_EQ(settingsTitles().mid(0, 4), (QStringList{QStringLiteral("Record Microphone"), QStringLiteral("Record System Audio"),
                                                       QStringLiteral("Microphone Device"), QStringLiteral("Camera Bubble")}));

    struct Case {
        std::optional<QString> stored;
        int checkedRow;
    };
    // A microphone that is gone leaves the default row checked.
    const QList<Case> cases = {{std::nullopt, 0}, {QStringLiteral("headset"), 2}, {QStringLiteral("unplugged"), 0}};
    for (const Case &c : cases) {
        app.setMicDeviceID(c.stored);
        const QList<MenuEntry> rows = picker();
        for (int row = 0; row < rows.size(); ++row)
            EXPECT_EQ(rows[row].checked, row == c.checkedRow) << c.stored.value_or(QStringLiteral("none")).toStdString() << row;
    }
    EXPECT_EQ(app.micDeviceID(), QStringLiteral("unplugged"));

    picker()[1].action(true);
    EXPECT_EQ(app.micDeviceID(), QStringLiteral("usb-mic"));
    picker()[0].action(true);
    EXPECT_EQ(app.micDeviceID(), std::nullopt);
}

TEST_F(MenuFixture, CameraDevicePickerOnlyWithTheBubble)
{
    fake.media.cameras = {{QStringLiteral("cam-1"), QStringLiteral("Desk Camera")}};
    EXPECT_FALSE(settingsTitles().contains(QStringLiteral("Camera Device")));

    app.setCameraCorner(QStringLiteral("tr"));
    const QStringList settings = settingsTitles();
    EXPECT_EQ(settings.indexOf(QStringLiteral("Camera Device")), settings.indexOf(QStringLiteral("Camera Bubble")) + 1);
    const auto picker = [&] { return find(menu(), QStringLiteral("Camera Device"))->children; };
    EXPECT_EQ(titles(picker()), (QStringList{QStringLiteral("Default Camera"), QStringLiteral("Desk Camera")}));
    EXPECT_TRUE(picker()[0].checked);

    picker()[1].action(true);
    EXPECT_EQ(app.cameraDeviceID(), QStringLiteral("cam-1"));
    EXPECT_FALSE(picker()[0].checked);
    EXPECT_TRUE(picker()[1].checked);
    picker()[0].action(true);
    EXPECT_EQ(app.cameraDeviceID(), std::nullopt);
}

TEST_F(MenuFixture, IdleSettingsAreBoundToTheState)
{
    const QList<MenuEntry> menu = MenuContent::build(app);
    EXPECT_EQ(titles(menu).last(), QStringLiteral("Quit Tovrika"));
    EXPECT_NE(find(menu, QStringLiteral("Open Captures Folder")), nullptr);
    EXPECT_NE(find(menu, QStringLiteral("Tovrika ") + AppVersion::label()), nullptr);

    const MenuEntry *mic = find(menu, QStringLiteral("Record Microphone"));
    ASSERT_NE(mic, nullptr);
    EXPECT_TRUE(mic->checked);
    mic->action(false);
    EXPECT_FALSE(app.micEnabled());
    EXPECT_EQ(fake.settings.boolValue(QStringLiteral("micEnabled")), false);

    // The camera corner picker marks the stored corner and stores the chosen one.
    const MenuEntry *corner = find(menu, QStringLiteral("Camera Bubble"));
    ASSERT_NE(corner, nullptr);
    EXPECT_EQ(titles(corner->children), (QStringList{QStringLiteral("Off"), QStringLiteral("Top Left"), QStringLiteral("Top Right"),
                                                     QStringLiteral("Bottom Left"), QStringLiteral("Bottom Right")}));
    EXPECT_TRUE(corner->children[0].checked);
    corner->children[4].action(true);
    EXPECT_EQ(fake.settings.textValue(QStringLiteral("cameraCorner")), QStringLiteral("br"));
    EXPECT_TRUE(find(MenuContent::build(app), QStringLiteral("Bottom Right"))->checked);

    EXPECT_NE(find(menu, QStringLiteral("Use macOS Screenshot Tool")), nullptr);
}

TEST_F(MenuFixture, LanguageMenuMarksTheOverride)
{
    const auto languageRows = [&] { return titles(find(MenuContent::build(app), QStringLiteral("Language"))->children); };
    QStringList rows = languageRows();
    ASSERT_EQ(rows.size(), 12);
    EXPECT_EQ(rows[0], QStringLiteral("✓ System Default"));
    EXPECT_EQ(rows[1], QStringLiteral("---"));
    EXPECT_EQ(rows[9], QStringLiteral("日本語"));

    fake.settings.values[QStringLiteral("languageOverride")] = QStringLiteral("ja-JP");
    AppState japanese(fake.platform());
    rows = titles(find(MenuContent::build(japanese), QStringLiteral("Language"))->children);
    EXPECT_EQ(rows[0], QStringLiteral("System Default"));
    EXPECT_EQ(rows[9], QStringLiteral("✓ 日本語"));
}
