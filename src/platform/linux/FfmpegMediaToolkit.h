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
    static void writeComposition(const Composition &composition, const QString &outputPath);
    static QImage decodeFirstFrame(const QString &path);
};
