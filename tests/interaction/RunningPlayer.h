#pragma once

// The sample scene set up as the player runs it (event handlers, scene objects, status panel,
// rendering pipeline, a realized window), with the frame loop in the test's hands: events go into
// the viewer's queue and reach the handlers on the next frame.
//
// The set-up costs more than most tests (models, tracker, window, shader compilation), so one
// running application serves every test of a suite: a suite puts back what its tests change in
// restore(), run before each test. After a test that failed, or that changed what cannot be put
// back (restorable() false), the next test gets a fresh application.

#include "../rendering/SampleApplication.h"

#include "app/ARApplication.h"
#include "effects/HUD.h"
#include "settings/ConfigurationData.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <osg/DisplaySettings>

namespace NovaroTest
{

class RunningPlayer : public ::testing::Test
{
protected:
    RunningPlayer() : application(session().application) {}

    static void TearDownTestSuite() { _session.reset(); }

    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        if (!_session->started)
        {
            _session->started = true;
            _session->spoiled = true; // until the set-up is through
            ASSERT_NO_FATAL_FAILURE(start());
            viewer = application.getViewer();
            remember();
            _session->spoiled = false;
        }
        viewer = application.getViewer();
        restore();
    }
    void TearDown() override
    {
        if (HasFailure() || (_session->started && !restorable()))
            _session->spoiled = true;
    }

    // Notes the freshly set-up application's state that restore() puts back before each test.
    virtual void remember() {}
    virtual void restore() {}
    // False when a test changed what restore() cannot put back: the next test gets a fresh
    // application.
    virtual bool restorable() { return true; }
    // Keeps an object a test hands the application (which holds plain pointers to its scene
    // objects) alive as long as the application.
    template <class Object> Object* keep(Object* object)
    {
        _session->kept.push_back(object);
        return object;
    }

    osgGA::EventQueue& events() { return *viewer->getEventQueue(); }
    // A key pressed and released, handled by the next frame; the status text then shown.
    std::string tap(int key)
    {
        events().keyPress(key);
        events().keyRelease(key);
        viewer->frame();
        return status();
    }
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
        Novaro::HUD* hud = application.getHUD().getHUD(_session->statusId);
        return hud ? hud->getTextPanel()->getText() : std::string("(no status panel)");
    }

    Novaro::ARApplication& application;
    Novaro::ARViewer* viewer = nullptr;

private:
    // One application, and the multisampling setting its set-up may change, put back at its end.
    struct Session
    {
        ~Session() { osg::DisplaySettings::instance()->setNumMultiSamples(previousSamples); }
        std::vector<osg::ref_ptr<osg::Referenced>> kept; // outlives the application
        Novaro::ARApplication application;
        unsigned int previousSamples = osg::DisplaySettings::instance()->getNumMultiSamples();
        int statusId = -1;
        bool started = false, spoiled = false;
    };

    static Session& session()
    {
        if (_session && _session->spoiled)
            _session.reset();
        if (!_session)
            _session = std::make_unique<Session>();
        return *_session;
    }

    void start()
    {
        enterRunDirectory();
        ASSERT_TRUE(loadSampleSettings(application, samplesDirectory()));
        // Multisampling would quadruple the software renderer's work on every frame; no test here
        // looks at edges.
        application.getConfiguration()->setUseAntialiasing(false);
        ASSERT_TRUE(initWithRecordedCamera(application));
        application.initEventHandlers();
        application.loadSceneObjects();
        application.showStatusMessage("Starting...");
        _session->statusId = static_cast<int>(application.getHUD().getNumHUDs()) - 1;
        application.getViewer()->setSceneData(application.getRoot());
        application.initLighting();
        application.createRenderingPipeline();
        application.getViewer()->realize();
        application.getViewer()->frame();
    }

    static inline std::unique_ptr<Session> _session;
};

} // namespace NovaroTest
