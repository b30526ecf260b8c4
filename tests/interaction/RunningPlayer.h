#pragma once

// The interaction tests' fixtures: a running player, and content with animations of both kinds.

#include "../rendering/SampleApplication.h"

#include "app/ARApplication.h"
#include "app/ARViewer.h"
#include "effects/HUD.h"
#include "effects/TextPanel.h"

#include <string>

#include <gtest/gtest.h>
#include <osg/AnimationPath>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osgAnimation/Animation>
#include <osgAnimation/BasicAnimationManager>

namespace NovaroTest
{

// The sample scene set up as the player runs it (event handlers, scene objects, status panel,
// rendering pipeline, a realized window), with the frame loop in the test's hands: events go into
// the viewer's queue and reach the handlers on the next frame. Each test gets an application of its
// own (about a second's set-up under the software renderer), so none starts on another's changes.
class RunningPlayer : public SampleApplicationTest
{
private:
    int _statusId = -1;

protected:
    void SetUp() override
    {
        SampleApplicationTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
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

    Novaro::ARViewer* viewer = nullptr;
};

// Content: a group holding "arm", which a path animation moves from z 0 to z 4 in 2 seconds, and
// deeper down a node with an animation manager holding "walk" and "wave".
struct AnimatedContent
{
    AnimatedContent()
    {
        osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
        path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
        path->insert(2.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 4)));
        arm->setName("arm");
        arm->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
        root->addChild(arm.get());

        osg::ref_ptr<osgAnimation::BasicAnimationManager> manager = new osgAnimation::BasicAnimationManager;
        for (const char* name : {"walk", "wave"})
        {
            osg::ref_ptr<osgAnimation::Animation> animation = new osgAnimation::Animation;
            animation->setName(name);
            animation->setDuration(1.0);
            manager->registerAnimation(animation.get());
        }
        skeletonHolder->setUpdateCallback(manager.get());
        osg::ref_ptr<osg::Group> inner = new osg::Group;
        inner->addChild(skeletonHolder.get());
        root->addChild(inner.get());
    }

    double armHeight() const { return arm->getMatrix().getTrans().z(); }

    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::ref_ptr<osg::MatrixTransform> arm = new osg::MatrixTransform;
    osg::ref_ptr<osg::Group> skeletonHolder = new osg::Group;
};

} // namespace NovaroTest
