// The program's side of the stop-to-link benchmark. It runs the app's own recording control
// and publishing (AppState) over the real desktop facilities, except for the screen recorder:
// that one "records" each segment by copying the next of the given segment files into place,
// so the finishing that follows has real recordings to join. The countdown runs out at once.
//
//   publish_bench --mic on|off SEGMENT...   (the refresh token of a signed-in user on stdin)
//
// Drives start, then pause and resume after every segment but the last, then stop, and prints
// "seconds=<stop to the reserved link on the clipboard> joined_seconds=<stop to the segments
// joined> publishing_seconds=<stop to the publish starting, the checks done>
// shared_seconds=<stop to the upload and share link being done> credentials=<store> link=<url>
// joined=<the joined recording's path>".
// The service and the captures folder come from TOVRIKA_API_BASE, TOVRIKA_AUTHORITY and
// TOVRIKA_CAPTURES_DIR.

#include "app/AppState.h"
#include "app/CaptureMedia.h"
#include "auth/Keychain.h"
#include "capture/CaptureError.h"
#include "capture/CaptureOverlays.h"
#include "capture/Recorder.h"
#include "platform/Clipboard.h"
#include "platform/CredentialStore.h"
#include "platform/linux/BrowserAuthSheet.h"
#include "platform/linux/DBusNotifications.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "platform/linux/JsonSettingsStore.h"
#include "platform/linux/QtCameras.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/SecretServiceCredentialStore.h"
#include "platform/linux/X11KeyGrabber.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/linux/XdgWorkspace.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Notifier.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <qcorotimer.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const QString kRefreshTokenAccount = QStringLiteral("refreshToken");

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// A recorder that plays back recordings made beforehand: each start copies the next one to the
// segment file asked for, as if it had just been captured there; stop hands that file back.
class ReplayRecorder final : public Recorder {
public:
    explicit ReplayRecorder(QStringList takes) : m_takes(std::move(takes)) {}

    QCoro::Task<> start(quint32, std::optional<QRectF>, bool, bool, std::optional<QString>, QString filePath) override
    {
        if (m_current)
            throw CaptureError::failed(QStringLiteral("A segment is already being recorded."));
        if (m_next >= m_takes.size())
            throw CaptureError::failed(QStringLiteral("No recording is left to play back."));
        if (!QFile::copy(m_takes[m_next], filePath))
            throw CaptureError::failed(QStringLiteral("%1 couldn't be copied to %2.").arg(m_takes[m_next], filePath));
        ++m_next;
        m_current = filePath;
        co_return;
    }

    QCoro::Task<QString> stop() override
    {
        if (!m_current)
            throw CaptureError::notRecording();
        const QString file = *m_current;
        m_current.reset();
        co_return file;
    }

    std::optional<QString> currentFile() const override { return m_current; }

    qsizetype played() const { return m_next; }

private:
    QStringList m_takes;
    qsizetype m_next = 0;
    std::optional<QString> m_current;
};

// Nothing to show: no region is ever selected here, and the countdown runs out at once.
class NoOverlays final : public CaptureOverlays {
public:
    QCoro::Task<std::optional<RegionSelection>> selectRegion() override { co_return std::nullopt; }
    QCoro::Task<bool> countdown(quint32, std::optional<QRectF>, int, bool) override { co_return true; }
    void showBorder(quint32, const QRectF &) override {}
    void hideBorder() override {}
    void showCameraBubble(quint32, std::optional<QRectF>, const QString &, std::optional<QString>) override {}
    void hideCameraBubble() override {}
};

// The X clipboard, noting when text was last put on it.
class StampingClipboard final : public Clipboard {
public:
    void setText(const QString &text) override
    {
        m_system.setText(text);
        stampedAt = Clock::now();
        lastText = text;
        ++texts;
    }
    void setImage(const QImage &image) override { m_system.setImage(image); }
    QString text() const override { return m_system.text(); }

    std::optional<Clock::time_point> stampedAt;
    QString lastText;
    int texts = 0;

private:
    QtClipboard m_system;
};

// Keeps secrets in memory, for a session without a Secret Service.
class MemoryCredentialStore final : public CredentialStore {
public:
    Lookup read(const QString &account) override
    {
        const auto it = m_items.constFind(account);
        return {it == m_items.constEnd() ? std::nullopt : std::optional(*it), std::nullopt};
    }
    std::optional<Failure> write(const QString &account, const QByteArray &data) override
    {
        m_items.insert(account, data);
        return std::nullopt;
    }
    void remove(const QString &account) override { m_items.remove(account); }

private:
    QMap<QString, QByteArray> m_items;
};

// What the program wrote to its log about the publish, from any thread, and when the join
// ended and the publish began (steady clock ticks; 0 until then).
std::atomic<bool> publishFailed{false};
std::atomic<bool> publishDone{false};
std::atomic<Clock::rep> mergedAt{0};
std::atomic<Clock::rep> publishStartedAt{0};

double secondsUntil(Clock::time_point from, const std::atomic<Clock::rep> &ticks)
{
    return secondsBetween(from, Clock::time_point(Clock::duration(ticks.load())));
}

struct Run {
    AppState *state = nullptr;
    ReplayRecorder *recorder = nullptr;
    StampingClipboard *clipboard = nullptr;
    QString refreshToken;
    QString credentials;
    quint32 displayID = 0;
    qsizetype segments = 0;
    int status = 1;
};

bool fail(const char *what)
{
    std::fprintf(stderr, "publish_bench: %s\n", what);
    return false;
}

QCoro::Task<bool> record(Run *run)
{
    AppState &state = *run->state;
    co_await state.startRecording(run->displayID, std::nullopt, false, false);
    if (!state.phase().is(AppPhase::Kind::recording))
        co_return fail("the recording did not start");
    // A pause after every segment but the last, each followed by a resume.
    const qsizetype segments = run->segments;
    for (qsizetype i = 1; i < segments; ++i) {
        co_await state.togglePauseRecording();
        if (!state.recordingPaused())
            co_return fail("the recording did not pause");
        co_await state.togglePauseRecording();
        if (state.recordingPaused() || !state.phase().is(AppPhase::Kind::recording))
            co_return fail("the recording did not resume");
    }
    if (run->recorder->played() != segments)
        co_return fail("not every segment was recorded");
    co_return true;
}

QCoro::Task<> drive(Run *run)
{
    AppState &state = *run->state;
    // Signed in the way a running program is: the refresh token in the credential store, and
    // the session check at start-up has fetched an access token.
    Keychain::write(kRefreshTokenAccount, run->refreshToken);
    co_await state.verifySession(false);
    if (!state.signedInAs()) {
        fail("the refresh token was not accepted");
        QCoreApplication::quit();
        co_return;
    }

    if (!co_await record(run)) {
        QCoreApplication::quit();
        co_return;
    }

    // The segments' pages are written out, as the timed steps of the script start.
    ::sync();
    const Clock::time_point stopped = Clock::now();
    co_await state.stopRecording(); // back once the upload and the share link are done
    const Clock::time_point shared = Clock::now();

    const std::optional<ShareLink> link = state.lastLink();
    const QList<RecentCapture> &recents = state.recentCaptures();
    if (!run->clipboard->stampedAt || run->clipboard->texts != 1) {
        fail("the link was not put on the clipboard once");
    } else if (recents.isEmpty() || !recents.first().filePath || recents.first().url != run->clipboard->lastText) {
        fail("the clipboard does not hold the reserved link of the recording");
    } else if (publishFailed || !publishDone || !link || !state.phase().is(AppPhase::Kind::idle)) {
        fail("the publish did not finish");
    } else if (mergedAt == 0 || publishStartedAt == 0) {
        fail("the join or the publish left no word in the log");
    } else {
        const QString joined = *recents.first().filePath;
        // The poster of the recents list is written in the background: the run ends after it.
        const QString poster = CaptureMedia::posterURL(joined);
        for (int i = 0; i < 100 && !QFileInfo::exists(poster); ++i)
            co_await QCoro::sleepFor(std::chrono::milliseconds(100));
        std::printf("seconds=%.3f joined_seconds=%.3f publishing_seconds=%.3f shared_seconds=%.3f credentials=%s "
                    "link=%s joined=%s\n",
                    secondsBetween(stopped, *run->clipboard->stampedAt), secondsUntil(stopped, mergedAt),
                    secondsUntil(stopped, publishStartedAt), secondsBetween(stopped, shared),
                    qPrintable(run->credentials), qPrintable(run->clipboard->lastText), qPrintable(joined));
        std::fflush(stdout);
        run->status = 0;
    }
    QCoreApplication::quit();
}

int usage()
{
    std::fprintf(stderr, "usage: publish_bench --mic on|off SEGMENT...   (refresh token on stdin)\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovrika"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4 || arguments[1] != QLatin1String("--mic")
        || (arguments[2] != QLatin1String("on") && arguments[2] != QLatin1String("off")))
        return usage();
    const bool microphone = arguments[2] == QLatin1String("on");
    const QStringList takes = arguments.mid(3);

    Run run;
    QTextStream input(stdin);
    run.refreshToken = input.readLine().trimmed();
    if (run.refreshToken.isEmpty())
        return usage();

    FileLog::setOnWrite([](const QString &message) {
        if (message.startsWith(QLatin1String("publish failed")) || message.startsWith(QLatin1String("merge"))
            || message.startsWith(QLatin1String("Couldn't finish")))
            std::fprintf(stderr, "log: %s\n", qPrintable(message));
        if (message.startsWith(QLatin1String("publish failed")))
            publishFailed = true;
        if (message.startsWith(QLatin1String("publish done")))
            publishDone = true;
        if (message.startsWith(QLatin1String("merged ")))
            mergedAt = Clock::now().time_since_epoch().count();
        if (message.startsWith(QLatin1String("publish start")))
            publishStartedAt = Clock::now().time_since_epoch().count();
    });

    QTemporaryDir settingsDir;
    JsonSettingsStore settings(settingsDir.filePath(QStringLiteral("settings.json")));
    settings.setValue(QStringLiteral("welcomeShown"), true);
    QtScreens screens;
    DBusNotifications notifications;
    StampingClipboard clipboard;
    XdgWorkspace workspace;
    XdgAutostartLoginItem loginItem;
    BrowserAuthSheet webAuth;
    X11ScreenCapture screenCapture;
    FfmpegMediaToolkit media;
    X11KeyGrabber keys;
    QtCameras cameras;

    // The desktop's credential store when the session has one, else memory.
    SecretServiceCredentialStore secretService;
    MemoryCredentialStore memory;
    CredentialStore *credentials = &secretService;
    run.credentials = QStringLiteral("secret-service");
    if (secretService.write(kRefreshTokenAccount, QByteArray("probe"))) {
        credentials = &memory;
        run.credentials = QStringLiteral("memory");
    }
    // Signed out until the drive signs in, so that start-up checks no session of its own.
    credentials->remove(kRefreshTokenAccount);

    const Platform platform{settings, screens, notifications, clipboard, workspace, loginItem, *credentials,
                            webAuth, screenCapture, media, keys, cameras};
    L10n::useSettings(&platform.settings);
    Notifier::setBackend(&platform.notifications);
    Keychain::setStore(&platform.credentials);
    {
        CaptureServices services;
        auto recorder = std::make_unique<ReplayRecorder>(takes);
        run.recorder = recorder.get();
        services.recorder = std::move(recorder);
        services.overlays = std::make_unique<NoOverlays>();
        AppState state(platform, std::move(services));
        state.setMicEnabled(microphone);
        state.setAskForCaptureName(false);
        state.setAskForViewers(false);
        run.state = &state;
        run.clipboard = &clipboard;
        run.displayID = screens.primaryScreen().displayID;
        run.segments = takes.size();

        // Started from the event loop, so that its quit always finds the loop running.
        std::optional<QCoro::Task<>> driving;
        QTimer::singleShot(0, &state, [&] { driving.emplace(drive(&run)); });
        QApplication::exec();
    }
    credentials->remove(kRefreshTokenAccount);
    Notifier::setBackend(nullptr);
    Keychain::setStore(nullptr);
    return run.status;
}
