#pragma once
// What recording control needs of a screen recorder: one segment file per start/stop, the file
// being written, and word when the capture ends without being asked to. Main thread only.

#include "platform/PlatformError.h"

#include <QRectF>
#include <QString>
#include <functional>
#include <optional>
#include <qcorotask.h>

class Recorder {
public:
    virtual ~Recorder() = default;

    // Starts recording a segment into `filePath`; once it returns, capture has begun. Throws
    // CaptureError or PlatformError.
    virtual QCoro::Task<> start(quint32 displayID, std::optional<QRectF> sourceRect, bool microphone, bool systemAudio,
                                std::optional<QString> microphoneDeviceID, QString filePath) = 0;
    // Ends the segment and answers its file; throws CaptureError::notRecording when no segment
    // is being recorded, or the error that ended it.
    virtual QCoro::Task<QString> stop() = 0;
    // The segment file being written, if any.
    virtual std::optional<QString> currentFile() const = 0;

    // Called when the stream ended without being asked to, with the segment written so far.
    using ExternalStop = std::function<void(std::optional<QString> filePath, std::optional<PlatformError> error)>;
    ExternalStop onExternalStop;
};
