#pragma once
// What ffprobe says about a media file: the independent judge of what we write.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QFile>
#include <QString>
#include <QStringList>

namespace MediaProbe {

struct Stream {
    QString codecType; // "video", "audio"
    QString codecName;
    QString pixelFormat;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    QString rFrameRate;
    double durationSeconds = 0;
    int frames = 0; // counted by decoding
};

struct Result {
    bool ok = false; // ffprobe read the file without errors
    QString errors;
    double durationSeconds = 0;
    QList<Stream> streams;

    QList<Stream> ofType(const QString &type) const
    {
        QList<Stream> found;
        for (const Stream &s : streams) {
            if (s.codecType == type)
                found.append(s);
        }
        return found;
    }
};

inline double number(const QJsonValue &value)
{
    return value.isString() ? value.toString().toDouble() : value.toDouble();
}

// Probes and decodes every frame, so a damaged file shows up as errors.
inline Result probe(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                              QStringLiteral("-show_format"), QStringLiteral("-show_streams"),
                                              QStringLiteral("-of"), QStringLiteral("json"), path});
    Result result;
    if (!process.waitForFinished(120000))
        return result;
    result.errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QJsonObject root = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    result.ok = process.exitCode() == 0 && result.errors.isEmpty() && root.contains(QLatin1String("format"));
    result.durationSeconds = number(root.value(QLatin1String("format")).toObject().value(QLatin1String("duration")));
    for (const QJsonValue &value : root.value(QLatin1String("streams")).toArray()) {
        const QJsonObject o = value.toObject();
        Stream s;
        s.codecType = o.value(QLatin1String("codec_type")).toString();
        s.codecName = o.value(QLatin1String("codec_name")).toString();
        s.pixelFormat = o.value(QLatin1String("pix_fmt")).toString();
        s.width = o.value(QLatin1String("width")).toInt();
        s.height = o.value(QLatin1String("height")).toInt();
        s.sampleRate = int(number(o.value(QLatin1String("sample_rate"))));
        s.channels = o.value(QLatin1String("channels")).toInt();
        s.rFrameRate = o.value(QLatin1String("r_frame_rate")).toString();
        s.durationSeconds = number(o.value(QLatin1String("duration")));
        s.frames = int(number(o.value(QLatin1String("nb_read_frames"))));
        result.streams.append(s);
    }
    return result;
}

// The top-level boxes of an MPEG-4 file, in order ("ftyp", "moov", "mdat", ...).
inline QStringList topLevelBoxes(const QString &path)
{
    QStringList boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 offset = 0;
    const qint64 size = file.size();
    while (offset + 8 <= size) {
        file.seek(offset);
        const QByteArray header = file.read(16);
        quint64 boxSize = (quint64(quint8(header[0])) << 24) | (quint64(quint8(header[1])) << 16)
            | (quint64(quint8(header[2])) << 8) | quint64(quint8(header[3]));
        boxes << QString::fromLatin1(header.mid(4, 4));
        if (boxSize == 1 && header.size() >= 16) {
            boxSize = 0;
            for (int i = 8; i < 16; ++i)
                boxSize = (boxSize << 8) | quint8(header[i]);
        } else if (boxSize == 0) {
            break;
        }
        if (boxSize < 8)
            break;
        offset += qint64(boxSize);
    }
    return boxes;
}

} // namespace MediaProbe
