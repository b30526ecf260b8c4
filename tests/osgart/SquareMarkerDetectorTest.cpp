// The detector's own rules, on frames made here: the adaptive threshold against a slow
// recomputation, and the confidence rules that refuse a square resembling the loaded patterns.
#include "TestSupport.h"

#include <osgART/Pattern.h>
#include <osgART/SquareMarkerDetector.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace
{

// A frontal marker in a white frame: black border, the pattern (grey 16 x 16) in its inner half.
cv::Mat frontalMarker(const cv::Mat& pattern)
{
    cv::Mat frame(480, 640, CV_8UC1, cv::Scalar(255));
    frame(cv::Rect(240, 160, 160, 160)).setTo(0);
    cv::Mat inner;
    cv::resize(pattern, inner, cv::Size(80, 80), 0, 0, cv::INTER_NEAREST);
    inner.copyTo(frame(cv::Rect(280, 200, 80, 80)));
    return frame;
}

} // namespace

// Every pixel against the level of its own 3 x 3 tiles, worked out the slow way, on a frame whose
// width and height are no multiple of the tile, so that the narrow last tiles count too.
TEST(SquareMarkerDetectorTest, AdaptiveLevelIsTheThresholdStretchedOverEachWindow)
{
    const int tile = 4, threshold = 100;
    // Light varying smoothly across the frame, with noise strong enough that no window is flat.
    cv::RNG random(7);
    cv::Mat light(4, 12, CV_8UC1), grey, noise(61, 203, CV_8UC1);
    random.fill(light, cv::RNG::UNIFORM, 0, 200);
    cv::resize(light, grey, noise.size(), 0, 0, cv::INTER_CUBIC);
    random.fill(noise, cv::RNG::UNIFORM, 0, 56);
    grey += noise;
    osgART::SquareMarkerDetector detector;
    detector.setThreshold(threshold);
    NovaroTest::detectIn(detector, grey);
    const cv::Mat& binary = detector.binaryImage();
    ASSERT_EQ(binary.size(), grey.size());
    const int tilesX = (grey.cols + tile - 1) / tile, tilesY = (grey.rows + tile - 1) / tile;
    int wrong = 0;
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x)
        {
            const int left = std::max(0, x / tile - 1) * tile, top = std::max(0, y / tile - 1) * tile;
            const int right = std::min(tilesX, x / tile + 2) * tile,
                      bottom = std::min(tilesY, y / tile + 2) * tile;
            double darkest, brightest;
            cv::minMaxLoc(grey(cv::Range(top, std::min(bottom, grey.rows)),
                               cv::Range(left, std::min(right, grey.cols))),
                          &darkest, &brightest);
            ASSERT_GE(brightest - darkest, double(osgART::SquareMarkerDetector::kMinimumContrast));
            const int level = int(darkest) + (int(brightest - darkest) * threshold + 127) / 255;
            if ((grey.at<unsigned char>(y, x) < level) != (binary.at<unsigned char>(y, x) == 255))
                ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

// A square whose inside resembles two loaded patterns alike, or one pattern only moderately when
// many are loaded, is clutter: refused, while each true pattern is still found.
TEST(SquareMarkerDetectorTest, AmbiguousOrChanceMatchesAmongManyPatternsAreRefused)
{
    // Two patterns two blocks apart and a decoy halfway between them (those blocks grey): the decoy
    // correlates above the minimum confidence with both (0.93) and leads neither.
    std::array<int, 16> first = {255, 0, 0, 255, 0, 255, 255, 0, 255, 255, 0, 0, 0, 0, 255, 0};
    std::array<int, 16> second = first;
    second[5] = 0;
    second[10] = 255;
    cv::Mat decoy = NovaroTest::blockPattern(first);
    decoy(cv::Rect(4, 4, 4, 4)).setTo(128);
    decoy(cv::Rect(8, 8, 4, 4)).setTo(128);
    std::mt19937 random(5);
    std::vector<osgART::Pattern> patterns(2);
    patterns[0].setFromImage(NovaroTest::blockPattern(first));
    patterns[1].setFromImage(NovaroTest::blockPattern(second));
    // Filler patterns, none within two blocks of the first two in any orientation: those could not
    // be told apart by any rule.
    auto near = [](std::array<int, 16> blocks, const std::array<int, 16>& other)
    {
        for (int turn = 0; turn < 4; ++turn)
        {
            int differing = 0;
            for (size_t k = 0; k < 16; ++k)
                differing += blocks[k] != other[k];
            if (differing <= 2)
                return true;
            const std::array<int, 16> turned = blocks;
            for (size_t k = 0; k < 16; ++k)
                blocks[k] = turned[(k % 4) * 4 + 3 - k / 4];
        }
        return false;
    };
    while (patterns.size() < 256)
    {
        std::array<int, 16> blocks;
        for (int& block : blocks)
            block = int(random() % 2) * 255;
        if (near(blocks, first) || near(blocks, second))
            continue;
        patterns.emplace_back();
        patterns.back().setFromImage(NovaroTest::blockPattern(blocks));
    }
    const osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(640, 480, 600, 600, 320, 240);
    auto detect = [&](size_t count, double lead, const cv::Mat& frame)
    {
        osgART::SquareMarkerDetector detector =
            NovaroTest::detectorFor(camera, {patterns.begin(), patterns.begin() + long(count)});
        detector.setThresholdMode(osgART::SquareMarkerDetector::FIXED); // even light
        detector.setMinimumLead(lead);
        return NovaroTest::detectIn(detector, frame);
    };
    for (const double lead : {0.0, 0.15})
    {
        SCOPED_TRACE(lead);
        const std::vector<osgART::DetectedSquare> found = detect(8, lead, frontalMarker(decoy));
        EXPECT_EQ(found.size(), lead > 0.0 ? 0u : 1u) << "the decoy counts only without the lead test";
    }
    for (int p = 0; p < 2; ++p)
    {
        const std::vector<osgART::DetectedSquare> found =
            detect(256, 0.15, frontalMarker(NovaroTest::blockPattern(p ? second : first)));
        ASSERT_EQ(found.size(), 1u) << p;
        EXPECT_EQ(found[0].pattern, p);
    }

    // A square like the first pattern with one block flipped and one grey correlates with it by 0.86:
    // enough among eight patterns, chance among 256.
    std::array<int, 16> flipped = first;
    flipped[2] = 255 - flipped[2];
    cv::Mat like = NovaroTest::blockPattern(flipped);
    like(cv::Rect(12, 4, 4, 4)).setTo(128);
    const cv::Mat resemblance = frontalMarker(like);
    EXPECT_EQ(detect(8, 0.0, resemblance).size(), 1u);
    EXPECT_EQ(detect(256, 0.0, resemblance).size(), 0u);
}
