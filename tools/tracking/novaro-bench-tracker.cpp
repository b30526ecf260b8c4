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
#include <filesystem>
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

// The hard-case comparison's settings from the options: frame counts, seeds, noise levels,
// photographs and the resolution of the hard-case tables (the first of --resolutions, else
// 640x480). False, with the reason in error, for a malformed option.
bool hardCaseSettings(const ToolArguments& arguments, const std::vector<std::pair<int, int>>& resolutions,
                      ComparisonSettings& settings, std::string& error)
{
    settings.frames = int(arguments.getNumber("frames", 50));
    settings.seeds = seedsFrom(arguments, error);
    if (settings.seeds.empty())
        return false;
    settings.seed = settings.seeds.front();
    settings.noiseLevels = noiseLevelsFrom(arguments, error);
    if (!error.empty())
        return false;
    settings.missFolder = arguments.get("misses");
    // Made here, so that a mistyped or unwritable folder stops the run before its frames are lost.
    std::error_code made;
    if (!settings.missFolder.empty() && !std::filesystem::create_directories(settings.missFolder, made) &&
        made)
    {
        error = "cannot make the folder for missed frames " + settings.missFolder + ": " + made.message();
        return false;
    }
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
    return true;
}

std::vector<Background> backgroundsFrom(const ToolArguments& arguments)
{
    std::vector<Background> backgrounds;
    for (const char* name : {"calm", "busy", "photo"})
        if (arguments.get("backgrounds", "calm,busy,photo").find(name) != std::string::npos)
            backgrounds.push_back(name[0] == 'c'   ? Background::CALM
                                  : name[0] == 'b' ? Background::BUSY
                                                   : Background::PHOTO);
    return backgrounds;
}

// Speed on the clean case, every background and --speed-resolutions.
void runSpeedTable(const ToolArguments& arguments, const DetectorFactory& makeDetectors,
                   const ComparisonSettings& settings, const std::vector<Background>& backgrounds)
{
    ComparisonSettings speed = settings;
    speed.frames = int(arguments.getNumber("speed-frames", 60));
    compareSpeed(makeDetectors, speed, backgrounds,
                 parseResolutions(arguments.get("speed-resolutions", "640x480,1920x1080")), std::cout);
}

// The hard-case and jitter tables of each background that has its scenes.
void runBackgroundTables(const ToolArguments& arguments, const DetectorFactory& makeDetectors,
                         const ComparisonSettings& settings, const std::vector<Background>& backgrounds,
                         const std::string& sections)
{
    for (const Background background : backgrounds)
    {
        if (background == Background::PHOTO && settings.photos.empty())
            continue;
        ComparisonSettings each = settings;
        each.background = background;
        if (sections.find("hard") != std::string::npos)
            compareOnHardCases(makeDetectors, each, std::cout);
        if (sections.find("jitter") != std::string::npos)
        {
            each.frames = int(arguments.getNumber("jitter-frames", 100));
            compareJitter(makeDetectors, each, std::cout);
        }
    }
}

// False positives and wrong ids with sets of --pattern-sets patterns, on the busy background.
void runPatternSetTable(const ToolArguments& arguments, const DetectorFactory& makeDetectors,
                        const ComparisonSettings& settings)
{
    ComparisonSettings sets = settings;
    sets.background = Background::BUSY;
    std::vector<int> sizes;
    for (double size : arguments.getList("pattern-sets", {8, 64, 256}))
        sizes.push_back(int(size));
    comparePatternSets(makeDetectors, sets, sizes, int(arguments.getNumber("set-frames", 100)),
                       int(arguments.getNumber("empty-frames", 1000)), std::cout);
}

int runHardCases(const ToolArguments& arguments, osgART::GenericTracker* tracker, const std::string& folder,
                 const std::vector<std::pair<int, int>>& resolutions)
{
    ComparisonSettings settings;
    std::string error;
    if (!hardCaseSettings(arguments, resolutions, settings, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    const DetectorFactory makeDetectors = [&](int ids, unsigned seed)
    {
        std::vector<std::unique_ptr<ComparedDetector>> made;
        made.push_back(makeTrackerDetector(tracker, folder, ids, seed));
        if (!arguments.has("no-compare"))
        {
            made.push_back(makeAprilTagDetector(ids));
            made.push_back(makeArucoDetector(ids));
        }
        made.erase(std::remove(made.begin(), made.end(), nullptr), made.end());
        return made;
    };
    // Asked to compare and short of peers: only then is a peer missing from the build.
    if (!arguments.has("no-compare") && makeDetectors(1, settings.seed).size() < 3)
        std::cout
            << "# built without AprilTag or ArUco (Debian packages libapriltag-dev, libopencv-contrib-dev): "
               "only the detectors present are compared"
            << std::endl;
    const std::vector<Background> backgrounds = backgroundsFrom(arguments);
    std::cout << "# photo background: " << settings.photos.size() << " photographs from "
              << arguments.get("photos", "/usr/share/doc/opencv-doc/examples/data") << std::endl;
    const std::string sections = arguments.get("sections", "speed,hard,sets,jitter");
    if (sections.find("speed") != std::string::npos)
        runSpeedTable(arguments, makeDetectors, settings, backgrounds);
    runBackgroundTables(arguments, makeDetectors, settings, backgrounds, sections);
    if (sections.find("sets") != std::string::npos)
        runPatternSetTable(arguments, makeDetectors, settings);
    return 0;
}

// The synthetic-scene tables (without --hard-cases): the options they take.
struct SceneOptions
{
    int frames = 100;
    int emptyFrames = 100;
    std::vector<double> counts;
    double minWidth = 40;
    double maxWidth = 0; ///< 0: 30 % of the frame's height
    double maxTilt = 60;
    unsigned seed = 1;
    bool half = false;
    bool distorted = true;
    bool compare = true;
    int threshold = 100;
    ImagingSettings imaging;
    std::vector<std::pair<int, int>> resolutions;
};

SceneOptions readSceneOptions(const ToolArguments& arguments)
{
    SceneOptions options;
    options.frames = int(arguments.getNumber("frames", 100));
    options.emptyFrames = int(arguments.getNumber("empty-frames", 100));
    options.counts = arguments.getList("markers", {1, 4, 16});
    options.minWidth = arguments.getNumber("min-width", 40);
    options.maxWidth = arguments.getNumber("max-width", 0);
    options.maxTilt = arguments.getNumber("max-tilt", 60);
    options.seed = unsigned(arguments.getNumber("seed", 1));
    options.half = arguments.has("half");
    options.distorted = !arguments.has("no-distortion");
    options.compare = !arguments.has("no-compare");
#ifndef NOVARO_HAVE_APRILTAG
#ifndef NOVARO_HAVE_ARUCO
    options.compare = false;
#endif
#endif
    options.threshold = int(arguments.getNumber("threshold", 100));
    options.imaging.noiseSigma = arguments.getNumber("noise", options.imaging.noiseSigma);
    options.imaging.blurSigma = arguments.getNumber("blur", options.imaging.blurSigma);
    options.imaging.lightVariation = arguments.getNumber("light", options.imaging.lightVariation);
    for (const cv::Size& size : parseResolutions(arguments.get("resolutions", "640x480,1280x720,1920x1080")))
        options.resolutions.emplace_back(size.width, size.height);
    return options;
}

// The printed markers of the three detectors: ours from generated patterns (saved for the
// tracker), AprilTag's tag36h11 and ArUco's 6x6 codes, all 80 mm with a quarter of paper around.
struct MarkerPrints
{
    std::vector<PrintedMarker> ours, aprilTag, aruco;
    std::vector<std::string> patternFiles;

    ~MarkerPrints()
    {
        for (const std::string& file : patternFiles)
            std::remove(file.c_str());
    }
};

void printOurs(size_t count, unsigned seed, const std::string& folder, MarkerPrints& prints)
{
    const std::vector<osgART::Pattern> patterns = makeDistinctPatterns(count, seed);
    for (size_t i = 0; i < patterns.size(); ++i)
    {
        PrintedMarker marker;
        marker.texture = makeMarkerImage(patterns[i], 16, 0.25);
        marker.size = 80.0;
        prints.ours.push_back(marker);
        prints.patternFiles.push_back(folder + "/marker" + std::to_string(i) + ".patt");
        patterns[i].save(prints.patternFiles.back());
    }
}

void printPeers([[maybe_unused]] size_t count, [[maybe_unused]] MarkerPrints& prints)
{
#ifdef NOVARO_HAVE_APRILTAG
    for (size_t i = 0; i < count; ++i)
    {
        const cv::Mat cells = aprilTagCells(int(i), 25, 235);
        cv::Mat big;
        cv::resize(cells, big, cv::Size(cells.cols * 64, cells.rows * 64), 0, 0, cv::INTER_NEAREST);
        cv::copyMakeBorder(big, big, big.rows / 4, big.rows / 4, big.cols / 4, big.cols / 4,
                           cv::BORDER_CONSTANT, cv::Scalar(235));
        PrintedMarker marker;
        cv::cvtColor(big, marker.texture, cv::COLOR_GRAY2BGR);
        marker.size = 80.0;
        prints.aprilTag.push_back(marker);
    }
#endif
#ifdef NOVARO_HAVE_ARUCO
    for (size_t i = 0; i < count; ++i)
    {
        cv::Mat cells;
        cv::aruco::drawMarker(arucoDictionary(), int(i), 8 * 64, cells, 1);
        cells = cells / 255 * (235 - 25) + 25;
        cv::copyMakeBorder(cells, cells, cells.rows / 4, cells.rows / 4, cells.cols / 4, cells.cols / 4,
                           cv::BORDER_CONSTANT, cv::Scalar(235));
        PrintedMarker marker;
        cv::cvtColor(cells, marker.texture, cv::COLOR_GRAY2BGR);
        marker.size = 80.0;
        prints.aruco.push_back(marker);
    }
#endif
}

// The peers' detectors, one thread each, for as long as the tables run.
struct PeerDetectors
{
#ifdef NOVARO_HAVE_APRILTAG
    apriltag_family_t* family = tag36h11_create();
    apriltag_detector_t* aprilTag = apriltag_detector_create();
#endif
#ifdef NOVARO_HAVE_ARUCO
    cv::Ptr<cv::aruco::DetectorParameters> arucoParameters = cv::aruco::DetectorParameters::create();
#endif
    PeerDetectors()
    {
#ifdef NOVARO_HAVE_APRILTAG
        apriltag_detector_add_family(aprilTag, family);
        aprilTag->nthreads = 1;
#endif
    }
    ~PeerDetectors()
    {
#ifdef NOVARO_HAVE_APRILTAG
        apriltag_detector_destroy(aprilTag);
        tag36h11_destroy(family);
#endif
    }
    PeerDetectors(const PeerDetectors&) = delete;
    PeerDetectors& operator=(const PeerDetectors&) = delete;
};

void printSceneHeader(const SceneOptions& options)
{
    std::cout << "# novaro-bench-tracker: " << options.frames << " frames per row, " << options.emptyFrames
              << " marker-free frames per resolution, markers " << options.minWidth
              << " px and wider, tilt up to " << options.maxTilt << " degrees, "
              << (options.half ? "half" : "full") << " resolution processing, "
              << (options.distorted ? "distorted" : "distortion-free") << " camera, noise "
              << options.imaging.noiseSigma << ", blur " << options.imaging.blurSigma << ", light fall-off "
              << options.imaging.lightVariation << ", 1 thread" << std::endl;
    std::cout
        << "| resolution | markers | median CPU ms | p95 CPU ms | median wall ms | p95 wall ms | detected | "
           "wrong id | median rot err (deg) | "
           "median trans err (% dist) | p95 rot err (deg)";
    if (options.compare)
        std::cout << " | AprilTag median CPU ms | AprilTag detected | ArUco median CPU ms | ArUco detected | "
                     "CPU ratio AprilTag/ours | CPU ratio ArUco/ours";
    std::cout << " |" << std::endl;
    std::cout << "|---|---|---|---|---|---|---|---|---|---|---"
              << (options.compare ? "|---|---|---|---|---|---" : "") << "|" << std::endl;
}

// The tracker set up for one resolution: its camera, every pattern, the threshold and processing size.
bool prepareTracker(osgART::GenericTracker& tracker, const osgART::CameraParameters& camera, int width,
                    int height, const std::string& folder, const MarkerPrints& prints,
                    const SceneOptions& options)
{
    const std::string cameraFile = folder + "/camera_" + std::to_string(width) + ".dat";
    camera.saveBinary(cameraFile);
    if (!tracker.init(width, height, cameraFile, ""))
    {
        std::cerr << "tracker init failed for " << width << "x" << height << std::endl;
        return false;
    }
    for (const std::string& file : prints.patternFiles)
        if (!tracker.addMarker("single;" + file + ";80;0.0;0.0"))
        {
            std::cerr << "cannot add marker " << file << std::endl;
            return false;
        }
    if (auto* threshold = dynamic_cast<osgART::TypedField<int>*>(tracker.get("threshold")))
        threshold->set(options.threshold);
    if (auto* mode = dynamic_cast<osgART::TypedField<int>*>(tracker.get("imageProcMode")))
        mode->set(options.half ? 1 : 0);
    return true;
}

// Our tracker on one frame: time, detections with their pose errors, and markers reported that
// are not in the frame.
void measureOurs(osgART::GenericTracker& tracker, const cv::Mat& frame, osg::Image& image,
                 const std::vector<PlacedMarker>& placed, Result& ours)
{
    copyFrameToImage(frame, image, true);
    ours.timing.measure([&]() { tracker.update(); });
    std::vector<bool> expectedMarker(tracker.getMarkerCount(), false);
    for (const PlacedMarker& marker : placed)
    {
        expectedMarker[size_t(marker.marker)] = true;
        ++ours.expected;
        osgART::Marker* found = tracker.getMarker(marker.marker);
        if (!found || !found->valid())
            continue;
        ++ours.detected;
        ours.rotationErrors.push_back(rotationErrorDegrees(found->getTransform(), marker.pose));
        ours.translationErrors.push_back(
            (found->getTransform().getTrans() - marker.pose.getTrans()).length() /
            marker.pose.getTrans().length() * 100.0);
    }
    for (unsigned m = 0; m < tracker.getMarkerCount(); ++m)
        if (!expectedMarker[m] && tracker.getMarker(int(m))->valid())
            ++ours.wrong;
}

// A peer's detections counted against the markers placed (ids below count are ours to expect).
[[maybe_unused]] void countSeen(const std::vector<bool>& seen, const std::vector<PlacedMarker>& placed,
                                OtherResult& result)
{
    for (const PlacedMarker& marker : placed)
    {
        ++result.expected;
        if (seen[size_t(marker.marker)])
            ++result.detected;
    }
}

// The same frame with AprilTag's markers in place of ours, rendered from the same seed.
void measureAprilTag([[maybe_unused]] PeerDetectors& peers, [[maybe_unused]] SyntheticCamera& synthetic,
                     [[maybe_unused]] const MarkerPrints& prints,
                     [[maybe_unused]] const std::vector<PlacedMarker>& placed,
                     [[maybe_unused]] unsigned frameSeed, [[maybe_unused]] size_t count,
                     [[maybe_unused]] OtherResult& april)
{
#ifdef NOVARO_HAVE_APRILTAG
    std::mt19937 renderAgain(frameSeed);
    cv::Mat aprilFrame, grey;
    synthetic.render(prints.aprilTag, placed, renderAgain, aprilFrame);
    zarray_t* detections = nullptr;
    april.timing.measure(
        [&]()
        {
            cv::cvtColor(aprilFrame, grey, cv::COLOR_BGR2GRAY);
            image_u8_t header{grey.cols, grey.rows, int(grey.step[0]), grey.data};
            detections = apriltag_detector_detect(peers.aprilTag, &header);
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
    countSeen(seen, placed, april);
#endif
}

void measureAruco([[maybe_unused]] PeerDetectors& peers, [[maybe_unused]] SyntheticCamera& synthetic,
                  [[maybe_unused]] const MarkerPrints& prints,
                  [[maybe_unused]] const std::vector<PlacedMarker>& placed,
                  [[maybe_unused]] unsigned frameSeed, [[maybe_unused]] size_t count,
                  [[maybe_unused]] OtherResult& aruco)
{
#ifdef NOVARO_HAVE_ARUCO
    std::mt19937 renderAgain(frameSeed);
    cv::Mat arucoFrame, grey;
    synthetic.render(prints.aruco, placed, renderAgain, arucoFrame);
    std::vector<int> ids;
    std::vector<std::vector<cv::Point2f>> corners;
    aruco.timing.measure(
        [&]()
        {
            cv::cvtColor(arucoFrame, grey, cv::COLOR_BGR2GRAY);
            cv::aruco::detectMarkers(grey, arucoDictionary(), corners, ids, peers.arucoParameters);
        });
    std::vector<bool> seen(count, false);
    for (int id : ids)
        if (id >= 0 && size_t(id) < count)
            seen[size_t(id)] = true;
    countSeen(seen, placed, aruco);
#endif
}

void printSceneRow(int width, int height, size_t count, Result& ours, OtherResult& april, OtherResult& aruco,
                   bool compare)
{
    std::vector<double> rotations = ours.rotationErrors;
    std::sort(rotations.begin(), rotations.end());
    const double rotationP95 =
        rotations.empty() ? 0.0 : rotations[std::min(rotations.size() - 1, size_t(0.95 * rotations.size()))];
    std::cout << std::fixed << std::setprecision(2) << "| " << width << "x" << height << " | " << count
              << " | " << ours.timing.cpuMedian() << " | " << ours.timing.cpuP95() << " | "
              << ours.timing.median() << " | " << ours.timing.p95() << " | " << ours.detected << "/"
              << ours.expected << " (" << std::setprecision(2)
              << (ours.expected ? 100.0 * ours.detected / ours.expected : 0.0) << "%) | " << ours.wrong
              << " | " << std::setprecision(3) << medianOf(ours.rotationErrors) << " | "
              << medianOf(ours.translationErrors) << " | " << rotationP95;
    if (compare)
    {
        auto rate = [](const OtherResult& r)
        {
            std::ostringstream out;
            out << std::fixed << std::setprecision(2) << (r.expected ? 100.0 * r.detected / r.expected : 0.0)
                << "%";
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
        std::cout << " | " << ms(april) << " | " << rate(april) << " | " << ms(aruco) << " | " << rate(aruco)
                  << " | " << ratio(april) << " | " << ratio(aruco);
    }
    std::cout << " |" << std::endl;
}

// Everything one resolution's tables need while they run.
struct SceneRun
{
    osgART::GenericTracker& tracker;
    SyntheticCamera& synthetic;
    osg::Image& image;
    const MarkerPrints& prints;
    PeerDetectors& peers;
    const SceneOptions& options;
    std::mt19937& random;
};

// One row: frames of count markers, each seen by ours and (with compare) by the peers.
void runSceneRow(SceneRun& run, int width, int height, size_t count)
{
    const double maxWidth = run.options.maxWidth > 0 ? run.options.maxWidth : 0.3 * height;
    Result ours;
    OtherResult april, aruco;
    const std::vector<PrintedMarker> subset(
        run.prints.ours.begin(), run.prints.ours.begin() + long(std::min(count, run.prints.ours.size())));
    for (int frameIndex = 0; frameIndex < run.options.frames; ++frameIndex)
    {
        const unsigned frameSeed = unsigned(run.random());
        std::mt19937 placement(frameSeed);
        const std::vector<PlacedMarker> placed = run.synthetic.placeMarkers(
            subset, count, run.options.minWidth, std::max(run.options.minWidth * 1.5, maxWidth),
            run.options.maxTilt, placement);
        cv::Mat frame;
        std::mt19937 renderRandom(frameSeed);
        run.synthetic.render(subset, placed, renderRandom, frame);
        measureOurs(run.tracker, frame, run.image, placed, ours);
        if (!run.options.compare)
            continue;
        measureAprilTag(run.peers, run.synthetic, run.prints, placed, frameSeed, count, april);
        measureAruco(run.peers, run.synthetic, run.prints, placed, frameSeed, count, aruco);
    }
    printSceneRow(width, height, count, ours, april, aruco, run.options.compare);
}

// Marker-free frames: every reported marker is a false positive. Returns the summary line.
std::string countFalsePositives(SceneRun& run, int width, int height)
{
    size_t falsePositives = 0;
    Timing emptyTiming;
    for (int frameIndex = 0; frameIndex < run.options.emptyFrames; ++frameIndex)
    {
        std::mt19937 renderRandom{static_cast<unsigned>(run.random())};
        cv::Mat frame;
        run.synthetic.render(run.prints.ours, {}, renderRandom, frame);
        copyFrameToImage(frame, run.image, true);
        emptyTiming.measure([&]() { run.tracker.update(); });
        for (unsigned m = 0; m < run.tracker.getMarkerCount(); ++m)
            if (run.tracker.getMarker(int(m))->valid())
                ++falsePositives;
    }
    std::ostringstream line;
    line << std::fixed << std::setprecision(2) << width << "x" << height << ": " << falsePositives
         << " false positives on " << run.options.emptyFrames << " marker-free frames ("
         << run.prints.ours.size() << " patterns loaded), median CPU " << emptyTiming.cpuMedian()
         << " ms, p95 CPU " << emptyTiming.cpuP95() << " ms";
    return line.str();
}

// The synthetic-scene tables: per resolution and marker count a row for ours (and the peers), then
// the false positives of every resolution.
int runSceneTables(const SceneOptions& options, osgART::GenericTracker& tracker, const std::string& folder)
{
    const size_t maxCount = size_t(*std::max_element(options.counts.begin(), options.counts.end()));
    MarkerPrints prints;
    printOurs(maxCount, options.seed, folder, prints);
    printPeers(maxCount, prints);
    PeerDetectors peers;
    printSceneHeader(options);
    std::mt19937 random(options.seed);
    std::vector<std::string> falsePositiveLines;
    for (const auto& resolution : options.resolutions)
    {
        const int width = resolution.first, height = resolution.second;
        const osgART::CameraParameters camera = makeDefaultCamera(width, height, options.distorted);
        if (!prepareTracker(tracker, camera, width, height, folder, prints, options))
            return 1;
        ImagingSettings settings = options.imaging;
        settings.supersampling = width > 1000 ? 2 : 3;
        SyntheticCamera synthetic(camera, settings);
        osg::ref_ptr<osg::Image> image = new osg::Image;
        tracker.setImage(image.get());
        SceneRun run{tracker, synthetic, *image, prints, peers, options, random};
        for (double countValue : options.counts)
            runSceneRow(run, width, height, size_t(countValue));
        falsePositiveLines.push_back(countFalsePositives(run, width, height));
    }
    for (const std::string& line : falsePositiveLines)
        std::cout << line << std::endl;
    return 0;
}

void removeCameraFiles(const SceneOptions& options, const std::string& folder)
{
    for (const auto& resolution : options.resolutions)
        std::remove((folder + "/camera_" + std::to_string(resolution.first) + ".dat").c_str());
}

void printUsage(const ToolArguments& arguments)
{
    std::cerr
        << (arguments.error().empty() ? "" : arguments.error() + "\n")
        << "usage: novaro-bench-tracker [--frames N] [--empty-frames N] [--resolutions "
           "640x480,1280x720,...]\n"
           "  [--markers 1,4,16] [--min-width PX] [--max-width PX] [--max-tilt DEG] [--seed N]\n"
           "  [--noise SIGMA] [--blur SIGMA] [--light SHARE] [--threshold T] [--half] [--no-distortion]\n"
           "  [--no-compare]\n"
           "       novaro-bench-tracker --hard-cases [--frames N] [--resolutions WxH] [--misses DIR] "
           "[--no-compare]\n"
           "  [--seed N | --seeds 1,2,3,4,5 | --seed-count N] [--iso none,default,100,800,1600,3200]\n"
           "  [--only CASE] [--backgrounds calm,busy,photo] [--photos DIR] [--sections "
           "speed,hard,sets,jitter]\n"
           "  [--speed-resolutions 640x480,1920x1080] [--speed-frames N] [--pattern-sets 8,64,256]\n"
           "  [--set-frames N] [--empty-frames N] [--jitter-frames N]\n"
           "  (speed, hard cases, pattern sets and jitter on each background, the same frames for the "
           "tracker, AprilTag and ArUco)\n"
           "  --seeds, --seed-count: every table runs once per seed (its frames and our patterns drawn "
           "from it)\n"
           "   and prints the minimum, median and maximum over the seeds, each on its row (default: "
           "--seed, 1)\n"
           "  --iso: every table once per camera noise level, a row each: none, default (2 grey levels,\n"
           "   independent per pixel) or a camera sensor at that ISO; the hard cases' own ISO cases are "
           "then left out\n"
           "       novaro-bench-tracker --image-targets [--data OPENCV_EXAMPLES_DATA] [--frames N] "
           "[--seed N | --seeds ... | --seed-count N]\n"
           "  [--iso ...] [--part hard|graffiti|time|jitter] [--case NAME] [--width 640|1920]\n"
           "  (image targets from OpenCV's example photographs against a plain OpenCV pipeline, its tuned\n"
           "   configuration and, at 1080p, the tuned one on halved frames; OpenCV's graffiti pair against "
           "its true homography)"
        << std::endl;
}

// The square-marker tables (hard cases or synthetic scenes) with the tracker plugin loaded and a
// temporary folder for its camera and pattern files.
int runSquareMarkerTables(const ToolArguments& arguments)
{
    const SceneOptions options = readSceneOptions(arguments);
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
    const int status = arguments.has("hard-cases")
                           ? runHardCases(arguments, tracker.get(), folder, options.resolutions)
                           : runSceneTables(options, *tracker, folder);
    if (!arguments.has("hard-cases"))
        removeCameraFiles(options, folder);
    ::rmdir(folder);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    ToolArguments arguments(argc, argv,
                            {"half", "no-distortion", "no-compare", "hard-cases", "image-targets", "help"});
    if (!arguments.error().empty() || arguments.has("help"))
    {
        printUsage(arguments);
        return arguments.has("help") ? 0 : 1;
    }
    osg::setNotifyLevel(osg::WARN);
    quietOpenCV();
    cv::setNumThreads(1); // one core, as the goals are stated
    if (arguments.has("image-targets"))
        return runImageTargetBenchmark(arguments, std::cout);
    return runSquareMarkerTables(arguments);
}
