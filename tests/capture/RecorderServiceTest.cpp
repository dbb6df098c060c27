// The recorder's rules against a scripted capture service: sizes, display lookup, the start and
// stop state machine, failures arriving at every point, and the texts shown for failures.

#include "CaptureTestSupport.h"
#include "fakes/FakeScreenCapture.h"

#include "capture/CaptureError.h"
#include "capture/RecorderService.h"
#include "platform/MediaToolkit.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using CaptureTest::settle;

namespace {

constexpr quint32 kLeft = 0x1111;
constexpr quint32 kRight = 0x2222;

ShareableDisplay display(quint32 id, int width, int height, std::optional<DisplayMode> mode, qreal scale = 1)
{
    return ShareableDisplay{id, width, height, mode, scale};
}

PlatformError streamError(int code, const QString &text)
{
    return PlatformError(ScreenCaptureErrors::domain(), code, text);
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest()
        : recorder(capture, RecorderService::Timing{20ms, 150ms, 60ms})
    {
        capture.setDisplays({display(kLeft, 1440, 900, DisplayMode{1440, 2880}, 2)});
    }

    QString segment(const QString &name = QStringLiteral("Screen Recording 1.mp4")) const
    {
        return dir.filePath(name);
    }

    CaptureTest::Outcome<CaptureTest::Done> start(quint32 id = kLeft, std::optional<QRectF> rect = std::nullopt,
                                                  bool microphone = false, std::optional<QString> micID = std::nullopt)
    {
        return settle(recorder.start(id, rect, microphone, false, micID, segment()));
    }

    QTemporaryDir dir;
    TestSupport::PrivateHome home;
    FakeScreenCapture capture;
    RecorderService recorder;
};

} // namespace

TEST_F(RecorderTest, StreamSizeFollowsScaleRoundingAndEvenness)
{
    struct Case {
        const char *what;
        ShareableDisplay shown;
        std::optional<QRectF> rect;
        QSize expected;
    };
    const Case cases[] = {
        {"HiDPI mode doubles a region", display(kLeft, 1440, 900, DisplayMode{1440, 2880}), QRectF(10, 10, 1001, 601),
         {2002, 1202}},
        {"scale 1 clears the odd bit", display(kLeft, 1440, 900, DisplayMode{1440, 1440}), QRectF(0, 0, 1001, 601),
         {1000, 600}},
        {"a sliver is never below 2", display(kLeft, 1440, 900, DisplayMode{1440, 2880}), QRectF(0, 0, 0.6, 100.25),
         {2, 200}},
        {"whole display at its mode", display(kLeft, 1280, 720, DisplayMode{1280, 1920}, 2), std::nullopt, {1920, 1080}},
        {"no mode: the capture's own scale", display(kLeft, 800, 600, std::nullopt, 1.5), std::nullopt, {1200, 900}},
        {"no mode and no scale: 2", display(kLeft, 800, 600, std::nullopt, 0), std::nullopt, {1600, 1200}},
        {"a mode without points width is ignored", display(kLeft, 800, 600, DisplayMode{0, 1600}, 1), std::nullopt,
         {800, 600}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        capture.setDisplays({c.shown});
        ASSERT_EQ(start(kLeft, c.rect).errorText(), QString());
        ASSERT_TRUE(capture.lastStream);
        EXPECT_EQ(QSize(capture.lastStream->configuration.width, capture.lastStream->configuration.height), c.expected);
        EXPECT_EQ(capture.lastStream->configuration.sourceRect, c.rect);
        ASSERT_EQ(settle(recorder.stop()).errorText(), QString());
    }
}

TEST_F(RecorderTest, StreamAsksForCursorThirtyFramesAndTheChosenMicrophone)
{
    ASSERT_EQ(start(kLeft, std::nullopt, true, QStringLiteral("alsa_input.usb-mic")).errorText(), QString());
    const StreamConfiguration &config = capture.lastStream->configuration;
    EXPECT_TRUE(config.showsCursor);
    EXPECT_EQ(config.maximumFramesPerSecond, 30);
    EXPECT_TRUE(config.capturesMicrophone);
    EXPECT_FALSE(config.capturesSystemAudio);
    EXPECT_EQ(config.microphoneDeviceID, QStringLiteral("alsa_input.usb-mic"));
    EXPECT_EQ(config.sampleRate, 48000);
    EXPECT_EQ(config.channelCount, 2);
    EXPECT_EQ(capture.lastStream->outputPath, segment());
    ASSERT_EQ(settle(recorder.stop()).errorText(), QString());

    // An empty device id means the default source.
    ASSERT_EQ(start(kLeft, std::nullopt, true, QString()).errorText(), QString());
    EXPECT_EQ(capture.lastStream->configuration.microphoneDeviceID, std::nullopt);
}

TEST_F(RecorderTest, DisplayLookupRetriesThenFallsBackToTheOnlyDisplay)
{
    struct Case {
        const char *what;
        std::deque<ShareableContent> answers;
        std::optional<quint32> recorded; // absent: "Could not find the selected display."
        int requests;
    };
    const ShareableDisplay left = display(kLeft, 1920, 1080, DisplayMode{1920, 1920});
    const ShareableDisplay right = display(kRight, 1280, 720, DisplayMode{1280, 1280});
    const ShareableDisplay other = display(0x3333, 1280, 720, DisplayMode{1280, 1280});
    const Case cases[] = {
        {"found at once", {ShareableContent{{right, left}}}, kLeft, 1},
        {"back on the second attempt", {ShareableContent{{right}}, ShareableContent{{right, left}}}, kLeft, 2},
        {"replaced display on a single-screen desk", {ShareableContent{{other}}}, 0x3333, 3},
        {"two other displays", {ShareableContent{{right, other}}}, std::nullopt, 3},
        {"no display at all", {ShareableContent{}}, std::nullopt, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        capture.contentAnswers = c.answers;
        capture.contentRequests = 0;
        const auto outcome = start(kLeft);
        EXPECT_EQ(capture.contentRequests, c.requests);
        if (c.recorded) {
            ASSERT_EQ(outcome.errorText(), QString());
            EXPECT_EQ(capture.lastStream->display.displayID, *c.recorded);
            ASSERT_EQ(settle(recorder.stop()).errorText(), QString());
        } else {
            EXPECT_EQ(outcome.errorText(), QStringLiteral("Could not find the selected display."));
            EXPECT_FALSE(recorder.isRecording());
        }
    }
}

TEST_F(RecorderTest, PlatformRefusalsReachTheCallerUnchangedAndLeaveTheRecorderIdle)
{
    capture.contentError = streamError(ScreenCaptureErrors::captureRefused, QStringLiteral("X refused"));
    auto outcome = start();
    ASSERT_TRUE(outcome.errorAs<PlatformError>());
    EXPECT_EQ(outcome.errorAs<PlatformError>()->code(), ScreenCaptureErrors::captureRefused);
    EXPECT_EQ(capture.contentRequests, 1); // an error is not a miss: no retries
    capture.contentError.reset();

    capture.nextStream.startError = streamError(ScreenCaptureErrors::microphoneUnavailable, QStringLiteral("no source"));
    outcome = start(kLeft, std::nullopt, true);
    ASSERT_TRUE(outcome.errorAs<PlatformError>());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(settle(recorder.stop()).errorText(), QStringLiteral("No recording is in progress."));

    // Idle again, so a new start works.
    capture.nextStream.startError.reset();
    EXPECT_EQ(start().errorText(), QString());
    EXPECT_TRUE(recorder.isRecording());
}

TEST_F(RecorderTest, OneRecordingAtATimeAndStopTwiceFails)
{
    ASSERT_EQ(start().errorText(), QString());
    EXPECT_EQ(start().errorText(), QStringLiteral("A recording is already in progress."));

    const auto first = settle(recorder.stop());
    ASSERT_EQ(first.errorText(), QString());
    EXPECT_EQ(*first.value, segment());
    EXPECT_EQ(capture.lastStream->stopRequests, 1);

    const auto second = settle(recorder.stop());
    ASSERT_TRUE(second.errorAs<CaptureError>());
    EXPECT_EQ(second.errorAs<CaptureError>()->kind(), CaptureError::Kind::notRecording);
    EXPECT_EQ(second.errorText(), QStringLiteral("No recording is in progress."));
}

TEST_F(RecorderTest, WriteFailureWhileRecordingIsReportedByTheNextStopWithoutStopping)
{
    ASSERT_EQ(start().errorText(), QString());
    const QPointer<FakeCaptureStream> stream = capture.lastStream;
    stream->failWriting(PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed,
                                      QStringLiteral("No space left on device")));
    EXPECT_TRUE(recorder.isRecording()); // held, not acted on

    const auto stopped = settle(recorder.stop());
    EXPECT_EQ(stopped.errorText(), QStringLiteral("No space left on device"));
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(stream.isNull() || stream->stopRequests == 0); // reported at once, never asked to stop
    EXPECT_EQ(settle(recorder.stop()).errorText(), QStringLiteral("No recording is in progress."));
}

TEST_F(RecorderTest, StopEndsWithFinishFailureOrTimeout)
{
    struct Case {
        const char *what;
        FakeCaptureStream::Script script;
        QString expectedError; // "" = the segment file is answered
    };
    const PlatformError diskFull(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed, QStringLiteral("disk full"));
    const Case cases[] = {
        {"finished", {std::nullopt, true, std::nullopt, "bytes"}, {}},
        {"failed during stop", {std::nullopt, true, diskFull, "bytes"}, QStringLiteral("disk full")},
        {"no report, file has bytes", {std::nullopt, false, std::nullopt, "bytes"}, {}},
        {"no report, nothing written", {std::nullopt, false, std::nullopt, {}},
         QStringLiteral("The recording file was never written — try recording again.")},
        {"finished but empty", {std::nullopt, true, std::nullopt, {}},
         QStringLiteral("The recording file was never written — try recording again.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(segment());
        capture.nextStream = c.script;
        ASSERT_EQ(start().errorText(), QString());
        const auto stopped = settle(recorder.stop());
        EXPECT_EQ(stopped.errorText(), c.expectedError);
        if (c.expectedError.isEmpty()) {
            EXPECT_EQ(stopped.value, segment());
        }
        EXPECT_FALSE(recorder.isRecording());
    }
}

TEST_F(RecorderTest, StreamEndingOnItsOwnCallsExternalStopWithTheSegment)
{
    std::optional<std::pair<std::optional<QString>, std::optional<PlatformError>>> reported;
    recorder.onExternalStop = [&](std::optional<QString> file, std::optional<PlatformError> error) {
        reported.emplace(file, error);
    };

    ASSERT_EQ(start().errorText(), QString());
    capture.lastStream->endOnItsOwn(streamError(ScreenCaptureErrors::displayGone, QStringLiteral("monitor gone")));
    EXPECT_TRUE(recorder.isRecording()); // the stream gets time to close its file first
    ASSERT_TRUE(TestSupport::waitUntil([&] { return reported.has_value(); }));
    EXPECT_EQ(reported->first, segment());
    ASSERT_TRUE(reported->second);
    EXPECT_EQ(reported->second->code(), ScreenCaptureErrors::displayGone);
    EXPECT_FALSE(recorder.isRecording());

    // A stop that comes in during the grace period wins; the external stop stays silent.
    reported.reset();
    ASSERT_EQ(start().errorText(), QString());
    capture.lastStream->endOnItsOwn(std::nullopt);
    EXPECT_EQ(settle(recorder.stop()).value, segment());
    TestSupport::spin(150);
    EXPECT_FALSE(reported.has_value());
}

TEST(FriendlyCaptureMessage, MapsMicrophoneAndScreenFailuresAndLogsEachOne)
{
    TestSupport::PrivateHome home;
    const QString mic = microphoneBlockedText();
    const QString screen = screenCaptureBlockedText();
    struct Case {
        const char *what;
        std::function<void()> raise;
        QString expected;
    };
    const Case cases[] = {
        {"capture refused by X",
         [] { throw PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::captureRefused, QStringLiteral("Cannot open display :9")); },
         screen},
        {"system audio is part of screen capture",
         [] { throw PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::systemAudioUnavailable, QStringLiteral("no monitor source")); },
         screen},
        {"microphone code of the capture stream",
         [] { throw PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::microphoneUnavailable, QStringLiteral("source gone")); },
         mic},
        {"any domain mentioning the mic",
         [] { throw PlatformError(QStringLiteral("Other"), 7, QStringLiteral("The MICROPHONE is busy")); },
         mic},
        {"mic named only in the recovery suggestion",
         [] { throw PlatformError(QStringLiteral("Other"), 7, QStringLiteral("busy"), {}, QStringLiteral("Plug in a Microphone")); },
         mic},
        {"media toolkit error keeps its text",
         [] { throw PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed, QStringLiteral("disk full")); },
         QStringLiteral("disk full")},
        {"capture error keeps its text", [] { throw CaptureError::displayNotFound(); },
         QStringLiteral("Could not find the selected display.")},
        {"plain exception", [] { throw std::runtime_error("boom"); }, QStringLiteral("boom")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.raise();
        } catch (const std::exception &error) {
            EXPECT_EQ(friendlyCaptureMessage(error), c.expected);
        }
    }
    const QString log = home.readLog();
    EXPECT_TRUE(log.contains(QStringLiteral(" capture error domain=ScreenCaptureErrorDomain code=1 Cannot open display :9\n")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(" capture error domain=Tovrika.CaptureError code=1 Could not find the selected display.\n")))
        << log.toStdString();
}
