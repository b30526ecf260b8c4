#include "app/ARApplication.h"

#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "effects/ARTimerEventsHandler.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARInteractionExtensions.h"
#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARMouseEventsHandler.h"
#include "settings/AudioData.h"
#include "settings/ConfigurationData.h"
#include "settings/LightingData.h"
#include "settings/MarkersData.h"
#include "settings/PathRule.h"
#include "settings/SceneData.h"
#include "settings/TrackerData.h"
#include "settings/VideoData.h"
#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <cstdlib>

#include <osg/GL>

#include <SFML/Audio/Music.hpp>

#include "osgART/ARSceneNode.h"
#include "osgART/GenericTracker.h"
#include "osgART/GenericVideo.h"
#include "osgART/VideoLayer.h"
#include "scene/ARObject.h"
#include "scene/SceneClock.h"
#include "tracking/ARMarkerNode.h"

namespace Novaro
{

ARApplication::ARApplication()
    : _title("Novaro(TM)"), _statusTextId(-1), _currentSoundtrack(0), _viewer(new ARViewer),
      _workingDirectory("."), _temporaryDirectory("."), _configuration(nullptr),
      _trackerConfiguration(nullptr), _videoConfiguration(nullptr), _markersConfiguration(nullptr),
      _sceneConfiguration(nullptr), _audioConfiguration(nullptr), _lightingConfiguration(nullptr),
      _debug(false), _freeze(false), _trackingPlus(true), _applicationHint(HINT_NONE),
      _mouseOverEvents(false), _videoDevice("1"), _flipHorizontal(false), _flipVertical(false),
      _smallFeatureCullingPixelSize(0.0f), _hasMultisampling(false), _hasNPOT(false),
      _hasTextureRectangle(false), _hasFBO(false), _maxFrames(-1), _printFrameStatistics(false)
{
    // The scene objects of this run get their actions and animation control from the interaction
    // layer, also in a program that does not link it in at start-up.
    ARInteractionExtensions::install();
}

ARApplication::~ARApplication()
{
    // Release in a fixed order: back pointers first, then records, handlers, managers, the
    // rendering nodes from the last built to the first, markers, tracker, video and the viewer.
    if (_shadowsManager.valid())
        _shadowsManager->setApplication(nullptr);
    // The scene clock (timed texts, animation pauses) reads this object's frame time.
    if (_frameTime > 0.0)
        SceneClock::setTickSource(nullptr);

    releaseSettingsRecords();
    releaseHandlersAndManagers();
    _videoDevice.clear();
    _temporaryDirectories.clear();
    _temporaryFiles.clear();
    _temporaryDirectory.clear();
    _workingDirectory.clear();
    _objects.clear();
    releaseRenderingNodes();
    _notShadowedMarkersGroup = nullptr;
    _shadowedMarkersGroup = nullptr;
    _markers.clear();
    _tracker = nullptr;
    _video = nullptr;
    _viewer = nullptr;
}

void ARApplication::releaseSettingsRecords()
{
    delete _configuration;
    _configuration = nullptr;
    delete _trackerConfiguration;
    _trackerConfiguration = nullptr;
    delete _markersConfiguration;
    _markersConfiguration = nullptr;
    delete _videoConfiguration;
    _videoConfiguration = nullptr;
    delete _sceneConfiguration;
    _sceneConfiguration = nullptr;
    delete _audioConfiguration;
    _audioConfiguration = nullptr;
    delete _lightingConfiguration;
    _lightingConfiguration = nullptr;
}

void ARApplication::releaseHandlersAndManagers()
{
    _keyboardHandlers.clear();
    _helpHandler = nullptr;
    _currentKeyboardHandler = nullptr;
    _mouseEventsHandler = nullptr;
    _eventsHandlersManager = nullptr;

    _clippingManager = nullptr;
    _clippingMarker = nullptr;
    _shadowsManager = nullptr;
}

// From the last built to the first.
void ARApplication::releaseRenderingNodes()
{
    _shadowPassTexture = nullptr;
    _shadowCamera = nullptr;
    _textureMatrix = nullptr;
    _colourTexture = nullptr;
    _quadGeode = nullptr;
    _quadGeometry = nullptr;
    _arCamera = nullptr;
    _fakeModeGroup = nullptr;
    _mixedModeGroup = nullptr;
    _simpleModeGroup = nullptr;
    _modeSwitch = nullptr;
    _modelViewTransform = nullptr;
    _projection = nullptr;
    _debugImageLayer = nullptr;
    _videoLayer = nullptr;
    _debugSwitch = nullptr;
    _contentGroup = nullptr;
    _arSceneNode = nullptr;
    _root = nullptr;
}

void ARApplication::setVideoDevice(const std::string& device)
{
    const int number = std::atoi(device.c_str());
    if (device.size() == 1 && number >= 1 && number <= 9)
    {
        _videoDevice = device;
        return;
    }
    _videoDevice = "1";
    // The capture error that follows names the device actually opened; say why it is that one.
    osg::notify(osg::FATAL) << " WARNING: video device " << (device.empty() ? "(none)" : device)
                            << " does not exist (devices are numbered 1 to 9): trying device 1 instead."
                            << std::endl;
    osg::notify(osg::NOTICE) << " using default device: 1" << std::endl;
}

template <class Reader, class Record>
bool ARApplication::readSettings(const std::string& fileName, const std::string& baseDirectory,
                                 const char* word, Record*& record)
{
    const std::string path = PathRule::resolve(baseDirectory, fileName);
    Reader reader(path);
    if (!reader.loadFile())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to open " << word << "configuration (file not valid)."
                                << std::endl;
        return false;
    }
    if (!reader.parse())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to set " << word << "configuration (file not valid)."
                                << std::endl;
        return false;
    }
    if (!reader.isValid())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to set " << word << "configuration (data not valid)."
                                << std::endl;
        return false;
    }
    delete record;
    record = new Record(reader.getData());
    return true;
}

bool ARApplication::setConfiguration(const std::string& fileName)
{
    return readSettings<XMLConfigurationParserManager>(fileName, _workingDirectory, "", _configuration);
}

bool ARApplication::setTrackerConfiguration(const std::string& fileName)
{
    return readSettings<XMLTrackerParserManager>(fileName, _workingDirectory, "tracker ",
                                                 _trackerConfiguration);
}

bool ARApplication::setVideoConfiguration(const std::string& fileName)
{
    return readSettings<XMLVideoParserManager>(fileName, _workingDirectory, "video ", _videoConfiguration);
}

bool ARApplication::setSceneConfiguration(const std::string& fileName)
{
    return readSettings<XMLSceneParserManager>(fileName, _temporaryDirectory, "scene ", _sceneConfiguration);
}

bool ARApplication::setAudioConfiguration(const std::string& fileName)
{
    return readSettings<XMLAudioParserManager>(fileName, _temporaryDirectory, "audio ", _audioConfiguration);
}

bool ARApplication::setMarkersConfiguration(const std::string& fileName)
{
    return readSettings<XMLMarkersParserManager>(fileName, _temporaryDirectory, "markers ",
                                                 _markersConfiguration);
}

bool ARApplication::setLightingConfiguration(const std::string& fileName)
{
    return readSettings<XMLLightingParserManager>(fileName, _temporaryDirectory, "lighting ",
                                                  _lightingConfiguration);
}

void ARApplication::setApplicationHint()
{
    if (!_sceneConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot set application hint - scene configuration empty."
                                << std::endl;
        return;
    }
    static const char* const hosts[] = {"sketchup",    "3dsmax", "scia_engineer",
                                        "vectorworks", "maya",   "cinema4d"};
    const std::string& host = _sceneConfiguration->getAuthoringSoftware();
    _applicationHint = HINT_NONE;
    for (int index = 0; index < 6; ++index)
    {
        if (host == hosts[index])
        {
            _applicationHint = static_cast<ApplicationHint>(index + 1);
            break;
        }
    }
}

bool ARApplication::init(int argc, char** argv)
{
    readProjectOptions(argc, argv);
    if (!initGraphics(argc, argv))
    {
        osg::notify(osg::FATAL) << "init graphic library failure (" << 0 << ")" << std::endl;
        return false;
    }
    if (!initTracking(argc, argv))
    {
        osg::notify(osg::FATAL) << "init tracking library failure (" << 1 << ")" << std::endl;
        return false;
    }
    if (!initScene())
    {
        osg::notify(osg::FATAL) << "init scene failure" << std::endl;
        return false;
    }
    if (!setupMarkersLayers())
    {
        osg::notify(osg::FATAL) << "init markers failure (" << 2 << ")" << std::endl;
        return false;
    }
    if (!setupMarkersTransforms())
    {
        osg::notify(osg::FATAL) << "init markers transform failure (" << 3 << ")" << std::endl;
        return false;
    }
    if (!initViewer())
    {
        osg::notify(osg::FATAL) << "init viewer failure" << std::endl;
        return false;
    }
    if (!loadSoundtracks())
    {
        osg::notify(osg::FATAL) << "init sounds failure" << std::endl;
        return false;
    }
    return true;
}

void ARApplication::readProjectOptions(int argc, char** argv)
{
    osg::ArgumentParser arguments(&argc, argv);
    std::string value;
    while (arguments.read("-video_file", value))
        _videoFile = value;
    int frames = -1;
    while (arguments.read("-max_frames", frames))
        _maxFrames = frames;
    while (arguments.read("-screenshot", value))
        _screenshotFile = value;
    int frame = 0;
    while (arguments.read("-screenshot_frame", frame))
        _screenshotFrames.insert(frame);
    while (arguments.read("-frame_stats"))
        _printFrameStatistics = true;
    double seconds = 0.0;
    while (arguments.read("-frame_time", seconds))
        setFrameTime(seconds);
}

void ARApplication::setFrameTime(double seconds)
{
    _frameTime = seconds > 0.0 ? seconds : 0.0;
    _sceneSeconds = 0.0;
    if (_frameTime == 0.0)
    {
        SceneClock::setTickSource(nullptr);
        return;
    }
    // A text shown before the first frame counts from scene time 0, as one shown later counts from
    // its own frame's time.
    SceneClock::setTickSource(
        [this]
        { return static_cast<osg::Timer_t>(_sceneSeconds / osg::Timer::instance()->getSecondsPerTick()); });
}

unsigned int ARApplication::getMarkerCount() const
{
    return _tracker.valid() ? _tracker->getMarkerCount() : 0;
}

void ARApplication::addObjectToMarker(ARObject* object, unsigned int id, int layer)
{
    if (!_configuration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL configuration." << std::endl;
        return;
    }
    MarkerNodeMap::iterator marker = _markers.find(id);
    if (marker == _markers.end())
    {
        osg::notify(osg::FATAL) << " WARNING: could not find specified marker ID (" << id
                                << ") in markers set." << std::endl;
        return;
    }
    if (!marker->second->addObject(object, layer))
    {
        osg::notify(osg::FATAL) << " WARNING: could not add specified object to marker with ID (" << id
                                << ")." << std::endl;
        return;
    }
    registerObject(object);
    object->addMarker(static_cast<int>(id));
}

void ARApplication::registerObject(ARObject* object)
{
    bool listed = false;
    for (ARObject* registered : _objects)
        listed = listed || registered == object;
    if (!listed)
        _objects.push_back(object);
    object->setContext(this);
}

void ARApplication::addObjectToAllMarkers(ARObject* object, int layer)
{
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        addObjectToMarker(object, marker->first, layer);
}

void ARApplication::setRescaleNormal(bool on)
{
    if (!_arSceneNode.valid())
        return;
    _arSceneNode->getOrCreateStateSet()->setMode(GL_RESCALE_NORMAL,
                                                 on ? osg::StateAttribute::ON : osg::StateAttribute::OFF);
}

void ARApplication::showStatusMessage(const std::string& text)
{
    // One status line: a later message replaces the one shown instead of stacking under it.
    if (_hud.getHUD(_statusTextId))
    {
        updateStatusMessage(text);
        return;
    }
    _statusTextId = _hud.addText(text, 0);
    _hud.setTimed(_statusTextId, true);
    _hud.setDisplayTime(_statusTextId, 3.0);
    _hud.show(_statusTextId);
}

void ARApplication::updateStatusMessage(const std::string& text)
{
    if (!_hud.getHUD(_statusTextId))
        return;
    _hud.setText(_statusTextId, text);
    _hud.show(_statusTextId);
}

} // namespace Novaro
