// The running player driven by real X events (xdotool) on an X server of its own: key chords, a
// mode switch shown on screen, a click on the sample cube running its actions, a click on bare
// video and a drag running none, and Escape ending the loop with its clean-up. The driver waits
// for what the player prints, never for a time: X delivers the events in order, so what follows a
// command is handled after it. (The long press that ends the loop is timed with the mouse
// handler's own clock in the mouse picking tests.)
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace NovaroTest;

namespace
{

bool hasTool(const std::string& name)
{
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

// Starts the player on its own virtual X server, waits for its window and for the cube's marker
// to be found (the chime on it starts), then runs the xdotool commands; $window names the
// window, and the shell functions at_camera X Y (moves the pointer there) and printed TEXT [N]
// (waits until the player has printed N lines, default 1, holding TEXT) help. The frame that
// takes the closing Escape hands no event to the player's handlers, so the commands end by
// waiting for the effect of their last event. Returns the player's run once it has
// ended.
PlayerRun playWith(const SampleScene& scene, const std::string& commands)
{
    const std::string output = scene.directory().file("output.txt");
    std::ostringstream text;
    text << "cd " << quote(RUN_DIRECTORY) << "\n"
         << "./novaro -working_directory " << quote(scene.directory().path()) << " -temporary_directory "
         << quote(scene.directory().path()) << " -video_file " << quote(scene.frame()) << " -screenshot "
         << quote(scene.directory().file("shot.png")) << " -frame_time 0.1 -verbose > " << quote(output)
         << " 2>&1 &\n"
         << "player=$!\n"
         << "printed() { for i in $(seq 600); do [ $(grep -c -- \"$1\" " << quote(output)
         << ") -ge ${2:-1} ] && return 0; kill -0 $player 2> /dev/null || return 1; sleep 0.1; done; "
            "return 1; }\n"
         << "window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Novaro' | head -1)\n"
         << "eval $(xdotool getwindowgeometry --shell \"$window\")\n"
         // Camera pixels (640x480, rows from the top) to the window's pixels: the video fills it.
         << "at_camera() { xdotool mousemove --window \"$window\" $(awk -v x=\"$1\" -v y=\"$2\" "
            "-v w=\"$WIDTH\" -v h=\"$HEIGHT\" 'BEGIN { printf \"%d %d\", x * w / 640, y * h / 480 }'); }\n"
         << "printed 'chime.wav> PLAY' || echo 'the marker was never found'\n"
         << commands << "\n"
         << "xdotool windowfocus --sync \"$window\" key Escape\n"
         // A guard against a player that never ends, cancelled when it does.
         << "( sleep 60; kill $player 2> /dev/null ) &\n"
         << "guard=$!\n"
         << "wait $player\n"
         << "echo $? > " << quote(scene.directory().file("status.txt")) << "\n"
         << "kill $guard 2> /dev/null\n";
    const std::string script = scene.directory().write("drive.sh", text.str());
    const std::string command =
        std::string(NOVARO_SOURCE_DIR) +
        "/scripts/with-private-x.sh -screen 0 1024x768x24 +extension GLX -noreset -- sh " + quote(script) +
        " > " + quote(scene.directory().file("drive.log")) + " 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << readFile(scene.directory().file("drive.log"));
    return PlayerRun(std::atoi(readFile(scene.directory().file("status.txt")).c_str()),
                     readFile(scene.directory().file("output.txt")));
}

} // namespace

// One run of the player takes, in order: X's chords after the lighting mode's key (X delivers
// CTRL+2 as NUL, and xdotool lets the modifier go before the key, as hurried hands do; both must
// still reach the lighting mode), clicks on the cube running its actions, a click on bare video and
// a drag running none, and a function key whose mode name shows on screen. A click on the cube
// after each key shows the key was handled; a click changes no status text.
TEST(InteractionEndToEnd, ChordsClicksAndAFunctionKeyReachTheRunningPlayer)
{
    if (!hasTool("xdotool") || !hasTool("Xvfb"))
        GTEST_SKIP() << "xdotool and Xvfb drive the player";
    // Only marker 1 (the cube's), facing the camera, so that nothing else can be under the pointer.
    SampleScene scene(
        "--pattern patterns/marker_1.patt --markers 1 --size 80 --min-width 120 --max-width 160 "
        "--max-tilt 5 --seed 5",
        1);
    // Halfway from the marker's centre to a corner: on the cube's top at any turn of its spin, and
    // clear of the arrow that stands on its middle.
    const osg::Vec2d centre = scene.markers()[0].centre();
    const osg::Vec2d onCube = (centre + scene.markers()[0].corners[0]) * 0.5;
    std::ostringstream atCube;
    atCube << "at_camera " << onCube.x() << " " << onCube.y() << "; ";
    PlayerRun run =
        playWith(scene, "xdotool windowfocus --sync \"$window\" key F8 alt+2 ctrl+2\n"
                        "printed AR_SOFT_SHADOW_MAP\n" +
                            atCube.str() + "xdotool click 1\nprinted 'TOGGLE PAUSE'\n" +
                            "at_camera 20 460; xdotool click 1\n" +
                            // A drag that starts and ends on the cube is no click.
                            atCube.str() + "xdotool mousedown 1 mousemove_relative 3 0 mouseup 1\n" +
                            atCube.str() + "xdotool click 1\nprinted 'TOGGLE PAUSE' 2\n" +
                            "xdotool windowfocus --sync \"$window\" key F3\n" + atCube.str() +
                            "xdotool click 1\nprinted 'TOGGLE PAUSE' 3\n");

    EXPECT_EQ(0, run.status);
    EXPECT_TRUE(run.printed("WARNING: shadow mode: MODE_DEFERRED"));
    EXPECT_TRUE(run.printed("DEBUG: setting shadow technique: AR_SOFT_SHADOW_MAP"));
    // The cube's left-click actions: the chroma-keyed movie toggles, the walker's animation too;
    // neither the click on video nor the drag.
    EXPECT_EQ(3, countLinesHolding(run.output, "> TOGGLE PAUSE"));
    EXPECT_TRUE(run.printed(" Screenshot written: " + scene.directory().file("shot.png")));
    EXPECT_TRUE(run.printed(" Starting...done."));
    EXPECT_LT(run.output.find(" Screenshot written:"), run.output.find(" Starting...done."));
    // The first frame compiled the objects and the caching callback took itself off the camera;
    // after Escape, the clean-up removed the unpacked archive folder, which was never in the scene.
    for (const char* line : {" Scene compiled!", " Removing preRenderCallBack (pre).",
                             " Removing preRenderCallBack (post).", "Temporary data removed (dirs)."})
        EXPECT_TRUE(run.printed(line)) << line;
    EXPECT_FALSE(std::filesystem::exists(scene.directory().file("models/house_kmz.tmp")));

    // F3's mode name in the top-left status panel, longer than "Starting..." would be.
    osg::ref_ptr<osg::Image> shot = scene.screenshot(), frame = scene.cameraFrame();
    ASSERT_TRUE(shot.valid() && frame.valid());
    EXPECT_GT(drawnOver(*shot, *frame, 160, 12, 100, 18, 60) * 4, 100 * 18)
        << "the status panel should cover the top left";
}
