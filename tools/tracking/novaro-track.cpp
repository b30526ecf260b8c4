// Runs the tracker plugin over an image, image sequence, movie or camera and prints one JSON line per
// frame: the detected markers with confidence, corners and pose.
#include "SyntheticScene.h"
#include "ToolSupport.h"
#include "settings/XMLMarkersParserManager.h"

#include <osgART/Field.h>
#include <osgART/GenericTracker.h>
#include <osgART/GenericVideo.h>
#include <osgART/InputFiles.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

using namespace Novaro;

namespace
{

void usage()
{
    std::cerr
        << "usage: novaro-track --camera FILE (--marker \"single;PATH;SIZE;CX;CY\" ... | --patterns FILE)\n"
           "  (--marker \"image;PICTURE;WIDTH_MM\": a JPEG or PNG picture tracked by its own features)\n"
           "  (--input IMAGE|MOVIE|name%04d.png | --device N) [--frames N] [--threshold T] [--half]\n"
           "  [--debug-image FILE(.png, may hold %04d)]"
        << std::endl;
}

bool isStillImage(const std::string& name)
{
    const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(name));
    return name.find('%') == std::string::npos &&
           (extension == "png" || extension == "jpg" || extension == "jpeg" || extension == "bmp" ||
            extension == "tif" || extension == "tiff" || extension == "ppm" || extension == "pgm");
}

void writeDebugImage(osgART::GenericTracker& tracker, const std::string& pattern, int frame)
{
    auto* field = dynamic_cast<osgART::TypedField<osg::ref_ptr<osg::Image>>*>(tracker.get("debug_image"));
    if (!field)
        return;
    osg::ref_ptr<osg::Image> image = field->get();
    if (!image.valid() || !image->data())
        return;
    // The tracker's debug view is RGB; an older grey one is written as it is.
    const bool colour = image->getPixelFormat() == GL_RGB;
    cv::Mat view(image->t(), image->s(), colour ? CV_8UC3 : CV_8UC1, image->data(),
                 image->getRowStepInBytes());
    cv::Mat upright;
    if (colour)
        cv::cvtColor(view, upright, cv::COLOR_RGB2BGR);
    else
        upright = view;
    if (image->getOrigin() == osg::Image::BOTTOM_LEFT)
        cv::flip(upright, upright, 0);
    const std::string name = formatFrameName(pattern, frame);
    try
    {
        if (!cv::imwrite(name, upright))
            std::cerr << "cannot write " << name << std::endl;
    }
    catch (const std::exception& exception)
    {
        std::cerr << "cannot write " << name << ": " << exception.what() << std::endl;
    }
}

// Movies and sequences: OpenCV reports some broken files by exceptions, and a frame may claim any
// size; both end the input here.
bool readNextFrame(cv::VideoCapture& capture, cv::Mat& frame)
{
    try
    {
        return capture.isOpened() && capture.read(frame) && !frame.empty() &&
               osgART::isShowableImageSize(frame.cols, frame.rows);
    }
    catch (const std::exception& exception)
    {
        std::cerr << "frame not readable: " << exception.what() << std::endl;
        return false;
    }
}

bool readFirstFrame(cv::VideoCapture& capture, const std::string& input, cv::Mat& frame)
{
    try
    {
        if (!capture.open(input, input.find('%') != std::string::npos ? cv::CAP_IMAGES : cv::CAP_FFMPEG))
            return false;
    }
    catch (const std::exception& exception)
    {
        std::cerr << "cannot open " << input << ": " << exception.what() << std::endl;
        return false;
    }
    return readNextFrame(capture, frame);
}

void printFrame(osgART::GenericTracker& tracker, int frame, double milliseconds)
{
    std::cout << std::setprecision(9) << "{\"frame\":" << frame << ",\"ms\":" << std::setprecision(4)
              << milliseconds << std::setprecision(9) << ",\"markers\":[";
    bool first = true;
    for (unsigned i = 0; i < tracker.getMarkerCount(); ++i)
    {
        osgART::Marker* marker = tracker.getMarker(int(i));
        if (!marker->valid())
            continue;
        std::cout << (first ? "" : ",") << "{\"index\":" << i << ",\"name\":\"" << marker->getName()
                  << "\",\"confidence\":" << marker->getConfidence() << ",\"corners\":[";
        for (int k = 0; k < 4; ++k)
            std::cout << (k ? "," : "") << "[" << marker->getCorners()[size_t(k)].x() << ","
                      << marker->getCorners()[size_t(k)].y() << "]";
        std::cout << "],\"pose\":" << matrixToJson(marker->getTransform()) << "}";
        first = false;
    }
    std::cout << "]}" << std::endl;
}

// Where frames come from: a camera through the video plugin (the image is the video itself), or a
// still image, movie or image sequence read here, every frame once.
struct FrameInput
{
    osg::ref_ptr<osgART::GenericVideo> video;
    cv::VideoCapture capture;
    cv::Mat frame;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    unsigned lastVideoFrame = 0;
};

bool openDevice(const std::string& device, FrameInput& input)
{
    input.video = loadVideoPlugin();
    if (!input.video.valid())
    {
        std::cerr << "cannot load the video plugin osgart_video_artoolkit4" << std::endl;
        return false;
    }
    input.video->getVideoConfiguration()->deviceconfig =
        "-devNum=" + osgART::quoteCaptureOptionValue(device) + " -flipV";
    input.video->setFlip(false, true);
    if (!input.video->open())
    {
        std::cerr << "cannot open video device " << device << std::endl;
        return false;
    }
    input.image = input.video.get();
    return true;
}

bool openInput(const ToolArguments& arguments, FrameInput& input)
{
    if (arguments.has("device"))
        return openDevice(arguments.get("device"), input);
    const std::string name = arguments.get("input");
    if (isStillImage(name))
    {
        std::string error;
        if (!readImageFile(name, input.frame, error))
        {
            std::cerr << error << std::endl;
            return false;
        }
    }
    else if (!readFirstFrame(input.capture, name, input.frame))
    {
        std::cerr << "cannot read " << name << std::endl;
        return false;
    }
    copyFrameToImage(input.frame, *input.image, true);
    return true;
}

// The next frame into the tracker's image: a camera's next captured frame, a file's next frame.
// False at the end of a file.
bool nextFrame(FrameInput& input, int index)
{
    if (input.video.valid())
    {
        while (true)
        {
            input.video->update();
            if (input.video->getFrameNumber() != input.lastVideoFrame || index == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        input.lastVideoFrame = input.video->getFrameNumber();
        return true;
    }
    if (index == 0)
        return true;
    if (!readNextFrame(input.capture, input.frame))
        return false;
    copyFrameToImage(input.frame, *input.image, true);
    return true;
}

// The markers settings of the scene a patterns file belongs to: the one its metadata file
// (model.dat) names, else markers.xml, in the patterns file's folder.
std::filesystem::path sceneMarkersFile(const std::filesystem::path& folder)
{
    std::ifstream metadata(folder / "model.dat");
    for (std::string line; std::getline(metadata, line);)
    {
        const size_t at = line.find('@');
        std::istringstream key(line.substr(0, at == std::string::npos ? 0 : at)),
            value(at == std::string::npos ? std::string() : line.substr(at + 1));
        std::string name, file;
        if (key >> name && name == "markers" && value >> file)
            return folder / file;
    }
    return folder / "markers.xml";
}

// A scene's patterns file lists no pattern: the player then tracks the markers of the markers
// settings that name it, and so does this tool, or the scene's own sheet would show nothing. True
// when at least one marker was added; each one skipped is said.
bool addSceneMarkers(osgART::GenericTracker& tracker, const std::string& patterns)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path patternsPath = fs::weakly_canonical(fs::absolute(patterns), error);
    const fs::path folder = patternsPath.parent_path();
    const fs::path settings = sceneMarkersFile(folder);
    if (!fs::is_regular_file(settings))
        return false;
    XMLMarkersParserManager parser(settings.string());
    if (!parser.loadFile() || !parser.parse())
        return false;
    const MarkersData& data = parser.getData();
    if (data.getPatternsFile().empty() ||
        fs::weakly_canonical(folder / data.getPatternsFile(), error) != patternsPath)
        return false;
    unsigned added = 0;
    for (const MarkerData& marker : data.getMarkers())
    {
        const fs::path path = folder / marker.getPath();
        std::ostringstream description;
        description << marker.getType() << ";" << path.string() << ";" << marker.getSize() << ";0.0;0.0";
        if (marker.getPath().empty() || !fs::is_regular_file(path) || !tracker.addMarker(description.str()))
            std::cerr << "novaro-track: marker " << marker.getId() << " of " << settings.string()
                      << " has no pattern file this tool can use (" << marker.getPath() << "): not tracked"
                      << std::endl;
        else
            ++added;
    }
    if (added > 0)
        std::cerr << "novaro-track: " << patterns << " lists no pattern; tracking the " << added
                  << " markers of " << settings.string() << ", as the player does" << std::endl;
    return added > 0;
}

bool setUpTracker(osgART::GenericTracker& tracker, const ToolArguments& arguments, osg::Image& image)
{
    if (!arguments.get("debug-image").empty())
        if (auto* debug = dynamic_cast<osgART::TypedField<bool>*>(tracker.get("debug")))
            debug->set(true);
    if (!tracker.init(image.s(), image.t(), arguments.get("camera"), arguments.get("patterns")))
    {
        std::cerr << "tracker cannot be initialised with camera file " << arguments.get("camera")
                  << std::endl;
        return false;
    }
    for (const std::string& description : arguments.getAll("marker"))
        if (!tracker.addMarker(description))
        {
            std::cerr << "cannot add marker " << description << std::endl;
            return false;
        }
    if (tracker.getMarkerCount() == 0 && arguments.has("patterns") &&
        !addSceneMarkers(tracker, arguments.get("patterns")))
    {
        std::cerr << "novaro-track: " << arguments.get("patterns")
                  << " lists no pattern and no markers settings beside it name it: nothing to track"
                  << std::endl;
        return false;
    }
    if (auto* threshold = dynamic_cast<osgART::TypedField<int>*>(tracker.get("threshold")))
        if (arguments.has("threshold"))
            threshold->set(int(arguments.getNumber("threshold", 100)));
    if (auto* mode = dynamic_cast<osgART::TypedField<int>*>(tracker.get("imageProcMode")))
        mode->set(arguments.has("half") ? 1 : 0);
    tracker.setImage(&image);
    return true;
}

void trackFrames(osgART::GenericTracker& tracker, FrameInput& input, int maxFrames,
                 const std::string& debugImage)
{
    if (input.video.valid())
    {
        input.video->start();
        input.lastVideoFrame = input.video->getFrameNumber();
    }
    for (int index = 0; (maxFrames <= 0 || index < maxFrames) && nextFrame(input, index); ++index)
    {
        const auto start = std::chrono::steady_clock::now();
        tracker.update();
        const double milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        printFrame(tracker, index, milliseconds);
        if (!debugImage.empty())
            writeDebugImage(tracker, debugImage, index);
    }
    if (input.video.valid())
    {
        input.video->stop();
        input.video->close(true);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ToolArguments arguments(argc, argv, {"half", "help"});
    if (!arguments.error().empty() || arguments.has("help") || !arguments.has("camera") ||
        (!arguments.has("input") && !arguments.has("device")))
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        usage();
        return arguments.has("help") ? 0 : 1;
    }
    osg::setNotifyLevel(osg::WARN);
    quietOpenCV();
    addPluginSearchPaths();
    osg::ref_ptr<osgART::GenericTracker> tracker = loadTrackerPlugin();
    if (!tracker.valid())
    {
        std::cerr << "cannot load the tracker plugin osgart_tracker_artoolkit4" << std::endl;
        return 1;
    }
    FrameInput input;
    if (!openInput(arguments, input) || !setUpTracker(*tracker, arguments, *input.image))
        return 1;
    trackFrames(*tracker, input, int(arguments.getNumber("frames", 0)), arguments.get("debug-image"));
    return 0;
}
