#pragma once

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

// One part of a multi marker: its pattern and size, and its number among the scene's markers
// (0: none), which chooses the pattern made for it when its pattern file is missing.
class SubmarkerData
{
public:
    SubmarkerData() = default;

    unsigned int getId() const { return _id; }
    void setId(unsigned int id) { _id = id; }

    const std::string& getTag() const { return _tag; }
    void setTag(const std::string& tag) { _tag = tag; }

    const std::string& getPath() const { return _path; }
    void setPath(const std::string& path) { _path = path; }

    const std::string& getImage() const { return _image; }
    void setImage(const std::string& image) { _image = image; }

    float getSize() const { return _size; }
    // A size of 0 or less (or not a number) stores 80.
    void setSize(float size) { _size = size > 0.0f ? size : 80.0f; }

private:
    std::string _tag;
    std::string _path;
    std::string _image;
    float _size = 80.0f;
    unsigned int _id = 0;
};

// One tracked marker: how it is recognised, how the content on it is layered and sequenced, and
// how its coordinate system is corrected. The setters of size, fit factor, sequence duration and
// layer durations replace values of 0 or less (or not a number) by their defaults.
class MarkerData
{
public:
    MarkerData() = default;

    // Line of the element this entry was read from (0 when not read from a file), for messages.
    int getLine() const { return _line; }
    void setLine(int line) { _line = line; }

    const std::vector<SubmarkerData>& getSubmarkers() const { return _submarkers; }
    std::vector<SubmarkerData>& getSubmarkers() { return _submarkers; }

    // Layer ID to duration in seconds, ordered by ID.
    const std::map<int, double>& getLayers() const { return _layers; }
    std::map<int, double>& getLayers() { return _layers; }
    // Adds or replaces a layer; a duration of 0 or less stores 5 seconds.
    void addLayer(int id, double duration) { _layers[id] = duration > 0.0 ? duration : 5.0; }

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::string& getTag() const { return _tag; }
    void setTag(const std::string& tag) { _tag = tag; }

    const std::string& getTransformsFile() const { return _transformsFile; }
    void setTransformsFile(const std::string& transformsFile) { _transformsFile = transformsFile; }

    const std::string& getPath() const { return _path; }
    void setPath(const std::string& path) { _path = path; }

    const std::string& getImage() const { return _image; }
    void setImage(const std::string& image) { _image = image; }

    // "single"/"SINGLE" or "multi"/"MULTI".
    const std::string& getType() const { return _type; }
    void setType(const std::string& type) { _type = type; }
    bool isMulti() const { return _type == "multi" || _type == "MULTI"; }
    bool isSingle() const { return _type == "single" || _type == "SINGLE"; }
    /// A printed picture tracked by its natural features: path names the picture, size its width.
    bool isImage() const { return _type == "image" || _type == "IMAGE"; }

    unsigned int getId() const { return _id; }
    void setId(unsigned int id) { _id = id; }

    float getSize() const { return _size; }
    void setSize(float size) { _size = size > 0.0f ? size : 80.0f; }

    float getFitFactor() const { return _fitFactor; }
    void setFitFactor(float fitFactor) { _fitFactor = fitFactor > 0.0f ? fitFactor : 1.0f; }

    bool getShadowed() const { return _shadowed; }
    void setShadowed(bool shadowed) { _shadowed = shadowed; }

    bool getSequence() const { return _sequence; }
    void setSequence(bool sequence) { _sequence = sequence; }

    double getSequenceDuration() const { return _sequenceDuration; }
    void setSequenceDuration(double duration) { _sequenceDuration = duration > 0.0 ? duration : 100.0; }

    bool getSequenceLoop() const { return _sequenceLoop; }
    void setSequenceLoop(bool sequenceLoop) { _sequenceLoop = sequenceLoop; }

    bool getFit() const { return _fit; }
    void setFit(bool fit) { _fit = fit; }

private:
    std::vector<SubmarkerData> _submarkers;
    std::map<int, double> _layers;
    std::string _name = "generic_marker";
    std::string _tag;
    std::string _transformsFile;
    std::string _path;
    std::string _image;
    std::string _type = "single";
    unsigned int _id = 0;
    float _size = 80.0f;
    float _fitFactor = 1.0f;
    bool _shadowed = false;
    bool _sequence = false;
    double _sequenceDuration = 100.0;
    bool _sequenceLoop = false;
    bool _fit = false;
    int _line = 0;
};

// The markers settings file as read: the markers in file order and the tracker-wide pattern and
// transforms files.
class MarkersData
{
public:
    MarkersData() = default;

    const std::vector<MarkerData>& getMarkers() const { return _markers; }
    std::vector<MarkerData>& getMarkers() { return _markers; }

    const std::string& getPatternsFile() const { return _patternsFile; }
    void setPatternsFile(const std::string& patternsFile) { _patternsFile = patternsFile; }

    const std::string& getTransformsFile() const { return _transformsFile; }
    void setTransformsFile(const std::string& transformsFile) { _transformsFile = transformsFile; }

private:
    std::vector<MarkerData> _markers;
    std::string _patternsFile;
    std::string _transformsFile;
};

} // namespace Novaro
