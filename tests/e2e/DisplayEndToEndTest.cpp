// The player and the X server it draws on: a server that resets (or here, ends) when its last
// client leaves, as xvfb-run's and some remote desktops' do, and a display that is not there.
#include "PrivateXServer.h"
#include "SampleScene.h"

#include <gtest/gtest.h>

using namespace NovaroTest;

// The player opens and closes connections of its own on the way to its window (capability probe,
// loading window, screen queries). A server started with -terminate ends the moment it has no
// client, as a resetting server restarts then; windows asked for afterwards fail or, across a
// reset, have been seen to corrupt the heap. The player keeps the server from seeing its last
// client leave until its window is closed.
TEST(PlayerDisplay, AServerThatEndsWithItsLastClientStaysUpUntilThePlayerHasDrawn)
{
    SampleScene scene;
    PrivateXServer server({"-terminate"});
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    PlayerRun run = scene.play({"-max_frames", "3"}, {"DISPLAY=" + server.display()});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0, countLinesHolding(run.output, "windows empty"));
    EXPECT_EQ(0, countLinesHolding(run.output, "single colour"));
    osg::ref_ptr<osg::Image> shot = scene.screenshot(), frame = scene.cameraFrame();
    ASSERT_TRUE(shot.valid() && frame.valid());
    EXPECT_LT(backgroundDifference(*shot, *frame, scene.markers(), false, false), 20.0);
}

// Without a display nothing could be seen: the player says so once, naming the display, and
// fails instead of playing to no window.
TEST(PlayerDisplay, NoDisplayIsSaidOnceAndFailsTheRun)
{
    SampleScene scene;
    PrivateXServer server({"-terminate"});
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    // A display number no server has: the private one's plus a thousand.
    const std::string absent = ":" + std::to_string(std::stoi(server.display().substr(1)) + 1000);
    PlayerRun run = scene.play({"-max_frames", "3"}, {"DISPLAY=" + absent});
    EXPECT_NE(0, run.status);
    EXPECT_EQ(1, countLinesHolding(run.output, "ERROR: cannot connect to the X display " + absent));
    EXPECT_EQ(0, countLinesHolding(run.output, "windows empty"));
}
