#pragma once

#include <osg/Matrixd>
#include <osg/Vec2d>

#include <string>
#include <vector>

namespace osgART
{

/// A marker as the tracker is asked to add it: "single;PATH;SIZE;CX;CY" or "multi;PATH;SIZE;CX;CY"
/// (type in any letter case). SIZE is the marker width in the caller's units; (CX, CY) is the centre
/// of the pattern square in marker coordinates. "image;PATH;WIDTH" is an image target: PATH a JPEG
/// or PNG picture printed WIDTH wide, centred on the marker origin (a centre, when given, is
/// ignored).
struct MarkerDescription
{
    enum Type
    {
        SINGLE,
        MULTI,
        IMAGE
    };
    Type type = SINGLE;
    std::string path;
    double size = 0.0;
    osg::Vec2d centre;

    /// False, with a message in error, for malformed text.
    bool parse(const std::string& text, std::string* error = nullptr);
};

/// One square of a multi marker.
struct Submarker
{
    std::string patternPath; ///< resolved against the multi file's folder
    double size = 0.0;
    /// The submarker's pose in the multi-marker frame, row by row: a submarker point p maps to
    /// pose * (p, 1) in the multi-marker frame.
    double pose[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

/// Multi-marker file: lines starting with "#" are comments; then the number of submarkers; then per
/// submarker its pattern path (a line, relative to the file's folder), its size and three rows of
/// four numbers.
struct MultiMarkerSetup
{
    std::vector<Submarker> submarkers;

    bool load(const std::string& fileName, std::string* error = nullptr);
};

/// One entry of a tracker pattern file.
struct PatternFileEntry
{
    std::string name;
    std::string patternPath; ///< resolved against the pattern file's folder
    double size = 0.0;
    osg::Vec2d centre;
};

/// Tracker pattern file: lines starting with "#" are comments; a count N; then per marker four lines:
/// its name, its pattern path, its size and its centre "x y". N = 0 defines no markers.
struct TrackerPatternFile
{
    std::vector<PatternFileEntry> entries;

    bool load(const std::string& fileName, std::string* error = nullptr);
};

/// Joins a relative path to a folder (backslashes of relative names become "/"); absolute paths
/// ("/..." or a drive letter followed by ":\") stay as they are.
std::string resolvePath(const std::string& folder, const std::string& path);

} // namespace osgART
