#pragma once

#include "ARTimerEventsHandler.h"
#include "HUDList.h"

#include <gtest/gtest.h>
#include <osg/Notify>
#include <osgViewer/Viewer>

#include <sstream>
#include <string>
#include <unistd.h>

namespace NovaroTest
{

// Collects every console line so that tests can check the exact messages.
class CapturedConsole : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity, const char* message) override { text += message; }

    bool hasLine(const std::string& line) const
    {
        std::istringstream lines(text);
        for (std::string current; std::getline(lines, current);)
            if (current == line)
                return true;
        return false;
    }

    std::string text;
};

// A small real window with a HUD list on it; the run directory is the current directory so that
// the HUD font "data/arial.ttf" is found as in the player.
class HUDTest : public ::testing::Test
{
protected:
    static constexpr int WindowWidth = 320;
    static constexpr int WindowHeight = 240;

    void SetUp() override
    {
        ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
        _previousHandler = osg::getNotifyHandler();
        console = new CapturedConsole;
        osg::setNotifyHandler(console.get());
        const osg::Timer_t start = osg::Timer::instance()->tick();
        Novaro::ARTimerEventsHandler::setTickSource(
            [this, start] {
                return start +
                       static_cast<osg::Timer_t>(seconds / osg::Timer::instance()->getSecondsPerTick());
            });

        // The virtual X server resets whenever its last client leaves (as the previous test's
        // window just did) and refuses connections meanwhile: try again for a few seconds.
        for (int attempt = 0; attempt < 50; ++attempt)
        {
            if (attempt > 0)
                usleep(100000);
            viewer = new osgViewer::Viewer;
            viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
            viewer->setUpViewInWindow(40, 40, WindowWidth, WindowHeight);
            if (Novaro::HUD::firstWindow(viewer.get()) != nullptr)
                break;
        }
        ASSERT_NE(nullptr, Novaro::HUD::firstWindow(viewer.get()))
            << "no X display: run the tests under xvfb-run\n"
            << console->text;
        console->text.clear();
        viewer->getCamera()->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
        viewer->setSceneData(new osg::Group);
        huds.setViewer(viewer.get());
    }

    void TearDown() override
    {
        Novaro::ARTimerEventsHandler::setTickSource(nullptr);
        osg::setNotifyHandler(_previousHandler.get());
    }

    void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            viewer->frame();
    }

    // Time seen by the HUD timers, in seconds since the test started.
    double seconds = 0.0;
    osg::ref_ptr<CapturedConsole> console;
    osg::ref_ptr<osgViewer::Viewer> viewer;
    Novaro::HUDList huds;

private:
    osg::ref_ptr<osg::NotifyHandler> _previousHandler;
};

} // namespace NovaroTest
