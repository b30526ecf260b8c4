// Synthetic camera: renders printed markers at known poses through a camera model (with lens
// distortion) onto cluttered backgrounds with noise, blur and uneven light, and writes the frames
// (movie or image sequence) plus one JSON line of ground truth per frame.
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include "osgART/MarkerDescription.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <osg/Quat>
#include <osgDB/FileNameUtils>

#include <algorithm>
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
                 "  [--pattern FILE.patt ...] [--image PICTURE ...] [--generated N] [--write-patterns DIR] "
                 "[--size S]\n"
                 "  [--frames N] [--markers N] [--min-width PX] [--max-width PX] [--max-tilt DEG]\n"
                 "  [--motion | --still] [--fps F] [--noise SIGMA] [--blur SIGMA] [--light SHARE] "
                 "[--no-clutter] [--seed N]\n"
                 "  [--board MULTI_FILE [--distance D]]  (the submarkers of a multi-marker file, rigidly\n"
                 "   together on one board; the truth line then also gives the board pose)\n"
                 "  --still: every frame is the first one (still camera, still markers)\n"
                 "  --image: a printed picture (image target) --size wide, after the patterns' markers"
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
        board = osg::Matrixd::rotate(spin, osg::Z_AXIS) *
                osg::Matrixd::rotate(tilt, osg::Vec3d(std::cos(axis), std::sin(axis), 0.0)) *
                osg::Matrixd::translate((unit(random) - 0.5) * 0.2 * distance,
                                        (unit(random) - 0.5) * 0.2 * distance, -distance);
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
    if (arguments.has("camera"))
    {
        std::string error;
        if (!camera.load(arguments.get("camera"), &error))
        {
            std::cerr << error << std::endl;
            return 1;
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
            return 1;
        }
        camera = makeDefaultCamera(width, height, !arguments.has("no-distortion"));
    }
    if (arguments.has("write-camera") && !camera.saveBinary(arguments.get("write-camera")))
    {
        std::cerr << "cannot write " << arguments.get("write-camera") << std::endl;
        return 1;
    }

    const unsigned seed = unsigned(arguments.getNumber("seed", 1));
    std::vector<osgART::Pattern> patterns;
    std::vector<std::string> patternNames;
    std::vector<std::string> patternFiles = arguments.getAll("pattern");
    osgART::MultiMarkerSetup board;
    std::vector<osg::Matrixd> boardSubmarkers;
    if (arguments.has("board"))
    {
        std::string error;
        if (!board.load(arguments.get("board"), &error) || board.submarkers.empty())
        {
            std::cerr << "cannot use board " << arguments.get("board") << ": " << error << std::endl;
            return 1;
        }
        patternFiles.clear();
        for (const osgART::Submarker& submarker : board.submarkers)
        {
            patternFiles.push_back(submarker.patternPath);
            boardSubmarkers.push_back(submarkerPose(submarker));
        }
    }
    for (const std::string& file : patternFiles)
    {
        osgART::Pattern pattern;
        std::string error;
        if (!pattern.load(file, &error))
        {
            std::cerr << error << std::endl;
            return 1;
        }
        patterns.push_back(pattern);
        patternNames.push_back(file);
    }
    const std::vector<std::string> pictures = arguments.getAll("image");
    if (patterns.empty() && pictures.empty())
    {
        const size_t count = size_t(std::max(1.0, arguments.getNumber("generated", 4)));
        patterns = makeDistinctPatterns(count, seed);
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
                    return 1;
                }
            }
            patternNames.push_back(name);
        }
    }
    const double size = arguments.getNumber("size", 80.0);
    std::vector<PrintedMarker> printed;
    for (size_t i = 0; i < patterns.size(); ++i)
    {
        PrintedMarker marker;
        marker.texture = makeMarkerImage(patterns[i], 16, 0.25);
        marker.size = board.submarkers.empty() ? size : board.submarkers[i].size;
        printed.push_back(marker);
    }
    for (const std::string& file : pictures)
    {
        PrintedMarker picture;
        std::string error;
        if (!readImageFile(file, picture.texture, error))
        {
            std::cerr << error << std::endl;
            return 1;
        }
        // The sheet is square: a wide picture gets paper above and below, a tall one beside it, so
        // that the sheet's centre and width are the picture's.
        const int side = std::max(picture.texture.cols, picture.texture.rows);
        const int top = (side - picture.texture.rows) / 2, left = (side - picture.texture.cols) / 2;
        cv::copyMakeBorder(picture.texture, picture.texture, top, side - picture.texture.rows - top, left,
                           side - picture.texture.cols - left, cv::BORDER_CONSTANT, cv::Scalar::all(255));
        picture.size = size * side / std::max(1, side - 2 * left);
        picture.margin = 0.0;
        printed.push_back(picture);
        patternNames.push_back(file);
    }

    ImagingSettings imaging;
    imaging.noiseSigma = arguments.getNumber("noise", imaging.noiseSigma);
    imaging.blurSigma = arguments.getNumber("blur", imaging.blurSigma);
    imaging.lightVariation = arguments.getNumber("light", imaging.lightVariation);
    imaging.clutter = !arguments.has("no-clutter");
    imaging.supersampling = camera.width() > 1000 ? 2 : 3;
    SyntheticCamera synthetic(camera, imaging);

    const int frames = int(arguments.getNumber("frames", 30));
    const size_t perFrame = size_t(arguments.getNumber("markers", double(printed.size())));
    const double minWidth = arguments.getNumber("min-width", 40);
    const double maxWidth = arguments.getNumber("max-width", 0.35 * camera.height());
    const double maxTilt = arguments.getNumber("max-tilt", 60);
    const double fps = arguments.getNumber("fps", 30);
    const bool motion = arguments.has("motion");
    const int keyframeSpacing = 45;

    const std::string output = arguments.get("output");
    const bool sequence = hasFrameNumberPattern(output);
    cv::VideoWriter writer;
    if (!sequence)
    {
        const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(output));
        const int codec = extension == "avi" ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                             : cv::VideoWriter::fourcc('m', 'p', '4', 'v');
        if (!writer.open(output, cv::CAP_FFMPEG, codec, fps, cv::Size(camera.width(), camera.height())))
        {
            std::cerr << "cannot write movie " << output << std::endl;
            return 1;
        }
        writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);
    }
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

    std::mt19937 random(seed);
    std::vector<PlacedMarker> previousKey, nextKey, stillPlaced;
    const bool still = arguments.has("still");
    std::mt19937 stillRandom;
    osg::Matrixd previousBoard, nextBoard, boardPose;
    const double distance = arguments.getNumber("distance", 500.0);
    for (int frame = 0; frame < frames; ++frame)
    {
        std::vector<PlacedMarker> placed;
        if (!boardSubmarkers.empty())
        {
            std::vector<PlacedMarker> unused;
            if (frame == 0 || !motion || frame % keyframeSpacing == 0)
            {
                previousBoard = frame == 0 || !motion ? osg::Matrixd() : nextBoard;
                if ((frame == 0 || !motion) && !placeBoard(synthetic, boardSubmarkers, printed, distance,
                                                           maxTilt, random, previousBoard, unused))
                {
                    std::cerr << "the board does not fit in view at distance " << distance << std::endl;
                    return 1;
                }
                nextBoard = previousBoard;
                if (motion)
                    placeBoard(synthetic, boardSubmarkers, printed, distance, maxTilt, random, nextBoard,
                               unused);
            }
            const double t = motion ? double(frame % keyframeSpacing) / keyframeSpacing : 0.0;
            boardPose = blend(previousBoard, nextBoard, t * t * (3.0 - 2.0 * t));
            for (size_t i = 0; i < boardSubmarkers.size(); ++i)
            {
                PlacedMarker marker;
                marker.marker = int(i);
                marker.pose = boardSubmarkers[i] * boardPose;
                synthetic.describe(marker, printed[i].size);
                placed.push_back(marker);
            }
        }
        else if (motion)
        {
            // Markers glide between random key poses; key poses keep the same markers in the same order.
            if (frame % keyframeSpacing == 0)
            {
                previousKey = frame == 0 ? synthetic.placeMarkers(printed, perFrame, minWidth, maxWidth,
                                                                  maxTilt, random)
                                         : nextKey;
                nextKey.clear();
                for (int attempt = 0; attempt < 50 && nextKey.size() != previousKey.size(); ++attempt)
                    nextKey = synthetic.placeMarkers(printed, previousKey.size(), minWidth, maxWidth, maxTilt,
                                                     random);
                if (nextKey.size() != previousKey.size())
                    nextKey = previousKey;
            }
            const double t = double(frame % keyframeSpacing) / keyframeSpacing;
            const double eased = t * t * (3.0 - 2.0 * t);
            for (size_t i = 0; i < previousKey.size(); ++i)
            {
                PlacedMarker marker = previousKey[i];
                marker.pose = blend(previousKey[i].pose, nextKey[i].pose, eased);
                synthetic.describe(marker, printed[size_t(marker.marker)].size);
                placed.push_back(marker);
            }
        }
        else
        {
            if (frame == 0 || !still)
                stillPlaced = synthetic.placeMarkers(printed, perFrame, minWidth, maxWidth, maxTilt, random);
            placed = stillPlaced;
        }
        cv::Mat image;
        // A still camera films the same desk every frame: its first frame's draw again.
        if (still && frame == 0)
            stillRandom = random;
        std::mt19937 again = stillRandom;
        synthetic.render(printed, placed, still ? again : random, image);
        if (sequence)
        {
            const std::string name = formatFrameName(output, frame);
            if (!cv::imwrite(name, image))
            {
                std::cerr << "cannot write " << name << std::endl;
                return 1;
            }
        }
        else
        {
            writer.write(image);
        }
        if (truth.is_open())
        {
            truth << std::setprecision(9) << "{\"frame\":" << frame;
            if (!boardSubmarkers.empty())
                truth << ",\"board\":" << matrixToJson(boardPose);
            truth << ",\"markers\":[";
            for (size_t i = 0; i < placed.size(); ++i)
            {
                const PlacedMarker& marker = placed[i];
                truth << (i ? "," : "") << "{\"index\":" << marker.marker << ",\"pattern\":\""
                      << patternNames[size_t(marker.marker)]
                      << "\",\"size\":" << printed[size_t(marker.marker)].size
                      << ",\"pose\":" << matrixToJson(marker.pose) << ",\"corners\":[";
                for (int k = 0; k < 4; ++k)
                    truth << (k ? "," : "") << "[" << marker.corners[size_t(k)].x() << ","
                          << marker.corners[size_t(k)].y() << "]";
                truth << "],\"tilt\":" << marker.tiltDegrees << ",\"shortest_side\":" << marker.shortestSide
                      << "}";
            }
            truth << "]}\n";
        }
    }
    return 0;
}
