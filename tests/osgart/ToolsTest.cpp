// The tracking tools as a user runs them: file names built from user text, and hostile inputs.
#include "SyntheticScene.h"
#include "TestSupport.h"
#include "ToolSupport.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>

using NovaroTest::runTool;

TEST(TrackingTools, FrameNamesSubstituteOnlyTheFrameNumber)
{
    const struct
    {
        const char* pattern;
        int frame;
        const char* expected;
    } cases[] = {
        {"debug%04d.png", 7, "debug0007.png"},
        {"f%d.png", 12, "f12.png"},
        {"f%02d.png", 123, "f123.png"},
        {"a%s%n%x%03d.png", 5, "a%s%n%x005.png"},
        {"100%.png", 3, "100%.png"},
        {"%d_%d.png", 1, "1_%d.png"},
        {"%4d.png", 2, "%4d.png"},
        {"%0999d.png", 2, "%0999d.png"},
        {"plain.png", 9, "plain.png"},
        {"end%", 1, "end%"},
    };
    for (const auto& entry : cases)
    {
        EXPECT_EQ(Novaro::formatFrameName(entry.pattern, entry.frame), entry.expected) << entry.pattern;
        // A pattern holds a frame number exactly when something was substituted.
        EXPECT_EQ(Novaro::hasFrameNumberPattern(entry.pattern), std::string(entry.pattern) != entry.expected)
            << entry.pattern;
    }
}

TEST(TrackingTools, TrackRunsOnHostileFileNamesAndImagesAndMarkerWritesSheetsAsPdfOnly)
{
    NovaroTest::TemporaryFolder folder;
    const std::string camera = folder.file("camera.dat");
    ASSERT_TRUE(Novaro::makeDefaultCamera(64, 48, false).saveBinary(camera));
    ASSERT_TRUE(cv::imwrite(folder.file("frame.png"), cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(200))));
    std::string output;
    // Format directives in the debug image name are file name text, not printf instructions.
    EXPECT_EQ(runTool(folder, "novaro-track",
                      {"--camera", camera, "--input", folder.file("frame.png"), "--frames", "1",
                       "--debug-image", folder.file("dbg%s%n%s%03d.png")},
                      output),
              0)
        << output;
    EXPECT_TRUE(std::filesystem::exists(folder.file("dbg%s%n%s000.png"))) << output;

    // A header claiming 60000 x 60000 pixels is refused with a message, not an abort.
    std::ofstream(folder.file("huge.png"), std::ios::binary) << NovaroTest::pngHeader(60000, 60000);
    EXPECT_EQ(
        runTool(folder, "novaro-track", {"--camera", camera, "--input", folder.file("huge.png")}, output), 1)
        << output;
    EXPECT_NE(output.find("60000x60000"), std::string::npos) << output;

    // The sheets come out as PDF files only; a board or a marker that does not fit is refused.
    const std::string pattern = folder.file("one.patt");
    ASSERT_TRUE(Novaro::makeDistinctPatterns(1, 3)[0].save(pattern));
    const struct
    {
        std::vector<std::string> arguments;
        const char* sheet; // written when the tool succeeds, never when it fails
        int status;
        const char* said;
    } cases[] = {
        {{"--chessboard"}, "board.pdf", 0, ""},
        {{"--chessboard"}, "board.png", 1, ""},
        {{"--chessboard", "--square", "40"}, "big.pdf", 1, "does not fit on an A4 page"},
        {{"--marker-from-patt", pattern, "--marker-from-patt", pattern, "--size", "60"}, "sheet.pdf", 0, ""},
        {{"--marker-from-patt", pattern, "--size", "300"},
         "huge.pdf",
         1,
         "one: a size of 300 mm does not fit on an A4 page"},
    };
    for (const auto& each : cases)
    {
        SCOPED_TRACE(each.sheet);
        std::vector<std::string> arguments = each.arguments;
        arguments.insert(arguments.end(), {"--output", folder.file(each.sheet)});
        EXPECT_EQ(runTool(folder, "novaro-marker", arguments, output), each.status) << output;
        EXPECT_NE(output.find(each.said), std::string::npos) << output;
        EXPECT_EQ(std::filesystem::is_regular_file(folder.file(each.sheet)), each.status == 0);
    }
    EXPECT_EQ(NovaroTest::readFile(folder.file("board.pdf")).substr(0, 5), "%PDF-");
}
