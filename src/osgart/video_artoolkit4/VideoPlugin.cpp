#include <osgART/PluginManager.h>

#include "CaptureVideo.h"

extern "C"
{
#include <libavutil/log.h>
}

namespace
{

// Registers the video source when the module is loaded.
struct VideoRegistration
{
    VideoRegistration()
    {
        // FFmpeg's own complaints about a damaged file would add lines of their own to the one
        // that says what is wrong with the camera file.
        av_log_set_level(AV_LOG_FATAL);
        osgART::PluginManager::instance()->add("video_artoolkit4", new osgART::CaptureVideo);
    }
};

VideoRegistration registration;

} // namespace
