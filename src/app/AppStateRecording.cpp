// AppState: recording control. Starting after the countdown, pausing and resuming as separate
// segment files, the elapsed clock with its GIF and share-limit stops, stop, discard, redo and
// the recorder ending on its own. Every continuation after a wait checks that its finishing
// attempt (or the recording it started) is still the current one before touching state.

#include "app/AppState.h"

#include "app/Config.h"
#include "capture/CaptureError.h"
#include "capture/LiveCaptureOverlays.h"
#include "capture/RecorderService.h"
#include "platform/MediaToolkit.h"
#include "platform/Screens.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Notifier.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <qcorotimer.h>

namespace {
constexpr int kCountdownSeconds = 3;
constexpr auto kCameraSettleDelay = std::chrono::milliseconds(250);
constexpr int kGifSeconds = 9; // the stop comes at the first tick past this many whole seconds

void notify(const QString &title, const QString &body)
{
    Notifier::show(L10n::tr(title), L10n::tr(body));
}

QString recordingPrefix()
{
    return QStringLiteral("Screen Recording");
}

void deleteFiles(const QList<QString> &files)
{
    for (const QString &file : files)
        QFile::remove(file); // failures are ignored: nothing more can be done about them
}
} // namespace

CaptureServices CaptureServices::live(const Platform &platform)
{
    CaptureServices services;
    services.recorder = std::make_unique<RecorderService>(platform.screenCapture);
    services.overlays = std::make_unique<LiveCaptureOverlays>(platform.screens, platform.keys, platform.cameras);
    return services;
}

// ---- Names ----

QString AppState::captureName(const QString &prefix, const QString &ext, const QDateTime &when)
{
    const QString date = QLocale().toString(when.toLocalTime(), QStringLiteral("yyyy-MM-dd 'at' h.mm.ss AP"));
    return QStringLiteral("%1 %2.%3").arg(prefix, date, ext);
}

QString AppState::newCaptureFile(const QString &prefix, const QString &ext) const
{
    const QDir folder(Config::capturesFolder());
    const QString name = captureName(prefix, ext, clock());
    const QString stem = name.left(name.size() - ext.size() - 1);
    QString path = folder.filePath(name);
    // The recorder may not have created the file of the segment it writes yet.
    for (int n = 2; QFileInfo::exists(path) || path == m_capture.recorder->currentFile(); ++n)
        path = folder.filePath(QStringLiteral("%1 %2.%3").arg(stem).arg(n).arg(ext));
    return path;
}

// ---- Devices ----

QList<MediaDevice> AppState::audioInputDevices() const
{
    return m_platform.media.audioInputDevices();
}

QList<MediaDevice> AppState::cameraDevices() const
{
    return m_platform.media.videoInputDevices();
}

QString AppState::systemDefaultMicrophoneLabel() const
{
    const auto device = m_platform.media.defaultAudioInputDevice();
    if (device && !device->name.isEmpty())
        return L10n::text(QStringLiteral("System Default ({device})"), {{QStringLiteral("device"), device->name}});
    return L10n::tr(QStringLiteral("System Default"));
}

std::optional<QString> AppState::resolvedMicrophoneDeviceID(const std::optional<QString> &id) const
{
    if (id && !id->isEmpty())
        for (const MediaDevice &device : audioInputDevices())
            if (device.id == *id)
                return id;
    if (const auto fallback = m_platform.media.defaultAudioInputDevice())
        return fallback->id;
    return std::nullopt;
}

std::optional<QString> AppState::microphoneDeviceName(const std::optional<QString> &id) const
{
    if (!id || id->isEmpty())
        return std::nullopt;
    for (const MediaDevice &device : audioInputDevices())
        if (device.id == *id)
            return device.name;
    if (const auto fallback = m_platform.media.defaultAudioInputDevice(); fallback && fallback->id == *id)
        return fallback->name;
    return std::nullopt;
}

std::optional<QString> AppState::microphoneForRecording()
{
    if (!micEnabled()) {
        recordingMicrophoneName.reset();
        return std::nullopt;
    }
    const auto id = resolvedMicrophoneDeviceID(micDeviceID());
    recordingMicrophoneName = microphoneDeviceName(id).value_or(L10n::tr(QStringLiteral("your microphone")));
    FileLog::write(QStringLiteral("recording microphone: ") + *recordingMicrophoneName);
    return id;
}

// ---- Choosing what to record ----

void AppState::toggleRecording(bool fullScreen)
{
    if (m_phase.is(Phase::Kind::recording)) {
        stopRecording();
        return;
    }
    if (!m_phase.is(Phase::Kind::idle))
        return;
    translationArmed = false;
    if (!fullScreen) {
        startAreaRecording();
        return;
    }
    const ScreenInfo screen = m_platform.screens.keyWindowScreen().value_or(m_platform.screens.primaryScreen());
    startFullScreenRecording(screen.displayID);
}

QCoro::Task<> AppState::startFullScreenRecording(quint32 displayID)
{
    const std::optional<QRectF> wholeDisplay;
    co_await startRecording(displayID, wholeDisplay, false, false);
}

QCoro::Task<> AppState::startAreaRecording()
{
    co_await startSelectedRecording(false);
}

QCoro::Task<> AppState::startGifRecording()
{
    co_await startSelectedRecording(true);
}

QCoro::Task<> AppState::startSelectedRecording(bool asGif)
{
    QPointer<AppState> self(this);
    setPhase(Phase::selectingRegion());
    const std::optional<RegionSelection> selection = co_await m_capture.overlays->selectRegion();
    if (!self)
        co_return;
    if (!selection) {
        setPhase(Phase::idle());
        registerHotKeysUnlessSuspended();
        co_return;
    }
    const std::optional<QRectF> rect = selection->rect;
    co_await startRecording(selection->displayID, rect, asGif, false);
    if (self)
        registerHotKeysUnlessSuspended();
}

QCoro::Task<> AppState::recordWithTranslation()
{
    if (!m_capture.translationPicker) {
        FileLog::write(QStringLiteral("record with translation: no translation picker"));
        co_return;
    }
    QPointer<AppState> self(this);
    const std::optional<TranslationChoice> choice = co_await m_capture.translationPicker->run();
    if (!self || !choice)
        co_return;
    translationArmed = true;
    if (*choice == TranslationChoice::fullScreen) {
        const std::optional<QRectF> wholeDisplay;
        co_await startRecording(m_platform.screens.primaryScreen().displayID, wholeDisplay, false, false);
    } else {
        setPhase(Phase::selectingRegion());
        const std::optional<RegionSelection> selection = co_await m_capture.overlays->selectRegion();
        if (!self)
            co_return;
        if (!selection) {
            translationArmed = false;
            setPhase(Phase::idle());
            registerHotKeysUnlessSuspended();
            co_return;
        }
        const std::optional<QRectF> rect = selection->rect;
        co_await startRecording(selection->displayID, rect, false, false);
        if (!self)
            co_return;
        registerHotKeysUnlessSuspended();
    }
    if (self && !m_phase.is(Phase::Kind::recording))
        translationArmed = false;
}

void AppState::quickRecordLastSelection()
{
    translationArmed = false;
    if (!m_phase.is(Phase::Kind::idle) || !m_lastSelection)
        return;
    const LastSelection selection = *m_lastSelection;
    const QList<ScreenInfo> screens = m_platform.screens.screens();
    const bool connected = std::any_of(screens.begin(), screens.end(),
                                       [&](const ScreenInfo &screen) { return screen.displayID == selection.displayID; });
    if (!connected) {
        notify(QStringLiteral("Can't record again"),
               QStringLiteral("The display from the last recording isn't connected. Pick a new selection."));
        return;
    }
    startRecording(selection.displayID, selection.rect, false, false);
}

// ---- Start ----

QCoro::Task<> AppState::startSegment(quint32 displayID, std::optional<QRectF> sourceRect, QString file)
{
    const std::optional<QString> microphone = microphoneForRecording();
    co_await m_capture.recorder->start(displayID, sourceRect, micEnabled(), systemAudioEnabled(), microphone, file);
}

QCoro::Task<> AppState::startRecording(quint32 displayID, std::optional<QRectF> sourceRect, bool asGif, bool restarting)
{
    if (startingRecording)
        co_return;
    startingRecording = true;
    QPointer<AppState> self(this);

    if (sourceRect)
        m_capture.overlays->showBorder(displayID, *sourceRect);
    const bool counted = co_await m_capture.overlays->countdown(displayID, sourceRect, kCountdownSeconds, false);
    if (!self)
        co_return;
    if (!counted) {
        hideRecordingOverlays();
        setPhase(Phase::idle());
        if (restarting) {
            recordingAsGif = false;
            notify(QStringLiteral("Recording discarded"), QStringLiteral("Nothing was saved or uploaded."));
        }
        startingRecording = false;
        co_return;
    }

    const QString file = newCaptureFile(recordingPrefix(), QStringLiteral("mp4"));
    if (m_cameraCorner != QLatin1String("off")) {
        m_capture.overlays->showCameraBubble(displayID, sourceRect, m_cameraCorner, m_cameraDeviceID);
        co_await QCoro::sleepFor(kCameraSettleDelay);
        if (!self)
            co_return;
    }

    std::optional<QString> failure;
    try {
        co_await startSegment(displayID, sourceRect, file);
    } catch (const std::exception &error) {
        failure = friendlyCaptureMessage(error);
    }
    if (!self)
        co_return;
    if (failure) {
        hideRecordingOverlays();
        setPhase(Phase::idle());
        Notifier::show(L10n::tr(QStringLiteral("Couldn't start recording")), *failure);
        startingRecording = false;
        co_return;
    }

    recordingAsGif = asGif;
    gifStopIssued = false;
    activeRecording = ActiveRecording{displayID, sourceRect, {}, asGif};
    if (!asGif)
        setLastSelection(LastSelection{displayID, sourceRect});
    elapsedAccumulated = 0;
    setRecordingPaused(false);
    shareLimitStopIssued = false;
    const QDateTime started = clock();
    setPhase(Phase::recording(started));
    startElapsedTimer(started);
    startingRecording = false;
}

// ---- Pause and resume ----

QCoro::Task<> AppState::togglePauseRecording()
{
    QPointer<AppState> self(this);
    if (m_recordingPaused) {
        if (!activeRecording)
            co_return;
        const ActiveRecording recording = *activeRecording;
        const QString file = newCaptureFile(recordingPrefix(), QStringLiteral("mp4"));
        std::optional<QString> failure;
        try {
            co_await startSegment(recording.displayID, recording.sourceRect, file);
        } catch (const std::exception &error) {
            failure = friendlyCaptureMessage(error);
        }
        if (!self)
            co_return;
        if (failure) {
            Notifier::show(L10n::tr(QStringLiteral("Couldn't resume recording")), *failure);
            co_return;
        }
        if (!activeRecording) {
            // Stopped or discarded while the segment was starting: this segment belongs to no
            // recording any more, so it is ended and left in the captures folder.
            try {
                co_await m_capture.recorder->stop();
            } catch (const std::exception &) {
            }
            co_return;
        }
        setRecordingPaused(false);
        const QDateTime started = clock();
        setPhase(Phase::recording(started));
        startElapsedTimer(started);
        co_return;
    }

    if (!m_phase.is(Phase::Kind::recording) || !activeRecording)
        co_return;
    const QDateTime started = m_phase.started;
    std::optional<QString> file;
    std::optional<QString> failure;
    try {
        file = co_await m_capture.recorder->stop();
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    if (failure) {
        Notifier::show(L10n::tr(QStringLiteral("Couldn't pause recording")), *failure);
        co_return;
    }
    if (!activeRecording)
        co_return; // stopped meanwhile: the stop took the recording, the file stays on disk
    activeRecording->segments.append(*file);
    elapsedAccumulated += started.msecsTo(clock()) / 1000.0;
    stopElapsedTimer();
    setRecordingPaused(true);
}

// ---- Elapsed time ----

void AppState::startElapsedTimer(const QDateTime &started)
{
    stopElapsedTimer();
    updateElapsed(started);
    m_elapsedTimer.start();
}

void AppState::stopElapsedTimer()
{
    m_elapsedTimer.stop();
}

void AppState::updateElapsed(const QDateTime &started)
{
    const auto total = qint64(elapsedAccumulated + started.msecsTo(clock()) / 1000.0);
    setElapsed(QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0')));
}

void AppState::elapsedTick()
{
    if (!m_phase.is(Phase::Kind::recording) || m_recordingPaused)
        return;
    const QDateTime started = m_phase.started;
    updateElapsed(started);
    stopIfAtShareLimit();
    if (recordingAsGif && !gifStopIssued && m_phase.is(Phase::Kind::recording)
        && qint64(elapsedAccumulated + started.msecsTo(clock()) / 1000.0) > kGifSeconds) {
        gifStopIssued = true;
        stopRecording();
    }
}

qint64 AppState::recordingBytesSoFar() const
{
    QList<QString> files = activeRecording ? activeRecording->segments : QList<QString>{};
    if (const auto current = m_capture.recorder->currentFile())
        files.append(*current);
    qint64 total = 0;
    for (const QString &file : files)
        total += QFileInfo(file).size(); // 0 when it cannot be read
    return total;
}

void AppState::stopIfAtShareLimit()
{
    if (shareLimitStopIssued || recordingBytesSoFar() < shareLimitBytes)
        return;
    shareLimitStopIssued = true;
    FileLog::write(QStringLiteral("auto-stop: recording reached the %1 GB share limit").arg(2));
    notify(QStringLiteral("Recording stopped at the 2 GB limit"),
           QStringLiteral("Videos over 2 GB can't be shared. Everything up to here is being saved and shared."));
    stopRecording();
}

// ---- Stop, discard, redo ----

void AppState::hideRecordingOverlays()
{
    m_capture.overlays->hideBorder();
    m_capture.overlays->hideCameraBubble();
}

std::pair<QList<QString>, int> AppState::endRecordingForFinishing()
{
    stopElapsedTimer();
    hideRecordingOverlays();
    setRecordingPaused(false);
    QList<QString> segments = activeRecording ? activeRecording->segments : QList<QString>{};
    activeRecording.reset();
    elapsedAccumulated = 0;
    setPhase(Phase::processing());
    finishingFile = segments.isEmpty() ? std::nullopt : std::optional(segments.last());
    return {segments, finishingToken};
}

QCoro::Task<> AppState::stopRecording()
{
    QPointer<AppState> self(this);
    const bool wasPaused = m_recordingPaused;
    const auto ended = endRecordingForFinishing();
    QList<QString> segments = ended.first;
    const int token = ended.second;

    if (wasPaused) {
        if (finishingIsCurrent(token))
            co_await finishAndPublish(segments, token);
        co_return;
    }

    std::optional<QString> file;
    std::optional<QString> failure;
    bool notRecording = false;
    try {
        file = co_await m_capture.recorder->stop();
    } catch (const CaptureError &error) {
        notRecording = error.kind() == CaptureError::Kind::notRecording;
        failure = error.description();
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    if (notRecording)
        FileLog::write(QStringLiteral("stop ignored: no capture in progress"));
    if (!finishingIsCurrent(token))
        co_return; // given up meanwhile: the results are dropped
    if (file) {
        segments.append(*file);
        finishingFile = file;
    } else if (!notRecording) {
        setPhase(Phase::idle());
        Notifier::show(L10n::tr(QStringLiteral("Recording failed")), *failure);
        co_return;
    } else if (segments.isEmpty()) {
        setPhase(Phase::idle());
        co_return;
    }
    co_await finishAndPublish(segments, token);
}

QCoro::Task<std::pair<QList<QString>, int>> AppState::stopForDiscard()
{
    QPointer<AppState> self(this);
    discardingRecording = true;
    const auto ended = endRecordingForFinishing();
    QList<QString> segments = ended.first;
    const int token = ended.second;
    try {
        const QString file = co_await m_capture.recorder->stop();
        if (self && finishingIsCurrent(token)) {
            segments.append(file);
            finishingFile = file;
        }
    } catch (const std::exception &) {
        // nothing was being recorded, or it failed: there is nothing more to delete
    }
    co_return std::pair(segments, token);
}

QCoro::Task<> AppState::discardRecording()
{
    if (!m_phase.is(Phase::Kind::recording))
        co_return;
    QPointer<AppState> self(this);
    const std::pair<QList<QString>, int> stopped = co_await stopForDiscard();
    if (!self)
        co_return;
    if (finishingIsCurrent(stopped.second)) {
        deleteFiles(stopped.first);
        recordingAsGif = false;
        setPhase(Phase::idle());
        notify(QStringLiteral("Recording discarded"), QStringLiteral("Nothing was saved or uploaded."));
    }
    discardingRecording = false;
}

QCoro::Task<> AppState::redoRecording()
{
    if (!m_phase.is(Phase::Kind::recording) || !activeRecording)
        co_return;
    QPointer<AppState> self(this);
    const ActiveRecording kept = *activeRecording;
    const std::pair<QList<QString>, int> stopped = co_await stopForDiscard();
    if (!self)
        co_return;
    deleteFiles(stopped.first);
    recordingAsGif = false;
    setPhase(Phase::idle());
    discardingRecording = false;
    co_await startRecording(kept.displayID, kept.sourceRect, kept.asGif, true);
}

void AppState::handleExternalStop(std::optional<QString> file, std::optional<PlatformError> error)
{
    if (discardingRecording)
        return;
    stopElapsedTimer();
    // The camera bubble goes too: with the recording over it would float there for nothing.
    hideRecordingOverlays();
    setRecordingPaused(false);
    QList<QString> segments = activeRecording ? activeRecording->segments : QList<QString>{};
    activeRecording.reset();
    elapsedAccumulated = 0;

    if (file && QFileInfo(*file).size() > 0) {
        finishingFile = file;
        setPhase(Phase::processing());
        segments.append(*file);
        finishAndPublish(segments, finishingToken);
        return;
    }
    setPhase(Phase::idle());
    Notifier::show(L10n::tr(QStringLiteral("Recording stopped")),
                   error ? error->description() : L10n::tr(QStringLiteral("The capture ended unexpectedly.")));
}

// ---- Hotkeys ----

void AppState::registerHotKeysUnlessSuspended()
{
    if (!m_hotKeys->isSuspended())
        m_hotKeys->registerAll();
}

void AppState::dispatchHotKey(HotKeys::Action action)
{
    const bool idle = m_phase.is(Phase::Kind::idle);
    if (!idle)
        FileLog::write(QStringLiteral("hotkey %1 while phase %2").arg(HotKeys::caseName(action), m_phase.description()));
    switch (action) {
    case HotKeys::Action::toggleAreaRecording:
        toggleRecording(false);
        break;
    case HotKeys::Action::toggleFullScreenRecording:
        toggleRecording(true);
        break;
    case HotKeys::Action::quickRecord:
        quickRecordLastSelection();
        break;
    case HotKeys::Action::gifRecording:
        if (idle) {
            translationArmed = false;
            startGifRecording();
        }
        break;
    case HotKeys::Action::screenshot:
    case HotKeys::Action::screenshotToClipboard:
    case HotKeys::Action::delayedScreenshot:
    case HotKeys::Action::screenshotAnnotate:
    case HotKeys::Action::copyTextFromScreen:
        FileLog::write(QStringLiteral("hotkey %1: screenshots are not part of this build").arg(HotKeys::caseName(action)));
        break;
    }
}
