// The detector's pipeline, step by step (the steps live in SquareMarker<Step>.cpp), and its patterns.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"
#include "osgART/GreyFrame.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace osgART
{

using namespace sampling;

namespace
{

// How far, as a share of its outline's perimeter, a corner of a candidate that matched nothing must
// move when settled on the outline for the candidate to be examined again. A corner the
// simplification cut off lies up to its tolerance (4 % of the perimeter) inside the outline; the
// three such misses seen moved 3.9 to 4.9 %, while a marker's uncut corners settle within a pixel
// or two (some of texture's candidates move as far, and are examined twice). Default 0.02; lowering
// it examines more candidates twice, each second look costing a full examination (on busy frames at
// ISO 1600 the second looks add some 0.05 ms to 0.55 ms of identification).
const double kSecondLookMove = 0.02;

// The farthest any corner of a polygon moved in another of as many corners, pixels.
double largestMove(const std::vector<cv::Point>& from, const std::vector<cv::Point>& to)
{
    double largest = 0.0;
    for (size_t k = 0; k < from.size() && k < to.size(); ++k)
        largest = std::max(largest, cv::norm(to[k] - from[k]));
    return largest;
}

// Milliseconds since the last lap, for the per-step times of a detection.
class StageClock
{
public:
    double lap()
    {
        const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        const double milliseconds = std::chrono::duration<double, std::milli>(now - _last).count();
        _last = now;
        return milliseconds;
    }

private:
    std::chrono::steady_clock::time_point _last = std::chrono::steady_clock::now();
};

// A smoothed pattern at the first look's resolution: the mean of each block of cells, mean removed,
// unit length.
SquareMarkerDetector::CoarsePattern coarsened(const std::array<float, 256>& smoothed)
{
    const int block = kCells / SquareMarkerDetector::kCoarseCells;
    SquareMarkerDetector::CoarsePattern coarse{};
    for (int row = 0; row < kCells; ++row)
        for (int column = 0; column < kCells; ++column)
            coarse[size_t((row / block) * SquareMarkerDetector::kCoarseCells + column / block)] +=
                smoothed[size_t(row * kCells + column)];
    normalise(coarse);
    return coarse;
}

} // namespace

SquareMarkerDetector::SquareMarkerDetector() = default;

int SquareMarkerDetector::addPattern(const Pattern& pattern)
{
    std::array<std::array<float, 256>, 4> normalised;
    std::array<cv::Mat, 4> greys;
    for (int orientation = 0; orientation < 4; ++orientation)
    {
        std::array<float, 256>& values = normalised[size_t(orientation)];
        cv::Mat& grey = greys[size_t(orientation)];
        grey.create(kCells, kCells, CV_32FC1);
        for (int row = 0; row < kCells; ++row)
            for (int column = 0; column < kCells; ++column)
            {
                grey.at<float>(row, column) = pattern.grey(orientation, row, column);
                values[size_t(row * kCells + column)] = grey.at<float>(row, column);
            }
        normalise(values);
    }
    _patterns.push_back(normalised);
    _patternGreys.push_back(greys);
    std::array<std::array<float, 256>, 4> smoothed;
    for (int orientation = 0; orientation < 4; ++orientation)
        smoothed[size_t(orientation)] =
            blurredPattern(greys[size_t(orientation)], kRankingBlur, kRankingBlur, 0.0);
    _smoothedPatterns.push_back(smoothed);
    std::array<CoarsePattern, 4> coarse;
    for (int orientation = 0; orientation < 4; ++orientation)
        coarse[size_t(orientation)] = coarsened(smoothed[size_t(orientation)]);
    _coarsePatterns.push_back(coarse);
    return int(_patterns.size()) - 1;
}

void SquareMarkerDetector::detect(const cv::Mat& grey, int scale, std::vector<DetectedSquare>& detections,
                                  const cv::Mat& halved)
{
    detections.clear();
    _candidates.clear();
    _stageTimes = StageTimes();
    if (grey.empty() || grey.type() != CV_8UC1 || scale < 1)
        return;

    // Wide frames are searched at half resolution: their markers stay large enough, and averaging
    // four pixels halves the noise that would break the binary image into specks.
    const int reduction = grey.cols >= kHalvedSearchFromWidth ? 2 : 1;
    const cv::Mat* search = &grey;
    StageClock clock;
    if (reduction == 2)
    {
        const bool given =
            halved.type() == CV_8UC1 && halved.rows == grey.rows / 2 && halved.cols == grey.cols / 2;
        if (!given)
            halveGreyFrame(grey, _reduced);
        search = given ? &halved : &_reduced;
    }
    binarise(*search);
    _stageTimes.binarise = clock.lap();
    findCandidateRegions(reduction, reduction * scale);
    _stageTimes.regions = clock.lap();

    std::vector<DetectedSquare> best(_patterns.size());
    for (const Region& region : _regions)
        examineRegion(grey, scale, reduction, region, best);
    _previousBounds.clear();
    for (const DetectedSquare& detection : best)
        if (detection.pattern >= 0)
        {
            detections.push_back(detection);
            std::vector<cv::Point2f> points;
            for (const osg::Vec2d& corner : detection.observed)
                points.emplace_back(float(corner.x()), float(corner.y()));
            _previousBounds.push_back(cv::boundingRect(points));
        }
}

void SquareMarkerDetector::examineRegion(const cv::Mat& grey, int scale, int reduction, const Region& region,
                                         std::vector<DetectedSquare>& best)
{
    StageClock clock;
    std::array<osg::Vec2d, 4> corners;
    bool kept = traceRegion(region, _polygon) && quadrilateralOf(_polygon, reduction, corners);
    if (kept)
    {
        // The ring alone covers three quarters of the square; a notched shape whose rows' ends
        // make a quadrilateral covers much less of it.
        const double quadArea = std::fabs(cv::contourArea(_polygon));
        kept = _darkRegions.regions()[size_t(region.index)].pixels >= minimumRingFill(quadArea) * quadArea;
    }
    _stageTimes.outlines += clock.lap();
    if (!kept)
        return;
    // The candidate's corners in video pixels, for the debug views.
    auto inVideo = [scale](const std::array<osg::Vec2d, 4>& corners)
    {
        std::array<osg::Vec2d, 4> video;
        for (size_t k = 0; k < 4; ++k)
            video[k] = toVideo(corners[k].x(), corners[k].y(), scale);
        return video;
    };
    Candidate candidate;
    candidate.outline = inVideo(corners);
    candidate.confidence = examine(grey, scale, corners, best, candidate.pattern);
    // A candidate that matched nothing may have had a corner cut off by the simplification: when
    // settling its corners on the outline moves one far, it gets one more look, where only a plain
    // match counts (the shaded and blurred comparisons are what take in decoys).
    if (candidate.pattern < 0 && settledQuadrilateral(_polygon, _settledPolygon) &&
        largestMove(_polygon, _settledPolygon) >= kSecondLookMove * cv::arcLength(_polygon, true) &&
        quadrilateralOf(_settledPolygon, reduction, corners))
    {
        int matched = -1;
        const double settled = examine(grey, scale, corners, best, matched, false);
        if (matched >= 0)
        {
            candidate.pattern = matched;
            candidate.confidence = settled;
            candidate.outline = inVideo(corners);
        }
    }
    _candidates.push_back(candidate);
    _stageTimes.identify += clock.lap();
}

} // namespace osgART
