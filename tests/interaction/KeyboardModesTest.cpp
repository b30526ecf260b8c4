// The keyboard modes of a running player: mode switches with their help panels, and every mode's keys.
#include "RunningPlayer.h"

#include "NotifyCapture.h"
#include "SceneGraph.h"
#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "effects/HUD.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARLayersKeyboardEventsHandler.h"
#include "scene/ARLight.h"
#include "scene/ARObject.h"
#include "settings/ConfigurationData.h"
#include "settings/MarkersData.h"
#include "settings/SceneData.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osgText/Text>
#include <osgViewer/ViewerEventHandlers>

using namespace Novaro;
using namespace NovaroTest;
typedef osgGA::GUIEventAdapter Key;

namespace
{

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
