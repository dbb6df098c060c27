// Recording control and finishing, driven against an in-memory recorder, overlays and media
// toolkit, with the recording clock in the test's hands.

#include "TestSupport.h"
#include "app/AppState.h"
#include "app/Config.h"
#include "fakes/FakeCaptureServices.h"
#include "fakes/FakePlatform.h"
#include "hotkeys/HotKeyCombo.h"
#include "platform/ScreenCapture.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using TestSupport::run;
using TestSupport::waitUntil;
using Kind = AppPhase::Kind;

namespace {

const QRectF kArea(10, 20, 300, 200);

// Presses the button of that role in the open alert with that message, if any.
bool answerAlert(const QString &message, QMessageBox::ButtonRole role)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible() && box->text() == message)
            for (QAbstractButton *button : box->buttons())
                if (box->buttonRole(button) == role) {
                    button->click();
                    return true;
                }
    return false;
}


class RecordingControl : public ::testing::Test {
protected:
    RecordingControl()
    {
        fake.settings.values[QStringLiteral("welcomeShown")] = true;
        fake.screens.list = {ScreenInfo{7, QStringLiteral("Main"), QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1050), 1.0, true},
                             ScreenInfo{9, QStringLiteral("Side"), QRect(1920, 0, 1280, 720), QRect(1920, 0, 1280, 720), 1.0, true}};
        fake.media.microphones = {{QStringLiteral("usb-mic"), QStringLiteral("USB Microphone")}};
        fake.media.defaultMicrophone = MediaDevice{QStringLiteral("built-in"), QStringLiteral("Built-in Audio")};
        CaptureServices services;
        services.recorder = std::make_unique<FakeRecorder>();
        services.overlays = std::make_unique<FakeOverlays>();
        services.translationPicker = std::make_unique<FakeTranslationPicker>();
        recorder = static_cast<FakeRecorder *>(services.recorder.get());
        overlays = static_cast<FakeOverlays *>(services.overlays.get());
        picker = static_cast<FakeTranslationPicker *>(services.translationPicker.get());
        state = std::make_unique<AppState>(fake.platform(), std::move(services));
        state->clock = [this] { return now; };
        // Publishing is tested elsewhere: here nobody is signed in, and the offer to sign in
        // is declined, so a finished recording ends with "Not shared — not signed in".
        QObject::connect(&m_declineSignIn, &QTimer::timeout, [] { answerAlert(QStringLiteral("Sign in to share this capture"), QMessageBox::RejectRole); });
        m_declineSignIn.start(10);
    }

    bool reachedPublishing() const { return titles().contains(QStringLiteral("Not shared — not signed in")); }

    void startRecording(bool asGif = false)
    {
        ASSERT_TRUE(run(state->startRecording(7, kArea, asGif, false)));
        ASSERT_TRUE(state->phase().is(Kind::recording));
    }
    void pauseOrResume() { ASSERT_TRUE(run(state->togglePauseRecording())); }
    void advance(int seconds)
    {
        now = now.addSecs(seconds);
        state->elapsedTick();
    }
    bool finishedToIdle() { return waitUntil([&] { return state->phase().is(Kind::idle); }); }
    static QStringList captures() { return QDir(Config::capturesFolder()).entryList(QDir::Files); }
    QStringList titles() const
    {
        QStringList list;
        for (const auto &posted : fake.notifications.posted)
            list.append(posted.title);
        return list;
    }

    TestSupport::PrivateHome home;
    FakePlatform fake;
    QDateTime now = QDateTime(QDate(2026, 12, 11), QTime(9, 30, 0));
    FakeRecorder *recorder = nullptr;
    FakeOverlays *overlays = nullptr;
    FakeTranslationPicker *picker = nullptr;
    std::unique_ptr<AppState> state;
    QTimer m_declineSignIn;
};

PlatformError captureRefused()
{
    return PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::captureRefused, QStringLiteral("refused"));
}

} // namespace

TEST_F(RecordingControl, StartCountsDownOverTheAreaThenRecordsWithTheChosenMicrophone)
{
    state->setMicDeviceID(QStringLiteral("usb-mic"));
    startRecording();

    EXPECT_EQ(overlays->lastCountdownSeconds, 3);
    EXPECT_FALSE(overlays->lastCountdownAtCorner);
    ASSERT_TRUE(overlays->border);
    EXPECT_EQ(overlays->border->second, kArea);
    ASSERT_EQ(recorder->starts.size(), 1u);
    const auto &start = recorder->starts.front();
    EXPECT_EQ(start.displayID, 7u);
    EXPECT_EQ(start.microphoneDeviceID, QStringLiteral("usb-mic"));
    EXPECT_TRUE(QFileInfo(start.filePath).fileName().startsWith(QStringLiteral("Screen Recording 2026-12-11 at ")));
    EXPECT_EQ(QFileInfo(start.filePath).absolutePath(), QDir(Config::capturesFolder()).absolutePath());
    EXPECT_EQ(state->phase().started, now);
    EXPECT_EQ(state->lastSelection(), LastSelection({7, kArea}));
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("recording microphone: USB Microphone")));

    // An unknown stored microphone falls back to the system default.
    EXPECT_EQ(state->resolvedMicrophoneDeviceID(QStringLiteral("gone")), QStringLiteral("built-in"));
    EXPECT_EQ(state->microphoneDeviceName(QStringLiteral("built-in")), QStringLiteral("Built-in Audio"));
    EXPECT_EQ(state->systemDefaultMicrophoneLabel(), QStringLiteral("System Default (Built-in Audio)"));
}

TEST_F(RecordingControl, ElapsedTimeCountsRecordedTimeOnly)
{
    startRecording();
    EXPECT_TRUE(state->elapsedTimerRunning());
    advance(30);
    EXPECT_EQ(state->elapsed(), QStringLiteral("0:30"));
    pauseOrResume();
    EXPECT_TRUE(state->recordingPaused());
    EXPECT_FALSE(state->elapsedTimerRunning());
    advance(100); // paused: does not count
    EXPECT_EQ(state->elapsed(), QStringLiteral("0:30"));
    pauseOrResume();
    EXPECT_EQ(state->elapsed(), QStringLiteral("0:30"));
    advance(95);
    EXPECT_EQ(state->elapsed(), QStringLiteral("2:05"));
    now = now.addSecs(3600);
    state->elapsedTick();
    EXPECT_EQ(state->elapsed(), QStringLiteral("62:05"));
}

TEST_F(RecordingControl, GifStopsItselfAtTenRecordedSeconds)
{
    startRecording(true);
    EXPECT_FALSE(state->lastSelection()); // a GIF is not recorded again
    advance(6);
    pauseOrResume();
    now = now.addSecs(60);
    pauseOrResume();
    advance(3);
    EXPECT_TRUE(state->phase().is(Kind::recording)); // 9 seconds recorded
    advance(1);
    EXPECT_TRUE(state->gifStopIssued);
    EXPECT_FALSE(state->phase().is(Kind::recording));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(recorder->stopCalls, 2);
    EXPECT_EQ(captures().size(), 1);
}

TEST_F(RecordingControl, ThreePausesGiveFourSegmentsJoinedInOrder)
{
    startRecording();
    for (int i = 0; i < 3; ++i) {
        pauseOrResume();
        pauseOrResume();
    }
    ASSERT_EQ(recorder->starts.size(), 4u);
    QStringList segments;
    for (const auto &start : recorder->starts)
        segments.append(start.filePath);
    // All four began within the same second, yet each has its own file.
    EXPECT_EQ(QSet<QString>(segments.begin(), segments.end()).size(), 4);

    ASSERT_TRUE(run(state->stopRecording()));
    ASSERT_TRUE(finishedToIdle());
    ASSERT_EQ(fake.media.compositions.size(), 1);
    QStringList joined;
    for (const auto &piece : fake.media.compositions.first().tracks.first().insertions)
        joined.append(piece.sourcePath);
    EXPECT_EQ(joined, segments);
    const QStringList left = captures();
    ASSERT_EQ(left.size(), 1) << left.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(left.first().startsWith(QStringLiteral("Screen Recording ")));
    EXPECT_FALSE(segments.contains(QDir(Config::capturesFolder()).filePath(left.first())));
    EXPECT_EQ(TestSupport::readFile(QDir(Config::capturesFolder()).filePath(left.first())), QByteArray("segment").repeated(4));
}

TEST_F(RecordingControl, StopWhilePausedFinishesWithoutStoppingTheRecorderAgain)
{
    startRecording();
    pauseOrResume();
    ASSERT_TRUE(run(state->stopRecording()));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(recorder->stopCalls, 1);
    EXPECT_EQ(fake.media.exported, QStringList{recorder->starts.front().filePath}); // optimised in place
    EXPECT_EQ(captures(), QStringList{QFileInfo(recorder->starts.front().filePath).fileName()});
}

TEST_F(RecordingControl, StopWhenTheRecorderRecordsNothing)
{
    // With earlier segments, those are finished.
    startRecording();
    pauseOrResume();
    pauseOrResume();
    QFile::remove(*recorder->current);
    recorder->current.reset();
    ASSERT_TRUE(run(state->stopRecording()));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(captures().size(), 1);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("stop ignored: no capture in progress")));

    // Without any, the program goes back to idle without a word.
    fake.notifications.posted.clear();
    startRecording();
    QFile::remove(*recorder->current);
    recorder->current.reset();
    ASSERT_TRUE(run(state->stopRecording()));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_TRUE(fake.notifications.posted.isEmpty());
}

TEST_F(RecordingControl, StopFailureReportsTheError)
{
    startRecording();
    recorder->stopFailure = captureRefused();
    ASSERT_TRUE(run(state->stopRecording()));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    ASSERT_EQ(titles(), QStringList{QStringLiteral("Recording failed")});
    EXPECT_EQ(fake.notifications.posted.first().body, QStringLiteral("refused"));
}

TEST_F(RecordingControl, DiscardDeletesEverySegment)
{
    state->setCameraCorner(QStringLiteral("br"));
    startRecording();
    EXPECT_EQ(overlays->bubbleCorner, QStringLiteral("br"));
    pauseOrResume();
    pauseOrResume();
    ASSERT_TRUE(run(state->discardRecording()));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_TRUE(captures().isEmpty());
    EXPECT_FALSE(state->activeRecording);
    EXPECT_FALSE(state->discardingRecording);
    EXPECT_FALSE(overlays->border || overlays->bubbleCorner);
    ASSERT_EQ(titles(), QStringList{QStringLiteral("Recording discarded")});
    EXPECT_EQ(fake.notifications.posted.first().body, QStringLiteral("Nothing was saved or uploaded."));
}

TEST_F(RecordingControl, RedoStartsTheSameRecordingAgainOrDiscardsWhenCancelled)
{
    startRecording(true);
    advance(2);
    ASSERT_TRUE(run(state->redoRecording()));
    EXPECT_TRUE(state->phase().is(Kind::recording));
    ASSERT_EQ(recorder->starts.size(), 2u);
    EXPECT_EQ(recorder->starts.back().sourceRect, kArea);
    EXPECT_TRUE(state->recordingAsGif);
    EXPECT_EQ(captures().size(), 1); // only the new segment
    EXPECT_TRUE(fake.notifications.posted.isEmpty());

    overlays->countdownRunsOut = false;
    ASSERT_TRUE(run(state->redoRecording()));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_TRUE(captures().isEmpty());
    EXPECT_FALSE(state->recordingAsGif);
    EXPECT_EQ(titles(), QStringList{QStringLiteral("Recording discarded")});
}

TEST_F(RecordingControl, QuickRecordNeedsTheLastDisplay)
{
    state->quickRecordLastSelection(); // nothing recorded before: nothing happens
    EXPECT_EQ(overlays->countdowns, 0);

    state->setLastSelection(LastSelection{9, QRectF(1, 2, 300, 400)});
    state->quickRecordLastSelection();
    ASSERT_TRUE(waitUntil([&] { return state->phase().is(Kind::recording); }));
    EXPECT_EQ(recorder->starts.back().displayID, 9u);
    EXPECT_EQ(recorder->starts.back().sourceRect, QRectF(1, 2, 300, 400));
    ASSERT_TRUE(run(state->discardRecording()));
    fake.notifications.posted.clear();

    fake.screens.list.removeLast(); // the side screen was unplugged
    state->quickRecordLastSelection();
    EXPECT_EQ(recorder->starts.size(), 1u);
    ASSERT_EQ(titles(), QStringList{QStringLiteral("Can't record again")});
    EXPECT_EQ(fake.notifications.posted.first().body,
              QStringLiteral("The display from the last recording isn't connected. Pick a new selection."));
}

TEST_F(RecordingControl, SecondStartDuringTheCountdownIsDropped)
{
    overlays->countdownGate.close();
    state->startRecording(7, kArea, false, false);
    state->startRecording(9, std::nullopt, false, false);
    EXPECT_EQ(overlays->countdowns, 1);
    overlays->countdownGate.open();
    ASSERT_TRUE(waitUntil([&] { return state->phase().is(Kind::recording); }));
    TestSupport::spin(50);
    ASSERT_EQ(recorder->starts.size(), 1u);
    EXPECT_EQ(recorder->starts.front().displayID, 7u);
    EXPECT_FALSE(state->startingRecording);
}

TEST_F(RecordingControl, FailedStartLeavesNothingBehind)
{
    state->setCameraCorner(QStringLiteral("tl"));
    recorder->startFailures.push_back(captureRefused());
    ASSERT_TRUE(run(state->startRecording(7, kArea, false, false)));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_FALSE(overlays->border || overlays->bubbleCorner);
    EXPECT_FALSE(state->activeRecording);
    EXPECT_FALSE(state->startingRecording);
    EXPECT_EQ(titles(), QStringList{QStringLiteral("Couldn't start recording")});

    // A failed resume keeps the recording paused.
    startRecording();
    pauseOrResume();
    recorder->startFailures.push_back(captureRefused());
    pauseOrResume();
    EXPECT_TRUE(state->recordingPaused());
    EXPECT_EQ(titles().last(), QStringLiteral("Couldn't resume recording"));
}

TEST_F(RecordingControl, ShareLimitStopsOnceAndTheFinishedFileIsRefused)
{
    startRecording();
    recorder->stopGate.close(); // the recorder takes its time to stop
    QFile segment(*recorder->current);
    ASSERT_TRUE(segment.resize(AppState::shareLimitBytes + 1)); // sparse: no real bytes written
    fake.media.exportFailure = captureRefused(); // the rewrite falls back to the file as it is
    advance(1);
    advance(1);
    EXPECT_EQ(titles().count(QStringLiteral("Recording stopped at the 2 GB limit")), 1);
    EXPECT_EQ(home.readLog().count(QStringLiteral("auto-stop: recording reached the 2 GB share limit")), 1);
    recorder->stopGate.open();
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(titles().last(), QStringLiteral("Video too large"));
    EXPECT_EQ(captures().size(), 1); // kept, not uploaded
}

TEST_F(RecordingControl, FinishedFileAtExactlyTheLimitGoesOn)
{
    startRecording();
    QFile segment(*recorder->current);
    ASSERT_TRUE(segment.resize(AppState::shareLimitBytes));
    fake.media.exportFailure = captureRefused();
    ASSERT_TRUE(run(state->stopRecording()));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_FALSE(titles().contains(QStringLiteral("Video too large")));
    EXPECT_TRUE(reachedPublishing());
}

TEST_F(RecordingControl, RecorderEndingOnItsOwn)
{
    state->setCameraCorner(QStringLiteral("br"));
    startRecording();
    pauseOrResume();
    pauseOrResume();
    recorder->endOnItsOwn(captureRefused());
    EXPECT_FALSE(overlays->border || overlays->bubbleCorner);
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(fake.media.compositions.size(), 1); // both segments finished
    EXPECT_EQ(captures().size(), 1);
    EXPECT_FALSE(titles().contains(QStringLiteral("Recording stopped")));

    startRecording();
    recorder->endOnItsOwn(std::nullopt, false);
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_EQ(titles().last(), QStringLiteral("Recording stopped"));
    EXPECT_EQ(fake.notifications.posted.last().body, QStringLiteral("The capture ended unexpectedly."));

    // During a discard the recorder's own stop is not a second ending.
    startRecording();
    recorder->stopGate.close();
    state->discardRecording();
    recorder->endOnItsOwn(std::nullopt);
    recorder->stopGate.open();
    ASSERT_TRUE(waitUntil([&] { return !state->discardingRecording; }));
    EXPECT_EQ(titles().last(), QStringLiteral("Recording discarded"));
}

TEST_F(RecordingControl, JoinFailureKeepsTheSegments)
{
    startRecording();
    pauseOrResume();
    pauseOrResume();
    fake.media.mergeFailure = PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed,
                                            QStringLiteral("The disk is full."));
    ASSERT_TRUE(run(state->stopRecording()));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(captures().size(), 2);
    EXPECT_EQ(titles().last(), QStringLiteral("Couldn't finish recording"));
    EXPECT_EQ(fake.notifications.posted.last().body,
              QStringLiteral("The disk is full. The segments are saved in Movies/Tovrika."));
}

TEST_F(RecordingControl, SilentMicrophoneIsReportedAndTheRecordingStillGoesOn)
{
    const struct {
        const char *name;
        qint64 durationMicroseconds;
        std::optional<double> audioRate;
        bool silent;
    } cases[] = {
        {"4 s, no sound", 4'000'000, 0.0, false},
        {"10 s, rate 0", 10'000'000, 0.0, true},
        {"10 s, speech", 10'000'000, 64000.0, false},
        {"10 s, no audio track", 10'000'000, std::nullopt, true},
    };
    for (const auto &c : cases) {
        fake.notifications.posted.clear();
        fake.media.durationMicroseconds = c.durationMicroseconds;
        fake.media.audioRate = c.audioRate;
        startRecording();
        ASSERT_TRUE(run(state->stopRecording()));
        ASSERT_TRUE(finishedToIdle());
        EXPECT_EQ(titles().contains(QStringLiteral("No microphone audio detected")), c.silent) << c.name;
        EXPECT_TRUE(reachedPublishing()) << c.name; // shared all the same
    }
    EXPECT_EQ(fake.notifications.posted.at(titles().indexOf(QStringLiteral("No microphone audio detected"))).body,
              QStringLiteral("The recording looks silent. macOS recorded from \"Built-in Audio\" — check System Settings → Sound → Input. The video is still being shared."));
}

TEST_F(RecordingControl, GivingUpWithThePromptOpenDropsTheLateResult)
{
    startRecording();
    fake.media.exports.close(); // the rewrite hangs
    state->stopRecording();
    ASSERT_TRUE(state->phase().is(Kind::processing));
    const QString file = recorder->starts.front().filePath;

    // With a prompt open the idle limit is off: ten minutes in, nothing happens.
    state->namingCapture = true;
    state->finishingStartedAt = QDateTime::currentDateTimeUtc().addSecs(-600);
    state->refreshFinishingTimeout();
    TestSupport::spin(100);
    EXPECT_TRUE(state->phase().is(Kind::processing));

    // At fifteen minutes it gives up, shows the file and resets.
    state->finishingStartedAt = QDateTime::currentDateTimeUtc().addMSecs(-900'000 + 50);
    state->refreshFinishingTimeout();
    ASSERT_TRUE(waitUntil([&] { return answerAlert(QStringLiteral("Couldn't finish that capture"), QMessageBox::AcceptRole); }));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_FALSE(state->namingCapture);
    EXPECT_EQ(fake.workspace.revealed, QStringList{file});
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("finishing timed out; file ") + file));

    fake.media.exports.open(); // the late result changes nothing
    TestSupport::spin(100);
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_FALSE(reachedPublishing());
    EXPECT_TRUE(QFileInfo::exists(file));
}

TEST_F(RecordingControl, AreaAndTranslationRecordingsStartFromTheirPickers)
{
    // A cancelled selection goes back to idle.
    overlays->selection.reset();
    ASSERT_TRUE(run(state->startAreaRecording()));
    EXPECT_TRUE(state->phase().is(Kind::idle));
    EXPECT_EQ(overlays->countdowns, 0);

    overlays->selection = RegionSelection{9, QRectF(5, 5, 100, 100)};
    ASSERT_TRUE(run(state->startAreaRecording()));
    EXPECT_TRUE(state->phase().is(Kind::recording));
    EXPECT_EQ(recorder->starts.back().displayID, 9u);
    ASSERT_TRUE(run(state->discardRecording()));

    picker->choice = TranslationChoice::fullScreen;
    ASSERT_TRUE(run(state->recordWithTranslation()));
    EXPECT_TRUE(state->translationArmed);
    EXPECT_EQ(recorder->starts.back().displayID, 7u);
    EXPECT_EQ(recorder->starts.back().sourceRect, std::nullopt);
    ASSERT_TRUE(run(state->discardRecording()));

    picker->choice = TranslationChoice::area;
    overlays->countdownRunsOut = false;
    ASSERT_TRUE(run(state->recordWithTranslation()));
    EXPECT_FALSE(state->translationArmed); // the countdown was cancelled
    EXPECT_TRUE(state->phase().is(Kind::idle));
}

TEST_F(RecordingControl, HotKeysAndRecordLinksStartAndStopRecordings)
{
    const HotKeyCombo area = HotKeys::defaultCombo(HotKeys::Action::toggleAreaRecording);
    ASSERT_TRUE(fake.keys.press(area.keyCode, area.modifiers));
    ASSERT_TRUE(waitUntil([&] { return state->phase().is(Kind::recording); }));
    EXPECT_EQ(overlays->selections, 1);
    ASSERT_TRUE(fake.keys.press(area.keyCode, area.modifiers));
    ASSERT_TRUE(finishedToIdle());
    EXPECT_EQ(captures().size(), 1);

    // The full-screen hotkey records the screen that has the keyboard.
    fake.screens.keyWindow = fake.screens.list.last();
    const HotKeyCombo full = HotKeys::defaultCombo(HotKeys::Action::toggleFullScreenRecording);
    ASSERT_TRUE(fake.keys.press(full.keyCode, full.modifiers));
    ASSERT_TRUE(waitUntil([&] { return state->phase().is(Kind::recording); }));
    EXPECT_EQ(recorder->starts.back().displayID, 9u);

    // A GIF hotkey while recording is dropped and logged; so is a record link.
    const HotKeyCombo gif = HotKeys::defaultCombo(HotKeys::Action::gifRecording);
    ASSERT_TRUE(fake.keys.press(gif.keyCode, gif.modifiers));
    state->openUrls({QUrl(QStringLiteral("tovrika://record"))});
    TestSupport::spin(50);
    EXPECT_EQ(overlays->selections, 1);
    EXPECT_TRUE(home.readLog().contains(QStringLiteral("hotkey gifRecording while phase recording(started: ")));
    ASSERT_TRUE(run(state->discardRecording()));

    state->openUrls({QUrl(QStringLiteral("tovrika:record"))});
    ASSERT_TRUE(waitUntil([&] { return state->phase().is(Kind::recording); }));
    EXPECT_EQ(overlays->selections, 2);
}

