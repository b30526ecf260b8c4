// The connected dark regions the square-marker search starts from: the same regions as OpenCV's
// 8-connected labelling, each hole counted once, and the outline along the rows of the regions asked for.
#include <osgART/DarkRegions.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace
{

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
// A square turned on screen: its outline along the rows runs down its left ends and up its right
// ends; a region not asked for has none.
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
        // The ends of the row's one run (the diamond is convex), so on its slanted sides.
        EXPECT_EQ(binary.at<unsigned char>(left.y, left.x - 1), 0);
        EXPECT_EQ(binary.at<unsigned char>(right.y, right.x + 1), 0);
    }
}
