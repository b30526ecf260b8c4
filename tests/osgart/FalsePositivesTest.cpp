// Busy texture (a desk, a shelf, a patterned floor) holds no marker, and none may be found in it:
// its small skewed quadrilaterals, sampled at under a pixel per pattern cell, once matched a pattern
// in some frames of every thousand with eight patterns loaded.
#include "BenchmarkFrames.h"
#include "HardCaseScene.h"
#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/Pattern.h>
#include <osgART/SquareMarkerDetector.h>

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

using namespace Novaro;

namespace
{

const int kWidth = 640, kHeight = 480;

// A detector for the busy background's camera with the benchmark's set of eight patterns of a seed.
osgART::SquareMarkerDetector detectorFor(const HardCaseRenderer& renderer, unsigned seed)
{
    const cv::Matx33d& k = renderer.cameraMatrix();
    return NovaroTest::detectorFor(
        osgART::CameraParameters::fromIntrinsics(kWidth, kHeight, k(0, 0), k(1, 1), k(0, 2), k(1, 2)),
        makeDistinctPatterns(8, seed));
}

int countDetections(osgART::SquareMarkerDetector& detector, const HardCaseRenderer& renderer,
                    unsigned frameSeed)
{
    Degradation empty;
    empty.markerFree = true;
    cv::Mat grey;
    renderer.render(empty, {}, 80.0, 0.25, {}, frameSeed, grey);
    return int(NovaroTest::detectIn(detector, grey).size());
}

} // namespace

TEST(FalsePositives, BusyOrMottledMarkerFreeFramesGiveNoMarkerWithEightPatterns)
{
    HardCaseRenderer renderer(kWidth, kHeight, 0.9 * kWidth);
    renderer.setBackground(Background::BUSY);
    // The pattern set and frames of the benchmark's seed that gave the most (18 in 1000 frames).
    const unsigned seed = 4;
    osgART::SquareMarkerDetector detector = detectorFor(renderer, seed);
    std::mt19937 random(seed);
    int found = 0;
    for (int frame = 0; frame < 300; ++frame)
        found += countDetections(detector, renderer, unsigned(random()));
    EXPECT_EQ(0, found);

    // Mottled texture (grey patches a few pixels across) once outlined skewed squares of 20-40 pixels
    // whose insides correlated 0.82-0.84 with a pattern and whose "border" was patches of three greys:
    // the marker-free frames of the benchmark's seeds 7 and 9 that showed them.
    struct Frame
    {
        unsigned seed;
        int index; // in the seed's frame stream: 100 frames with markers, then the marker-free ones
    };
    for (const Frame& frame : {Frame{7, 100 + 441}, Frame{9, 100 + 362}})
    {
        osgART::SquareMarkerDetector mottled = detectorFor(renderer, frame.seed);
        std::mt19937 stream(frame.seed);
        stream.discard(unsigned(frame.index));
        EXPECT_EQ(0, countDetections(mottled, renderer, unsigned(stream()))) << "seed " << frame.seed;
    }
}

// A dark square whose lighter spots lie as a pattern's white cells, but stay far below the white of
// the paper round it (a card printed dark, a tile of a patterned floor): its layout matches the
// pattern exactly, and only the paper's white tells it from the marker. At a third of the way from
// ink to paper it is refused; printed on white, the same layout is found.
TEST(FalsePositives, SquareWhoseLightCellsStayFarBelowThePaperOrADarkCardIsNoMarker)
{
    const std::array<int, 16> layout = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 255, 255, 0, 0};
    std::vector<osgART::Pattern> patterns(1);
    patterns[0].setFromImage(NovaroTest::blockPattern(layout));
    osgART::SquareMarkerDetector detector = NovaroTest::detectorFor(
        osgART::CameraParameters::fromIntrinsics(320, 240, 300, 300, 159.5, 119.5), patterns);
    const double ink = 20.0, paper = 235.0;
    for (const double light : {paper, ink + (paper - ink) / 3.0})
    {
        const cv::Mat frame = NovaroTest::frontalMarker(NovaroTest::blockPattern(layout), light, 0.8);
        const std::vector<int> expected = light == paper ? std::vector<int>{0} : std::vector<int>{};
        EXPECT_EQ(NovaroTest::patternsOf(NovaroTest::detectIn(detector, frame)), expected)
            << "light cells " << light;
    }
    // A dark card with a faint highlight on a photograph (the benchmark's photo background, seed 4),
    // outlined as a square seen at a slant: blurred as its corners showed, its inside correlated 0.82
    // with a pattern and led every other by 0.23, yet it nowhere comes near the paper's white.
    NovaroTest::expectFoundIn({"dark-card-photo.png", 4, {}, -1, {}}, 0.0);
}
