#include "TrackerComparison.h"
#include "BenchmarkTables.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/PoseEstimator.h>
#include <osgART/TransformFilterCallback.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <osg/Quat>
#include <osgDB/FileUtils>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>

#ifdef NOVARO_HAVE_APRILTAG
#include <apriltag/apriltag.h>
#include <apriltag/tag36h11.h>
#endif
#ifdef NOVARO_HAVE_ARUCO
#include <opencv2/aruco.hpp>
#endif

namespace Novaro
{

namespace
{

const double kMarkerSize = 80.0;
const double kMargin = 0.25;
const unsigned char kInk = 25;
const unsigned char kPaper = 235;

// Black-and-white cells (0 black) as a printed sheet: ink and paper greys, paper around. Unused
// when neither peer detector is installed.
[[maybe_unused]] cv::Mat printCells(const cv::Mat& cells)
{
    cv::Mat big;
    cv::resize(cells, big, cv::Size(cells.cols * 64, cells.rows * 64), 0, 0, cv::INTER_NEAREST);
    big = big / 255 * (kPaper - kInk) + kInk;
    cv::copyMakeBorder(big, big, big.rows / 4, big.rows / 4, big.cols / 4, big.cols / 4, cv::BORDER_CONSTANT,
                       cv::Scalar(kPaper));
    return big;
}

class TrackerDetector : public ComparedDetector
{
public:
    TrackerDetector(osgART::GenericTracker* tracker, const std::string& folder, int ids, unsigned seed)
        : _tracker(tracker), _folder(folder), _image(new osg::Image)
    {
        for (const osgART::Pattern& pattern : makeDistinctPatterns(size_t(ids), seed))
        {
            cv::Mat sheet;
            cv::cvtColor(makeMarkerImage(pattern, 16, kMargin), sheet, cv::COLOR_BGR2GRAY);
            _sheets.push_back(sheet);
            _patternFiles.push_back(folder + "/compared" + std::to_string(_patternFiles.size()) + ".patt");
            pattern.save(_patternFiles.back());
        }
    }
    ~TrackerDetector() override
    {
        for (const std::string& file : _patternFiles)
            std::remove(file.c_str());
        std::remove(cameraFile().c_str());
    }
    std::string name() const override { return "ours"; }
    bool prepare(int width, int height, const cv::Matx33d& k) override
    {
        const osgART::CameraParameters camera =
            osgART::CameraParameters::fromIntrinsics(width, height, k(0, 0), k(1, 1), k(0, 2), k(1, 2));
        if (!camera.saveBinary(cameraFile()) || !_tracker->init(width, height, cameraFile(), ""))
            return false;
        for (const std::string& file : _patternFiles)
            if (!_tracker->addMarker("single;" + file + ";" + std::to_string(int(kMarkerSize)) + ";0.0;0.0"))
                return false;
        _tracker->setImage(_image.get());
        _size = cv::Size(width, height);
        return true;
    }
    // A frame without markers: no marker is seen in it, so none keeps its last pose.
    void forget() override
    {
        copyFrameToImage(cv::Mat(_size, CV_8UC3, cv::Scalar::all(128)), *_image, true);
        _tracker->update();
    }
    void receive(const cv::Mat& frame) override { copyFrameToImage(frame, *_image, true); }
    void detect(const cv::Mat&, std::vector<ComparedDetection>& found) override
    {
        _tracker->update();
        found.clear();
        for (unsigned m = 0; m < _tracker->getMarkerCount(); ++m)
        {
            const osgART::Marker* marker = _tracker->getMarker(int(m));
            if (!marker->valid())
                continue;
            ComparedDetection detection;
            detection.id = int(m);
            for (int k = 0; k < 4; ++k)
                detection.corners[size_t(k)] =
                    cv::Point2d(marker->getCorners()[size_t(k)].x(), marker->getCorners()[size_t(k)].y());
            detection.hasPose = true;
            detection.pose = marker->getMeasuredTransform();
            found.push_back(detection);
        }
    }

    std::vector<std::pair<std::string, double>> stageTimes() const override
    {
        std::vector<std::pair<std::string, double>> stages;
        for (const osgART::GenericTracker::StageTime& stage : _tracker->stageTimes())
            stages.emplace_back(stage.name, stage.milliseconds);
        return stages;
    }

private:
    std::string cameraFile() const { return _folder + "/compared-camera.dat"; }

    osgART::GenericTracker* _tracker;
    std::string _folder;
    std::vector<std::string> _patternFiles;
    osg::ref_ptr<osg::Image> _image;
    cv::Size _size;
};

#ifdef NOVARO_HAVE_APRILTAG
class AprilTagDetector : public ComparedDetector
{
public:
    explicit AprilTagDetector(int ids) : _family(tag36h11_create()), _detector(apriltag_detector_create())
    {
        apriltag_detector_add_family(_detector, _family);
        _detector->nthreads = 1;
        for (int id = 0; id < ids; ++id)
        {
            _sheets.push_back(printCells(aprilTagCells(id, 0, 255)));
        }
    }
    ~AprilTagDetector() override
    {
        apriltag_detector_destroy(_detector);
        tag36h11_destroy(_family);
    }
    std::string name() const override { return "AprilTag"; }
    bool prepare(int, int, const cv::Matx33d&) override { return true; }
    void detect(const cv::Mat& frame, std::vector<ComparedDetection>& found) override
    {
        cv::cvtColor(frame, _grey, cv::COLOR_BGR2GRAY);
        image_u8_t header{_grey.cols, _grey.rows, int(_grey.step[0]), _grey.data};
        zarray_t* detections = apriltag_detector_detect(_detector, &header);
        found.clear();
        for (int k = 0; k < zarray_size(detections); ++k)
        {
            apriltag_detection_t* detection;
            zarray_get(detections, k, &detection);
            ComparedDetection compared;
            compared.id = detection->id;
            // Its corners count pixel edges from 0, pixel centres at +0.5.
            for (int c = 0; c < 4; ++c)
                compared.corners[size_t(c)] = cv::Point2d(detection->p[c][0] - 0.5, detection->p[c][1] - 0.5);
            found.push_back(compared);
        }
        apriltag_detections_destroy(detections);
    }

private:
    apriltag_family_t* _family;
    apriltag_detector_t* _detector;
    cv::Mat _grey;
};
#endif

#ifdef NOVARO_HAVE_ARUCO
class ArucoDetector : public ComparedDetector
{
public:
    explicit ArucoDetector(int ids)
        : _dictionary(cv::aruco::getPredefinedDictionary(ids > 250 ? cv::aruco::DICT_6X6_1000
                                                                   : cv::aruco::DICT_6X6_250)),
          _parameters(cv::aruco::DetectorParameters::create())
    {
        _parameters->cornerRefinementMethod = cv::aruco::CORNER_REFINE_SUBPIX;
        for (int id = 0; id < ids; ++id)
        {
            cv::Mat cells;
            cv::aruco::drawMarker(_dictionary, id, 8, cells, 1);
            _sheets.push_back(printCells(cells));
        }
    }
    std::string name() const override { return _dictionary->bytesList.rows > 250 ? "ArUco-1000" : "ArUco"; }
    bool prepare(int, int, const cv::Matx33d&) override { return true; }
    void detect(const cv::Mat& frame, std::vector<ComparedDetection>& found) override
    {
        cv::cvtColor(frame, _grey, cv::COLOR_BGR2GRAY);
        std::vector<int> ids;
        std::vector<std::vector<cv::Point2f>> corners;
        cv::aruco::detectMarkers(_grey, _dictionary, corners, ids, _parameters);
        found.clear();
        for (size_t k = 0; k < ids.size(); ++k)
        {
            ComparedDetection compared;
            compared.id = ids[k];
            for (int c = 0; c < 4; ++c)
                compared.corners[size_t(c)] = corners[k][size_t(c)];
            found.push_back(compared);
        }
    }

private:
    cv::Ptr<cv::aruco::Dictionary> _dictionary;
    cv::Ptr<cv::aruco::DetectorParameters> _parameters;
    cv::Mat _grey;
};
#endif

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(std::ceil(share * double(values.size())) - 1))];
}

// The marker's printed side turned away from the camera.
bool seenFromBehind(const osg::Matrixd& pose)
{
    const osg::Vec3d normal = osg::Matrixd::transform3x3(osg::Vec3d(0, 0, 1), pose);
    return normal * pose.getTrans() > 0.0;
}

// Pose from corners for detectors that give none: their corners put in the truth's order (the
// corner order is each library's convention, not a fault), then OpenCV's square solver.
bool poseFromCorners(std::array<cv::Point2d, 4> corners, const HardCaseMarker& truth,
                     const cv::Matx33d& camera, osg::Matrixd& pose)
{
    double bestDistance = 1e18;
    std::array<cv::Point2d, 4> best = corners;
    for (int mirror = 0; mirror < 2; ++mirror)
    {
        for (int shift = 0; shift < 4; ++shift)
        {
            std::array<cv::Point2d, 4> candidate;
            double distance = 0.0;
            for (int k = 0; k < 4; ++k)
            {
                candidate[size_t(k)] = corners[size_t((k + shift) % 4)];
                distance += cv::norm(candidate[size_t(k)] - truth.corners[size_t(k)]);
            }
            if (distance < bestDistance)
            {
                bestDistance = distance;
                best = candidate;
            }
        }
        std::reverse(corners.begin(), corners.end());
    }
    const double h = 0.5 * kMarkerSize;
    const std::vector<cv::Point3d> object = {{-h, h, 0}, {h, h, 0}, {h, -h, 0}, {-h, -h, 0}};
    cv::Vec3d rotation, translation;
    if (!cv::solvePnP(object, std::vector<cv::Point2d>(best.begin(), best.end()), camera, cv::noArray(),
                      rotation, translation, false, cv::SOLVEPNP_IPPE_SQUARE))
        return false;
    HardCaseMarker solved;
    solved.rotation = rotation;
    solved.translation = translation;
    pose = HardCaseRenderer::openGLPose(solved);
    return true;
}

// Corners put in the truth's order (each library's corner order is its own convention), then the
// square-pose solver of the tracker, with the previous pose when given: the same choice between a
// square's two poses, and the same least-squares refinement, that the tracker makes. Vision camera
// frame in, OpenGL frame out.
bool poseByTrackerRule(std::array<cv::Point2d, 4> corners, const HardCaseMarker& truth,
                       const osgART::PoseEstimator& estimator, const osg::Matrixd* previous,
                       osg::Matrixd& visionPose, osg::Matrixd& pose)
{
    double bestDistance = 1e18;
    std::array<osg::Vec2d, 4> ideal;
    for (int mirror = 0; mirror < 2; ++mirror)
    {
        for (int shift = 0; shift < 4; ++shift)
        {
            double distance = 0.0;
            for (int k = 0; k < 4; ++k)
                distance += cv::norm(corners[size_t((k + shift) % 4)] - truth.corners[size_t(k)]);
            if (distance < bestDistance)
            {
                bestDistance = distance;
                for (int k = 0; k < 4; ++k)
                {
                    const cv::Point2d& corner = corners[size_t((k + shift) % 4)];
                    ideal[size_t(k)].set(corner.x, corner.y);
                }
            }
        }
        std::reverse(corners.begin(), corners.end());
    }
    if (!estimator.estimateSquare(ideal, kMarkerSize, osg::Vec2d(), visionPose, previous))
        return false;
    pose = osgART::PoseEstimator::toOpenGL(visionPose);
    return true;
}

osgART::PoseEstimator estimatorFor(int width, int height, const cv::Matx33d& k)
{
    return osgART::PoseEstimator(
        osgART::CameraParameters::fromIntrinsics(width, height, k(0, 0), k(1, 1), k(0, 2), k(1, 2)));
}

struct Tally
{
    size_t expected = 0, detected = 0, wrongIds = 0, falsePositives = 0, fromBehind = 0;
    std::vector<double> rotationErrors, translationErrors, cpu, wall;
    /// The peers' corners through the tracker's square-pose solver (empty for ours, whose pose is
    /// its own).
    std::vector<double> refinedRotationErrors, refinedTranslationErrors;
    /// Per step of the detector's pipeline, in its order: the timed frames' milliseconds.
    std::vector<std::pair<std::string, std::vector<double>>> stages;
};

void addStageTimes(const ComparedDetector& detector, Tally& tally)
{
    for (const auto& stage : detector.stageTimes())
    {
        auto kept = std::find_if(tally.stages.begin(), tally.stages.end(),
                                 [&](const auto& s) { return s.first == stage.first; });
        if (kept == tally.stages.end())
            kept = tally.stages.insert(kept, {stage.first, {}});
        kept->second.push_back(stage.second);
    }
}

double share(size_t part, size_t whole)
{
    return whole ? 100.0 * double(part) / double(whole) : std::nan("");
}

// One value per detector.
std::vector<double> each(const std::vector<Tally>& tallies, const std::function<double(const Tally&)>& value)
{
    std::vector<double> values;
    for (const Tally& tally : tallies)
        values.push_back(value(tally));
    return values;
}

std::vector<unsigned> seedsOf(const ComparisonSettings& settings)
{
    return settings.seeds.empty() ? std::vector<unsigned>{settings.seed} : settings.seeds;
}

std::vector<int> levelsOf(const ComparisonSettings& settings)
{
    return settings.noiseLevels.empty() ? std::vector<int>{0} : settings.noiseLevels;
}

std::string namesOf(const std::vector<std::unique_ptr<ComparedDetector>>& detectors)
{
    std::string names;
    for (const std::unique_ptr<ComparedDetector>& detector : detectors)
        names += (names.empty() ? "" : " / ") + detector->name();
    return names;
}

bool allFound(const std::vector<HardCaseMarker>& placed, const std::vector<ComparedDetection>& found)
{
    return std::all_of(placed.begin(), placed.end(),
                       [&](const HardCaseMarker& marker)
                       {
                           return std::any_of(found.begin(), found.end(),
                                              [&](const ComparedDetection& d) { return d.id == marker.id; });
                       });
}

// The frame and, beside it, the markers the detector missed with their corners.
void writeMiss(const std::string& stem, const cv::Mat& frame, const std::vector<HardCaseMarker>& placed,
               const std::vector<ComparedDetection>& found)
{
    cv::imwrite(stem + ".png", frame);
    std::ofstream out(stem + ".txt");
    auto write =
        [&out](const std::string& what, int id, double side, const std::array<cv::Point2d, 4>& corners)
    {
        out << what << " " << id;
        if (side > 0.0)
            out << " side " << side;
        for (const cv::Point2d& corner : corners)
            out << " " << corner.x << "," << corner.y;
        out << "\n";
    };
    for (const HardCaseMarker& marker : placed)
        if (std::none_of(found.begin(), found.end(),
                         [&](const ComparedDetection& d) { return d.id == marker.id; }))
            write("missed", marker.id, marker.side, marker.corners);
    // What was found that is in no placed marker's id: a wrong id or a false positive.
    for (const ComparedDetection& detection : found)
        if (std::none_of(placed.begin(), placed.end(),
                         [&](const HardCaseMarker& marker) { return marker.id == detection.id; }))
            write("found", detection.id, 0.0, detection.corners);
}

// The frame, named by the stem, into the miss folder when one is given and the detector missed a
// marker or found more than were placed.
void keepMiss(const ComparisonSettings& settings, const std::string& stem, const cv::Mat& frame,
              const std::vector<HardCaseMarker>& placed, const std::vector<ComparedDetection>& found)
{
    if (!settings.missFolder.empty() && (!allFound(placed, found) || found.size() > placed.size()))
        writeMiss(settings.missFolder + "/" + stem, frame, placed, found);
}

// Timed detection of one frame, warm-up frames untimed.
void detectTimed(ComparedDetector& detector, const cv::Mat& frame, bool timed, Tally& tally,
                 std::vector<ComparedDetection>& found)
{
    detector.receive(frame);
    const double cpuStart = threadCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    detector.detect(frame, found);
    const double cpu = threadCpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    if (!timed)
        return;
    tally.cpu.push_back(cpu * 1000.0);
    tally.wall.push_back(wall * 1000.0);
    addStageTimes(detector, tally);
}

// The frame of a scene as this detector's markers show it, detected (and timed unless warming up);
// seen: the markers as the frame shows them (a rolling shutter moves them).
void renderAndDetect(ComparedDetector& detector, const HardCaseRenderer& renderer,
                     const Degradation& degradation, const std::vector<HardCaseMarker>& placed,
                     unsigned frameSeed, bool timed, Tally& tally, std::vector<ComparedDetection>& found,
                     cv::Mat& grey, std::vector<HardCaseMarker>& seen)
{
    cv::Mat frame;
    renderer.render(degradation, detector.sheets(), kMarkerSize, kMargin, placed, frameSeed, grey, 0, &seen);
    cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGR);
    detectTimed(detector, frame, timed, tally, found);
}

void score(const std::vector<ComparedDetection>& found, const std::vector<HardCaseMarker>& placed,
           const cv::Matx33d& camera, const osgART::PoseEstimator& estimator, bool markerFree, Tally& tally)
{
    for (const ComparedDetection& detection : found)
    {
        auto truth = std::find_if(placed.begin(), placed.end(),
                                  [&](const HardCaseMarker& m) { return m.id == detection.id; });
        if (truth == placed.end())
        {
            ++(markerFree ? tally.falsePositives : tally.wrongIds);
            continue;
        }
        ++tally.detected;
        const osg::Matrixd expected = HardCaseRenderer::openGLPose(*truth);
        osg::Matrixd pose = detection.pose;
        if (!detection.hasPose)
        {
            osg::Matrixd visionPose, refined;
            if (poseByTrackerRule(detection.corners, *truth, estimator, nullptr, visionPose, refined))
            {
                tally.refinedRotationErrors.push_back(rotationErrorDegrees(refined, expected));
                tally.refinedTranslationErrors.push_back((refined.getTrans() - expected.getTrans()).length() /
                                                         expected.getTrans().length() * 100.0);
            }
            if (!poseFromCorners(detection.corners, *truth, camera, pose))
                continue;
        }
        tally.rotationErrors.push_back(rotationErrorDegrees(pose, expected));
        tally.translationErrors.push_back((pose.getTrans() - expected.getTrans()).length() /
                                          expected.getTrans().length() * 100.0);
        if (seenFromBehind(pose))
            ++tally.fromBehind;
    }
    tally.expected += placed.size();
}

// Sees one detector's frame after scoring: the detector's index, the frame, the markers placed and
// what it found.
using FrameObserver = std::function<void(size_t, const cv::Mat&, const std::vector<HardCaseMarker>&,
                                         const std::vector<ComparedDetection>&)>;

// One frame of a scene for every detector: markers placed from the frame's seed, the frame rendered
// with each detector's own printed markers, detected (timed unless warming up) and scored.
void detectFrame(const std::vector<std::unique_ptr<ComparedDetector>>& detectors,
                 const HardCaseRenderer& renderer, const osgART::PoseEstimator& estimator,
                 const Degradation& degradation, const ComparisonSettings& settings, unsigned frameSeed,
                 bool timed, std::vector<Tally>& tallies, const FrameObserver& observe = nullptr)
{
    std::mt19937 placement(frameSeed);
    const std::vector<HardCaseMarker> placed =
        renderer.place(degradation, settings.markersPerFrame, settings.ids, kMarkerSize, kMargin, placement);
    std::vector<ComparedDetection> found;
    std::vector<HardCaseMarker> seen;
    for (size_t d = 0; d < detectors.size(); ++d)
    {
        cv::Mat grey;
        renderAndDetect(*detectors[d], renderer, degradation, placed, frameSeed, timed, tallies[d], found,
                        grey, seen);
        score(found, seen, renderer.cameraMatrix(), estimator, degradation.markerFree, tallies[d]);
        if (observe)
            observe(d, grey, seen, found);
    }
}

// Spread of poses around their mean: rotation (degrees, root mean square of the angles to the mean
// rotation) and translation (root mean square distance to the mean, percent of the distance).
void spread(const std::vector<osg::Matrixd>& poses, double& rotation, double& translation)
{
    rotation = translation = std::nan("");
    if (poses.size() < 2)
        return;
    osg::Vec4d sum;
    osg::Vec3d meanTranslation;
    const osg::Quat first = poses.front().getRotate();
    for (const osg::Matrixd& pose : poses)
    {
        osg::Quat q = pose.getRotate();
        if (q.asVec4() * first.asVec4() < 0)
            q = osg::Quat(-q.x(), -q.y(), -q.z(), -q.w());
        sum += q.asVec4();
        meanTranslation += pose.getTrans();
    }
    sum.normalize();
    meanTranslation /= double(poses.size());
    const osg::Quat meanRotation(sum);
    osg::Matrixd mean(meanRotation);
    double angles = 0.0, distances = 0.0;
    for (const osg::Matrixd& pose : poses)
    {
        angles += std::pow(rotationErrorDegrees(pose, mean), 2);
        distances += (pose.getTrans() - meanTranslation).length2();
    }
    rotation = std::sqrt(angles / double(poses.size()));
    translation = std::sqrt(distances / double(poses.size())) / meanTranslation.length() * 100.0;
}

// The detectors of one seed, prepared for frames of this size; false (said in out) when one
// cannot run.
std::vector<std::unique_ptr<ComparedDetector>> prepared(const DetectorFactory& make, int ids, unsigned seed,
                                                        int width, int height, const cv::Matx33d& camera,
                                                        std::ostream& out)
{
    std::vector<std::unique_ptr<ComparedDetector>> detectors = make(ids, seed);
    for (auto it = detectors.begin(); it != detectors.end();)
        if (!(*it)->prepare(width, height, camera))
        {
            out << "# " << (*it)->name() << " cannot run at " << width << "x" << height << std::endl;
            it = detectors.erase(it);
        }
        else
            ++it;
    return detectors;
}

// A case at a noise level: the level replaces the case's own noise.
Degradation atLevel(Degradation degradation, int level, bool levelsGiven)
{
    if (levelsGiven)
        degradation.iso = level;
    return degradation;
}

// The hard cases run at each level: with levels given, the cases that are a noise level of their
// own are left out (each case already runs at every level).
bool runsAtLevels(const Degradation& degradation, bool levelsGiven)
{
    return !(levelsGiven && degradation.iso != 0);
}

} // namespace

std::unique_ptr<ComparedDetector> makeTrackerDetector(osgART::GenericTracker* tracker,
                                                      const std::string& folder, int ids, unsigned seed)
{
    return std::unique_ptr<ComparedDetector>(new TrackerDetector(tracker, folder, ids, seed));
}

std::unique_ptr<ComparedDetector> makeAprilTagDetector(int ids)
{
#ifdef NOVARO_HAVE_APRILTAG
    return std::unique_ptr<ComparedDetector>(new AprilTagDetector(ids));
#else
    (void)ids;
    return nullptr;
#endif
}

std::unique_ptr<ComparedDetector> makeArucoDetector(int ids)
{
#ifdef NOVARO_HAVE_ARUCO
    return std::unique_ptr<ComparedDetector>(new ArucoDetector(ids));
#else
    (void)ids;
    return nullptr;
#endif
}

void compareOnHardCases(const DetectorFactory& make, const ComparisonSettings& settings, std::ostream& out)
{
    const double focal = 0.9 * settings.width; // about 58 degrees across
    HardCaseRenderer renderer(settings.width, settings.height, focal);
    renderer.setBackground(settings.background, settings.photos);
    const osgART::PoseEstimator estimator =
        estimatorFor(settings.width, settings.height, renderer.cameraMatrix());
    const std::vector<unsigned> seeds = seedsOf(settings);
    const std::vector<int> levels = levelsOf(settings);
    const bool levelsGiven = !settings.noiseLevels.empty();
    const std::vector<Degradation> cases = hardCases();
    // tallies[case][level][seed][detector]
    std::vector<std::vector<std::vector<std::vector<Tally>>>> tallies(
        cases.size(), std::vector<std::vector<std::vector<Tally>>>(levels.size()));
    std::string names;
    for (const unsigned seed : seeds)
    {
        const std::vector<std::unique_ptr<ComparedDetector>> detectors =
            prepared(make, settings.ids, seed, settings.width, settings.height, renderer.cameraMatrix(), out);
        names = namesOf(detectors);
        std::mt19937 random(seed);
        for (size_t caseIndex = 0; caseIndex < cases.size(); ++caseIndex)
        {
            // Every case draws its frames' seeds, run or not, so that a case run alone (--only)
            // sees the frames it sees in the full run, and every level the same frames.
            std::vector<unsigned> frameSeeds;
            for (int frameIndex = 0; frameIndex < settings.frames; ++frameIndex)
                frameSeeds.push_back(unsigned(random()));
            if (cases[caseIndex].name.compare(0, settings.only.size(), settings.only) != 0 ||
                !runsAtLevels(cases[caseIndex], levelsGiven))
                continue;
            for (size_t level = 0; level < levels.size(); ++level)
            {
                const Degradation degradation = atLevel(cases[caseIndex], levels[level], levelsGiven);
                std::vector<Tally> seedTallies(detectors.size());
                for (int frameIndex = 0; frameIndex < settings.frames; ++frameIndex)
                {
                    // Frames where ours missed a marker or found one too many go to the miss folder.
                    const FrameObserver keepMisses = [&](size_t d, const cv::Mat& grey,
                                                         const std::vector<HardCaseMarker>& placed,
                                                         const std::vector<ComparedDetection>& found)
                    {
                        if (d == 0)
                            keepMiss(settings,
                                     std::string(backgroundName(settings.background)) + "-" +
                                         std::to_string(seed) + "-" + std::to_string(caseIndex) + "-" +
                                         std::to_string(level) + "-" + std::to_string(frameIndex),
                                     grey, placed, found);
                    };
                    detectFrame(detectors, renderer, estimator, degradation, settings,
                                frameSeeds[size_t(frameIndex)], frameIndex >= settings.warmUpFrames,
                                seedTallies, keepMisses);
                }
                tallies[caseIndex][level].push_back(seedTallies);
            }
        }
    }
    out << "# hard cases on the " << backgroundName(settings.background) << " background at "
        << settings.width << "x" << settings.height << ", " << settings.frames << " frames of up to "
        << settings.markersPerFrame << " markers each (of " << settings.ids << " in play), "
        << seedText(seeds) << ", times in ms per frame after " << settings.warmUpFrames
        << " warm-up frames, 1 thread; each cell: " << names << std::endl;
    out << "| case | noise | seeds | markers | detected % | wrong ids | false positives | seen from behind | "
           "median rot err deg | p95 rot err deg | median trans err % | median CPU ms | p95 CPU ms | median "
           "wall ms |"
        << std::endl;
    out << "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|" << std::endl;
    auto label = [&](size_t caseIndex, size_t level)
    {
        const int noise = levelsGiven ? levels[level] : cases[caseIndex].iso;
        return "| " + cases[caseIndex].name + " | " + noiseLevelName(noise);
    };
    for (size_t caseIndex = 0; caseIndex < cases.size(); ++caseIndex)
        for (size_t level = 0; level < levels.size(); ++level)
        {
            std::vector<RowValues> perSeed;
            for (const std::vector<Tally>& t : tallies[caseIndex][level])
                perSeed.push_back(
                    {{double(t.front().expected)},
                     each(t, [](const Tally& x) { return share(x.detected, x.expected); }),
                     each(t, [](const Tally& x) { return double(x.wrongIds); }),
                     each(t, [](const Tally& x) { return double(x.falsePositives); }),
                     each(t, [](const Tally& x) { return double(x.fromBehind); }),
                     each(t, [](const Tally& x) { return percentile(x.rotationErrors, 0.5); }),
                     each(t, [](const Tally& x) { return percentile(x.rotationErrors, 0.95); }),
                     each(t, [](const Tally& x) { return percentile(x.translationErrors, 0.5); }),
                     each(t, [](const Tally& x) { return percentile(x.cpu, 0.5); }),
                     each(t, [](const Tally& x) { return percentile(x.cpu, 0.95); }),
                     each(t, [](const Tally& x) { return percentile(x.wall, 0.5); })});
            printOverSeeds(out, label(caseIndex, level), {0, 1, 0, 0, 0, 2, 2, 2, 2, 2, 2}, seeds, perSeed);
        }

    // The peers' poses from their corners two ways: OpenCV's square solver alone (the table above),
    // and the tracker's own solver, which refines the square's pose by least squares.
    std::string poseNames = "ours";
    for (const std::string& name : {std::string("AprilTag"), std::string("ArUco")})
        if (names.find(name) != std::string::npos)
            poseNames += " / " + name + " IPPE / " + name + " refined";
    out << "# the same hard cases' poses, the peers' corners through OpenCV's IPPE square solver alone and "
           "through the tracker's square-pose solver (IPPE, then least squares on the corners, as ours); "
           "each cell: "
        << poseNames << std::endl;
    out << "| case | noise | seeds | median rot err deg | p95 rot err deg | median trans err % |"
        << std::endl;
    out << "|---|---|---|---|---|---|" << std::endl;
    for (size_t caseIndex = 0; caseIndex < cases.size(); ++caseIndex)
        for (size_t level = 0; level < levels.size(); ++level)
        {
            std::vector<RowValues> perSeed;
            for (const std::vector<Tally>& t : tallies[caseIndex][level])
            {
                if (cases[caseIndex].markerFree)
                    continue;
                RowValues row(3);
                for (size_t d = 0; d < t.size(); ++d)
                {
                    row[0].push_back(percentile(t[d].rotationErrors, 0.5));
                    row[1].push_back(percentile(t[d].rotationErrors, 0.95));
                    row[2].push_back(percentile(t[d].translationErrors, 0.5));
                    if (d == 0)
                        continue;
                    row[0].push_back(percentile(t[d].refinedRotationErrors, 0.5));
                    row[1].push_back(percentile(t[d].refinedRotationErrors, 0.95));
                    row[2].push_back(percentile(t[d].refinedTranslationErrors, 0.5));
                }
                perSeed.push_back(row);
            }
            printOverSeeds(out, label(caseIndex, level), {2, 2, 2}, seeds, perSeed);
        }
}

namespace
{

struct JitterRun
{
    std::vector<osg::Matrixd> poses, filtered;
    std::vector<double> errors; ///< rotation against the truth, degrees
};

// One static marker over frames differing by camera noise; temporal: the detector keeps its memory
// (and the peers' poses follow the previous-pose rule), otherwise every frame is seen alone.
JitterRun runJitter(ComparedDetector& detector, const HardCaseRenderer& renderer,
                    const HardCaseMarker& marker, const ComparisonSettings& settings, unsigned seed,
                    int level, bool temporal)
{
    const osgART::PoseEstimator estimator =
        estimatorFor(settings.width, settings.height, renderer.cameraMatrix());
    const osg::Matrixd expected = HardCaseRenderer::openGLPose(marker);
    osg::ref_ptr<osgART::TransformFilterCallback> filter = new osgART::TransformFilterCallback;
    JitterRun run;
    std::vector<ComparedDetection> found;
    bool seen = false;
    osg::Matrixd previous;
    Degradation still; // noise and lens blur only
    still.iso = level;
    for (int frameIndex = 0; frameIndex < settings.frames; ++frameIndex)
    {
        cv::Mat grey, frame;
        // The same scene every frame (seed of the scene), fresh noise (the frame's index).
        renderer.render(still, detector.sheets(), kMarkerSize, kMargin, {marker}, seed, grey,
                        unsigned(frameIndex));
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGR);
        if (!temporal)
            detector.forget();
        detector.detect(frame, found);
        bool seenNow = false;
        for (const ComparedDetection& detection : found)
        {
            if (detection.id != marker.id)
                continue;
            osg::Matrixd pose = detection.pose, visionPose;
            if (!detection.hasPose &&
                !poseByTrackerRule(detection.corners, marker, estimator,
                                   temporal && seen ? &previous : nullptr, visionPose, pose))
                continue;
            seenNow = true;
            previous = visionPose;
            run.poses.push_back(pose);
            run.errors.push_back(rotationErrorDegrees(pose, expected));
            const osg::Matrixd smoothed = filter->filter(pose);
            if (frameIndex >= 10)
                run.filtered.push_back(smoothed);
        }
        seen = seenNow;
    }
    return run;
}

} // namespace

void compareJitter(const DetectorFactory& make, const ComparisonSettings& settings, std::ostream& out)
{
    const double focal = 0.9 * settings.width;
    HardCaseRenderer renderer(settings.width, settings.height, focal);
    renderer.setBackground(settings.background, settings.photos);
    const double width = 120.0; // pixels on screen when frontal
    const cv::Vec3d position(12.0, -8.0, focal * kMarkerSize / width);
    const std::vector<unsigned> seeds = seedsOf(settings);
    const std::vector<int> levels = levelsOf(settings);
    out << "# jitter on the " << backgroundName(settings.background) << " background: one static marker ("
        << width << " px wide when frontal) at " << settings.width << "x" << settings.height << ", "
        << settings.frames << " frames differing only by camera noise, " << seedText(seeds)
        << ". single frame: each frame seen alone; "
        << "temporal: ours keeps its memory, the peers' corners go through our square-pose solver with the "
           "same previous-pose rule. spread: root mean square around the mean pose; error: median rotation "
           "error against the truth; filtered: the temporal pose through the transform filter at the "
           "player's default factors (0.85), first 10 frames left out"
        << std::endl;
    out << "| detector | tilt | noise | seeds | detected single + temporal | single-frame spread deg | "
           "single-frame error deg | temporal spread deg | temporal error deg | temporal trans spread % dist "
           "| "
           "filtered spread deg |"
        << std::endl;
    out << "|---|---|---|---|---|---|---|---|---|---|---|" << std::endl;
    // rows[detector name][tilt][level] over seeds
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::vector<std::vector<RowValues>>>> rows;
    for (const unsigned seed : seeds)
    {
        const std::vector<std::unique_ptr<ComparedDetector>> detectors =
            prepared(make, settings.ids, seed, settings.width, settings.height, renderer.cameraMatrix(), out);
        for (const std::unique_ptr<ComparedDetector>& detector : detectors)
        {
            if (!rows.count(detector->name()))
            {
                order.push_back(detector->name());
                rows[detector->name()].assign(2, std::vector<std::vector<RowValues>>(levels.size()));
            }
            for (size_t tiltIndex = 0; tiltIndex < 2; ++tiltIndex)
            {
                const HardCaseMarker marker = renderer.at(
                    0, position, osg::DegreesToRadians(45.0 * double(tiltIndex)), 0.3, 0.2, kMarkerSize);
                for (size_t level = 0; level < levels.size(); ++level)
                {
                    const JitterRun alone =
                        runJitter(*detector, renderer, marker, settings, seed, levels[level], false);
                    const JitterRun temporal =
                        runJitter(*detector, renderer, marker, settings, seed, levels[level], true);
                    double aloneRotation, aloneTranslation, rotation, translation, filteredRotation,
                        filteredTranslation;
                    spread(alone.poses, aloneRotation, aloneTranslation);
                    spread(temporal.poses, rotation, translation);
                    spread(temporal.filtered, filteredRotation, filteredTranslation);
                    rows[detector->name()][tiltIndex][level].push_back(
                        {{double(alone.poses.size() + temporal.poses.size())},
                         {aloneRotation},
                         {percentile(alone.errors, 0.5)},
                         {rotation},
                         {percentile(temporal.errors, 0.5)},
                         {translation},
                         {filteredRotation}});
                }
            }
        }
    }
    for (const std::string& name : order)
        for (size_t tiltIndex = 0; tiltIndex < 2; ++tiltIndex)
            for (size_t level = 0; level < levels.size(); ++level)
                printOverSeeds(out,
                               "| " + name + " | " + std::to_string(45 * tiltIndex) + " | " +
                                   noiseLevelName(levels[level]),
                               {0, 3, 3, 3, 3, 3, 3}, seeds, rows[name][tiltIndex][level]);
    out << "(detected: of " << 2 * settings.frames << " frames)" << std::endl;
}

// Our detector's steps in one run: the median milliseconds of each over the timed frames, a
// column each (names: the steps' names, taken from the first run that has them).
RowValues stepMedians(const Tally& ours, std::vector<std::string>& names)
{
    if (names.empty())
        for (const auto& stage : ours.stages)
            names.push_back(stage.first);
    RowValues row;
    for (const std::string& name : names)
    {
        const auto stage = std::find_if(ours.stages.begin(), ours.stages.end(),
                                        [&](const auto& s) { return s.first == name; });
        row.push_back({stage == ours.stages.end() ? std::nan("") : percentile(stage->second, 0.5)});
    }
    return row;
}

void printStepTable(const std::vector<std::string>& stepNames, const std::string& rows, std::ostream& out)
{
    if (stepNames.empty())
        return;
    out << "# speed by step of ours: median wall ms of each step over the same frames (the grey "
           "conversion included, the tracker's bookkeeping between steps not)"
        << std::endl;
    out << "| background | resolution | noise | seeds";
    std::string rule = "|---|---|---|---";
    for (const std::string& name : stepNames)
    {
        out << " | " << name;
        rule += "|---";
    }
    out << " |" << std::endl << rule << "|" << std::endl << rows;
}

void compareSpeed(const DetectorFactory& make, const ComparisonSettings& settings,
                  const std::vector<Background>& backgrounds, const std::vector<cv::Size>& resolutions,
                  std::ostream& out)
{
    const std::vector<unsigned> seeds = seedsOf(settings);
    const std::vector<int> levels = levelsOf(settings);
    std::string names;
    {
        const std::vector<std::unique_ptr<ComparedDetector>> detectors = make(settings.ids, seeds.front());
        names = namesOf(detectors);
    }
    out << "# speed: clean case, " << settings.frames << " frames of up to " << settings.markersPerFrame
        << " markers each, after " << settings.warmUpFrames << " warm-up frames, " << seedText(seeds)
        << ", 1 thread, ms per frame (grey conversion included); ratios: a peer's median CPU over ours on "
           "the "
           "same frames; each cell: "
        << names << std::endl;
    out << "| background | resolution | noise | seeds | median CPU ms | p95 CPU ms | p95/median | median "
           "wall ms | "
           "CPU ratio peer/ours | detected % |"
        << std::endl;
    out << "|---|---|---|---|---|---|---|---|---|---|" << std::endl;
    std::ostringstream steps;
    std::vector<std::string> stepNames;
    for (const Background background : backgrounds)
    {
        if (background == Background::PHOTO && settings.photos.empty())
        {
            out << "| photo | - | - | - | no photographs (--photos DIR) | | | | | |" << std::endl;
            continue;
        }
        for (const cv::Size& resolution : resolutions)
        {
            HardCaseRenderer renderer(resolution.width, resolution.height, 0.9 * resolution.width);
            renderer.setBackground(background, settings.photos);
            const osgART::PoseEstimator estimator =
                estimatorFor(resolution.width, resolution.height, renderer.cameraMatrix());
            std::vector<std::vector<RowValues>> perLevel(levels.size()), stepsPerLevel(levels.size());
            for (const unsigned seed : seeds)
            {
                const std::vector<std::unique_ptr<ComparedDetector>> detectors =
                    prepared(make, settings.ids, seed, resolution.width, resolution.height,
                             renderer.cameraMatrix(), out);
                for (size_t level = 0; level < levels.size(); ++level)
                {
                    std::mt19937 random(seed);
                    std::vector<Tally> tallies(detectors.size());
                    // Markers 4 to 15 % of the frame's height, whatever its size.
                    Degradation sized;
                    sized.iso = levels[level];
                    sized.minWidth = 0.04 * resolution.height;
                    sized.maxWidth = 0.15 * resolution.height;
                    for (int frameIndex = 0; frameIndex < settings.frames + settings.warmUpFrames;
                         ++frameIndex)
                        detectFrame(detectors, renderer, estimator, sized, settings, unsigned(random()),
                                    frameIndex >= settings.warmUpFrames, tallies);
                    const double ours = percentile(tallies.front().cpu, 0.5);
                    perLevel[level].push_back(
                        {each(tallies, [](const Tally& t) { return percentile(t.cpu, 0.5); }),
                         each(tallies, [](const Tally& t) { return percentile(t.cpu, 0.95); }),
                         each(tallies, [](const Tally& t)
                              { return percentile(t.cpu, 0.95) / percentile(t.cpu, 0.5); }),
                         each(tallies, [](const Tally& t) { return percentile(t.wall, 0.5); }),
                         each(tallies, [&](const Tally& t) { return percentile(t.cpu, 0.5) / ours; }),
                         each(tallies, [](const Tally& t) { return share(t.detected, t.expected); })});
                    stepsPerLevel[level].push_back(stepMedians(tallies.front(), stepNames));
                }
            }
            for (size_t level = 0; level < levels.size(); ++level)
            {
                const std::string label = "| " + std::string(backgroundName(background)) + " | " +
                                          std::to_string(resolution.width) + "x" +
                                          std::to_string(resolution.height) + " | " +
                                          noiseLevelName(levels[level]);
                printOverSeeds(out, label, {2, 2, 2, 2, 2, 1}, seeds, perLevel[level]);
                printOverSeeds(steps, label, std::vector<int>(stepNames.size(), 3), seeds,
                               stepsPerLevel[level]);
            }
        }
    }
    printStepTable(stepNames, steps.str(), out);
}

void comparePatternSets(const DetectorFactory& make, const ComparisonSettings& settings,
                        const std::vector<int>& setSizes, int markerFrames, int emptyFrames,
                        std::ostream& out)
{
    const double focal = 0.9 * settings.width;
    HardCaseRenderer renderer(settings.width, settings.height, focal);
    renderer.setBackground(settings.background, settings.photos);
    const osgART::PoseEstimator estimator =
        estimatorFor(settings.width, settings.height, renderer.cameraMatrix());
    const std::vector<unsigned> seeds = seedsOf(settings);
    const std::vector<int> levels = levelsOf(settings);
    out << "# pattern sets on the " << backgroundName(settings.background) << " background at "
        << settings.width << "x" << settings.height << ": " << markerFrames
        << " frames of four markers drawn from the set (clean case), then " << emptyFrames
        << " frames without markers, " << seedText(seeds)
        << ". ours loads the set's generated patterns (made from the seed); AprilTag (36h11, 587 codes) "
           "and ArUco (6x6, 250 codes, 1000 for sets over 250) decode their whole family and print the "
           "set's first codes"
        << std::endl;
    out << "| set | detector | noise | seeds | detected % | wrong ids | false positives | marker-free frames "
           "| "
           "median CPU ms marker-free |"
        << std::endl;
    out << "|---|---|---|---|---|---|---|---|---|" << std::endl;
    for (const int ids : setSizes)
    {
        // rows[detector][level] over seeds
        std::vector<std::string> order;
        std::map<std::string, std::vector<std::vector<RowValues>>> rows;
        for (const unsigned seed : seeds)
        {
            const std::vector<std::unique_ptr<ComparedDetector>> detectors =
                prepared(make, ids, seed, settings.width, settings.height, renderer.cameraMatrix(), out);
            for (const std::unique_ptr<ComparedDetector>& detector : detectors)
            {
                if (!rows.count(detector->name()))
                {
                    order.push_back(detector->name());
                    rows[detector->name()].resize(levels.size());
                }
                for (size_t level = 0; level < levels.size(); ++level)
                {
                    Degradation clean, empty;
                    clean.iso = empty.iso = levels[level];
                    empty.markerFree = true;
                    std::mt19937 random(seed);
                    Tally marked, free;
                    std::vector<ComparedDetection> found;
                    std::vector<HardCaseMarker> seen;
                    for (int frameIndex = 0; frameIndex < markerFrames + emptyFrames; ++frameIndex)
                    {
                        const bool markerFree = frameIndex >= markerFrames;
                        const unsigned frameSeed = unsigned(random());
                        std::mt19937 placement(frameSeed);
                        const std::vector<HardCaseMarker> placed = renderer.place(
                            markerFree ? empty : clean, 4, ids, kMarkerSize, kMargin, placement);
                        cv::Mat grey;
                        renderAndDetect(*detector, renderer, markerFree ? empty : clean, placed, frameSeed,
                                        markerFree, markerFree ? free : marked, found, grey, seen);
                        score(found, seen, renderer.cameraMatrix(), estimator, markerFree,
                              markerFree ? free : marked);
                        if (detector == detectors.front())
                            keepMiss(settings,
                                     "set" + std::to_string(ids) + "-" + std::to_string(seed) + "-" +
                                         std::to_string(level) + "-" + std::to_string(frameIndex),
                                     grey, seen, found);
                    }
                    rows[detector->name()][level].push_back({{share(marked.detected, marked.expected)},
                                                             {double(marked.wrongIds)},
                                                             {double(free.falsePositives)},
                                                             {double(emptyFrames)},
                                                             {percentile(free.cpu, 0.5)}});
                }
            }
        }
        for (const std::string& name : order)
            for (size_t level = 0; level < levels.size(); ++level)
                printOverSeeds(
                    out, "| " + std::to_string(ids) + " | " + name + " | " + noiseLevelName(levels[level]),
                    {1, 0, 0, 0, 2}, seeds, rows[name][level]);
    }
}

std::vector<cv::Mat> loadPhotos(const std::string& folder)
{
    std::vector<cv::Mat> photos;
    std::vector<cv::String> files;
    if (folder.empty() || !osgDB::fileExists(folder))
        return photos;
    cv::glob(folder + "/*", files, false);
    std::sort(files.begin(), files.end());
    for (const cv::String& file : files)
    {
        cv::Mat photo;
        std::string error;
        if (readImageFile(file, photo, error) && photo.cols >= 320 && photo.rows >= 240)
            photos.push_back(photo);
    }
    return photos;
}

#ifdef NOVARO_HAVE_APRILTAG
cv::Mat aprilTagCells(int id, unsigned char dark, unsigned char light)
{
    apriltag_family_t* family = tag36h11_create();
    image_u8_t* tag = apriltag_to_image(family, id);
    cv::Mat cells(tag->height - 2, tag->width - 2, CV_8UC1);
    for (int y = 1; y < tag->height - 1; ++y)
        for (int x = 1; x < tag->width - 1; ++x)
            cells.at<unsigned char>(y - 1, x - 1) = tag->buf[y * tag->stride + x] ? light : dark;
    // The library does not export image_u8_destroy; the image is two plain allocations.
    free(tag->buf);
    free(tag);
    tag36h11_destroy(family);
    return cells;
}
#endif

} // namespace Novaro
