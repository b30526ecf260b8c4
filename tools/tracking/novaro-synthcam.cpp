// Synthetic camera: renders printed markers at known poses through a camera model (with lens
// distortion) onto cluttered backgrounds with noise, blur and uneven light, and writes the frames
// (movie or image sequence) plus one JSON line of ground truth per frame.
#include "CameraModel.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include "osgART/MarkerDescription.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <osg/Quat>
#include <osgDB/FileNameUtils>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>

using namespace Novaro;

namespace
{

void usage()
{
    std::cerr << "usage: novaro-synthcam --output FILE (movie, or name%04d.png) [--truth FILE.jsonl]\n"
                 "  [--camera FILE | --width W --height H [--no-distortion]] [--write-camera FILE]\n"
                 "  [--pattern FILE.patt ...] [--image PICTURE ...] [--generated N [--pattern-blocks B]] "
                 "[--write-patterns DIR] "
                 "[--size S] [--image-size S]\n"
                 "  [--frames N] [--markers N] [--min-width PX] [--max-width PX] [--max-tilt DEG]\n"
                 "  [--motion | --still] [--fps F] [--noise SIGMA] [--blur SIGMA] [--light SHARE] "
                 "[--no-clutter] [--seed N]\n"
                 "  [--iso N [--jpeg-quality Q]]  (each frame taken through a real camera's sensor at that\n"
                 "   ISO: shot and read noise on a Bayer mosaic, demosaiced, JPEG at quality Q, default 85)\n"
                 "  [--rolling-shutter MS]  (rows read top to bottom over MS milliseconds: moving markers\n"
                 "   come out skewed; the truth is their pose when the middle row is read; needs --fps)\n"
                 "  [--board MULTI_FILE [--distance D]]  (the submarkers of a multi-marker file, rigidly\n"
                 "   together on one board; the truth line then also gives the board pose)\n"
                 "  --still: every frame is the first one (still camera, still markers)\n"
                 "  --image: a printed picture (image target) --image-size wide (default --size), after the\n"
                 "   patterns' markers"
              << std::endl;
}

// A submarker's pose in the board frame (row-vector convention) from the multi-marker file's
// rows, which map submarker points into the board frame.
osg::Matrixd submarkerPose(const osgART::Submarker& submarker)
{
    const double(&m)[3][4] = submarker.pose;
    return osg::Matrixd(m[0][0], m[1][0], m[2][0], 0.0, //
                        m[0][1], m[1][1], m[2][1], 0.0, //
                        m[0][2], m[1][2], m[2][2], 0.0, //
                        m[0][3], m[1][3], m[2][3], 1.0);
}

// A random board pose: tilted up to maxTilt about an axis in the board plane, turned about its
// normal, a little off the optical axis, at the given distance; retried until every submarker is
// in view.
bool placeBoard(const SyntheticCamera& synthetic, const std::vector<osg::Matrixd>& submarkers,
                const std::vector<PrintedMarker>& printed, double distance, double maxTilt,
                std::mt19937& random, osg::Matrixd& board, std::vector<PlacedMarker>& placed)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int width = synthetic.camera().width(), height = synthetic.camera().height();
    for (int attempt = 0; attempt < 200; ++attempt)
    {
        const double tilt = osg::DegreesToRadians(maxTilt) * unit(random);
        const double axis = 2.0 * osg::PI * unit(random);
        const double spin = 2.0 * osg::PI * unit(random);
        // One draw a statement (see RandomDraws.h).
        const double down = (unit(random) - 0.5) * 0.2 * distance;
        const double across = (unit(random) - 0.5) * 0.2 * distance;
        board = osg::Matrixd::rotate(spin, osg::Z_AXIS) *
                osg::Matrixd::rotate(tilt, osg::Vec3d(std::cos(axis), std::sin(axis), 0.0)) *
                osg::Matrixd::translate(across, down, -distance);
        placed.clear();
        bool inView = true;
        for (size_t i = 0; i < submarkers.size() && inView; ++i)
        {
            PlacedMarker marker;
            marker.marker = int(i);
            marker.pose = submarkers[i] * board;
            synthetic.describe(marker, printed[i].size);
            for (const osg::Vec2d& corner : marker.corners)
                inView = inView && corner.x() > 2 && corner.y() > 2 && corner.x() < width - 3 &&
                         corner.y() < height - 3;
            placed.push_back(marker);
        }
        if (inView)
            return true;
    }
    return false;
}

// Pose between two poses: linear in translation, spherical in rotation.
osg::Matrixd blend(const osg::Matrixd& from, const osg::Matrixd& to, double t)
{
    osg::Quat rotation;
    rotation.slerp(t, from.getRotate(), to.getRotate());
    osg::Matrixd result;
    result.makeRotate(rotation);
    result.setTrans(from.getTrans() * (1.0 - t) + to.getTrans() * t);
    return result;
}

// The camera: a calibration file (scaled to --width x --height when both are given) or a generic
// one for that size.
bool makeCamera(const ToolArguments& arguments, osgART::CameraParameters& camera)
{
    if (arguments.has("camera"))
    {
        std::string error;
        if (!camera.load(arguments.get("camera"), &error))
        {
            std::cerr << error << std::endl;
            return false;
        }
        if (arguments.has("width") && arguments.has("height"))
            camera = camera.scaled(int(arguments.getNumber("width", 640)),
                                   int(arguments.getNumber("height", 480)));
    }
    else
    {
        const int width = int(arguments.getNumber("width", 640));
        const int height = int(arguments.getNumber("height", 480));
        if (width < 16 || height < 16 || width > 8192 || height > 8192)
        {
            std::cerr << "frame size out of range" << std::endl;
            return false;
        }
        camera = makeDefaultCamera(width, height, !arguments.has("no-distortion"));
    }
    if (arguments.has("write-camera") && !camera.saveBinary(arguments.get("write-camera")))
    {
        std::cerr << "cannot write " << arguments.get("write-camera") << std::endl;
        return false;
    }
    return true;
}

// What is filmed: the printed markers (patterns first, then pictures), their names for the truth,
// and, for a board, each submarker's pose on it.
struct MarkerSet
{
    std::vector<PrintedMarker> printed;
    std::vector<std::string> names;
    std::vector<osg::Matrixd> boardSubmarkers;
};

// The patterns: a board's submarkers, the --pattern files, or (with neither and no picture)
// generated ones, written to --write-patterns when asked.
bool loadPatterns(const ToolArguments& arguments, unsigned seed, MarkerSet& markers,
                  std::vector<osgART::Pattern>& patterns, osgART::MultiMarkerSetup& board)
{
    std::vector<std::string> patternFiles = arguments.getAll("pattern");
    if (arguments.has("board"))
    {
        std::string error;
        if (!board.load(arguments.get("board"), &error) || board.submarkers.empty())
        {
            std::cerr << "cannot use board " << arguments.get("board") << ": " << error << std::endl;
            return false;
        }
        patternFiles.clear();
        for (const osgART::Submarker& submarker : board.submarkers)
        {
            patternFiles.push_back(submarker.patternPath);
            markers.boardSubmarkers.push_back(submarkerPose(submarker));
        }
    }
    for (const std::string& file : patternFiles)
    {
        osgART::Pattern pattern;
        std::string error;
        if (!pattern.load(file, &error))
        {
            std::cerr << error << std::endl;
            return false;
        }
        patterns.push_back(pattern);
        markers.names.push_back(file);
    }
    if (!patterns.empty() || arguments.has("image"))
        return true;
    patterns = makeDistinctPatterns(size_t(std::max(1.0, arguments.getNumber("generated", 4))), seed,
                                    int(arguments.getNumber("pattern-blocks", 8)));
    const std::string folder = arguments.get("write-patterns", "");
    for (size_t i = 0; i < patterns.size(); ++i)
    {
        std::string name = "marker" + std::to_string(i) + ".patt";
        if (!folder.empty())
        {
            name = osgDB::concatPaths(folder, name);
            if (!patterns[i].save(name))
            {
                std::cerr << "cannot write " << name << std::endl;
                return false;
            }
        }
        markers.names.push_back(name);
    }
    return true;
}

// A picture (image target) on a square sheet: a wide picture gets paper above and below, a tall
// one beside it, so that the sheet's centre and width are the picture's.
bool addPicture(const std::string& file, double size, MarkerSet& markers)
{
    PrintedMarker picture;
    std::string error;
    if (!readImageFile(file, picture.texture, error))
    {
        std::cerr << error << std::endl;
        return false;
    }
    const int side = std::max(picture.texture.cols, picture.texture.rows);
    const int top = (side - picture.texture.rows) / 2, left = (side - picture.texture.cols) / 2;
    cv::copyMakeBorder(picture.texture, picture.texture, top, side - picture.texture.rows - top, left,
                       side - picture.texture.cols - left, cv::BORDER_CONSTANT, cv::Scalar::all(255));
    picture.size = size * side / std::max(1, side - 2 * left);
    picture.margin = 0.0;
    markers.printed.push_back(picture);
    markers.names.push_back(file);
    return true;
}

bool loadMarkers(const ToolArguments& arguments, unsigned seed, MarkerSet& markers)
{
    std::vector<osgART::Pattern> patterns;
    osgART::MultiMarkerSetup board;
    if (!loadPatterns(arguments, seed, markers, patterns, board))
        return false;
    const double size = arguments.getNumber("size", 80.0);
    for (size_t i = 0; i < patterns.size(); ++i)
    {
        PrintedMarker marker;
        marker.texture = makeMarkerImage(patterns[i], 16, 0.25);
        marker.size = board.submarkers.empty() ? size : board.submarkers[i].size;
        markers.printed.push_back(marker);
    }
    const double pictureSize = arguments.getNumber("image-size", size);
    for (const std::string& file : arguments.getAll("image"))
        if (!addPicture(file, pictureSize, markers))
            return false;
    return true;
}

// Where frames go: a movie (MJPEG for .avi, MPEG-4 otherwise) or numbered images.
class FrameOutput
{
public:
    bool open(const std::string& output, const osgART::CameraParameters& camera, double fps)
    {
        _output = output;
        _sequence = hasFrameNumberPattern(output);
        if (_sequence)
            return true;
        const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(output));
        const int codec = extension == "avi" ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                             : cv::VideoWriter::fourcc('m', 'p', '4', 'v');
        if (!_writer.open(output, cv::CAP_FFMPEG, codec, fps, cv::Size(camera.width(), camera.height())))
        {
            std::cerr << "cannot write movie " << output << std::endl;
            return false;
        }
        _writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);
        return true;
    }

    bool write(int frame, const cv::Mat& image)
    {
        if (!_sequence)
        {
            _writer.write(image);
            return true;
        }
        const std::string name = formatFrameName(_output, frame);
        if (!cv::imwrite(name, image))
        {
            std::cerr << "cannot write " << name << std::endl;
            return false;
        }
        return true;
    }

private:
    std::string _output;
    bool _sequence = false;
    cv::VideoWriter _writer;
};

// One JSON line of ground truth: the board's pose (for a board) and each marker's pose, corners,
// tilt and shortest side.
void writeTruth(std::ostream& truth, int frame, const MarkerSet& markers,
                const std::vector<PlacedMarker>& placed, const osg::Matrixd& boardPose)
{
    truth << std::setprecision(9) << "{\"frame\":" << frame;
    if (!markers.boardSubmarkers.empty())
        truth << ",\"board\":" << matrixToJson(boardPose);
    truth << ",\"markers\":[";
    for (size_t i = 0; i < placed.size(); ++i)
    {
        const PlacedMarker& marker = placed[i];
        truth << (i ? "," : "") << "{\"index\":" << marker.marker << ",\"pattern\":\""
              << markers.names[size_t(marker.marker)]
              << "\",\"size\":" << markers.printed[size_t(marker.marker)].size
              << ",\"pose\":" << matrixToJson(marker.pose) << ",\"corners\":[";
        for (int k = 0; k < 4; ++k)
            truth << (k ? "," : "") << "[" << marker.corners[size_t(k)].x() << ","
                  << marker.corners[size_t(k)].y() << "]";
        truth << "],\"tilt\":" << marker.tiltDegrees << ",\"shortest_side\":" << marker.shortestSide << "}";
    }
    truth << "]}\n";
}

// Where the markers are in each frame: a board or loose markers, still, placed anew each frame, or
// gliding between random key poses (keyframeSpacing frames apart, eased in and out).
class Choreography
{
public:
    Choreography(const ToolArguments& arguments, const SyntheticCamera& synthetic, const MarkerSet& markers)
        : _synthetic(synthetic), _markers(markers),
          _perFrame(size_t(arguments.getNumber("markers", double(markers.printed.size())))),
          _minWidth(arguments.getNumber("min-width", 40)),
          _maxWidth(arguments.getNumber("max-width", 0.35 * synthetic.camera().height())),
          _maxTilt(arguments.getNumber("max-tilt", 60)), _distance(arguments.getNumber("distance", 500.0)),
          _motion(arguments.has("motion")), _still(arguments.has("still"))
    {
    }

    bool isStill() const { return _still; }
    bool isMoving() const { return _motion; }
    const osg::Matrixd& boardPose() const { return _boardPose; }

    // False when a board does not fit in view.
    bool place(int frame, std::mt19937& random, std::vector<PlacedMarker>& placed)
    {
        placed.clear();
        if (!_markers.boardSubmarkers.empty())
            return placeBoardFrame(frame, random, placed);
        if (_motion)
            placeGliding(frame, random, placed);
        else
        {
            if (frame == 0 || !_still)
                _stillPlaced = _synthetic.placeMarkers(_markers.printed, _perFrame, _minWidth, _maxWidth,
                                                       _maxTilt, random);
            placed = _stillPlaced;
        }
        return true;
    }

    // The markers 'offset' frames (a fraction, either way) from this frame's time, further along
    // the same glide: after place() for this frame. Still markers stay where they are.
    void placeAround(int frame, double offset, const std::vector<PlacedMarker>& now,
                     std::vector<PlacedMarker>& placed) const
    {
        placed = now;
        if (!_motion)
            return;
        // Eased glides start and end at rest, so a key pose's neighbourhood clamps to it.
        const double t = std::min(1.0, std::max(0.0, (frame % keyframeSpacing + offset) / keyframeSpacing));
        const double eased = t * t * (3.0 - 2.0 * t);
        const bool board = !_markers.boardSubmarkers.empty();
        const osg::Matrixd boardPose = board ? blend(_previousBoard, _nextBoard, eased) : osg::Matrixd();
        for (size_t i = 0; i < placed.size(); ++i)
        {
            PlacedMarker& marker = placed[i];
            marker.pose = board ? _markers.boardSubmarkers[i] * boardPose
                                : blend(_previousKey[i].pose, _nextKey[i].pose, eased);
            _synthetic.describe(marker, _markers.printed[size_t(marker.marker)].size);
        }
    }

private:
    static const int keyframeSpacing = 45;

    bool placeBoardFrame(int frame, std::mt19937& random, std::vector<PlacedMarker>& placed)
    {
        const std::vector<osg::Matrixd>& submarkers = _markers.boardSubmarkers;
        std::vector<PlacedMarker> unused;
        if (frame == 0 || !_motion || frame % keyframeSpacing == 0)
        {
            _previousBoard = frame == 0 || !_motion ? osg::Matrixd() : _nextBoard;
            if ((frame == 0 || !_motion) && !placeBoard(_synthetic, submarkers, _markers.printed, _distance,
                                                        _maxTilt, random, _previousBoard, unused))
            {
                std::cerr << "the board does not fit in view at distance " << _distance << std::endl;
                return false;
            }
            _nextBoard = _previousBoard;
            if (_motion)
                placeBoard(_synthetic, submarkers, _markers.printed, _distance, _maxTilt, random, _nextBoard,
                           unused);
        }
        const double t = _motion ? double(frame % keyframeSpacing) / keyframeSpacing : 0.0;
        _boardPose = blend(_previousBoard, _nextBoard, t * t * (3.0 - 2.0 * t));
        for (size_t i = 0; i < submarkers.size(); ++i)
        {
            PlacedMarker marker;
            marker.marker = int(i);
            marker.pose = submarkers[i] * _boardPose;
            _synthetic.describe(marker, _markers.printed[i].size);
            placed.push_back(marker);
        }
        return true;
    }

    // Key poses keep the same markers in the same order.
    void placeGliding(int frame, std::mt19937& random, std::vector<PlacedMarker>& placed)
    {
        const std::vector<PrintedMarker>& printed = _markers.printed;
        if (frame % keyframeSpacing == 0)
        {
            _previousKey = frame == 0 ? _synthetic.placeMarkers(printed, _perFrame, _minWidth, _maxWidth,
                                                                _maxTilt, random)
                                      : _nextKey;
            _nextKey.clear();
            for (int attempt = 0; attempt < 50 && _nextKey.size() != _previousKey.size(); ++attempt)
                _nextKey = _synthetic.placeMarkers(printed, _previousKey.size(), _minWidth, _maxWidth,
                                                   _maxTilt, random);
            if (_nextKey.size() != _previousKey.size())
                _nextKey = _previousKey;
        }
        const double t = double(frame % keyframeSpacing) / keyframeSpacing;
        const double eased = t * t * (3.0 - 2.0 * t);
        for (size_t i = 0; i < _previousKey.size(); ++i)
        {
            PlacedMarker marker = _previousKey[i];
            marker.pose = blend(_previousKey[i].pose, _nextKey[i].pose, eased);
            _synthetic.describe(marker, printed[size_t(marker.marker)].size);
            placed.push_back(marker);
        }
    }

    const SyntheticCamera& _synthetic;
    const MarkerSet& _markers;
    size_t _perFrame;
    double _minWidth, _maxWidth, _maxTilt, _distance;
    bool _motion, _still;
    std::vector<PlacedMarker> _previousKey, _nextKey, _stillPlaced;
    osg::Matrixd _previousBoard, _nextBoard, _boardPose;
};

// A frame of moving markers read by a rolling shutter: bands of rows, each rendered with the
// markers where they are when its rows are read, enough bands that the staircase's steps stay under
// half a pixel (the lens blur's width; at most 96 renders a frame). Every band draws the same background and
// noise (the same random state); drawing ends as one render leaves it.
cv::Mat readRollingShutter(SyntheticCamera& synthetic, const MarkerSet& markers,
                           const Choreography& choreography, const CameraModel& shutter, double frameMs,
                           int frame, const std::vector<PlacedMarker>& placed, std::mt19937& drawing)
{
    const int rows = synthetic.camera().height();
    std::vector<PlacedMarker> first, last;
    choreography.placeAround(frame, shutter.rowTime(-0.5, rows) / frameMs, placed, first);
    choreography.placeAround(frame, shutter.rowTime(rows - 0.5, rows) / frameMs, placed, last);
    double travel = 0.0;
    for (size_t i = 0; i < first.size(); ++i)
        for (size_t k = 0; k < 4; ++k)
            travel = std::max(travel, (last[i].corners[k] - first[i].corners[k]).length());
    const int bands = std::max(2, std::min({rows, 96, int(std::ceil(travel / 0.5))}));
    const std::mt19937 start = drawing;
    auto sceneAt = [&](double ms)
    {
        std::vector<PlacedMarker> then;
        choreography.placeAround(frame, ms / frameMs, placed, then);
        drawing = start;
        cv::Mat picture;
        synthetic.render(markers.printed, then, drawing, picture);
        return picture;
    };
    return shutter.readBands(sceneAt, rows, bands);
}

ImagingSettings imagingFrom(const ToolArguments& arguments, const osgART::CameraParameters& camera)
{
    ImagingSettings imaging;
    imaging.noiseSigma = arguments.getNumber("noise", imaging.noiseSigma);
    imaging.blurSigma = arguments.getNumber("blur", imaging.blurSigma);
    imaging.lightVariation = arguments.getNumber("light", imaging.lightVariation);
    imaging.clutter = !arguments.has("no-clutter");
    imaging.supersampling = camera.width() > 1000 ? 2 : 3;
    return imaging;
}

} // namespace

int main(int argc, char** argv)
{
    ToolArguments arguments(argc, argv, {"no-distortion", "no-clutter", "motion", "still", "help"});
    if (!arguments.error().empty() || arguments.has("help") || !arguments.has("output"))
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        usage();
        return arguments.has("help") ? 0 : 1;
    }
    osgART::CameraParameters camera;
    const unsigned seed = unsigned(arguments.getNumber("seed", 1));
    MarkerSet markers;
    if (!makeCamera(arguments, camera) || !loadMarkers(arguments, seed, markers))
        return 1;
    SyntheticCamera synthetic(camera, imagingFrom(arguments, camera));

    FrameOutput output;
    if (!output.open(arguments.get("output"), camera, arguments.getNumber("fps", 30)))
        return 1;
    std::ofstream truth;
    if (arguments.has("truth"))
    {
        truth.open(arguments.get("truth"), std::ios::trunc);
        if (!truth)
        {
            std::cerr << "cannot write " << arguments.get("truth") << std::endl;
            return 1;
        }
    }

    CameraModel shutter;
    shutter.readoutMs = arguments.getNumber("rolling-shutter", 0.0);
    const double frameMs = 1000.0 / std::max(1.0, arguments.getNumber("fps", 30));
    CameraModel sensor;
    sensor.iso = int(arguments.getNumber("iso", 0));
    sensor.jpegQuality = int(arguments.getNumber("jpeg-quality", sensor.jpegQuality));
    std::mt19937 random(seed);
    std::mt19937 stillRandom;
    Choreography choreography(arguments, synthetic, markers);
    const int frames = int(arguments.getNumber("frames", 30));
    for (int frame = 0; frame < frames; ++frame)
    {
        std::vector<PlacedMarker> placed;
        if (!choreography.place(frame, random, placed))
            return 1;
        // A still camera films the same desk every frame: its first frame's draw again.
        if (choreography.isStill() && frame == 0)
            stillRandom = random;
        std::mt19937 again = stillRandom;
        cv::Mat image;
        std::mt19937& drawing = choreography.isStill() ? again : random;
        if (shutter.readoutMs > 0 && choreography.isMoving())
            image = readRollingShutter(synthetic, markers, choreography, shutter, frameMs, frame, placed,
                                       drawing);
        else
            synthetic.render(markers.printed, placed, drawing, image);
        if (sensor.iso > 0)
        {
            // Every frame its own sensor noise, still camera or not, as a real sensor gives.
            std::mt19937 exposure(seed * 7919u + unsigned(frame));
            image = sensor.capture(image, exposure);
        }
        if (!output.write(frame, image))
            return 1;
        if (truth.is_open())
            writeTruth(truth, frame, markers, placed, choreography.boardPose());
    }
    return 0;
}
