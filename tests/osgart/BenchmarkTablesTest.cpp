// The tracker benchmark's seeds and noise levels from its options, and its rows over seeds.
#include "BenchmarkTables.h"
#include "HardCaseScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace Novaro;

namespace
{

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
