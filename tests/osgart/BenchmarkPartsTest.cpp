// The tracker benchmark's own parts, whose frames the tracker's tests and the benchmark share: the
// hard-case renderer's motion blur, the synthetic camera's rolling shutter (how far a moving picture
// is skewed, row by row), and the benchmark's seeds and noise levels from its options and its rows
// over seeds.
#include "BenchmarkTables.h"
#include "CameraModel.h"
#include "HardCaseScene.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>
#include <sstream>

using namespace Novaro;

// The benchmark's motion blur moves nothing: the kernel's centre of mass is its centre pixel,
// straight or shaky, and it keeps the frame's brightness.
TEST(HardCaseSceneTest, MotionBlurKernelsAreCentredAndNormalised)
{
    std::mt19937 random(3);
    for (bool shaky : {false, true})
        for (double length : {5.0, 10.0, 15.0})
            for (double angle : {0.0, 0.4, 2.0})
            {
                SCOPED_TRACE(std::to_string(length) + (shaky ? " shaky" : " straight"));
                const cv::Mat kernel = motionBlurKernel(length, angle, shaky, random);
                ASSERT_EQ(kernel.cols % 2, 1);
                ASSERT_EQ(kernel.rows, kernel.cols);
                const cv::Moments moments = cv::moments(kernel);
                EXPECT_NEAR(moments.m00, 1.0, 1e-4);
                EXPECT_NEAR(moments.m10 / moments.m00, kernel.cols / 2, 1e-3);
                EXPECT_NEAR(moments.m01 / moments.m00, kernel.rows / 2, 1e-3);
                // Its spread along the motion tells the length: a straight path of length L has a
                // standard deviation of L / sqrt(12) along it.
                const double along =
                    std::sqrt(moments.mu20 / moments.m00 * std::cos(angle) * std::cos(angle) +
                              moments.mu02 / moments.m00 * std::sin(angle) * std::sin(angle) +
                              2 * moments.mu11 / moments.m00 * std::sin(angle) * std::cos(angle));
                if (!shaky)
                {
                    EXPECT_NEAR(along, length / std::sqrt(12.0), 0.15 * length / std::sqrt(12.0) + 0.2);
                }
            }
}

namespace
{

// Where a row crosses from dark to light (or light to dark) through the middle grey, to a
// fraction of a pixel; NaN when it does not.
double crossing(const cv::Mat& picture, int y)
{
    const float* row = picture.ptr<float>(y);
    for (int x = 0; x + 1 < picture.cols; ++x)
        if ((row[x] - 128.0f) * (row[x + 1] - 128.0f) < 0.0f)
            return x + (128.0 - row[x]) / (row[x + 1] - row[x]);
    return std::nan("");
}

// Dark left of x = 319.5, light right of it.
cv::Mat verticalEdge()
{
    cv::Mat picture(480, 640, CV_32F, cv::Scalar(30));
    picture.colRange(320, 640).setTo(cv::Scalar(220));
    return picture;
}

// The benchmark tool's arguments, as its command line gives them.
ToolArguments arguments(std::vector<std::string> words)
{
    words.insert(words.begin(), "novaro-bench-tracker");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    return ToolArguments(int(argv.size()), argv.data(), {});
}

} // namespace

TEST(CameraModelRollingShutter, AnEdgeSlidingSidewaysLeansAPictureSlidingDownStretchesAndBandsMatchTheSkew)
{
    CameraModel camera;
    camera.readoutMs = 30.0;
    const double speed = 0.5; // pixels per millisecond
    const cv::Mat skewed = camera.skew(verticalEdge(), cv::Point2d(speed, 0.0));
    // The middle row is read at the frame's time, the edge rows half the readout before and after.
    EXPECT_NEAR(crossing(skewed, 0), 319.5 + speed * camera.rowTime(0, 480), 0.05);
    EXPECT_NEAR(crossing(skewed, 479), 319.5 + speed * camera.rowTime(479, 480), 0.05);
    EXPECT_NEAR(crossing(skewed, 479) - crossing(skewed, 0), speed * 30.0 * 479.0 / 480.0, 0.1);
    EXPECT_NEAR(0.5 * (crossing(skewed, 239) + crossing(skewed, 240)), 319.5, 0.05);
    // A global shutter leaves it upright.
    camera.readoutMs = 0.0;
    const cv::Mat upright = camera.skew(verticalEdge(), cv::Point2d(speed, 0.0));
    EXPECT_NEAR(crossing(upright, 0), crossing(upright, 479), 1e-3);

    // A picture sliding down is stretched.
    camera.readoutMs = 30.0;
    cv::Mat bar(480, 640, CV_32F, cv::Scalar(220));
    bar.rowRange(200, 280).setTo(cv::Scalar(30)); // 80 rows high
    const double down = 0.4;
    cv::Mat column;
    cv::transpose(camera.skew(bar, cv::Point2d(0.0, down)).col(100), column);
    const double top = crossing(column, 0);
    cv::Mat below = column.colRange(int(top) + 2, column.cols);
    const double bottom = int(top) + 2 + crossing(below, 0);
    // Each row shows the picture as it was at its time: the rows chase the bar down, which then
    // takes 1 / (1 - speed * readout / rows) times its height.
    EXPECT_NEAR(bottom - top, 80.0 / (1.0 - down * 30.0 / 480.0), 0.1);

    // Bands read from the scene at their times match the skew.
    const cv::Point2d motion(0.5, 0.2);
    const cv::Mat picture = verticalEdge();
    auto sceneAt = [&](double ms)
    {
        const cv::Matx23d shift(1, 0, motion.x * ms, 0, 1, motion.y * ms);
        cv::Mat moved;
        cv::warpAffine(picture, moved, shift, picture.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        return moved;
    };
    const cv::Mat diagonal = camera.skew(picture, motion);
    // A band for every row: each row from the scene at its own time, as the skew makes it.
    const cv::Mat everyRow = camera.readBands(sceneAt, picture.rows, picture.rows);
    // (Each resamples to 1/32 of a pixel.)
    for (int y = 0; y < picture.rows; y += 7)
        EXPECT_NEAR(crossing(everyRow, y), crossing(diagonal, y), 0.08) << "row " << y;
    // Eight bands: a staircase, each step the scene at its band's middle row.
    const cv::Mat eight = camera.readBands(sceneAt, picture.rows, 8);
    const double step = motion.x * camera.readoutMs / 8.0;
    for (int y = 0; y < picture.rows; y += 7)
        EXPECT_LE(std::fabs(crossing(eight, y) - crossing(diagonal, y)), 0.5 * step + 0.08) << "row " << y;
    EXPECT_NEAR(crossing(eight, 0), crossing(eight, 59), 1e-3);
    EXPECT_NEAR(crossing(eight, 60) - crossing(eight, 0), step, 0.08);
}

TEST(BenchmarkTables, SeedsComeFromAListACountOrOneSeedAndNoiseLevelsFromIsos)
{
    std::string error;
    EXPECT_EQ(seedsFrom(arguments({"--seeds", "4,9,2"}), error), (std::vector<unsigned>{4, 9, 2}));
    EXPECT_EQ(seedsFrom(arguments({"--seed-count", "3", "--seed", "7"}), error),
              (std::vector<unsigned>{7, 8, 9}));
    EXPECT_EQ(seedsFrom(arguments({"--seed-count", "2"}), error), (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(seedsFrom(arguments({"--seed", "42"}), error), (std::vector<unsigned>{42}));
    EXPECT_EQ(seedsFrom(arguments({}), error), (std::vector<unsigned>{1}));
    EXPECT_TRUE(error.empty()) << error;
    for (const std::vector<std::string>& malformed : {std::vector<std::string>{"--seeds", "1,x"},
                                                      {"--seeds", "1,,2"},
                                                      {"--seeds", "-3"},
                                                      {"--seed-count", "0"},
                                                      {"--seed-count", "2.5"},
                                                      {"--seed", "1e3"}})
    {
        error.clear();
        EXPECT_TRUE(seedsFrom(arguments(malformed), error).empty()) << malformed[1];
        EXPECT_FALSE(error.empty()) << malformed[1];
    }

    // Noise levels are none, the default or an ISO.
    error.clear();
    EXPECT_EQ(noiseLevelsFrom(arguments({"--iso", "none,default,100,3200"}), error),
              (std::vector<int>{-1, 0, 100, 3200}));
    EXPECT_TRUE(noiseLevelsFrom(arguments({}), error).empty());
    EXPECT_TRUE(error.empty()) << error;
    for (const char* malformed : {"800,loud", "12", "1600,", "800 "})
    {
        error.clear();
        EXPECT_TRUE(noiseLevelsFrom(arguments({"--iso", malformed}), error).empty()) << malformed;
        EXPECT_FALSE(error.empty()) << malformed;
    }
    EXPECT_EQ(noiseLevelName(-1), "none");
    EXPECT_EQ(noiseLevelName(1600), "ISO 1600");
}

// Each number over the seeds: its smallest, its median (between the middle two of an even count)
// and its largest, a detector's seeds that gave no value left out.
TEST(BenchmarkTables, RowsOverSeedsGiveTheMinimumMedianAndMaximumOfEachCell)
{
    const double none = std::nan("");
    const std::vector<RowValues> perSeed = {{{99.0, 50.0}, {0.0, none}},
                                            {{100.0, 75.0}, {3.0, none}},
                                            {{97.5, 25.0}, {2.0, 2.0}},
                                            {{100.0, 100.0}, {0.0, 4.0}}};
    std::ostringstream out;
    printOverSeeds(out, "| busy | ISO 800", {1, 0}, {1, 2, 3, 4}, perSeed);
    EXPECT_EQ(out.str(), "| busy | ISO 800 | min | 97.5 / 25.0 | 0 / 2 |\n"
                         "| busy | ISO 800 | median | 99.5 / 62.5 | 1 / 3 |\n"
                         "| busy | ISO 800 | max | 100.0 / 100.0 | 3 / 4 |\n");
    std::ostringstream one;
    printOverSeeds(one, "| clean | none", {2}, {7}, {{{1.234, none}}});
    EXPECT_EQ(one.str(), "| clean | none | seed 7 | 1.23 / - |\n");
}

// Without noise, frames differing only by their noise seed are the same picture.
TEST(BenchmarkTables, TheNoiseFreeLevelAddsNoNoise)
{
    HardCaseRenderer renderer(320, 240, 288.0);
    Degradation noiseFree, noisy;
    noiseFree.iso = -1;
    cv::Mat first, second, third;
    renderer.render(noiseFree, {}, 80.0, 0.25, {}, 3, first, 1);
    renderer.render(noiseFree, {}, 80.0, 0.25, {}, 3, second, 2);
    EXPECT_EQ(cv::norm(first, second, cv::NORM_INF), 0.0);
    renderer.render(noisy, {}, 80.0, 0.25, {}, 3, third, 1);
    EXPECT_GT(cv::norm(first, third, cv::NORM_L1) / double(first.total()), 1.0);
}
