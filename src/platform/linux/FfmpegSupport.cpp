#include "platform/linux/FfmpegSupport.h"

#include <mutex>

namespace Ffmpeg {

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        // Failures reach the user through our own errors; the libraries' chatter would only
        // fill the terminal.
        av_log_set_level(AV_LOG_FATAL);
    });
}

QString errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace Ffmpeg
