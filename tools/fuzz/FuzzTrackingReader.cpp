// libFuzzer targets for the tracking library's file readers: the target is chosen at build time
// (NOVARO_FUZZ_TARGET names one of the run* functions below). Each input is written to a file in a
// private folder and read the way the player reads it; what loads is then used on a small frame
// holding one marker, so that absurd but accepted values reach the detector and the pose maths.
#include "FuzzSupport.h"
#include "SquareMarkerTracker.h"

#include <osgART/CameraParameters.h>
#include <osgART/ImageTarget.h>
#include <osgART/ImageTargetTracker.h>
#include <osgART/MarkerDescription.h>
#include <osgART/Pattern.h>
#include <osgART/SquareMarkerDetector.h>

#include <opencv2/imgproc.hpp>

#include <osg/Image>
#include <osg/Notify>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

// The private folder: the input file, a camera file and the pattern of the marker in the frame
// ("marker.patt", which seeds of pattern lists and multi-marker files name).
std::string folder;
std::string inputPath;
std::string cameraPath;
cv::Mat frame; // 160 x 120 grey, one marker of 60 pixels
osgART::Pattern framePattern;

void makeFrame()
{
    frame = cv::Mat(120, 160, CV_8UC1, cv::Scalar(235));
    cv::rectangle(frame, cv::Rect(50, 30, 60, 60), cv::Scalar(20), cv::FILLED);
    cv::rectangle(frame, cv::Rect(65, 45, 30, 30), cv::Scalar(235), cv::FILLED);
    cv::rectangle(frame, cv::Rect(68, 48, 10, 18), cv::Scalar(20), cv::FILLED);
    cv::rectangle(frame, cv::Rect(82, 62, 9, 9), cv::Scalar(90), cv::FILLED);
    framePattern.setFromMarkerImage(frame(cv::Rect(50, 30, 60, 60)));
}

osg::ref_ptr<osg::Image> frameImage()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(frame.cols, frame.rows, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    image->setOrigin(osg::Image::TOP_LEFT);
    for (int row = 0; row < frame.rows; ++row)
        std::memcpy(image->data(0, row), frame.ptr(row), size_t(frame.cols));
    return image;
}

void detectWith(const osgART::CameraParameters& camera, const osgART::Pattern& pattern)
{
    osgART::SquareMarkerDetector detector;
    detector.setCamera(camera);
    detector.addPattern(pattern);
    std::vector<osgART::DetectedSquare> detections;
    detector.detect(frame, 1, detections);
    cv::Mat half;
    cv::resize(frame, half, cv::Size(frame.cols / 2, frame.rows / 2), 0, 0, cv::INTER_AREA);
    detector.detect(half, 2, detections);
}

void trackWith(osgART::SquareMarkerTracker& tracker)
{
    tracker.setImage(frameImage().get());
    tracker.update();
    for (unsigned i = 0; i < tracker.getMarkerCount(); ++i)
        tracker.getMarker(int(i))->getTransform();
}

[[maybe_unused]] void runCamera()
{
    osgART::CameraParameters camera;
    if (!camera.load(inputPath))
        return;
    camera.openGLProjection();
    detectWith(camera.scaled(frame.cols, frame.rows), framePattern);
}

[[maybe_unused]] void runPattern()
{
    osgART::Pattern pattern;
    if (!pattern.load(inputPath))
        return;
    detectWith(osgART::CameraParameters::fromIntrinsics(160, 120, 150, 150, 79.5, 59.5), pattern);
}

[[maybe_unused]] void runMultiMarker()
{
    osgART::MultiMarkerSetup setup;
    if (!setup.load(inputPath))
        return;
    osg::ref_ptr<osgART::SquareMarkerTracker> tracker = new osgART::SquareMarkerTracker;
    if (tracker->init(frame.cols, frame.rows, cameraPath, std::string()) &&
        tracker->addMarker("multi;" + inputPath + ";80"))
        trackWith(*tracker);
}

[[maybe_unused]] void runTrackerPatterns()
{
    osg::ref_ptr<osgART::SquareMarkerTracker> tracker = new osgART::SquareMarkerTracker;
    if (tracker->init(frame.cols, frame.rows, cameraPath, inputPath))
        trackWith(*tracker);
}

// A picture given as an image target, named by its signature as a scene would name it: every
// header the decoders read is checked first, then the picture is trained and searched for.
[[maybe_unused]] void runImageTarget()
{
    char signature[4] = {};
    std::FILE* input = std::fopen(inputPath.c_str(), "rb");
    const bool png =
        input && std::fread(signature, 1, 4, input) == 4 && std::memcmp(signature, "\x89PNG", 4) == 0;
    if (input)
        std::fclose(input);
    const std::string picture = folder + (png ? "/target.png" : "/target.jpg");
    std::error_code error;
    std::filesystem::copy_file(inputPath, picture, std::filesystem::copy_options::overwrite_existing, error);
    osgART::ImageTarget target;
    if (error || !target.load(picture, 100.0))
        return;
    osgART::ImageTargetTracker tracker;
    tracker.setCamera(osgART::CameraParameters::fromIntrinsics(160, 120, 150, 150, 79.5, 59.5));
    if (tracker.addTarget(target) >= 0)
        tracker.process(frame, 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    folder = NovaroFuzz::scratchFolder();
    inputPath = folder + "/input";
    cameraPath = folder + "/camera.dat";
    NovaroFuzz::silenceConsole();
    makeFrame();
    framePattern.save(folder + "/marker.patt");
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(160, 120, 150, 150, 79.5, 59.5);
    camera.setRadial4Distortion(80, 60, 20.0, 0.99);
    camera.saveBinary(cameraPath);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    NovaroFuzz::writeInput(inputPath, data, size);
    NOVARO_FUZZ_TARGET();
    return 0;
}
