#pragma once
// A media toolkit over plain files: every existing file is a recording of `duration` with the
// tracks the test gives it, joins concatenate bytes, rewrites copy them, and each operation can
// be made to fail or to wait until the test lets it go.

#include "fakes/Gate.h"
#include "platform/MediaToolkit.h"

#include <QFile>
#include <QMap>

class FakeMediaToolkit final : public MediaToolkit {
public:
    QList<MediaDevice> audioInputDevices() override { return microphones; }
    std::optional<MediaDevice> defaultAudioInputDevice() override { return defaultMicrophone; }
    QList<MediaDevice> videoInputDevices() override { return cameras; }
    std::optional<MediaDevice> defaultVideoInputDevice() override
    {
        return cameras.isEmpty() ? std::nullopt : std::optional(cameras.first());
    }

    QCoro::Task<MediaAsset> loadAsset(QString path) override
    {
        if (!QFile::exists(path))
            throw PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::cannotOpen,
                                QStringLiteral("The file couldn't be opened."));
        if (assets.contains(path))
            co_return assets.value(path);
        MediaAsset asset{path, durationMicroseconds, {MediaTrack{0, MediaKind::video, QStringLiteral("h264"), durationMicroseconds, 2e6}}, {}};
        if (audioRate)
            asset.audioTracks.append(MediaTrack{1, MediaKind::audio, QStringLiteral("aac"), durationMicroseconds, *audioRate});
        co_return asset;
    }

    QCoro::Task<bool> canExportPassthroughToMP4(QString path) override { co_return !incompatible.contains(path); }

    QCoro::Task<> exportPassthrough(QString path, QString outputPath) override
    {
        co_await exports.pass();
        if (exportFailure)
            throw *exportFailure;
        QFile::remove(outputPath);
        QFile::copy(path, outputPath);
        exported.append(path);
    }

    QCoro::Task<> exportComposition(Composition composition, QString outputPath) override
    {
        co_await exports.pass();
        if (mergeFailure)
            throw *mergeFailure;
        QByteArray joined;
        if (!composition.tracks.isEmpty())
            for (const CompositionInsertion &piece : composition.tracks.first().insertions) {
                QFile source(piece.sourcePath);
                if (source.open(QIODevice::ReadOnly))
                    joined += source.readAll();
            }
        QFile out(outputPath);
        if (out.open(QIODevice::WriteOnly))
            out.write(joined);
        compositions.append(composition);
    }

    QCoro::Task<QImage> firstFrame(QString path) override
    {
        if (!QFile::exists(path))
            throw PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::noVideo, QStringLiteral("No picture."));
        QImage frame(32, 18, QImage::Format_RGB32);
        frame.fill(Qt::darkGreen);
        co_return frame;
    }

    QList<MediaDevice> microphones;
    std::optional<MediaDevice> defaultMicrophone;
    QList<MediaDevice> cameras;
    qint64 durationMicroseconds = 3'000'000;
    std::optional<double> audioRate = 128000; // nothing: files without an audio track
    QMap<QString, MediaAsset> assets;
    QStringList incompatible;
    std::optional<PlatformError> exportFailure;
    std::optional<PlatformError> mergeFailure;
    QStringList exported;
    QList<Composition> compositions;
    Gate exports; // closed: joins and rewrites wait
};
