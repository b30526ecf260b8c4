// Timed head-up displays: a new text restarts the display time, and each timed panel hides on its own.
#include "HUDTestSupport.h"

#include "effects/ARTimerEventsHandler.h"

#include <gtest/gtest.h>

using namespace Novaro;
using NovaroTest::HUDTest;

TEST_F(HUDTest, ANewTextKeepsATimedHUDUpForItsFullDisplayTime)
{
    const int id = huds.addText("A", 0);
    huds.setTimed(id, true);
    huds.setDisplayTime(id, 3.0);
    huds.show(id);
    HUD* hud = huds.getHUD(id);
    EXPECT_TRUE(shownAt(id, 0.0));

    EXPECT_TRUE(shownAt(id, 2.0));
    huds.setText(id, "B");
    huds.show(id);

    // Past the end of "A"'s three seconds, but within those of "B".
    EXPECT_TRUE(shownAt(id, 3.5));
    EXPECT_TRUE(shownAt(id, 4.9));

    EXPECT_FALSE(shownAt(id, 5.1));
    EXPECT_EQ(nullptr, hud->getTimerHandler()->getHUD());
}

TEST_F(HUDTest, TimedHUDsHideIndependentlyAndUntimedOnesStay)
{
    const int quick = huds.addText("quick", 0);
    const int slow = huds.addText("slow", 2);
    const int steady = huds.addText("steady", 7);
    huds.setTimed(quick, true);
    huds.setDisplayTime(quick, 1.0);
    huds.setTimed(slow, true);
    huds.show(quick);
    huds.show(slow);
    huds.show(steady);
    settleAt(0.0);

    // The slow HUD's handler sees the quick one's user events too and must leave them alone.
    EXPECT_FALSE(shownAt(quick, 1.5));
    EXPECT_TRUE(huds.getHUD(slow)->isShown());
    EXPECT_TRUE(huds.getHUD(steady)->isShown());

    EXPECT_FALSE(shownAt(slow, 3.5));
    EXPECT_TRUE(huds.getHUD(steady)->isShown());

    // A hidden timed HUD shown again counts from the new moment with its existing handler.
    ARTimerEventsHandler* handler = huds.getHUD(quick)->getTimerHandler();
    huds.show(quick);
    EXPECT_EQ(handler, huds.getHUD(quick)->getTimerHandler());
    EXPECT_TRUE(shownAt(quick, 4.3));
    EXPECT_FALSE(shownAt(quick, 4.6));

    // As in the player, the viewer goes first and the HUD list after it.
    viewer = nullptr;
}
