#pragma once

#include <map>
#include <string>
#include <vector>

#include <osg/Vec3f>

namespace Novaro
{

// One object of the scene as read: its model, per-type properties (lights, videos), transforms,
// files and the markers it sits on.
class ObjectData
{
public:
    ObjectData() = default;

    // Lines of the <object> element, of its <model> and of each marker ID's <marker> (0 when not
    // read from a file), for messages.
    int getLine() const { return _line; }
    void setLine(int line) { _line = line; }
    int getModelLine() const { return _modelLine; }
    void setModelLine(int line) { _modelLine = line; }
    int getMarkerLine(int id) const
    {
        const auto found = _markerLines.find(id);
        return found == _markerLines.end() ? _line : found->second;
    }
    void setMarkerLine(int id, int line) { _markerLines.emplace(id, line); }

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::string& getSource() const { return _source; }
    void setSource(const std::string& source) { _source = source; }

    const std::string& getSourceFolder() const { return _sourceFolder; }
    void setSourceFolder(const std::string& sourceFolder) { _sourceFolder = sourceFolder; }

    const std::string& getSignature() const { return _signature; }
    void setSignature(const std::string& signature) { _signature = signature; }

    // Name of the model's sub-node to use; empty for the whole model.
    const std::string& getObject() const { return _object; }
    void setObject(const std::string& object) { _object = object; }

    const std::string& getVideo() const { return _video; }
    void setVideo(const std::string& video) { _video = video; }

    const std::string& getAudio() const { return _audio; }
    void setAudio(const std::string& audio) { _audio = audio; }

    // "ARObject", "ARVideo", "ARAudio" or "ARLight".
    const std::string& getType() const { return _type; }
    void setType(const std::string& type) { _type = type; }

    bool getLoop() const { return _loop; }
    void setLoop(bool loop) { _loop = loop; }

    bool getIsOccluder() const { return _isOccluder; }
    void setIsOccluder(bool isOccluder) { _isOccluder = isOccluder; }

    bool getIsVisible() const { return _isVisible; }
    void setIsVisible(bool isVisible) { _isVisible = isVisible; }

    bool getIgnore() const { return _ignore; }
    void setIgnore(bool ignore) { _ignore = ignore; }

    bool getUseProperties() const { return _useProperties; }
    void setUseProperties(bool useProperties) { _useProperties = useProperties; }

    bool getDirectional() const { return _directional; }
    void setDirectional(bool directional) { _directional = directional; }

    const osg::Vec3f& getPosition() const { return _position; }
    void setPosition(const osg::Vec3f& position) { _position = position; }

    const osg::Vec3f& getDirection() const { return _direction; }
    void setDirection(const osg::Vec3f& direction) { _direction = direction; }

    float getSpotCutoff() const { return _spotCutoff; }
    void setSpotCutoff(float spotCutoff) { _spotCutoff = spotCutoff; }

    float getSpotExponent() const { return _spotExponent; }
    void setSpotExponent(float spotExponent) { _spotExponent = spotExponent; }

    // 0 = low, 1 = med, 2 = high.
    int getDetail() const { return _detail; }
    void setDetail(int detail) { _detail = detail; }

    bool getChromaKey() const { return _chromaKey; }
    void setChromaKey(bool chromaKey) { _chromaKey = chromaKey; }

    bool getChromaKeyFromGreenScreen() const { return _chromaKeyFromGreenScreen; }
    void setChromaKeyFromGreenScreen(bool fromGreenScreen) { _chromaKeyFromGreenScreen = fromGreenScreen; }

    bool getLighting() const { return _lighting; }
    void setLighting(bool lighting) { _lighting = lighting; }

    const std::string& getDescriptionFile() const { return _descriptionFile; }
    void setDescriptionFile(const std::string& descriptionFile) { _descriptionFile = descriptionFile; }

    const std::string& getEventsFile() const { return _eventsFile; }
    void setEventsFile(const std::string& eventsFile) { _eventsFile = eventsFile; }

    const std::string& getMenuFile() const { return _menuFile; }
    void setMenuFile(const std::string& menuFile) { _menuFile = menuFile; }

    const std::vector<std::string>& getHotspots() const { return _hotspots; }
    void setHotspots(const std::vector<std::string>& hotspots) { _hotspots = hotspots; }
    void addHotspot(const std::string& hotspot) { _hotspots.push_back(hotspot); }

    const osg::Vec3f& getTranslation() const { return _translation; }
    void setTranslation(const osg::Vec3f& translation) { _translation = translation; }

    // 0 = x, 1 = y, 2 = z.
    int getRotationAxis() const { return _rotationAxis; }
    void setRotationAxis(int rotationAxis) { _rotationAxis = rotationAxis; }

    // Radians.
    float getRotationAngle() const { return _rotationAngle; }
    void setRotationAngle(float rotationAngle) { _rotationAngle = rotationAngle; }

    const osg::Vec3f& getScale() const { return _scale; }
    void setScale(const osg::Vec3f& scale) { _scale = scale; }

    bool getAllMarkers() const { return _allMarkers; }
    void setAllMarkers(bool allMarkers) { _allMarkers = allMarkers; }

    // Marker IDs in order of first appearance; each has exactly one layer in getMarkerLayers.
    const std::vector<int>& getMarkerIds() const { return _markerIds; }
    const std::map<int, int>& getMarkerLayers() const { return _markerLayers; }
    // Puts the object on a marker's layer; an ID already present keeps its first layer. IDs and
    // layers are only changed together, through this and clearMarkers.
    void addMarker(int id, int layer)
    {
        if (_markerLayers.count(id))
            return;
        _markerIds.push_back(id);
        _markerLayers[id] = layer;
    }
    void clearMarkers()
    {
        _markerIds.clear();
        _markerLayers.clear();
    }
    // The ID at index, or -1 past the end.
    int getMarkerId(unsigned int index) const { return index < _markerIds.size() ? _markerIds[index] : -1; }

    // An object needs a type and somewhere to sit.
    bool isValid() const { return !_type.empty() && (_allMarkers || !_markerIds.empty()); }

private:
    std::string _name;
    std::string _source;
    std::string _sourceFolder;
    std::string _signature;
    std::string _object;
    std::string _video;
    std::string _audio;
    std::string _type;
    bool _loop = true;
    bool _isOccluder = false;
    bool _isVisible = true;
    bool _ignore = false;
    bool _useProperties = false;
    bool _directional = false;
    osg::Vec3f _position{0.0f, 0.0f, 0.0f};
    osg::Vec3f _direction{0.0f, 0.0f, 1.0f};
    float _spotCutoff = 180.0f;
    float _spotExponent = 96.0f;
    int _detail = 1;
    bool _chromaKey = false;
    bool _chromaKeyFromGreenScreen = true;
    bool _lighting = false;
    std::string _descriptionFile;
    std::string _eventsFile;
    std::string _menuFile;
    std::vector<std::string> _hotspots;
    osg::Vec3f _translation{0.0f, 0.0f, 0.0f};
    int _rotationAxis = 0;
    float _rotationAngle = 0.0f;
    osg::Vec3f _scale{1.0f, 1.0f, 1.0f};
    bool _allMarkers = false;
    std::vector<int> _markerIds;
    std::map<int, int> _markerLayers;
    int _line = 0;
    int _modelLine = 0;
    std::map<int, int> _markerLines;
};

// The scene settings file as read: the objects, the video textures by node tag, the scene-wide
// model, the authoring host, the start message and descriptive metadata (reported only).
class SceneData
{
public:
    SceneData() = default;

    const std::vector<ObjectData>& getObjects() const { return _objects; }
    std::vector<ObjectData>& getObjects() { return _objects; }

    // Node tag to movie file.
    const std::map<std::string, std::string>& getVideos() const { return _videos; }
    std::map<std::string, std::string>& getVideos() { return _videos; }

    const std::string& getSource() const { return _source; }
    void setSource(const std::string& source) { _source = source; }

    const std::string& getSourceFolder() const { return _sourceFolder; }
    void setSourceFolder(const std::string& sourceFolder) { _sourceFolder = sourceFolder; }

    const std::string& getAuthoringSoftware() const { return _authoringSoftware; }
    void setAuthoringSoftware(const std::string& authoringSoftware)
    {
        _authoringSoftware = authoringSoftware;
    }

    const std::string& getUnits() const { return _units; }
    void setUnits(const std::string& units) { _units = units; }

    bool getShowMessage() const { return _showMessage; }
    void setShowMessage(bool showMessage) { _showMessage = showMessage; }

    const std::string& getMessage() const { return _message; }
    void setMessage(const std::string& message) { _message = message; }

    const std::string& getPlatform() const { return _platform; }
    void setPlatform(const std::string& platform) { _platform = platform; }

    const std::string& getTitle() const { return _title; }
    void setTitle(const std::string& title) { _title = title; }

    const std::string& getAuthor() const { return _author; }
    void setAuthor(const std::string& author) { _author = author; }

    const std::string& getDescription() const { return _description; }
    void setDescription(const std::string& description) { _description = description; }

    const std::string& getSupportUrl() const { return _supportUrl; }
    void setSupportUrl(const std::string& supportUrl) { _supportUrl = supportUrl; }

    const std::string& getLatitude() const { return _latitude; }
    void setLatitude(const std::string& latitude) { _latitude = latitude; }

    const std::string& getLongitude() const { return _longitude; }
    void setLongitude(const std::string& longitude) { _longitude = longitude; }

    const std::string& getAltitude() const { return _altitude; }
    void setAltitude(const std::string& altitude) { _altitude = altitude; }

private:
    std::vector<ObjectData> _objects;
    std::map<std::string, std::string> _videos;
    std::string _source;
    std::string _sourceFolder;
    std::string _authoringSoftware;
    std::string _units = "meters";
    bool _showMessage = true;
    std::string _message = "Novaro(TM)";
    std::string _platform = "standalone";
    std::string _title = "N.A.";
    std::string _author = "N.A.";
    std::string _description = "N.A.";
    std::string _supportUrl = "N.A.";
    std::string _latitude = "N.A.";
    std::string _longitude = "N.A.";
    std::string _altitude = "N.A.";
};

} // namespace Novaro
