#pragma once
// The media toolkit on Linux: microphones from PulseAudio, cameras from Video4Linux, and
// FFmpeg's libraries for inspecting files, joining and rewriting them without re-encoding, and
// decoding first frames. Heavy work runs on worker threads and is awaited.

#include "platform/MediaToolkit.h"

class FfmpegMediaToolkit final : public MediaToolkit {
public:
    QList<MediaDevice> audioInputDevices() override;
    std::optional<MediaDevice> defaultAudioInputDevice() override;
    QList<MediaDevice> videoInputDevices() override;
    std::optional<MediaDevice> defaultVideoInputDevice() override;

    QCoro::Task<MediaAsset> loadAsset(QString path) override;
    QCoro::Task<bool> canExportPassthroughToMP4(QString path) override;
    QCoro::Task<> exportPassthrough(QString path, QString outputPath) override;
    QCoro::Task<> exportComposition(Composition composition, QString outputPath) override;
    QCoro::Task<QImage> firstFrame(QString path) override;

    // The blocking halves, for worker threads (and benchmarks); they throw PlatformError.
    static MediaAsset inspect(const QString &path);
    static bool passthroughCompatible(const QString &path);
    // Both write the index at the front of the file. `indexRoom` is the space kept for it
    // there: by default estimated from the sources' own indexes; 0 moves the index to the
    // front in a second pass over the finished file, as also happens when it outgrows its room.
    static void writeComposition(const Composition &composition, const QString &outputPath, qint64 indexRoom = -1);
    static void writePassthrough(const QString &path, const QString &outputPath, qint64 indexRoom = -1);
    static QImage decodeFirstFrame(const QString &path);
};
