#pragma once

// The head-up display tests' window fixture.

#include "effects/HUDList.h"
#include "scene/SceneClock.h"

#include "Display.h"
#include "NotifyCapture.h"

#include <gtest/gtest.h>
#include <osgViewer/Viewer>

#include <unistd.h>

namespace NovaroTest
{

// A small real window with a HUD list on it; the run directory is the current directory so that
// the HUD font "data/arial.ttf" is found as in the player.
class HUDTest : public ::testing::Test
{
protected:
    static constexpr int WindowWidth = 320;
    static constexpr int WindowHeight = 240;

    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
        const osg::Timer_t start = osg::Timer::instance()->tick();
        Novaro::SceneClock::setTickSource(
            [this, start] {
                return start +
                       static_cast<osg::Timer_t>(seconds / osg::Timer::instance()->getSecondsPerTick());
            });
        viewer = new osgViewer::Viewer;
        viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
        viewer->setUpViewInWindow(40, 40, WindowWidth, WindowHeight);
        ASSERT_NE(nullptr, Novaro::HUD::firstWindow(viewer.get()));
        console.clear();
        viewer->getCamera()->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
        viewer->setSceneData(new osg::Group);
        huds.setViewer(viewer.get());
    }

    void TearDown() override { Novaro::SceneClock::setTickSource(nullptr); }

    void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            viewer->frame();
    }
    // Sets the HUD timers' clock and runs a few frames: hiding goes through a user event that
    // comes back on the next frame.
    void settleAt(double time)
    {
        seconds = time;
        frames(3);
    }
    // Whether the HUD is shown once settled at that time.
    bool shownAt(int id, double time)
    {
        settleAt(time);
        return huds.getHUD(id)->isShown();
    }

    // Time seen by the HUD timers, in seconds since the test started.
    double seconds = 0.0;
    NotifyCapture console;
    osg::ref_ptr<osgViewer::Viewer> viewer;
    Novaro::HUDList huds;
};

} // namespace NovaroTest
