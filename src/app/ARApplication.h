#pragma once

#include "app/ARViewer.h"
#include "effects/ARShadowComposite.h"
#include "effects/HUDList.h"
#include "interaction/AREffectsService.h"
#include "interaction/ARInteractionWindow.h"
#include "interaction/ARModeSwitch.h"
#include "interaction/ARSceneService.h"
#include "interaction/ARSoundtrackService.h"
#include "interaction/ARTrackingService.h"
#include "interaction/ARVisualizationService.h"
#include "scene/ARSceneContext.h"
#include "settings/ApplicationHint.h"
#include "tracking/ARMarkerContext.h"

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
// head-up display. The layers below reach it only through the interfaces they own, which it
// implements: what marker nodes, scene objects and the shadow mode need, and the services the
// keyboard modes and the mouse act on.
class ARApplication : public ARMarkerContext,
                      public ARSceneContext,
                      public ARShadowComposite,
                      public ARInteractionWindow,
                      public ARModeSwitch,
                      public ARTrackingService,
                      public ARVisualizationService,
                      public ARSceneService,
                      public AREffectsService,
                      public ARSoundtrackService
{
public:
    typedef ARSceneService::MarkerNodeMap MarkerNodeMap;
    typedef std::vector<ARObject*> ObjectList;

    ARApplication();
    ~ARApplication() override;

    ARApplication(const ARApplication&) = delete;
    ARApplication& operator=(const ARApplication&) = delete;

    // --- configuration from the command line and the settings files
    void setTitle(const std::string& title) { _title = title; }
    const std::string& getTitle() const { return _title; }
    void setVideoDevice(const std::string& device);
    const std::string& getVideoDevice() const { return _videoDevice; }
    void setWorkingDirectory(const std::string& directory) { _workingDirectory = directory; }
    void setTemporaryDirectory(const std::string& directory) { _temporaryDirectory = directory; }
    const std::string& getTemporaryDirectory() const override { return _temporaryDirectory; }

    bool setConfiguration(const std::string& fileName);
    bool setTrackerConfiguration(const std::string& fileName);
    bool setVideoConfiguration(const std::string& fileName);
    bool setSceneConfiguration(const std::string& fileName);
    bool setAudioConfiguration(const std::string& fileName);
    bool setMarkersConfiguration(const std::string& fileName);
    bool setLightingConfiguration(const std::string& fileName);

    void setApplicationHint();
    ApplicationHint getApplicationHint() const override { return _applicationHint; }

    // --- set-up sequence
    bool init(int argc, char** argv);
    void initEventHandlers();
    void setInterface(unsigned int index) override;
    // Builds the scene's objects and hangs them under their markers. A load that takes longer
    // than half a second says how far it has come, on the console and in the status text.
    void loadSceneObjects();
    // The clock scene loading is timed with, seconds (the viewer's timer unless replaced).
    void setLoadingClock(std::function<double()> clock) { _loadingClock = std::move(clock); }
    // Shows the status line (top left) for 3 seconds; a later message replaces it.
    void showStatusMessage(const std::string& text);
    // Replaces the status line's text when one was shown.
    void updateStatusMessage(const std::string& text) override;
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
    void createRenderingPipeline();
    void setWireframe(bool on);
    void toggleWireframe() override;
    void toggleMirror() override;
    void toggleVerticalFlip() override;
    void toggleDebugMode() override;
    void setShadowComposite(bool on) override;
    void increaseSmallFeatureCulling(float step) override;
    void decreaseSmallFeatureCulling(float step) override;
    void resetSmallFeatureCulling() override;
    bool initLighting();
    void showFullscreenVideo(osg::ImageStream* stream) override;
    // Takes that stream off the full-screen video panel (any video without a stream).
    void hideFullscreenVideo(osg::ImageStream* stream) override;
    int getTextureWidth();
    int getTextureHeight();

    // --- video capture and tracker set-up
    void listVideoDevices();
    std::string matchCameraForVideo(int width, int height);
    void setCameraFile(const std::string& name);
    std::string getCameraFile() const;
    void setPatternFile(const std::string& name);
    std::string getPatternFile() const;
    void resetThreshold() override;
    void increaseThreshold(int step) override;
    void decreaseThreshold(int step) override;
    int getThreshold() const override;

    // --- markers, tracked transforms and smoothing
    // Generates the marker's multi-marker file from its submarkers and transforms file, in the
    // run's private temporary folder; returns its path, or empty text after saying why.
    std::string writeMultiMarkerFile(const MarkerData* marker);
    void toggleFreeze() override;
    void toggleTrackingPlus() override;
    void resetSmoothing() override;
    void increaseSmoothing(float step) override;
    void decreaseSmoothing(float step) override;
    float getSmoothingFactor() const override;

    // --- clipping: the one clipping manager of the run, on the first detected marker
    void setClippingEnabled(bool enabled) override;
    ARClippingManager* getClippingManager() const override { return _clippingManager.get(); }
    // run creates the player's manager when none is set yet.
    void setClippingManager(ARClippingManager* manager);
    ARMarkerNode* getClippingMarker() const { return _clippingMarker; }

    // --- sounds
    bool loadSoundtracks();
    void loadAudioFile(const std::string& path);
    void toggleMusic() override;
    void rewindSoundtrack() override;
    void nextSoundtrack() override;
    void previousSoundtrack() override;
    unsigned int getCurrentSoundtrack() const { return _currentSoundtrack; }
    unsigned int getSoundtrackCount() const { return static_cast<unsigned int>(_soundtracks.size()); }

    // --- the animations of every scene object at once, in object order
    void toggleAllAnimations() override;
    void rewindAllAnimations() override;
    // Stores the speed and gives it to every object's path animations (objects created later do
    // not get it).
    void setSimulationSpeed(double speed) override;
    double getSimulationSpeed() const override { return _simulationSpeed; }

    // --- the keyboard modes and the mouse (ARApplicationInteraction.cpp)
    // Flips whether occluders are shown (half-transparent red) or only hide what is behind them.
    void toggleOccluders() override;
    bool getOccludersVisible() const { return _occludersVisible; }
    // Every marker's model scale changes by the step on each axis.
    void scaleModels(float step) override;
    // The first marker's model scale, or -1 without markers.
    float getModelScale() const override;
    AREventsHandlersManager* getEventsHandlersManager() const { return _eventsHandlersManager.get(); }
    ARMouseEventsHandler* getMouseEventsHandler() const { return _mouseEventsHandler.get(); }
    // The handler of a keyboard mode (0 visualization ... 7 lights); none before initEventHandlers.
    ARKeyboardEventsHandler* getKeyboardHandler(unsigned int mode) const;

    // --- accessors used across the player
    ConfigurationData* getConfiguration() const { return _configuration; }
    TrackerData* getTrackerConfiguration() const { return _trackerConfiguration; }
    VideoData* getVideoConfiguration() const { return _videoConfiguration; }
    SceneData* getSceneConfiguration() const override { return _sceneConfiguration; }
    MarkersData* getMarkersConfiguration() const { return _markersConfiguration; }

    ARViewer* getViewer() const { return _viewer.get(); }
    // The window the keyboard modes and the mouse act in: the viewer.
    osgGA::GUIActionAdapter* getActionAdapter() const override { return _viewer.get(); }
    void toggleFullscreen() override { _viewer->toggleFullscreen(); }
    int getWindowWidth() const override { return _viewer->getWindowWidth(); }
    int getWindowHeight() const override { return _viewer->getWindowHeight(); }
    void quit() override { _viewer->setDone(true); }
    HUDList& getHUD() override { return _hud; }
    osgART::GenericVideo* getVideo() const { return _video.get(); }
    osgART::GenericTracker* getTracker() const { return _tracker.get(); }
    MarkerNodeMap& getMarkers() override { return _markers; }
    const MarkerNodeMap& getMarkers() const { return _markers; }
    const ObjectList& getObjects() const override { return _objects; }
    osg::Group* getRoot() const { return _root.get(); }
    osg::Group* getContentGroup() const { return _contentGroup.get(); }
    osg::Switch* getDebugSwitch() const { return _debugSwitch.get(); }
    osg::Switch* getModeSwitch() const { return _modeSwitch.get(); }
    osg::Camera* getARCamera() const override { return _arCamera.get(); }
    osg::Texture2D* getColourTexture() const { return _colourTexture.get(); }
    ARShadowsManager* getShadowsManager() const override { return _shadowsManager.get(); }
    std::vector<std::string>& getTemporaryFiles() { return _temporaryFiles; }

    bool getDebug() const override { return _debug; }
    bool getFreeze() const override { return _freeze; }
    bool getTrackingPlus() const override { return _trackingPlus; }
    bool getFlipHorizontal() const override { return _flipHorizontal; }
    bool getFlipVertical() const override { return _flipVertical; }
    float getSmallFeatureCullingPixelSize() const override { return _smallFeatureCullingPixelSize; }
    void setSmallFeatureCullingPixelSize(float size) { _smallFeatureCullingPixelSize = size; }
    bool getMouseOverEvents() const override { return _mouseOverEvents; }
    void setMouseOverEvents(bool on) { _mouseOverEvents = on; }
    bool hasMultisampling() const { return _hasMultisampling; }
    bool hasNPOT() const { return _hasNPOT; }
    osgGA::GUIEventHandler* getCurrentKeyboardHandler() const { return _currentKeyboardHandler.get(); }
    osgGA::GUIEventHandler* getHelpHandler() const { return _helpHandler.get(); }

    // Options that only this platform's player knows (see the README; readProjectOptions reads
    // the others from the command line): a frame limit.
    void setMaxFrames(int frames) { _maxFrames = frames; }
    // True when a screenshot was asked for and could not be written: the run then fails.
    bool screenshotFailed() const { return _screenshotFailed; }
    // True when the window could not be shown, so nothing was drawn: the run then fails.
    bool windowFailed() const { return _windowFailed; }

private:
    // The set-up stages init() runs in order, and what they use.
    bool initScene();
    bool initViewer();
    bool initTracking(int argc, char** argv);
    bool setupMarkersLayers();
    bool setupMarkersTransforms();
    void applySmallFeatureCulling();
    void optimizeScene();
    std::string resolveModelFile(const std::string& path);
    // Seconds of scene time each frame advances: animations and the head-up display's timed texts
    // then follow the frame count instead of the wall clock (0, the default: the wall clock).
    void setFrameTime(double seconds);

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
