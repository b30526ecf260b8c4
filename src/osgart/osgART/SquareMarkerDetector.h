#pragma once

#include <opencv2/core.hpp>

#include <osg/Vec2d>

#include <array>
#include <vector>

#include "CameraParameters.h"
#include "Pattern.h"

namespace osgART
{

/// One pattern found in a frame.
struct DetectedSquare
{
    int pattern = -1;        ///< index of the matched pattern
    double confidence = 0.0; ///< normalised correlation with the pattern (0..1)
    /// Outer corners in the order top-left, top-right, bottom-right, bottom-left of the upright pattern,
    /// in video pixels: undistorted (ideal) and as seen (observed).
    std::array<osg::Vec2d, 4> ideal;
    std::array<osg::Vec2d, 4> observed;
};

/// Finds square markers (black border, pattern in the inner half) in grey frames and identifies them
/// by their patterns:
/// binarise (pixels darker than the threshold are border candidates), take the outer contours that
/// are convex quadrilaterals, locate each side to sub-pixel precision along its normals and intersect
/// the undistorted side lines, sample the inner square through the homography of the corners, and
/// match the samples against every pattern in its four orientations by normalised correlation.
/// Each pattern keeps its best candidate above the confidence floor.
class SquareMarkerDetector
{
public:
    SquareMarkerDetector();

    /// The camera at video resolution.
    void setCamera(const CameraParameters& camera) { _camera = camera; }
    const CameraParameters& camera() const { return _camera; }

    /// Returns the index of the pattern.
    int addPattern(const Pattern& pattern);
    size_t patternCount() const { return _patterns.size(); }

    void setThreshold(int threshold) { _threshold = threshold; }
    int threshold() const { return _threshold; }
    void setMinimumConfidence(double confidence) { _minimumConfidence = confidence; }
    double minimumConfidence() const { return _minimumConfidence; }

    /// grey: the frame at processing resolution (8-bit, one channel, top row first); scale: video
    /// pixels per processing pixel (1, or 2 for half resolution). Detections are in video pixels.
    void detect(const cv::Mat& grey, int scale, std::vector<DetectedSquare>& detections);

    /// The binarised frame of the last detect() (border candidates 255, the rest 0).
    const cv::Mat& binaryImage() const { return _binary; }
    /// Quadrilaterals examined in the last detect().
    size_t candidateCount() const { return _candidateCount; }

private:
    struct Candidate;
    bool refineCorners(const cv::Mat& grey, int scale, const std::array<cv::Point2f, 4>& approximate,
                       std::array<osg::Vec2d, 4>& ideal) const;
    bool samplePattern(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal,
                       std::array<float, 256>& samples) const;

    CameraParameters _camera;
    int _threshold;
    double _minimumConfidence;
    /// Per pattern and orientation: grey values, mean removed, unit length.
    std::vector<std::array<std::array<float, 256>, 4>> _patterns;
    cv::Mat _binary;
    std::vector<std::vector<cv::Point>> _contours;
    std::vector<cv::Vec4i> _hierarchy;
    size_t _candidateCount;
};

} // namespace osgART
