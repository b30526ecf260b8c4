#pragma once

// The sample scene set up as the player runs it (event handlers, scene objects, status panel,
// rendering pipeline, a realized window), with the frame loop in the test's hands: events go into
// the viewer's queue and reach the handlers on the next frame. Each test gets an application of its
// own (about a second's set-up under the software renderer), so none starts on another's changes.

#include "../rendering/SampleApplication.h"

#include "app/ARApplication.h"
#include "effects/HUD.h"
#include "settings/ConfigurationData.h"

#include <vector>

#include <gtest/gtest.h>
#include <osg/DisplaySettings>

namespace NovaroTest
{

class RunningPlayer : public ::testing::Test
{
private:
    // The multisampling setting the set-up may change, put back after the test.
    unsigned int _previousSamples = osg::DisplaySettings::instance()->getNumMultiSamples();
    std::vector<osg::ref_ptr<osg::Referenced>> _kept; // outlives the application
    int _statusId = -1;

protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        enterRunDirectory();
        ASSERT_TRUE(loadSampleSettings(application, samplesDirectory()));
        // Multisampling would quadruple the software renderer's work on every frame; no test here
        // looks at edges.
        application.getConfiguration()->setUseAntialiasing(false);
        ASSERT_TRUE(initWithRecordedCamera(application));
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
    void TearDown() override { osg::DisplaySettings::instance()->setNumMultiSamples(_previousSamples); }

    // Keeps an object a test hands the application (which holds plain pointers to its scene
    // objects) alive as long as the application.
    template <class Object> Object* keep(Object* object)
    {
        _kept.push_back(object);
        return object;
    }
    osgGA::EventQueue& events() { return *viewer->getEventQueue(); }
    // A key pressed and released, handled by the next frame; the status text then shown.
    std::string tap(int key) { return hold(key, 1); }
    // A chord as an X server delivers it when the modifier (MODKEY_CTRL, MODKEY_ALT, MODKEY_SHIFT)
    // is let go first: the press carries the modifier and the character typed (a control character
    // under CTRL, the shifted character under Shift), the release neither. Returns the status text.
    std::string tapWith(int modifierMask, int key, int typed)
    {
        osgGA::GUIEventAdapter& state = *events().getCurrentEventState();
        const int before = state.getModKeyMask();
        state.setModKeyMask(modifierMask);
        events().keyPress(typed, events().getTime(), key);
        state.setModKeyMask(before);
        events().keyRelease(key, events().getTime(), key);
        viewer->frame();
        return status();
    }
    std::string tapWith(int modifierMask, int key) { return tapWith(modifierMask, key, key); }
    // A key held: 'repeats' key-down events, then the release; the status text then shown.
    std::string hold(int key, int repeats)
    {
        for (int repeat = 0; repeat < repeats; ++repeat)
            events().keyPress(key);
        events().keyRelease(key);
        viewer->frame();
        return status();
    }
    std::string status()
    {
        Novaro::HUD* hud = application.getHUD().getHUD(_statusId);
        return hud ? hud->getTextPanel()->getText() : std::string("(no status panel)");
    }

    Novaro::ARApplication application;
    Novaro::ARViewer* viewer = nullptr;
};

} // namespace NovaroTest
