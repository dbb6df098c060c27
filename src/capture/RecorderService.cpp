#include "capture/RecorderService.h"

#include "capture/CaptureError.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QFileInfo>
#include <cmath>
#include <qcorosignal.h>
#include <qcorotimer.h>

// The one waiting stop(): whoever resolves it first (finished, failed, timeout) wins.
class RecorderFinishWaiter final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool resolved = false;
    std::optional<PlatformError> error;
signals:
    void done();
};

RecorderService::RecorderService(ScreenCapture &capture, QObject *parent)
    : RecorderService(capture, Timing{}, parent)
{
}

RecorderService::RecorderService(ScreenCapture &capture, Timing timing, QObject *parent)
    : QObject(parent)
    , m_capture(capture)
    , m_timing(timing)
{
}

RecorderService::~RecorderService() = default;

qreal RecorderService::pixelScale(const ShareableDisplay &display)
{
    if (display.mode && display.mode->widthPoints >= 1)
        return qreal(display.mode->widthPixels) / qreal(display.mode->widthPoints);
    return display.pointPixelScale > 0 ? display.pointPixelScale : 2.0;
}

QSize RecorderService::outputPixelSize(QSizeF points, qreal scale)
{
    const auto pixels = [scale](qreal value) {
        long rounded = std::lround(value * scale); // halves away from zero
        if (rounded <= 2)
            rounded = 2;
        return int(rounded & ~1L); // encoders want even sizes
    };
    return {pixels(points.width()), pixels(points.height())};
}

QCoro::Task<RecorderService::FoundDisplay> RecorderService::shareableDisplay(ScreenCapture &capture, quint32 displayID,
                                                                             std::chrono::milliseconds retryDelay)
{
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        ShareableContent content = co_await capture.shareableContent();
        for (const ShareableDisplay &display : std::as_const(content.displays)) {
            if (display.displayID == displayID)
                co_return FoundDisplay{content, display};
        }
        if (attempt < attempts) {
            co_await QCoro::sleepFor(retryDelay);
            continue;
        }
        // A display that was replaced (reconnected) is still found on a single-screen desk.
        if (content.displays.size() == 1) {
            const ShareableDisplay only = content.displays.first();
            co_return FoundDisplay{std::move(content), only};
        }
        throw CaptureError::displayNotFound();
    }
}

QCoro::Task<> RecorderService::start(quint32 displayID, std::optional<QRectF> sourceRect, bool microphone,
                                     bool systemAudio, std::optional<QString> microphoneDeviceID, QString filePath)
{
    // A start that is still finding its display counts as a recording too.
    if (m_stream || m_starting)
        throw CaptureError::failed(L10n::tr(QStringLiteral("A recording is already in progress.")));
    m_starting = true;
    struct StartingFlag {
        bool &flag;
        ~StartingFlag() { flag = false; }
    } startingFlag{m_starting};

    // There is no permission prompt here: a microphone that cannot be opened fails the stream
    // start with the microphone error.
    const FoundDisplay found = co_await shareableDisplay(m_capture, displayID, m_timing.displayLookupRetry);

    const qreal scale = pixelScale(found.display);
    const QSizeF points = sourceRect ? sourceRect->size() : QSizeF(found.display.width, found.display.height);
    const QSize pixels = outputPixelSize(points, scale);

    StreamConfiguration configuration;
    configuration.width = pixels.width();
    configuration.height = pixels.height();
    configuration.sourceRect = sourceRect;
    configuration.maximumFramesPerSecond = 30;
    configuration.showsCursor = true;
    configuration.capturesSystemAudio = systemAudio;
    configuration.capturesMicrophone = microphone;
    if (microphone && microphoneDeviceID && !microphoneDeviceID->isEmpty())
        configuration.microphoneDeviceID = microphoneDeviceID;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;

    std::unique_ptr<CaptureStream> stream = m_capture.makeStream(found.display, configuration, filePath);
    CaptureStream *const raw = stream.get();
    connect(raw, &CaptureStream::finished, this, [this, raw] {
        if (raw == m_stream.get())
            handleFinished();
    });
    connect(raw, &CaptureStream::failed, this, [this, raw](const PlatformError &error) {
        if (raw == m_stream.get())
            handleOutputFailure(error);
    });
    connect(raw, &CaptureStream::stoppedOnItsOwn, this, [this, raw](const std::optional<PlatformError> &error) {
        if (raw == m_stream.get())
            handleStreamStopped(error);
    });

    co_await raw->startCapture(); // a failure drops the stream: the recorder stays idle

    m_stream = std::move(stream);
    m_filePath = filePath;
}

QCoro::Task<QString> RecorderService::stop()
{
    // A stop already waiting for the file owns this segment.
    if (!m_stream || !m_filePath || m_finishWaiter)
        throw CaptureError::notRecording();
    if (m_pendingError) {
        const PlatformError error = *m_pendingError;
        clear();
        throw error;
    }

    const QString filePath = *m_filePath;
    auto *waiter = new RecorderFinishWaiter(this);
    m_finishWaiter = waiter;

    [](QPointer<CaptureStream> stream) -> QCoro::Task<> {
        try {
            if (stream)
                co_await stream->stopCapture();
        } catch (const std::exception &error) {
            FileLog::write(QStringLiteral("recorder: stopping capture failed: %1").arg(QString::fromUtf8(error.what())));
        }
    }(m_stream.get());
    finishTimeout(waiter);

    if (!waiter->resolved)
        co_await qCoro(waiter, &RecorderFinishWaiter::done);
    const std::optional<PlatformError> error = waiter->error;
    waiter->deleteLater();

    clear();
    if (error)
        throw *error;
    const QFileInfo file(filePath);
    if (file.exists() && file.size() > 0)
        co_return filePath;
    throw CaptureError::failed(L10n::tr(QStringLiteral("The recording file was never written — try recording again.")));
}

QCoro::Task<> RecorderService::finishTimeout(QPointer<RecorderFinishWaiter> waiter)
{
    co_await QCoro::sleepFor(m_timing.finishTimeout);
    if (waiter && waiter == m_finishWaiter) {
        FileLog::write(QStringLiteral("recorder: no finish report after the timeout, going on"));
        resolveFinish(std::nullopt);
    }
}

void RecorderService::resolveFinish(std::optional<PlatformError> error)
{
    RecorderFinishWaiter *waiter = m_finishWaiter;
    if (!waiter)
        return;
    m_finishWaiter = nullptr;
    waiter->resolved = true;
    waiter->error = std::move(error);
    emit waiter->done();
}

void RecorderService::handleFinished()
{
    resolveFinish(std::nullopt);
}

void RecorderService::handleOutputFailure(const PlatformError &error)
{
    FileLog::write(QStringLiteral("recorder: recording output failed: %1").arg(error.description()));
    if (m_finishWaiter)
        resolveFinish(error);
    else
        m_pendingError = error;
}

QCoro::Task<> RecorderService::handleStreamStopped(std::optional<PlatformError> error)
{
    if (!m_stream || m_finishWaiter)
        co_return;
    FileLog::write(QStringLiteral("recorder: stream stopped on its own: %1")
                       .arg(error ? error->description() : QStringLiteral("no error")));
    const CaptureStream *const stopped = m_stream.get();
    co_await QCoro::sleepFor(m_timing.externalStopGrace);
    // A stop or a new segment that came in meanwhile owns the recorder now.
    if (m_stream.get() != stopped || m_finishWaiter)
        co_return;
    const std::optional<QString> filePath = m_filePath;
    clear();
    if (onExternalStop)
        onExternalStop(filePath, error);
}

void RecorderService::clear()
{
    if (m_stream) {
        m_stream->disconnect(this);
        // The stream finishes its file in the background if it has not yet.
        m_stream.release()->deleteLater();
    }
    m_filePath.reset();
    m_pendingError.reset();
}

#include "RecorderService.moc"
