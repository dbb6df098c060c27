#include "platform/linux/FfmpegScreenRecording.h"

#include "platform/MediaToolkit.h"
#include "platform/ScreenCapture.h"
#include "platform/linux/FfmpegSupport.h"
#include "platform/linux/PulseAudio.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kAudioFrameSamples = 1024;  // what the AAC encoder takes per frame
constexpr double kAudioLagSeconds = 0.15; // the mixer stays this far behind the clock, so sources can deliver
constexpr double kAudioBacklogSeconds = 1.0;
// Room for a whole fragment, so each goes to the file in one write: a killed process then
// rarely leaves half of one behind.
constexpr int kFileBufferBytes = 16 * 1024 * 1024;

int writeToFile(void *opaque, uint8_t *data, int size)
{
    const int fd = *static_cast<int *>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += int(n);
    }
    return size;
}

int64_t seekInFile(void *opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<int *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat info;
        return ::fstat(fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

PlatformError refused(const QString &reason)
{
    return PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::captureRefused,
                         L10n::text(QStringLiteral("The screen could not be captured: {reason}"), {{QStringLiteral("reason"), reason}}));
}

PlatformError writeError(const QString &reason)
{
    return PlatformError(MediaToolkitErrors::domain(), MediaToolkitErrors::writeFailed,
                         L10n::text(QStringLiteral("The recording could not be written: {reason}"), {{QStringLiteral("reason"), reason}}));
}

PlatformError displayGone()
{
    return PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::displayGone,
                         L10n::tr(QStringLiteral("The recorded display went away.")));
}

// One PulseAudio source feeding the mix: PulseAudio's thread fills `fifo` with float planar samples.
struct AudioSource {
    QString label; // for the log
    std::mutex lock;
    Ffmpeg::AudioFifo fifo;
    std::unique_ptr<PulseAudio::Recorder> recorder;
};

} // namespace

class FfmpegScreenRecording::Engine {
public:
    RecordingSettings settings;
    Events events;

    Ffmpeg::Input grab;
    int grabStream = 0;
    AVPixelFormat grabFormat = AV_PIX_FMT_NONE;
    int grabWidth = 0;
    int grabHeight = 0;
    Ffmpeg::Scaler scaler;
    Ffmpeg::Codec videoCodec;
    Ffmpeg::Frame videoFrame;

    std::vector<std::unique_ptr<AudioSource>> sources;
    Ffmpeg::Codec audioCodec;
    Ffmpeg::Frame audioFrame;
    std::thread mixer;
    std::atomic<bool> audioStop{false};
    std::atomic<qint64> samplesWritten{0};

    Ffmpeg::Output output;
    AVStream *videoOut = nullptr;
    AVStream *audioOut = nullptr;
    std::mutex writeLock;
    std::optional<PlatformError> writeFailure; // under writeLock
    int fileDescriptor = -1;
    int64_t wholeFragmentsBytes = 0; // the file up to here holds only complete fragments

    std::atomic<qint64> startMicroseconds{0}; // wall clock of frame 0
    qint64 lastFrameIndex = -1;
    qint64 framesWritten = 0;
    qint64 framesDropped = 0;

    std::atomic<bool> stopLoop{false};
    std::atomic<bool> askedToStop{false};
    std::atomic<bool> ended{false};
    std::mutex outsideLock;
    std::optional<PlatformError> outsideError; // under outsideLock

    ~Engine()
    {
        audioStop = true;
        joinAudio();
        closeFile();
    }

    void open();
    void openGrab();
    void openSource(const QString &device, bool isMicrophone);
    void openEncoders();
    void openFile();
    void closeFile();
    bool captureFrame(bool first);
    void encodeVideo(AVFrame *frame);
    void encodeAudio(AVFrame *frame);
    bool writePacket(AVPacket *packet, AVCodecContext *codec, AVStream *stream);
    void takeSamples(AudioSource &source, const float *interleaved, int frames);
    void runMixer();
    void mixUpTo(qint64 targetSamples);
    void runVideo();
    void joinAudio();
    void finish(bool displayLost);
    std::optional<PlatformError> writeFailed()
    {
        std::lock_guard guard(writeLock);
        return writeFailure;
    }
};

void FfmpegScreenRecording::Engine::open()
{
    Ffmpeg::initialise();
    openGrab();
    if (settings.microphone)
        openSource(settings.microphoneSource.value_or(QString()), true);
    if (settings.systemAudio)
        openSource(QStringLiteral("@DEFAULT_MONITOR@"), false);
    openEncoders();
    openFile();
}

void FfmpegScreenRecording::Engine::openGrab()
{
    const AVInputFormat *format = av_find_input_format("x11grab");
    if (!format)
        throw refused(QStringLiteral("x11grab is not available"));
    AVDictionary *options = nullptr;
    av_dict_set(&options, "video_size", QStringLiteral("%1x%2").arg(settings.grab.width()).arg(settings.grab.height()).toUtf8().constData(), 0);
    av_dict_set_int(&options, "grab_x", settings.grab.x(), 0);
    av_dict_set_int(&options, "grab_y", settings.grab.y(), 0);
    av_dict_set_int(&options, "framerate", settings.framesPerSecond, 0);
    av_dict_set_int(&options, "draw_mouse", settings.drawCursor ? 1 : 0, 0);
    AVFormatContext *context = nullptr;
    const int status = avformat_open_input(&context, settings.xDisplay.constData(), format, &options);
    av_dict_free(&options);
    if (status < 0)
        throw refused(Ffmpeg::errorText(status));
    grab.reset(context);
    if (grab->nb_streams < 1)
        throw refused(QStringLiteral("no picture"));
    const AVCodecParameters *parameters = grab->streams[0]->codecpar;
    grabFormat = AVPixelFormat(parameters->format);
    grabWidth = parameters->width;
    grabHeight = parameters->height;
}

void FfmpegScreenRecording::Engine::openSource(const QString &device, bool isMicrophone)
{
    auto source = std::make_unique<AudioSource>();
    source->label = isMicrophone ? QStringLiteral("microphone %1").arg(device.isEmpty() ? QStringLiteral("(default)") : device)
                                 : QStringLiteral("system audio");
    source->fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings.channelCount, settings.sampleRate));
    AudioSource *const raw = source.get();
    try {
        source->recorder = std::make_unique<PulseAudio::Recorder>(
            device, settings.sampleRate, settings.channelCount,
            isMicrophone ? QStringLiteral("Microphone") : QStringLiteral("System audio"),
            [this, raw](const float *interleaved, int frames) { takeSamples(*raw, interleaved, frames); });
    } catch (const std::runtime_error &error) {
        const QString reason = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(error.what()),
                                                             device.isEmpty() ? QStringLiteral("default source") : device);
        if (isMicrophone)
            throw PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::microphoneUnavailable,
                                L10n::text(QStringLiteral("The microphone could not be opened: {reason}"), {{QStringLiteral("reason"), reason}}));
        throw PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::systemAudioUnavailable,
                            L10n::text(QStringLiteral("System audio could not be captured: {reason}"), {{QStringLiteral("reason"), reason}}));
    }
    sources.push_back(std::move(source));
}

void FfmpegScreenRecording::Engine::openEncoders()
{
    const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264)
        throw writeError(QStringLiteral("no H.264 encoder"));
    videoCodec.reset(avcodec_alloc_context3(h264));
    videoCodec->width = settings.output.width();
    videoCodec->height = settings.output.height();
    videoCodec->pix_fmt = AV_PIX_FMT_YUV420P;
    videoCodec->time_base = AVRational{1, settings.framesPerSecond};
    videoCodec->framerate = AVRational{settings.framesPerSecond, 1};
    // A keyframe every second starts a fragment every second: at most that much is lost.
    videoCodec->gop_size = settings.framesPerSecond;
    videoCodec->max_b_frames = 0;
    videoCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    // Faster presets fall behind at 1080p30 on two cores.
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "crf", "23", 0);
    int status = avcodec_open2(videoCodec.get(), h264, &options);
    av_dict_free(&options);
    if (status < 0)
        throw writeError(QStringLiteral("H.264 encoder: %1").arg(Ffmpeg::errorText(status)));

    videoFrame = Ffmpeg::makeFrame();
    videoFrame->format = AV_PIX_FMT_YUV420P;
    videoFrame->width = videoCodec->width;
    videoFrame->height = videoCodec->height;
    if (av_frame_get_buffer(videoFrame.get(), 0) < 0)
        throw writeError(QStringLiteral("out of memory"));
    scaler.reset(sws_getContext(grabWidth, grabHeight, grabFormat, videoCodec->width, videoCodec->height, AV_PIX_FMT_YUV420P,
                                SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler)
        throw refused(QStringLiteral("unsupported pixel format %1").arg(QString::fromUtf8(av_get_pix_fmt_name(grabFormat))));

    if (sources.empty())
        return;
    const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac)
        throw writeError(QStringLiteral("no AAC encoder"));
    audioCodec.reset(avcodec_alloc_context3(aac));
    audioCodec->sample_rate = settings.sampleRate;
    av_channel_layout_default(&audioCodec->ch_layout, settings.channelCount);
    audioCodec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audioCodec->bit_rate = 128000;
    audioCodec->time_base = AVRational{1, settings.sampleRate};
    audioCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    status = avcodec_open2(audioCodec.get(), aac, nullptr);
    if (status < 0)
        throw writeError(QStringLiteral("AAC encoder: %1").arg(Ffmpeg::errorText(status)));
    audioFrame = Ffmpeg::makeFrame();
    audioFrame->format = AV_SAMPLE_FMT_FLTP;
    audioFrame->sample_rate = settings.sampleRate;
    av_channel_layout_copy(&audioFrame->ch_layout, &audioCodec->ch_layout);
    audioFrame->nb_samples = kAudioFrameSamples;
    if (av_frame_get_buffer(audioFrame.get(), 0) < 0)
        throw writeError(QStringLiteral("out of memory"));
}

void FfmpegScreenRecording::Engine::openFile()
{
    AVFormatContext *context = nullptr;
    const QByteArray path = QFile::encodeName(settings.outputPath);
    int status = avformat_alloc_output_context2(&context, nullptr, "mp4", path.constData());
    if (status < 0 || !context)
        throw writeError(Ffmpeg::errorText(status));
    output.reset(context);
    videoOut = avformat_new_stream(context, nullptr);
    avcodec_parameters_from_context(videoOut->codecpar, videoCodec.get());
    videoOut->time_base = videoCodec->time_base;
    videoOut->avg_frame_rate = videoCodec->framerate;
    if (audioCodec) {
        audioOut = avformat_new_stream(context, nullptr);
        avcodec_parameters_from_context(audioOut->codecpar, audioCodec.get());
        audioOut->time_base = audioCodec->time_base;
    }
    fileDescriptor = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fileDescriptor < 0)
        throw writeError(QStringLiteral("%1: %2").arg(settings.outputPath, QString::fromLocal8Bit(strerror(errno))));
    auto *buffer = static_cast<unsigned char *>(av_malloc(kFileBufferBytes));
    context->pb = avio_alloc_context(buffer, kFileBufferBytes, 1, &fileDescriptor, nullptr, writeToFile, seekInFile);
    if (!context->pb) {
        av_free(buffer);
        throw writeError(QStringLiteral("out of memory"));
    }
    // Fragments written as they close, so a killed process leaves a playable file.
    context->flags |= AVFMT_FLAG_FLUSH_PACKETS | AVFMT_FLAG_CUSTOM_IO;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "flush_packets", "1", 0);
    status = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (status < 0)
        throw writeError(Ffmpeg::errorText(status));
    wholeFragmentsBytes = avio_tell(context->pb);
}

void FfmpegScreenRecording::Engine::closeFile()
{
    if (output && output->pb) {
        av_freep(&output->pb->buffer);
        avio_context_free(&output->pb);
    }
    if (fileDescriptor >= 0) {
        ::close(fileDescriptor);
        fileDescriptor = -1;
    }
}

bool FfmpegScreenRecording::Engine::writePacket(AVPacket *packet, AVCodecContext *codec, AVStream *stream)
{
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    std::lock_guard guard(writeLock);
    if (writeFailure)
        return false;
    const int status = av_write_frame(output.get(), packet);
    if (status < 0 || output->pb->error < 0) {
        writeFailure = writeError(Ffmpeg::errorText(status < 0 ? status : output->pb->error));
        // A fragment cut short would spoil the end of the file: keep only whole ones.
        if (::ftruncate(fileDescriptor, off_t(wholeFragmentsBytes)) != 0)
            FileLog::write(QStringLiteral("recorder: could not cut the file back: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    // Every packet is flushed, and fragments are written whole: the file ends on a boundary.
    wholeFragmentsBytes = avio_tell(output->pb);
    return true;
}

void FfmpegScreenRecording::Engine::encodeVideo(AVFrame *frame)
{
    if (avcodec_send_frame(videoCodec.get(), frame) < 0)
        return;
    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    while (avcodec_receive_packet(videoCodec.get(), packet.get()) >= 0) {
        writePacket(packet.get(), videoCodec.get(), videoOut);
        av_packet_unref(packet.get());
    }
}

void FfmpegScreenRecording::Engine::encodeAudio(AVFrame *frame)
{
    if (avcodec_send_frame(audioCodec.get(), frame) < 0)
        return;
    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    while (avcodec_receive_packet(audioCodec.get(), packet.get()) >= 0) {
        writePacket(packet.get(), audioCodec.get(), audioOut);
        av_packet_unref(packet.get());
    }
}

// Reads one grabbed picture and encodes it at its place on the frame clock. False when the
// X server stopped answering.
bool FfmpegScreenRecording::Engine::captureFrame(bool first)
{
    Ffmpeg::Packet packet = Ffmpeg::makePacket();
    int status;
    do {
        status = av_read_frame(grab.get(), packet.get());
    } while (status == AVERROR(EAGAIN));
    if (status < 0)
        return false;
    // x11grab stamps each picture with the wall clock in microseconds.
    if (first)
        startMicroseconds = packet->pts;
    const qint64 index = av_rescale(packet->pts - startMicroseconds, settings.framesPerSecond, 1000000);
    if (index <= lastFrameIndex) {
        ++framesDropped;
        return true;
    }
    if (lastFrameIndex >= 0)
        framesDropped += index - lastFrameIndex - 1;
    uint8_t *planes[4] = {};
    int strides[4] = {};
    av_image_fill_arrays(planes, strides, packet->data, grabFormat, grabWidth, grabHeight, 1);
    if (av_frame_make_writable(videoFrame.get()) < 0)
        return true;
    sws_scale(scaler.get(), planes, strides, 0, grabHeight, videoFrame->data, videoFrame->linesize);
    videoFrame->pts = index;
    encodeVideo(videoFrame.get());
    lastFrameIndex = index;
    ++framesWritten;
    return true;
}

void FfmpegScreenRecording::Engine::takeSamples(AudioSource &source, const float *interleaved, int frames)
{
    // Sound from before the first frame does not belong in the recording.
    if (startMicroseconds == 0 || audioStop || frames <= 0)
        return;
    const int channels = settings.channelCount;
    thread_local std::vector<std::vector<float>> planar;
    planar.resize(channels);
    std::vector<void *> pointers(channels);
    for (int c = 0; c < channels; ++c) {
        planar[c].resize(frames);
        for (int i = 0; i < frames; ++i)
            planar[c][i] = interleaved[i * channels + c];
        pointers[c] = planar[c].data();
    }
    std::lock_guard guard(source.lock);
    av_audio_fifo_write(source.fifo.get(), pointers.data(), frames);
    // A source running ahead of the clock loses its oldest samples, so the drift stays bounded.
    const int excess = av_audio_fifo_size(source.fifo.get()) - int(kAudioBacklogSeconds * settings.sampleRate);
    if (excess > 0)
        av_audio_fifo_drain(source.fifo.get(), excess);
}

// Mixes whole AAC frames until the track reaches `targetSamples`; a source that has not
// delivered enough adds silence.
void FfmpegScreenRecording::Engine::mixUpTo(qint64 targetSamples)
{
    const int channels = settings.channelCount;
    std::vector<std::vector<float>> scratch(channels, std::vector<float>(kAudioFrameSamples));
    std::vector<void *> scratchPointers(channels);
    for (int c = 0; c < channels; ++c)
        scratchPointers[c] = scratch[c].data();
    while (samplesWritten + kAudioFrameSamples <= targetSamples) {
        if (av_frame_make_writable(audioFrame.get()) < 0)
            return;
        for (int c = 0; c < channels; ++c)
            std::fill_n(reinterpret_cast<float *>(audioFrame->data[c]), kAudioFrameSamples, 0.0f);
        for (const auto &source : sources) {
            int got = 0;
            {
                std::lock_guard guard(source->lock);
                const int available = std::min(av_audio_fifo_size(source->fifo.get()), kAudioFrameSamples);
                if (available > 0)
                    got = av_audio_fifo_read(source->fifo.get(), scratchPointers.data(), available);
            }
            for (int c = 0; c < channels; ++c) {
                auto *mixed = reinterpret_cast<float *>(audioFrame->data[c]);
                for (int i = 0; i < got; ++i)
                    mixed[i] += scratch[c][i];
            }
        }
        if (sources.size() > 1) {
            for (int c = 0; c < channels; ++c) {
                auto *mixed = reinterpret_cast<float *>(audioFrame->data[c]);
                for (int i = 0; i < kAudioFrameSamples; ++i)
                    mixed[i] = std::clamp(mixed[i], -1.0f, 1.0f);
            }
        }
        audioFrame->pts = samplesWritten;
        encodeAudio(audioFrame.get());
        samplesWritten += kAudioFrameSamples;
    }
}

void FfmpegScreenRecording::Engine::runMixer()
{
    const qint64 lag = qint64(kAudioLagSeconds * settings.sampleRate);
    while (!audioStop) {
        std::this_thread::sleep_for(20ms);
        const qint64 elapsed = av_gettime() - startMicroseconds;
        mixUpTo(av_rescale(elapsed, settings.sampleRate, 1000000) - lag);
    }
}

void FfmpegScreenRecording::Engine::joinAudio()
{
    audioStop = true;
    if (mixer.joinable())
        mixer.join();
    for (const auto &source : sources)
        source->recorder.reset();
}

void FfmpegScreenRecording::Engine::runVideo()
{
    bool lost = false;
    while (!stopLoop) {
        if (writeFailed())
            break;
        if (!captureFrame(false)) {
            lost = true;
            break;
        }
    }
    finish(lost);
}

void FfmpegScreenRecording::Engine::finish(bool displayLost)
{
    joinAudio();
    if (audioCodec) {
        // The sound track ends with the picture.
        mixUpTo(av_rescale(lastFrameIndex + 1, settings.sampleRate, settings.framesPerSecond));
        encodeAudio(nullptr);
    }
    encodeVideo(nullptr);
    {
        std::lock_guard guard(writeLock);
        if (!writeFailure) {
            const int status = av_write_trailer(output.get());
            if (status < 0 || output->pb->error < 0) {
                writeFailure = writeError(Ffmpeg::errorText(status < 0 ? status : output->pb->error));
                if (::ftruncate(fileDescriptor, off_t(wholeFragmentsBytes)) != 0)
                    FileLog::write(QStringLiteral("recorder: could not cut the file back: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            }
        }
        closeFile();
    }
    FileLog::write(QStringLiteral("recorder: wrote %1 frames, %2 dropped, to %3")
                       .arg(framesWritten)
                       .arg(framesDropped)
                       .arg(settings.outputPath));
    ended = true;

    const std::optional<PlatformError> failure = writeFailed();
    std::optional<PlatformError> outside;
    {
        std::lock_guard guard(outsideLock);
        outside = outsideError;
    }
    if (!outside && displayLost)
        outside = displayGone();
    if (failure && events.failed)
        events.failed(*failure);
    if (askedToStop) {
        if (!failure && events.finished)
            events.finished();
    } else if (events.stoppedOnItsOwn) {
        events.stoppedOnItsOwn(failure ? failure : outside);
    }
}

std::shared_ptr<FfmpegScreenRecording> FfmpegScreenRecording::start(const RecordingSettings &settings, Events events)
{
    auto engine = std::make_shared<Engine>();
    engine->settings = settings;
    engine->events = std::move(events);
    try {
        engine->open();
        if (!engine->captureFrame(true))
            throw refused(QStringLiteral("the X server sent no picture"));
    } catch (const PlatformError &) {
        const bool created = engine->fileDescriptor >= 0;
        engine.reset(); // closes the file before it goes
        if (created)
            QFile::remove(settings.outputPath);
        throw;
    }
    if (engine->audioCodec)
        engine->mixer = std::thread([raw = engine.get()] { raw->runMixer(); });
    // The picture thread owns the engine until the file is closed, whoever lets go first.
    std::thread([engine] { engine->runVideo(); }).detach();
    return std::shared_ptr<FfmpegScreenRecording>(new FfmpegScreenRecording(engine));
}

FfmpegScreenRecording::FfmpegScreenRecording(std::shared_ptr<Engine> engine)
    : m_engine(std::move(engine))
{
}

FfmpegScreenRecording::~FfmpegScreenRecording()
{
    // Nobody listens any more, but the file still gets closed properly.
    m_engine->stopLoop = true;
}

void FfmpegScreenRecording::requestStop()
{
    m_engine->askedToStop = true;
    m_engine->stopLoop = true;
}

void FfmpegScreenRecording::endOnItsOwn(const PlatformError &error)
{
    {
        std::lock_guard guard(m_engine->outsideLock);
        if (!m_engine->outsideError)
            m_engine->outsideError = error;
    }
    m_engine->stopLoop = true;
}

bool FfmpegScreenRecording::hasEnded() const
{
    return m_engine->ended;
}
