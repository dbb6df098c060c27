#include "platform/linux/FfmpegMediaToolkit.h"

#include "platform/linux/FfmpegSupport.h"
#include "platform/linux/PulseAudio.h"
#include "support/L10n.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTransform>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <qcorofuture.h>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

PlatformError mediaError(MediaToolkitErrors::Code code, const QString &english, const QString &reason)
{
    return PlatformError(MediaToolkitErrors::domain(), code, L10n::text(english, {{QStringLiteral("reason"), reason}}));
}

PlatformError cannotOpen(const QString &path, int status)
{
    return mediaError(MediaToolkitErrors::cannotOpen, QStringLiteral("The file couldn't be opened as a video: {reason}"),
                      QStringLiteral("%1 (%2)").arg(Ffmpeg::errorText(status), QFileInfo(path).fileName()));
}

// What a worker thread hands back: a value, or the error to throw on the awaiting side.
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::optional<PlatformError> error;

    T take()
    {
        if (error)
            throw *error;
        return std::move(*value);
    }
};

// Runs `work` where it is called (a worker thread) and keeps what it throws. Not a coroutine:
// the awaiting coroutines only hold plain values.
template <typename T, typename Work>
Outcome<T> attempt(Work work)
{
    try {
        return {work(), std::nullopt};
    } catch (const PlatformError &error) {
        return {std::nullopt, error};
    } catch (const std::exception &error) {
        return {std::nullopt, PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::cannotOpen, QString::fromUtf8(error.what()))};
    }
}

bool isTrack(const AVStream *stream)
{
    const AVMediaType type = stream->codecpar->codec_type;
    return (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

bool isMp4(const AVFormatContext *input)
{
    return QLatin1String(input->iformat->name).contains(QLatin1String("mp4"));
}

// An MP4 (or QuickTime) file's header names every track's codec and indexes every sample,
// fragmented files included: their fragments are indexed as the header is read.
bool headerDescribesTracks(const AVFormatContext *input)
{
    if (!isMp4(input))
        return false;
    int tracks = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        if (!isTrack(stream))
            continue;
        if (stream->codecpar->codec_id == AV_CODEC_ID_NONE || avformat_index_get_entries_count(stream) <= 0)
            return false;
        ++tracks;
    }
    return tracks > 0;
}

enum class Probe {
    // Every track's parameters complete, as copying them into a new file needs. FFmpeg finds
    // some only by decoding the first pictures, which takes a while for large ones.
    fully,
    // The header alone, when it says all that inspecting the tracks needs.
    whenNeeded,
};

Ffmpeg::Input openInput(const QString &path, Probe probe = Probe::fully)
{
    Ffmpeg::initialise();
    AVFormatContext *context = nullptr;
    int status = avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (status < 0)
        throw cannotOpen(path, status);
    Ffmpeg::Input input(context);
    if (probe == Probe::whenNeeded && headerDescribesTracks(context))
        return input;
    status = avformat_find_stream_info(context, nullptr);
    if (status < 0)
        throw cannotOpen(path, status);
    return input;
}

qint64 toMicroseconds(int64_t value, AVRational timeBase)
{
    return av_rescale_q(value, timeBase, AVRational{1, 1000000});
}

struct TrackSpan {
    qint64 bytes = 0;
    int64_t start = AV_NOPTS_VALUE; // stream time base
    int64_t end = AV_NOPTS_VALUE;
    void add(int64_t pts, int64_t duration, qint64 size)
    {
        bytes += size;
        if (pts == AV_NOPTS_VALUE)
            return;
        start = start == AV_NOPTS_VALUE ? pts : std::min(start, pts);
        end = end == AV_NOPTS_VALUE ? pts + duration : std::max(end, pts + duration);
    }
};

// Bytes and time covered by each track. A file with a complete index (a regular MP4) answers
// from it; fragmented or damaged files are read packet by packet, without decoding.
QList<TrackSpan> measureTracks(AVFormatContext *input)
{
    QList<TrackSpan> spans(int(input->nb_streams));
    bool indexed = isMp4(input);
    for (unsigned i = 0; i < input->nb_streams && indexed; ++i)
        indexed = !isTrack(input->streams[i]) || avformat_index_get_entries_count(input->streams[i]) > 0;
    if (indexed) {
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            AVStream *stream = input->streams[i];
            const int count = avformat_index_get_entries_count(stream);
            for (int e = 0; e < count; ++e) {
                const AVIndexEntry *entry = avformat_index_get_entry(stream, e);
                // Index times are decoding times; the next entry's time closes each sample.
                const AVIndexEntry *next = e + 1 < count ? avformat_index_get_entry(stream, e + 1) : nullptr;
                const int64_t duration = next ? next->timestamp - entry->timestamp : 0;
                spans[int(i)].add(entry->timestamp, duration, entry->size);
            }
            // The last sample lasts until the track's end.
            if (stream->duration != AV_NOPTS_VALUE && spans[int(i)].start != AV_NOPTS_VALUE)
                spans[int(i)].end = std::max(spans[int(i)].end, spans[int(i)].start + stream->duration);
        }
        return spans;
    }
    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    while (av_read_frame(input, packet.get()) >= 0) {
        const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        spans[packet->stream_index].add(time, packet->duration, packet->size);
        av_packet_unref(packet.get());
    }
    return spans;
}

PlatformError unsupported(const QString &reason)
{
    return mediaError(MediaToolkitErrors::unsupported, QStringLiteral("The video can't be rewritten without re-encoding: {reason}"), reason);
}

PlatformError writeFailed(const QString &outputPath, int status)
{
    return mediaError(MediaToolkitErrors::writeFailed, QStringLiteral("The video couldn't be written: {reason}"),
                      QStringLiteral("%1 (%2)").arg(Ffmpeg::errorText(status), QFileInfo(outputPath).fileName()));
}

// What of a source goes where in the new file.
struct Piece {
    int outputTrack;
    qint64 atMicroseconds;
    qint64 durationMicroseconds;
};

struct Source {
    QString path;
    Ffmpeg::Input input;
    QHash<int, Piece> pieces; // source stream → where it goes
    qint64 firstAt = 0;
};

// Room for the index at the front of the new file, or 0 when the sources do not say how many
// samples they hold. The tables of the index that grow with the samples take at most 45 bytes
// a sample: times (8), composition offsets (8), sizes (4), sync (4) and dependency (1) flags,
// chunk offsets (8) and sample-to-chunk entries (12) with at most one chunk per sample; sound
// has no sync or dependency flags and no composition offsets, but roll groups (10). The rest
// is a few hundred bytes a track besides the codec's own setup data.
qint64 indexRoomFor(const std::vector<Source> &sources)
{
    constexpr qint64 perSample = 48;
    constexpr qint64 perTrack = 4096;
    qint64 room = 16384;
    for (const Source &source : sources) {
        if (!isMp4(source.input.get()))
            return 0;
        for (auto piece = source.pieces.cbegin(); piece != source.pieces.cend(); ++piece) {
            const AVStream *stream = source.input->streams[piece.key()];
            // Pieces may end before their source does: its whole index bounds theirs.
            const int samples = avformat_index_get_entries_count(stream);
            if (samples <= 0)
                return 0;
            room += perTrack + stream->codecpar->extradata_size + perSample * samples;
        }
    }
    // The muxer takes the room as an int.
    return room <= std::numeric_limits<int>::max() ? room : 0;
}

enum class Written { done, indexDidNotFit };

// Copies the sources' packets, without decoding them, into a new MP4 of `trackCount` tracks.
// The index goes to the front so the video plays while it downloads: into `indexRoom` bytes
// kept free for it before the media data, or, with no room given, moved there in a second
// pass over the whole file.
Written copyPackets(std::vector<Source> &sources, int trackCount, const QString &outputPath, qint64 indexRoom)
{
    Ffmpeg::initialise();
    AVFormatContext *context = nullptr;
    const QByteArray outputName = QFile::encodeName(outputPath);
    int status = avformat_alloc_output_context2(&context, nullptr, "mp4", outputName.constData());
    if (status < 0 || !context)
        throw writeFailed(outputPath, status);
    Ffmpeg::Output output(context);

    // Each output track takes its format from its first piece; later pieces must match it,
    // since nothing is re-encoded.
    std::vector<const AVCodecParameters *> formats(size_t(trackCount), nullptr);
    for (int t = 0; t < trackCount; ++t) {
        AVStream *stream = avformat_new_stream(context, nullptr);
        for (const Source &source : sources) {
            for (auto piece = source.pieces.cbegin(); piece != source.pieces.cend(); ++piece) {
                if (piece->outputTrack != t)
                    continue;
                const AVStream *from = source.input->streams[piece.key()];
                const AVCodecParameters *format = from->codecpar;
                if (avformat_query_codec(context->oformat, format->codec_id, FF_COMPLIANCE_NORMAL) != 1)
                    throw unsupported(QStringLiteral("MP4 cannot carry %1").arg(QString::fromUtf8(avcodec_get_name(format->codec_id))));
                if (!formats[t]) {
                    formats[t] = format;
                    avcodec_parameters_copy(stream->codecpar, format);
                    stream->codecpar->codec_tag = 0;
                    stream->time_base = from->time_base;
                    if (const uint8_t *matrix = av_stream_get_side_data(from, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
                        if (uint8_t *copy = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)))
                            memcpy(copy, matrix, 9 * sizeof(int32_t));
                    }
                } else if (format->codec_id != formats[t]->codec_id || format->width != formats[t]->width
                           || format->height != formats[t]->height || format->sample_rate != formats[t]->sample_rate
                           || format->ch_layout.nb_channels != formats[t]->ch_layout.nb_channels) {
                    throw unsupported(QStringLiteral("the pieces of track %1 differ in format").arg(t + 1));
                }
            }
        }
        if (!formats[t])
            throw unsupported(QStringLiteral("track %1 is empty").arg(t + 1));
    }

    status = avio_open(&context->pb, outputName.constData(), AVIO_FLAG_WRITE);
    if (status < 0)
        throw writeFailed(outputPath, status);
    const auto fail = [&](int code) {
        output.reset();
        QFile::remove(outputPath);
        return writeFailed(outputPath, code);
    };
    AVDictionary *options = nullptr;
    if (indexRoom > 0)
        av_dict_set_int(&options, "moov_size", indexRoom, 0);
    else
        av_dict_set(&options, "movflags", "+faststart", 0);
    status = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (status < 0)
        throw fail(status);

    std::vector<int64_t> lastDts(size_t(trackCount), AV_NOPTS_VALUE);
    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    for (Source &source : sources) {
        AVFormatContext *input = source.input.get();
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (!source.pieces.contains(int(i)))
                input->streams[i]->discard = AVDISCARD_ALL;
        }
        QHash<int, int64_t> startOf; // first time of each source stream, in its time base
        while (av_read_frame(input, packet.get()) >= 0) {
            const auto piece = source.pieces.constFind(packet->stream_index);
            if (piece == source.pieces.cend()) {
                av_packet_unref(packet.get());
                continue;
            }
            const AVStream *from = input->streams[packet->stream_index];
            AVStream *to = context->streams[piece->outputTrack];
            if (packet->pts == AV_NOPTS_VALUE)
                packet->pts = packet->dts;
            if (packet->dts == AV_NOPTS_VALUE)
                packet->dts = packet->pts;
            if (!startOf.contains(packet->stream_index))
                startOf.insert(packet->stream_index,
                               from->start_time != AV_NOPTS_VALUE ? std::min(from->start_time, packet->pts) : packet->pts);
            const int64_t start = startOf.value(packet->stream_index);
            // Only the range [0, duration) of the source goes in.
            if (toMicroseconds(packet->pts - start, from->time_base) >= piece->durationMicroseconds) {
                av_packet_unref(packet.get());
                continue;
            }
            const int64_t offset = av_rescale_q(piece->atMicroseconds, AVRational{1, 1000000}, to->time_base);
            packet->pts = av_rescale_q(packet->pts - start, from->time_base, to->time_base) + offset;
            packet->dts = av_rescale_q(packet->dts - start, from->time_base, to->time_base) + offset;
            packet->duration = av_rescale_q(packet->duration, from->time_base, to->time_base);
            int64_t &last = lastDts[size_t(piece->outputTrack)];
            // Rounding at the seams must not make time run backwards.
            if (last != AV_NOPTS_VALUE && packet->dts <= last) {
                packet->dts = last + 1;
                packet->pts = std::max(packet->pts, packet->dts);
            }
            last = packet->dts;
            packet->stream_index = piece->outputTrack;
            packet->pos = -1;
            status = av_interleaved_write_frame(context, packet.get());
            if (status < 0)
                throw fail(status);
        }
    }
    status = av_write_trailer(context);
    // The muxer refuses an index larger than its room only after writing it over the start of
    // the media data: this file is lost, the sources are not.
    if (status == AVERROR(EINVAL) && indexRoom > 0) {
        output.reset();
        QFile::remove(outputPath);
        return Written::indexDidNotFit;
    }
    if (status < 0)
        throw fail(status);
    status = avio_closep(&context->pb);
    if (status < 0)
        throw fail(status);
    return Written::done;
}

// Writes the sources with the index in front, in one pass when their own indexes tell how
// large the new one gets. `indexRoom` overrides that estimate; 0 always takes two passes.
void writeSources(std::vector<Source> &sources, int trackCount, const QString &outputPath, qint64 indexRoom)
{
    const qint64 room = indexRoom < 0 ? indexRoomFor(sources) : indexRoom;
    if (room > 0) {
        if (copyPackets(sources, trackCount, outputPath, room) == Written::done)
            return;
        // Read from the start again.
        for (Source &source : sources)
            source.input = openInput(source.path);
    }
    copyPackets(sources, trackCount, outputPath, 0);
}

} // namespace

// ---- Devices ----

QList<MediaDevice> FfmpegMediaToolkit::audioInputDevices()
{
    QList<MediaDevice> devices;
    const std::optional<PulseAudio::ServerState> state = PulseAudio::query();
    if (!state)
        return devices;
    for (const PulseAudio::Source &source : state->sources) {
        // Monitors carry what the speakers play, not a microphone.
        if (!source.isMonitor)
            devices.append(MediaDevice{source.name, source.description});
    }
    return devices;
}

std::optional<MediaDevice> FfmpegMediaToolkit::defaultAudioInputDevice()
{
    const std::optional<PulseAudio::ServerState> state = PulseAudio::query();
    if (!state || state->defaultSourceName.isEmpty())
        return std::nullopt;
    for (const PulseAudio::Source &source : state->sources) {
        if (source.name == state->defaultSourceName)
            return MediaDevice{source.name, source.description};
    }
    return MediaDevice{state->defaultSourceName, state->defaultSourceName};
}

QList<MediaDevice> FfmpegMediaToolkit::videoInputDevices()
{
    QList<MediaDevice> devices;
    QStringList nodes = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(nodes.begin(), nodes.end(), numeric);
    for (const QString &node : std::as_const(nodes)) {
        const QString path = QStringLiteral("/dev/") + node;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability capability{};
        const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
        ::close(fd);
        if (!queried)
            continue;
        // Each camera also has metadata nodes; only capture nodes give pictures.
        const quint32 caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
            continue;
        devices.append(MediaDevice{path, QString::fromUtf8(reinterpret_cast<const char *>(capability.card)).trimmed()});
    }
    return devices;
}

std::optional<MediaDevice> FfmpegMediaToolkit::defaultVideoInputDevice()
{
    const QList<MediaDevice> devices = videoInputDevices();
    if (devices.isEmpty())
        return std::nullopt;
    return devices.first();
}

// ---- Files ----

MediaAsset FfmpegMediaToolkit::inspect(const QString &path)
{
    Ffmpeg::Input input = openInput(path, Probe::whenNeeded);
    const QList<TrackSpan> spans = measureTracks(input.get());
    MediaAsset asset;
    asset.path = path;
    qint64 earliest = std::numeric_limits<qint64>::max();
    qint64 latest = std::numeric_limits<qint64>::min();
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        if (!isTrack(stream))
            continue;
        const TrackSpan &span = spans[int(i)];
        MediaTrack track;
        track.index = int(i);
        track.kind = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? MediaKind::video : MediaKind::audio;
        track.codec = QString::fromUtf8(avcodec_get_name(stream->codecpar->codec_id));
        if (span.start != AV_NOPTS_VALUE) {
            const qint64 start = toMicroseconds(span.start, stream->time_base);
            const qint64 end = toMicroseconds(span.end, stream->time_base);
            track.durationMicroseconds = std::max<qint64>(0, end - start);
            earliest = std::min(earliest, start);
            latest = std::max(latest, end);
        }
        if (track.durationMicroseconds > 0)
            track.estimatedDataRate = double(span.bytes) * 8.0 * 1e6 / double(track.durationMicroseconds);
        (track.kind == MediaKind::video ? asset.videoTracks : asset.audioTracks).append(track);
    }
    if (latest > earliest)
        asset.durationMicroseconds = latest - earliest;
    else if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
        asset.durationMicroseconds = toMicroseconds(input->duration, AV_TIME_BASE_Q);
    return asset;
}

bool FfmpegMediaToolkit::passthroughCompatible(const QString &path)
{
    Ffmpeg::Input input = openInput(path);
    const AVOutputFormat *mp4 = av_guess_format("mp4", nullptr, nullptr);
    int tracks = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        if (!isTrack(stream))
            continue;
        if (avformat_query_codec(mp4, stream->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1)
            return false;
        ++tracks;
    }
    return tracks > 0;
}

void FfmpegMediaToolkit::writeComposition(const Composition &composition, const QString &outputPath, qint64 indexRoom)
{
    // Every source once, in the order its first piece plays.
    std::vector<Source> sources;
    QHash<QString, size_t> sourceIndex;
    for (int t = 0; t < composition.tracks.size(); ++t) {
        for (const CompositionInsertion &insertion : composition.tracks[t].insertions) {
            auto found = sourceIndex.find(insertion.sourcePath);
            if (found == sourceIndex.end()) {
                found = sourceIndex.insert(insertion.sourcePath, sources.size());
                sources.push_back(Source{insertion.sourcePath, openInput(insertion.sourcePath), {}, insertion.atMicroseconds});
            }
            Source &source = sources[*found];
            if (insertion.sourceTrack < 0 || unsigned(insertion.sourceTrack) >= source.input->nb_streams)
                throw unsupported(QStringLiteral("no track %1 in %2").arg(insertion.sourceTrack).arg(QFileInfo(source.path).fileName()));
            source.pieces.insert(insertion.sourceTrack, Piece{t, insertion.atMicroseconds, insertion.durationMicroseconds});
            source.firstAt = std::min(source.firstAt, insertion.atMicroseconds);
        }
    }
    std::stable_sort(sources.begin(), sources.end(), [](const Source &a, const Source &b) { return a.firstAt < b.firstAt; });
    writeSources(sources, int(composition.tracks.size()), outputPath, indexRoom);
}

void FfmpegMediaToolkit::writePassthrough(const QString &path, const QString &outputPath, qint64 indexRoom)
{
    std::vector<Source> sources;
    sources.push_back(Source{path, openInput(path), {}, 0});
    Source &source = sources.front();
    // Pictures first, then sound; all of each.
    int tracks = 0;
    for (const AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        for (unsigned i = 0; i < source.input->nb_streams; ++i) {
            const AVStream *stream = source.input->streams[i];
            if (isTrack(stream) && stream->codecpar->codec_type == type)
                source.pieces.insert(int(i), Piece{tracks++, 0, std::numeric_limits<qint64>::max()});
        }
    }
    if (tracks == 0)
        throw mediaError(MediaToolkitErrors::cannotOpen, QStringLiteral("The file couldn't be opened as a video: {reason}"),
                         QStringLiteral("no audio or video"));
    writeSources(sources, tracks, outputPath, indexRoom);
}

QImage FfmpegMediaToolkit::decodeFirstFrame(const QString &path)
{
    Ffmpeg::Input input = openInput(path);
    const AVCodec *decoder = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    const auto noVideo = [&](const QString &reason) {
        return mediaError(MediaToolkitErrors::noVideo, QStringLiteral("No picture could be taken from the video: {reason}"), reason);
    };
    if (index < 0 || !decoder)
        throw noVideo(QStringLiteral("no video track"));
    AVStream *stream = input->streams[index];
    Ffmpeg::Codec codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), stream->codecpar);
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        throw noVideo(QStringLiteral("cannot decode %1").arg(QString::fromUtf8(decoder->name)));
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (int(i) != index)
            input->streams[i]->discard = AVDISCARD_ALL;
    }

    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    Ffmpeg::Frame frame = Ffmpeg::makeFrame();
    bool decoded = false;
    bool draining = false;
    while (!decoded) {
        if (!draining) {
            if (av_read_frame(input.get(), packet.get()) < 0) {
                draining = true;
                avcodec_send_packet(codec.get(), nullptr);
            } else if (packet->stream_index == index) {
                avcodec_send_packet(codec.get(), packet.get());
                av_packet_unref(packet.get());
            } else {
                av_packet_unref(packet.get());
                continue;
            }
        }
        const int status = avcodec_receive_frame(codec.get(), frame.get());
        if (status >= 0)
            decoded = true;
        else if (status == AVERROR_EOF || (draining && status != AVERROR(EAGAIN)))
            break;
        else if (draining && status == AVERROR(EAGAIN))
            break;
    }
    if (!decoded)
        throw noVideo(QStringLiteral("no frame could be decoded"));

    Ffmpeg::Scaler scaler(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                         frame->height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr));
    // swscale's vector code may write past the end of a row: convert into a padded frame of
    // FFmpeg's own, then copy the rows.
    Ffmpeg::Frame converted = Ffmpeg::makeFrame();
    converted->format = AV_PIX_FMT_BGRA;
    converted->width = frame->width;
    converted->height = frame->height;
    QImage image(frame->width, frame->height, QImage::Format_ARGB32);
    if (!scaler || image.isNull() || av_frame_get_buffer(converted.get(), 64) < 0)
        throw noVideo(QStringLiteral("unsupported picture format"));
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
    for (int y = 0; y < frame->height; ++y)
        memcpy(image.scanLine(y), converted->data[0] + qsizetype(y) * converted->linesize[0], size_t(frame->width) * 4);

    // Phones record sideways and say how to turn the picture.
    if (const auto *matrix = reinterpret_cast<const int32_t *>(av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr))) {
        const double rotation = av_display_rotation_get(matrix);
        if (!std::isnan(rotation) && std::lround(rotation) % 360 != 0)
            image = image.transformed(QTransform().rotate(-rotation));
    }
    return image;
}

QCoro::Task<MediaAsset> FfmpegMediaToolkit::loadAsset(QString path)
{
    // GCC 12 destroys the captures of a lambda written inside a co_await twice: start the work
    // in a statement of its own, then await it.
    QFuture<Outcome<MediaAsset>> work = QtConcurrent::run([path] { return attempt<MediaAsset>([&] { return inspect(path); }); });
    Outcome<MediaAsset> outcome = co_await work;
    co_return outcome.take();
}

QCoro::Task<bool> FfmpegMediaToolkit::canExportPassthroughToMP4(QString path)
{
    QFuture<Outcome<bool>> work = QtConcurrent::run([path] { return attempt<bool>([&] { return passthroughCompatible(path); }); });
    const Outcome<bool> outcome = co_await work;
    // A file that cannot even be opened cannot be rewritten either.
    co_return outcome.value.value_or(false);
}

QCoro::Task<> FfmpegMediaToolkit::exportPassthrough(QString path, QString outputPath)
{
    QFuture<Outcome<bool>> work = QtConcurrent::run([path, outputPath] {
        return attempt<bool>([&] {
            writePassthrough(path, outputPath);
            return true;
        });
    });
    Outcome<bool> outcome = co_await work;
    outcome.take();
}

QCoro::Task<> FfmpegMediaToolkit::exportComposition(Composition composition, QString outputPath)
{
    QFuture<Outcome<bool>> work = QtConcurrent::run([composition, outputPath] {
        return attempt<bool>([&] {
            writeComposition(composition, outputPath);
            return true;
        });
    });
    Outcome<bool> outcome = co_await work;
    outcome.take();
}

QCoro::Task<QImage> FfmpegMediaToolkit::firstFrame(QString path)
{
    QFuture<Outcome<QImage>> work = QtConcurrent::run([path] { return attempt<QImage>([&] { return decodeFirstFrame(path); }); });
    Outcome<QImage> outcome = co_await work;
    co_return outcome.take();
}
