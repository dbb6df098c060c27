#pragma once
// What finishing does to recorded files: joining segments, moving the index to the front for
// streaming, rewriting imported files as MP4, the silence check and poster pictures. Nothing is
// re-encoded, and a recording is never lost on the way.

#include "app/CaptureKind.h"
#include "platform/MediaToolkit.h"
#include "support/UserFacingError.h"

#include <QList>
#include <QString>
#include <optional>
#include <qcorotask.h>

// A recording or an imported file that could not be rewritten.
class RemuxError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;
    QString domain() const override { return QStringLiteral("Tovrika.RemuxError"); }
};

namespace CaptureMedia {

// Joins the segments, track by track and in order, into one MP4 at `outputPath`; the i-th audio
// track of every segment goes into the i-th audio track of the result. Throws RemuxError or the
// toolkit's PlatformError; the segments are left as they are.
QCoro::Task<> mergeSegments(MediaToolkit &media, QList<QString> segments, QString outputPath);

// Rewrites the file in place with its index at the front. Never fails: answers the file to use,
// which always holds the recording (optimised, or as it was).
QCoro::Task<QString> optimizeForStreaming(MediaToolkit &media, QString path);

// An MP4 copy of an imported file in a new temporary folder; throws RemuxError when the file
// cannot be carried into MP4 as it is, or the toolkit's error when writing fails.
QCoro::Task<QString> remuxToMP4(MediaToolkit &media, QString path);

// True when a recording longer than 5 seconds has no audio track, or only nearly empty ones
// (highest average rate below 8,000 bits per second).
QCoro::Task<bool> audioLooksSilent(MediaToolkit &media, QString path);

// Where the poster picture of a video lives: the posters folder, the video's name, ".png".
QString posterURL(const QString &videoPath);
// Writes the first frame of the video as its poster; a failure is only logged.
QCoro::Task<> generatePoster(MediaToolkit &media, QString videoPath);
// The picture for a notification: a screenshot itself, else the video's poster when one exists.
QCoro::Task<std::optional<QString>> previewImage(MediaToolkit &media, QString path, CaptureKind kind);

} // namespace CaptureMedia
