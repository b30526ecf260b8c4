#pragma once

// The sample scene as a user plays it: copied into a folder of the test's own, with one still camera
// frame rendered by the synthetic camera (known marker corners), the player's screenshot, and ways
// to compare the screenshot with the camera frame.
#include "Display.h"
#include "PlayerProcess.h"

#include <osg/Geode>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <array>
#include <filesystem>
#include <fstream>
#include <regex>

namespace NovaroTest
{

inline const std::string RUN_DIRECTORY = NOVARO_RUN_DIR;
inline const std::string SAMPLES = std::string(NOVARO_SOURCE_DIR) + "/samples";

struct MarkerTruth
{
    std::array<osg::Vec2d, 4> corners; // camera pixels, rows from the top
    osg::Vec2d centre() const
    {
        osg::Vec2d sum;
        for (const osg::Vec2d& corner : corners)
            sum += corner;
        return sum / 4.0;
    }
};

// Sets a parameter of one of the folder's settings files (config.xml, tracker.xml...).
inline void setSettingsParameter(const TemporaryFolder& directory, const std::string& file,
                                 const std::string& name, const std::string& value)
{
    const std::string path = directory.file(file);
    const std::regex parameter("(<parameter name=\"" + name + "\">)[^<]*(</parameter>)");
    // Read before opening for writing: the output stream empties the file.
    const std::string text = readFile(path);
    std::ofstream(path.c_str()) << std::regex_replace(text, parameter, "$1" + value + "$2");
}

// The scene file of the objects, its start-up message off.
inline void writeSceneFile(const TemporaryFolder& directory, const std::string& objects)
{
    directory.write("scene.xml", "<scene name=\"test\" authoring_software=\"3dsmax\"><parameters>"
                                 "<parameter name=\"show_message\">false</parameter></parameters><objects>" +
                                     objects + "</objects></scene>");
}

// An object of the model on the marker, layer 0; 'more' goes inside it after the markers.
inline std::string objectXml(const std::string& name, const std::string& source, int marker = 1,
                             const std::string& more = std::string())
{
    return "<object name=\"" + name + "\" type=\"ARObject\"><model source=\"" + source +
           "\"/><markers><marker id=\"" + std::to_string(marker) + "\" layer=\"0\"/></markers>" + more +
           "</object>";
}

// A board of two squares 90 apart (tags "left" and "right"), as the transforms file a multi
// marker names: "board_places.osgt" in the folder.
inline bool writeBoardPlaces(const TemporaryFolder& directory)
{
    osg::ref_ptr<osg::Group> places = new osg::Group;
    for (const auto& place : {std::make_pair("left", -45.0), std::make_pair("right", 45.0)})
    {
        osg::ref_ptr<osg::MatrixTransform> node =
            new osg::MatrixTransform(osg::Matrixd::translate(place.second, 0, 0));
        node->setName(place.first);
        node->addChild(new osg::Geode);
        places->addChild(node.get());
    }
    return osgDB::writeNodeFile(*places, directory.file("board_places.osgt"));
}

// A markers file's multi marker of that board: its squares from marker_1.patt and marker_2.patt,
// the multi-marker file 'path' for the player to generate.
inline std::string boardMarkerXml(const std::string& name, int id, const std::string& path)
{
    return "<marker name=\"" + name + "\" tag=\"" + std::to_string(id) + "\" id=\"" + std::to_string(id) +
           "\" type=\"multi\" path=\"" + path +
           "\" size=\"60\" transforms_file=\"board_places.osgt\"><submarkers>"
           "<submarker tag=\"left\" path=\"patterns/marker_1.patt\" size=\"60\"/>"
           "<submarker tag=\"right\" path=\"patterns/marker_2.patt\" size=\"60\"/>"
           "</submarkers><layers><layer id=\"0\" time=\"5\"/></layers></marker>\n";
}

// The sample scene copied into a directory of the test's own, with one still camera frame
// rendered with the sample calibration and patterns.
class SampleScene
{
public:
    // The three sample markers, each alone at a random pose.
    SampleScene()
        : SampleScene("--pattern patterns/marker_1.patt --pattern patterns/marker_2.patt --pattern "
                      "patterns/marker_3.patt"
                      " --markers 3 --size 80 --min-width 70 --max-width 100 --max-tilt 35 --seed 11",
                      3)
    {
    }

    // A frame made with the given synthetic-camera arguments, showing this many markers.
    SampleScene(const std::string& frameArguments, size_t markerCount,
                const std::string& extraFile = std::string(), const std::string& extraText = std::string())
    {
        std::filesystem::copy(SAMPLES, _directory.path(),
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove_all(_directory.file("recorded"));
        // Multisampling costs the software renderer a third of every frame and half a second of
        // start-up; only the test that looks at edges keeps it.
        setSettingsParameter(_directory, "config.xml", "use_antialiasing", "false");
        if (!extraFile.empty())
            _directory.write(extraFile, extraText);
        const std::string command =
            "cd " + quote(_directory.path()) + " && " + quote(RUN_DIRECTORY + "/novaro-synthcam") +
            " --output frame%04d.png --truth truth.jsonl --camera camera_640x480.dat --frames 1 " +
            frameArguments + " > synthcam.log 2>&1";
        EXPECT_EQ(0, std::system(command.c_str())) << readFile(_directory.file("synthcam.log"));
        readTruth(markerCount);
    }

    const TemporaryFolder& directory() const { return _directory; }
    std::string frame() const { return _directory.file("frame0000.png"); }
    const std::vector<MarkerTruth>& markers() const { return _markers; }
    osg::ref_ptr<osg::Image> screenshot() const { return osgDB::readImageFile(_directory.file("shot.png")); }
    // The picture after the given frame of the last play, asked for with "-screenshot_frame".
    osg::ref_ptr<osg::Image> screenshot(int frame) const
    {
        return osgDB::readImageFile(_directory.file("shot-" + std::to_string(frame) + ".png"));
    }
    osg::ref_ptr<osg::Image> cameraFrame() const { return osgDB::readImageFile(frame()); }

    PlayerRun play(std::vector<std::string> extra = {},
                   const std::vector<std::string>& environment = {}) const
    {
        std::vector<std::string> arguments = {
            "-working_directory", _directory.path(), "-temporary_directory", _directory.path(),
            "-video_file",        frame(),           "-screenshot",          _directory.file("shot.png")};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runPlayer(RUN_DIRECTORY, arguments, environment);
    }

private:
    void readTruth(size_t markerCount)
    {
        const std::string truth = readFile(_directory.file("truth.jsonl"));
        const std::string line = truth.substr(0, truth.find('\n'));
        const std::regex cornersPattern(
            "\"corners\":\\[\\[([-0-9.e]+),([-0-9.e]+)\\],\\[([-0-9.e]+),([-0-9.e]+)\\],"
            "\\[([-0-9.e]+),([-0-9.e]+)\\],\\[([-0-9.e]+),([-0-9.e]+)\\]\\]");
        for (std::sregex_iterator match(line.begin(), line.end(), cornersPattern), end; match != end; ++match)
        {
            MarkerTruth marker;
            for (int corner = 0; corner < 4; ++corner)
                marker.corners[corner] =
                    osg::Vec2d(std::stod((*match)[1 + 2 * corner]), std::stod((*match)[2 + 2 * corner]));
            _markers.push_back(marker);
        }
        EXPECT_EQ(markerCount, _markers.size()) << line;
    }

    TemporaryFolder _directory;
    std::vector<MarkerTruth> _markers;
};

inline osg::Vec3i pixel(const osg::Image& image, int x, int rowFromTop)
{
    const unsigned char* data = image.data(x, image.t() - 1 - rowFromTop);
    return osg::Vec3i(data[0], data[1], data[2]);
}

inline int difference(const osg::Vec3i& a, const osg::Vec3i& b)
{
    return std::abs(a.x() - b.x()) + std::abs(a.y() - b.y()) + std::abs(a.z() - b.z());
}

// Compares the window picture with the camera frame at the window position's camera pixel,
// optionally mirrored or upside down, over a grid of points that avoids the markers (and what
// stands on them) and the two head-up texts. Returns the mean colour difference (sum over the
// three channels) per point.
inline double backgroundDifference(const osg::Image& shot, const osg::Image& frame,
                                   const std::vector<MarkerTruth>& markers, bool mirrored, bool upsideDown)
{
    int compared = 0;
    double total = 0.0;
    for (int y = 10; y < shot.t() - 10; y += 7)
        for (int x = 10; x < shot.s() - 10; x += 7)
        {
            const double cameraX = (x + 0.5) * frame.s() / shot.s();
            const double cameraY = (y + 0.5) * frame.t() / shot.t();
            bool nearMarker = false;
            for (const MarkerTruth& marker : markers)
            {
                const double reach = 1.3 * (marker.corners[0] - marker.corners[2]).length();
                nearMarker = nearMarker || (osg::Vec2d(cameraX, cameraY) - marker.centre()).length() < reach;
            }
            const bool nearText =
                (y < 40 && x < 200) || (y > shot.t() - 40 && std::abs(x - shot.s() / 2) < 150);
            if (nearMarker || nearText)
                continue;
            int sourceX = static_cast<int>(cameraX);
            int sourceY = static_cast<int>(cameraY);
            if (mirrored)
                sourceX = frame.s() - 1 - sourceX;
            if (upsideDown)
                sourceY = frame.t() - 1 - sourceY;
            ++compared;
            total += difference(pixel(shot, x, y), pixel(frame, sourceX, sourceY));
        }
    EXPECT_GT(compared, 500) << "too few background points to compare";
    return compared == 0 ? 1000.0 : total / compared;
}

// Pixels of a window region (rows from the top) that differ from the camera frame behind them by
// more than the threshold: something drawn over the video.
inline int drawnOver(const osg::Image& shot, const osg::Image& frame, int left, int top, int width,
                     int height, int threshold = 120)
{
    int drawn = 0;
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x)
            if (difference(pixel(shot, x, y),
                           pixel(frame, x * frame.s() / shot.s(), y * frame.t() / shot.t())) > threshold)
                ++drawn;
    return drawn;
}

// True when the window shows something other than the camera at the marker's centre: content
// drawn on the marker.
inline bool contentOnMarker(const osg::Image& shot, const osg::Image& frame, const MarkerTruth& marker)
{
    const osg::Vec2d centre = marker.centre();
    int changed = 0, total = 0;
    for (int dy = -4; dy <= 4; dy += 2)
        for (int dx = -4; dx <= 4; dx += 2)
        {
            const double cameraX = centre.x() + dx, cameraY = centre.y() + dy;
            const int x = static_cast<int>(cameraX * shot.s() / frame.s());
            const int y = static_cast<int>(cameraY * shot.t() / frame.t());
            ++total;
            if (difference(pixel(shot, x, y),
                           pixel(frame, static_cast<int>(cameraX), static_cast<int>(cameraY))) > 50)
                ++changed;
        }
    return changed * 2 > total;
}

// A still frame needs no smoothing: without it the content stands on its marker from the frame
// after the one that finds it, instead of gliding there over some tens of frames.
inline void stillFrameWithoutSmoothing(const SampleScene& scene)
{
    setSettingsParameter(scene.directory(), "tracker.xml", "smooth_tracking", "false");
}

inline void setConfigurationParameter(const SampleScene& scene, const std::string& name,
                                      const std::string& value)
{
    setSettingsParameter(scene.directory(), "config.xml", name, value);
}

} // namespace NovaroTest
