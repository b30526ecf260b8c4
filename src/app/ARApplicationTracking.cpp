// Video capture and tracker set-up: plugins, device, calibration and pattern files, markers, and
// the tracker fields driven by the keyboard.
#include "app/ARApplication.h"

#include "settings/ConfigurationData.h"
#include "settings/MarkersData.h"
#include "settings/PathRule.h"
#include "settings/TrackerData.h"
#include "settings/VideoData.h"
#include "tracking/ARMarkerNode.h"

#include <osg/FrameStamp>
#include <osg/NodeCallback>
#include <osg/NodeVisitor>

#include <cmath>
#include <sstream>

#include <sys/stat.h>

#include "osgART/ARSceneNode.h"
#include "osgART/Field.h"
#include "osgART/GenericTracker.h"
#include "osgART/GenericVideo.h"
#include "osgART/PluginManager.h"

namespace Novaro
{

namespace
{

osgART::TypedField<int>* intField(osgART::GenericTracker* tracker, const char* name)
{
    return tracker ? dynamic_cast<osgART::TypedField<int>*>(tracker->get(name)) : nullptr;
}

osgART::TypedField<bool>* boolField(osgART::GenericTracker* tracker, const char* name)
{
    return tracker ? dynamic_cast<osgART::TypedField<bool>*>(tracker->get(name)) : nullptr;
}

bool isMultiType(const std::string& type)
{
    return type == "multi" || type == "MULTI";
}

// Keeps the status text saying that there is no camera image, and why, for as long as that lasts
// (shown again whenever its display time ran out), and says so once when the image is back.
class VideoStatusCallback : public osg::NodeCallback
{
public:
    VideoStatusCallback(ARApplication* application, osgART::GenericVideo* video)
        : _application(application), _video(video)
    {
    }
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        const std::string problem = _video->getProblem();
        const double now = visitor->getFrameStamp() ? visitor->getFrameStamp()->getReferenceTime() : 0.0;
        if (problem != _shown || (!problem.empty() && now >= _showAgainAt))
        {
            _application->updateStatusMessage(problem.empty() ? "Camera image back." : statusText(problem));
            _shown = problem;
            _showAgainAt = now + kStatusDisplaySeconds;
        }
        traverse(node, visitor);
    }

private:
    // The device or file on the first line, the reason on the second, to fit narrow windows.
    static std::string statusText(std::string problem)
    {
        const std::string::size_type reason = problem.find(": ");
        if (reason != std::string::npos)
            problem.replace(reason, 2, ":\n");
        return "No camera image: " + problem;
    }
    // Shown again before the status text's 3 seconds are up, so that it never goes out.
    static constexpr double kStatusDisplaySeconds = 2.0;
    ARApplication* _application;
    osgART::GenericVideo* _video; // the application's, which outlives its scene
    std::string _shown;
    double _showAgainAt = 0.0;
};

} // namespace

void ARApplication::listVideoDevices()
{
    osgART::PluginManager* plugins = osgART::PluginManager::instance();
    if (!plugins->load("osgart_video_artoolkit4"))
    {
        osg::notify(osg::NOTICE) << "ERROR: could not pre-load video plugin." << std::endl;
        return;
    }
    osg::ref_ptr<osgART::GenericVideo> video =
        dynamic_cast<osgART::GenericVideo*>(plugins->get("video_artoolkit4"));
    if (!video.valid())
    {
        osg::notify(osg::FATAL) << "ERROR: could not initialize video plugin." << std::endl;
        return;
    }
    if (osgART::VideoConfiguration* configuration = video->getVideoConfiguration())
    {
        osg::notify(osg::NOTICE) << "video configuration (device): " << configuration->deviceconfig
                                 << std::endl;
        configuration->deviceconfig = "-showDeviceList";
    }
    video->open();
    video->close(true);
}

bool ARApplication::initTracking(int, char**)
{
    if (!loadTrackingPlugins())
        return false;
    configureVideoDevice();
    _video->setFlip(false, true);
    _video->open();

    _arSceneNode = new osgART::ARSceneNode;
    const int width = _video->getWidth();
    const int height = _video->getHeight();
    osg::notify(osg::NOTICE) << "Video w: " << width << " - h: " << height << std::endl;
    setCameraFile(matchCameraForVideo(width, height));
    osg::notify(osg::NOTICE) << "camera file: " << getCameraFile() << std::endl;
    setPatternFile(_markersConfiguration ? _markersConfiguration->getPatternsFile() : std::string());
    osg::notify(osg::NOTICE) << "patterns file: " << getPatternFile() << std::endl;
    const bool transformsAvailable = resolveMarkersTransformsFile();

    if (!_arSceneNode->connect(_tracker.get(), _video.get(), getCameraFile(), getPatternFile()))
    {
        osg::notify(osg::FATAL) << "ERROR: Could not connect video with tracker." << std::endl;
        _video->close(true);
        return false;
    }
    _arSceneNode->addUpdateCallback(new VideoStatusCallback(this, _video.get()));
    addMarkers(transformsAvailable);
    applyTrackerSettings();
    return true;
}

bool ARApplication::loadTrackingPlugins()
{
    osgART::PluginManager* plugins = osgART::PluginManager::instance();
    if (!plugins->load("osgart_tracker_artoolkit4"))
    {
        osg::notify(osg::NOTICE) << "ERROR: could not pre-load tracker plugin." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "tracker plugin pre-loaded: OK " << std::endl;
    if (!plugins->load("osgart_video_artoolkit4"))
    {
        osg::notify(osg::NOTICE) << "ERROR: could not pre-load video plugin." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "video plugin pre-loaded: OK " << std::endl;

    _video = dynamic_cast<osgART::GenericVideo*>(plugins->get("video_artoolkit4"));
    if (!_video.valid())
    {
        osg::notify(osg::FATAL) << "ERROR: could not initialize video plugin." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "video plugin: OK " << std::endl;
    _tracker = dynamic_cast<osgART::GenericTracker*>(plugins->get("tracker_artoolkit4"));
    if (!_tracker.valid())
    {
        osg::notify(osg::FATAL) << "ERROR: could not initialize tracker plugin." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "tracker plugin: OK " << std::endl;
    return true;
}

void ARApplication::configureVideoDevice()
{
    osgART::VideoConfiguration* configuration = _video->getVideoConfiguration();
    if (!configuration)
        return;
    osg::notify(osg::NOTICE) << "Configuring video device..." << std::endl;
    std::string device = "-devNum=" + _videoDevice + " -flipV";
    if (_configuration && _configuration->getCameraSettings())
        device += " -showDialog";
    // A recorded camera (a movie, still image or image sequence) stands in for the device.
    if (!_videoFile.empty())
        device += " -file=" + osgART::quoteCaptureOptionValue(_videoFile);
    // A run that counts frames sees a recorded camera frame by frame too, not on the wall clock.
    if (!_videoFile.empty() && _frameTime > 0.0)
        device += " -lockstep";
    configuration->deviceconfig = device;
    osg::notify(osg::NOTICE) << "Configuring video device...Done." << std::endl;
}

bool ARApplication::resolveMarkersTransformsFile()
{
    if (!_markersConfiguration)
        return false;
    const std::string transforms = _markersConfiguration->getTransformsFile();
    if (transforms.empty())
    {
        osg::notify(osg::NOTICE) << " WARNING: Markers configuration transforms file not specified."
                                 << std::endl;
        return false;
    }
    const std::string path = PathRule::resolve(_temporaryDirectory, transforms);
    if (!PathRule::isReadableFile(path))
    {
        osg::notify(osg::FATAL) << " ERROR: Markers configuration transforms file does not exist."
                                << std::endl;
        return false;
    }
    _markersConfiguration->setTransformsFile(path);
    osg::notify(osg::NOTICE) << "Using markers configuration transforms file: " << path << std::endl;
    return true;
}

void ARApplication::addMarkers(bool transformsAvailable)
{
    // A pattern file that defines markers wins; the markers file's list is used only without one.
    unsigned int count = _arSceneNode->getMarkerCount();
    osg::notify(osg::NOTICE) << "init (1st) tracker with <" << count << "> markers." << std::endl;
    if (count != 0)
    {
        for (unsigned int index = 0; index < count; ++index)
            _markers[index] = new ARMarkerNode(_tracker->getMarker(static_cast<int>(index)),
                                               static_cast<int>(index), nullptr, -1, this);
        return;
    }
    if (!_markersConfiguration)
        return;
    std::vector<MarkerData>& entries = _markersConfiguration->getMarkers();
    for (size_t position = 0; position < entries.size(); ++position)
    {
        MarkerData& entry = entries[position];
        const int i = static_cast<int>(position);
        osg::notify(osg::NOTICE) << " Adding pattern:" << i << " marker type: " << entry.getType()
                                 << " marker tag: " << entry.getTag() << std::endl;
        resolveMarkerTransformsFile(entry, transformsAvailable);
        if (addMarkerToTracker(entry))
        {
            const int index = static_cast<int>(_tracker->getMarkerCount()) - 1;
            _markers[entry.getId()] = new ARMarkerNode(_tracker->getMarker(index), index, &entry, i, this);
            osg::notify(osg::NOTICE) << " Adding pattern: " << i << " -> OK." << std::endl;
        }
        else
            osg::notify(osg::FATAL) << " Adding pattern " << i << " -> ERROR" << std::endl;
    }
    count = _tracker->getMarkerCount();
    osg::notify(osg::NOTICE) << "init (2nd) tracker with <" << count << "> markers." << std::endl;
}

void ARApplication::resolveMarkerTransformsFile(MarkerData& entry, bool sharedFileAvailable)
{
    if (entry.getTransformsFile().empty())
    {
        if (sharedFileAvailable)
            entry.setTransformsFile(_markersConfiguration->getTransformsFile());
        else
            osg::notify(osg::NOTICE)
                << " WARNING: Marker (specific) configuration transforms file not specified." << std::endl;
        return;
    }
    const std::string path = PathRule::resolve(_temporaryDirectory, entry.getTransformsFile());
    if (!PathRule::isReadableFile(path))
    {
        entry.setTransformsFile("");
        osg::notify(osg::FATAL) << " ERROR: Marker (specific) configuration transforms file does not exist."
                                << std::endl;
        return;
    }
    entry.setTransformsFile(path);
    osg::notify(osg::NOTICE) << " Using marker (specific) configuration transforms file: " << path
                             << std::endl;
}

bool ARApplication::addMarkerToTracker(MarkerData& entry)
{
    const std::string patternPath =
        entry.getPath().empty() ? std::string() : PathRule::resolve(_temporaryDirectory, entry.getPath());
    const auto description = [&entry](const std::string& path)
    {
        std::ostringstream text;
        text << entry.getType() << ";" << path << ";" << entry.getSize() << ";0.0;0.0";
        return text.str();
    };
    if (patternPath.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: could not use empty pattern file." << std::endl;
        return false;
    }
    if (PathRule::isReadableFile(patternPath))
        return _tracker->addMarker(description(patternPath)) != nullptr;
    // Something the scene ships under that name but that cannot be read is the scene's fault to
    // fix, not a file to generate in its place.
    struct stat status;
    if (::lstat(patternPath.c_str(), &status) == 0)
    {
        osg::notify(osg::FATAL) << " ERROR: cannot read the pattern file (" << patternPath
                                << "): it is not a readable regular file." << std::endl;
        return false;
    }
    if (!isMultiType(entry.getType()))
    {
        osg::notify(osg::FATAL) << " ERROR: could not find a valid pattern file (" << patternPath << ")."
                                << std::endl;
        return false;
    }
    // A multi marker without its file: generated from the submarkers and the transforms file.
    if (entry.getSubmarkers().empty())
    {
        osg::notify(osg::FATAL)
            << " ERROR: neither a multi marker pattern file nor a valid submarkers set were found."
            << std::endl;
        return false;
    }
    const std::string generated = writeMultiMarkerFile(&entry);
    if (generated.empty())
    {
        osg::notify(osg::FATAL) << " ERROR: could not create the multi marker pattern file." << std::endl;
        return false;
    }
    return _tracker->addMarker(description(generated)) != nullptr;
}

void ARApplication::applyTrackerSettings()
{
    if (!_trackerConfiguration)
        return;
    if (osgART::TypedField<int>* halfTracking = intField(_tracker.get(), "imageProcMode"))
    {
        halfTracking->set(_trackerConfiguration->getHalfTracking() ? 1 : 0);
        osg::notify(osg::NOTICE) << (halfTracking->get() != 0 ? " Half tracking: enabled."
                                                              : " Half tracking: disabled.")
                                 << std::endl;
    }
    else
        osg::notify(osg::WARN) << "WARNING: 'half tracking' NOT supported for this tracker." << std::endl;

    // Before the threshold, whose meaning it sets; a tracker without the choice thresholds its way.
    if (osgART::TypedField<bool>* adaptive = boolField(_tracker.get(), "adaptive_threshold"))
    {
        adaptive->set(_trackerConfiguration->getAdaptiveThreshold());
        osg::notify(osg::NOTICE) << (adaptive->get() ? " Threshold: adaptive." : " Threshold: fixed.")
                                 << std::endl;
    }
    if (osgART::TypedField<int>* threshold = intField(_tracker.get(), "threshold"))
    {
        threshold->set(_trackerConfiguration->getThreshold());
        osg::notify(osg::NOTICE) << "Field 'threshold' = " << threshold->get() << std::endl;
    }
    else
        osg::notify(osg::FATAL) << "WARNING: threshold NOT supported for this tracker." << std::endl;
}

std::string ARApplication::matchCameraForVideo(int width, int height)
{
    if (!_videoConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL video configuration." << std::endl;
        return std::string();
    }
    const std::vector<VideoFormat>& formats = _videoConfiguration->getFormats();
    const std::vector<VideoCamera>& cameras = _videoConfiguration->getCameras();
    const float ratio = static_cast<float>(width) / static_cast<float>(height);
    osg::notify(osg::NOTICE) << "Video detected aspect ratio: " << ratio << std::endl;
    if (formats.empty())
        return std::string();
    auto aspect = [](const VideoFormat& format)
    { return format.getHeight() == 0.0f ? 0.0f : format.getWidth() / format.getHeight(); };
    size_t chosen = 0;
    float best = std::fabs(aspect(formats[0]) - ratio);
    for (size_t index = 1; index < formats.size(); ++index)
    {
        const float difference = std::fabs(aspect(formats[index]) - ratio);
        if (difference < best)
        {
            best = difference;
            chosen = index;
        }
    }
    osg::notify(osg::NOTICE) << "Video matched aspect ratio: " << formats[chosen].getName() << std::endl;
    osg::notify(osg::NOTICE) << "Video matched aspect ratio (value): " << aspect(formats[chosen])
                             << std::endl;
    // A format without a camera at its position has no calibration: report it as an empty name.
    return chosen < cameras.size() ? cameras[chosen].getPath() : std::string();
}

namespace
{

// Resolution shared by the camera and pattern files: absolute names as they stand, relative ones
// in the temporary directory and then in the working directory.
bool resolveDataFile(const std::string& name, const std::string& temporaryDirectory,
                     const std::string& workingDirectory, const std::string& kind, std::string& resolved)
{
    const bool camera = kind == "camera";
    if (name.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot set an empty " << kind << " file name." << std::endl;
        return false;
    }
    if (PathRule::isAbsolute(name))
    {
        if (PathRule::isReadableFile(name))
        {
            resolved = name;
            return true;
        }
        osg::notify(osg::FATAL) << (camera ? " WARNING: could not find specified camera file (temp dir)."
                                           : " WARNING: could not find specified pattern file.")
                                << std::endl;
        return false;
    }
    const std::string inTemporary = PathRule::resolve(temporaryDirectory, name);
    if (PathRule::isReadableFile(inTemporary))
    {
        resolved = inTemporary;
        return true;
    }
    osg::notify(osg::NOTICE) << " WARNING: could not find specified " << kind
                             << " file in temporary directory." << std::endl;
    const std::string inWorking = PathRule::resolve(workingDirectory, name);
    if (PathRule::isReadableFile(inWorking))
    {
        resolved = inWorking;
        return true;
    }
    osg::notify(osg::NOTICE) << " WARNING: could not find specified " << kind << " file in working directory."
                             << std::endl;
    osg::notify(osg::FATAL) << " WARNING: could not find specified " << kind << " file." << std::endl;
    return false;
}

} // namespace

void ARApplication::setCameraFile(const std::string& name)
{
    if (!_videoConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL video configuration." << std::endl;
        return;
    }
    std::string resolved;
    if (resolveDataFile(name, _temporaryDirectory, _workingDirectory, "camera", resolved))
        _videoConfiguration->setCameraFile(resolved);
}

std::string ARApplication::getCameraFile() const
{
    if (!_videoConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL video configuration." << std::endl;
        return std::string();
    }
    return _videoConfiguration->getCameraFile();
}

void ARApplication::setPatternFile(const std::string& name)
{
    if (!_markersConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL markers configuration." << std::endl;
        return;
    }
    std::string resolved;
    if (resolveDataFile(name, _temporaryDirectory, _workingDirectory, "pattern", resolved))
        _markersConfiguration->setPatternsFile(resolved);
}

std::string ARApplication::getPatternFile() const
{
    if (!_markersConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL markers configuration." << std::endl;
        return std::string();
    }
    return _markersConfiguration->getPatternsFile();
}

void ARApplication::setTrackerField(const char* message, int value)
{
    osgART::TypedField<int>* threshold = intField(_tracker.get(), "threshold");
    if (!threshold)
    {
        osg::notify(osg::NOTICE) << "Threshold not supported for this tracker." << std::endl;
        return;
    }
    threshold->set(value);
    osg::notify(osg::NOTICE) << message << threshold->get() << std::endl;
}

void ARApplication::resetThreshold()
{
    setTrackerField("Resetting up threshold: ", TrackerData().getThreshold());
}

void ARApplication::increaseThreshold(int step)
{
    setTrackerField("Setting up threshold: ", getThreshold() + step);
}

void ARApplication::decreaseThreshold(int step)
{
    setTrackerField("Setting up threshold: ", getThreshold() - step);
}

int ARApplication::getThreshold() const
{
    osgART::TypedField<int>* threshold = intField(_tracker.get(), "threshold");
    return threshold ? threshold->get() : -1;
}

} // namespace Novaro
