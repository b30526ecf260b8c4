#pragma once

#include "app/ARViewer.h"
#include "app/ApplicationHint.h"
#include "effects/HUDList.h"

#include <functional>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <osg/Camera>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/Projection>
#include <osg/Switch>
#include <osg/TexMat>
#include <osg/Texture2D>
#include <osg/Timer>
#include <osgGA/GUIEventHandler>

namespace sf
{
class Music;
}

namespace osgART
{
class GenericVideo;
class GenericTracker;
class ARSceneNode;
class VideoLayer;
} // namespace osgART

namespace Novaro
{

class ConfigurationData;
class TrackerData;
class VideoData;
class MarkersData;
class MarkerData;
class SceneData;
class ObjectData;
class FrameStatistics;
class AudioData;
class LightingData;
class ARMarkerNode;
class ARObject;
class ARShadowsManager;
class ARClippingManager;
class AREventsHandlersManager;
class ARMouseEventsHandler;
class ARKeyboardEventsHandler;

// The one object that owns a run: settings records, viewer, video and tracker, marker nodes,
// scene objects, rendering nodes, effect managers, interaction handlers, soundtracks and the
// head-up display. Everything else reaches the shared state through it.
class ARApplication
{
public:
    typedef std::map<unsigned int, osg::ref_ptr<ARMarkerNode>> MarkerNodeMap;
    typedef std::vector<ARObject*> ObjectList;

    ARApplication();
    ~ARApplication();

    ARApplication(const ARApplication&) = delete;
    ARApplication& operator=(const ARApplication&) = delete;

    // --- configuration from the command line and the settings files
    void setTitle(const std::string& title) { _title = title; }
    const std::string& getTitle() const { return _title; }
    void setVideoDevice(const std::string& device);
    const std::string& getVideoDevice() const { return _videoDevice; }
    void setWorkingDirectory(const std::string& directory) { _workingDirectory = directory; }
    const std::string& getWorkingDirectory() const { return _workingDirectory; }
    void setTemporaryDirectory(const std::string& directory) { _temporaryDirectory = directory; }
    const std::string& getTemporaryDirectory() const { return _temporaryDirectory; }

    bool setConfiguration(const std::string& fileName);
    bool setTrackerConfiguration(const std::string& fileName);
    bool setVideoConfiguration(const std::string& fileName);
    bool setSceneConfiguration(const std::string& fileName);
    bool setAudioConfiguration(const std::string& fileName);
    bool setMarkersConfiguration(const std::string& fileName);
    bool setLightingConfiguration(const std::string& fileName);

    void setApplicationHint();
    ApplicationHint getApplicationHint() const { return _applicationHint; }

    // --- set-up sequence
    bool init(int argc, char** argv);
    void initEventHandlers();
    void setInterface(unsigned int index);
    // Builds the scene's objects and hangs them under their markers. A load that takes longer
    // than half a second says how far it has come, on the console and in the status text.
    void loadSceneObjects();
    // The clock scene loading is timed with, seconds (the viewer's timer unless replaced).
    void setLoadingClock(std::function<double()> clock) { _loadingClock = std::move(clock); }
    std::string resolveModelFile(const std::string& path);
    // Shows the status line (top left) for 3 seconds; a later message replaces it.
    void showStatusMessage(const std::string& text);
    // Replaces the status line's text when one was shown.
    void updateStatusMessage(const std::string& text);
    unsigned int getMarkerCount() const;
    unsigned int getObjectCount() const { return static_cast<unsigned int>(_objects.size()); }
    void addObjectToMarker(ARObject* object, unsigned int id, int layer);
    void addObjectToAllMarkers(ARObject* object, int layer);
    // Lists the object among the scene objects (once) that actions, the modes and the shutdown
    // reach, and gives it the application as its context.
    void registerObject(ARObject* object);
    void setRescaleNormal(bool on);
    void run();
    void cleanup();

    // --- rendering set-up and visual toggles
    bool initGraphics(int argc, char** argv);
    // Hands the movie extensions the platform's readers do not claim to the project's movie reader.
    static void aliasMovieExtensions();
    bool initScene();
    bool initViewer();
    void createRenderingPipeline();
    void setWireframe(bool on);
    void toggleWireframe();
    void toggleMirror();
    void toggleVerticalFlip();
    void toggleDebugMode();
    void setShadowComposite(bool on);
    void increaseSmallFeatureCulling(float step);
    void decreaseSmallFeatureCulling(float step);
    void resetSmallFeatureCulling();
    void applySmallFeatureCulling();
    void optimizeScene();
    bool initLighting();
    void showFullscreenVideo(osg::ImageStream* stream);
    // Takes that stream off the full-screen video panel (any video without a stream).
    void hideFullscreenVideo(osg::ImageStream* stream);
    int getTextureWidth();
    int getTextureHeight();

    // --- video capture and tracker set-up
    void listVideoDevices();
    bool initTracking(int argc, char** argv);
    std::string matchCameraForVideo(int width, int height);
    void setCameraFile(const std::string& name);
    std::string getCameraFile() const;
    void setPatternFile(const std::string& name);
    std::string getPatternFile() const;
    void resetThreshold();
    void increaseThreshold(int step);
    void decreaseThreshold(int step);
    int getThreshold() const;

    // --- markers, tracked transforms and smoothing
    bool setupMarkersLayers();
    bool setupMarkersTransforms();
    // Generates the marker's multi-marker file from its submarkers and transforms file, in the
    // run's private temporary folder; returns its path, or empty text after saying why.
    std::string writeMultiMarkerFile(const MarkerData* marker);
    void toggleFreeze();
    void toggleTrackingPlus();
    void resetSmoothing();
    void increaseSmoothing(float step);
    void decreaseSmoothing(float step);
    float getSmoothingFactor() const;

    // --- clipping: the one clipping manager of the run, on the first detected marker
    void setClippingEnabled(bool enabled);
    ARClippingManager* getClippingManager() const { return _clippingManager.get(); }
    // run creates the player's manager when none is set yet.
    void setClippingManager(ARClippingManager* manager);
    ARMarkerNode* getClippingMarker() const { return _clippingMarker; }

    // --- sounds
    bool loadSoundtracks();
    void loadAudioFile(const std::string& path);
    void toggleMusic();
    void rewindSoundtrack();
    void nextSoundtrack();
    void previousSoundtrack();
    unsigned int getCurrentSoundtrack() const { return _currentSoundtrack; }
    unsigned int getSoundtrackCount() const { return static_cast<unsigned int>(_soundtracks.size()); }

    // --- the animations of every scene object at once, in object order
    void toggleAllAnimations();
    void rewindAllAnimations();
    // Stores the speed and gives it to every object's path animations (objects created later do
    // not get it).
    void setSimulationSpeed(double speed);
    double getSimulationSpeed() const { return _simulationSpeed; }

    // --- the keyboard modes and the mouse (ARApplicationInteraction.cpp)
    // Flips whether occluders are shown (half-transparent red) or only hide what is behind them.
    void toggleOccluders();
    bool getOccludersVisible() const { return _occludersVisible; }
    // Every marker's model scale changes by the step on each axis.
    void scaleModels(float step);
    // The first marker's model scale, or -1 without markers.
    float getModelScale() const;
    AREventsHandlersManager* getEventsHandlersManager() const { return _eventsHandlersManager.get(); }
    ARMouseEventsHandler* getMouseEventsHandler() const { return _mouseEventsHandler.get(); }
    // The handler of a keyboard mode (0 visualization ... 7 lights); none before initEventHandlers.
    ARKeyboardEventsHandler* getKeyboardHandler(unsigned int mode) const;

    // --- accessors used across the player
    ConfigurationData* getConfiguration() const { return _configuration; }
    TrackerData* getTrackerConfiguration() const { return _trackerConfiguration; }
    VideoData* getVideoConfiguration() const { return _videoConfiguration; }
    SceneData* getSceneConfiguration() const { return _sceneConfiguration; }
    AudioData* getAudioConfiguration() const { return _audioConfiguration; }
    MarkersData* getMarkersConfiguration() const { return _markersConfiguration; }
    LightingData* getLightingConfiguration() const { return _lightingConfiguration; }

    ARViewer* getViewer() const { return _viewer.get(); }
    HUDList& getHUD() { return _hud; }
    osgART::GenericVideo* getVideo() const { return _video.get(); }
    osgART::GenericTracker* getTracker() const { return _tracker.get(); }
    osgART::ARSceneNode* getARSceneNode() const { return _arSceneNode.get(); }
    MarkerNodeMap& getMarkers() { return _markers; }
    const MarkerNodeMap& getMarkers() const { return _markers; }
    const ObjectList& getObjects() const { return _objects; }
    osg::Group* getShadowedMarkersGroup() const { return _shadowedMarkersGroup.get(); }
    osg::Group* getNotShadowedMarkersGroup() const { return _notShadowedMarkersGroup.get(); }
    osg::Group* getRoot() const { return _root.get(); }
    osg::Group* getContentGroup() const { return _contentGroup.get(); }
    osg::Switch* getDebugSwitch() const { return _debugSwitch.get(); }
    osg::Switch* getModeSwitch() const { return _modeSwitch.get(); }
    osg::Camera* getARCamera() const { return _arCamera.get(); }
    osg::Geode* getQuadGeode() const { return _quadGeode.get(); }
    osg::TexMat* getTextureMatrix() const { return _textureMatrix.get(); }
    osg::Texture2D* getColourTexture() const { return _colourTexture.get(); }
    ARShadowsManager* getShadowsManager() const { return _shadowsManager.get(); }
    std::vector<std::string>& getTemporaryFiles() { return _temporaryFiles; }
    std::vector<std::string>& getTemporaryDirectories() { return _temporaryDirectories; }

    bool getDebug() const { return _debug; }
    bool getFreeze() const { return _freeze; }
    bool getTrackingPlus() const { return _trackingPlus; }
    bool getFlipHorizontal() const { return _flipHorizontal; }
    bool getFlipVertical() const { return _flipVertical; }
    float getSmallFeatureCullingPixelSize() const { return _smallFeatureCullingPixelSize; }
    void setSmallFeatureCullingPixelSize(float size) { _smallFeatureCullingPixelSize = size; }
    bool getMouseOverEvents() const { return _mouseOverEvents; }
    void setMouseOverEvents(bool on) { _mouseOverEvents = on; }
    bool hasMultisampling() const { return _hasMultisampling; }
    bool hasNPOT() const { return _hasNPOT; }
    bool hasTextureRectangle() const { return _hasTextureRectangle; }
    bool hasFBO() const { return _hasFBO; }
    osgGA::GUIEventHandler* getCurrentKeyboardHandler() const { return _currentKeyboardHandler.get(); }
    osgGA::GUIEventHandler* getHelpHandler() const { return _helpHandler.get(); }

    // Options that only this platform's player knows (see the README): a movie or image sequence
    // as the camera, a frame limit, a screenshot at the end and frame-time statistics.
    const std::string& getVideoFile() const { return _videoFile; }
    void setVideoFile(const std::string& path) { _videoFile = path; }
    void setMaxFrames(int frames) { _maxFrames = frames; }
    void setScreenshotFile(const std::string& path) { _screenshotFile = path; }
    // True when a screenshot was asked for and could not be written: the run then fails.
    bool screenshotFailed() const { return _screenshotFailed; }
    // True when the window could not be shown, so nothing was drawn: the run then fails.
    bool windowFailed() const { return _windowFailed; }
    void setFrameStatistics(bool on) { _printFrameStatistics = on; }
    // Seconds of scene time each frame advances: animations and the head-up display's timed texts
    // then follow the frame count instead of the wall clock (0, the default: the wall clock).
    void setFrameTime(double seconds);

private:
    // The steps of run(): the window shown (false when it cannot be), the textures loaded at the
    // first frame drawn, sound, video and objects started, the loop, and the stop.
    bool showWindow();
    void cacheTexturesAtFirstDraw();
    void startPlayback();
    void stopPlayback();
    // The destructor's steps.
    void releaseSettingsRecords();
    void releaseHandlersAndManagers();
    void releaseRenderingNodes();

    template <class Reader, class Record>
    bool readSettings(const std::string& fileName, const std::string& baseDirectory, const char* word,
                      Record*& record);
    void probeGraphicsCapabilities();
    void toggleFlip(bool& flip);
    bool isSoundtrackIndexValid() const;
    void setTrackerField(const char* name, int value);
    void switchSoundtrack(bool forward);
    void readProjectOptions(int argc, char** argv);
    size_t writeSubmarkers(std::ostream& file, const MarkerData& marker, osg::Node& model) const;
    bool loadTrackingPlugins();
    void configureVideoDevice();
    bool resolveMarkersTransformsFile();
    void addMarkers(bool transformsAvailable);
    void resolveMarkerTransformsFile(MarkerData& entry, bool sharedFileAvailable);
    bool addMarkerToTracker(MarkerData& entry);
    void applyTrackerSettings();
    void setUpDebugImage();
    void setUpMarkerGroups();
    void createCompositeQuad(bool shadowsEnabled);
    void setUpRenderCamera(osg::Camera& camera, osg::Texture2D* texture, int samples);
    void createARCamera();
    void createShadowCamera();
    void setUpWindowCamera(bool shadowsEnabled);
    void prepareObjectsForLoop();
    void runFrameLoop();
    void startFrameStatistics(FrameStatistics& statistics);
    void stopFrameStatistics(const FrameStatistics& statistics);
    osg::ref_ptr<osg::Node> loadSceneModel(std::string& sceneSource);
    osg::ref_ptr<ARObject> loadSceneObject(const ObjectData& entry, osg::Node* sceneModel,
                                           const std::string& sceneSource);
    void reportVideoTagsWithoutNode() const;

    std::string _title;
    int _statusTextId;
    HUDList _hud;
    std::vector<sf::Music*> _soundtracks;
    unsigned int _currentSoundtrack;
    double _simulationSpeed = 1.0;
    std::function<double()> _loadingClock = [] { return osg::Timer::instance()->time_s(); };
    osg::ref_ptr<ARViewer> _viewer;
    osg::ref_ptr<osgART::GenericVideo> _video;
    osg::ref_ptr<osgART::GenericTracker> _tracker;
    MarkerNodeMap _markers;
    osg::ref_ptr<osg::Group> _shadowedMarkersGroup;
    osg::ref_ptr<osg::Group> _notShadowedMarkersGroup;

    // Rendering nodes, in the order they are built; released in reverse.
    osg::ref_ptr<osg::Group> _root;
    osg::ref_ptr<osgART::ARSceneNode> _arSceneNode;
    osg::ref_ptr<osg::Group> _contentGroup;
    osg::ref_ptr<osg::Switch> _debugSwitch;
    osg::ref_ptr<osgART::VideoLayer> _videoLayer;
    osg::ref_ptr<osgART::VideoLayer> _debugImageLayer;
    osg::ref_ptr<osg::Projection> _projection;
    osg::ref_ptr<osg::MatrixTransform> _modelViewTransform;
    osg::ref_ptr<osg::Switch> _modeSwitch;
    osg::ref_ptr<osg::Group> _simpleModeGroup;
    osg::ref_ptr<osg::Group> _mixedModeGroup;
    osg::ref_ptr<osg::Group> _fakeModeGroup;
    osg::ref_ptr<osg::Camera> _arCamera;
    osg::ref_ptr<osg::Geometry> _quadGeometry;
    osg::ref_ptr<osg::Geode> _quadGeode;
    osg::ref_ptr<osg::Texture2D> _colourTexture;
    osg::ref_ptr<osg::TexMat> _textureMatrix;
    osg::ref_ptr<osg::Camera> _shadowCamera;
    osg::ref_ptr<osg::Texture2D> _shadowPassTexture;

    ObjectList _objects;
    std::string _workingDirectory;
    std::string _temporaryDirectory;
    ConfigurationData* _configuration;
    TrackerData* _trackerConfiguration;
    VideoData* _videoConfiguration;
    MarkersData* _markersConfiguration;
    SceneData* _sceneConfiguration;
    AudioData* _audioConfiguration;
    LightingData* _lightingConfiguration;
    std::vector<std::string> _temporaryFiles;
    std::vector<std::string> _temporaryDirectories;
    bool _debug;
    bool _freeze;
    bool _trackingPlus;
    ApplicationHint _applicationHint;
    bool _mouseOverEvents;
    std::string _videoDevice;
    bool _flipHorizontal;
    bool _flipVertical;
    float _smallFeatureCullingPixelSize;
    bool _hasMultisampling;
    bool _hasNPOT;
    bool _hasTextureRectangle;
    bool _hasFBO;
    osg::ref_ptr<ARShadowsManager> _shadowsManager;
    osg::ref_ptr<ARClippingManager> _clippingManager;
    // The marker node that holds the clipping manager, if any.
    ARMarkerNode* _clippingMarker = nullptr;
    osg::ref_ptr<AREventsHandlersManager> _eventsHandlersManager;
    osg::ref_ptr<ARMouseEventsHandler> _mouseEventsHandler;
    osg::ref_ptr<osgGA::GUIEventHandler> _currentKeyboardHandler;
    osg::ref_ptr<osgGA::GUIEventHandler> _helpHandler;
    // The keyboard modes' handlers in mode order (visualization, objects, animations, sounds,
    // layers, clipping, tracking, lights).
    std::vector<osg::ref_ptr<ARKeyboardEventsHandler>> _keyboardHandlers;
    bool _occludersVisible = false;

    // Project-only options.
    std::string _videoFile;
    int _maxFrames;
    std::string _screenshotFile;
    // Frames (counted from 1) after which the picture is also written beside the screenshot file,
    // the frame number before its extension (shot.png: shot-40.png).
    std::set<int> _screenshotFrames;
    bool _screenshotFailed = false;
    bool _windowFailed = false;
    // The texture-caching callback takes itself off the camera in its first call, which would
    // free it while it still runs: this reference keeps it alive until the application goes.
    osg::ref_ptr<osg::Camera::DrawCallback> _textureCaching;
    bool _printFrameStatistics;
    double _frameTime = 0.0;
    double _sceneSeconds = 0.0; // scene time of the current frame under a fixed frame time
};

} // namespace Novaro
