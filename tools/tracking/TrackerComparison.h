#pragma once

#include "ToolSupport.h"

#include "BenchmarkTables.h"
#include "HardCaseScene.h"

#include <osgART/GenericTracker.h>

#include <opencv2/core.hpp>

#include <osg/Matrixd>

#include <array>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace Novaro
{

/// A marker as the comparison sees it: its id, its outer corners (pixels) and, when the detector
/// gives one, its pose (OpenGL camera frame, as HardCaseRenderer::openGLPose).
struct ComparedDetection
{
    int id = -1;
    std::array<cv::Point2d, 4> corners;
    bool hasPose = false;
    osg::Matrixd pose;
};

/// One detector under comparison: its printed markers and its detection on BGR frames (turning
/// them grey is part of its work, and of its time).
class ComparedDetector
{
public:
    virtual ~ComparedDetector() = default;
    virtual std::string name() const = 0;
    /// Grey sheets by id: the marker's black square with a quarter of its width of paper around.
    const std::vector<cv::Mat>& sheets() const { return _sheets; }
    /// For frames of this size seen by this distortion-free camera; false when the detector cannot run.
    virtual bool prepare(int width, int height, const cv::Matx33d& camera) = 0;
    /// Hands the frame over in the form the detector takes its input, before the timed detection:
    /// a camera's capture delivers it so. The tracker takes an osg::Image (the frame is copied into
    /// one); the peers take the cv::Mat as it is.
    virtual void receive(const cv::Mat& frame) { (void)frame; }
    virtual void detect(const cv::Mat& frame, std::vector<ComparedDetection>& found) = 0;
    /// Drops what the detector keeps from earlier frames, so that the next frame is seen alone.
    virtual void forget() {}
    /// The steps of the last detection, in pipeline order, with their wall-clock milliseconds;
    /// empty for a detector that does not time its steps.
    virtual std::vector<std::pair<std::string, double>> stageTimes() const { return {}; }

protected:
    std::vector<cv::Mat> _sheets;
};

/// The tracker plugin with ids patterns; camera files go to folder.
std::unique_ptr<ComparedDetector> makeTrackerDetector(osgART::GenericTracker* tracker,
                                                      const std::string& folder, int ids, unsigned seed);
/// AprilTag 36h11 and OpenCV's ArUco (6x6 of 250 codes, of 1000 when more than 250 ids are in
/// play; sub-pixel corners); null when the tool was built without.
std::unique_ptr<ComparedDetector> makeAprilTagDetector(int ids);
#ifdef NOVARO_HAVE_APRILTAG
// The black square of AprilTag 36h11 tag 'id' (8 of its 10 cells, the white outer ring dropped),
// one pixel a cell, in the two greys given.
cv::Mat aprilTagCells(int id, unsigned char dark, unsigned char light);
#endif
std::unique_ptr<ComparedDetector> makeArucoDetector(int ids);

struct ComparisonSettings
{
    int width = 1280, height = 720;
    int frames = 50; ///< per case
    size_t markersPerFrame = 4;
    int ids = 8; ///< markers in play; each frame shows some of them
    unsigned seed = 1;
    /// Every table runs once per seed (frames, and our generated patterns, drawn from it) and
    /// prints the minimum, median and maximum over them; empty: seed alone.
    std::vector<unsigned> seeds;
    /// Camera noise of the tables' rows, one row per level (Degradation::iso: 0 the default noise
    /// of 2 grey levels, below 0 none, else a camera sensor at that ISO). Empty: the default, and
    /// the hard cases' own ISO cases.
    std::vector<int> noiseLevels;
    int warmUpFrames = 3;   ///< not timed
    std::string only;       ///< when set, only the hard cases whose name starts with it
    std::string missFolder; ///< when set, frames where the first detector missed a marker or found one not
                            ///< placed go there
    Background background = Background::CALM;
    std::vector<cv::Mat> photos; ///< for Background::PHOTO
};

/// The detectors under comparison, ours first, for ids markers in play; seed: ours generates its
/// patterns from it.
using DetectorFactory = std::function<std::vector<std::unique_ptr<ComparedDetector>>(int ids, unsigned seed)>;

/// Photographs for the photo background: every image of at least 320 x 240 pixels in folder.
std::vector<cv::Mat> loadPhotos(const std::string& folder);

/// Time per frame on the clean case for each background and resolution (thread CPU median and 95th
/// percentile, wall median) and each peer's median CPU as a multiple of ours, measured in the same
/// run on the same frames. Prints a Markdown table.
void compareSpeed(const DetectorFactory& make, const ComparisonSettings& settings,
                  const std::vector<Background>& backgrounds, const std::vector<cv::Size>& resolutions,
                  std::ostream& out);

/// Wrong ids and false positives with larger sets of markers in play: detectors made for each set
/// size by make, markerFrames frames of four markers drawn from the set and emptyFrames frames
/// without markers, on settings.background. Prints one Markdown row per set size and detector.
void comparePatternSets(const DetectorFactory& make, const ComparisonSettings& settings,
                        const std::vector<int>& setSizes, int markerFrames, int emptyFrames,
                        std::ostream& out);

/// Every hard case on the same frames for every detector: detection, wrong ids, false positives,
/// pose error and per-frame time (thread CPU and wall). Prints a Markdown table, then a table of
/// the pose errors with the peers' corners through OpenCV's square solver alone and through the
/// tracker's own square-pose solver.
void compareOnHardCases(const DetectorFactory& make, const ComparisonSettings& settings, std::ostream& out);

/// A static marker over frames that differ only by camera noise, frontal and at 45 degrees: spread of
/// the pose around its mean and its median error against the truth, each frame seen alone
/// ("single frame") and with each detector's temporal choice ("temporal": ours its own, the peers'
/// corners through the same square-pose solver and previous-pose rule as ours), and the spread of
/// the temporal pose through the transform filter. Prints a Markdown table.
void compareJitter(const DetectorFactory& make, const ComparisonSettings& settings, std::ostream& out);

} // namespace Novaro
