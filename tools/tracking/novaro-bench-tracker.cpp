// Tracker benchmark: renders synthetic frames with markers at known poses and measures the tracker's
// time per frame, detection rate, false positives on marker-free frames and pose errors. With
// AprilTag and OpenCV's ArUco module present it renders their markers at the same poses and times
// their detectors on those frames.
#include "ImageTargetBenchmark.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"
#include "TrackerComparison.h"

#include <osgART/Field.h>
#include <osgART/GenericTracker.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <unistd.h>

#ifdef NOVARO_HAVE_APRILTAG
#include <apriltag/apriltag.h>
#include <apriltag/tag36h11.h>
#endif
#ifdef NOVARO_HAVE_ARUCO
#include <opencv2/aruco.hpp>
#endif

using namespace Novaro;

namespace
{

const double kPi = 3.14159265358979323846;

// Per-frame wall and thread CPU times, the first frames (warm-up) left out.
struct Timing
{
    std::vector<double> milliseconds;
    std::vector<double> cpuMilliseconds;
    int warmUp = 3;
    double median() { return percentile(milliseconds, 0.5); }
    double p95() { return percentile(milliseconds, 0.95); }
    double cpuMedian() { return percentile(cpuMilliseconds, 0.5); }
    double cpuP95() { return percentile(cpuMilliseconds, 0.95); }
    template <class Function> void measure(Function function)
    {
        const double cpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        function();
        const auto end = std::chrono::steady_clock::now();
        const double cpu = threadCpuSeconds() - cpuStart;
        if (warmUp > 0)
        {
            --warmUp;
            return;
        }
        milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        cpuMilliseconds.push_back(cpu * 1000.0);
    }
    static double percentile(const std::vector<double>& values, double p)
    {
        if (values.empty())
            return 0.0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const size_t index = std::min(sorted.size() - 1, size_t(std::ceil(p * double(sorted.size())) - 1));
        return sorted[index];
    }
};

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double rotationErrorDegrees(const osg::Matrixd& measured, const osg::Matrixd& truth)
{
    const osg::Quat difference = measured.getRotate() * truth.getRotate().inverse();
    double angle;
    osg::Vec3d axis;
    difference.getRotate(angle, axis);
    angle = std::fabs(angle);
    if (angle > kPi)
        angle = 2.0 * kPi - angle;
    return angle * 180.0 / kPi;
}

struct Scenario
{
    int width, height;
    size_t markers;
    std::vector<std::vector<PlacedMarker>> placements;
};

struct Result
{
    Timing timing;
    size_t expected = 0, detected = 0, wrong = 0;
    std::vector<double> rotationErrors, translationErrors;
};

struct OtherResult
{
    Timing timing;
    size_t expected = 0, detected = 0;
};

#ifdef NOVARO_HAVE_ARUCO
cv::Ptr<cv::aruco::Dictionary> arucoDictionary()
{
    return cv::aruco::getPredefinedDictionary(cv::aruco::DICT_6X6_250);
}
#endif

std::vector<cv::Size> parseResolutions(const std::string& text)
{
    std::vector<cv::Size> sizes;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
    {
        int w = 0, h = 0;
        if (std::sscanf(item.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0)
            sizes.emplace_back(w, h);
    }
    return sizes;
}

// The photographs of the photo background: --photos, else opencv-doc's sample images when that
// package is installed (tools/tracking/get-photos.sh fetches them without installing it).
std::vector<cv::Mat> benchmarkPhotos(const ToolArguments& arguments)
{
    const std::string folder = arguments.get("photos", "/usr/share/doc/opencv-doc/examples/data");
    return loadPhotos(folder);
}

int runHardCases(const ToolArguments& arguments, osgART::GenericTracker* tracker, const std::string& folder,
                 const std::vector<std::pair<int, int>>& resolutions)
{
    ComparisonSettings settings;
    settings.frames = int(arguments.getNumber("frames", 50));
    settings.seed = unsigned(arguments.getNumber("seed", 1));
    settings.missFolder = arguments.get("misses");
    settings.only = arguments.get("only");
    settings.photos = benchmarkPhotos(arguments);
    if (arguments.has("resolutions") && !resolutions.empty())
    {
        settings.width = resolutions.front().first;
        settings.height = resolutions.front().second;
    }
    else
    {
        settings.width = 640;
        settings.height = 480;
    }
    auto makeDetectors = [&](int ids)
    {
        std::vector<std::unique_ptr<ComparedDetector>> made;
        made.push_back(makeTrackerDetector(tracker, folder, ids, settings.seed));
        if (!arguments.has("no-compare"))
        {
            made.push_back(makeAprilTagDetector(ids));
            made.push_back(makeArucoDetector(ids));
        }
        made.erase(std::remove(made.begin(), made.end(), nullptr), made.end());
        return made;
    };
    std::vector<std::unique_ptr<ComparedDetector>> owned = makeDetectors(settings.ids);
    std::vector<ComparedDetector*> detectors;
    for (const std::unique_ptr<ComparedDetector>& detector : owned)
        detectors.push_back(detector.get());
    if (detectors.size() < 3)
        std::cout
            << "# built without AprilTag or ArUco (Debian packages libapriltag-dev, libopencv-contrib-dev): "
               "only the detectors present are compared"
            << std::endl;
    std::vector<Background> backgrounds;
    for (const char* name : {"calm", "busy", "photo"})
        if (arguments.get("backgrounds", "calm,busy,photo").find(name) != std::string::npos)
            backgrounds.push_back(name[0] == 'c'   ? Background::CALM
                                  : name[0] == 'b' ? Background::BUSY
                                                   : Background::PHOTO);
    std::cout << "# photo background: " << settings.photos.size() << " photographs from "
              << arguments.get("photos", "/usr/share/doc/opencv-doc/examples/data") << std::endl;
    const std::string sections = arguments.get("sections", "speed,hard,sets,jitter");
    if (sections.find("speed") != std::string::npos)
    {
        ComparisonSettings speed = settings;
        speed.frames = int(arguments.getNumber("speed-frames", 60));
        compareSpeed(detectors, speed, backgrounds,
                     parseResolutions(arguments.get("speed-resolutions", "640x480,1920x1080")), std::cout);
    }
    for (const Background background : backgrounds)
    {
        if (background == Background::PHOTO && settings.photos.empty())
            continue;
        ComparisonSettings each = settings;
        each.background = background;
        if (sections.find("hard") != std::string::npos)
            compareOnHardCases(detectors, each, std::cout);
        if (sections.find("jitter") != std::string::npos)
        {
            each.frames = int(arguments.getNumber("jitter-frames", 100));
            compareJitter(detectors, each, std::cout);
        }
    }
    if (sections.find("sets") != std::string::npos)
    {
        ComparisonSettings sets = settings;
        sets.background = Background::BUSY;
        std::vector<int> sizes;
        for (double size : arguments.getList("pattern-sets", {8, 64, 256}))
            sizes.push_back(int(size));
        comparePatternSets(makeDetectors, sets, sizes, int(arguments.getNumber("set-frames", 100)),
                           int(arguments.getNumber("empty-frames", 1000)), std::cout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ToolArguments arguments(argc, argv,
                            {"half", "no-distortion", "no-compare", "hard-cases", "image-targets", "help"});
    if (!arguments.error().empty() || arguments.has("help"))
    {
        std::cerr
            << (arguments.error().empty() ? "" : arguments.error() + "\n")
            << "usage: novaro-bench-tracker [--frames N] [--empty-frames N] [--resolutions "
               "640x480,1280x720,...]\n"
               "  [--markers 1,4,16] [--min-width PX] [--max-width PX] [--max-tilt DEG] [--seed N]\n"
               "  [--noise SIGMA] [--blur SIGMA] [--light SHARE] [--threshold T] [--half] [--no-distortion]\n"
               "  [--no-compare]\n"
               "       novaro-bench-tracker --hard-cases [--frames N] [--resolutions WxH] [--seed N] "
               "[--misses DIR] [--no-compare]\n"
               "  [--only CASE] [--backgrounds calm,busy,photo] [--photos DIR] [--sections "
               "speed,hard,sets,jitter]\n"
               "  [--speed-resolutions 640x480,1920x1080] [--speed-frames N] [--pattern-sets 8,64,256]\n"
               "  [--set-frames N] [--empty-frames N] [--jitter-frames N]\n"
               "  (speed, hard cases, pattern sets and jitter on each background, the same frames for the "
               "tracker, AprilTag and ArUco)\n"
               "       novaro-bench-tracker --image-targets [--data OPENCV_EXAMPLES_DATA] [--frames N] "
               "[--seed N]\n"
               "  (image targets from OpenCV's example photographs against a plain OpenCV pipeline)"
            << std::endl;
        return arguments.has("help") ? 0 : 1;
    }
    osg::setNotifyLevel(osg::WARN);
    quietOpenCV();
    cv::setNumThreads(1); // one core, as the goals are stated
    if (arguments.has("image-targets"))
        return runImageTargetBenchmark(arguments, std::cout);
    const int frames = int(arguments.getNumber("frames", 100));
    const int emptyFrames = int(arguments.getNumber("empty-frames", 100));
    const std::vector<double> counts = arguments.getList("markers", {1, 4, 16});
    const double minWidth = arguments.getNumber("min-width", 40);
    const double maxWidthArgument = arguments.getNumber("max-width", 0);
    const double maxTilt = arguments.getNumber("max-tilt", 60);
    const unsigned seed = unsigned(arguments.getNumber("seed", 1));
    const bool half = arguments.has("half");
    const bool distorted = !arguments.has("no-distortion");
    bool compare = !arguments.has("no-compare");
    ImagingSettings imaging;
    imaging.noiseSigma = arguments.getNumber("noise", imaging.noiseSigma);
    imaging.blurSigma = arguments.getNumber("blur", imaging.blurSigma);
    imaging.lightVariation = arguments.getNumber("light", imaging.lightVariation);

    std::vector<std::pair<int, int>> resolutions;
    {
        std::stringstream stream(arguments.get("resolutions", "640x480,1280x720,1920x1080"));
        std::string item;
        while (std::getline(stream, item, ','))
        {
            int w = 0, h = 0;
            if (std::sscanf(item.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0)
                resolutions.emplace_back(w, h);
        }
    }

    addPluginSearchPaths();
    osg::ref_ptr<osgART::GenericTracker> tracker = loadTrackerPlugin();
    if (!tracker.valid())
    {
        std::cerr << "cannot load the tracker plugin osgart_tracker_artoolkit4" << std::endl;
        return 1;
    }
    char folderTemplate[] = "/tmp/novaro-bench-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (!folder)
    {
        std::cerr << "cannot create a temporary folder" << std::endl;
        return 1;
    }
    if (arguments.has("hard-cases"))
    {
        const int status = runHardCases(arguments, tracker.get(), folder, resolutions);
        ::rmdir(folder);
        return status;
    }
    const size_t maxCount = size_t(*std::max_element(counts.begin(), counts.end()));
    const std::vector<osgART::Pattern> patterns = makeDistinctPatterns(maxCount, seed);
    std::vector<PrintedMarker> printed;
    std::vector<std::string> patternFiles;
    for (size_t i = 0; i < patterns.size(); ++i)
    {
        PrintedMarker marker;
        marker.texture = makeMarkerImage(patterns[i], 16, 0.25);
        marker.size = 80.0;
        printed.push_back(marker);
        patternFiles.push_back(std::string(folder) + "/marker" + std::to_string(i) + ".patt");
        patterns[i].save(patternFiles.back());
    }

#ifndef NOVARO_HAVE_APRILTAG
#ifndef NOVARO_HAVE_ARUCO
    compare = false;
#endif
#endif
#ifdef NOVARO_HAVE_APRILTAG
    apriltag_family_t* family = tag36h11_create();
    apriltag_detector_t* aprilDetector = apriltag_detector_create();
    apriltag_detector_add_family(aprilDetector, family);
    aprilDetector->nthreads = 1;
    std::vector<PrintedMarker> aprilPrinted;
    for (size_t i = 0; i < maxCount; ++i)
    {
        const cv::Mat cells = aprilTagCells(int(i), 25, 235);
        cv::Mat big;
        cv::resize(cells, big, cv::Size(cells.cols * 64, cells.rows * 64), 0, 0, cv::INTER_NEAREST);
        cv::copyMakeBorder(big, big, big.rows / 4, big.rows / 4, big.cols / 4, big.cols / 4,
                           cv::BORDER_CONSTANT, cv::Scalar(235));
        PrintedMarker marker;
        cv::cvtColor(big, marker.texture, cv::COLOR_GRAY2BGR);
        marker.size = 80.0;
        aprilPrinted.push_back(marker);
    }
#endif
#ifdef NOVARO_HAVE_ARUCO
    std::vector<PrintedMarker> arucoPrinted;
    for (size_t i = 0; i < maxCount; ++i)
    {
        cv::Mat cells;
        cv::aruco::drawMarker(arucoDictionary(), int(i), 8 * 64, cells, 1);
        cells = cells / 255 * (235 - 25) + 25;
        cv::copyMakeBorder(cells, cells, cells.rows / 4, cells.rows / 4, cells.cols / 4, cells.cols / 4,
                           cv::BORDER_CONSTANT, cv::Scalar(235));
        PrintedMarker marker;
        cv::cvtColor(cells, marker.texture, cv::COLOR_GRAY2BGR);
        marker.size = 80.0;
        arucoPrinted.push_back(marker);
    }
    cv::Ptr<cv::aruco::DetectorParameters> arucoParameters = cv::aruco::DetectorParameters::create();
#endif

    std::cout << "# novaro-bench-tracker: " << frames << " frames per row, " << emptyFrames
              << " marker-free frames per resolution, markers " << minWidth << " px and wider, tilt up to "
              << maxTilt << " degrees, " << (half ? "half" : "full") << " resolution processing, "
              << (distorted ? "distorted" : "distortion-free") << " camera, noise " << imaging.noiseSigma
              << ", blur " << imaging.blurSigma << ", light fall-off " << imaging.lightVariation
              << ", 1 thread" << std::endl;
    std::cout
        << "| resolution | markers | median CPU ms | p95 CPU ms | median wall ms | p95 wall ms | detected | "
           "wrong id | median rot err (deg) | "
           "median trans err (% dist) | p95 rot err (deg)";
    if (compare)
        std::cout << " | AprilTag median CPU ms | AprilTag detected | ArUco median CPU ms | ArUco detected | "
                     "CPU ratio AprilTag/ours | CPU ratio ArUco/ours";
    std::cout << " |" << std::endl;
    std::cout << "|---|---|---|---|---|---|---|---|---|---|---" << (compare ? "|---|---|---|---|---|---" : "")
              << "|" << std::endl;

    std::mt19937 random(seed);
    std::vector<std::string> falsePositiveLines;
    for (const auto& resolution : resolutions)
    {
        const int width = resolution.first, height = resolution.second;
        const osgART::CameraParameters camera = makeDefaultCamera(width, height, distorted);
        const std::string cameraFile = std::string(folder) + "/camera_" + std::to_string(width) + ".dat";
        camera.saveBinary(cameraFile);
        if (!tracker->init(width, height, cameraFile, ""))
        {
            std::cerr << "tracker init failed for " << width << "x" << height << std::endl;
            return 1;
        }
        for (const std::string& file : patternFiles)
            if (!tracker->addMarker("single;" + file + ";80;0.0;0.0"))
            {
                std::cerr << "cannot add marker " << file << std::endl;
                return 1;
            }
        if (auto* threshold = dynamic_cast<osgART::TypedField<int>*>(tracker->get("threshold")))
            threshold->set(int(arguments.getNumber("threshold", 100)));
        if (auto* mode = dynamic_cast<osgART::TypedField<int>*>(tracker->get("imageProcMode")))
            mode->set(half ? 1 : 0);
        ImagingSettings settings = imaging;
        settings.supersampling = width > 1000 ? 2 : 3;
        SyntheticCamera synthetic(camera, settings);
        const double maxWidth = maxWidthArgument > 0 ? maxWidthArgument : 0.3 * height;
        osg::ref_ptr<osg::Image> image = new osg::Image;
        tracker->setImage(image.get());

        for (double countValue : counts)
        {
            const size_t count = size_t(countValue);
            Result ours;
            OtherResult april, aruco;
            const std::vector<PrintedMarker> subset(printed.begin(),
                                                    printed.begin() + long(std::min(count, printed.size())));
            for (int frameIndex = 0; frameIndex < frames; ++frameIndex)
            {
                const unsigned frameSeed = unsigned(random());
                std::mt19937 placement(frameSeed);
                const std::vector<PlacedMarker> placed = synthetic.placeMarkers(
                    subset, count, minWidth, std::max(minWidth * 1.5, maxWidth), maxTilt, placement);
                cv::Mat frame;
                std::mt19937 renderRandom(frameSeed);
                synthetic.render(subset, placed, renderRandom, frame);
                copyFrameToImage(frame, *image, true);
                ours.timing.measure([&]() { tracker->update(); });
                std::vector<bool> expectedMarker(tracker->getMarkerCount(), false);
                for (const PlacedMarker& marker : placed)
                {
                    expectedMarker[size_t(marker.marker)] = true;
                    ++ours.expected;
                    osgART::Marker* found = tracker->getMarker(marker.marker);
                    if (!found || !found->valid())
                        continue;
                    ++ours.detected;
                    ours.rotationErrors.push_back(rotationErrorDegrees(found->getTransform(), marker.pose));
                    ours.translationErrors.push_back(
                        (found->getTransform().getTrans() - marker.pose.getTrans()).length() /
                        marker.pose.getTrans().length() * 100.0);
                }
                for (unsigned m = 0; m < tracker->getMarkerCount(); ++m)
                    if (!expectedMarker[m] && tracker->getMarker(int(m))->valid())
                        ++ours.wrong;
                if (!compare)
                    continue;
#ifdef NOVARO_HAVE_APRILTAG
                {
                    std::mt19937 renderAgain(frameSeed);
                    cv::Mat aprilFrame, grey;
                    synthetic.render(aprilPrinted, placed, renderAgain, aprilFrame);
                    zarray_t* detections = nullptr;
                    april.timing.measure(
                        [&]()
                        {
                            cv::cvtColor(aprilFrame, grey, cv::COLOR_BGR2GRAY);
                            image_u8_t header{grey.cols, grey.rows, int(grey.step[0]), grey.data};
                            detections = apriltag_detector_detect(aprilDetector, &header);
                        });
                    std::vector<bool> seen(count, false);
                    for (int k = 0; k < zarray_size(detections); ++k)
                    {
                        apriltag_detection_t* detection;
                        zarray_get(detections, k, &detection);
                        if (detection->id >= 0 && size_t(detection->id) < count)
                            seen[size_t(detection->id)] = true;
                    }
                    apriltag_detections_destroy(detections);
                    for (const PlacedMarker& marker : placed)
                    {
                        ++april.expected;
                        if (seen[size_t(marker.marker)])
                            ++april.detected;
                    }
                }
#endif
#ifdef NOVARO_HAVE_ARUCO
                {
                    std::mt19937 renderAgain(frameSeed);
                    cv::Mat arucoFrame, grey;
                    synthetic.render(arucoPrinted, placed, renderAgain, arucoFrame);
                    std::vector<int> ids;
                    std::vector<std::vector<cv::Point2f>> corners;
                    aruco.timing.measure(
                        [&]()
                        {
                            cv::cvtColor(arucoFrame, grey, cv::COLOR_BGR2GRAY);
                            cv::aruco::detectMarkers(grey, arucoDictionary(), corners, ids, arucoParameters);
                        });
                    std::vector<bool> seen(count, false);
                    for (int id : ids)
                        if (id >= 0 && size_t(id) < count)
                            seen[size_t(id)] = true;
                    for (const PlacedMarker& marker : placed)
                    {
                        ++aruco.expected;
                        if (seen[size_t(marker.marker)])
                            ++aruco.detected;
                    }
                }
#endif
            }
            std::vector<double> rotations = ours.rotationErrors;
            std::sort(rotations.begin(), rotations.end());
            const double rotationP95 =
                rotations.empty()
                    ? 0.0
                    : rotations[std::min(rotations.size() - 1, size_t(0.95 * rotations.size()))];
            std::cout << std::fixed << std::setprecision(2) << "| " << width << "x" << height << " | "
                      << count << " | " << ours.timing.cpuMedian() << " | " << ours.timing.cpuP95() << " | "
                      << ours.timing.median() << " | " << ours.timing.p95() << " | " << ours.detected << "/"
                      << ours.expected << " (" << std::setprecision(2)
                      << (ours.expected ? 100.0 * ours.detected / ours.expected : 0.0) << "%) | "
                      << ours.wrong << " | " << std::setprecision(3) << medianOf(ours.rotationErrors) << " | "
                      << medianOf(ours.translationErrors) << " | " << rotationP95;
            if (compare)
            {
                auto rate = [](const OtherResult& r)
                {
                    std::ostringstream out;
                    out << std::fixed << std::setprecision(2)
                        << (r.expected ? 100.0 * r.detected / r.expected : 0.0) << "%";
                    return r.timing.milliseconds.empty() ? std::string("n/a") : out.str();
                };
                auto ms = [](OtherResult& r)
                {
                    std::ostringstream out;
                    out << std::fixed << std::setprecision(2) << r.timing.cpuMedian();
                    return r.timing.milliseconds.empty() ? std::string("n/a") : out.str();
                };
                auto ratio = [&](OtherResult& r)
                {
                    std::ostringstream out;
                    out << std::fixed << std::setprecision(1)
                        << r.timing.cpuMedian() / std::max(1e-9, ours.timing.cpuMedian()) << "x";
                    return r.timing.milliseconds.empty() ? std::string("n/a") : out.str();
                };
                std::cout << " | " << ms(april) << " | " << rate(april) << " | " << ms(aruco) << " | "
                          << rate(aruco) << " | " << ratio(april) << " | " << ratio(aruco);
            }
            std::cout << " |" << std::endl;
        }

        // Marker-free frames: every reported marker is a false positive.
        size_t falsePositives = 0;
        Timing emptyTiming;
        for (int frameIndex = 0; frameIndex < emptyFrames; ++frameIndex)
        {
            std::mt19937 renderRandom{static_cast<unsigned>(random())};
            cv::Mat frame;
            synthetic.render(printed, {}, renderRandom, frame);
            copyFrameToImage(frame, *image, true);
            emptyTiming.measure([&]() { tracker->update(); });
            for (unsigned m = 0; m < tracker->getMarkerCount(); ++m)
                if (tracker->getMarker(int(m))->valid())
                    ++falsePositives;
        }
        std::ostringstream line;
        line << std::fixed << std::setprecision(2) << width << "x" << height << ": " << falsePositives
             << " false positives on " << emptyFrames << " marker-free frames (" << printed.size()
             << " patterns loaded), median CPU " << emptyTiming.cpuMedian() << " ms, p95 CPU "
             << emptyTiming.cpuP95() << " ms";
        falsePositiveLines.push_back(line.str());
    }
    for (const std::string& line : falsePositiveLines)
        std::cout << line << std::endl;
#ifdef NOVARO_HAVE_APRILTAG
    apriltag_detector_destroy(aprilDetector);
    tag36h11_destroy(family);
#endif
    for (const std::string& file : patternFiles)
        std::remove(file.c_str());
    for (const auto& resolution : resolutions)
        std::remove((std::string(folder) + "/camera_" + std::to_string(resolution.first) + ".dat").c_str());
    ::rmdir(folder);
    return 0;
}
