#pragma once

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

// One part of a multi marker: its pattern and size.
class SubmarkerData
{
public:
    SubmarkerData() = default;

    const std::string& getTag() const { return tag_; }
    void setTag(const std::string& tag) { tag_ = tag; }

    const std::string& getPath() const { return path_; }
    void setPath(const std::string& path) { path_ = path; }

    const std::string& getImage() const { return image_; }
    void setImage(const std::string& image) { image_ = image; }

    float getSize() const { return size_; }
    // A size of 0 or less (or not a number) stores 80.
    void setSize(float size) { size_ = size > 0.0f ? size : 80.0f; }

private:
    std::string tag_;
    std::string path_;
    std::string image_;
    float size_ = 80.0f;
};

// One tracked marker: how it is recognised, how the content on it is layered and sequenced, and
// how its coordinate system is corrected. The setters of size, fit factor, sequence duration and
// layer durations replace values of 0 or less (or not a number) by their defaults.
class MarkerData
{
public:
    MarkerData() = default;

    const std::vector<SubmarkerData>& getSubmarkers() const { return submarkers_; }
    std::vector<SubmarkerData>& getSubmarkers() { return submarkers_; }

    // Layer ID to duration in seconds, ordered by ID.
    const std::map<int, double>& getLayers() const { return layers_; }
    std::map<int, double>& getLayers() { return layers_; }
    // Adds or replaces a layer; a duration of 0 or less stores 5 seconds.
    void addLayer(int id, double duration) { layers_[id] = duration > 0.0 ? duration : 5.0; }

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::string& getTag() const { return tag_; }
    void setTag(const std::string& tag) { tag_ = tag; }

    const std::string& getTransformsFile() const { return transforms_file_; }
    void setTransformsFile(const std::string& transformsFile) { transforms_file_ = transformsFile; }

    const std::string& getPath() const { return path_; }
    void setPath(const std::string& path) { path_ = path; }

    const std::string& getImage() const { return image_; }
    void setImage(const std::string& image) { image_ = image; }

    // "single"/"SINGLE" or "multi"/"MULTI".
    const std::string& getType() const { return type_; }
    void setType(const std::string& type) { type_ = type; }
    bool isMulti() const { return type_ == "multi" || type_ == "MULTI"; }
    bool isSingle() const { return type_ == "single" || type_ == "SINGLE"; }

    unsigned int getId() const { return id_; }
    void setId(unsigned int id) { id_ = id; }

    float getSize() const { return size_; }
    void setSize(float size) { size_ = size > 0.0f ? size : 80.0f; }

    float getFitFactor() const { return fit_factor_; }
    void setFitFactor(float fitFactor) { fit_factor_ = fitFactor > 0.0f ? fitFactor : 1.0f; }

    bool getShadowed() const { return shadowed_; }
    void setShadowed(bool shadowed) { shadowed_ = shadowed; }

    bool getSequence() const { return sequence_; }
    void setSequence(bool sequence) { sequence_ = sequence; }

    double getSequenceDuration() const { return sequence_duration_; }
    void setSequenceDuration(double duration) { sequence_duration_ = duration > 0.0 ? duration : 100.0; }

    bool getSequenceLoop() const { return sequence_loop_; }
    void setSequenceLoop(bool sequenceLoop) { sequence_loop_ = sequenceLoop; }

    bool getFit() const { return fit_; }
    void setFit(bool fit) { fit_ = fit; }

private:
    std::vector<SubmarkerData> submarkers_;
    std::map<int, double> layers_;
    std::string name_ = "generic_marker";
    std::string tag_;
    std::string transforms_file_;
    std::string path_;
    std::string image_;
    std::string type_ = "single";
    unsigned int id_ = 0;
    float size_ = 80.0f;
    float fit_factor_ = 1.0f;
    bool shadowed_ = false;
    bool sequence_ = false;
    double sequence_duration_ = 100.0;
    bool sequence_loop_ = false;
    bool fit_ = false;
};

// The markers settings file as read: the markers in file order and the tracker-wide pattern and
// transforms files.
class MarkersData
{
public:
    MarkersData() = default;

    const std::vector<MarkerData>& getMarkers() const { return markers_; }
    std::vector<MarkerData>& getMarkers() { return markers_; }

    const std::string& getPatternsFile() const { return patterns_file_; }
    void setPatternsFile(const std::string& patternsFile) { patterns_file_ = patternsFile; }

    const std::string& getTransformsFile() const { return transforms_file_; }
    void setTransformsFile(const std::string& transformsFile) { transforms_file_ = transformsFile; }

private:
    std::vector<MarkerData> markers_;
    std::string patterns_file_;
    std::string transforms_file_;
};

} // namespace Novaro
