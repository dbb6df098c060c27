#pragma once
// Small helpers around the FFmpeg C libraries: owning pointers, error texts, one-time setup.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <QString>
#include <memory>

namespace Ffmpeg {

// Registers the capture devices and quiets the libraries' own logging; safe to call often.
void initialise();

QString errorText(int code);

struct PacketFree {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameFree {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct CodecFree {
    void operator()(AVCodecContext *codec) const { avcodec_free_context(&codec); }
};
struct InputClose {
    void operator()(AVFormatContext *input) const { avformat_close_input(&input); }
};
// An output context that is freed together with its file, if one was opened.
struct OutputFree {
    void operator()(AVFormatContext *output) const
    {
        if (output->pb && !(output->oformat->flags & AVFMT_NOFILE))
            avio_closep(&output->pb);
        avformat_free_context(output);
    }
};
struct ScalerFree {
    void operator()(SwsContext *scaler) const { sws_freeContext(scaler); }
};
struct FifoFree {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};
struct DictionaryFree {
    void operator()(AVDictionary *dictionary) const { av_dict_free(&dictionary); }
};

using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Input = std::unique_ptr<AVFormatContext, InputClose>;
using Output = std::unique_ptr<AVFormatContext, OutputFree>;
using Scaler = std::unique_ptr<SwsContext, ScalerFree>;
using AudioFifo = std::unique_ptr<AVAudioFifo, FifoFree>;

inline Packet makePacket() { return Packet(av_packet_alloc()); }
inline Frame makeFrame() { return Frame(av_frame_alloc()); }

} // namespace Ffmpeg
