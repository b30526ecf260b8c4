// The detector's own stages and rules, on frames made here: its grey frame against OpenCV's own
// conversion, flips and halving, for every pixel layout, and the layouts read from OSG images; the
// adaptive threshold against a slow recomputation; the connected dark regions the square-marker
// search starts from (the same regions as OpenCV's 8-connected labelling, each hole counted once,
// and the outline along the rows of the regions asked for); and the confidence rules that refuse a
// square resembling the loaded patterns.
#include "TestSupport.h"

#include <osg/Image>
#include <osgART/DarkRegions.h>
#include <osgART/GreyFrame.h>

#include <algorithm>
#include <random>
#include <tuple>

using namespace osgART;

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

struct Layout
{
    PixelLayout layout;
    int channels;
    int code;      // OpenCV's conversion to grey; -1 for grey itself, -2 for the first of two bytes
    GLenum format; // the same layout in an OSG image
};

const Layout kLayouts[] = {{PixelLayout::GREY, 1, -1, GL_LUMINANCE},
                           {PixelLayout::GREY_ALPHA, 2, -2, GL_LUMINANCE_ALPHA},
                           {PixelLayout::RGB, 3, cv::COLOR_RGB2GRAY, GL_RGB},
                           {PixelLayout::BGR, 3, cv::COLOR_BGR2GRAY, GL_BGR},
                           {PixelLayout::RGBA, 4, cv::COLOR_RGBA2GRAY, GL_RGBA},
                           {PixelLayout::BGRA, 4, cv::COLOR_BGRA2GRAY, GL_BGRA}};

cv::Mat openCVGrey(const cv::Mat& frame, int code)
{
    cv::Mat grey;
    if (code >= 0)
        cv::cvtColor(frame, grey, code);
    else if (code == -2)
        cv::extractChannel(frame, grey, 0);
    else
        grey = frame.clone();
    return grey;
}

using Box = std::tuple<int, int, int, int, int>; // x, y, width, height, pixels

std::vector<Box> boxesOf(const osgART::DarkRegions& regions)
{
    std::vector<Box> boxes;
    for (const osgART::DarkRegions::Region& region : regions.regions())
        boxes.emplace_back(region.bounds.x, region.bounds.y, region.bounds.width, region.bounds.height,
                           region.pixels);
    std::sort(boxes.begin(), boxes.end());
    return boxes;
}

std::vector<Box> openCvBoxesOf(const cv::Mat& binary)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8);
    std::vector<Box> boxes;
    for (int label = 1; label < count; ++label) // label 0 is the background
        boxes.emplace_back(stats.at<int>(label, cv::CC_STAT_LEFT), stats.at<int>(label, cv::CC_STAT_TOP),
                           stats.at<int>(label, cv::CC_STAT_WIDTH), stats.at<int>(label, cv::CC_STAT_HEIGHT),
                           stats.at<int>(label, cv::CC_STAT_AREA));
    std::sort(boxes.begin(), boxes.end());
    return boxes;
}

} // namespace

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

TEST(GreyFrame, MatchesOpenCVConversionAndFlipsForEveryLayout)
{
    cv::RNG random(7);
    for (const Layout& layout : kLayouts)
    {
        // An odd width, so that the vector loops end on a partial block.
        cv::Mat frame(37, 53, CV_MAKETYPE(CV_8U, layout.channels));
        random.fill(frame, cv::RNG::UNIFORM, 0, 256);
        const cv::Mat expectedUpright = openCVGrey(frame, layout.code);
        for (int flips = 0; flips < 4; ++flips)
        {
            const bool vertical = flips & 1, mirror = flips & 2;
            cv::Mat expected = expectedUpright.clone();
            if (vertical || mirror)
                cv::flip(expectedUpright, expected, vertical && mirror ? -1 : (vertical ? 0 : 1));
            cv::Mat grey, halved;
            makeGreyFrame(frame, layout.layout, vertical, mirror, grey, &halved);
            ASSERT_EQ(expected.size(), grey.size());
            ASSERT_EQ(CV_8UC1, grey.type());
            // Within one grey level: the weights are rounded to eight bits.
            EXPECT_GE(1, cv::norm(expected, grey, cv::NORM_INF))
                << "layout " << layout.channels << " channels, code " << layout.code << ", flips " << flips;
            // The halved frame, made on the way, is the rounded mean of each whole 2 x 2 block of
            // the grey frame (OpenCV's area resampling at exactly half), the odd last row and
            // column left out.
            cv::Mat means;
            cv::resize(grey(cv::Rect(0, 0, 52, 36)), means, cv::Size(26, 18), 0, 0, cv::INTER_AREA);
            ASSERT_EQ(means.size(), halved.size());
            EXPECT_EQ(0, cv::norm(means, halved, cv::NORM_INF)) << "flips " << flips;
        }
    }
}

TEST(GreyFrame, ReadsEveryImageFormatsLayoutAndNeverWritesIntoPixelsItOnlyBorrowed)
{
    cv::Mat first(8, 8, CV_8UC1, cv::Scalar(10)), second(8, 8, CV_8UC1, cv::Scalar(20));
    cv::Mat grey;
    makeGreyFrame(cv::Mat(first.rows, first.cols, CV_8UC1, first.data), PixelLayout::GREY, false, false,
                  grey);
    EXPECT_EQ(first.data, grey.data) << "an upright grey frame is used in place";
    // The next frame, the same size, needs a flip: it must not land in the first frame's pixels.
    makeGreyFrame(second, PixelLayout::GREY, true, false, grey);
    EXPECT_NE(first.data, grey.data);
    EXPECT_EQ(std::make_pair(10, 20),
              std::make_pair(int(first.at<unsigned char>(0, 0)), int(grey.at<unsigned char>(0, 0))));

    // Every image format's layout is read, its pixels borrowed; other formats are refused.
    cv::RNG random(11);
    for (const Layout& layout : kLayouts)
    {
        // Rows padded to four bytes, as OSG packs them: the row step must come from the image.
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->allocateImage(19, 7, 1, layout.format, GL_UNSIGNED_BYTE, 4);
        const cv::Mat written(7, 19, CV_MAKETYPE(CV_8U, layout.channels), image->data(),
                              image->getRowStepInBytes());
        random.fill(written, cv::RNG::UNIFORM, 0, 256);
        cv::Mat pixels, grey;
        PixelLayout found = PixelLayout::GREY;
        ASSERT_TRUE(pixelsOfImage(*image, pixels, found)) << "format " << layout.format;
        EXPECT_EQ(layout.layout, found);
        EXPECT_EQ(image->data(), pixels.data) << "the image's pixels are borrowed, not copied";
        makeGreyFrame(pixels, found, false, false, grey);
        EXPECT_GE(1, cv::norm(openCVGrey(written, layout.code), grey, cv::NORM_INF))
            << "format " << layout.format;
    }
    cv::Mat pixels;
    PixelLayout found;
    osg::ref_ptr<osg::Image> floats = new osg::Image;
    floats->allocateImage(4, 4, 1, GL_LUMINANCE, GL_FLOAT);
    EXPECT_FALSE(pixelsOfImage(*floats, pixels, found));
    osg::ref_ptr<osg::Image> depth = new osg::Image;
    depth->allocateImage(4, 4, 1, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE);
    EXPECT_FALSE(pixelsOfImage(*depth, pixels, found));
    osg::ref_ptr<osg::Image> empty = new osg::Image;
    EXPECT_FALSE(pixelsOfImage(*empty, pixels, found)) << "an image without pixels";
}

// Random specks and blobs of every density, on widths that are and are not multiples of the 64
// pixels the runs are read by: regions that merge late (a U joined at its bottom, diagonal chains)
// are where a union-find goes wrong.
TEST(DarkRegionsTest, RegionsAreOpenCvsEightConnectedComponents)
{
    cv::RNG random(11);
    osgART::DarkRegions regions;
    for (const cv::Size size : {cv::Size(64, 40), cv::Size(203, 61), cv::Size(130, 97), cv::Size(1, 5)})
        for (const int density : {10, 45, 70})
        {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + ", " +
                         std::to_string(density) + "%");
            cv::Mat noise(size, CV_8UC1), binary;
            random.fill(noise, cv::RNG::UNIFORM, 0, 100);
            cv::compare(noise, density, binary, cv::CMP_LT);
            regions.find(binary);
            EXPECT_EQ(boxesOf(regions), openCvBoxesOf(binary));
        }
}

TEST(DarkRegionsTest, HolesAreCountedOncePerEnclosedPatch)
{
    cv::Mat binary = cv::Mat::zeros(60, 90, CV_8UC1);
    cv::rectangle(binary, cv::Rect(5, 5, 30, 30), cv::Scalar(255), 4);  // a marker's border: one hole
    cv::rectangle(binary, cv::Rect(45, 5, 40, 20), cv::Scalar(255), 3); // two holes: a bar across it
    cv::line(binary, cv::Point(65, 5), cv::Point(65, 24), cv::Scalar(255), 3);
    cv::circle(binary, cv::Point(60, 45), 8, cv::Scalar(255), cv::FILLED); // solid: none
    osgART::DarkRegions regions;
    regions.find(binary);
    ASSERT_EQ(regions.regions().size(), 3u);
    std::vector<int> holes;
    for (const osgART::DarkRegions::Region& region : regions.regions())
        holes.push_back(region.holes);
    std::sort(holes.begin(), holes.end());
    EXPECT_EQ(holes, (std::vector<int>{0, 1, 2}));
}

// A square turned on screen: its outline along the rows runs down its left ends and up its right
// ends; a region not asked for has none.
// A band bitten by pixel-wide noise holes keeps one span per row; a mesh of lines three pixels
// apart keeps one span per line crossed, as many as its runs.
TEST(DarkRegionsTest, SpansBridgeNoiseGapsButNotAMeshesGaps)
{
    cv::Mat binary = cv::Mat::zeros(40, 80, CV_8UC1);
    cv::rectangle(binary, cv::Rect(5, 5, 30, 10), cv::Scalar(255), cv::FILLED);
    for (int y = 5; y < 15; ++y)
        for (int x = 8 + y % 3; x < 34; x += 7)
            binary.at<unsigned char>(y, x) = 0;                            // holes of one pixel
    binary.at<unsigned char>(9, 18) = binary.at<unsigned char>(9, 19) = 0; // and one of two
    for (int x = 45; x < 75; x += 4)
        cv::line(binary, cv::Point(x, 5), cv::Point(x, 30), cv::Scalar(255)); // vertical lines, 3 apart
    cv::line(binary, cv::Point(45, 30), cv::Point(74, 30), cv::Scalar(255));
    osgART::DarkRegions regions;
    regions.find(binary);
    ASSERT_EQ(2u, regions.regions().size());
    const osgART::DarkRegions::Region &band = regions.regions()[0], &mesh = regions.regions()[1];
    EXPECT_GT(band.runs, 3 * band.bounds.height);
    EXPECT_EQ(std::make_tuple(band.bounds.height, 8 * 25 + 1, 8 * 25 + 1),
              std::make_tuple(band.spans, mesh.spans, mesh.runs));
}

TEST(DarkRegionsTest, RowOutlineOfTheRegionsAskedFor)
{
    cv::Mat binary = cv::Mat::zeros(80, 120, CV_8UC1);
    const std::vector<cv::Point> diamond = {{30, 10}, {50, 30}, {30, 50}, {10, 30}};
    cv::fillConvexPoly(binary, diamond, cv::Scalar(255));
    cv::rectangle(binary, cv::Rect(80, 20, 20, 10), cv::Scalar(255), cv::FILLED);
    osgART::DarkRegions regions;
    regions.find(binary);
    ASSERT_EQ(regions.regions().size(), 2u);
    const int square = regions.regions()[0].bounds.x < 60 ? 0 : 1;
    regions.findRowEnds({square});
    std::vector<cv::Point> outline;
    regions.rowOutline(1 - square, outline);
    EXPECT_TRUE(outline.empty());
    regions.rowOutline(square, outline);
    ASSERT_EQ(outline.size(), 2u * 41u);
    for (size_t k = 0; k < 41; ++k)
    {
        const cv::Point& left = outline[k];
        const cv::Point& right = outline[outline.size() - 1 - k];
        EXPECT_EQ(left.y, 10 + int(k));
        EXPECT_EQ(right.y, left.y);
        EXPECT_EQ(binary.at<unsigned char>(left), 255);
        EXPECT_EQ(binary.at<unsigned char>(right), 255);
        EXPECT_TRUE(left.x == 0 || binary.at<unsigned char>(left.y, left.x - 1) == 0);
        EXPECT_EQ(binary.at<unsigned char>(right.y, right.x + 1), 0);
        // The diamond's ends lie on its slanted sides, within the pixel the filling rounds to.
        EXPECT_NEAR(left.x, 30 - (20 - std::abs(left.y - 30)), 1);
        EXPECT_NEAR(right.x, 30 + (20 - std::abs(right.y - 30)), 1);
    }
}
