#include "TestSupport.h"
#include "app/AppState.h"
#include "fakes/FakePlatform.h"

#include <QDir>
#include <gtest/gtest.h>

using TestSupport::PrivateHome;

namespace {
const QString kWelcomeTitle = QStringLiteral("Welcome to Tovrika!");

int welcomeCount(const FakeNotifications &notifications)
{
    return int(std::count_if(notifications.posted.begin(), notifications.posted.end(),
                             [](const auto &posted) { return posted.title == kWelcomeTitle; }));
}
} // namespace

TEST(AppState, FirstLaunchDefaultsAndWelcomeOnce)
{
    PrivateHome home;
    FakePlatform fake;
    {
        AppState app(fake.platform());
        EXPECT_EQ(app.phase(), AppPhase::idle());
        EXPECT_EQ(app.elapsed(), QStringLiteral("0:00"));
        EXPECT_TRUE(app.micEnabled());
        EXPECT_FALSE(app.systemAudioEnabled());
        EXPECT_FALSE(app.askForCaptureName());
        EXPECT_FALSE(app.askForViewers());
        EXPECT_FALSE(app.notifyOnStart());
        EXPECT_FALSE(app.annotateScreenshots());
        EXPECT_FALSE(app.useSystemScreenshotTool());
        EXPECT_EQ(app.screenshotDelaySeconds(), 5);
        EXPECT_EQ(app.languageOverride(), QString());
        EXPECT_EQ(app.micDeviceID(), std::nullopt);
        EXPECT_EQ(app.cameraDeviceID(), std::nullopt);
        EXPECT_EQ(app.cameraCorner(), QStringLiteral("off"));
        EXPECT_FALSE(app.closedCaptions());
        EXPECT_EQ(app.captionLanguage(), QStringLiteral("en"));
        EXPECT_EQ(app.voiceOver(), QStringLiteral("off"));
        EXPECT_EQ(app.lastSelection(), std::nullopt);
        EXPECT_TRUE(app.recentCaptures().isEmpty());
        EXPECT_EQ(app.signedInAs(), std::nullopt);
        EXPECT_TRUE(app.automaticUpdates());
        EXPECT_EQ(AppState::shared(), &app);
        EXPECT_TRUE(QDir(home.path() + QStringLiteral("/Movies/Tovrika")).exists());
        // Reading the defaults writes nothing.
        EXPECT_EQ(fake.settings.writes, 0);

        // The welcome comes a second later, not at once.
        EXPECT_EQ(welcomeCount(fake.notifications), 0);
        int windowRequests = 0;
        QObject::connect(&app, &AppState::windowRequested, [&] { ++windowRequests; });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return welcomeCount(fake.notifications) == 1; }, 3000));
        EXPECT_EQ(fake.notifications.posted.last().body,
                  QStringLiteral("Tovrika lives in the menu bar, near the clock. Click the icon to record."));
        EXPECT_EQ(fake.notifications.posted.last().imagePath, std::nullopt);
        EXPECT_EQ(windowRequests, 1);
        EXPECT_EQ(fake.settings.boolValue(QStringLiteral("welcomeShown")), true);
    }
    // Second launch: no welcome.
    AppState again(fake.platform());
    TestSupport::spin(1500);
    EXPECT_EQ(welcomeCount(fake.notifications), 1);
}

TEST(AppState, StoredValuesAreReadWithTheirRules)
{
    PrivateHome home;
    FakePlatform fake;
    auto &stored = fake.settings.values;
    stored[QStringLiteral("welcomeShown")] = true;
    stored[QStringLiteral("micEnabled")] = false;
    stored[QStringLiteral("systemAudioEnabled")] = QStringLiteral("yes"); // wrong type: absent
    stored[QStringLiteral("screenshotDelaySeconds")] = qint64(10);
    stored[QStringLiteral("cameraCorner")] = QStringLiteral("tr");
    stored[QStringLiteral("micDeviceID")] = QStringLiteral("alsa_input.usb");
    stored[QStringLiteral("closedCaptions")] = true;

    struct Case {
        SettingValue caption;
        SettingValue voice;
        QString expectedCaption;
        QString expectedVoice;
    };
    const QList<Case> cases = {
        {QStringLiteral("xx"), QStringLiteral("x"), QStringLiteral("en"), QStringLiteral("off")},
        {QStringLiteral("pt-BR"), QStringLiteral("f"), QStringLiteral("pt-BR"), QStringLiteral("f")},
        {QStringLiteral("he"), QStringLiteral("m"), QStringLiteral("he"), QStringLiteral("m")},
        {QStringLiteral("PT-br"), QStringLiteral("F"), QStringLiteral("en"), QStringLiteral("off")},
        {qint64(3), true, QStringLiteral("en"), QStringLiteral("off")},
    };
    for (const Case &c : cases) {
        stored[QStringLiteral("captionLanguage")] = c.caption;
        stored[QStringLiteral("voiceOver")] = c.voice;
        AppState app(fake.platform());
        EXPECT_EQ(app.captionLanguage(), c.expectedCaption);
        EXPECT_EQ(app.voiceOver(), c.expectedVoice);
        EXPECT_FALSE(app.micEnabled());
        EXPECT_FALSE(app.systemAudioEnabled());
        EXPECT_EQ(app.screenshotDelaySeconds(), 10);
        EXPECT_EQ(app.cameraCorner(), QStringLiteral("tr"));
        EXPECT_EQ(app.micDeviceID(), QStringLiteral("alsa_input.usb"));
        EXPECT_TRUE(app.closedCaptions());
    }
}

TEST(AppState, SettersStoreTheirValueEvenWhenUnchanged)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    AppState app(fake.platform());
    int changes = 0;
    QObject::connect(&app, &AppState::changed, [&] { ++changes; });

    app.setSystemAudioEnabled(true);
    app.setScreenshotDelaySeconds(5); // same as the default, stored all the same
    app.setMicDeviceID(QStringLiteral("mic-1"));
    EXPECT_EQ(fake.settings.boolValue(QStringLiteral("systemAudioEnabled")), true);
    EXPECT_EQ(fake.settings.intValue(QStringLiteral("screenshotDelaySeconds")), 5);
    EXPECT_EQ(fake.settings.textValue(QStringLiteral("micDeviceID")), QStringLiteral("mic-1"));
    app.setMicDeviceID(std::nullopt); // absent removes the key
    EXPECT_FALSE(fake.settings.value(QStringLiteral("micDeviceID")).has_value());
    EXPECT_EQ(changes, 4);
}

TEST(AppState, CorruptRecordsReadAsAbsentAndStayStored)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    const QList<SettingValue> bad = {QByteArray("{not json"), QByteArray("[1,2]"), QStringLiteral("text, not data"),
                                     QByteArray(R"({"displayID": -4})")};
    for (const SettingValue &value : bad) {
        fake.settings.values[QStringLiteral("lastSelection")] = value;
        fake.settings.values[QStringLiteral("recentCaptures")] = value;
        AppState app(fake.platform());
        EXPECT_EQ(app.lastSelection(), std::nullopt);
        EXPECT_TRUE(app.recentCaptures().isEmpty());
        EXPECT_EQ(fake.settings.value(QStringLiteral("lastSelection")), value);
    }

    const LastSelection selection{69733248, QRectF(10, 20.5, 640, 480)};
    fake.settings.values[QStringLiteral("lastSelection")] = selection.toJson();
    AppState app(fake.platform());
    EXPECT_EQ(app.lastSelection(), selection);
}

TEST(AppState, PhaseHookStartsAndEndsFinishingAttempts)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    AppState app(fake.platform());
    QList<AppPhase> oldPhases;
    QObject::connect(&app, &AppState::phaseChanged, [&](const AppPhase &old) { oldPhases << old; });

    app.setPhase(AppPhase::recording(QDateTime::currentDateTimeUtc()));
    EXPECT_EQ(app.finishingToken, 0);
    EXPECT_FALSE(app.finishingTimeoutArmed());

    app.finishingAbandoned = true;
    app.setPhase(AppPhase::processing());
    EXPECT_EQ(app.finishingToken, 1);
    EXPECT_FALSE(app.finishingAbandoned);
    EXPECT_TRUE(app.finishingTimeoutArmed());
    EXPECT_LE(app.finishingStartedAt.secsTo(QDateTime::currentDateTimeUtc()), 1);

    app.setPhase(AppPhase::processing()); // staying in processing is not a new attempt
    EXPECT_EQ(app.finishingToken, 1);

    app.setPhase(AppPhase::uploading(10));
    EXPECT_FALSE(app.finishingTimeoutArmed());
    app.setPhase(AppPhase::processing());
    EXPECT_EQ(app.finishingToken, 2);
    app.setPhase(AppPhase::idle());
    EXPECT_FALSE(app.finishingTimeoutArmed());
    EXPECT_EQ(oldPhases.size(), 6);
    EXPECT_EQ(oldPhases.first(), AppPhase::idle());
}

TEST(AppState, RecoverableCaptureIsTheNewestCaptureOfThisAttempt)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    AppState app(fake.platform());
    const QString folder = home.path() + QStringLiteral("/Movies/Tovrika/");
    const auto make = [&](const QString &name, const QByteArray &bytes, int secondsAgo) {
        TestSupport::writeFile(folder + name, bytes);
        QFile file(folder + name);
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
    };
    app.setPhase(AppPhase::processing());
    make(QStringLiteral("old.mp4"), "old", 60);
    make(QStringLiteral("empty.mp4"), "", 0);
    make(QStringLiteral("notes.txt"), "text", 0);
    make(QStringLiteral("Screen Recording 1.MP4"), "new", 1);
    make(QStringLiteral("Screenshot.png"), "newer", 0);
    EXPECT_EQ(app.recoverableCapture(), folder + QStringLiteral("Screenshot.png"));

    app.finishingFile = folder + QStringLiteral("old.mp4"); // the file being finished wins
    EXPECT_EQ(app.recoverableCapture(), folder + QStringLiteral("old.mp4"));
    app.finishingFile = folder + QStringLiteral("gone.mp4");
    EXPECT_EQ(app.recoverableCapture(), folder + QStringLiteral("Screenshot.png"));
    app.setPhase(AppPhase::idle());
}

TEST(AppState, RecordUrlsReachTheStateAndOthersAreIgnored)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    fake.screens.list = {ScreenInfo{7, QStringLiteral("Main"), QRect(0, 0, 800, 600), QRect(0, 0, 800, 600), 1.0, true}};
    AppState app(fake.platform());
    app.translationArmed = true;
    app.openUrls({QUrl(QStringLiteral("tovrika://stop"))});
    EXPECT_TRUE(app.translationArmed);
    app.openUrls({QUrl(QStringLiteral("TOVRIKA://Record"))});
    EXPECT_FALSE(app.translationArmed);
    EXPECT_TRUE(app.phase().is(AppPhase::Kind::selectingRegion)); // an area recording begins
}

TEST(AppState, LaunchAtLoginFollowsTheLoginItem)
{
    PrivateHome home;
    FakePlatform fake;
    fake.settings.values[QStringLiteral("welcomeShown")] = true;
    fake.loginItem.enabled = true;
    AppState app(fake.platform());
    EXPECT_TRUE(app.launchAtLogin());
    app.setLaunchAtLogin(false);
    EXPECT_FALSE(app.launchAtLogin());

    fake.loginItem.failure = QStringLiteral("Couldn't write the autostart entry.");
    app.setLaunchAtLogin(true);
    EXPECT_FALSE(app.launchAtLogin());
    ASSERT_FALSE(fake.notifications.posted.isEmpty());
    EXPECT_EQ(fake.notifications.posted.last().title, QStringLiteral("Launch at Login"));
    EXPECT_EQ(fake.notifications.posted.last().body, QStringLiteral("Couldn't write the autostart entry."));
}
