// The player as a user meets it, in a running sample scene: the keyboard modes driven through the
// viewer's event queue (mode switches with their names and help panels, and every mode's keys on
// the subsystems they call), and mouse picking: pickables placed in front of the scene camera,
// clicked at the window position where they are drawn. (A click on a scene object running its
// actions, and on bare video running none: the interaction end-to-end test, with real X events.)
// Then the actions an events file names, each on what its name says, and the animations they drive:
// path animations and animation managers, paused until started, with a pause clock of their own.
#include "../rendering/SampleApplication.h"

#include "EventsFiles.h"
#include "MovieWriter.h"
#include "NotifyCapture.h"
#include "SceneGraph.h"
#include "TemporaryFolder.h"
#include "UpdateTraversal.h"
#include "VideoScreens.h"
#include "VisibleLines.h"
#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "effects/HUD.h"
#include "interaction/ARActionFactory.h"
#include "interaction/ARActions.h"
#include "interaction/ARBasicAnimationManagerPlus.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARLayersKeyboardEventsHandler.h"
#include "interaction/ARMouseEventsHandler.h"
#include "interaction/KeyboardHelp.h"
#include "scene/ARLight.h"
#include "scene/ARModel.h"
#include "scene/ARObject.h"
#include "scene/ARPickable.h"
#include "scene/ARVideo.h"
#include "scene/SceneClock.h"
#include "settings/ConfigurationData.h"
#include "settings/MarkersData.h"
#include "settings/SceneData.h"
#include "tracking/ARMarkerNode.h"

#include <osg/AnimationPath>
#include <osg/ClipNode>
#include <osg/Geode>
#include <osg/ImageStream>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgAnimation/Animation>
#include <osgText/Text>
#include <osgViewer/ViewerEventHandlers>

#include <functional>
#include <regex>
#include <set>

using namespace Novaro;
using namespace NovaroTest;
typedef osgGA::GUIEventAdapter Key;
// The event queue takes the window system's button numbers.
const int LEFT = 1, MIDDLE = 2, RIGHT = 3;

namespace
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

class KeyboardModes : public RunningPlayer
{
protected:
    AREventsHandlersManager& manager() { return *application.getEventsHandlersManager(); }
    bool installed(unsigned int mode)
    {
        return application.getCurrentKeyboardHandler() == application.getKeyboardHandler(mode);
    }
};

// The layers mode's handler with its key hook in reach.
struct LayerKeys : Novaro::ARLayersKeyboardEventsHandler
{
    using ARLayersKeyboardEventsHandler::ARLayersKeyboardEventsHandler;
    using ARLayersKeyboardEventsHandler::keyReleased;
};

// Records which hooks the handler called, in order.
class RecordingPickable : public ARPickable
{
public:
    explicit RecordingPickable(const std::string& name, std::vector<std::string>& log) : _log(log)
    {
        setName(name);
    }
    void onLeftMouseClick() override { _log.push_back(getName() + " left"); }
    void onRightMouseClick() override { _log.push_back(getName() + " right"); }
    void onLeftMouseDoubleClick() override { _log.push_back(getName() + " left double"); }
    void onRightMouseDoubleClick() override { _log.push_back(getName() + " right double"); }
    void onMouseIn() override { _log.push_back(getName() + " in"); }
    void onMouseOut() override { _log.push_back(getName() + " out"); }

private:
    std::vector<std::string>& _log;
};

typedef std::vector<std::string> Log;

class MousePicking : public RunningPlayer
{
protected:
    // The sample's own models are hidden: as the recorded camera plays on, they would come under
    // the pointer.
    void SetUp() override
    {
        RunningPlayer::SetUp();
        if (!IsSkipped() && !HasFatalFailure())
            application.getContentGroup()->setNodeMask(0);
    }

    // Puts a 40-unit box on the transform, 'offset' to the side of the scene camera's axis and in
    // front of it, and returns where it is drawn in the window, in window pixels from the bottom
    // left.
    osg::Vec2 placeInFront(osg::MatrixTransform& node, float offset)
    {
        osg::Camera& camera = *application.getARCamera();
        const osg::Matrix toScreen = camera.getViewMatrix() * camera.getProjectionMatrix();
        // The tracker's projection may look down either Z direction: take the one in front.
        const float depth = (osg::Vec4(0, 0, -500, 1) * toScreen).w() > 0.0f ? -500.0f : 500.0f;
        const osg::Vec3 centre(offset, 0.0f, depth);
        node.setMatrix(osg::Matrix::translate(centre));
        osg::ref_ptr<osg::Geode> box = new osg::Geode;
        box->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 40.0f)));
        node.addChild(box.get());
        camera.addChild(&node);
        const osg::Vec3 onTarget = centre * toScreen * camera.getViewport()->computeWindowMatrix();
        // Render-target pixels back to window pixels, as the handler undoes them.
        const ARMouseEventsHandler& mouse = *application.getMouseEventsHandler();
        return osg::Vec2(onTarget.x() / mouse.getTextureScaleX() / mouse.getWindowScaleX(),
                         onTarget.y() / mouse.getTextureScaleY() / mouse.getWindowScaleY());
    }
    // The window system counts rows from the top; the viewer hands handlers rows from the bottom.
    float row(float y) { return static_cast<float>(viewer->getWindowHeight()) - y; }
    void press(osg::Vec2 at, int button) { events().mouseButtonPress(at.x(), row(at.y()), button); }
    void release(osg::Vec2 at, int button) { events().mouseButtonRelease(at.x(), row(at.y()), button); }
    void click(osg::Vec2 at, int button)
    {
        press(at, button);
        release(at, button);
        viewer->frame();
    }
    void move(osg::Vec2 at)
    {
        events().mouseMotion(at.x(), row(at.y()));
        viewer->frame();
    }
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

// The commands the factory knows.
std::set<std::string> factoryCommands()
{
    std::set<std::string> known;
    const ARActionFactory factory(nullptr);
    for (const auto& command : factory.getCommands())
        known.insert(command.first);
    return known;
}

class ActionsTest : public ::testing::Test
{
protected:
    // A scene object of that name, known to the application as action targets are.
    osg::ref_ptr<ARObject> registeredObject(const std::string& name)
    {
        osg::ref_ptr<ARObject> object = new ARObject;
        object->setName(name);
        application.registerObject(object.get());
        return object;
    }
    // An action of 'command' owned by 'owner', aimed at 'target', prepared in the application.
    ARAction* action(ARObject& owner, const std::string& command, const std::string& target,
                     const std::map<std::string, std::string>& parameters = {})
    {
        auto* factory = dynamic_cast<ARActionFactory*>(owner.getActionFactory());
        EXPECT_NE(factory, nullptr) << "the interaction layer gives every object its action factory";
        if (!factory)
            return nullptr;
        std::unique_ptr<ARAction> created = factory->create(command);
        EXPECT_NE(created, nullptr) << command;
        if (!created)
            return nullptr;
        created->setCommand(command);
        created->setTargetName(target);
        for (const auto& parameter : parameters)
            created->setParameter(parameter.first, parameter.second);
        ARAction* registered = factory->registerAction(std::move(created));
        application.registerObject(&owner);
        owner.resetActions();
        return registered;
    }

    osg::AnimationPathCallback& arm(const ARObject& object) { return *object.getPathAnimations().at(0); }

    ARApplication application;
};

TEST_F(ActionsTest, ParametersAreReadAsTheEventsFileWritesThem)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());
    for (const char* notTrue : {"True", "1", ""})
    {
        action(*object, "set_animation_loop", "_self_", {{"loop", notTrue}})->execute();
        EXPECT_EQ(arm(*object).getAnimationPath()->getLoopMode(), osg::AnimationPath::NO_LOOPING) << notTrue;
    }
    action(*object, "set_animation_loop", "_self_", {{"loop", "true"}, {"animation_name", "arm"}})->execute();
    EXPECT_EQ(arm(*object).getAnimationPath()->getLoopMode(), osg::AnimationPath::LOOP);

    action(*object, "change_animation_speed", "_self_", {{"amount", "abc"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 1.0);
    action(*object, "change_animation_speed", "_self_", {{"amount", "-0.25"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 0.75);
    action(*object, "set_animation_speed", "_self_", {{"speed", "2"}, {"animation_name", "leg"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 0.75) << "a name that matches nothing";

    // A missing animation name addresses every animation; the map gains the empty entry.
    ARAction* start = action(*object, "start_animation", "_self_");
    start->execute();
    EXPECT_FALSE(arm(*object).getPause());
    EXPECT_EQ(start->getParameters().count("animation_name"), 1u);
}

TEST_F(ActionsTest, NamesResolveToTheFirstObjectOfThatNameOrToNothing)
{
    osg::ref_ptr<ARObject> owner = new ARObject;
    owner->setName("switch");
    osg::ref_ptr<ARObject> first = registeredObject("twin");
    osg::ref_ptr<ARObject> second = registeredObject("twin");

    ARAction* hideTwin = action(*owner, "hide", "twin");
    EXPECT_EQ(hideTwin->getSource(), owner.get());
    EXPECT_TRUE(hideTwin->execute());
    EXPECT_TRUE(first->isHidden());
    EXPECT_FALSE(second->isHidden());

    ARAction* nobody = action(*owner, "show", "Twin");
    EXPECT_EQ(nobody->getTarget(), nullptr);
    EXPECT_FALSE(nobody->execute());

    NotifyCapture capture;
    ARAction* notify = action(*owner, "notify", "nobody", {{"message", "lights out"}});
    EXPECT_TRUE(notify->execute()) << "notify needs only its source";
    EXPECT_TRUE(capture.printed(" ARObject::notify... lights out..."));
    EXPECT_FALSE(action(*owner, "subscribe", "nobody")->execute());
}

TEST_F(ActionsTest, TargetsOfTheWrongKindAreLeftAlone)
{
    osg::ref_ptr<ARObject> plain = registeredObject("plain");
    for (const char* command : {"play", "pause", "toggle", "rewind", "loop", "go_fullscreen", "show_menu"})
        EXPECT_FALSE(action(*plain, command, "_self_")->execute()) << command;

    osg::ref_ptr<ARModel> model = new ARModel;
    model->setName("model");
    // (A model's menu both ways: the table of every command below.)
    EXPECT_TRUE(action(*model, "toggle_menu", "_self_")->execute()) << "a model without a menu";
}

} // namespace

TEST_F(KeyboardModes, FunctionKeysInstallTheModeWithItsNameAndAFreshHelpPanel)
{
    ASSERT_NE(nullptr, application.getEventsHandlersManager());
    EXPECT_EQ(0, manager().getCurrentMode());
    EXPECT_TRUE(installed(0));
    const char* names[] = {"Visualization Management Mode...",    "Objects/Scene Management Mode...",
                           "Animations Management Mode...",       "Sounds Management Mode...",
                           "Layers/Sequences Management Mode...", "Clipping Management Mode...",
                           "Tracking Management Mode..."};
    for (int mode = 6; mode >= 0; --mode)
    {
        EXPECT_EQ(names[mode], tap(Key::KEY_F1 + mode));
        EXPECT_EQ(mode, manager().getCurrentMode());
        EXPECT_TRUE(installed(static_cast<unsigned int>(mode))) << mode;
        osgViewer::HelpHandler* help = dynamic_cast<osgViewer::HelpHandler*>(application.getHelpHandler());
        ASSERT_NE(nullptr, help);
        EXPECT_EQ(application.getKeyboardHandler(static_cast<unsigned int>(mode))->getApplicationUsage(),
                  help->getApplicationUsage());
    }

    // The same mode again: the same handler, a new help handler; "h" shows that mode's keys.
    tap(Key::KEY_F3);
    osgGA::GUIEventHandler* firstHelp = application.getHelpHandler();
    tap(Key::KEY_F3);
    EXPECT_TRUE(installed(2));
    EXPECT_NE(firstHelp, application.getHelpHandler());
    tap('h');
    osgViewer::HelpHandler& help = dynamic_cast<osgViewer::HelpHandler&>(*application.getHelpHandler());
    ASSERT_NE(nullptr, help.getCamera());
    EXPECT_NE(0u, help.getCamera()->getNodeMask());
    std::string shown; // every text the panel draws
    for (osgText::Text* text : drawablesOf<osgText::Text>(help.getCamera()))
        shown += text->getText().createUTF8EncodedString() + "\n";
    EXPECT_NE(std::string::npos, shown.find("Toggle animations ON/OFF")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Switch to Lighting Management Mode")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("Toggle music ON/OFF")) << shown;

    // "0" names the current mode again (the animations mode then shows its speed over it).
    tap(Key::KEY_F4);
    application.updateStatusMessage("something else");
    EXPECT_EQ("Sounds Management Mode...", tap('0'));
}

TEST_F(KeyboardModes, ClippingKeysDriveTheCurrentClippingManager)
{
    tap(Key::KEY_F6);
    tap('1'); // without a manager: nothing, and no crash
    osg::ref_ptr<ARClippingManager> clipping = new ARClippingManager(80.0f);
    application.setClippingManager(clipping.get());

    tap('1');
    EXPECT_TRUE(clipping->isPlaneActive(0));
    EXPECT_EQ(0, clipping->getSelectedPlane());
    const float distance = clipping->getPlane(0).distance;
    hold(Key::KEY_Down, 3);
    EXPECT_NE(distance, clipping->getPlane(0).distance) << "the selected plane moves";
    hold(Key::KEY_Left, 2);
    EXPECT_FLOAT_EQ(2.0f, clipping->getPlane(0).angle);

    EXPECT_EQ("Clipping [All planes activated]", tap('a'));
    for (int plane = 0; plane < ARClippingManager::PLANE_COUNT; ++plane)
        EXPECT_TRUE(clipping->isPlaneActive(plane)) << plane;
    tap(Key::KEY_Space);
    EXPECT_TRUE(clipping->getCapping());
    EXPECT_EQ("Clipping [No planes activated]", tap('n'));
    EXPECT_EQ(-1, clipping->getSelectedPlane());
    EXPECT_FALSE(clipping->isPlaneActive(3));
}

TEST_F(KeyboardModes, LightingModeTurnsDimsAndShowsTheLightAndChoosesShadowModeAndAccuracy)
{
    ARLight* sun = application.getShadowsManager()->getLight();
    ASSERT_TRUE(application.getShadowsManager()->isEnabled() && sun) << "the sample's sun casts shadows";
    EXPECT_EQ("Lighting Management Mode...", tap(Key::KEY_F8));
    EXPECT_TRUE(installed(7));

    const osg::Matrixd start = sun->getLightRotation();
    tap('q');
    EXPECT_FALSE(start == sun->getLightRotation());
    tap('a');
    for (int cell = 0; cell < 16; ++cell)
        EXPECT_NEAR(start.ptr()[cell], sun->getLightRotation().ptr()[cell], 1e-6) << "a undoes q";

    const float attenuation = sun->getLight()->getConstantAttenuation();
    tap('-');
    EXPECT_NEAR(std::min(1.0f, attenuation + 0.025f), sun->getLight()->getConstantAttenuation(), 1e-6);
    const bool guides = sun->areGuidesShown();
    EXPECT_EQ("Light [toggling source visibility]", tap(Key::KEY_Space));
    EXPECT_NE(guides, sun->areGuidesShown());

    // The shadows: mode, accuracy and bare surfaces.
    ARShadowsManager& shadows = *application.getShadowsManager();
    ASSERT_EQ(ARShadowsManager::MODE_DIRECT, shadows.getMode()) << "the sample draws its shadows directly";
    EXPECT_EQ("Switch to 'Highest' accuracy mode to use this command.", tapWith(Key::MODKEY_CTRL, '0'));
    EXPECT_TRUE(shadows.areTexturesShown());

    // CTRL+2 types NUL
    EXPECT_EQ("Shadow mode [Soft]", tapWith(Key::MODKEY_CTRL, '2', 0));
    EXPECT_EQ(ARShadowsManager::AR_SOFT_SHADOW_MAP, shadows.getTechnique());
    EXPECT_NE(nullptr, shadows.getFragmentShader());
    EXPECT_EQ("Shadow mode [Simple]", tapWith(Key::MODKEY_CTRL, '1'));
    EXPECT_EQ(ARShadowsManager::AR_SHADOW_MAP, shadows.getTechnique());

    // Highest: the deferred pass, composed by the window quad, and the textures can go.
    EXPECT_EQ("Visual accuracy [Highest]", tapWith(Key::MODKEY_ALT, '2'));
    EXPECT_EQ(ARShadowsManager::MODE_DEFERRED, shadows.getMode());
    EXPECT_TRUE(shadows.getModeSwitch()->getValue(1));
    EXPECT_EQ("Shadows [shadows only mode]", tapWith(Key::MODKEY_CTRL, '0'));
    const osg::StateSet* plain = shadows.getDeferredGroup()->getStateSet();
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ(osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE,
              plain->getTextureMode(0, GL_TEXTURE_2D));
    EXPECT_EQ("Shadows [shadows+textures mode]", tapWith(Key::MODKEY_ALT, '0'));
    EXPECT_EQ(osg::StateAttribute::INHERIT, plain->getTextureMode(0, GL_TEXTURE_2D));

    // A scene from Maya cannot have soft shadows drawn the fastest way, from either side.
    application.getSceneConfiguration()->setAuthoringSoftware("maya");
    application.setApplicationHint();
    tapWith(Key::MODKEY_CTRL, '2');
    EXPECT_EQ("Visual accuracy [Fastest] not available for current shadow mode [Soft]",
              tapWith(Key::MODKEY_ALT, '1'));
    EXPECT_EQ(ARShadowsManager::MODE_DEFERRED, shadows.getMode());
    tapWith(Key::MODKEY_CTRL, '1');
    tapWith(Key::MODKEY_ALT, '1');
    EXPECT_EQ(ARShadowsManager::MODE_DIRECT, shadows.getMode());
    EXPECT_EQ("Shadow mode [Soft] not available for current visual accuracy [Fastest]",
              tapWith(Key::MODKEY_CTRL, '2'));
    EXPECT_EQ(ARShadowsManager::AR_SHADOW_MAP, shadows.getTechnique());
}

TEST_F(KeyboardModes, VisualizationKeysAndTheSizeLimitBounds)
{
    // The manager names the mode first; the mode's own text replaces it.
    EXPECT_EQ("Hide objects smaller than:   0", tap('0'));

    EXPECT_EQ("Hide objects smaller than: 256", hold('+', 300));
    EXPECT_FLOAT_EQ(256.0f, application.getSmallFeatureCullingPixelSize());
    // (what the size does to the scene camera: the pipeline tests)
    EXPECT_EQ("Hide objects smaller than:   0", hold('-', 300));

    const bool wireframe = application.getConfiguration()->getWireframe();
    tap('W');
    EXPECT_NE(wireframe, application.getConfiguration()->getWireframe());
    tap(Key::KEY_Right);
    EXPECT_TRUE(application.getFlipHorizontal());
    EXPECT_FALSE(application.getFlipVertical());
    tap(Key::KEY_Down);
    EXPECT_TRUE(application.getFlipVertical());
    const bool fullscreen = viewer->isFullscreen();
    tap('f');
    EXPECT_NE(fullscreen, viewer->isFullscreen());
}

TEST_F(KeyboardModes, ObjectsKeysScaleEveryMarkerAndShowOccluders)
{
    tap(Key::KEY_F2);
    EXPECT_EQ("Scaling value:  98 %", hold('s', 2));
    for (const ARApplication::MarkerNodeMap::value_type& entry : application.getMarkers())
        EXPECT_NEAR(0.98, entry.second->getMiddleTransform()->getMatrix().getScale().z(), 1e-5);
    EXPECT_EQ("Scaling value: 101 %", hold('S', 3));

    ARObject* wall = keep(new ARObject(new osg::Geode));
    wall->setOccluder();
    application.registerObject(wall);
    wall->showOccluder(false);
    tap('o');
    EXPECT_TRUE(application.getOccludersVisible());
    EXPECT_EQ(osg::StateSet::TRANSPARENT_BIN, wall->getStateSet()->getRenderingHint());
}

TEST_F(KeyboardModes, AnimationSpeedHasNoBoundsAndReturnTogglesEveryAnimation)
{
    tap(Key::KEY_F3);
    EXPECT_EQ("Simulation speed: -0.5 %", hold(Key::KEY_Left, 15));
    EXPECT_NEAR(-0.5, application.getSimulationSpeed(), 1e-9);
    EXPECT_EQ("Simulation speed: 1.0 %", tap('0'));
    EXPECT_EQ("Simulation speed: 1.2 %", hold(Key::KEY_Up, 2));

    ARObject* cube = nullptr;
    for (ARObject* object : application.getObjects())
        cube = object->getName() == "cube" ? object : cube;
    ASSERT_TRUE(cube && !cube->getPathAnimations().empty());
    const bool paused = cube->getPathAnimations()[0]->getPause();
    tap(Key::KEY_Return);
    EXPECT_NE(paused, cube->getPathAnimations()[0]->getPause());
}

TEST_F(KeyboardModes, SoundsKeysWalkTheSoundtracks)
{
    ASSERT_EQ(2u, application.getSoundtrackCount());
    tap(Key::KEY_F4);
    tap(Key::KEY_Right);
    EXPECT_EQ(1u, application.getCurrentSoundtrack());
    tap(Key::KEY_Down);
    EXPECT_EQ(0u, application.getCurrentSoundtrack());
}

TEST_F(KeyboardModes, LayersKeysActOnEveryMarker)
{
    tap(Key::KEY_F5);
    ARMarkerNode& single = *application.getMarkers().at(1);
    ARMarkerNode& sequence = *application.getMarkers().at(2);
    ASSERT_TRUE(sequence.getLayerSwitch()->getChildValue(sequence.getLayerSequence()));
    tap(Key::KEY_Return);
    EXPECT_FALSE(sequence.getLayerSwitch()->getChildValue(sequence.getLayerSequence()));
    EXPECT_TRUE(sequence.getLayerSwitch()->getChildValue(sequence.getLayersGroup()));
    EXPECT_TRUE(single.getLayerSwitch()->getChildValue(single.getLayerSequence()));

    tap('1');
    EXPECT_FALSE(sequence.getLayers().at(1).visible);
    EXPECT_TRUE(sequence.getLayers().at(0).visible);
    tapWith(Key::MODKEY_SHIFT, 'u', 'U'); // Shift let go first: still 'U'
    EXPECT_TRUE(sequence.getLayers().at(1).visible);
    tap('u');
    EXPECT_FALSE(single.getLayers().at(0).visible);
    EXPECT_FALSE(sequence.getLayers().at(0).visible);

    tap(Key::KEY_Right);
    EXPECT_EQ(1, sequence.getCurrentLayer());
    EXPECT_TRUE(sequence.getLayers().at(1).visible);
    tap(Key::KEY_Space);
    EXPECT_EQ(osg::Sequence::PAUSE, sequence.getLayerSequence()->getMode());
    tap(Key::KEY_Space);
    EXPECT_NE(osg::Sequence::PAUSE, sequence.getLayerSequence()->getMode());
}

TEST_F(KeyboardModes, TrackingKeysShowTheStateAfterTheirChange)
{
    tap(Key::KEY_F7);
    EXPECT_EQ("Lighting thresholding: 100", tap(Key::KEY_Space));
    // Shift let go first: still '+'
    EXPECT_EQ("Lighting thresholding: 105", tapWith(Key::MODKEY_SHIFT, '=', '+'));
    tap(Key::KEY_Left);
    EXPECT_EQ("Lighting thresholding:  95", tap(Key::KEY_Left));

    EXPECT_EQ("Smoothing value: 0.85", tap(Key::KEY_Return));
    EXPECT_EQ("Smoothing value: 0.80", tap('a'));
    tap(Key::KEY_Up);
    EXPECT_EQ("Smoothing value: 0.90", tapWith(Key::MODKEY_SHIFT, 'a', 'A'));

    const bool trackingPlus = application.getTrackingPlus();
    EXPECT_EQ(trackingPlus ? "Tracking plus [OFF]" : "Tracking plus [ON]", tap('t'));
    EXPECT_EQ("Freeze mode [ON]", tap('F'));
    EXPECT_EQ("Lighting debug mode [ON]", tap('d'));
    EXPECT_TRUE(application.getDebug());
}

TEST_F(KeyboardModes, LightingModeIsRefusedWithoutALight)
{
    application.getShadowsManager()->disable();
    tap(Key::KEY_F2);
    EXPECT_EQ("WARNING: cannot set lighting interface (no AR light found).", tap(Key::KEY_F8));
    EXPECT_EQ(1, manager().getCurrentMode());
    EXPECT_TRUE(installed(1));

    NotifyCapture console;
    application.setInterface(7);
    EXPECT_TRUE(console.printed(
        "WARNING: cannot set lighting interface (no lighting information available in the scene)."));
    EXPECT_TRUE(installed(0));
    application.setInterface(9);
    EXPECT_TRUE(installed(0));
}

// The keys' help, as the help panels show it and the README lists it.
TEST(KeyboardHelp, ReadmeListsTheKeysOfTheHelpPanels)
{
    const std::string section = keyboardHelpMarkdown();
    EXPECT_NE(std::string::npos, readFile(std::string(NOVARO_SOURCE_DIR) + "/README.md").find(section))
        << "README.md is out of date: replace its \"Using the player\" section with the output of "
           "build/run/novaro-keys:\n"
        << section;
}

TEST(KeyboardModifiers, ControlWinsOverAltAndSuperCountsAsAlt)
{
    typedef ARKeyboardEventsHandler Handler;
    EXPECT_EQ(Handler::MODIFIER_CTRL, Handler::modifierOf(Key::MODKEY_LEFT_CTRL | Key::MODKEY_RIGHT_ALT));
    EXPECT_EQ(Handler::MODIFIER_ALT, Handler::modifierOf(Key::MODKEY_LEFT_SUPER));
    EXPECT_EQ(Handler::MODIFIER_ALT, Handler::modifierOf(Key::MODKEY_RIGHT_ALT | Key::MODKEY_SHIFT));
    EXPECT_EQ(Handler::MODIFIER_NONE, Handler::modifierOf(Key::MODKEY_SHIFT | Key::MODKEY_CAPS_LOCK));
}

// Each digit toggles the layer of its number on every marker: 0 and 9, the ends, included.
TEST(LayerKeys, EveryDigitTogglesItsLayer)
{
    Novaro::ARApplication application;
    Novaro::MarkerData record;
    for (int layer : {0, 5, 9})
        record.addLayer(layer, 1.0);
    osg::ref_ptr<Novaro::ARMarkerNode> node =
        new Novaro::ARMarkerNode(new osgART::Marker("m"), 0, &record, 0, &application);
    node->setupLayers();
    application.getMarkers()[1] = node;
    osg::ref_ptr<LayerKeys> keys = new LayerKeys(&application, &application);
    osg::ref_ptr<osgGA::GUIEventAdapter> event = new osgGA::GUIEventAdapter;
    for (int layer : {0, 9})
    {
        event->setKey('0' + layer);
        keys->keyReleased(*event);
        EXPECT_FALSE(node->getLayers().at(layer).visible) << layer;
        EXPECT_TRUE(node->getLayers().at(5).visible) << layer;
    }
    application.getMarkers().clear();
}

TEST_F(MousePicking, ClicksDoubleClicksAndDragsOnTheNearestPickable)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    // Off the window's centre, so that the mirrored click below lands elsewhere.
    const osg::Vec2 onBox = placeInFront(*box, 150.0f);
    viewer->frame();

    click(onBox, RIGHT);
    click(onBox, MIDDLE);
    // The window system's double click: press, release, double click, release.
    press(onBox, LEFT);
    release(onBox, LEFT);
    events().mouseDoubleButtonPress(onBox.x(), row(onBox.y()), LEFT);
    release(onBox, LEFT);
    viewer->frame();
    EXPECT_EQ(Log({"box right", "box left", "box left double"}), log);

    // Moved by one pixel between press and release: no click.
    log.clear();
    press(onBox, LEFT);
    events().mouseMotion(onBox.x() + 1.0f, row(onBox.y()));
    release(onBox + osg::Vec2(1.0f, 0.0f), LEFT);
    viewer->frame();
    EXPECT_TRUE(log.empty());

    // With the video mirrored, the box is drawn on the other side of the window.
    application.toggleMirror();
    click(osg::Vec2(static_cast<float>(viewer->getWindowWidth()) - onBox.x(), onBox.y()), LEFT);
    EXPECT_EQ(Log({"box left"}), log);
}

TEST_F(MousePicking, PartsCutAwayByAClipPlaneAreNotPicked)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    const osg::Vec2 onBox = placeInFront(*box, 0.0f);
    // The box (-20..20 on every axis) under a clip node, as the clipping manager cuts content.
    osg::ref_ptr<osg::Node> geode = box->getChild(0);
    osg::ref_ptr<osg::ClipNode> clipNode = new osg::ClipNode;
    clipNode->addChild(geode.get());
    box->replaceChild(geode.get(), clipNode.get());
    osg::ref_ptr<osg::ClipPlane> plane = new osg::ClipPlane(0);
    clipNode->addClipPlane(plane.get());

    // Only x >= 5 kept: the ray through the centre meets the box only where it is cut away.
    plane->setClipPlane(1.0, 0.0, 0.0, -5.0);
    viewer->frame();
    click(onBox, LEFT);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(nullptr, application.getMouseEventsHandler()->getPickedObject());

    // x >= -5 kept: the centre is drawn again.
    plane->setClipPlane(1.0, 0.0, 0.0, 5.0);
    viewer->frame();
    click(onBox, LEFT);
    EXPECT_EQ(Log({"box left"}), log);
}

TEST_F(MousePicking, HoveringFiresOutBeforeInOnlyWhenSomeObjectListens)
{
    Log log;
    osg::ref_ptr<RecordingPickable> left = new RecordingPickable("A", log);
    osg::ref_ptr<RecordingPickable> right = new RecordingPickable("B", log);
    const osg::Vec2 onLeft = placeInFront(*left, -60.0f);
    const osg::Vec2 onRight = placeInFront(*right, 60.0f);
    viewer->frame();

    move(onLeft);
    EXPECT_TRUE(log.empty()) << "no object listens to hovering";

    application.setMouseOverEvents(true);
    move(onLeft);
    move(onRight);
    move(osg::Vec2(2.0f, 2.0f));
    EXPECT_EQ(Log({"A in", "A out", "B in", "B out"}), log);
}

TEST_F(MousePicking, AnyReleaseClosesTheFullWindowMovie)
{
    osg::ref_ptr<osg::ImageStream> movie = new osg::ImageStream;
    movie->allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE);
    application.showFullscreenVideo(movie.get());
    viewer->frame();
    HUDVideo* panel = dynamic_cast<HUDVideo*>(application.getHUD().getVideoHUD());
    ASSERT_TRUE(panel && panel->getStream() == movie.get());
    click(osg::Vec2(2.0f, 2.0f), RIGHT);
    EXPECT_EQ(nullptr, panel->getStream());
}

TEST_F(MousePicking, LeftButtonHeldLongerThanTheLongPressEndsTheLoopWithoutAClick)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    const osg::Vec2 onBox = placeInFront(*box, 0.0f);
    viewer->frame();

    // The handler's clock is the test's: held just under, then just over the long press.
    osg::Timer_t now = 0;
    const double ticksPerSecond = 1.0 / osg::Timer::instance()->getSecondsPerTick();
    application.getMouseEventsHandler()->setTickSource([&now] { return now; });
    auto holdFor = [&](double seconds)
    {
        press(onBox, LEFT);
        viewer->frame();
        now += static_cast<osg::Timer_t>(seconds * ticksPerSecond);
        release(onBox, LEFT);
        viewer->frame();
    };
    holdFor(ARMouseEventsHandler::longPressSeconds - 0.1);
    EXPECT_FALSE(viewer->done());
    EXPECT_EQ(Log({"box left"}), log) << "a press shorter than the long press is a click";
    log.clear();
    holdFor(ARMouseEventsHandler::longPressSeconds + 0.1);
    EXPECT_TRUE(viewer->done());
    EXPECT_TRUE(log.empty());
}

TEST_F(ActionsTest, UnknownNamesInAnEventsFileAreEachReportedWithTheFileAndTheObject)
{
    NovaroTest::TemporaryFolder folder;
    using NovaroTest::actionXml;
    using NovaroTest::eventXml;
    const std::string events = folder.write(
        "button_events.xml",
        NovaroTest::eventsFileXml(
            "e", eventXml("on_left_mouse_clik", actionXml("hide", "lamp")) +
                     eventXml("on_select", actionXml("show", "lamq") + actionXml("hid", "lamp") +
                                               actionXml("hide", "lamq") + actionXml("hide", "lamp"))));
    osg::ref_ptr<ARObject> lamp = registeredObject("lamp");
    osg::ref_ptr<ARObject> button = registeredObject("button");

    NotifyCapture capture;
    button->loadEvents(events);
    button->resetActions();
    button->resetActions();

    // Each name once, with the file, the object and the name meant (the target although two
    // actions name it and the actions were prepared twice); the old line of the command stays.
    EXPECT_TRUE(capture.printed(" WARNING: ARAction not found."));
    const std::pair<const char*, const char*> meant[] = {
        {"\"on_left_mouse_clik\"", "\"on_left_mouse_click\"?"},
        {"\"hid\"", "\"hide\"?"},
        {"\"lamq\"", "\"lamp\"?"}};
    std::string reported;
    for (const auto& name : meant)
    {
        const std::vector<std::string> lines = NovaroTest::visibleLinesWith(capture, name.first);
        ASSERT_EQ(lines.size(), 1u) << capture.text();
        for (const std::string& part : {events, std::string("object button"), std::string(name.second)})
            EXPECT_NE(lines[0].find(part), std::string::npos) << lines[0];
        reported += lines[0] + "\n";
    }
    // Names that resolve say nothing; the actions after those that fail still run.
    EXPECT_EQ(capture.text(osg::FATAL), reported);
    button->select();
    EXPECT_TRUE(lamp->isHidden());
}

// One row per command of the factory's table, each run on a target whose state tells that
// command from its neighbours (pause from toggle, one movie from all, a menu from a selection box).
TEST_F(ActionsTest, EveryCommandActsOnWhatItsNameSaysAndNothingElse)
{
    NovaroTest::usePluginFolder();
    NovaroTest::TemporaryFolder folder;
    for (const char* movie : {"a.mp4", "b.mp4", "clip.mp4"})
        ASSERT_TRUE(NovaroTest::writeGreyRampMovie(folder.file(movie), 5, 64, 48, 25));
    ASSERT_TRUE(NovaroTest::writeSceneWithVideos(folder, {{"Screen1", "a.mp4"}, {"Screen2", "b.mp4"}}));
    application.setTemporaryDirectory(folder.path());
    ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));

    // The model: a path animation (beside an animation manager), two movie screens, a menu and a
    // selection box.
    osg::ref_ptr<osg::Group> content = NovaroTest::screensModel({"Screen1", "Screen2"});
    AnimatedContent animated;
    content->addChild(animated.root.get());
    osg::MatrixTransform* armNode = animated.arm.get();
    osg::ref_ptr<ARModel> tv = new ARModel(content.get());
    tv->setName("tv");
    tv->setContext(&application);
    tv->setupVideoTextures();
    ASSERT_EQ(2u, tv->getVideoStreams().size());
    osg::ImageStream& a = *tv->getVideoStreams()[0];
    osg::ImageStream& b = *tv->getVideoStreams()[1];
    osg::ref_ptr<osg::Node> menu = new osg::Group, box = new osg::Group;
    tv->setMenu(menu.get());
    tv->setSelectionBox(box.get());
    application.registerObject(tv.get());

    osg::ref_ptr<ARVideo> clip = new ARVideo(NovaroTest::screen({0}).get());
    clip->setName("clip");
    clip->setContext(&application);
    clip->setupVideo(folder.file("clip.mp4"), false);
    ASSERT_NE(clip->getStream(), nullptr);
    osg::ImageStream& movie = *clip->getStream();
    osg::ref_ptr<ARObject> listener = registeredObject("listener");
    application.registerObject(clip.get());

    const auto arm = [&]() -> osg::AnimationPathCallback& { return *tv->getPathAnimations().at(0); };
    using Status = osg::ImageStream::StreamStatus;
    const Status playing = osg::ImageStream::PLAYING, paused = osg::ImageStream::PAUSED;
    // Arrangements and checks of the tv set's two movies (a, b), and of its menu and selection box.
    const auto set = [&](bool playA, bool playB) -> std::function<void()>
    {
        return [&, playA, playB]
        {
            playA ? a.play() : a.pause();
            playB ? b.play() : b.pause();
        };
    };
    const auto are = [&](Status statusA, Status statusB) -> std::function<bool()>
    { return [&, statusA, statusB] { return a.getStatus() == statusA && b.getStatus() == statusB; }; };
    const auto masks = [&](unsigned int menuMask, unsigned int boxMask) -> std::function<void()>
    {
        return [&, menuMask, boxMask]
        {
            menu->setNodeMask(menuMask);
            box->setNodeMask(boxMask);
        };
    };
    const auto shown = [&](unsigned int menuMask, unsigned int boxMask) -> std::function<bool()>
    {
        return [&, menuMask, boxMask]
        { return menu->getNodeMask() == menuMask && box->getNodeMask() == boxMask; };
    };
    const unsigned int all = 0xFFFFFFFFu;
    NotifyCapture capture;
    const auto said = [&](const std::string& line) { return capture.printed(line); };
    const auto saying = [&](const std::string& line) -> std::function<bool()>
    { return [&, line] { return capture.printed(line); }; };
    const auto nothing = [] {};
    // Runs the command, owned by an object of its own, on the target arranged first; 'acted' tells
    // that it did what its name says.
    std::set<std::string> walked;
    const auto row = [&](const char* command, const char* target,
                         const std::map<std::string, std::string>& parameters,
                         const std::function<void()>& arrange, const std::function<bool()>& acted)
    {
        osg::ref_ptr<ARObject> owner = new ARObject;
        owner->setName(std::string("switch for ") + command);
        ARAction* made = action(*owner, command, target, parameters);
        ASSERT_NE(made, nullptr) << command;
        arrange();
        capture.clear();
        EXPECT_TRUE(made->execute()) << command;
        EXPECT_TRUE(acted()) << command << capture.text();
        walked.insert(command);
    };
    const std::function<void()> runArm = [&] { arm().setPause(false); }, pauseMovie = [&] { movie.pause(); };
    row("start_animation", "tv", {}, runArm, [&] { return !arm().getPause(); });
    row("pause_animation", "tv", {}, runArm, [&] { return arm().getPause(); });
    row(
        "stop_animation", "tv", {}, [&] { arm().setPause(true); }, [&] { return arm().getPause(); });
    // Back on the first pose, and held there.
    row(
        "rewind_animation", "tv", {},
        [&]
        {
            armNode->setMatrix(osg::Matrix::translate(0, 0, 1));
            arm().setPause(false);
        },
        [&] { return arm().getPause() && armNode->getMatrix().getTrans() == osg::Vec3d(); });
    row("set_animation_loop", "tv", {{"loop", "true"}}, nothing,
        [&] { return arm().getAnimationPath()->getLoopMode() == osg::AnimationPath::LOOP; });
    row(
        "change_animation_speed", "tv", {{"amount", "0.5"}}, [&] { arm().setTimeMultiplier(1.0); },
        [&] { return arm().getTimeMultiplier() == 1.5; });
    row(
        "set_animation_speed", "tv", {{"speed", "0.5"}}, [&] { arm().setTimeMultiplier(3.0); },
        [&] { return arm().getTimeMultiplier() == 0.5; });
    row(
        "hide", "tv", {}, [&] { tv->show(); }, [&] { return tv->isHidden(); });
    row(
        "show", "tv", {}, [&] { tv->hide(); }, [&] { return !tv->isHidden(); });
    row("play_video", "tv", {{"video_name", "a.mp4"}}, set(false, false), are(playing, paused));
    // Pausing what is paused leaves it paused: a toggle would start it.
    row("pause_video", "tv", {}, set(false, true), are(paused, paused));
    row("toggle_pause_video", "tv", {}, set(false, true), are(playing, paused));
    row("rewind_video", "tv", {{"video_name", "b.mp4"}}, set(true, true),
        [&] { return a.getStatus() == playing && b.getStatus() != paused; });
    row(
        "loop_video", "tv", {{"video_name", "b.mp4"}, {"loop", "false"}},
        [&] { a.setLoopingMode(osg::ImageStream::LOOPING), b.setLoopingMode(osg::ImageStream::LOOPING); },
        [&]
        {
            return a.getLoopingMode() == osg::ImageStream::LOOPING &&
                   b.getLoopingMode() == osg::ImageStream::NO_LOOPING;
        });
    // Without a window the full-window video cannot be made, and says so; two movies and no
    // name cannot even choose.
    row("go_fullscreen_video", "tv", {}, nothing,
        saying(" WARNING: cannot go fullscreen (must specify a video name)"));
    row("resign_fullscreen_video", "tv", {{"video_name", "b.mp4"}}, nothing,
        [&]
        {
            return said(" Video (texture)<b.mp4> RESIGN FULLSCREEN") &&
                   !said(" Video (texture)<a.mp4> RESIGN FULLSCREEN");
        });
    row("notify", "listener", {{"message", "on air"}}, nothing, saying(" ARObject::notify... on air..."));
    row("subscribe", "listener", {}, nothing, saying(" ARObject::subscribe..."));
    row("unsubscribe", "listener", {}, nothing, saying(" ARObject::unsubscribe..."));
    row("play", "clip", {}, pauseMovie, [&] { return movie.getStatus() == playing; });
    row("pause", "clip", {}, pauseMovie, [&] { return movie.getStatus() == paused; });
    row("toggle", "clip", {}, pauseMovie, [&] { return movie.getStatus() == playing; });
    row("rewind", "clip", {}, pauseMovie,
        [&]
        { return said(" Video <" + folder.file("clip.mp4") + "> REWIND") && movie.getStatus() == paused; });
    row(
        "loop", "clip", {{"loop", "true"}}, [&] { movie.setLoopingMode(osg::ImageStream::NO_LOOPING); },
        [&] { return movie.getLoopingMode() == osg::ImageStream::LOOPING; });
    row("go_fullscreen", "clip", {}, nothing, saying(" ERROR: couldn't add any HUD: windows empty."));
    row("resign_fullscreen", "clip", {}, nothing,
        [&] { return !said(" ERROR: couldn't add any HUD: windows empty.") && movie.getStatus() == paused; });
    // Each of the menu and the selection box changes alone.
    row("hide_menu", "tv", {}, masks(1, 1), shown(0, 1));
    row("show_menu", "tv", {}, masks(0, 0), shown(all, 0));
    row("toggle_menu", "tv", {}, masks(0, 0), shown(1, 0));
    row("hide_selection_box", "tv", {}, masks(1, 1), shown(1, 0));
    row("show_selection_box", "tv", {}, masks(1, 0), shown(1, all));
    row("toggle_selection_box", "tv", {}, masks(0, 1), shown(0, 0));
    EXPECT_EQ(factoryCommands(), walked) << "every command has its row";
}

// The format document names every event and command the player knows, and no other: a name
// documented but refused ("on_mouse_enter") or known but undocumented ("on_marker_detected") once
// sent authors to an events file that did nothing.
TEST(ActionNames, TheFormatDocumentListsExactlyTheEventsAndCommandsThePlayerKnows)
{
    const std::string text = NovaroTest::readFile(std::string(NOVARO_SOURCE_DIR) + "/docs/scene-format.md");
    const size_t events = text.find("## Events files");
    const size_t commands = text.find("### `<command>`", events);
    const size_t end = text.find("### `<parameters>`", commands);
    ASSERT_TRUE(events != std::string::npos && commands != std::string::npos && end != std::string::npos);
    const auto backticked = [&](size_t from, size_t to, const std::regex& shape)
    {
        std::set<std::string> names;
        const std::string part = text.substr(from, to - from);
        const std::regex quoted("`([a-z_]+)`");
        for (std::sregex_iterator it(part.begin(), part.end(), quoted), last; it != last; ++it)
            if (std::regex_match((*it)[1].str(), shape))
                names.insert((*it)[1].str());
        return names;
    };
    std::set<std::string> known;
    for (int event = 0; event < ARObject::EVENT_COUNT; ++event)
        known.insert(ARObject::getEventName(ARObject::Event(event)));
    EXPECT_EQ(known, backticked(events, commands, std::regex("on_[a-z_]+")));
    EXPECT_EQ(factoryCommands(), backticked(commands, end, std::regex("[a-z_]+")));
}

TEST(Animations, EverythingStartsPausedAndPlaysOnce)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());

    // (Paused until started, and named after its node: the path animation test below.)
    ASSERT_EQ(object->getPathAnimations().size(), 1u);
    EXPECT_EQ(object->getPathAnimations()[0]->getAnimationPath()->getLoopMode(),
              osg::AnimationPath::NO_LOOPING);

    auto* manager = dynamic_cast<ARBasicAnimationManagerPlus*>(object->getAnimationManager());
    ASSERT_NE(manager, nullptr) << "the manager is found below other nodes, and can pause";
    EXPECT_EQ(object->getAnimationPause(), manager);
    EXPECT_EQ(content.skeletonHolder->getUpdateCallback(), manager);
    EXPECT_TRUE(manager->isPaused());
    for (osgAnimation::Animation* animation : manager->getAnimationList())
    {
        EXPECT_EQ(animation->getPlayMode(), osgAnimation::Animation::ONCE);
        EXPECT_FALSE(manager->isPlaying(animation));
    }
    EXPECT_FALSE(object->isOptimizeEnabled());

    object->setAnimationLoop("walk", true);
    EXPECT_EQ(manager->getAnimationList()[0]->getPlayMode(), osgAnimation::Animation::LOOP);
    EXPECT_EQ(manager->getAnimationList()[1]->getPlayMode(), osgAnimation::Animation::ONCE);

    object->startAnimation("wave");
    EXPECT_FALSE(manager->isPaused());
    EXPECT_TRUE(manager->isPlaying("wave"));
    EXPECT_FALSE(manager->isPlaying("walk"));
    EXPECT_TRUE(object->getPathAnimations()[0]->getPause()) << "the path is not named wave";
}

TEST(Animations, PathAnimationsStartPauseRewindAndChangeSpeed)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());
    updateAt(*object, 0.0);
    updateAt(*object, 1.0);
    EXPECT_DOUBLE_EQ(content.armHeight(), 0.0) << "paused until started";

    object->startAnimation("");
    updateAt(*object, 1.0);
    updateAt(*object, 2.0);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9);

    object->stopAnimation("arm");
    updateAt(*object, 5.0);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9) << "held while stopped";

    object->rewindAnimation("arm");
    EXPECT_NEAR(content.armHeight(), 0.0, 1e-9) << "back on the first pose at once";
    EXPECT_TRUE(object->getPathAnimations()[0]->getPause());
    updateAt(*object, 6.0);
    EXPECT_NEAR(content.armHeight(), 0.0, 1e-9);

    // Twice the speed covers twice the path in the same time.
    object->setAnimationSpeed("", 2.0);
    object->togglePauseAnimation("");
    updateAt(*object, 6.0);
    updateAt(*object, 6.5);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9);
    object->changeAnimationSpeed("arm", -3.0);
    EXPECT_DOUBLE_EQ(object->getPathAnimations()[0]->getTimeMultiplier(), -1.0);
}

TEST(Animations, ThePauseClockHoldsTheAnimationTimeWhilePaused)
{
    // The scene clock and the frames' simulation time both run on the test's own seconds.
    double now = 100.0;
    SceneClock::setTickSource(
        [&now] { return static_cast<osg::Timer_t>(now / osg::Timer::instance()->getSecondsPerTick()); });
    osg::ref_ptr<ARBasicAnimationManagerPlus> manager = new ARBasicAnimationManagerPlus;
    const double pausedAt = manager->animationTime(now);
    now += 10.0;
    EXPECT_NEAR(manager->animationTime(now), pausedAt, 1e-6) << "still while paused";

    manager->setPaused(false);
    EXPECT_NEAR(manager->getPausedTime(), 10.0, 1e-6);
    const double resumedAt = manager->animationTime(now);
    EXPECT_NEAR(resumedAt, pausedAt, 1e-6) << "resumes where it stood, not 10 seconds later";
    now += 0.5;
    EXPECT_NEAR(manager->animationTime(now), resumedAt + 0.5, 1e-6);
    // A second pause adds to the first.
    manager->setPaused(true);
    now += 3.0;
    manager->setPaused(false);
    EXPECT_NEAR(manager->getPausedTime(), 13.0, 1e-6);
    EXPECT_NEAR(manager->animationTime(now), resumedAt + 0.5, 1e-6);

    manager->togglePaused();
    manager->togglePaused();
    EXPECT_FALSE(manager->isPaused());
    SceneClock::setTickSource(nullptr);
}

TEST(Animations, TheApplicationDrivesEveryObjectAtOnce)
{
    AnimatedContent first;
    AnimatedContent second;
    osg::ref_ptr<ARObject> one = new ARObject(first.root.get());
    osg::ref_ptr<ARObject> two = new ARObject(second.root.get());
    ARApplication application;
    application.registerObject(one.get());
    application.registerObject(two.get());

    application.toggleAllAnimations();
    EXPECT_FALSE(one->getPathAnimations()[0]->getPause());
    EXPECT_FALSE(two->getAnimationPause()->isPaused());
    application.setSimulationSpeed(-0.5);
    EXPECT_DOUBLE_EQ(two->getPathAnimations()[0]->getTimeMultiplier(), -0.5);
    application.rewindAllAnimations();
    EXPECT_TRUE(one->getPathAnimations()[0]->getPause());
    EXPECT_TRUE(two->getAnimationPause()->isPaused());
}
