#pragma once
// Records one display, or a rectangle of it, into one MPEG-4 file per start/stop cycle (a
// segment). Pausing is the caller's business: it stops one segment and starts the next.
// Main thread only.

#include "capture/Recorder.h"
#include "platform/ScreenCapture.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcorotask.h>

class RecorderFinishWaiter;

class RecorderService final : public QObject, public Recorder {
    Q_OBJECT
public:
    // How long the recorder waits at each point; tests shorten them.
    struct Timing {
        std::chrono::milliseconds displayLookupRetry{400};
        std::chrono::milliseconds finishTimeout{5000};
        std::chrono::milliseconds externalStopGrace{800}; // lets the stream close its file
    };

    struct FoundDisplay {
        ShareableContent content;
        ShareableDisplay display;
    };

    explicit RecorderService(ScreenCapture &capture, QObject *parent = nullptr);
    RecorderService(ScreenCapture &capture, Timing timing, QObject *parent = nullptr);
    ~RecorderService() override;

    QCoro::Task<> start(quint32 displayID, std::optional<QRectF> sourceRect, bool microphone, bool systemAudio,
                        std::optional<QString> microphoneDeviceID, QString filePath) override;
    QCoro::Task<QString> stop() override;
    std::optional<QString> currentFile() const override { return m_filePath; }

    bool isRecording() const { return m_stream != nullptr; }

    // Finds a display in the shareable content: three attempts, then the only display when
    // there is exactly one; throws CaptureError::displayNotFound or the platform's error.
    static QCoro::Task<FoundDisplay> shareableDisplay(ScreenCapture &capture, quint32 displayID,
                                                      std::chrono::milliseconds retryDelay = std::chrono::milliseconds(400));

    // Pixels per point of a display: its mode, else the capture's scale, else 2.
    static qreal pixelScale(const ShareableDisplay &display);
    // The stream's size in pixels for a size in points: rounded, at least 2, even.
    static QSize outputPixelSize(QSizeF points, qreal scale);

private:
    void handleFinished();
    void handleOutputFailure(const PlatformError &error);
    QCoro::Task<> handleStreamStopped(std::optional<PlatformError> error);
    QCoro::Task<> finishTimeout(QPointer<RecorderFinishWaiter> waiter);
    void resolveFinish(std::optional<PlatformError> error);
    void clear();

    ScreenCapture &m_capture;
    Timing m_timing;
    std::unique_ptr<CaptureStream> m_stream;
    QPointer<RecorderFinishWaiter> m_finishWaiter;
    bool m_starting = false;
    std::optional<QString> m_filePath;
    std::optional<PlatformError> m_pendingError;
};
