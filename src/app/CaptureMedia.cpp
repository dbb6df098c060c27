#include "app/CaptureMedia.h"

#include "app/Config.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>
#include <QtConcurrent/QtConcurrent>
#include <cstdio>
#include <qcorofuture.h>

namespace CaptureMedia {

namespace {
constexpr qint64 kSilenceMinimumMicroseconds = 5'000'000;
constexpr double kSilenceBitsPerSecond = 8000;

QString newUuidName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString describe(const std::exception &error)
{
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return userFacing->description();
    return QString::fromUtf8(error.what());
}
} // namespace

QCoro::Task<> mergeSegments(MediaToolkit &media, QList<QString> segments, QString outputPath)
{
    Composition composition;
    composition.tracks.append(CompositionTrack{MediaKind::video, {}});
    QList<int> audioTracks; // i-th audio track of a segment → composition track
    qint64 insertAt = 0;
    for (const QString &segment : std::as_const(segments)) {
        const MediaAsset asset = co_await media.loadAsset(segment);
        if (!asset.videoTracks.isEmpty())
            composition.tracks[0].insertions.append(
                CompositionInsertion{segment, asset.videoTracks.first().index, asset.durationMicroseconds, insertAt});
        for (int i = 0; i < asset.audioTracks.size(); ++i) {
            if (i == audioTracks.size()) {
                composition.tracks.append(CompositionTrack{MediaKind::audio, {}});
                audioTracks.append(int(composition.tracks.size()) - 1);
            }
            composition.tracks[audioTracks[i]].insertions.append(
                CompositionInsertion{segment, asset.audioTracks[i].index, asset.durationMicroseconds, insertAt});
        }
        insertAt += asset.durationMicroseconds;
    }
    // Without any picture there is nothing to export.
    if (composition.tracks.first().insertions.isEmpty())
        throw RemuxError(L10n::tr(QStringLiteral("The recorded segments couldn't be combined.")));
    co_await media.exportComposition(composition, outputPath);
    FileLog::write(QStringLiteral("merged %1 segments into %2").arg(segments.size()).arg(outputPath));
}

QCoro::Task<QString> optimizeForStreaming(MediaToolkit &media, QString path)
{
    const QString temporary = QFileInfo(path).absoluteDir().filePath(newUuidName() + QStringLiteral(".mp4"));
    try {
        co_await media.exportPassthrough(path, temporary);
    } catch (const std::exception &error) {
        FileLog::write(QStringLiteral("optimize for streaming failed: %1").arg(describe(error)));
        QFile::remove(temporary);
        co_return path;
    }
    // rename(2) swaps the file in one step: at every moment `path` holds either the recording
    // or its optimised copy.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        FileLog::write(QStringLiteral("optimize for streaming: could not replace %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        QFile::remove(temporary);
    }
    co_return path;
}

QCoro::Task<QString> remuxToMP4(MediaToolkit &media, QString path)
{
    if (!co_await media.canExportPassthroughToMP4(path))
        throw RemuxError(L10n::tr(QStringLiteral("This video's format can't be shared directly. Export it as an MP4 and try again.")));
    const QString folder = QDir::temp().filePath(newUuidName());
    if (!QDir().mkpath(folder))
        throw PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed,
                            L10n::text(QStringLiteral("The temporary folder {folder} couldn't be created."), {{QStringLiteral("folder"), folder}}));
    const QString output = QDir(folder).filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".mp4"));
    try {
        co_await media.exportPassthrough(path, output);
    } catch (...) {
        QDir(folder).removeRecursively();
        throw;
    }
    co_return output;
}

QCoro::Task<bool> audioLooksSilent(MediaToolkit &media, QString path)
{
    MediaAsset asset;
    try {
        asset = co_await media.loadAsset(path);
    } catch (const std::exception &error) {
        FileLog::write(QStringLiteral("silence check skipped: %1").arg(describe(error)));
        co_return false;
    }
    if (asset.durationMicroseconds <= kSilenceMinimumMicroseconds)
        co_return false;
    if (asset.audioTracks.isEmpty())
        co_return true;
    double highest = 0;
    for (const MediaTrack &track : std::as_const(asset.audioTracks))
        highest = std::max(highest, track.estimatedDataRate);
    co_return highest < kSilenceBitsPerSecond;
}

QString posterURL(const QString &videoPath)
{
    return QDir(Config::postersFolder()).filePath(QFileInfo(videoPath).completeBaseName() + QStringLiteral(".png"));
}

QCoro::Task<> generatePoster(MediaToolkit &media, QString videoPath)
{
    try {
        const QImage frame = co_await media.firstFrame(videoPath);
        const QString poster = posterURL(videoPath);
        // PNG encoding of a full-size frame is worth keeping off the main thread.
        // Started in a statement of its own: GCC 12 mishandles captures of a lambda inside co_await.
        QFuture<QString> writing = QtConcurrent::run([frame, poster]() -> QString {
            if (!QDir().mkpath(QFileInfo(poster).absolutePath()))
                return QStringLiteral("cannot create %1").arg(QFileInfo(poster).absolutePath());
            QSaveFile file(poster);
            if (!file.open(QIODevice::WriteOnly))
                return file.errorString();
            if (!frame.save(&file, "PNG"))
                return QStringLiteral("cannot encode PNG");
            if (!file.commit())
                return file.errorString();
            return {};
        });
        const QString failure = co_await writing;
        if (!failure.isEmpty())
            FileLog::write(QStringLiteral("poster generation failed: %1").arg(failure));
    } catch (const std::exception &error) {
        FileLog::write(QStringLiteral("poster generation failed: %1").arg(describe(error)));
    }
}

QCoro::Task<std::optional<QString>> previewImage(MediaToolkit &media, QString path, CaptureKind kind)
{
    if (kind == CaptureKind::screenshot)
        co_return path;
    co_await generatePoster(media, path);
    const QString poster = posterURL(path);
    if (QFileInfo::exists(poster))
        co_return poster;
    co_return std::nullopt;
}

} // namespace CaptureMedia
