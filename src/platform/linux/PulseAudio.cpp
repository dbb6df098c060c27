#include "platform/linux/PulseAudio.h"

#include <pulse/pulseaudio.h>

#include <vector>

namespace PulseAudio {

namespace {

struct QueryState {
    pa_mainloop *loop = nullptr;
    ServerState state;
    int pending = 0; // replies still expected
    bool failed = false;
    bool timedOut = false;
};

void finishOne(QueryState &query)
{
    if (--query.pending == 0)
        pa_mainloop_quit(query.loop, 0);
}

void serverInfoReceived(pa_context *, const pa_server_info *info, void *data)
{
    auto &query = *static_cast<QueryState *>(data);
    if (info) {
        query.state.defaultSourceName = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
        query.state.defaultSinkName = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
    }
    finishOne(query);
}

void sourceReceived(pa_context *, const pa_source_info *info, int last, void *data)
{
    auto &query = *static_cast<QueryState *>(data);
    if (last) {
        finishOne(query);
        return;
    }
    if (!info)
        return;
    Source source;
    source.name = QString::fromUtf8(info->name);
    source.description = QString::fromUtf8(info->description ? info->description : info->name);
    source.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    query.state.sources.append(source);
}

void contextChanged(pa_context *context, void *data)
{
    auto &query = *static_cast<QueryState *>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        query.pending = 2;
        pa_operation_unref(pa_context_get_server_info(context, serverInfoReceived, data));
        pa_operation_unref(pa_context_get_source_info_list(context, sourceReceived, data));
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        query.failed = true;
        pa_mainloop_quit(query.loop, 1);
        break;
    default:
        break;
    }
}

void queryTimedOut(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data)
{
    auto &query = *static_cast<QueryState *>(data);
    query.timedOut = true;
    pa_mainloop_quit(query.loop, 1);
}

} // namespace

std::optional<ServerState> query(int timeoutMs)
{
    QueryState query;
    query.loop = pa_mainloop_new();
    pa_mainloop_api *api = pa_mainloop_get_api(query.loop);
    pa_context *context = pa_context_new(api, "Tovrika");
    pa_context_set_state_callback(context, contextChanged, &query);
    timeval deadline;
    pa_gettimeofday(&deadline);
    pa_timeval_add(&deadline, pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event *timer = api->time_new(api, &deadline, queryTimedOut, &query);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
        pa_mainloop_run(query.loop, nullptr);
    else
        query.failed = true;
    api->time_free(timer);
    // Disconnecting reports "terminated": nobody needs to hear it now.
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(query.loop);
    if (query.failed || query.timedOut)
        return std::nullopt;
    return query.state;
}

namespace {
void recorderContextChanged(pa_context *, void *loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
}
void recorderStreamChanged(pa_stream *, void *loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
}
} // namespace

Recorder::Recorder(const QString &source, int sampleRate, int channels, const QString &streamName, SampleSink onSamples)
    : m_channels(channels)
    , m_onSamples(std::move(onSamples))
{
    m_loop = pa_threaded_mainloop_new();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Tovrika");
    pa_context_set_state_callback(m_context, recorderContextChanged, m_loop);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const std::string reason = pa_strerror(pa_context_errno(m_context));
        close();
        throw std::runtime_error(reason);
    }
    pa_threaded_mainloop_lock(m_loop);
    pa_threaded_mainloop_start(m_loop);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            const std::string reason = pa_strerror(pa_context_errno(m_context));
            pa_threaded_mainloop_unlock(m_loop);
            close();
            throw std::runtime_error("no sound server: " + reason);
        }
        pa_threaded_mainloop_wait(m_loop);
    }

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(sampleRate), uint8_t(channels)};
    m_stream = pa_stream_new(m_context, streamName.toUtf8().constData(), &spec, nullptr);
    pa_stream_set_state_callback(m_stream, recorderStreamChanged, m_loop);
    pa_stream_set_read_callback(m_stream, streamRead, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    // 20 ms fragments keep the sound close to the picture; the server's default can be seconds.
    attributes.fragsize = uint32_t(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &spec));
    const QByteArray device = source.toUtf8();
    if (pa_stream_connect_record(m_stream, source.isEmpty() ? nullptr : device.constData(), &attributes,
                                 PA_STREAM_ADJUST_LATENCY)
        < 0) {
        const std::string reason = pa_strerror(pa_context_errno(m_context));
        pa_threaded_mainloop_unlock(m_loop);
        close();
        throw std::runtime_error(reason);
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            const std::string reason = pa_strerror(pa_context_errno(m_context));
            pa_threaded_mainloop_unlock(m_loop);
            close();
            throw std::runtime_error(reason);
        }
        pa_threaded_mainloop_wait(m_loop);
    }
    pa_threaded_mainloop_unlock(m_loop);
}

Recorder::~Recorder()
{
    close();
}

void Recorder::close()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_stop(m_loop);
    if (m_stream) {
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void Recorder::streamRead(pa_stream *stream, size_t, void *data)
{
    auto &self = *static_cast<Recorder *>(data);
    const void *samples = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &samples, &bytes) < 0 || bytes == 0)
            return;
        const int frames = int(bytes / (sizeof(float) * size_t(self.m_channels)));
        if (samples) {
            self.m_onSamples(static_cast<const float *>(samples), frames);
        } else {
            // A hole in the stream: the server lost data; keep the clock with silence.
            std::vector<float> silence(size_t(frames) * size_t(self.m_channels), 0.0f);
            self.m_onSamples(silence.data(), frames);
        }
        pa_stream_drop(stream);
    }
}

} // namespace PulseAudio
