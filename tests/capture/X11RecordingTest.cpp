// The recorder for real: the test X server's screens, recordings of a moving picture with and
// without sound from the PulseAudio null sink, a killed recorder, a vanished monitor and a file
// that cannot grow, all judged by ffprobe.

#include "CaptureTestSupport.h"
#include "MediaFixtures.h"
#include "MediaProbe.h"

#include "app/CaptureMedia.h"
#include "capture/RecorderService.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "platform/linux/PulseAudio.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11ScreenCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using CaptureTest::settle;

namespace {

// A window whose picture changes every frame, so the encoder has something to do.
class MovingPicture final : public QWidget {
public:
    explicit MovingPicture(const QRect &geometry)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
        setGeometry(geometry);
        connect(&m_tick, &QTimer::timeout, this, [this] {
            ++m_step;
            update();
        });
        m_tick.start(16);
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor::fromHsv((m_step * 3) % 360, 200, 220));
        painter.fillRect(QRect((m_step * 7) % std::max(1, width() - 40), height() / 3, 40, 40), Qt::black);
    }

private:
    QTimer m_tick;
    int m_step = 0;
};

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") && QGuiApplication::platformName() == QLatin1String("xcb");
}

// The last of Qt's screens: in the test environment the smaller, right-hand one.
const QScreen *recordedScreen()
{
    return QGuiApplication::screens().isEmpty() ? nullptr : QGuiApplication::screens().last();
}

std::optional<QString> defaultMonitor()
{
    const auto state = PulseAudio::query();
    if (!state || state->defaultSinkName.isEmpty())
        return std::nullopt;
    return state->defaultSinkName + QStringLiteral(".monitor");
}

QString runPactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// PrivateHome moves HOME away from the PulseAudio cookie of the test session; point at it.
struct KeepPulseCookie {
    KeepPulseCookie()
    {
        if (!qEnvironmentVariableIsSet("PULSE_COOKIE")) {
            const QString config = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
            qputenv("PULSE_COOKIE", QFile::encodeName(config + QStringLiteral("/pulse/cookie")));
        }
    }
};

class X11RecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hasDisplay())
            GTEST_SKIP() << "no X display: run inside scripts/test-env.sh";
        screen = recordedScreen();
        displayID = QtScreens::displayIdForOutput(screen->name());
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Records `seconds` of the moving picture; answers the file or what went wrong.
    CaptureTest::Outcome<QString> record(RecorderService &recorder, std::optional<QRectF> rect, int milliseconds,
                                         bool microphone = false, std::optional<QString> micID = std::nullopt,
                                         bool systemAudio = false, const QString &name = QStringLiteral("segment.mp4"))
    {
        const auto started = settle(recorder.start(displayID, rect, microphone, systemAudio, micID, path(name)));
        if (started.error) {
            CaptureTest::Outcome<QString> failed;
            failed.error = started.error;
            return failed;
        }
        TestSupport::spin(milliseconds);
        return settle(recorder.stop());
    }

    KeepPulseCookie cookie;
    TestSupport::PrivateHome home;
    QTemporaryDir dir;
    const QScreen *screen = nullptr;
    quint32 displayID = 0;
    X11ScreenCapture capture;
    FfmpegMediaToolkit media;
};

} // namespace

TEST_F(X11RecordingTest, DisplaysAreQtsScreensWithTheirNativeWidth)
{
    const auto content = settle(capture.shareableContent());
    ASSERT_EQ(content.errorText(), QString());
    ASSERT_EQ(content.value->displays.size(), QGuiApplication::screens().size());
    for (const QScreen *qtScreen : QGuiApplication::screens()) {
        SCOPED_TRACE(qtScreen->name().toStdString());
        const auto found = std::find_if(content.value->displays.cbegin(), content.value->displays.cend(), [&](const ShareableDisplay &d) {
            return d.displayID == QtScreens::describe(*qtScreen).displayID;
        });
        ASSERT_NE(found, content.value->displays.cend());
        EXPECT_EQ(QSize(found->width, found->height), qtScreen->geometry().size());
        ASSERT_TRUE(found->mode.has_value());
        EXPECT_EQ(found->mode->widthPixels, qRound(qtScreen->geometry().width() * qtScreen->devicePixelRatio()));
        EXPECT_EQ(X11ScreenCapture::nativeGeometry(found->displayID).width(), found->mode->widthPixels);
    }
}

TEST_F(X11RecordingTest, StillImageShowsWhatIsOnScreen)
{
    const QRect frame = screen->geometry();
    QWidget block;
    block.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    block.setStyleSheet(QStringLiteral("background: rgb(200, 30, 60)"));
    block.setGeometry(QRect(frame.topLeft() + QPoint(100, 100), QSize(200, 120)));
    block.show();
    TestSupport::spin(300);

    const ShareableDisplay display = settle(RecorderService::shareableDisplay(capture, displayID)).value->display;
    const auto image = settle(capture.captureImage(display, StillConfiguration{300, 200, QRectF(50, 50, 300, 200), false}));
    ASSERT_EQ(image.errorText(), QString());
    EXPECT_EQ(image.value->size(), QSize(300, 200));
    EXPECT_EQ(image.value->pixelColor(150, 100), QColor(200, 30, 60)); // inside the block
    EXPECT_NE(image.value->pixelColor(10, 10), QColor(200, 30, 60));   // outside it
}

TEST_F(X11RecordingTest, RegionBecomesEvenSizedH264AtThirtyFrames)
{
    const QRect frame = screen->geometry();
    MovingPicture picture(QRect(frame.topLeft() + QPoint(20, 20), QSize(700, 420)));
    RecorderService recorder(capture);
    const auto file = record(recorder, QRectF(30.5, 25, 641, 361), 2500);
    ASSERT_EQ(file.errorText(), QString());

    const MediaProbe::Result probe = MediaProbe::probe(*file.value);
    ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
    ASSERT_EQ(probe.ofType(QStringLiteral("video")).size(), 1);
    EXPECT_TRUE(probe.ofType(QStringLiteral("audio")).isEmpty());
    const MediaProbe::Stream video = probe.ofType(QStringLiteral("video")).first();
    EXPECT_EQ(video.codecName, QStringLiteral("h264"));
    EXPECT_EQ(video.pixelFormat, QStringLiteral("yuv420p"));
    EXPECT_EQ(QSize(video.width, video.height), QSize(640, 360));
    EXPECT_EQ(video.rFrameRate, QStringLiteral("30/1"));
    ASSERT_GT(probe.durationSeconds, 1.0);
    const double framesPerSecond = video.frames / probe.durationSeconds;
    EXPECT_GT(framesPerSecond, 20.0);
    EXPECT_LE(framesPerSecond, 30.5);
    // Written as fragments while recording.
    EXPECT_TRUE(MediaProbe::topLevelBoxes(*file.value).contains(QStringLiteral("moof")));
}

TEST_F(X11RecordingTest, SoundIsOneAacTrackMixingMicrophoneAndSystemAudio)
{
    const std::optional<QString> monitor = defaultMonitor();
    if (!monitor)
        GTEST_SKIP() << "no PulseAudio server: run inside scripts/test-env.sh";
    // A tone on the default sink is heard by its monitor; a second null sink stays silent.
    QProcess tone;
    tone.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                                          QStringLiteral("-re"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                          QStringLiteral("sine=frequency=440:sample_rate=48000"), QStringLiteral("-f"),
                                          QStringLiteral("pulse"), QStringLiteral("tone")});
    ASSERT_TRUE(tone.waitForStarted());
    const QString module = runPactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=quiet_sink")});
    const auto cleanup = qScopeGuard([&] {
        tone.kill();
        tone.waitForFinished();
        runPactl({QStringLiteral("unload-module"), module});
    });
    TestSupport::spin(300);

    const QRect frame = screen->geometry();
    MovingPicture picture(QRect(frame.topLeft(), QSize(400, 300)));
    RecorderService recorder(capture);
    struct Case {
        const char *what;
        std::optional<QString> microphone;
        bool systemAudio;
        int milliseconds;
        bool silent;
    };
    const Case cases[] = {
        {"microphone hearing the tone", monitor, false, 6500, false},
        {"silent microphone", QStringLiteral("quiet_sink.monitor"), false, 6500, true},
        {"silent microphone mixed with the tone of system audio", QStringLiteral("quiet_sink.monitor"), true, 6500, false},
        {"four silent seconds are not judged", QStringLiteral("quiet_sink.monitor"), false, 4000, false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = record(recorder, QRectF(0, 0, 400, 300), c.milliseconds, true, c.microphone, c.systemAudio,
                                 QStringLiteral("sound%1.mp4").arg(n++));
        ASSERT_EQ(file.errorText(), QString());
        const MediaProbe::Result probe = MediaProbe::probe(*file.value);
        ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
        ASSERT_EQ(probe.ofType(QStringLiteral("audio")).size(), 1);
        const MediaProbe::Stream audio = probe.ofType(QStringLiteral("audio")).first();
        EXPECT_EQ(audio.codecName, QStringLiteral("aac"));
        EXPECT_EQ(audio.sampleRate, 48000);
        EXPECT_EQ(audio.channels, 2);
        // Sound and picture cover the same stretch of time.
        EXPECT_NEAR(audio.durationSeconds, probe.ofType(QStringLiteral("video")).first().durationSeconds, 0.2);
        EXPECT_EQ(settle(CaptureMedia::audioLooksSilent(media, *file.value)).value, c.silent);
    }
}

TEST_F(X11RecordingTest, UnopenableMicrophoneIsTheMicrophoneError)
{
    if (!defaultMonitor())
        GTEST_SKIP() << "no PulseAudio server: run inside scripts/test-env.sh";
    RecorderService recorder(capture);
    const auto started = settle(recorder.start(displayID, QRectF(0, 0, 200, 100), true, false,
                                               QStringLiteral("no_such_source"), path(QStringLiteral("mic.mp4"))));
    ASSERT_TRUE(started.error);
    const auto error = started.errorAs<PlatformError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), ScreenCaptureErrors::microphoneUnavailable);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("mic.mp4"))));
}

TEST_F(X11RecordingTest, VanishedMonitorEndsTheStreamWithAPlayableFile)
{
    if (QGuiApplication::screens().size() < 2)
        GTEST_SKIP() << "needs the two-monitor test display";
    const QString name = screen->name();
    const QRect native = X11ScreenCapture::nativeGeometry(displayID);
    MovingPicture picture(QRect(screen->geometry().topLeft(), QSize(300, 200)));
    RecorderService recorder(capture);
    std::optional<std::pair<std::optional<QString>, std::optional<PlatformError>>> stopped;
    recorder.onExternalStop = [&](std::optional<QString> file, std::optional<PlatformError> error) { stopped.emplace(file, error); };
    ASSERT_EQ(settle(recorder.start(displayID, QRectF(0, 0, 300, 200), false, false, std::nullopt, path(QStringLiteral("gone.mp4"))))
                  .errorText(),
              QString());
    TestSupport::spin(1500);
    QProcess::execute(QStringLiteral("xrandr"), {QStringLiteral("--delmonitor"), name});
    const auto restore = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), name,
                                                     QStringLiteral("%1/339x%2/190+%3+%4").arg(native.width()).arg(native.height()).arg(native.x()).arg(native.y()),
                                                     QStringLiteral("none")});
        TestSupport::waitUntil([] { return QGuiApplication::screens().size() >= 2; });
    });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return stopped.has_value(); }, 15000));
    EXPECT_EQ(stopped->first, path(QStringLiteral("gone.mp4")));
    ASSERT_TRUE(stopped->second);
    EXPECT_EQ(stopped->second->code(), ScreenCaptureErrors::displayGone);
    EXPECT_FALSE(recorder.isRecording());
    const MediaProbe::Result probe = MediaProbe::probe(path(QStringLiteral("gone.mp4")));
    EXPECT_TRUE(probe.ok) << probe.errors.toStdString();
    EXPECT_GT(probe.durationSeconds, 1.0);
}

// ---- Recordings in a child process: killed, or writing into a file that cannot grow ----

namespace {
const char *const kChildMode = "TOVRIKA_RECORDER_CHILD";
const char *const kChildFile = "TOVRIKA_RECORDER_CHILD_FILE";

// Runs this test program again, recording in the given mode.
QProcess *startChild(const QString &mode, const QString &file, const QList<std::pair<QString, QString>> &extraEnvironment = {})
{
    auto *child = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : extraEnvironment)
        environment.insert(name, value);
    environment.insert(QString::fromLatin1(kChildMode), mode);
    environment.insert(QString::fromLatin1(kChildFile), file);
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_also_run_disabled_tests"),
                                                           QStringLiteral("--gtest_filter=X11RecorderChild.DISABLED_Records")});
    return child;
}
} // namespace

// Not a test of its own: the body of the child process the tests below start.
TEST(X11RecorderChild, DISABLED_Records)
{
    const QString mode = qEnvironmentVariable(kChildMode);
    const QString file = qEnvironmentVariable(kChildFile);
    ASSERT_FALSE(mode.isEmpty());
    if (mode == QLatin1String("small-disk")) {
        // The file may not grow past 150 kB: writing fails as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{150 * 1024, 150 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    X11ScreenCapture capture;
    RecorderService recorder(capture);
    const QScreen *screen = recordedScreen();
    if (mode == QLatin1String("hidpi")) {
        ASSERT_EQ(settle(recorder.start(QtScreens::displayIdForOutput(screen->name()), QRectF(10, 10, 301, 201), false, false,
                                        std::nullopt, file))
                      .errorText(),
                  QString());
        TestSupport::spin(1500);
        const auto stopped = settle(recorder.stop());
        std::fprintf(stdout, "stopped: %s\n", qPrintable(stopped.error ? stopped.errorText() : QStringLiteral("no error")));
        return;
    }
    MovingPicture picture(QRect(screen->geometry().topLeft(), QSize(640, 360)));
    std::optional<PlatformError> stopError;
    bool stopped = false;
    recorder.onExternalStop = [&](std::optional<QString>, std::optional<PlatformError> error) {
        stopError = error;
        stopped = true;
    };
    ASSERT_EQ(settle(recorder.start(QtScreens::displayIdForOutput(screen->name()), QRectF(0, 0, 640, 360), false, false,
                                    std::nullopt, file))
                  .errorText(),
              QString());
    std::fputs("recording\n", stdout);
    std::fflush(stdout);
    TestSupport::waitUntil([&] { return stopped; }, 60000);
    std::fprintf(stdout, "stopped: %s\n", stopError ? qPrintable(stopError->description()) : "no error");
    std::fflush(stdout);
}

TEST_F(X11RecordingTest, KilledRecorderLeavesAFileThatPlaysAndJoins)
{
    const QString file = path(QStringLiteral("killed.mp4"));
    std::unique_ptr<QProcess> child(startChild(QStringLiteral("kill"), file));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return child->readAllStandardOutput().contains("recording"); }, 20000));
    TestSupport::spin(3200);
    ::kill(pid_t(child->processId()), SIGKILL);
    child->waitForFinished();

    const MediaProbe::Result probe = MediaProbe::probe(file);
    ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
    EXPECT_EQ(probe.ofType(QStringLiteral("video")).first().codecName, QStringLiteral("h264"));
    EXPECT_GT(probe.ofType(QStringLiteral("video")).first().frames, 30);

    // What survived joins with a normal segment and can be rewritten for streaming.
    const QString other = path(QStringLiteral("other.mp4"));
    ASSERT_EQ(MediaFixtures::ffmpeg({QStringLiteral("-i"), file, QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-movflags"),
                                     QStringLiteral("frag_keyframe+empty_moov+default_base_moof"), other}),
              QString());
    const QString merged = path(QStringLiteral("merged.mp4"));
    ASSERT_EQ(settle(CaptureMedia::mergeSegments(media, {file, other}, merged)).errorText(), QString());
    const MediaProbe::Result joined = MediaProbe::probe(merged);
    ASSERT_TRUE(joined.ok) << joined.errors.toStdString();
    EXPECT_NEAR(joined.durationSeconds, 2 * probe.durationSeconds, 0.2);
    EXPECT_EQ(settle(CaptureMedia::optimizeForStreaming(media, file)).value, file);
    EXPECT_TRUE(MediaProbe::probe(file).ok);
}

TEST_F(X11RecordingTest, FileThatCannotGrowEndsTheSegmentAndKeepsWhatWasWritten)
{
    const QString file = path(QStringLiteral("full.mp4"));
    std::unique_ptr<QProcess> child(startChild(QStringLiteral("small-disk"), file));
    ASSERT_TRUE(child->waitForFinished(60000));
    const QString output = QString::fromUtf8(child->readAllStandardOutput());
    EXPECT_EQ(child->exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("stopped: The recording could not be written: "))) << output.toStdString();
    const MediaProbe::Result probe = MediaProbe::probe(file);
    EXPECT_TRUE(probe.ok) << probe.errors.toStdString();
    EXPECT_GT(probe.ofType(QStringLiteral("video")).value(0).frames, 0);
}

TEST_F(X11RecordingTest, ScaledScreenRecordsItsPixelsAtTheRightPlace)
{
    // A block at a known place in X pixels: 120 pixels right of and below the screen's corner.
    const QRect native = X11ScreenCapture::nativeGeometry(displayID);
    QWidget block;
    block.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    block.setStyleSheet(QStringLiteral("background: rgb(20, 40, 220)"));
    block.setGeometry(QRect(native.topLeft() + QPoint(120, 120), QSize(80, 80)));
    block.show();
    TestSupport::spin(300);

    // At scale 2 the region from 10 points in, 301 × 201 points, is 602 × 402 pixels from pixel 20.
    const QString file = path(QStringLiteral("hidpi.mp4"));
    std::unique_ptr<QProcess> child(startChild(QStringLiteral("hidpi"), file, {{QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2")}}));
    ASSERT_TRUE(child->waitForFinished(60000));
    EXPECT_TRUE(child->readAllStandardOutput().contains("stopped: no error"));
    const MediaProbe::Result probe = MediaProbe::probe(file);
    ASSERT_TRUE(probe.ok) << probe.errors.toStdString();
    const MediaProbe::Stream video = probe.ofType(QStringLiteral("video")).value(0);
    EXPECT_EQ(QSize(video.width, video.height), QSize(602, 402));

    ASSERT_EQ(settle(CaptureMedia::generatePoster(media, file)).errorText(), QString());
    const QImage frame(CaptureMedia::posterURL(file));
    ASSERT_EQ(frame.size(), QSize(602, 402));
    const QColor inside = frame.pixelColor(140, 140); // the block's middle, 100 + 40
    EXPECT_LT(std::abs(inside.red() - 20) + std::abs(inside.green() - 40) + std::abs(inside.blue() - 220), 60);
    const QColor outside = frame.pixelColor(60, 60);
    EXPECT_GT(std::abs(outside.red() - 20) + std::abs(outside.green() - 40) + std::abs(outside.blue() - 220), 60);
}

TEST_F(X11RecordingTest, MicrophonesAreSourcesThatAreNotMonitors)
{
    if (!defaultMonitor())
        GTEST_SKIP() << "no PulseAudio server: run inside scripts/test-env.sh";
    const QString module = runPactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                                     QStringLiteral("source_name=desk_mic"), QStringLiteral("description=Desk")});
    const auto cleanup = qScopeGuard([&] { runPactl({QStringLiteral("unload-module"), module}); });
    const QList<MediaDevice> microphones = media.audioInputDevices();
    EXPECT_TRUE(std::any_of(microphones.cbegin(), microphones.cend(),
                            [](const MediaDevice &d) { return d.id == QLatin1String("desk_mic") && !d.name.isEmpty(); }));
    EXPECT_TRUE(std::none_of(microphones.cbegin(), microphones.cend(),
                             [](const MediaDevice &d) { return d.id.endsWith(QLatin1String(".monitor")); }));
    // The server's default source is the default microphone, monitor or not.
    const auto state = PulseAudio::query();
    ASSERT_TRUE(state);
    ASSERT_TRUE(media.defaultAudioInputDevice());
    EXPECT_EQ(media.defaultAudioInputDevice()->id, state->defaultSourceName);
}
