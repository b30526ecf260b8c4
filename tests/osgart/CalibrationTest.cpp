// novaro-calibrate as a user runs it, on chessboard views rendered through a camera whose
// intrinsics and lens distortion are known; the camera files it writes read back as that camera
// (the tracker reads them through the same loader).
#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>

using namespace Novaro;
using NovaroTest::runTool;

namespace
{

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
