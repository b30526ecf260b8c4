// The player and the X display it draws on.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace NovaroTest;

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
