// The square-marker detector on the hard cases the tracker benchmark found and on noisy real
// photographs: busy texture that holds no marker (its small skewed quadrilaterals, sampled at under a
// pixel per pattern cell, once matched a pattern in some frames of every thousand with eight patterns
// loaded); the outlines of dark regions that must reach the pattern comparison; blurred markers (the
// blur measured at their corners in camera noise, and the lead a blurred match needs over another
// pattern); and real photographs with printed markers laid in, at camera noise from ISO 100 to 3200
// and under strong Gaussian noise, where every marker the record says a frame gives must be found,
// with its id and its corners in place, and nothing else (a detector change that loses one fails
// here, whatever it gains elsewhere). Benchmark frames are kept as files with what they must give:
// the patterns found and the corners of the marker a test is about.
#include "HardCaseScene.h"
#include "PhotoCorpus.h"
#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/Pattern.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <random>

using namespace Novaro;

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

// Whether a detector with one pattern examines a quadrilateral in grey within tolerance pixels of
// corners, in any order round it.
bool examinedIn(const cv::Mat& grey, const std::array<cv::Point, 4>& corners, double tolerance)
{
    osgART::SquareMarkerDetector detector =
        NovaroTest::detectorFor(osgART::CameraParameters::fromIntrinsics(640, 480, 576, 576, 319.5, 239.5),
                                Novaro::makeDistinctPatterns(1, 1));
    NovaroTest::detectIn(detector, grey);
    for (const osgART::SquareMarkerDetector::Candidate& candidate : detector.candidates())
    {
        int close = 0;
        for (const cv::Point& corner : corners)
            for (const osg::Vec2d& seen : candidate.outline)
                if (std::hypot(seen.x() - corner.x, seen.y() - corner.y) <= tolerance)
                {
                    ++close;
                    break;
                }
        if (close == 4)
            return true;
    }
    return false;
}

// A border on paper, its ring a quarter of the side wide (the inner corners halfway to the centre).
cv::Mat drawnBorder(const std::array<cv::Point, 4>& outer)
{
    const cv::Point centre = (outer[0] + outer[1] + outer[2] + outer[3]) / 4;
    std::array<cv::Point, 4> inner;
    for (size_t k = 0; k < 4; ++k)
        inner[k] = centre + (outer[k] - centre) / 2;
    cv::Mat grey(480, 640, CV_8UC1, cv::Scalar(200));
    cv::fillConvexPoly(grey, outer.data(), 4, cv::Scalar(30));
    cv::fillConvexPoly(grey, inner.data(), 4, cv::Scalar(200));
    return grey;
}

// A frontal marker 96 pixels wide (pattern cells of 3 pixels) on white, blurred by a Gaussian of
// 4 pixels (1.3 cells), with a little camera noise.
cv::Mat blurredMarker(const cv::Mat& pattern)
{
    cv::Mat frame = NovaroTest::frontalMarker(pattern, 235.0, 4.0);
    cv::Mat noise(frame.size(), CV_8SC1);
    cv::randn(noise, 0.0, 2.0);
    cv::add(frame, noise, frame, cv::noArray(), CV_8U);
    return frame;
}

const std::string RECORD = std::string(NOVARO_SOURCE_DIR) + "/tests/osgart/data/photo-corpus.txt";
const unsigned kSeeds = 1; // the record is written for one seed; the benchmark tool runs more

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

// A strongly tilted marker seen as a long, thin parallelogram: the corner farthest from the outline's
// start is adjacent to the one farthest from it, and the opposite side runs parallel to the side
// between them, so every point of it is about as far from that side. A speck of noise on it decides
// where it is split, and a true corner was left inside a stretch taken for a side: the marker's
// outline was dropped as straying from a quadrilateral (a miss at ISO 1600 on a 60-75 degree tilt).
TEST(SquareMarkerOutlines, ParallelogramWithASpeckAndBorderWithALineSplitOffForOneRowAreExamined)
{
    // The corners of that miss, scaled up: bottom, left, top, right.
    const std::array<cv::Point, 4> outer = {{{390, 370}, {234, 192}, {336, 148}, {464, 296}}};
    for (const bool speck : {false, true})
    {
        SCOPED_TRACE(speck ? "with a speck" : "clean");
        cv::Mat grey = drawnBorder(outer);
        if (speck)
        {
            // Just outside the middle of the top-right side, touching it: farther from the long
            // bottom-left side than either corner of its own side.
            const cv::Point middle = (outer[2] + outer[3]) / 2;
            cv::circle(grey, middle + cv::Point(2, -2), 2, cv::Scalar(30), cv::FILLED);
        }
        EXPECT_TRUE(examinedIn(grey, outer, 4.0));
    }

    // A blurred marker's edge is a ramp, and a camera's noise can split a thin line of it off the
    // border for one row, joined to it at one end only: that row's end then lies near the other side.
    // Both misses of this kind (shaky blur at ISO 1600) had the marker's outline dropped as straying.
    const std::array<cv::Point, 4> split = {{{250, 150}, {400, 150}, {380, 300}, {230, 300}}};
    cv::Mat grey = drawnBorder(split);
    // One paper-white row under the top two rows, open at the left; one over the bottom two, open
    // at the right.
    cv::line(grey, cv::Point(254, 152), cv::Point(401, 152), cv::Scalar(200));
    cv::line(grey, cv::Point(228, 298), cv::Point(376, 298), cv::Scalar(200));
    EXPECT_TRUE(examinedIn(grey, split, 4.0));
}

// Benchmark frames on three backgrounds at ISO 1600, each with a marker tilted 60-75 degrees whose
// noisy outline the simplification cut a corner off (the short side's outer corner): its pattern
// was sampled askew and matched nothing, or the first look already refused it. Settled on the
// outline, the corners are the marker's own.
TEST(SquareMarkerOutlines, StronglyTiltedMarkersWithACornerCutOffAreIdentified)
{
    const NovaroTest::BenchmarkFrame frames[] = {
        {"strong-tilt-iso1600-photo.png",
         2,
         {0, 3, 6, 7},
         3,
         {{{403.48, 54.13}, {417.55, 103.33}, {324.16, 176.25}, {288.45, 146.11}}}},
        {"strong-tilt-iso1600-calm.png",
         2,
         {0, 5, 7},
         0,
         {{{253.88, 379.52}, {258.42, 282.54}, {417.88, 236.21}, {471.96, 317.21}}}},
        {"strong-tilt-iso1600-busy.png",
         1,
         {2, 3, 4, 5},
         3,
         {{{154.28, 394.04}, {109.26, 384.83}, {166.63, 251.13}, {198.58, 284.39}}}},
    };
    for (const NovaroTest::BenchmarkFrame& frame : frames)
        NovaroTest::expectFoundIn(frame, 1.5);
}

// Benchmark frames shaken along a curved 10-pixel path at ISO 1600 (the last also read out by a
// rolling shutter over 30 ms), each with a marker of 42 to 49 pixels whose pattern the blur
// measured at its corners did not fit closely enough: the camera's noise in the measurement, from
// single samples or in cells off the blur's path, blurred the pattern with it. Pattern 4's marker
// in the first busy frame was missed while the measurement kept every cell above a twentieth of
// its peak; the seed 3 and seed 5 markers were missed with single samples after the measurement
// was smoothed.
TEST(SquareMarkerBlur, MarkersShakenInCameraNoiseFitTheBlurTheirCornersShowAndSmallClutterNoPattern)
{
    const NovaroTest::BenchmarkFrame frames[] = {
        {"shaky-blur-iso1600-busy.png",
         1,
         {0, 2, 4, 5},
         0,
         {{{476.585, 210.387}, {433.25, 215.493}, {429.883, 172.366}, {472.844, 165.537}}}},
        {"shaky-blur-iso1600-calm.png",
         1,
         {0, 2, 5, 7},
         2,
         {{{439.884, 68.3195}, {406.17, 95.1045}, {378.924, 64.6883}, {412.516, 35.9854}}}},
        {"shaky-blur-iso1600-busy-seed3.png",
         3,
         {1, 3, 4, 5},
         4,
         {{{531.958, 155.344}, {482.605, 176.824}, {473.686, 128.407}, {520.89, 104.193}}}},
        {"shaky-rolling-iso1600-calm-seed5.png",
         5,
         {0, 2, 3, 6},
         3,
         {{{60.1154, 264.401}, {83.1267, 226.359}, {135.817, 242.025}, {116.836, 280.656}}}},
        // A frame of the benchmark's pattern-set table: four markers among 64 patterns on busy texture
        // at ISO 1600. A square of the texture 20 pixels wide (a dark ring round a light inside), 0.6
        // pixels a pattern cell, fitted pattern 19 blurred as its corners showed just over the floor
        // and was read as it.
        {"small-decoy-iso1600-busy.png", 3, {13, 30, 41, 42}, -1, {}, 64},
    };
    // The uneven path moves where the blurred edges seem to be by two pixels or so.
    for (const NovaroTest::BenchmarkFrame& frame : frames)
        NovaroTest::expectFoundIn(frame, 3.0);
}

// A pattern whose four turns are alike fills every place among the few compared blurred: its lead
// must still be over another pattern. A blurred square between such a pattern and one two blocks
// from it matches both alike (0.96 the first) and is refused; each pattern shown is found.
TEST(SquareMarkerBlur, BlurredMatchLeadsAnotherPatternNotItsOwnTurns)
{
    const std::array<int, 16> symmetric = {255, 0, 0, 255, 0, 255, 255, 0, 0, 255, 255, 0, 255, 0, 0, 255};
    std::array<int, 16> other = symmetric, between = symmetric;
    other[1] = other[4] = 255;
    between[1] = between[4] = 100;
    std::vector<osgART::Pattern> patterns(2);
    patterns[0].setFromImage(NovaroTest::blockPattern(symmetric));
    patterns[1].setFromImage(NovaroTest::blockPattern(other));
    osgART::SquareMarkerDetector detector = NovaroTest::detectorFor(
        osgART::CameraParameters::fromIntrinsics(320, 240, 300, 300, 159.5, 119.5), patterns);
    auto patternsFound = [&detector](const std::array<int, 16>& greys)
    {
        return NovaroTest::patternsOf(
            NovaroTest::detectIn(detector, blurredMarker(NovaroTest::blockPattern(greys))));
    };
    EXPECT_EQ(patternsFound(between), std::vector<int>{});
    EXPECT_EQ(patternsFound(symmetric), std::vector<int>{0});
    EXPECT_EQ(patternsFound(other), std::vector<int>{1});
}

TEST(PhotoCorpus, EveryRecordedMarkerIsFoundOnNoisyRealPhotographs)
{
    PhotoCorpus corpus;
    std::string error;
    ASSERT_TRUE(corpus.load(PhotoCorpus::kDefaultFolder, error)) << error;
    const std::map<std::string, std::vector<int>> required = readRequiredMarkers(RECORD);
    ASSERT_FALSE(required.empty()) << RECORD;
    size_t frames = 0, markers = 0, falses = 0;
    for (const PhotoLayout& layout : photoLayouts())
        for (const PhotoNoise& noise : photoNoiseLevels())
            for (unsigned seed = 1; seed <= kSeeds; ++seed)
                for (size_t photo = 0; photo < corpus.photoCount(); ++photo)
                {
                    const PhotoFrame frame = corpus.frame(photo, layout, noise, seed);
                    osgART::SquareMarkerDetector detector;
                    setUpDetector(corpus, frame, detector);
                    std::vector<osgART::DetectedSquare> detections;
                    detector.detect(frame.grey, 1, detections);
                    const std::vector<int> found = foundMarkers(frame, detections);
                    const auto wanted = required.find(frame.name);
                    ASSERT_NE(wanted, required.end()) << "no record of " << frame.name;
                    for (int id : wanted->second)
                        EXPECT_TRUE(std::find(found.begin(), found.end(), id) != found.end())
                            << frame.name << ": marker " << id << " lost";
                    ++frames;
                    markers += wanted->second.size();
                    falses += size_t(falseDetections(frame, detections));
                }
    EXPECT_EQ(required.size(), frames) << "frames recorded but not made";
    // Every marker laid in is recorded (the record holds what the detector must give, and it gives
    // them all): 2 layouts x 5 noise levels x 16 photographs, 3 or 6 markers each.
    EXPECT_GE(markers, size_t(frames / 2 * 3 + frames / 2 * 6) * 98 / 100);
    EXPECT_EQ(0u, falses);
}
