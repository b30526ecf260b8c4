// Scene loading: turns the scene settings into scene objects hung under their markers.
#include "app/ARApplication.h"

#include "app/LoadingProgress.h"
#include "app/LoadingScreen.h"
#include "app/PrivateFolder.h"
#include "effects/ARShadowsManager.h"
#include "scene/ARAudio.h"
#include "scene/ARLight.h"
#include "scene/ARObject.h"
#include "scene/ARVideo.h"
#include "scene/KmzImporter.h"
#include "settings/MarkersData.h"
#include "settings/ModelFileCheck.h"
#include "settings/PathRule.h"
#include "settings/SceneData.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <cstdlib>
#include <fstream>

#include <osg/Math>
#include <osg/Quat>
#include <osg/Timer>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

namespace
{

std::string readDescription(const std::string& path, bool& opened)
{
    // A folder opens as a stream on this platform and reads as nothing: refuse it like a missing file.
    std::ifstream file;
    if (PathRule::isReadableFile(path))
        file.open(path.c_str());
    opened = file.is_open();
    std::string description;
    char chunk[256];
    while (file)
    {
        file.getline(chunk, sizeof(chunk));
        description += chunk;
        if (file.fail() && !file.eof())
            file.clear(); // a line longer than the chunk: keep reading it
        else if (!file)
            break;
    }
    return description;
}

// Where one scene entry's object comes from: the scene-wide model or the entry's own file.
struct ObjectSource
{
    const ObjectData& entry;
    const std::string& temporaryDirectory;
    osg::Node* sceneModel;                      // the scene-wide model, null without one
    bool usesSceneModel;                        // the entry names no file of its own
    std::string modelPath;                      // the entry's own model as the reader gets it (KMZ unpacked)
    std::string modelSource;                    // the file the entry names (or the scene's), for its format
    ARShadowsManager* shadowsManager = nullptr; // takes the scene's light
};

// The object built from its model: the scene-wide model or its own file, whole or the sub-node
// named by the entry. Null (with the warning at the given severity) without any model.
template <class Object>
osg::ref_ptr<Object> buildFromModel(const ObjectSource& source, osg::NotifySeverity severity)
{
    const std::string& subNode = source.entry.getObject();
    if (source.usesSceneModel)
    {
        if (!source.sceneModel)
        {
            osg::notify(severity)
                << " WARNING: neither a scene source file nor an object source file were specified."
                << std::endl;
            return nullptr;
        }
        return subNode.empty() ? new Object(source.sceneModel) : new Object(source.sceneModel, subNode);
    }
    return subNode.empty() ? new Object(source.modelPath) : new Object(source.modelPath, subNode);
}

// A media file named by the entry, resolved; empty (with the warning) when unnamed or unreadable.
std::string mediaFile(const ObjectSource& source, const std::string& name, const char* unnamed,
                      const char* notFound)
{
    if (name.empty())
    {
        osg::notify(osg::FATAL) << unnamed << std::endl;
        return std::string();
    }
    const std::string path = PathRule::resolve(source.temporaryDirectory, name);
    if (!PathRule::isReadableFile(path))
    {
        osg::notify(osg::FATAL) << notFound << std::endl;
        return std::string();
    }
    return path;
}

osg::ref_ptr<ARObject> buildModelObject(const ObjectSource& source)
{
    return buildFromModel<ARObject>(source, osg::NOTICE);
}

osg::ref_ptr<ARObject> buildVideoObject(const ObjectSource& source)
{
    const std::string movie =
        mediaFile(source, source.entry.getVideo(),
                  " Could not create an ARVideo object without a valid video file name.",
                  " WARNING: could not find the specified video file.");
    if (movie.empty())
        return nullptr;
    osg::ref_ptr<ARVideo> video = buildFromModel<ARVideo>(source, osg::NOTICE);
    if (!video.valid())
        return nullptr;
    video->setChromaKey(source.entry.getChromaKey());
    video->setChromaKeyFromGreenScreen(source.entry.getChromaKeyFromGreenScreen());
    video->setupVideo(movie, source.entry.getLighting());
    video->setLoop(source.entry.getLoop());
    return video;
}

osg::ref_ptr<ARObject> buildAudioObject(const ObjectSource& source)
{
    const std::string sound =
        mediaFile(source, source.entry.getAudio(),
                  " Could not create an ARAudio object without a valid audio file name.",
                  " WARNING: could not find the specified audio file.");
    if (sound.empty())
        return nullptr;
    osg::ref_ptr<ARAudio> audio = buildFromModel<ARAudio>(source, osg::NOTICE);
    if (!audio.valid())
        return nullptr;
    audio->setupAudio(sound, source.entry.getIsVisible());
    audio->setLoop(source.entry.getLoop());
    return audio;
}

// A light described by properties. A directional one gets its direction from the position
// properties and stands at a fixed place (marker nodes later lift it over their content); every
// one of them ends omnidirectional, whatever spot values the entry gives.
osg::ref_ptr<ARLight> buildLightFromProperties(const ObjectData& entry)
{
    osg::ref_ptr<ARLight> light = new ARLight(entry.getDirectional());
    light->setDetail(entry.getDetail());
    const osg::Vec3f& position = entry.getPosition();
    if (light->isDirectional())
    {
        light->makeDirectional();
        light->setPosition(80.0, 80.0, 80.0, 1.0);
        light->setDirection(position.x(), position.y(), position.z());
    }
    else
    {
        const osg::Vec3f& direction = entry.getDirection();
        light->makePositional();
        light->setPosition(position.x(), position.y(), position.z(), 1.0);
        light->setDirection(direction.x(), direction.y(), direction.z());
        light->setSpotCutoff(180.0f);
        light->setSpotExponent(0.0f);
    }
    return light;
}

osg::ref_ptr<ARObject> buildLightObject(const ObjectSource& source)
{
    osg::ref_ptr<ARObject> object;
    if (!source.entry.getUseProperties())
    {
        osg::notify(osg::NOTICE) << " Init ARLight from 3D data..." << std::endl;
        osg::ref_ptr<ARLight> light = buildFromModel<ARLight>(source, osg::FATAL);
        if (light.valid())
        {
            light->setDetail(source.entry.getDetail());
            if (light->isDirectional())
                light->makeDirectional();
            else
                light->makePositional();
        }
        object = light;
    }
    else
    {
        osg::notify(osg::NOTICE) << " Init ARLight from XML data..." << std::endl;
        object = buildLightFromProperties(source.entry);
    }
    if (!object.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: Object not valid." << std::endl;
        return object;
    }
    ARLight* light = dynamic_cast<ARLight*>(object.get());
    if (!light)
    {
        osg::notify(osg::FATAL) << " ERROR: Expected AR light object." << std::endl;
        return object;
    }
    osg::notify(osg::NOTICE) << " Lighting set: OK..." << std::endl;
    // The last light loaded is the one that lights and shadows the scene.
    if (source.shadowsManager)
        source.shadowsManager->setLight(light);
    return object;
}

// One builder per object type of the scene file.
struct ObjectBuilder
{
    const char* type;
    osg::ref_ptr<ARObject> (*build)(const ObjectSource&);
};
const ObjectBuilder objectBuilders[] = {
    {"ARObject", buildModelObject},
    {"ARVideo", buildVideoObject},
    {"ARAudio", buildAudioObject},
    {"ARLight", buildLightObject},
};

// The entry's rotation about its axis (x when the axis is out of range); FBX files from hosts
// other than Maya and Cinema 4D are Y-up and get a quarter turn about x on top.
osg::Quat entryRotation(const ObjectData& entry, const std::string& modelSource, ApplicationHint hint)
{
    static const osg::Vec3d axes[] = {osg::X_AXIS, osg::Y_AXIS, osg::Z_AXIS};
    const int axis =
        entry.getRotationAxis() >= 0 && entry.getRotationAxis() <= 2 ? entry.getRotationAxis() : 0;
    osg::Quat rotation;
    rotation.makeRotate(static_cast<double>(entry.getRotationAngle()), axes[axis]);
    if (osgDB::getLowerCaseFileExtension(modelSource) == "fbx" && hint != HINT_MAYA && hint != HINT_CINEMA4D)
        rotation *= osg::Quat(osg::PI_2, osg::X_AXIS);
    return rotation;
}

std::string resolveInTemporaryDirectory(const std::string& temporaryDirectory, const std::string& name)
{
    if (name.empty() || PathRule::isAbsolute(name))
        return name;
    return PathRule::resolve(temporaryDirectory, name);
}

// Name, placement, occlusion, description and events of a built object.
void setUpObject(ARObject& object, const ObjectSource& source, ARApplication& application)
{
    const ObjectData& entry = source.entry;
    object.setName(entry.getName());
    const osg::Vec3f& translation = entry.getTranslation();
    object.setTranslation(translation.x(), translation.y(), translation.z());
    const osg::Quat rotation = entryRotation(entry, source.modelSource, application.getApplicationHint());
    object.setRotation(rotation.x(), rotation.y(), rotation.z(), rotation.w());
    const osg::Vec3f& scale = entry.getScale();
    object.setScale(scale.x(), scale.y(), scale.z());
    object.setContext(&application);
    // A video object's plane shows its own movie; every other object may carry the scene's.
    if (!dynamic_cast<ARVideo*>(&object))
        object.setupVideoTextures();
    if (entry.getIsOccluder())
    {
        osg::notify(osg::NOTICE) << " Object is an occluder." << std::endl;
        object.setOccluder();
    }
    const std::string descriptionFile =
        resolveInTemporaryDirectory(source.temporaryDirectory, entry.getDescriptionFile());
    if (!descriptionFile.empty())
    {
        bool opened = false;
        const std::string description = readDescription(descriptionFile, opened);
        if (!opened)
            osg::notify(osg::FATAL) << " WARNING: cannot open file: " << descriptionFile << std::endl;
        else
            object.setDescription(description);
    }
    const std::string eventsFile =
        resolveInTemporaryDirectory(source.temporaryDirectory, entry.getEventsFile());
    if (!eventsFile.empty())
        object.loadEvents(eventsFile);
}

bool isKnownMarker(const MarkersData* markers, int id)
{
    if (!markers)
        return false;
    for (const MarkerData& marker : markers->getMarkers())
        if (static_cast<int>(marker.getId()) == id)
            return true;
    return false;
}

// Hangs the object under every marker the entry names, in the layer it gives for each (0 else).
void attachObject(ARObject* object, const ObjectData& entry, ARApplication& application)
{
    if (entry.getAllMarkers())
    {
        application.addObjectToAllMarkers(object, 0);
        return;
    }
    for (int id : entry.getMarkerIds())
    {
        if (!isKnownMarker(application.getMarkersConfiguration(), id))
        {
            osg::notify(osg::FATAL) << "WARNING: object/tracker marker mismatch." << std::endl;
            continue;
        }
        const std::map<int, int>& layers = entry.getMarkerLayers();
        const std::map<int, int>::const_iterator layer = layers.find(id);
        application.addObjectToMarker(object, static_cast<unsigned int>(id),
                                      layer == layers.end() ? 0 : layer->second);
    }
}

} // namespace

std::string ARApplication::resolveModelFile(const std::string& path)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(path);
    if (extension == "wrl")
    {
        setenv("OPENVRML_DATADIR", "support", 1);
        setenv("OPENVRML_NODE_PATH", "node", 1);
        return path;
    }
    if (extension == "kmz")
    {
        const std::vector<std::string> models = KmzImporter::importArchive(
            path, PrivateFolder::uniqueName(KmzImporter::folderName(path)), _temporaryDirectories);
        if (models.empty())
        {
            osg::notify(osg::FATAL) << " No valid KMZ models in archive." << std::endl;
            return path;
        }
        osg::notify(osg::NOTICE) << " Using model: " << models.front() << std::endl;
        return models.front();
    }
    return path;
}

osg::ref_ptr<osg::Node> ARApplication::loadSceneModel(std::string& sceneSource)
{
    sceneSource = _sceneConfiguration->getSource();
    if (sceneSource.empty())
        return nullptr;
    sceneSource =
        PathRule::resolveSource(_temporaryDirectory, _sceneConfiguration->getSourceFolder(), sceneSource);
    if (!PathRule::isReadableFile(sceneSource))
    {
        osg::notify(osg::FATAL) << " WARNING: cannot find scene file: " << sceneSource << std::endl;
        return nullptr;
    }
    return readModelFile(resolveModelFile(sceneSource));
}

void ARApplication::loadSceneObjects()
{
    if (!_sceneConfiguration)
    {
        osg::notify(osg::FATAL) << "WARNING: missing scene data." << std::endl;
        return;
    }
    const std::vector<ObjectData>& entries = _sceneConfiguration->getObjects();
    // The player's window opens after loading: until then a window of its own shows a long load.
    LoadingScreen screen("Loading - " + _title, [] { return osg::Timer::instance()->time_s(); });
    LoadingProgress progress(
        static_cast<unsigned int>(entries.size()), _loadingClock,
        [this](const std::string& text)
        {
            osg::notify(osg::ALWAYS) << text << std::endl;
            showStatusMessage(text);
        },
        [&screen](const std::string& line, double done) { screen.show(line, done); },
        // From the heartbeat's thread: straight to the console's handler, which writes whole
        // lines, not through the library's one shared stream that the main thread writes to.
        [](const std::string& line) { osg::getNotifyHandler()->notify(osg::ALWAYS, (line + "\n").c_str()); });
    if (!_sceneConfiguration->getSource().empty())
        screen.show("Loading " + osgDB::getSimpleFileName(_sceneConfiguration->getSource()), 0.0);
    std::string sceneSource;
    const osg::ref_ptr<osg::Node> sceneModel = loadSceneModel(sceneSource);
    for (size_t index = 0; index < entries.size(); ++index)
    {
        const ObjectData& entry = entries[index];
        if (entry.getIgnore())
        {
            osg::notify(osg::NOTICE) << " WARNING: ignoring object." << std::endl;
            continue;
        }
        progress.starting(static_cast<unsigned int>(index),
                          entry.getSource().empty() ? entry.getName() : entry.getSource());
        osg::ref_ptr<ARObject> object = loadSceneObject(entry, sceneModel.get(), sceneSource);
        if (object.valid())
            attachObject(object.get(), entry, *this);
    }
    progress.finished();
    screen.stop();
    reportVideoTagsWithoutNode();
}

// Once per tag of the videos table that names a node in none of the objects that may carry
// movies: a typo in the tag, or a model exported without its screen.
void ARApplication::reportVideoTagsWithoutNode() const
{
    for (const auto& video : _sceneConfiguration->getVideos())
    {
        const std::string& tag = video.first;
        bool carried = false;
        for (ARObject* object : _objects)
        {
            if (carried || dynamic_cast<ARVideo*>(object))
                continue;
            ARNodeSearchByNameVisitor search(tag);
            object->accept(search);
            carried = search.getNode() != nullptr;
        }
        if (!carried)
            osg::notify(osg::FATAL) << "WARNING: could not find video node by tag (" << tag << ")"
                                    << std::endl;
    }
}

osg::ref_ptr<ARObject> ARApplication::loadSceneObject(const ObjectData& entry, osg::Node* sceneModel,
                                                      const std::string& sceneSource)
{
    ObjectSource source{entry, _temporaryDirectory, sceneModel, entry.getSource().empty(), "", sceneSource};
    source.shadowsManager = _shadowsManager.get();
    if (!source.usesSceneModel)
    {
        source.modelSource =
            PathRule::resolveSource(_temporaryDirectory, entry.getSourceFolder(), entry.getSource());
        if (!PathRule::isReadableFile(source.modelSource))
        {
            osg::notify(osg::FATAL) << " WARNING: cannot find model file: " << source.modelSource
                                    << std::endl;
            return nullptr;
        }
        source.modelPath = resolveModelFile(source.modelSource);
    }
    for (const ObjectBuilder& builder : objectBuilders)
    {
        if (entry.getType() != builder.type)
            continue;
        osg::notify(osg::NOTICE) << " Object type " << builder.type << "." << std::endl;
        osg::ref_ptr<ARObject> object = builder.build(source);
        if (object.valid())
        {
            object->setAnimationLoop("", entry.getLoop());
            setUpObject(*object, source, *this);
        }
        return object;
    }
    osg::notify(osg::FATAL) << " WARNING: Object type not supported. Skipping." << std::endl;
    return nullptr;
}

void ARApplication::toggleAllAnimations()
{
    for (ARObject* object : _objects)
        object->togglePauseAnimation("");
}

void ARApplication::rewindAllAnimations()
{
    for (ARObject* object : _objects)
        object->rewindAnimation("");
}

void ARApplication::setSimulationSpeed(double speed)
{
    _simulationSpeed = speed;
    for (ARObject* object : _objects)
        object->setAnimationSpeed("", speed);
}

} // namespace Novaro
