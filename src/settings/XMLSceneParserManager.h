#pragma once

#include "settings/SceneData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the scene settings file (root <scene> with <parameters>, <metadata> and <objects>) into
// a SceneData record.
class XMLSceneParserManager : public XMLParserManager
{
public:
    explicit XMLSceneParserManager(const std::string& path);

    bool parse() override;
    // True when at least one object was read and every object has a type and a marker.
    bool isValid() override;

    const SceneData& getData() const { return _data; }

private:
    void readParameters(const TiXmlElement* parameters);
    void readMetadata(const TiXmlElement* metadata);
    // False when a location child is missing (the caller then resets the location).
    bool readLocation(const TiXmlElement* location);
    void readVideos(const TiXmlElement* videos);
    void readObjects(const TiXmlElement* objects);
    // Reads one <object>; false when the object is dropped.
    bool readObject(const TiXmlElement* element, ObjectData& object);
    bool readObjectIdentity(const TiXmlElement* element, ObjectData& object);
    void readObjectFlags(const TiXmlElement* element, ObjectData& object);
    void readObjectPlacement(const TiXmlElement* element, ObjectData& object);
    void readObjectInteraction(const TiXmlElement* element, ObjectData& object);
    void readModel(const TiXmlElement* model, ObjectData& object);
    void readProperties(const TiXmlElement* properties, ObjectData& object);
    void readLightProperties(const TiXmlElement* properties, ObjectData& object);
    void readLightVectors(const TiXmlElement* properties, ObjectData& object);
    void readLightDetail(const TiXmlElement* properties, ObjectData& object);
    void readSpotProperties(const TiXmlElement* properties, ObjectData& object);
    void readVideoProperties(const TiXmlElement* properties, ObjectData& object);
    void readTransforms(const TiXmlElement* transforms, ObjectData& object);
    osg::Vec3f readComponents(const TiXmlElement* element, float fallback);
    void readRotation(const TiXmlElement* rotation, ObjectData& object);
    void readMarkers(const TiXmlElement* markers, ObjectData& object);
    void readHotspots(const TiXmlElement* hotspots, ObjectData& object);
    // The optional child holding one file attribute (description, events, menu); returns the file.
    std::string readFileChild(const TiXmlElement* child, const char* label);

    SceneData _data;
};

} // namespace Novaro
