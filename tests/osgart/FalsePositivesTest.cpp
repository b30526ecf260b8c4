// Busy texture (a desk, a shelf, a patterned floor) holds no marker, and none may be found in it:
// its small skewed quadrilaterals, sampled at under a pixel per pattern cell, once matched a pattern
// in some frames of every thousand with eight patterns loaded.
#include "HardCaseScene.h"
#include "SyntheticScene.h"

#include <osgART/CameraParameters.h>
#include <osgART/SquareMarkerDetector.h>

#include <gtest/gtest.h>

#include <random>

using namespace Novaro;

TEST(FalsePositives, BusyMarkerFreeFramesGiveNoMarkerWithEightPatterns)
{
    const int width = 640, height = 480;
    HardCaseRenderer renderer(width, height, 0.9 * width);
    renderer.setBackground(Background::BUSY);
    const cv::Matx33d& k = renderer.cameraMatrix();
    osgART::SquareMarkerDetector detector;
    detector.setCamera(
        osgART::CameraParameters::fromIntrinsics(width, height, k(0, 0), k(1, 1), k(0, 2), k(1, 2)));
    // The pattern set and frames of the benchmark's seed that gave the most (18 in 1000 frames).
    const unsigned seed = 4;
    for (const osgART::Pattern& pattern : makeDistinctPatterns(8, seed))
        detector.addPattern(pattern);
    Degradation empty;
    empty.markerFree = true;
    std::mt19937 random(seed);
    int found = 0;
    for (int frame = 0; frame < 300; ++frame)
    {
        cv::Mat grey;
        renderer.render(empty, {}, 80.0, 0.25, {}, unsigned(random()), grey);
        std::vector<osgART::DetectedSquare> detections;
        detector.detect(grey, 1, detections);
        found += int(detections.size());
    }
    EXPECT_EQ(0, found);
}
