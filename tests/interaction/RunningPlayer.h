#pragma once

// The sample scene set up as the player runs it (event handlers, scene objects, status panel,
// rendering pipeline, a realized window), with the frame loop in the test's hands: events go into
// the viewer's queue and reach the handlers on the next frame.

#include "../rendering/SampleApplication.h"

#include "app/ARApplication.h"
#include "effects/HUD.h"

#include <gtest/gtest.h>
#include <osg/DisplaySettings>

namespace NovaroTest
{

class RunningPlayer : public SampleApplicationTest
{
protected:
    void SetUp() override
    {
        SampleApplicationTest::SetUp();
        if (setUpStopped())
            return;
        application.initEventHandlers();
        application.loadSceneObjects();
        application.showStatusMessage("Starting...");
        _statusId = static_cast<int>(application.getHUD().getNumHUDs()) - 1;
        viewer = application.getViewer();
        viewer->setSceneData(application.getRoot());
        application.initLighting();
        application.createRenderingPipeline();
        viewer->realize();
        viewer->frame();
    }

    osgGA::EventQueue& events() { return *viewer->getEventQueue(); }
    // A key pressed and released, handled by the next frame.
    void tap(int key)
    {
        events().keyPress(key);
        events().keyRelease(key);
        viewer->frame();
    }
    // A chord as an X server delivers it when the modifier (MODKEY_CTRL, MODKEY_ALT, MODKEY_SHIFT)
    // is let go first: the press carries the modifier and the character typed (a control character
    // under CTRL, the shifted character under Shift), the release neither.
    void tapWith(int modifierMask, int key, int typed)
    {
        osgGA::GUIEventAdapter& state = *events().getCurrentEventState();
        const int before = state.getModKeyMask();
        state.setModKeyMask(modifierMask);
        events().keyPress(typed, events().getTime(), key);
        state.setModKeyMask(before);
        events().keyRelease(key, events().getTime(), key);
        viewer->frame();
    }
    void tapWith(int modifierMask, int key) { tapWith(modifierMask, key, key); }
    // A key held: 'repeats' key-down events, then the release.
    void hold(int key, int repeats)
    {
        for (int repeat = 0; repeat < repeats; ++repeat)
            events().keyPress(key);
        events().keyRelease(key);
        viewer->frame();
    }
    std::string status()
    {
        Novaro::HUD* hud = application.getHUD().getHUD(_statusId);
        return hud ? hud->getTextPanel()->getText() : std::string("(no status panel)");
    }

    Novaro::ARViewer* viewer = nullptr;

private:
    int _statusId = -1;
};

} // namespace NovaroTest
