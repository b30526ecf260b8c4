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

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::string& getSource() const { return source_; }
    void setSource(const std::string& source) { source_ = source; }

    const std::string& getSourceFolder() const { return source_folder_; }
    void setSourceFolder(const std::string& sourceFolder) { source_folder_ = sourceFolder; }

    const std::string& getSignature() const { return signature_; }
    void setSignature(const std::string& signature) { signature_ = signature; }

    // Name of the model's sub-node to use; empty for the whole model.
    const std::string& getObject() const { return object_; }
    void setObject(const std::string& object) { object_ = object; }

    const std::string& getVideo() const { return video_; }
    void setVideo(const std::string& video) { video_ = video; }

    const std::string& getAudio() const { return audio_; }
    void setAudio(const std::string& audio) { audio_ = audio; }

    // "ARObject", "ARVideo", "ARAudio" or "ARLight".
    const std::string& getType() const { return type_; }
    void setType(const std::string& type) { type_ = type; }

    bool getLoop() const { return loop_; }
    void setLoop(bool loop) { loop_ = loop; }

    bool getIsOccluder() const { return is_occluder_; }
    void setIsOccluder(bool isOccluder) { is_occluder_ = isOccluder; }

    bool getIsVisible() const { return is_visible_; }
    void setIsVisible(bool isVisible) { is_visible_ = isVisible; }

    bool getIgnore() const { return ignore_; }
    void setIgnore(bool ignore) { ignore_ = ignore; }

    bool getUseProperties() const { return use_properties_; }
    void setUseProperties(bool useProperties) { use_properties_ = useProperties; }

    bool getDirectional() const { return directional_; }
    void setDirectional(bool directional) { directional_ = directional; }

    const osg::Vec3f& getPosition() const { return position_; }
    void setPosition(const osg::Vec3f& position) { position_ = position; }

    const osg::Vec3f& getDirection() const { return direction_; }
    void setDirection(const osg::Vec3f& direction) { direction_ = direction; }

    float getSpotCutoff() const { return spot_cutoff_; }
    void setSpotCutoff(float spotCutoff) { spot_cutoff_ = spotCutoff; }

    float getSpotExponent() const { return spot_exponent_; }
    void setSpotExponent(float spotExponent) { spot_exponent_ = spotExponent; }

    // 0 = low, 1 = med, 2 = high.
    int getDetail() const { return detail_; }
    void setDetail(int detail) { detail_ = detail; }

    bool getChromaKey() const { return chroma_key_; }
    void setChromaKey(bool chromaKey) { chroma_key_ = chromaKey; }

    bool getChromaKeyFromGreenScreen() const { return chroma_key_from_green_screen_; }
    void setChromaKeyFromGreenScreen(bool fromGreenScreen)
    {
        chroma_key_from_green_screen_ = fromGreenScreen;
    }

    bool getLighting() const { return lighting_; }
    void setLighting(bool lighting) { lighting_ = lighting; }

    const std::string& getDescriptionFile() const { return description_file_; }
    void setDescriptionFile(const std::string& descriptionFile) { description_file_ = descriptionFile; }

    const std::string& getEventsFile() const { return events_file_; }
    void setEventsFile(const std::string& eventsFile) { events_file_ = eventsFile; }

    const std::string& getMenuFile() const { return menu_file_; }
    void setMenuFile(const std::string& menuFile) { menu_file_ = menuFile; }

    const std::vector<std::string>& getHotspots() const { return hotspots_; }
    void setHotspots(const std::vector<std::string>& hotspots) { hotspots_ = hotspots; }
    void addHotspot(const std::string& hotspot) { hotspots_.push_back(hotspot); }

    const osg::Vec3f& getTranslation() const { return translation_; }
    void setTranslation(const osg::Vec3f& translation) { translation_ = translation; }

    // 0 = x, 1 = y, 2 = z.
    int getRotationAxis() const { return rotation_axis_; }
    void setRotationAxis(int rotationAxis) { rotation_axis_ = rotationAxis; }

    // Radians.
    float getRotationAngle() const { return rotation_angle_; }
    void setRotationAngle(float rotationAngle) { rotation_angle_ = rotationAngle; }

    const osg::Vec3f& getScale() const { return scale_; }
    void setScale(const osg::Vec3f& scale) { scale_ = scale; }

    bool getAllMarkers() const { return all_markers_; }
    void setAllMarkers(bool allMarkers) { all_markers_ = allMarkers; }

    // Marker IDs in order of first appearance; each has exactly one layer in getMarkerLayers.
    const std::vector<int>& getMarkerIds() const { return marker_ids_; }
    const std::map<int, int>& getMarkerLayers() const { return marker_layers_; }
    // Puts the object on a marker's layer; an ID already present keeps its first layer. IDs and
    // layers are only changed together, through this and clearMarkers.
    void addMarker(int id, int layer)
    {
        if (marker_layers_.count(id))
            return;
        marker_ids_.push_back(id);
        marker_layers_[id] = layer;
    }
    void clearMarkers()
    {
        marker_ids_.clear();
        marker_layers_.clear();
    }
    // The ID at index, or -1 past the end.
    int getMarkerId(unsigned int index) const { return index < marker_ids_.size() ? marker_ids_[index] : -1; }

    // An object needs a type and somewhere to sit.
    bool isValid() const { return !type_.empty() && (all_markers_ || !marker_ids_.empty()); }

private:
    std::string name_;
    std::string source_;
    std::string source_folder_;
    std::string signature_;
    std::string object_;
    std::string video_;
    std::string audio_;
    std::string type_;
    bool loop_ = true;
    bool is_occluder_ = false;
    bool is_visible_ = true;
    bool ignore_ = false;
    bool use_properties_ = false;
    bool directional_ = false;
    osg::Vec3f position_{0.0f, 0.0f, 0.0f};
    osg::Vec3f direction_{0.0f, 0.0f, 1.0f};
    float spot_cutoff_ = 180.0f;
    float spot_exponent_ = 96.0f;
    int detail_ = 1;
    bool chroma_key_ = false;
    bool chroma_key_from_green_screen_ = true;
    bool lighting_ = false;
    std::string description_file_;
    std::string events_file_;
    std::string menu_file_;
    std::vector<std::string> hotspots_;
    osg::Vec3f translation_{0.0f, 0.0f, 0.0f};
    int rotation_axis_ = 0;
    float rotation_angle_ = 0.0f;
    osg::Vec3f scale_{1.0f, 1.0f, 1.0f};
    bool all_markers_ = false;
    std::vector<int> marker_ids_;
    std::map<int, int> marker_layers_;
};

// The scene settings file as read: the objects, the video textures by node tag, the scene-wide
// model, the authoring host, the start message and descriptive metadata (reported only).
class SceneData
{
public:
    SceneData() = default;

    const std::vector<ObjectData>& getObjects() const { return objects_; }
    std::vector<ObjectData>& getObjects() { return objects_; }

    // Node tag to movie file.
    const std::map<std::string, std::string>& getVideos() const { return videos_; }
    std::map<std::string, std::string>& getVideos() { return videos_; }

    const std::string& getSource() const { return source_; }
    void setSource(const std::string& source) { source_ = source; }

    const std::string& getSourceFolder() const { return source_folder_; }
    void setSourceFolder(const std::string& sourceFolder) { source_folder_ = sourceFolder; }

    const std::string& getAuthoringSoftware() const { return authoring_software_; }
    void setAuthoringSoftware(const std::string& authoringSoftware)
    {
        authoring_software_ = authoringSoftware;
    }

    const std::string& getUnits() const { return units_; }
    void setUnits(const std::string& units) { units_ = units; }

    bool getShowMessage() const { return show_message_; }
    void setShowMessage(bool showMessage) { show_message_ = showMessage; }

    const std::string& getMessage() const { return message_; }
    void setMessage(const std::string& message) { message_ = message; }

    const std::string& getPlatform() const { return platform_; }
    void setPlatform(const std::string& platform) { platform_ = platform; }

    const std::string& getTitle() const { return title_; }
    void setTitle(const std::string& title) { title_ = title; }

    const std::string& getAuthor() const { return author_; }
    void setAuthor(const std::string& author) { author_ = author; }

    const std::string& getDescription() const { return description_; }
    void setDescription(const std::string& description) { description_ = description; }

    const std::string& getSupportUrl() const { return support_url_; }
    void setSupportUrl(const std::string& supportUrl) { support_url_ = supportUrl; }

    const std::string& getLatitude() const { return latitude_; }
    void setLatitude(const std::string& latitude) { latitude_ = latitude; }

    const std::string& getLongitude() const { return longitude_; }
    void setLongitude(const std::string& longitude) { longitude_ = longitude; }

    const std::string& getAltitude() const { return altitude_; }
    void setAltitude(const std::string& altitude) { altitude_ = altitude; }

private:
    std::vector<ObjectData> objects_;
    std::map<std::string, std::string> videos_;
    std::string source_;
    std::string source_folder_;
    std::string authoring_software_;
    std::string units_ = "meters";
    bool show_message_ = true;
    std::string message_ = "Novaro(TM)";
    std::string platform_ = "standalone";
    std::string title_ = "N.A.";
    std::string author_ = "N.A.";
    std::string description_ = "N.A.";
    std::string support_url_ = "N.A.";
    std::string latitude_ = "N.A.";
    std::string longitude_ = "N.A.";
    std::string altitude_ = "N.A.";
};

} // namespace Novaro
