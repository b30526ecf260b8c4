#include "SceneFinish.h"

#include "MarkerSheet.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <osg/Notify>

#include <osgART/MarkerDescription.h>

#include <algorithm>
#include <cmath>
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

bool isBoard(const MarkerData& marker)
{
    return marker.getType() == "multi" || marker.getType() == "MULTI";
}

// What a missing pattern file is made from: the picture, else the generated pattern of the ID.
struct PatternSource
{
    std::string path; ///< the pattern file, as the markers file names it
    std::string image;
    unsigned id = 0;
};

PatternSource sourceOf(const MarkerData& marker)
{
    return {marker.getPath(), marker.getImage(), marker.getId()};
}

PatternSource sourceOf(const SubmarkerData& submarker)
{
    return {submarker.getPath(), submarker.getImage(), submarker.getId()};
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
bool patternOf(const fs::path& folder, const PatternSource& marker,
               const std::vector<osgART::Pattern>& generated, osgART::Pattern& pattern)
{
    const fs::path file = inFolder(folder, marker.path);
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
    if (!marker.image.empty())
    {
        cv::Mat image;
        std::string reason;
        const fs::path picture = inFolder(folder, marker.image);
        if (!readImageFile(picture.string(), image, reason) || !pattern.setFromImage(image))
        {
            std::cerr << "novaro-scene finish: cannot make the pattern of marker " << marker.id << " from "
                      << picture.string() << " " << reason << std::endl;
            return false;
        }
    }
    else if (marker.id >= 1 && marker.id <= generated.size())
        pattern = generated[marker.id - 1];
    else
    {
        std::cerr << "novaro-scene finish: marker " << marker.id << " has no pattern: generated patterns "
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

// A square lying flat on its board, square to the board's axes or a quarter turn from them: the
// rows [c -s 0 x] [s c 0 y] [0 0 1 0]. Its counter-clockwise quarter turns, or -1.
int quarterTurnsOf(const double (&pose)[3][4])
{
    const double tolerance = 1e-3;
    const int cosines[4] = {1, 0, -1, 0}, sines[4] = {0, 1, 0, -1};
    for (int turns = 0; turns < 4; ++turns)
    {
        const double c = cosines[turns], s = sines[turns];
        const double flat[3][4] = {{c, -s, 0.0, pose[0][3]}, {s, c, 0.0, pose[1][3]}, {0.0, 0.0, 1.0, 0.0}};
        bool same = true;
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 4; ++column)
                same = same && std::fabs(pose[row][column] - flat[row][column]) <= tolerance;
        if (same)
            return turns;
    }
    return -1;
}

// The printed name of a square: its markers-file tag and ID when a submarker names its pattern file,
// else the pattern file's name.
std::string squareName(const fs::path& folder, const MarkerData& board, const std::string& patternPath)
{
    const fs::path pattern = fs::path(patternPath).lexically_normal();
    for (const SubmarkerData& submarker : board.getSubmarkers())
        if (inFolder(folder, submarker.getPath()).lexically_normal() == pattern)
            return submarker.getTag() + " (" + std::to_string(submarker.getId()) + ")";
    return pattern.filename().string();
}

// The board's squares where its multi-marker file places them; false (with the reason) when the
// file or a pattern cannot be read or a square cannot be printed on a flat sheet.
bool boardSquares(const fs::path& folder, const MarkerData& board, std::vector<SheetSquare>& squares,
                  std::string& reason)
{
    osgART::MultiMarkerSetup setup;
    if (!setup.load(inFolder(folder, board.getPath()).string(), &reason))
        return false;
    for (size_t k = 0; k < setup.submarkers.size(); ++k)
    {
        const osgART::Submarker& submarker = setup.submarkers[k];
        SheetSquare square;
        square.quarterTurns = quarterTurnsOf(submarker.pose);
        if (square.quarterTurns < 0)
        {
            reason = "square " + std::to_string(k + 1) +
                     " does not lie flat on the board, square to it or a quarter turn from it";
            return false;
        }
        if (!square.pattern.load(submarker.patternPath, &reason))
            return false;
        square.size = submarker.size;
        square.x = submarker.pose[0][3];
        square.y = submarker.pose[1][3];
        square.name = squareName(folder, board, submarker.patternPath);
        squares.push_back(square);
    }
    return true;
}

// A board's missing square patterns, and the board on the sheet when its multi-marker file is
// there (without it, the player makes the file from the transforms file at start).
bool finishBoard(const fs::path& folder, const MarkerData& board,
                 const std::vector<osgART::Pattern>& generated, std::vector<SheetMarker>& sheet)
{
    for (const SubmarkerData& submarker : board.getSubmarkers())
    {
        osgART::Pattern pattern;
        if (!patternOf(folder, sourceOf(submarker), generated, pattern))
            return false;
    }
    const std::string label = board.getName() + " (" + std::to_string(board.getId()) + ")";
    std::error_code error;
    if (!fs::is_regular_file(inFolder(folder, board.getPath()), error))
    {
        std::cout << "Board " << label << " is not on the sheet: its multi-marker file " << board.getPath()
                  << " is not there." << std::endl;
        return true;
    }
    SheetMarker printed;
    printed.name = label;
    std::string reason;
    if (!boardSquares(folder, board, printed.squares, reason))
    {
        std::cerr << "novaro-scene finish: cannot print board " << label << ": " << reason << std::endl;
        return false;
    }
    sheet.push_back(printed);
    return true;
}

// Where each black square is, to check a print with a ruler (and to film the sheet in tests).
void printPlace(const std::string& name, const SheetPlacement& place)
{
    std::cout << "  " << name << ": page " << place.page + 1 << ", " << place.x << " mm from the left, "
              << place.y << " mm from the top, " << place.size << " mm wide" << std::endl;
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
    {
        if (isSquare(marker) && marker.getId() <= kLargestGeneratedId)
            largestId = std::max(largestId, marker.getId());
        for (const SubmarkerData& submarker : marker.getSubmarkers())
            if (submarker.getId() <= kLargestGeneratedId)
                largestId = std::max(largestId, submarker.getId());
    }
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
        if (isBoard(marker) && !finishBoard(folder, marker, generated, sheet))
            return 1;
        if (!isSquare(marker))
            continue;
        osgART::Pattern pattern;
        if (!patternOf(folder, sourceOf(marker), generated, pattern))
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
    for (size_t i = 0; i < sheet.size() && i < placements.size(); ++i)
    {
        if (sheet[i].squares.empty())
            printPlace(sheet[i].name, placements[i]);
        for (size_t k = 0; k < sheet[i].squares.size(); ++k)
            printPlace(sheet[i].name + ", square " + sheet[i].squares[k].name,
                       squarePlacement(sheet[i], placements[i], k));
    }
    return 0;
}

} // namespace Novaro
