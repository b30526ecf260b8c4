// The player as a user runs it: the real executable in a real window (under the test run's
// virtual X server), the sample scene, a camera recorded by the synthetic camera with known marker
// poses, and the screenshot it writes at the end; with a display or a camera it cannot use, and
// checking a scene instead of playing it.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

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

namespace
{

// A display name no X server answers on, among the high numbers no user's session has.
std::string absentDisplay()
{
    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    std::string found;
    for (int number = 901; number < 1000 && found.empty(); ++number)
    {
        const std::string name = ":" + std::to_string(number);
        setenv("DISPLAY", name.c_str(), 1);
        if (!missingDisplayReason().empty())
            found = name;
    }
    if (saved)
        setenv("DISPLAY", previous.c_str(), 1);
    else
        unsetenv("DISPLAY");
    return found;
}

} // namespace

// Without a display nothing could be seen: the player says so once, naming the display, and
// fails instead of playing to no window (it used to go on, say "windows empty" and exit 0).
TEST(PlayerDisplay, NoDisplayIsSaidOnceAndFailsTheRun)
{
    SampleScene scene;
    const std::string absent = absentDisplay();
    ASSERT_FALSE(absent.empty());
    PlayerRun run = scene.play({"-max_frames", "3"}, {"DISPLAY=" + absent});
    EXPECT_NE(0, run.status);
    EXPECT_EQ(1, countLinesHolding(run.output, "ERROR: cannot connect to the X display " + absent));
    EXPECT_EQ(0, countLinesHolding(run.output, "windows empty"));
}

// The player run with a camera it cannot use: it says so once on the console, keeps running, and
// shows the reason over a dark picture rather than a blank window.
TEST(CameraErrors, AnUnreadableVideoFileIsReportedTheDrawingGoesOnAndAnUnwritableScreenshotFailsTheRun)
{
    NOVARO_REQUIRE_DISPLAY();
    TemporaryFolder folder;
    const std::string movie = folder.file("camera.mp4");
    std::ofstream(movie) << "these bytes are no movie"; // FFmpeg guesses a container and complains
    PlayerRun run = runPlayer(NOVARO_RUN_DIR, {"-working_directory", SAMPLES, "-temporary_directory", SAMPLES,
                                               "-video_file", movie, "-max_frames", "5", "-frame_time", "0.1",
                                               "-screenshot", folder.file("shot.png")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(countLinesHolding(run.output, "ERROR: no camera image: video file " + movie + ": "), 1);
    EXPECT_EQ(countLinesHolding(run.output, "ERROR: no camera image"), 1);
    EXPECT_EQ(countLinesHolding(run.output, "@ 0x"), 0); // none of FFmpeg's own lines

    osg::ref_ptr<osg::Image> shot = osgDB::readImageFile(folder.file("shot.png"));
    ASSERT_TRUE(shot.valid());
    // The middle is the dark placeholder, and the status text at the top left is written in white
    // (its display time counted in frames: on a loaded machine a few slow frames outlast it).
    const unsigned char* middle = shot->data(shot->s() / 2, shot->t() / 2);
    EXPECT_LT(middle[0], 80);
    int brightTextPixels = 0;
    for (int y = shot->t() - 50; y < shot->t(); ++y)
        for (int x = 0; x < shot->s() / 2; ++x)
            brightTextPixels += shot->data(x, y)[0] > 200 ? 1 : 0;
    EXPECT_GT(brightTextPixels, 100);

    // A screenshot that cannot be written fails the run and says why: a disk that is always full,
    // under a name with the picture's extension.
    const std::string full = folder.file("full.png");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    PlayerRun unwritten = runPlayer(NOVARO_RUN_DIR, {"-working_directory", SAMPLES, "-temporary_directory",
                                                     SAMPLES, "-video_file", SAMPLES + "/recorded/camera.mp4",
                                                     "-max_frames", "2", "-screenshot", full});
    EXPECT_EQ(unwritten.status, 255);
    EXPECT_TRUE(
        unwritten.printed(" ERROR: could not write screenshot " + full + ": No space left on device."));
    // The device stays what it was.
    struct stat status;
    ASSERT_EQ(stat("/dev/full", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// "novaro -check" and "novaro-scene check" as a user runs them on a copy of the sample scene: clean
// as it comes, and with a misspelt attribute.
TEST(SceneCheckEndToEnd, PlayerAndToolAgreeOnACleanSceneAndOnATypo)
{
    TemporaryFolder copy;
    const std::string scene = copy.file("scene");
    std::filesystem::copy(std::string(NOVARO_SOURCE_DIR) + "/samples", scene,
                          std::filesystem::copy_options::recursive);
    const std::string tool = std::string(NOVARO_RUN_DIR) + "/novaro-scene";

    // From another folder than the run directory: the plugins are found beside the executables.
    const PlayerRun clean = runPlayer(copy.path(), {"-check", scene});
    EXPECT_EQ(0, clean.status);
    EXPECT_EQ("", clean.output);
    const PlayerRun cleanTool = runExecutable(tool, copy.path(), {"check", "scene/model.dat"});
    EXPECT_EQ(0, cleanTool.status);
    EXPECT_EQ("", cleanTool.output);
    // The archive unpacked to read the house is gone again.
    EXPECT_FALSE(std::filesystem::exists(scene + "/models/house_kmz.tmp"));

    // The scene file's first `source=` misspelt, on this line.
    const std::string text = replaceInFile(scene + "/scene.xml", "<model source=", "<model sorce=");
    const auto line = 1 + std::count(text.begin(), text.begin() + long(text.find("<model sorce=")), '\n');
    const std::regex expected(std::regex_replace(scene, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                              "/scene.xml:" + std::to_string(line) +
                              ":[0-9]+: unknown attribute sorce of <model> \\(did you mean source\\?\\)\n");
    const PlayerRun typo = runPlayer(copy.path(), {"-check", scene});
    EXPECT_EQ(1, typo.status);
    EXPECT_TRUE(std::regex_search(typo.output, expected));
    const PlayerRun typoTool = runExecutable(tool, copy.path(), {"check", scene});
    EXPECT_EQ(1, typoTool.status);
    EXPECT_EQ(typo.output, typoTool.output);

    // A command line the tool does not understand is neither a clean nor a broken scene.
    EXPECT_EQ(2, runExecutable(tool, copy.path(), {"check"}).status);
}
