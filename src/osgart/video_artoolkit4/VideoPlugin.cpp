#include <osgART/PluginManager.h>

#include "CaptureVideo.h"

namespace
{

// Registers the video source when the module is loaded.
struct VideoRegistration
{
    VideoRegistration()
    {
        osgART::PluginManager::instance()->add("video_artoolkit4", new osgART::CaptureVideo);
    }
};

VideoRegistration registration;

} // namespace
