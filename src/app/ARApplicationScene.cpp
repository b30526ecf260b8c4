// Scene loading: turns the scene settings into scene objects hung under their markers.
#include "ARApplication.h"

#include "ARObject.h"
#include "KmzImporter.h"
#include "MarkersData.h"
#include "PathRule.h"
#include "SceneData.h"

#include <cstdlib>
#include <fstream>

#include <osg/Quat>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

namespace
{

// A scene file's source and folder resolved as the exporter meant them: the folder against the
// temporary directory, the source against the folder (or the temporary directory without one).
std::string resolveSource(const std::string& temporaryDirectory, std::string folder,
                          const std::string& source)
{
    if (!folder.empty() && !PathRule::isAbsoluteDirectory(folder))
        folder = PathRule::resolve(temporaryDirectory, folder);
    if (PathRule::isAbsolute(source))
        return source;
    return PathRule::resolve(folder.empty() ? temporaryDirectory : folder, source);
}

std::string readDescription(const std::string& path, bool& opened)
{
    std::ifstream file(path.c_str());
    opened = static_cast<bool>(file);
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
        const std::vector<std::string> models = KmzImporter::importArchive(path, _temporaryDirectories);
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

void ARApplication::loadSceneObjects()
{
    if (!_sceneConfiguration)
    {
        osg::notify(osg::FATAL) << "WARNING: missing scene data." << std::endl;
        return;
    }
    osg::ref_ptr<osg::Node> sceneModel;
    std::string sceneSource = _sceneConfiguration->getSource();
    if (!sceneSource.empty())
    {
        sceneSource = resolveSource(_temporaryDirectory, _sceneConfiguration->getSourceFolder(), sceneSource);
        if (!osgDB::fileExists(sceneSource))
            osg::notify(osg::FATAL) << " WARNING: cannot find scene file: " << sceneSource << std::endl;
        else
            sceneModel =
                osgDB::readNodeFile(resolveModelFile(sceneSource), osgDB::Registry::instance()->getOptions());
    }

    for (const ObjectData& entry : _sceneConfiguration->getObjects())
    {
        if (entry.getIgnore())
        {
            osg::notify(osg::NOTICE) << " WARNING: ignoring object." << std::endl;
            continue;
        }
        const bool usesSceneModel = entry.getSource().empty();
        std::string modelPath;
        std::string modelSource = sceneSource;
        if (!usesSceneModel)
        {
            modelSource = resolveSource(_temporaryDirectory, entry.getSourceFolder(), entry.getSource());
            if (!osgDB::fileExists(modelSource))
            {
                osg::notify(osg::FATAL) << " WARNING: cannot find model file: " << modelSource << std::endl;
                continue;
            }
            modelPath = resolveModelFile(modelSource);
        }

        const osg::Vec3f& translation = entry.getTranslation();
        const osg::Vec3f& scale = entry.getScale();
        static const osg::Vec3d axes[] = {osg::X_AXIS, osg::Y_AXIS, osg::Z_AXIS};
        const int axis =
            entry.getRotationAxis() >= 0 && entry.getRotationAxis() <= 2 ? entry.getRotationAxis() : 0;
        osg::Quat rotation;
        rotation.makeRotate(static_cast<double>(entry.getRotationAngle()), axes[axis]);

        std::string descriptionFile = entry.getDescriptionFile();
        if (!descriptionFile.empty() && !PathRule::isAbsolute(descriptionFile))
            descriptionFile = PathRule::resolve(_temporaryDirectory, descriptionFile);
        std::string eventsFile = entry.getEventsFile();
        if (!eventsFile.empty() && !PathRule::isAbsolute(eventsFile))
            eventsFile = PathRule::resolve(_temporaryDirectory, eventsFile);

        // The object built from its model: the scene-wide model or its own file, whole or the
        // sub-node named by the entry. Null (with the warning at the given severity) without any.
        auto buildFromModel = [&](osg::NotifySeverity severity) -> osg::ref_ptr<ARObject>
        {
            const std::string& subNode = entry.getObject();
            if (usesSceneModel)
            {
                if (!sceneModel.valid())
                {
                    osg::notify(severity)
                        << " WARNING: neither a scene source file nor an object source file were specified."
                        << std::endl;
                    return nullptr;
                }
                return subNode.empty() ? new ARObject(sceneModel.get())
                                       : new ARObject(sceneModel.get(), subNode);
            }
            return subNode.empty() ? new ARObject(modelPath) : new ARObject(modelPath, subNode);
        };
        // Checks a media file named by the entry; empty text when it is missing.
        auto mediaFile = [&](const std::string& name, const char* missingName, const char* notFound)
        {
            if (name.empty())
            {
                osg::notify(osg::FATAL) << missingName << std::endl;
                return std::string();
            }
            const std::string path = PathRule::resolve(_temporaryDirectory, name);
            if (!osgDB::fileExists(path))
            {
                osg::notify(osg::FATAL) << notFound << std::endl;
                return std::string();
            }
            return path;
        };

        osg::ref_ptr<ARObject> object;
        const std::string& type = entry.getType();
        if (type == "ARObject")
        {
            osg::notify(osg::NOTICE) << " Object type ARObject." << std::endl;
            object = buildFromModel(osg::NOTICE);
            if (!object.valid())
                continue;
        }
        else if (type == "ARVideo")
        {
            // Video objects play their movie once movie objects exist; until then the object
            // shows its model like any other.
            osg::notify(osg::NOTICE) << " Object type ARVideo." << std::endl;
            if (mediaFile(entry.getVideo(),
                          " Could not create an ARVideo object without a valid video file name.",
                          " WARNING: could not find the specified video file.")
                    .empty())
                continue;
            object = buildFromModel(osg::NOTICE);
            if (!object.valid())
                continue;
        }
        else if (type == "ARAudio")
        {
            // Audio objects play their sound once audio objects exist; until then the object
            // shows its model like any other.
            osg::notify(osg::NOTICE) << " Object type ARAudio." << std::endl;
            if (mediaFile(entry.getAudio(),
                          " Could not create an ARAudio object without a valid audio file name.",
                          " WARNING: could not find the specified audio file.")
                    .empty())
                continue;
            object = buildFromModel(osg::NOTICE);
            if (!object.valid())
                continue;
        }
        else if (type == "ARLight")
        {
            // Scene lights are not built yet: the entry becomes a plain object (its model, or
            // nothing when it is described by properties), reported as not being a light.
            osg::notify(osg::NOTICE) << " Object type ARLight." << std::endl;
            if (!entry.getUseProperties())
            {
                osg::notify(osg::NOTICE) << " Init ARLight from 3D data..." << std::endl;
                object = buildFromModel(osg::FATAL);
            }
            else
            {
                osg::notify(osg::NOTICE) << " Init ARLight from XML data..." << std::endl;
                object = new ARObject;
            }
            if (object.valid())
                osg::notify(osg::FATAL) << " ERROR: Expected AR light object." << std::endl;
        }
        else
        {
            osg::notify(osg::FATAL) << " WARNING: Object type not supported. Skipping." << std::endl;
            continue;
        }

        if (!object.valid())
        {
            osg::notify(osg::FATAL) << " WARNING: Object not valid." << std::endl;
            continue;
        }

        object->setName(entry.getName());
        object->setTranslation(translation.x(), translation.y(), translation.z());
        const ApplicationHint hint = _applicationHint;
        if (osgDB::getLowerCaseFileExtension(modelSource) == "fbx" && hint != HINT_MAYA &&
            hint != HINT_CINEMA4D)
            rotation *= osg::Quat(1.5707963267948966, osg::Vec3d(1.0, 0.0, 0.0));
        object->setRotation(rotation.x(), rotation.y(), rotation.z(), rotation.w());
        object->setScale(scale.x(), scale.y(), scale.z());

        object->setContext(this);
        if (entry.getIsOccluder())
        {
            osg::notify(osg::NOTICE) << " Object is an occluder." << std::endl;
            object->setOccluder();
        }
        if (!descriptionFile.empty())
        {
            bool opened = false;
            const std::string description = readDescription(descriptionFile, opened);
            if (!opened)
                osg::notify(osg::FATAL) << " WARNING: cannot open file: " << descriptionFile << std::endl;
            else
                object->setDescription(description);
        }
        if (!eventsFile.empty())
            object->loadEvents(eventsFile);

        if (entry.getAllMarkers())
            addObjectToAllMarkers(object.get(), 0);
        else
        {
            for (int id : entry.getMarkerIds())
            {
                bool known = false;
                if (_markersConfiguration)
                {
                    for (const MarkerData& marker : _markersConfiguration->getMarkers())
                        known = known || static_cast<int>(marker.getId()) == id;
                }
                if (!known)
                {
                    osg::notify(osg::FATAL) << "WARNING: object/tracker marker mismatch." << std::endl;
                    continue;
                }
                const std::map<int, int>& layers = entry.getMarkerLayers();
                const std::map<int, int>::const_iterator layer = layers.find(id);
                addObjectToMarker(object.get(), static_cast<unsigned int>(id),
                                  layer == layers.end() ? 0 : layer->second);
            }
        }
    }
}

} // namespace Novaro
