// The player run with a camera it cannot use, and with a screenshot it cannot write.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <osg/Image>
#include <osgDB/ReadFile>

#include <fstream>
#include <string>

using namespace NovaroTest;

// It says so once on the console, keeps running, and shows the reason over a dark picture rather
// than a blank window.
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
