#pragma once
// Small media files made by the ffmpeg command-line tool, so the toolkit is judged on input it
// did not write itself.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace MediaFixtures {

// Runs ffmpeg with `arguments` (output last); answers its error output, empty on success.
inline QString ffmpeg(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                                        QStringLiteral("error"), QStringLiteral("-y")}
                                                + arguments);
    if (!process.waitForFinished(120000))
        return QStringLiteral("ffmpeg did not finish");
    return process.exitCode() == 0 ? QString() : QString::fromUtf8(process.readAllStandardError());
}

enum class Sound { none, tone, silence };

struct Clip {
    Clip(double seconds = 2, Sound sound = Sound::tone, int audioTracks = 1, bool fragmented = true, QStringList extra = {})
        : seconds(seconds)
        , sound(sound)
        , audioTracks(audioTracks)
        , fragmented(fragmented)
        , extra(std::move(extra))
    {
    }
    double seconds;
    Sound sound;
    int audioTracks;
    bool fragmented;   // as our recorder writes them
    QStringList extra; // more output options
};

// H.264 (yuv420p, keyframe every second) with AAC 48 kHz stereo tracks, like a recorded segment.
inline QString makeClip(const QString &path, const Clip &clip)
{
    const QString seconds = QString::number(clip.seconds);
    QStringList arguments{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                          QStringLiteral("testsrc2=size=320x240:rate=30")};
    if (clip.sound != Sound::none) {
        const QString source = clip.sound == Sound::tone ? QStringLiteral("sine=frequency=440:sample_rate=48000")
                                                         : QStringLiteral("anullsrc=channel_layout=stereo:sample_rate=48000");
        for (int i = 0; i < clip.audioTracks; ++i)
            arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << source;
    }
    arguments << QStringLiteral("-map") << QStringLiteral("0:v");
    if (clip.sound != Sound::none) {
        for (int i = 0; i < clip.audioTracks; ++i)
            arguments << QStringLiteral("-map") << QStringLiteral("%1:a").arg(i + 1);
    }
    arguments << QStringLiteral("-t") << seconds << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
              << QStringLiteral("ultrafast") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-g")
              << QStringLiteral("30");
    if (clip.sound != Sound::none)
        arguments << QStringLiteral("-c:a") << QStringLiteral("aac") << QStringLiteral("-ac") << QStringLiteral("2")
                  << QStringLiteral("-b:a") << QStringLiteral("128k");
    if (clip.fragmented)
        arguments << QStringLiteral("-movflags") << QStringLiteral("frag_keyframe+empty_moov+default_base_moof");
    arguments << clip.extra << path;
    return ffmpeg(arguments);
}

// MD5 of every packet of the first stream of `type` ("v" or "a"), in order.
inline QStringList packetHashes(const QString &path, const QString &type)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), type + QStringLiteral(":0"),
                   QStringLiteral("-show_entries"), QStringLiteral("packet=data_hash"), QStringLiteral("-show_data_hash"),
                   QStringLiteral("MD5"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace MediaFixtures
