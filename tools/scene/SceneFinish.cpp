#include "SceneFinish.h"

#include "MarkerSheet.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <osg/Notify>

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace Novaro
{

namespace
{

// The seed of "novaro-scene new", so that both make the same pattern for the same marker.
const unsigned kPatternSeed = 1;
// Generated patterns are chosen by marker ID, so that a marker keeps its pattern (and its printed
// sheet stays valid) whatever other markers the scene gains or loses; IDs above this are refused.
const unsigned kLargestGeneratedId = 1000;

bool isSquare(const MarkerData& marker)
{
    return marker.getType() == "single" || marker.getType() == "SINGLE";
}

// A settings file name of the scene as a path: relative names are in the folder.
fs::path inFolder(const fs::path& folder, const std::string& name)
{
    const fs::path path(name);
    return path.is_absolute() ? path : folder / path;
}

template <typename Reader> bool readSettings(const fs::path& file, Reader& reader)
{
    if (!reader.loadFile() || !reader.parse())
    {
        std::cerr << "novaro-scene finish: cannot read " << file.string() << std::endl;
        return false;
    }
    return true;
}

// The marker's pattern: the existing file, else made from its picture or generated and saved.
bool patternOf(const fs::path& folder, const MarkerData& marker,
               const std::vector<osgART::Pattern>& generated, osgART::Pattern& pattern)
{
    const fs::path file = inFolder(folder, marker.getPath());
    std::error_code error;
    if (fs::is_regular_file(file, error))
    {
        std::string reason;
        if (pattern.load(file.string(), &reason))
            return true;
        std::cerr << "novaro-scene finish: cannot read pattern " << file.string() << ": " << reason
                  << std::endl;
        return false;
    }
    if (!marker.getImage().empty())
    {
        cv::Mat image;
        std::string reason;
        const fs::path picture = inFolder(folder, marker.getImage());
        if (!readImageFile(picture.string(), image, reason) || !pattern.setFromImage(image))
        {
            std::cerr << "novaro-scene finish: cannot make the pattern of marker " << marker.getId()
                      << " from " << picture.string() << " " << reason << std::endl;
            return false;
        }
    }
    else if (marker.getId() >= 1 && marker.getId() <= generated.size())
        pattern = generated[marker.getId() - 1];
    else
    {
        std::cerr << "novaro-scene finish: marker " << marker.getId()
                  << " has no pattern: generated patterns "
                  << "are for IDs 1 to " << kLargestGeneratedId << std::endl;
        return false;
    }
    fs::create_directories(file.parent_path(), error);
    if (!pattern.save(file.string()))
    {
        std::cerr << "novaro-scene finish: cannot write " << file.string() << std::endl;
        return false;
    }
    std::cout << "Wrote " << file.string() << std::endl;
    return true;
}

bool writeCameras(const fs::path& folder)
{
    const fs::path file = folder / "video.xml";
    XMLVideoParserManager reader(file.string());
    if (!readSettings(file, reader))
        return false;
    const VideoData& video = reader.getData();
    for (const VideoCamera& camera : video.getCameras())
    {
        const fs::path path = inFolder(folder, camera.getPath());
        std::error_code error;
        if (camera.getPath().empty() || fs::exists(path, error))
            continue;
        const auto format =
            std::find_if(video.getFormats().begin(), video.getFormats().end(),
                         [&](const VideoFormat& f) { return f.getName() == camera.getFormat(); });
        const int width = format == video.getFormats().end() ? 640 : int(format->getWidth());
        const int height = format == video.getFormats().end() ? 480 : int(format->getHeight());
        if (width < 16 || height < 16 || !makeDefaultCamera(width, height, false).saveBinary(path.string()))
        {
            std::cerr << "novaro-scene finish: cannot write camera " << path.string() << std::endl;
            return false;
        }
        std::cout << "Wrote " << path.string() << ", a generic camera for " << width << "x" << height
                  << " (calibrate yours with novaro-calibrate for a closer fit)." << std::endl;
    }
    return true;
}

} // namespace

int finishScene(const std::string& directory)
{
    const fs::path folder(directory);
    // The readers' own progress lines are not for this tool's user.
    osg::setNotifyLevel(osg::ALWAYS);
    const fs::path markersFile = folder / "markers.xml";
    XMLMarkersParserManager markers(markersFile.string());
    if (!readSettings(markersFile, markers) || !writeCameras(folder))
        return 1;

    // The generator makes its patterns one after another from its seed, so the first N are the same
    // whatever N is: only as many as the largest ID asks for are made.
    unsigned largestId = 0;
    for (const MarkerData& marker : markers.getData().getMarkers())
        if (isSquare(marker) && marker.getId() <= kLargestGeneratedId)
            largestId = std::max(largestId, marker.getId());
    const std::vector<osgART::Pattern> generated = makeDistinctPatterns(largestId, kPatternSeed);
    std::vector<SheetMarker> sheet;
    for (const MarkerData& marker : markers.getData().getMarkers())
    {
        if (marker.getType() == "image")
            std::cout
                << "Print "
                << inFolder(folder, marker.getImage().empty() ? marker.getPath() : marker.getImage()).string()
                << " " << marker.getSize() << " mm wide: it is marker " << marker.getId() << " ("
                << marker.getName() << ")." << std::endl;
        if (!isSquare(marker))
            continue;
        osgART::Pattern pattern;
        if (!patternOf(folder, marker, generated, pattern))
            return 1;
        sheet.push_back(
            {marker.getName() + " (" + std::to_string(marker.getId()) + ")", pattern, marker.getSize()});
    }
    if (sheet.empty())
        return 0;
    std::string error;
    const fs::path pdf = folder / "markers.pdf";
    std::vector<SheetPlacement> placements;
    if (!writeMarkerSheet(pdf.string(), sheet, error, &placements))
    {
        std::cerr << "novaro-scene finish: " << error << std::endl;
        return 1;
    }
    std::cout << "Wrote " << pdf.string() << ": print it at actual size (no fit-to-page)." << std::endl;
    // Where each black square is, to check a print with a ruler (and to film the sheet in tests).
    for (size_t i = 0; i < sheet.size() && i < placements.size(); ++i)
        std::cout << "  " << sheet[i].name << ": page " << placements[i].page + 1 << ", " << placements[i].x
                  << " mm from the left, " << placements[i].y << " mm from the top, " << placements[i].size
                  << " mm wide" << std::endl;
    return 0;
}

} // namespace Novaro
