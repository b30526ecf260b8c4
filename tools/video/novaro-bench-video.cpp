// novaro-bench-video: what the video plugin costs the player before its first camera image.
//
//   novaro-bench-video [-runs N] DEVICE_TEXT
//
// e.g. novaro-bench-video "-devNum=1 -flipV -file=samples/recorded/camera.mp4". Run from the run
// directory (it loads osgplugins/osgart_video_artoolkit4.so). Prints the time to load the plugin
// (with the shared libraries it pulls in, counted), and the median of N runs of open() up to the
// first frame in the image. The plugin is loaded once per process, so the load time is one sample.
#include <osgART/GenericVideo.h>
#include <osgART/PluginManager.h>

#include <osg/Notify>
#include <osgDB/Registry>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int countLoadedLibraries()
{
    int count = 0;
    dl_iterate_phdr([](dl_phdr_info*, size_t, void* data) -> int { return ++*static_cast<int*>(data), 0; },
                    &count);
    return count;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    std::string device;
    osg::setNotifyLevel(osg::WARN);
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "-runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            device = argv[i];
    }
    if (device.empty())
    {
        std::fprintf(stderr, "usage: novaro-bench-video [-runs N] DEVICE_TEXT\n");
        return 2;
    }
    osgDB::Registry::instance()->getLibraryFilePathList().push_front("osgplugins");

    const int librariesBefore = countLoadedLibraries();
    const Clock::time_point loadStart = Clock::now();
    if (!osgART::PluginManager::instance()->load("osgart_video_artoolkit4"))
    {
        std::fprintf(stderr, "cannot load osgart_video_artoolkit4 from ./osgplugins\n");
        return 1;
    }
    osg::ref_ptr<osgART::GenericVideo> video =
        dynamic_cast<osgART::GenericVideo*>(osgART::PluginManager::instance()->get("video_artoolkit4"));
    const double loadMilliseconds = millisecondsSince(loadStart);
    const int librariesAdded = countLoadedLibraries() - librariesBefore;
    if (!video.valid())
        return 1;

    std::vector<double> openTimes;
    for (int run = 0; run < runs; ++run)
    {
        video->getVideoConfiguration()->deviceconfig = device;
        video->setFlip(false, true);
        const Clock::time_point openStart = Clock::now();
        const bool opened = video->open();
        if (!opened || video->getFrameNumber() == 0)
        {
            std::fprintf(stderr, "the video gave no first frame for \"%s\"\n", device.c_str());
            return 1;
        }
        openTimes.push_back(millisecondsSince(openStart));
        video->close(true);
    }
    std::printf("plugin load: %.1f ms, %d shared libraries added\n", loadMilliseconds, librariesAdded);
    std::printf("open to first frame: median %.1f ms over %d runs (%dx%d)\n", median(openTimes), runs,
                video->getWidth(), video->getHeight());
    return 0;
}
