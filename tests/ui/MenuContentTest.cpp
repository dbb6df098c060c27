#include "TestSupport.h"
#include "app/AppState.h"
#include "app/AppVersion.h"
#include "fakes/FakePlatform.h"
#include "ui/MenuContent.h"

#include <gtest/gtest.h>

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

struct MenuFixture : ::testing::Test {
    MenuFixture() { fake.settings.values[QStringLiteral("welcomeShown")] = true; }
    TestSupport::PrivateHome home;
    FakePlatform fake;
    AppState app{fake.platform()};
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

TEST_F(MenuFixture, RecordingOffersNoQuitAndShowsTheElapsedTime)
{
    app.setPhase(AppPhase::recording(QDateTime::currentDateTimeUtc()));
    app.setElapsed(QStringLiteral("2:05"));
    QStringList menu = titles(MenuContent::build(app));
    EXPECT_TRUE(menu.contains(QStringLiteral("Recording… 2:05")));
    EXPECT_FALSE(menu.contains(QStringLiteral("Quit Tovrika")));
    app.setRecordingPaused(true);
    EXPECT_TRUE(titles(MenuContent::build(app)).contains(QStringLiteral("Paused at 2:05")));
    app.setPhase(AppPhase::idle());
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
