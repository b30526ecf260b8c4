#pragma once

// Frames the tracker benchmark rendered for its hard cases, kept as files with what they must give:
// the patterns found and the corners of the marker a test is about.

#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/SquareMarkerDetector.h>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace NovaroTest
{

struct BenchmarkFrame
{
    const char* file;                  // in tests/osgart/data
    unsigned seed;                     // the benchmark's, which draws its patterns
    std::vector<int> patterns;         // found, in the detector's order
    int marker;                        // the pattern whose corners are checked, or -1
    std::array<osg::Vec2d, 4> corners; // its true corners, pixels, in any order round it
    size_t patternCount = 8;           // how many patterns the seed draws
};

/// Detects markers in the frame with the benchmark's camera and patterns, and checks the patterns
/// found and that each of the marker's true corners (if one is named) lies within tolerance pixels
/// of a found one.
inline void expectFoundIn(const BenchmarkFrame& frame, double tolerance)
{
    SCOPED_TRACE(frame.file);
    const cv::Mat grey =
        cv::imread(std::string(NOVARO_SOURCE_DIR) + "/tests/osgart/data/" + frame.file, cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(grey.empty());
    osgART::SquareMarkerDetector detector =
        detectorFor(osgART::CameraParameters::fromIntrinsics(640, 480, 576, 576, 319.5, 239.5),
                    Novaro::makeDistinctPatterns(frame.patternCount, frame.seed));
    const std::vector<osgART::DetectedSquare> found = detectIn(detector, grey);
    const std::vector<int> patterns = patternsOf(found);
    ASSERT_EQ(patterns, frame.patterns);
    if (frame.marker < 0)
        return;
    const osgART::DetectedSquare& marker =
        found[size_t(std::find(patterns.begin(), patterns.end(), frame.marker) - patterns.begin())];
    for (const osg::Vec2d& corner : frame.corners)
    {
        double nearest = 1e9;
        for (const osg::Vec2d& seen : marker.observed)
            nearest = std::min(nearest, (seen - corner).length());
        EXPECT_LT(nearest, tolerance) << corner.x() << "," << corner.y();
    }
}

} // namespace NovaroTest
