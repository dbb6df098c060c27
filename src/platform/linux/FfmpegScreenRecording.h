#pragma once
// The worker side of one screen recording: grabs X frames with x11grab, mixes the microphone
// and the system audio from PulseAudio into one track, encodes H.264 (yuv420p) and AAC
// (48 kHz stereo) and writes fragmented MP4 with every packet flushed, so a killed process
// leaves a file that plays up to its last fragment. Everything after start() runs on threads
// of its own; the events are called on those threads.

#include "platform/PlatformError.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

struct RecordingSettings {
    QByteArray xDisplay;        // as in $DISPLAY
    QRect grab;                 // X pixels
    QSize output;               // even
    int framesPerSecond = 30;
    bool drawCursor = true;
    bool systemAudio = false;   // the default sink's monitor
    bool microphone = false;
    std::optional<QString> microphoneSource; // a PulseAudio source name; absent: the default source
    int sampleRate = 48000;
    int channelCount = 2;
    QString outputPath;
};

class FfmpegScreenRecording {
public:
    struct Events {
        std::function<void()> finished;                                     // after requestStop()
        std::function<void(const PlatformError &)> failed;                  // the file could not be (fully) written
        std::function<void(const std::optional<PlatformError> &)> stoppedOnItsOwn;
    };

    // Opens the picture, the sound sources, the encoders and the file, writes the first frame
    // and starts the threads. Blocks; throws PlatformError, leaving no file behind.
    static std::shared_ptr<FfmpegScreenRecording> start(const RecordingSettings &settings, Events events);

    ~FfmpegScreenRecording();

    // Ends the recording; finished() or failed() follows once the file is closed.
    void requestStop();
    // Ends the recording because something outside went away; stoppedOnItsOwn(error) follows.
    void endOnItsOwn(const PlatformError &error);
    bool hasEnded() const;

    class Engine;

private:
    explicit FfmpegScreenRecording(std::shared_ptr<Engine> engine);
    std::shared_ptr<Engine> m_engine;
};
