#pragma once

#include "HardCaseScene.h"

#include <osgART/GenericTracker.h>

#include <opencv2/core.hpp>

#include <osg/Matrixd>

#include <array>
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
    virtual void detect(const cv::Mat& frame, std::vector<ComparedDetection>& found) = 0;

protected:
    std::vector<cv::Mat> _sheets;
};

/// The tracker plugin with ids patterns; camera files go to folder.
std::unique_ptr<ComparedDetector> makeTrackerDetector(osgART::GenericTracker* tracker,
                                                      const std::string& folder, int ids, unsigned seed);
/// AprilTag 36h11 and OpenCV's ArUco (6x6, sub-pixel corners); null when the tool was built without.
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
    int warmUpFrames = 3;   ///< not timed
    std::string only;       ///< when set, only the hard cases whose name starts with it
    std::string missFolder; ///< when set, frames where the first detector missed a marker go there
};

/// Every hard case on the same frames for every detector: detection, wrong ids, false positives,
/// pose error and per-frame time (thread CPU and wall). Prints a Markdown table.
void compareOnHardCases(const std::vector<ComparedDetector*>& detectors, const ComparisonSettings& settings,
                        std::ostream& out);

/// A static marker over frames that differ only by camera noise, frontal and at 45 degrees: spread of
/// the raw pose and of the pose through the transform filter. Prints a Markdown table.
void compareJitter(const std::vector<ComparedDetector*>& detectors, const ComparisonSettings& settings,
                   std::ostream& out);

/// Seconds of CPU time this thread has used.
double threadCpuSeconds();

} // namespace Novaro
