// The player as a user runs it: a real window, the sample scene, a recorded camera, its screenshot.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace NovaroTest;

// Scene time follows the frames (0.1 s each), so the 3-second status text is there after frame 3
// and gone after frame 35 however long the start took; the scene's 7-second message stays.
TEST(PlayerEndToEnd, VideoFillsTheWindowUprightWithTheModelsOnTheirMarkersAndTheTextsOverIt)
{
    NOVARO_REQUIRE_DISPLAY();
    SampleScene scene;
    PlayerRun run =
        scene.play({"-max_frames", "35", "-frame_time", "0.1", "-frame_stats", "-screenshot_frame", "3"});
    ASSERT_EQ(0, run.status);
    osg::ref_ptr<osg::Image> early = scene.screenshot(3), shot = scene.screenshot(),
                             frame = scene.cameraFrame();
    ASSERT_TRUE(early.valid() && shot.valid() && frame.valid());
    // "Starting..." at the top left, the scene message at the bottom centre, nothing in between.
    EXPECT_GT(drawnOver(*early, *frame, 0, 0, 120, 24), 30);
    EXPECT_GT(drawnOver(*early, *frame, early->s() / 2 - 100, early->t() - 24, 200, 24), 30);
    EXPECT_EQ(0, drawnOver(*early, *frame, early->s() - 120, 0, 120, 24));

    // Frame statistics cover every frame whole, the buffer swap on its own, and tracking only
    // on the frames that brought a new camera image (none here: the camera is a still image).
    const auto frames = [&](const std::string& stage)
    {
        std::smatch match;
        const std::regex row("\n  " + stage + " +([0-9]+) ");
        return std::regex_search(run.output, match, row) ? std::stoi(match[1]) : -1;
    };
    EXPECT_EQ(35, frames("frame")) << run.output;
    EXPECT_EQ(35, frames("swap"));
    EXPECT_EQ(0, frames("tracking"));
    // The start-up time is measured from the process start, so it can be neither zero nor longer
    // than the run itself.
    std::smatch startUp;
    ASSERT_TRUE(
        std::regex_search(run.output, startUp, std::regex(" Start-up to first frame: ([0-9]+) ms\n")));
    EXPECT_GT(std::stoi(startUp[1]), 0);
    EXPECT_LT(std::stoi(startUp[1]), 120000);

    // The window (a quarter of the screen, as the sample configuration is not full screen) shows
    // the camera frame stretched over it, upright and not mirrored.
    const double upright = backgroundDifference(*shot, *frame, scene.markers(), false, false);
    EXPECT_LT(upright, 20.0);
    EXPECT_GT(backgroundDifference(*shot, *frame, scene.markers(), false, true), 2.0 * upright + 20.0);
    EXPECT_GT(backgroundDifference(*shot, *frame, scene.markers(), true, false), 2.0 * upright + 20.0);

    EXPECT_EQ(0, drawnOver(*shot, *frame, 0, 0, 40, 24)) << "the status text has gone";
    EXPECT_GT(drawnOver(*shot, *frame, shot->s() / 2 - 100, shot->t() - 24, 200, 24), 30);

    // Registration: every marker carries its model at its centre.
    for (size_t marker = 0; marker < scene.markers().size(); ++marker)
        EXPECT_TRUE(contentOnMarker(*shot, *frame, scene.markers()[marker])) << "marker " << marker + 1;
}

// A mirrored configuration mirrors the video; a scene whose objects are on no marker of the frame
// shows the default model on every marker.
TEST(PlayerEndToEnd, MirroredVideoAndTheDefaultModelOfASceneWithoutRegisteredObjects)
{
    NOVARO_REQUIRE_DISPLAY();
    SampleScene scene;
    setConfigurationParameter(scene, "mirror", "true");
    // Only the video is compared: the first frames show it.
    ASSERT_EQ(0, scene.play({"-max_frames", "5"}).status);
    osg::ref_ptr<osg::Image> mirrored = scene.screenshot(), frame = scene.cameraFrame();
    ASSERT_TRUE(mirrored.valid() && frame.valid());
    std::vector<MarkerTruth> mirroredMarkers = scene.markers();
    for (MarkerTruth& marker : mirroredMarkers)
        for (osg::Vec2d& corner : marker.corners)
            corner.x() = frame->s() - corner.x();
    const double mirroredDifference = backgroundDifference(*mirrored, *frame, mirroredMarkers, true, false);
    EXPECT_LT(mirroredDifference, 20.0);
    EXPECT_GT(backgroundDifference(*mirrored, *frame, mirroredMarkers, false, false),
              2.0 * mirroredDifference + 20.0);

    setConfigurationParameter(scene, "mirror", "false");
    writeSceneFile(scene.directory(), objectXml("lost", "models/cube.osgb", 9));
    stillFrameWithoutSmoothing(scene);
    PlayerRun run = scene.play({"-max_frames", "5"});
    ASSERT_EQ(0, run.status);
    EXPECT_TRUE(run.printed("WARNING: Using default model."));
    osg::ref_ptr<osg::Image> shot = scene.screenshot();
    ASSERT_TRUE(shot.valid());
    for (const MarkerTruth& marker : scene.markers())
        EXPECT_TRUE(contentOnMarker(*shot, *frame, marker));
}

TEST(PlayerEndToEnd, MultiMarkerFromSubmarkersIsWrittenReadBackAndTracked)
{
    NOVARO_REQUIRE_DISPLAY();
    // Two squares on one board, 90 apart; the exporter gave their tags, patterns and a transforms
    // file with their places, but no multi-marker file: the player generates it for the tracker.
    const std::string board =
        "# the printed board\n2\n\npatterns/marker_1.patt\n60\n1 0 0 -45\n0 1 0 0\n0 0 1 0\n"
        "\npatterns/marker_2.patt\n60\n1 0 0 45\n0 1 0 0\n0 0 1 0\n";
    SampleScene scene("--board printed_board.dat --distance 450 --max-tilt 30 --seed 5", 2,
                      "printed_board.dat", board);
    const TemporaryFolder& directory = scene.directory();
    ASSERT_TRUE(writeBoardPlaces(directory));
    directory.write("markers.xml", "<markers patterns_file=\"patterns.dat\">" +
                                       boardMarkerXml("board", 1, "board_multi.dat") + "</markers>");
    writeSceneFile(directory, objectXml("cube", "models/cube.osgb"));

    stillFrameWithoutSmoothing(scene);
    PlayerRun run = scene.play({"-max_frames", "5", "-verbose"});
    ASSERT_EQ(0, run.status);
    EXPECT_TRUE(run.printed(" Adding pattern: 0 -> OK."));
    EXPECT_TRUE(run.printed("init (2nd) tracker with <1> markers."));
    // (Generated in the private folder, not in the scene: the hostile scene tests.)

    // The cube stands on the board's centre, between the two squares.
    osg::ref_ptr<osg::Image> shot = scene.screenshot(), frame = scene.cameraFrame();
    ASSERT_TRUE(shot.valid() && frame.valid());
    MarkerTruth centre;
    for (int corner = 0; corner < 4; ++corner)
        centre.corners[corner] =
            (scene.markers()[0].corners[corner] + scene.markers()[1].corners[corner]) * 0.5;
    EXPECT_TRUE(contentOnMarker(*shot, *frame, centre));
}
