// The tracking tools as a user runs them: file names built from user text, and hostile inputs; and
// novaro-calibrate on chessboard views rendered through a camera whose intrinsics and lens
// distortion are known, the camera files it writes reading back as that camera (the tracker reads
// them through the same loader).
#include <osgART/CameraParameters.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>

#include "PlayerProcess.h"
#include "SyntheticScene.h"
#include "TestSupport.h"

using namespace Novaro;

namespace
{

// Runs a tool of the run directory from the folder as a user does: its exit status (-1 after a crash)
// and, in output, what it printed.
int runTool(const NovaroTest::TemporaryFolder& folder, const std::string& tool,
            const std::vector<std::string>& arguments, std::string& output)
{
    const NovaroTest::PlayerRun run =
        NovaroTest::runExecutable(std::string(NOVARO_RUN_DIR) + "/" + tool, folder.path(), arguments);
    output = run.output;
    return run.status;
}

// A webcam-like lens with visible barrel distortion and a principal point off the centre.
osgART::CameraParameters knownCamera()
{
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(640, 480, 610.0, 606.0, 327.5, 234.0);
    camera.setBrownDistortion(-0.21, 0.08, 0.0007, -0.0004, 610.0, 606.0, 327.5, 234.0, 1.0);
    return camera;
}

// A sheet of 10 x 7 squares (9 x 6 inner corners) of 60 texels, on white paper making it square.
PrintedMarker chessboardSheet()
{
    cv::Mat texture(720, 720, CV_8UC3, cv::Scalar::all(255));
    for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 10; ++column)
            if ((row + column) % 2 == 0)
                texture(cv::Rect(60 + column * 60, 150 + row * 60, 60, 60)).setTo(cv::Scalar::all(0));
    PrintedMarker sheet;
    sheet.texture = texture;
    sheet.size = 240.0; // the whole sheet: a square is 20 units
    sheet.margin = 0.0;
    return sheet;
}

} // namespace

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

TEST(Calibration, RecoversAKnownCameraInBothFiles)
{
    NovaroTest::TemporaryFolder folder;
    const osgART::CameraParameters truth = knownCamera();
    ImagingSettings imaging;
    imaging.clutter = false;
    imaging.noiseSigma = 1.0;
    SyntheticCamera synthetic(truth, imaging);
    const std::vector<PrintedMarker> sheets = {chessboardSheet()};
    std::mt19937 random(3);
    for (int view = 0; view < 14; ++view)
    {
        const std::vector<PlacedMarker> placed = synthetic.placeMarkers(sheets, 1, 300, 460, 50, random);
        ASSERT_EQ(placed.size(), 1u);
        cv::Mat frame;
        synthetic.render(sheets, placed, random, frame);
        ASSERT_TRUE(cv::imwrite(folder.file("view" + std::to_string(100 + view) + ".png"), frame));
    }
    const std::string output = folder.file("webcam");
    std::string said;
    ASSERT_EQ(runTool(folder, "novaro-calibrate",
                      {"--images", folder.path(), "--board", "9x6", "--square", "20", "--output", output},
                      said),
              0)
        << said;

    // Both files, as the tracker reads them, hold the camera the views were made with.
    EXPECT_EQ(std::filesystem::file_size(output + ".dat"), 176u);
    for (const char* extension : {".dat", ".yml"})
    {
        osgART::CameraParameters calibrated;
        std::string error;
        ASSERT_TRUE(calibrated.load(output + extension, &error)) << extension << ": " << error;
        EXPECT_NEAR(calibrated.fx(), truth.fx(), 0.005 * truth.fx()) << extension;
        EXPECT_NEAR(calibrated.fy(), truth.fy(), 0.005 * truth.fy()) << extension;
        EXPECT_NEAR(calibrated.cx(), truth.cx(), 2.0) << extension;
        EXPECT_NEAR(calibrated.cy(), truth.cy(), 2.0) << extension;
        // The lens: a point near the corner lands where the true lens puts it.
        const osg::Vec2d corner(20.0, 15.0);
        EXPECT_LT((calibrated.observedToIdeal(corner) - truth.observedToIdeal(corner)).length(), 2.0)
            << extension;
    }
}
