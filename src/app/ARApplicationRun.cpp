// The frame loop and what surrounds it: the last preparation that needs a complete scene, the
// loop itself, and the clean-up of media and temporary data.
#include "app/ARApplication.h"
#include "app/DisplayConnection.h"

#include "app/ARTextureCachingCallBack.h"
#include "app/FrameStatistics.h"
#include "app/ImageFile.h"
#include "app/WindowCapture.h"
#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "scene/ARLight.h"
#include "scene/ARObject.h"
#include "scene/ARVideo.h"
#include "scene/KmzImporter.h"
#include "settings/AudioData.h"
#include "settings/ConfigurationData.h"
#include "settings/LightingData.h"

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <unistd.h>

#include <osg/Stats>
#include <osg/Timer>
#include <osgDB/FileNameUtils>
#include <osgDB/WriteFile>

#include <SFML/Audio/Music.hpp>

#include "osgART/ARSceneNode.h"
#include "osgART/GenericTracker.h"
#include "osgART/GenericVideo.h"

namespace Novaro
{

namespace
{

// Milliseconds since the kernel started this process (dynamic loading included), to a clock tick;
// negative when the system does not say.
double millisecondsSinceProcessStart()
{
    std::FILE* stat = std::fopen("/proc/self/stat", "r");
    if (!stat)
        return -1.0;
    char line[1024];
    const bool read = std::fgets(line, sizeof(line), stat) != nullptr;
    std::fclose(stat);
    // The command name in parentheses may hold spaces: the fields are counted after its ')'.
    const char* field = read ? std::strrchr(line, ')') : nullptr;
    unsigned long long startTicks = 0;
    if (!field ||
        std::sscanf(field + 2,
                    "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &startTicks) != 1)
        return -1.0;
    timespec now;
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1.0;
    const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    return (now.tv_sec + now.tv_nsec * 1e-9 - startTicks / ticksPerSecond) * 1000.0;
}

// Times the capture publishing and the tracking of each frame. It runs before the tracking
// library's own update callback (nested below it), whose calls then find nothing new to do.
// Tracking is counted only over frames that brought a new camera image: on the others the
// tracker has nothing to do, and counting them would hide its cost behind idle frames.
class TrackingTimer : public osg::NodeCallback
{
public:
    TrackingTimer(osgART::GenericVideo* video, osgART::GenericTracker* tracker, FrameStatistics& statistics)
        : _video(video), _tracker(tracker), _statistics(statistics)
    {
        // A still camera image brings no new frame in the loop: the row then says 0 frames.
        _statistics.declare("capture");
        _statistics.declare("tracking");
        if (_tracker)
            for (const osgART::GenericTracker::StageTime& stage : _tracker->stageTimes())
                _statistics.declare(kStagePrefix + stage.name);
    }
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        osg::Timer* timer = osg::Timer::instance();
        const unsigned int published = _video ? _video->getFrameNumber() : 0;
        const osg::Timer_t start = timer->tick();
        if (_video)
            _video->update();
        const osg::Timer_t captured = timer->tick();
        if (_tracker)
            _tracker->update();
        const osg::Timer_t tracked = timer->tick();
        _statistics.add("capture", timer->delta_m(start, captured));
        if (_video && _video->getFrameNumber() != published)
        {
            _statistics.add("tracking", timer->delta_m(captured, tracked));
            if (_tracker)
                for (const osgART::GenericTracker::StageTime& stage : _tracker->stageTimes())
                    _statistics.add(kStagePrefix + stage.name, stage.milliseconds);
        }
        traverse(node, visitor);
    }

private:
    // Rows of the tracker's own steps, under the tracking row they make up.
    static constexpr const char* kStagePrefix = "tracking/";
    osgART::GenericVideo* _video;
    osgART::GenericTracker* _tracker;
    FrameStatistics& _statistics;
};

// Times the window's buffer swap, where a driver that queues its drawing waits for it to finish.
class SwapTimer : public osg::GraphicsContext::SwapCallback
{
public:
    explicit SwapTimer(FrameStatistics& statistics) : _statistics(statistics) {}
    void swapBuffersImplementation(osg::GraphicsContext* context) override
    {
        const osg::Timer_t start = osg::Timer::instance()->tick();
        context->swapBuffersImplementation();
        _statistics.add("swap", osg::Timer::instance()->delta_m(start, osg::Timer::instance()->tick()));
    }

private:
    FrameStatistics& _statistics;
};

double attribute(osg::Stats* stats, unsigned int frame, const std::string& name)
{
    double value = 0.0;
    if (stats)
        stats->getAttribute(frame, name, value);
    return value;
}

} // namespace

void ARApplication::run()
{
    if (!_configuration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL configuration." << std::endl;
        return;
    }
    if (!showWindow())
        return;
    cacheTexturesAtFirstDraw();
    startPlayback();
    runFrameLoop();
    stopPlayback();
}

bool ARApplication::showWindow()
{
    if (!_root.valid())
        _root = new osg::Group;
    _viewer->setSceneData(_root.get());
    if (_shadowsManager.valid())
        initLighting();
    else
        osg::notify(osg::FATAL) << " WARNING: shadows manager NOT working." << std::endl;

    createRenderingPipeline();
    setShadowComposite(_shadowsManager.valid() &&
                       _shadowsManager->getMode() == ARShadowsManager::MODE_DEFERRED);
    _viewer->realize();
    if (!_viewer->isRealized())
    {
        // The window went between its creation and now (the display closed): nothing to draw on.
        osg::notify(osg::FATAL) << " ERROR: the player's window could not be shown on display "
                                << DisplayConnection::requestedName() << "." << std::endl;
        _windowFailed = true;
        return false;
    }
    if (_configuration->getMirror())
        toggleMirror();
    _viewer->setFullscreen(_configuration->getFullscreen());
    _hud.fitToWindow();
    return true;
}

void ARApplication::cacheTexturesAtFirstDraw()
{
    osg::notify(osg::FATAL) << " Caching textures..." << std::endl;
    osg::ref_ptr<ARTextureCachingCallBack> caching = new ARTextureCachingCallBack;
    for (ARObject* object : _objects)
        caching->addNode(object);
    _textureCaching = caching;
    _viewer->getCamera()->setPreDrawCallback(caching.get());
    osg::notify(osg::FATAL) << " Caching textures...Done." << std::endl;
}

void ARApplication::startPlayback()
{
    prepareObjectsForLoop();
    if (_audioConfiguration && _audioConfiguration->getAutoplay() && isSoundtrackIndexValid())
        _soundtracks[_currentSoundtrack]->play();
    if (!_clippingManager.valid())
        _clippingManager = new ARClippingManager(80.0f);
    optimizeScene();
    if (_applicationHint == HINT_SCIA_ENGINEER)
    {
        _smallFeatureCullingPixelSize = 5.0f;
        applySmallFeatureCulling();
    }
    if (_shadowsManager.valid())
        _shadowsManager->initTechnique();
    if (_video.valid())
        _video->start();
}

void ARApplication::stopPlayback()
{
    if (isSoundtrackIndexValid())
        _soundtracks[_currentSoundtrack]->stop();
    if (_video.valid())
    {
        _video->stop();
        _video->close(true);
    }
}

void ARApplication::prepareObjectsForLoop()
{
    for (ARObject* object : _objects)
    {
        object->resetActions();
        object->onInit();
    }
    // Hovering needs a pick on every mouse move; do it only when some object listens for it.
    for (ARObject* object : _objects)
    {
        if (object->hasEvent("on_mouse_in") || object->hasEvent("on_mouse_out") ||
            object->hasEvent("on_mouse_over"))
            _mouseOverEvents = true;
    }
}

namespace
{

// A camera of its own, drawn after every other one, that reads the window back for the screenshot.
osg::ref_ptr<osg::Camera> addCaptureCamera(osgViewer::Viewer& viewer, WindowCapture* capture)
{
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    camera->setRenderOrder(osg::Camera::POST_RENDER, 1 << 30);
    camera->setClearMask(0);
    camera->setAllowEventFocus(false);
    camera->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    camera->setGraphicsContext(viewer.getCamera()->getGraphicsContext());
    camera->setViewport(new osg::Viewport(*viewer.getCamera()->getViewport()));
    camera->setFinalDrawCallback(capture);
    viewer.addSlave(camera.get(), false);
    return camera;
}

// Whether every pixel of the picture has the colour of the first: the player always draws the
// camera image or its status text, so such a picture means nothing reached the window (a display
// lost while playing, a context that draws nothing).
bool isSingleColour(const osg::Image& image)
{
    const unsigned int pixelBytes = image.getPixelSizeInBits() / 8;
    const unsigned char* first = image.data();
    if (pixelBytes == 0 || first == nullptr)
        return true;
    for (int row = 0; row < image.t(); ++row)
    {
        const unsigned char* pixel = image.data(0, row);
        for (int column = 0; column < image.s(); ++column, pixel += pixelBytes)
            if (std::memcmp(pixel, first, pixelBytes) != 0)
                return false;
    }
    return true;
}

bool writeScreenshot(const WindowCapture& capture, const std::string& file)
{
    std::string error;
    if (writeImageFileChecked(*capture.image(), file, error))
    {
        osg::notify(osg::NOTICE) << " Screenshot written: " << file << std::endl;
        if (isSingleColour(*capture.image()))
            osg::notify(osg::FATAL) << " WARNING: the screenshot " << file
                                    << " is a single colour: nothing was drawn (was the display lost?)"
                                    << std::endl;
        return true;
    }
    osg::notify(osg::FATAL) << " ERROR: could not write screenshot " << file << ": " << error << "."
                            << std::endl;
    return false;
}

// The name of the picture after a given frame, beside the screenshot: shot.png gives shot-40.png.
std::string frameScreenshotFile(const std::string& file, int frame)
{
    const std::string extension = osgDB::getFileExtensionIncludingDot(file);
    return file.substr(0, file.size() - extension.size()) + "-" + std::to_string(frame) + extension;
}

// The viewer's own per-stage times of the frame just drawn, the main and AR cameras together.
void addTraversalTimes(osgViewer::Viewer& viewer, osg::Camera* arCamera, FrameStatistics& statistics)
{
    const unsigned int frame = viewer.getFrameStamp()->getFrameNumber();
    statistics.add("event", 1000.0 * attribute(viewer.getViewerStats(), frame, "Event traversal time taken"));
    statistics.add("update",
                   1000.0 * attribute(viewer.getViewerStats(), frame, "Update traversal time taken"));
    double cull = 1000.0 * attribute(viewer.getCamera()->getStats(), frame, "Cull traversal time taken");
    double draw = 1000.0 * attribute(viewer.getCamera()->getStats(), frame, "Draw traversal time taken");
    if (arCamera)
    {
        cull += 1000.0 * attribute(arCamera->getStats(), frame, "Cull traversal time taken");
        draw += 1000.0 * attribute(arCamera->getStats(), frame, "Draw traversal time taken");
    }
    statistics.add("cull", cull);
    statistics.add("draw", draw);
}

} // namespace

void ARApplication::startFrameStatistics(FrameStatistics& statistics)
{
    _viewer->getViewerStats()->collectStats("update", true);
    _viewer->getViewerStats()->collectStats("event", true);
    _viewer->getCamera()->getStats()->collectStats("rendering", true);
    if (_arCamera.valid() && _arCamera->getStats())
        _arCamera->getStats()->collectStats("rendering", true);
    if (_arSceneNode.valid())
    {
        osg::ref_ptr<TrackingTimer> timer = new TrackingTimer(_video.get(), _tracker.get(), statistics);
        timer->setNestedCallback(_arSceneNode->getUpdateCallback());
        _arSceneNode->setUpdateCallback(timer.get());
    }
    if (osg::GraphicsContext* context = _viewer->getCamera()->getGraphicsContext())
        context->setSwapCallback(new SwapTimer(statistics));
}

void ARApplication::stopFrameStatistics(const FrameStatistics& statistics)
{
    // The timers refer to this run's statistics: give the node and the window back their own.
    if (TrackingTimer* timer =
            dynamic_cast<TrackingTimer*>(_arSceneNode.valid() ? _arSceneNode->getUpdateCallback() : nullptr))
        _arSceneNode->setUpdateCallback(timer->getNestedCallback());
    if (osg::GraphicsContext* context = _viewer->getCamera()->getGraphicsContext())
        context->setSwapCallback(nullptr);
    osg::notify(osg::FATAL) << statistics.table() << std::flush;
}

void ARApplication::runFrameLoop()
{
    osg::ref_ptr<WindowCapture> capture;
    osg::ref_ptr<osg::Camera> captureCamera;
    if (!_screenshotFile.empty())
    {
        capture = new WindowCapture;
        captureCamera = addCaptureCamera(*_viewer, capture.get());
    }
    FrameStatistics statistics;
    if (_printFrameStatistics)
        startFrameStatistics(statistics);

    // "frame" is the time from one frame's start to the next one's: everything the loop does,
    // swap and read-back included.
    osg::Timer* timer = osg::Timer::instance();
    int frames = 0;
    osg::Timer_t frameStart = timer->tick();
    while (!_viewer->done() && (_maxFrames < 0 || frames < _maxFrames))
    {
        if (_frameTime > 0.0)
            _sceneSeconds = frames * _frameTime;
        _viewer->frame(_frameTime > 0.0 ? _sceneSeconds : DBL_MAX);
        ++frames;
        if (capture.valid() && _screenshotFrames.count(frames) &&
            !writeScreenshot(*capture, frameScreenshotFile(_screenshotFile, frames)))
            _screenshotFailed = true;
        if (!_printFrameStatistics)
            continue;
        if (frames == 1)
            osg::notify(osg::FATAL) << " Start-up to first frame: "
                                    << int(millisecondsSinceProcessStart() + 0.5) << " ms" << std::endl;
        addTraversalTimes(*_viewer, _arCamera.get(), statistics);
        const osg::Timer_t frameEnd = timer->tick();
        statistics.add("frame", timer->delta_m(frameStart, frameEnd));
        frameStart = frameEnd;
    }

    if (capture.valid())
    {
        captureCamera->setFinalDrawCallback(nullptr);
        if (!writeScreenshot(*capture, _screenshotFile))
            _screenshotFailed = true;
    }
    if (_printFrameStatistics)
        stopFrameStatistics(statistics);
}

bool ARApplication::initLighting()
{
    // A light object whose model held no light source lights nothing: the scene goes unshadowed.
    const ARLight* light = _shadowsManager->getLight();
    if (!_lightingConfiguration || !light || !light->getLightSource())
    {
        if (!_lightingConfiguration)
            osg::notify(osg::FATAL) << " WARNING: NULL lighting configuration (using defaults)." << std::endl;
        else
            osg::notify(osg::FATAL) << " WARNING: no AR light defined." << std::endl;
        // Without a light to cast shadows the shadowed markers are drawn, lit like the others,
        // through the not-shadowed group.
        _shadowsManager->disable();
        if (_shadowedMarkersGroup.valid() && _notShadowedMarkersGroup.valid())
        {
            const unsigned int count = _shadowedMarkersGroup->getNumChildren();
            for (unsigned int index = 0; index < count; ++index)
                _notShadowedMarkersGroup->addChild(_shadowedMarkersGroup->getChild(index));
            _shadowedMarkersGroup->removeChildren(0, count);
        }
        return false;
    }
    _shadowsManager->setMode(_lightingConfiguration->getMode());
    _shadowsManager->setCompatibility(_lightingConfiguration->getCompatibilityHint());
    _shadowsManager->setTechnique(_lightingConfiguration->getShadowTechnique());
    _shadowsManager->guardShadowBounds();
    _shadowsManager->computeTextureUnits();
    _shadowsManager->initTechnique();
    return true;
}

void ARApplication::cleanup()
{
    for (sf::Music* music : _soundtracks)
        delete music;
    for (sf::Music*& music : _soundtracks)
        music = nullptr;
    for (ARObject* object : _objects)
    {
        if (!dynamic_cast<ARVideo*>(object))
            object->stopVideoTextures();
    }

    const std::vector<std::string> files = _temporaryFiles;
    for (const std::string& file : files)
        std::remove(file.c_str());
    const std::vector<std::string> directories = _temporaryDirectories;
    for (const std::string& directory : directories)
        KmzImporter::cleanupFolder(directory);
}

void ARApplication::showFullscreenVideo(osg::ImageStream* stream)
{
    if (!stream)
    {
        osg::notify(osg::FATAL) << "WARNING: cannot create fullscreen video (empty imagestream)."
                                << std::endl;
        return;
    }
    _hud.removeVideos();
    _hud.showVideo(stream);
}

void ARApplication::hideFullscreenVideo(osg::ImageStream* stream)
{
    _hud.closeVideo(stream);
}

} // namespace Novaro
