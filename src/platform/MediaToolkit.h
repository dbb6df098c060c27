#pragma once
// The desktop's media toolkit: capture device lists, and inspecting, joining, rewriting and
// picturing recorded files. Rewrites never re-encode: only the container changes, and the
// MPEG-4 files written keep their index at the front so they can play while downloading.

#include "app/MediaDevice.h"
#include "platform/PlatformError.h"

#include <QImage>
#include <QList>
#include <QString>
#include <optional>
#include <qcorotask.h>

namespace MediaToolkitErrors {
inline QString domain() { return QStringLiteral("MediaToolkitErrorDomain"); }
enum Code : int {
    cannotOpen = 1,   // missing, unreadable, truncated or not a media file
    unsupported = 2,  // a codec or layout MPEG-4 cannot carry without re-encoding
    writeFailed = 3,  // an output file could not be created or written (disk full, ...)
    noVideo = 4,      // a picture was asked of a file without a decodable video track
};
} // namespace MediaToolkitErrors

enum class MediaKind { video, audio };

struct MediaTrack {
    int index = 0; // the stream's index in its file
    MediaKind kind = MediaKind::video;
    QString codec;
    qint64 durationMicroseconds = 0;
    double estimatedDataRate = 0; // bits per second: packet bytes over the track's duration
    bool operator==(const MediaTrack &) const = default;
};

struct MediaAsset {
    QString path;
    qint64 durationMicroseconds = 0;
    QList<MediaTrack> videoTracks; // in file order
    QList<MediaTrack> audioTracks; // in file order
};

// Where a range [0, durationMicroseconds) of a source track goes in a composition.
struct CompositionInsertion {
    QString sourcePath;
    int sourceTrack = 0; // MediaTrack::index
    qint64 durationMicroseconds = 0;
    qint64 atMicroseconds = 0;
    bool operator==(const CompositionInsertion &) const = default;
};

struct CompositionTrack {
    MediaKind kind = MediaKind::video;
    QList<CompositionInsertion> insertions; // in time order
    bool operator==(const CompositionTrack &) const = default;
};

// Tracks in output order, each made of pieces of source tracks laid end to end.
struct Composition {
    QList<CompositionTrack> tracks;
};

class MediaToolkit {
public:
    virtual ~MediaToolkit() = default;

    // Microphones in the system's order (id = PulseAudio source name, name = its description).
    virtual QList<MediaDevice> audioInputDevices() = 0;
    virtual std::optional<MediaDevice> defaultAudioInputDevice() = 0;
    // Cameras (id = the device node the camera is opened with).
    virtual QList<MediaDevice> videoInputDevices() = 0;
    virtual std::optional<MediaDevice> defaultVideoInputDevice() = 0;

    // Duration and tracks of a file; throws PlatformError.
    virtual QCoro::Task<MediaAsset> loadAsset(QString path) = 0;
    // Whether the file's tracks can be carried into MPEG-4 as they are.
    virtual QCoro::Task<bool> canExportPassthroughToMP4(QString path) = 0;
    // Rewrites a file into MPEG-4 without re-encoding; throws PlatformError.
    virtual QCoro::Task<> exportPassthrough(QString path, QString outputPath) = 0;
    // Writes a composition into MPEG-4 without re-encoding; throws PlatformError.
    virtual QCoro::Task<> exportComposition(Composition composition, QString outputPath) = 0;
    // The picture at time zero of the first video track, turned as the track says, at full
    // size; throws PlatformError.
    virtual QCoro::Task<QImage> firstFrame(QString path) = 0;
};
