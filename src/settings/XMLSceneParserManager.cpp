#include "settings/XMLSceneParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

namespace Novaro
{

using namespace SettingsValues;

XMLSceneParserManager::XMLSceneParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLSceneParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading scene settings..." << std::endl;

    const TiXmlElement* scene = rootElement();
    if (!elementIs(scene, "scene"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <scene> data in scene file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading scene settings...aborted." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " Scene name: " << attribute(scene, "name") << std::endl;

    struct SceneAttribute
    {
        const char* name;
        void (SceneData::*set)(const std::string&);
        const std::string& (SceneData::*get)() const;
    };
    const SceneAttribute sceneAttributes[] = {
        {"source_folder", &SceneData::setSourceFolder, &SceneData::getSourceFolder},
        {"source", &SceneData::setSource, &SceneData::getSource},
        {"authoring_software", &SceneData::setAuthoringSoftware, &SceneData::getAuthoringSoftware},
        {"units", &SceneData::setUnits, &SceneData::getUnits},
    };
    for (const SceneAttribute& each : sceneAttributes)
    {
        if (hasAttribute(scene, each.name))
        {
            (_data.*each.set)(attribute(scene, each.name));
            osg::notify(osg::NOTICE) << " - " << each.name << ": " << (_data.*each.get)() << std::endl;
        }
        else
            osg::notify(osg::NOTICE) << "WARNING: " << each.name << " missing (skipping)." << std::endl;
    }

    const TiXmlElement* parameters = childByTag(scene, "parameters");
    if (!parameters)
        osg::notify(osg::FATAL) << " WARNING: missing <parameters> data in scene file." << std::endl;
    else
        readParameters(parameters);

    const TiXmlElement* metadata = childByTag(scene, "metadata");
    if (!metadata)
        osg::notify(osg::FATAL) << " WARNING: missing <metadata> data in scene file." << std::endl;
    else
        readMetadata(metadata);

    const TiXmlElement* objects = childByTag(scene, "objects");
    if (!objects)
    {
        osg::notify(osg::FATAL) << " ERROR: missing <objects> data in scene file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading scene settings...aborted." << std::endl;
        return false;
    }
    readObjects(objects);

    osg::notify(osg::NOTICE) << "Reading scene settings...done." << std::endl;
    return true;
}

void XMLSceneParserManager::readParameters(const TiXmlElement* parameters)
{
    osg::notify(osg::NOTICE) << "Reading scene settings...(parameters)..." << std::endl;

    const TiXmlElement* showMessage = childByAttribute(parameters, "name", "show_message");
    if (!showMessage)
    {
        osg::notify(osg::NOTICE) << " show_message: NA (using default)." << std::endl;
        _data.setShowMessage(true);
    }
    else
    {
        osg::notify(osg::NOTICE) << " show_message: " << text(showMessage) << std::endl;
        _data.setShowMessage(isNotFalse(text(showMessage)));
    }

    const TiXmlElement* message = childByAttribute(parameters, "name", "message");
    if (!message)
    {
        osg::notify(osg::NOTICE) << " message: NA (using default)." << std::endl;
        _data.setMessage("Novaro(TM)");
    }
    else if (text(message).empty())
    {
        // An empty message is a deliberate choice of the author, not a missing one.
        osg::notify(osg::NOTICE) << " message: <empty>" << std::endl;
        _data.setMessage(std::string());
    }
    else
    {
        osg::notify(osg::NOTICE) << " message: " << text(message) << std::endl;
        _data.setMessage(text(message));
    }

    osg::notify(osg::NOTICE) << "Reading scene settings...(parameters)...done." << std::endl;
}

void XMLSceneParserManager::readMetadata(const TiXmlElement* metadata)
{
    osg::notify(osg::NOTICE) << "Reading scene settings...(metadata)..." << std::endl;

    struct MetadataField
    {
        const char* name;
        const char* fallback;
        void (SceneData::*set)(const std::string&);
        const std::string& (SceneData::*get)() const;
    };
    const MetadataField fields[] = {
        {"platform", "standalone", &SceneData::setPlatform, &SceneData::getPlatform},
        {"title", "N.A.", &SceneData::setTitle, &SceneData::getTitle},
        {"author", "N.A.", &SceneData::setAuthor, &SceneData::getAuthor},
        {"description", "N.A.", &SceneData::setDescription, &SceneData::getDescription},
        {"support_url", "N.A.", &SceneData::setSupportUrl, &SceneData::getSupportUrl},
    };
    for (const MetadataField& field : fields)
    {
        const TiXmlElement* child = childByTag(metadata, field.name);
        if (!child)
        {
            osg::notify(osg::NOTICE) << " WARNING: <" << field.name << "> not found (using default)."
                                     << std::endl;
            (_data.*field.set)(field.fallback);
        }
        else
            (_data.*field.set)(text(child));
        osg::notify(osg::NOTICE) << " " << field.name << ": " << (_data.*field.get)() << std::endl;
    }

    const TiXmlElement* location = childByTag(metadata, "location");
    if (!location)
        osg::notify(osg::FATAL) << " WARNING: missing <location> data in scene file." << std::endl;
    else if (!readLocation(location))
    {
        // A partial location is worse than none: all three go back to unknown.
        osg::notify(osg::NOTICE) << "WARNING: Reading scene settings errors while reading location data."
                                 << std::endl;
        _data.setLatitude("N.A.");
        _data.setLongitude("N.A.");
        _data.setAltitude("N.A.");
    }

    const TiXmlElement* videos = childByTag(metadata, "videos");
    if (!videos)
        osg::notify(osg::NOTICE) << " WARNING: missing <videos> data in scene file." << std::endl;
    else
        readVideos(videos);

    osg::notify(osg::NOTICE) << "Reading scene settings...(metadata)...done." << std::endl;
}

bool XMLSceneParserManager::readLocation(const TiXmlElement* location)
{
    osg::notify(osg::NOTICE) << "Reading scene settings...(location)..." << std::endl;

    struct LocationField
    {
        const char* name;
        void (SceneData::*set)(const std::string&);
    };
    const LocationField fields[] = {
        {"latitude", &SceneData::setLatitude},
        {"longitude", &SceneData::setLongitude},
        {"altitude", &SceneData::setAltitude},
    };
    for (const LocationField& field : fields)
    {
        const TiXmlElement* child = childByTag(location, field.name);
        if (!child)
        {
            osg::notify(osg::NOTICE) << " WARNING: <" << field.name << "> not found (skipping)." << std::endl;
            return false;
        }
        (_data.*field.set)(text(child));
        osg::notify(osg::NOTICE) << " " << field.name << ": " << text(child) << std::endl;
    }

    osg::notify(osg::NOTICE) << "Reading scene settings...(location)...done." << std::endl;
    return true;
}

void XMLSceneParserManager::readVideos(const TiXmlElement* videos)
{
    osg::notify(osg::NOTICE) << "Reading scene settings...(videos)..." << std::endl;
    osg::notify(osg::NOTICE) << " videos #: " << countChildren(videos) << std::endl;

    for (const TiXmlElement* video = videos->FirstChildElement(); video; video = video->NextSiblingElement())
    {
        if (!elementIs(video, "video"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <video> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(video, "tag"))
        {
            osg::notify(osg::NOTICE) << "WARNING: tag missing (skipping)." << std::endl;
            continue;
        }
        std::string tag = attribute(video, "tag");
        osg::notify(osg::NOTICE) << " video tag: " << tag << std::endl;
        if (!hasAttribute(video, "movie"))
        {
            osg::notify(osg::NOTICE) << "WARNING: movie missing (skipping)." << std::endl;
            continue;
        }
        std::string movie = attribute(video, "movie");
        osg::notify(osg::NOTICE) << " movie tag: " << movie << std::endl;
        _data.getVideos()[tag] = movie;
    }

    osg::notify(osg::NOTICE) << "Reading scene settings...(videos)...done." << std::endl;
}

void XMLSceneParserManager::readObjects(const TiXmlElement* objects)
{
    osg::notify(osg::NOTICE) << "Reading scene settings...(objects)..." << std::endl;
    osg::notify(osg::NOTICE) << " objects #: " << countChildren(objects) << std::endl;

    for (const TiXmlElement* element = objects->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        ObjectData object;
        if (readObject(element, object))
            _data.getObjects().push_back(object);
    }

    osg::notify(osg::NOTICE) << "Reading scene settings...(objects)...done." << std::endl;
}

bool XMLSceneParserManager::readObject(const TiXmlElement* element, ObjectData& object)
{
    if (!readObjectIdentity(element, object))
        return false;
    readObjectFlags(element, object);

    const TiXmlElement* model = childByTag(element, "model");
    if (!model)
    {
        osg::notify(osg::NOTICE) << " WARNING: <model> was expected (skipping)." << std::endl;
        return false;
    }
    object.setModelLine(model->Row());
    readModel(model, object);
    readObjectPlacement(element, object);

    const TiXmlElement* markers = childByTag(element, "markers");
    if (!markers)
    {
        osg::notify(osg::NOTICE) << " WARNING: <markers> was expected (skipping)." << std::endl;
        return false;
    }
    readMarkers(markers, object);
    readObjectInteraction(element, object);
    return true;
}

// The element's tag, line, name and type; false (skipping the object) without a type.
bool XMLSceneParserManager::readObjectIdentity(const TiXmlElement* element, ObjectData& object)
{
    if (!elementIs(element, "object"))
    {
        osg::notify(osg::NOTICE) << " WARNING: <object> was expected (skipping)." << std::endl;
        return false;
    }
    object.setLine(element->Row());
    object.setName(attribute(element, "name"));
    osg::notify(osg::NOTICE) << " object name: " << object.getName() << std::endl;
    if (!hasAttribute(element, "type"))
    {
        osg::notify(osg::NOTICE) << "WARNING: type missing (skipping)." << std::endl;
        return false;
    }
    object.setType(attribute(element, "type"));
    osg::notify(osg::NOTICE) << " object type: " << object.getType() << std::endl;
    return true;
}

// Properties, transforms and description: each optional, defaults when absent.
void XMLSceneParserManager::readObjectPlacement(const TiXmlElement* element, ObjectData& object)
{
    const TiXmlElement* properties = childByTag(element, "properties");
    if (!properties)
        osg::notify(osg::NOTICE) << " WARNING: missing <properties> (using defaults)." << std::endl;
    else
        readProperties(properties, object);

    const TiXmlElement* transforms = childByTag(element, "transforms");
    if (!transforms)
        osg::notify(osg::NOTICE) << " WARNING: missing <transforms> (using defaults)." << std::endl;
    else
        readTransforms(transforms, object);

    const TiXmlElement* description = childByTag(element, "description");
    if (!description)
        osg::notify(osg::NOTICE) << " WARNING: missing <description>." << std::endl;
    else
        object.setDescriptionFile(readFileChild(description, "Description"));
}

// Hotspots, events and menu: each optional.
void XMLSceneParserManager::readObjectInteraction(const TiXmlElement* element, ObjectData& object)
{
    const TiXmlElement* hotspots = childByTag(element, "hotspots");
    if (!hotspots)
        osg::notify(osg::NOTICE) << " WARNING: missing <hotspots>." << std::endl;
    else
        readHotspots(hotspots, object);

    const TiXmlElement* events = childByTag(element, "events");
    if (!events)
        osg::notify(osg::NOTICE) << " WARNING: missing <events>." << std::endl;
    else
        object.setEventsFile(readFileChild(events, "Events"));

    const TiXmlElement* menu = childByTag(element, "menu");
    if (!menu)
        osg::notify(osg::NOTICE) << " WARNING: missing <menu>." << std::endl;
    else
        object.setMenuFile(readFileChild(menu, "Menu"));
}

// The object's four flags, each with its default when absent; is_visible is the one that defaults
// to true.
void XMLSceneParserManager::readObjectFlags(const TiXmlElement* element, ObjectData& object)
{
    struct ObjectFlag
    {
        const char* name;
        bool fallback;
        void (ObjectData::*set)(bool);
        bool (ObjectData::*get)() const;
    };
    const ObjectFlag flags[] = {
        {"is_occluder", false, &ObjectData::setIsOccluder, &ObjectData::getIsOccluder},
        {"is_visible", true, &ObjectData::setIsVisible, &ObjectData::getIsVisible},
        {"ignore", false, &ObjectData::setIgnore, &ObjectData::getIgnore},
        {"use_properties", false, &ObjectData::setUseProperties, &ObjectData::getUseProperties},
    };
    for (const ObjectFlag& flag : flags)
    {
        if (!hasAttribute(element, flag.name))
        {
            osg::notify(osg::NOTICE) << " " << flag.name << ": NA (using default)." << std::endl;
            (object.*flag.set)(flag.fallback);
        }
        else
        {
            std::string value = attribute(element, flag.name);
            (object.*flag.set)(flag.fallback ? isNotFalse(value) : isTrue(value));
        }
        osg::notify(osg::NOTICE) << " object " << flag.name << ": " << boolText((object.*flag.get)())
                                 << std::endl;
    }
}

std::string XMLSceneParserManager::readFileChild(const TiXmlElement* child, const char* label)
{
    osg::notify(osg::NOTICE) << " " << label << ": " << std::endl;
    std::string file = attribute(child, "file");
    osg::notify(osg::NOTICE) << " file: " << file << std::endl;
    osg::notify(osg::NOTICE) << " " << label << ": done." << std::endl;
    return file;
}

void XMLSceneParserManager::readModel(const TiXmlElement* model, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " Model: " << std::endl;

    if (!hasAttribute(model, "source"))
    {
        osg::notify(osg::NOTICE) << "WARNING: source missing (expected scene source)." << std::endl;
        object.setSource(std::string());
    }
    else
    {
        object.setSource(attribute(model, "source"));
        osg::notify(osg::NOTICE) << " - source: " << object.getSource() << std::endl;
    }

    if (!hasAttribute(model, "source_folder"))
    {
        osg::notify(osg::NOTICE) << "WARNING: source_folder missing (not using)." << std::endl;
        object.setSourceFolder(std::string());
    }
    else
    {
        object.setSourceFolder(attribute(model, "source_folder"));
        osg::notify(osg::NOTICE) << " - source_folder: " << object.getSourceFolder() << std::endl;
    }

    object.setSignature(attribute(model, "signature"));
    osg::notify(osg::NOTICE) << " - signature: " << object.getSignature() << std::endl;
    object.setVideo(attribute(model, "video"));
    osg::notify(osg::NOTICE) << " - video: " << object.getVideo() << std::endl;
    object.setAudio(attribute(model, "audio"));
    osg::notify(osg::NOTICE) << " - audio: " << object.getAudio() << std::endl;
    object.setObject(attribute(model, "object"));
    osg::notify(osg::NOTICE) << " - object: " << object.getObject() << std::endl;

    osg::notify(osg::NOTICE) << " Model: done." << std::endl;
}

void XMLSceneParserManager::readProperties(const TiXmlElement* properties, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " Properties: " << std::endl;

    const TiXmlElement* loop = childByAttribute(properties, "name", "loop");
    if (!loop)
    {
        osg::notify(osg::FATAL) << " loop: NA (using default)." << std::endl;
        object.setLoop(true);
    }
    else
    {
        // Unlike the other flags that default to true, loop is kept only by an explicit "true".
        osg::notify(osg::NOTICE) << " loop: " << text(loop) << std::endl;
        object.setLoop(isTrue(text(loop)));
    }

    if (object.getType() == "ARLight")
        readLightProperties(properties, object);
    if (object.getType() == "ARVideo")
        readVideoProperties(properties, object);

    osg::notify(osg::NOTICE) << " Properties: done." << std::endl;
}

void XMLSceneParserManager::readLightProperties(const TiXmlElement* properties, ObjectData& object)
{
    const TiXmlElement* directional = childByAttribute(properties, "name", "directional");
    if (!directional)
        osg::notify(osg::NOTICE) << " directional: NA (using default)." << std::endl;
    else
    {
        osg::notify(osg::NOTICE) << " directional: " << text(directional) << std::endl;
        object.setDirectional(isTrue(text(directional)));
    }

    readLightVectors(properties, object);
    readLightDetail(properties, object);
    readSpotProperties(properties, object);
}

// Position and direction, each component from its property or its default.
void XMLSceneParserManager::readLightVectors(const TiXmlElement* properties, ObjectData& object)
{
    // Each component starts from its default text and is replaced by the property when present.
    auto readVector = [&](const char* const names[3], std::string texts[3])
    {
        for (int axis = 0; axis < 3; ++axis)
        {
            const TiXmlElement* component = childByAttribute(properties, "name", names[axis]);
            if (!component)
                continue;
            texts[axis] = text(component);
            osg::notify(osg::NOTICE) << " " << names[axis] << ": " << texts[axis] << std::endl;
        }
        return osg::Vec3f(toFloat(texts[0]), toFloat(texts[1]), toFloat(texts[2]));
    };

    // A directional light's position is its direction towards the origin: up by default.
    const char* const positionNames[3] = {"position_x", "position_y", "position_z"};
    std::string positionTexts[3] = {"0.0", "0.0", object.getDirectional() ? "1.0" : "0.0"};
    object.setPosition(readVector(positionNames, positionTexts));

    const char* const directionNames[3] = {"direction_x", "direction_y", "direction_z"};
    std::string directionTexts[3] = {"0.0", "0.0", "1.0"};
    object.setDirection(readVector(directionNames, directionTexts));
}

void XMLSceneParserManager::readLightDetail(const TiXmlElement* properties, ObjectData& object)
{
    const TiXmlElement* detail = childByAttribute(properties, "name", "detail");
    if (!detail)
        osg::notify(osg::NOTICE) << " detail: NA (using default)." << std::endl;
    else
    {
        std::string value = text(detail);
        osg::notify(osg::NOTICE) << " detail: " << value << std::endl;
        if (value == "low" || value == "LOW")
            object.setDetail(0);
        else if (value == "high" || value == "HIGH")
            object.setDetail(2);
        else
            object.setDetail(1);
    }
}

void XMLSceneParserManager::readSpotProperties(const TiXmlElement* properties, ObjectData& object)
{
    const TiXmlElement* spotCutoff = childByAttribute(properties, "name", "spot_cutoff");
    if (!spotCutoff)
        osg::notify(osg::FATAL) << " spot_cutoff: NA (using default)." << std::endl;
    else
    {
        osg::notify(osg::NOTICE) << " spot_cutoff: " << text(spotCutoff) << std::endl;
        object.setSpotCutoff(toFloat(text(spotCutoff)));
    }

    const TiXmlElement* spotExponent = childByAttribute(properties, "name", "spot_exponent");
    if (!spotExponent)
        osg::notify(osg::NOTICE) << " spot_exponent: NA (using default)." << std::endl;
    else
    {
        osg::notify(osg::NOTICE) << " spot_exponent: " << text(spotExponent) << std::endl;
        object.setSpotExponent(toFloat(text(spotExponent)));
    }
}

void XMLSceneParserManager::readVideoProperties(const TiXmlElement* properties, ObjectData& object)
{
    struct VideoFlag
    {
        const char* name;
        bool fallback;
        void (ObjectData::*set)(bool);
    };
    const VideoFlag flags[] = {
        {"chroma_key", false, &ObjectData::setChromaKey},
        {"chroma_key_from_green_screen", true, &ObjectData::setChromaKeyFromGreenScreen},
        {"lighting", false, &ObjectData::setLighting},
    };
    for (const VideoFlag& flag : flags)
    {
        const TiXmlElement* element = childByAttribute(properties, "name", flag.name);
        if (!element)
        {
            osg::notify(osg::NOTICE) << " " << flag.name << ": NA (using default)." << std::endl;
            continue;
        }
        std::string value = text(element);
        osg::notify(osg::NOTICE) << " " << flag.name << ": " << value << std::endl;
        (object.*flag.set)(flag.fallback ? isNotFalse(value) : isTrue(value));
    }
}

void XMLSceneParserManager::readTransforms(const TiXmlElement* transforms, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " Transforms: " << std::endl;

    const TiXmlElement* translation = childByTag(transforms, "translation");
    if (!translation)
    {
        osg::notify(osg::NOTICE) << " WARNING: <translation> not found (using default)." << std::endl;
        object.setTranslation(osg::Vec3f(0.0f, 0.0f, 0.0f));
    }
    else
    {
        osg::notify(osg::NOTICE) << " - translation -" << std::endl;
        object.setTranslation(readComponents(translation, 0.0f));
        osg::notify(osg::NOTICE) << " - translation - OK" << std::endl;
    }

    const TiXmlElement* scale = childByTag(transforms, "scale");
    if (!scale)
    {
        osg::notify(osg::NOTICE) << " WARNING: <scale> not found (using default)." << std::endl;
        object.setScale(osg::Vec3f(1.0f, 1.0f, 1.0f));
    }
    else
    {
        osg::notify(osg::NOTICE) << " - scale -" << std::endl;
        object.setScale(readComponents(scale, 1.0f));
        osg::notify(osg::NOTICE) << " - scale - OK" << std::endl;
    }

    const TiXmlElement* rotation = childByTag(transforms, "rotation");
    if (!rotation)
    {
        osg::notify(osg::NOTICE) << " WARNING: <rotation> not found (using default)." << std::endl;
        object.setRotationAngle(0.0f);
    }
    else
        readRotation(rotation, object);

    osg::notify(osg::NOTICE) << " Transforms: done." << std::endl;
}

// Components read from the x, y and z attributes; an absent or empty one takes the fallback.
osg::Vec3f XMLSceneParserManager::readComponents(const TiXmlElement* element, float fallback)
{
    static const char* const names[3] = {"x", "y", "z"};
    for (const char* name : names)
        if (!hasAttribute(element, name))
            osg::notify(osg::NOTICE) << " " << name << ": NA (using default)." << std::endl;
    osg::Vec3f result;
    for (int axis = 0; axis < 3; ++axis)
    {
        std::string value = attribute(element, names[axis]);
        result[axis] = value.empty() ? fallback : toFloat(value);
    }
    return result;
}

// The axis ("y", "z", anything else x) and the angle.
void XMLSceneParserManager::readRotation(const TiXmlElement* rotation, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " - rotation -" << std::endl;
    if (!hasAttribute(rotation, "axis"))
        osg::notify(osg::NOTICE) << " axis: NA (using default)." << std::endl;
    std::string axis = attribute(rotation, "axis");
    if (axis == "y" || axis == "Y")
        object.setRotationAxis(1);
    else if (axis == "z" || axis == "Z")
        object.setRotationAxis(2);
    else
        object.setRotationAxis(0);
    if (!hasAttribute(rotation, "angle"))
        osg::notify(osg::NOTICE) << " angle: NA (using default)." << std::endl;
    object.setRotationAngle(toFloat(attribute(rotation, "angle")));
    osg::notify(osg::NOTICE) << " - rotation - OK" << std::endl;
}

void XMLSceneParserManager::readMarkers(const TiXmlElement* markers, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " Markers: " << std::endl;

    object.setAllMarkers(isTrue(attribute(markers, "all")));
    if (object.getAllMarkers())
    {
        osg::notify(osg::NOTICE) << " - all_markers: true" << std::endl;
        osg::notify(osg::NOTICE) << " Markers: done." << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " all_markers: false" << std::endl;

    for (const TiXmlElement* marker = markers->FirstChildElement(); marker;
         marker = marker->NextSiblingElement())
    {
        if (!elementIs(marker, "marker"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <marker> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(marker, "id"))
        {
            osg::notify(osg::NOTICE) << "WARNING: id missing (skipping)." << std::endl;
            continue;
        }
        std::string layer = "0";
        if (hasAttribute(marker, "layer"))
            layer = attribute(marker, "layer");
        else
            osg::notify(osg::NOTICE) << "WARNING: layer missing (using default 0)." << std::endl;
        object.addMarker(toInt(attribute(marker, "id")), toInt(layer));
        object.setMarkerLine(toInt(attribute(marker, "id")), marker->Row());
    }

    osg::notify(osg::NOTICE) << " Markers: done." << std::endl;
}

void XMLSceneParserManager::readHotspots(const TiXmlElement* hotspots, ObjectData& object)
{
    osg::notify(osg::NOTICE) << " Hotspots: " << std::endl;

    for (const TiXmlElement* hotspot = hotspots->FirstChildElement(); hotspot;
         hotspot = hotspot->NextSiblingElement())
    {
        if (!elementIs(hotspot, "hotspot"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <hotspot> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(hotspot, "name"))
        {
            osg::notify(osg::NOTICE) << "WARNING: name missing (skipping)." << std::endl;
            continue;
        }
        object.addHotspot(attribute(hotspot, "name"));
        osg::notify(osg::NOTICE) << " name(*):" << attribute(hotspot, "name") << std::endl;
    }

    osg::notify(osg::NOTICE) << " Hotspots: done." << std::endl;
}

bool XMLSceneParserManager::isValid()
{
    if (_data.getObjects().empty())
        return false;
    for (const ObjectData& object : _data.getObjects())
        if (!object.isValid())
            return false;
    return true;
}

} // namespace Novaro
