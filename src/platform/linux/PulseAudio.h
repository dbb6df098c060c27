#pragma once
// PulseAudio (or PipeWire's pulse server): the list of sources and defaults, and recording
// from one source. Sources are named by their PulseAudio name; monitors of sinks carry the
// system audio.

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace PulseAudio {

struct Source {
    QString name;        // what recording is opened with
    QString description; // what people read
    bool isMonitor = false;
};

struct ServerState {
    QString defaultSourceName;
    QString defaultSinkName;
    QList<Source> sources; // in the server's order
};

// Asks the server; nothing when none answers within `timeoutMs`. Blocks the calling thread.
std::optional<ServerState> query(int timeoutMs = 1500);

// Records one source as 32-bit float interleaved samples, handed to `onSamples` on PulseAudio's
// own thread as they arrive.
class Recorder {
public:
    using SampleSink = std::function<void(const float *interleaved, int frames)>;

    // `source` empty: the server's default source. Throws std::runtime_error with the reason.
    Recorder(const QString &source, int sampleRate, int channels, const QString &streamName, SampleSink onSamples);
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    int channels() const { return m_channels; }

private:
    static void streamRead(pa_stream *stream, size_t bytes, void *self);
    void close();

    int m_channels;
    SampleSink m_onSamples;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
};

} // namespace PulseAudio
