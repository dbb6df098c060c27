#pragma once
// The media work the service hands to the ffmpeg and ffprobe command-line tools: a video's
// duration, a small JPEG thumbnail, and a GIF made with a palette computed from the video.

#include <QString>
#include <optional>

namespace MediaTools {

// Whole seconds, rounded; nothing when the file has no readable duration.
std::optional<qint64> durationSeconds(const QString &mediaPath);
// Writes a JPEG 320 pixels wide from the first frame of a picture or video. Answers an
// empty text on success, else what went wrong.
QString makeThumbnail(const QString &sourcePath, const QString &jpegPath);
// Writes an animated GIF of the video; answers an empty text on success, else the reason.
QString makeGif(const QString &videoPath, const QString &gifPath);

} // namespace MediaTools
