#pragma once
// The desktop's screen-capture service: the displays that can be captured, still images of a
// display, and streams that record a display (or a rectangle of it) into an MPEG-4 file.
//
// X11 composes every window into the picture it hands out, so there is no way to keep one of
// our own windows out of a capture; overlays stay outside the recorded rectangle instead.

#include "platform/PlatformError.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QString>
#include <memory>
#include <optional>
#include <qcorotask.h>

namespace ScreenCaptureErrors {
// Failures of the capture itself: the X server refused or lost the picture, or system audio
// could not be opened. Any error of this domain means "screen capture was refused".
inline QString domain() { return QStringLiteral("ScreenCaptureErrorDomain"); }
enum Code : int {
    captureRefused = 1,     // no connection, no shared memory, grab refused
    displayGone = 2,        // the X connection or the monitor went away mid-recording
    systemAudioUnavailable = 3,
    microphoneUnavailable = 4, // the chosen (or default) PulseAudio source could not be opened
};
// Files that cannot be created or written fail in the media toolkit's domain (writeFailed).
} // namespace ScreenCaptureErrors

// The current mode of a display: how many pixels stand behind its width in points.
struct DisplayMode {
    int widthPoints = 0;
    int widthPixels = 0;
    bool operator==(const DisplayMode &) const = default;
};

struct ShareableDisplay {
    quint32 displayID = 0;   // the same id as Screens reports
    int width = 0;           // points
    int height = 0;          // points
    std::optional<DisplayMode> mode; // absent when the native size is unknown
    qreal pointPixelScale = 0;       // the scale a capture of this display reports; 0 when unknown
    bool operator==(const ShareableDisplay &) const = default;
};

struct ShareableContent {
    QList<ShareableDisplay> displays;
};

struct StreamConfiguration {
    int width = 0;  // output pixels, even
    int height = 0; // output pixels, even
    std::optional<QRectF> sourceRect; // in the display's points, origin top-left; absent: all of it
    int maximumFramesPerSecond = 30;
    bool showsCursor = true;
    bool capturesSystemAudio = false;
    bool capturesMicrophone = false;
    std::optional<QString> microphoneDeviceID; // a PulseAudio source name; absent: the default
    int sampleRate = 48000;
    int channelCount = 2;
};

struct StillConfiguration {
    int width = 0;  // output pixels
    int height = 0; // output pixels
    std::optional<QRectF> sourceRect; // in the display's points; absent: all of it
    bool showsCursor = false;
};

// One recording of one display into one MPEG-4 file (H.264, plus one AAC track when audio was
// asked for). Capture, encoding and writing run on threads of their own; the signals below are
// emitted on the thread the stream object lives in.
class CaptureStream : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~CaptureStream() override = default;

    // Returns once frames are being written; throws PlatformError when capture cannot start.
    virtual QCoro::Task<> startCapture() = 0;
    // Asks the stream to end; the file is closed afterwards and finished() or failed() follows.
    virtual QCoro::Task<> stopCapture() = 0;

signals:
    // The file is complete after a stopCapture().
    void finished();
    // Writing the file failed (disk full, ...); what was written before stays in the file.
    void failed(const PlatformError &error);
    // The stream ended without being asked to (display or X connection gone, write failure).
    void stoppedOnItsOwn(const std::optional<PlatformError> &error);
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // The displays that can be captured right now; throws PlatformError.
    virtual QCoro::Task<ShareableContent> shareableContent() = 0;
    // One picture of a display; throws PlatformError.
    virtual QCoro::Task<QImage> captureImage(ShareableDisplay display, StillConfiguration configuration) = 0;
    // A stream, not yet started, that records `display` into `outputPath`.
    virtual std::unique_ptr<CaptureStream> makeStream(const ShareableDisplay &display,
                                                      const StreamConfiguration &configuration,
                                                      const QString &outputPath) = 0;
};
