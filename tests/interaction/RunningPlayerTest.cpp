// The player as a user meets it, in a running sample scene: the keyboard modes driven through the
// viewer's event queue (mode switches with their names and help panels, and every mode's keys on
// the subsystems they call), and mouse picking: pickables placed in front of the scene camera,
// clicked at the window position where they are drawn. (A click on a scene object running its
// actions, and on bare video running none: the interaction end-to-end test, with real X events.)
#include "../rendering/SampleApplication.h"

#include "NotifyCapture.h"
#include "SceneGraph.h"
#include "TemporaryFolder.h"
#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "effects/HUD.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARLayersKeyboardEventsHandler.h"
#include "interaction/ARMouseEventsHandler.h"
#include "interaction/KeyboardHelp.h"
#include "scene/ARLight.h"
#include "scene/ARObject.h"
#include "scene/ARPickable.h"
#include "settings/ConfigurationData.h"
#include "settings/MarkersData.h"
#include "settings/SceneData.h"
#include "tracking/ARMarkerNode.h"

#include <osg/ClipNode>
#include <osg/Geode>
#include <osg/ImageStream>
#include <osg/ShapeDrawable>
#include <osgText/Text>
#include <osgViewer/ViewerEventHandlers>

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
