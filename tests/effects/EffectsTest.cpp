// The effects on the player's picture, each with its manager: clipping, shadows, head-up displays.
// Clipping: where the squares and the cuts go as planes move and turn, the selection and
// visibility rules, and the content updated once while clipped.
// The shadows manager: the texture-unit table, the programs moved onto those units (and compiled
// by the OpenGL driver at hand), refused settings, the map size from the light's detail, and the
// graph that direct and deferred mode switch between.
// The head-up displays: where panels go and how text resizes them, timed panels hiding on their
// own, and what a real window shows of text, video and the keys panel.
#include "effects/ARClippingManager.h"
#include "effects/ARShadowsManager.h"
#include "effects/ARTimerEventsHandler.h"
#include "effects/HUDList.h"
#include "effects/HelpPanel.h"
#include "effects/ShadowPrograms.h"
#include "scene/ARLight.h"
#include "scene/SceneClock.h"

#include "Display.h"
#include "NotifyCapture.h"
#include "VisibleLines.h"

#include <gtest/gtest.h>
#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osg/GraphicsContext>
#include <osg/ImageStream>
#include <osg/MatrixTransform>
#include <osg/Program>
#include <osg/ShapeDrawable>
#include <osg/TexEnvCombine>
#include <osg/Texture2D>
#include <osg/io_utils>
#include <osgUtil/UpdateVisitor>
#include <osgViewer/Viewer>

#include <algorithm>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Novaro;
using NovaroTest::NotifyCapture;
using NovaroTest::saidPart;

namespace
{

// The plane's equation, then the centre and normal of its square where its handle puts them.
struct PlacedPlane
{
    osg::Vec4d equation;
    osg::Vec3d centre, normal;
};

PlacedPlane place(const ARClippingManager& manager, int index)
{
    const ARPickableClippingPlane* visual = manager.getPlaneVisual(index);
    const osg::Drawable* square = visual->getChild(0)->asGeode()->getDrawable(0);
    return {manager.getClipPlane(index)->getClipPlane(),
            osg::Vec3d(square->getBoundingBox().center()) * visual->getMatrix(),
            osg::Matrixd::transform3x3(osg::Vec3d(manager.getPlane(index).normal), visual->getMatrix())};
}

void expectPlaced(const ARClippingManager& manager, int index, const osg::Vec4d& equation,
                  const osg::Vec3d& centre)
{
    const PlacedPlane placed = place(manager, index);
    EXPECT_LT((placed.equation - equation).length(), 1e-3) << placed.equation;
    EXPECT_LT((placed.centre - centre).length(), 1e-3) << placed.centre;
}

std::vector<int> visiblePlanes(const ARClippingManager& manager)
{
    std::vector<int> visible;
    for (int index = 0; index < ARClippingManager::PLANE_COUNT; ++index)
        if (manager.isPlaneVisible(index))
            visible.push_back(index);
    return visible;
}

typedef ARShadowsManager M;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Where the shadow map takes the light from: its position through its transform and its object's.
osg::Vec4 effectiveLightPosition(const ARLight& light)
{
    return light.getLight()->getPosition() * light.getLightTransform()->getMatrix() * light.getMatrix();
}

bool usableDirection(const osg::Vec4& position)
{
    const osg::Vec3 direction(position.x(), position.y(), position.z());
    return !position.isNaN() && position.w() == 0.0f && direction.length2() > 0.5f;
}

osg::ref_ptr<ARObject> boxObject(const std::string& name, const osg::Vec3& at)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 10.0f)));
    osg::ref_ptr<ARObject> object = new ARObject(geode.get());
    object->setName(name);
    object->setScale(1.0f, 1.0f, 1.0f);
    object->setTranslation(at.x(), at.y(), at.z());
    return object;
}

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

// The panel's rectangle in window pixels: position transform, anchor offset, plane extent.
struct Rectangle
{
    float left, right, bottom, top;
};

Rectangle panelRectangle(HUD* hud)
{
    TextPanel* panel = hud->getTextPanel();
    const osg::Vec3 origin =
        osg::Vec3(hud->getPositionTransform()->getPosition()) + panel->getMatrix().getTrans();
    BackgroundPlane* plane = panel->getBackgroundPlane();
    return {origin.x(), origin.x() + plane->getWidth(), origin.y() - plane->getHeight(), origin.y()};
}

// Reads the window back after every HUD has drawn: a last post-render camera that clears nothing.
class WindowCapture : public osg::Camera::DrawCallback
{
public:
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::Viewport* viewport = renderInfo.getCurrentCamera()->getViewport();
        image->readPixels(0, 0, static_cast<int>(viewport->width()), static_cast<int>(viewport->height()),
                          GL_RGB, GL_UNSIGNED_BYTE);
    }
    osg::ref_ptr<osg::Image> image = new osg::Image;
};

struct Box
{
    int left = 1 << 30, bottom = 1 << 30, right = -1, top = -1;
    bool empty() const { return right < 0; }
};

// Bounding box (window pixels, y upwards) of the pixels that pass the test.
template <typename Test> Box pixelsWhere(const osg::Image* image, Test test)
{
    Box box;
    for (int y = 0; y < image->t(); ++y)
        for (int x = 0; x < image->s(); ++x)
            if (test(image->data(x, y)))
                box = {std::min(box.left, x), std::min(box.bottom, y), std::max(box.right, x),
                       std::max(box.top, y)};
    return box;
}

// The pixels that differ from the black background.
Box drawnPixels(const osg::Image* image)
{
    return pixelsWhere(image, [](const unsigned char* p) { return p[0] > 40 || p[1] > 40 || p[2] > 40; });
}

osg::Vec3i colourAt(const osg::Image* image, int x, int y)
{
    const unsigned char* pixel = image->data(x, y);
    return osg::Vec3i(pixel[0], pixel[1], pixel[2]);
}

class HUDRenderingTest : public HUDTest
{
protected:
    void SetUp() override
    {
        HUDTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        capture = new WindowCapture;
        osg::ref_ptr<osg::Camera> camera = new osg::Camera;
        camera->setGraphicsContext(HUD::firstWindow(viewer.get()));
        camera->setViewport(0, 0, WindowWidth, WindowHeight);
        camera->setRenderOrder(osg::Camera::POST_RENDER, 1000);
        camera->setClearMask(0);
        camera->setFinalDrawCallback(capture.get());
        viewer->addSlave(camera.get(), false);
    }

    const osg::Image* render()
    {
        frames(2);
        return capture->image.get();
    }

    osg::ref_ptr<WindowCapture> capture;
};

} // namespace

TEST(ClippingManager, PlanesStartOnTheBoxFacesAndFollowTheirMovesAndTurns)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    const osg::Vec4d equations[] = {{-1, 0, 0, 40}, {1, 0, 0, 40},  {0, -1, 0, 40},
                                    {0, 1, 0, 40},  {0, 0, -1, 80}, {0, 0, 1, 0}};
    const osg::Vec3d centres[] = {{40, 0, 40},  {-40, 0, 40}, {0, 40, 40},
                                  {0, -40, 40}, {0, 0, 80},   {0, 0, 0}};
    for (int index = 0; index < ARClippingManager::PLANE_COUNT; ++index)
    {
        SCOPED_TRACE(index);
        expectPlaced(*manager, index, equations[index], centres[index]);
        EXPECT_EQ(static_cast<unsigned int>(index), manager->getClipPlane(index)->getClipPlaneNum());
    }
    manager->setAllPlanesActive(true);

    // Outwards grows the box: the right cut goes to x = 41, the floor cut to z = -1.
    manager->selectPlane(0);
    manager->movePlane(1.0f);
    expectPlaced(*manager, 0, {-1, 0, 0, 41}, {41, 0, 40});
    manager->selectPlane(5);
    manager->movePlane(1.0f);
    expectPlaced(*manager, 5, {0, 0, 1, 1}, {0, 0, -1});

    // The top turns about the y axis through the marker's origin and then moves along its
    // turned normal; turning back leaves it lowered.
    manager->selectPlane(4);
    manager->rotatePlane(90.0f);
    expectPlaced(*manager, 4, {-1, 0, 0, 80}, {80, 0, 0});
    manager->movePlane(-30.0f);
    expectPlaced(*manager, 4, {-1, 0, 0, 50}, {50, 0, 0});
    manager->rotatePlane(-90.0f);
    expectPlaced(*manager, 4, {0, 0, -1, 50}, {0, 0, 50});

    // Whatever the steps, the square stays in the cut and faces the kept side.
    manager->selectPlane(2);
    for (const float step : {30.0f, -12.5f, 45.0f, -100.0f, 7.0f})
    {
        manager->rotatePlane(step);
        manager->movePlane(step / 2.0f);
        const PlacedPlane placed = place(*manager, 2);
        const osg::Vec3d normal(placed.equation.x(), placed.equation.y(), placed.equation.z());
        EXPECT_NEAR(0.0, normal * placed.centre + placed.equation.w(), 1e-3) << step;
        EXPECT_LT((normal - placed.normal).length(), 1e-3) << step;
    }
}

TEST(ClippingManager, OnlyActivePlanesAreSelectedShownAndCut)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    manager->getPlaneVisual(3)->onLeftMouseClick();
    EXPECT_EQ(-1, manager->getSelectedPlane());
    manager->setPlaneActive(true, 3);
    manager->setPlaneActive(true, 3);
    manager->togglePlaneActive(4);
    EXPECT_EQ(2u, manager->getClipNode()->getNumClipPlanes());
    manager->getPlaneVisual(3)->onLeftMouseClick();
    EXPECT_EQ(3, manager->getSelectedPlane());
    // Asking for an inactive plane drops the selection; nothing moves without one.
    manager->selectPlane(0);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    manager->movePlane(5.0f);
    manager->rotatePlane(5.0f);
    EXPECT_EQ(40.0f, manager->getPlane(3).distance);
    EXPECT_EQ(0.0f, manager->getPlane(3).angle);

    manager->showPlanes(true);
    EXPECT_EQ((std::vector<int>{3, 4}), visiblePlanes(*manager));
    manager->togglePlaneVisible(0);
    manager->togglePlaneVisible(4);
    EXPECT_EQ((std::vector<int>{3}), visiblePlanes(*manager));
    // Deactivating the selected plane hides it and drops the selection.
    manager->selectPlane(3);
    manager->togglePlaneActive(3);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    EXPECT_EQ(manager->getClipPlane(4), manager->getClipNode()->getClipPlane(0u));

    manager->setAllPlanesActive(true);
    manager->showPlanes(true);
    EXPECT_EQ(6u, visiblePlanes(*manager).size());
    manager->showPlanes(false);
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    manager->selectPlane(1);
    manager->setAllPlanesActive(false);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    EXPECT_EQ(0u, manager->getClipNode()->getNumClipPlanes());

    manager->toggleCapping();
    EXPECT_TRUE(!manager->getCappingSwitch()->getValue(0) && manager->getCappingSwitch()->getValue(1));
    manager->toggleCapping();
    EXPECT_TRUE(manager->getCappingSwitch()->getValue(0) && !manager->getCappingSwitch()->getValue(1));
}

TEST(ClippingManager, ClippedContentIsUpdatedOncePerFrame)
{
    struct Counter : osg::NodeCallback
    {
        void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
        {
            ++calls;
            traverse(node, visitor);
        }
        int calls = 0;
    };
    osg::ref_ptr<Counter> counter = new Counter;
    osg::ref_ptr<osg::Group> content = new osg::Group, plain = new osg::Group, root = new osg::Group;
    content->setUpdateCallback(counter.get());
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    manager->toggleCapping();
    manager->setClippedNode(content.get());
    root->addChild(manager.get());
    osgUtil::UpdateVisitor update;
    root->accept(update);
    EXPECT_EQ(1, counter->calls) << "under the clip node only";
    // Also drawn plain, as a marker's content is: updated there.
    plain->addChild(content.get());
    root->addChild(plain.get());
    root->accept(update);
    EXPECT_EQ(2, counter->calls);
}

TEST(ShadowsManager, TextureUnitsFollowHostModeTechniqueAndOpacityMaps)
{
    const int SM = M::AR_SHADOW_MAP, SSM = M::AR_SOFT_SHADOW_MAP, STSM = M::AR_STANDARD_SHADOW_MAP,
              VDSM = M::AR_VIEW_DEPENDENT_SHADOW_MAP;
    const int DIRECT = M::MODE_DIRECT, DEFERRED = M::MODE_DEFERRED;
    const auto expectUnits = [](int hint, int mode, int technique, const std::vector<unsigned int>& opacity,
                                unsigned int base, unsigned int shadow, bool library)
    {
        const M::TextureUnits units = M::textureUnitsFor(hint, mode, technique, opacity);
        EXPECT_EQ(std::make_tuple(true, base, shadow, library),
                  std::make_tuple(units.valid, units.base, units.shadow, units.libraryUnits))
            << "hint " << hint << ", mode " << mode << ", technique " << technique;
    };
    // SketchUp: its models use unit 0 for something else.
    expectUnits(1, DIRECT, SM, {}, 1, 2, false);
    expectUnits(1, DIRECT, VDSM, {}, 1, 2, false);
    expectUnits(1, DEFERRED, SSM, {}, 1, 2, false);
    expectUnits(1, DEFERRED, STSM, {}, 0, 1, false);
    // 3ds Max and Maya: deferred shadow maps avoid the opacity map's unit.
    expectUnits(2, DIRECT, SSM, {1}, 0, 3, false);
    expectUnits(2, DEFERRED, SM, {}, 0, 1, false);
    expectUnits(2, DEFERRED, SM, {1}, 1, 3, false);
    expectUnits(3, DEFERRED, SSM, {2, 1}, 2, 1, false);
    expectUnits(3, DEFERRED, VDSM, {1}, 0, 1, false);
    // No host, Vectorworks, Scia: the standard technique keeps the library's own units.
    expectUnits(0, DIRECT, SM, {}, 0, 3, false);
    expectUnits(4, DIRECT, STSM, {}, 0, 3, true);
    expectUnits(5, DEFERRED, VDSM, {1}, 0, 1, false);
    expectUnits(0, DEFERRED, STSM, {}, 0, 1, true);
    NotifyCapture capture;
    M::textureUnitsFor(2, DEFERRED, SM, {2, 1});
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: more than 1 opacity map unit found."));
    EXPECT_FALSE(M::textureUnitsFor(6, DIRECT, SM, {}).valid);
}

TEST(ShadowsManager, ProgramsReadTheChosenUnitsOnly)
{
    for (bool shadowOnly : {false, true})
        for (const std::string& program : {shadowMapProgram(shadowOnly), softShadowMapProgram(shadowOnly)})
        {
            const std::string placed = placeProgramOnUnits(program, 1, 3);
            EXPECT_TRUE(contains(placed, "gl_TexCoord[1].xy") && contains(placed, "gl_TexCoord[3]") &&
                        !contains(placed, "gl_TexCoord[0]"))
                << placed;
            // Nothing to move for the library's own layout.
            EXPECT_EQ(program, placeProgramOnUnits(program, 0, 1));
        }
}

TEST(ShadowsManager, ProgramsCompileAndLinkOnThisDriver)
{
    NOVARO_REQUIRE_DISPLAY();
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->width = 64;
    traits->height = 64;
    traits->pbuffer = true;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    ASSERT_TRUE(context.valid() && context->realize());
    context->makeCurrent();
    osg::State& state = *context->getState();
    state.initializeExtensionProcs();
    const std::vector<std::string> programs = {
        placeProgramOnUnits(shadowMapProgram(false), 1, 3), placeProgramOnUnits(shadowMapProgram(true), 1, 3),
        placeProgramOnUnits(softShadowMapProgram(false), 1, 3),
        placeProgramOnUnits(softShadowMapProgram(true), 1, 3), viewDependentShadowOnlyProgram()};
    for (const std::string& text : programs)
    {
        osg::ref_ptr<osg::Program> program = new osg::Program;
        program->addShader(new osg::Shader(osg::Shader::FRAGMENT, text));
        program->compileGLObjects(state);
        osg::Program::PerContextProgram* linked = program->getPCP(state);
        ASSERT_TRUE(linked);
        std::string log;
        linked->getInfoLog(log);
        EXPECT_TRUE(linked->isLinked()) << log << "\n" << text;
    }
    context->releaseContext();
    context->close();
}

TEST(ShadowsManager, RefusedValuesKeepTheSettingWithTheirWarning)
{
    osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
    manager->setMode(2);
    manager->setCompatibility(6);
    manager->setTechnique(5);
    EXPECT_EQ(M::MODE_DIRECT, manager->getMode());
    EXPECT_EQ(0, manager->getCompatibility());
    EXPECT_EQ(nullptr, manager->getCurrentTechnique());

    // Initialising without a technique, or without an application, changes nothing; a shadow
    // volume, which this platform's library lacks, falls back to the shadow map.
    manager->initTechnique();
    EXPECT_EQ(nullptr, manager->getShadowedScene()->getShadowTechnique());
    manager->setTechnique(M::AR_SHADOW_VOLUME);
    EXPECT_EQ(M::AR_SHADOW_MAP, manager->getTechnique());
    EXPECT_TRUE(dynamic_cast<osgShadow::ShadowMap*>(manager->getCurrentTechnique()));
    EXPECT_EQ(manager->getCurrentTechnique(), manager->getShadowedScene()->getShadowTechnique());
    manager->initTechnique();
}

TEST(ShadowsManager, MapSizeFollowsTheLightsDetailUntilDisabled)
{
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR)); // the light's guides are read from data/
    osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
    osg::ref_ptr<ARLight> light = new ARLight(true);
    const std::vector<std::pair<int, unsigned int>> sizes = {{0, 1024}, {1, 2048}, {2, 4096}, {3, 1024}};
    for (const auto& each : sizes)
    {
        light->setDetail(each.first);
        manager->setLight(light.get());
        EXPECT_EQ(each.second, manager->getTextureSize());
    }
    manager->setLight(nullptr);
    EXPECT_EQ(light.get(), manager->getLight());
    manager->setLight(light.get());
    manager->setMode(M::MODE_DEFERRED);
    manager->setTechnique(M::AR_SOFT_SHADOW_MAP);
    manager->disable();
    EXPECT_FALSE(manager->isEnabled());
    EXPECT_EQ(1024u, manager->getTextureSize());
    EXPECT_EQ(0u, manager->getNumChildren());
    EXPECT_EQ(M::MODE_DIRECT, manager->getMode());
    EXPECT_EQ(M::AR_SHADOW_MAP, manager->getTechnique());
    EXPECT_EQ(nullptr, manager->getShadowedScene()->getShadowTechnique());
}

TEST(ShadowsManager, ModesSwitchBetweenTheShadowedSceneAndTheDeferredGroup)
{
    osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
    osg::ref_ptr<osg::Group> first = new osg::Group, second = new osg::Group;
    manager->setShadowedGroup(first.get());
    manager->setShadowedGroup(second.get());
    for (osg::Group* parent : {manager->getShadowedContentGroup(), manager->getDeferredGroup()})
    {
        EXPECT_FALSE(parent->containsNode(first.get()));
        EXPECT_TRUE(parent->containsNode(second.get()));
    }
    EXPECT_EQ(0u, first->getNumParents());
    EXPECT_TRUE(manager->getShadowCamera()->containsNode(manager->getShadowedScene()));
    osg::Switch* modes = manager->getModeSwitch();
    EXPECT_TRUE(modes->getChildValue(manager->getShadowedScene()));
    EXPECT_FALSE(modes->getChildValue(manager->getDeferredGroup()));
    manager->setMode(M::MODE_DEFERRED);
    EXPECT_FALSE(modes->getChildValue(manager->getShadowedScene()));
    EXPECT_TRUE(modes->getChildValue(manager->getDeferredGroup()));
}

TEST(ShadowsManager, OpacityMapMovesTheDeferredShadowMapToUnitThree)
{
    // A model with textures on units 0 and 1, the one on unit 1 combined as an opacity map.
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::StateSet* state = geometry->getOrCreateStateSet();
    state->setTextureAttributeAndModes(0, new osg::Texture2D);
    state->setTextureAttributeAndModes(1, new osg::Texture2D);
    state->setTextureAttribute(1, new osg::TexEnvCombine);
    geode->addDrawable(geometry.get());
    osg::ref_ptr<osg::Group> markers = new osg::Group;
    markers->addChild(geode.get());

    osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
    manager->setShadowedGroup(markers.get());
    manager->setCompatibility(M::COMPATIBILITY_MAX);
    manager->setMode(M::MODE_DEFERRED);
    manager->setTechnique(M::AR_SHADOW_MAP);
    manager->computeTextureUnits();
    EXPECT_EQ(std::vector<unsigned int>({2, 3, 4, 5, 6, 7}), manager->getAvailableUnits());
    EXPECT_EQ(std::vector<unsigned int>({1}), manager->getOpacityUnits());
    manager->initTechnique();
    EXPECT_EQ(3u, static_cast<osgShadow::ShadowMap*>(manager->getCurrentTechnique())->getTextureUnit());
}

TEST(ShadowsManager, DegenerateLightsAndFarObjectsAreKeptOutOfTheShadowFrustum)
{
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
    // A model's light whose parent transform has scale 0 (suns of scale 0 or turned towards NaN
    // are played end to end): its direction is mended, and said once though guarded twice.
    osg::ref_ptr<osg::MatrixTransform> squashed = new osg::MatrixTransform(osg::Matrix::scale(0.0, 0.0, 0.0));
    squashed->addChild(new osg::LightSource); // its light shines along -Z, from (0, 0, 1, 0)
    osg::ref_ptr<ARLight> modelled = new ARLight(squashed.get());
    modelled->setName("modelled");
    modelled->setScale(1.0f, 1.0f, 1.0f);
    ASSERT_FALSE(usableDirection(effectiveLightPosition(*modelled)));
    {
        osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
        manager->setLight(modelled.get());
        NotifyCapture capture;
        manager->guardShadowBounds();
        manager->guardShadowBounds();
        EXPECT_TRUE(usableDirection(effectiveLightPosition(*modelled))) << effectiveLightPosition(*modelled);
        EXPECT_EQ(1u, capture.lines().size()) << capture.text();
        EXPECT_TRUE(saidPart(capture, " WARNING: light modelled "));
    }

    // Objects beyond reach stop casting, hidden or not, and stay out when shown again; the others
    // keep casting, and a well-placed light says nothing.
    osg::ref_ptr<ARShadowsManager> manager = new ARShadowsManager;
    osg::ref_ptr<ARLight> sun = new ARLight(true);
    sun->setScale(1.0f, 1.0f, 1.0f);
    manager->setLight(sun.get());
    osg::ref_ptr<osg::Group> markers = new osg::Group;
    osg::ref_ptr<ARObject> near = boxObject("near", osg::Vec3(0.0f, 0.0f, 50.0f));
    osg::ref_ptr<ARObject> far = boxObject("far", osg::Vec3(1e38f, -1e38f, 0.0f));
    osg::ref_ptr<ARObject> hidden = boxObject("hidden", osg::Vec3(0.0f, 2e7f, 0.0f));
    hidden->hide();
    for (ARObject* object : {near.get(), far.get(), hidden.get()})
        markers->addChild(object);
    markers->addChild(far.get()); // a second path to the same object
    manager->setShadowedGroup(markers.get());
    NotifyCapture capture;
    manager->guardShadowBounds();
    EXPECT_EQ(2, static_cast<int>(capture.lines().size())) << capture.text();
    EXPECT_TRUE(saidPart(capture, " WARNING: object far reaches from ("));
    EXPECT_TRUE(saidPart(capture, " WARNING: object hidden reaches from ("));
    hidden->show();
    for (ARObject* object : {far.get(), hidden.get()})
        EXPECT_EQ(0u, object->getNodeMask() & M::CASTS_SHADOW_MASK) << object->getName();
    EXPECT_NE(0u, hidden->getNodeMask() & M::RECEIVES_SHADOW_MASK);
    EXPECT_EQ(0xFFFFFFFFu, near->getNodeMask());

    osg::ComputeBoundsVisitor casting;
    casting.setTraversalMask(M::CASTS_SHADOW_MASK);
    markers->accept(casting);
    EXPECT_LT(casting.getBoundingBox().radius(), 100.0f);
}

TEST_F(HUDTest, PositionsPlaceThePanelOnAGridInsideTheWindow)
{
    const float width = WindowWidth, height = WindowHeight;
    for (int position = 0; position < 9; ++position)
    {
        SCOPED_TRACE("position " + std::to_string(position));
        const int id = huds.addText("Some status text", position);
        ASSERT_EQ(position, id);
        const Rectangle r = panelRectangle(huds.getHUD(id));
        EXPECT_GT(r.right - r.left, 20.0f);

        // Columns: left edge, centre or right edge; rows: top edge, middle or bottom edge.
        const float across[] = {r.left, (r.left + r.right) / 2, r.right};
        const float down[] = {r.top, (r.bottom + r.top) / 2, r.bottom};
        EXPECT_FLOAT_EQ(width * (position % 3) / 2, across[position % 3]);
        EXPECT_FLOAT_EQ(height * (2 - position / 3) / 2, down[position / 3]);
    }
    // Outside the grid: the top-left corner.
    for (int outside : {-1, 9})
    {
        const Rectangle r = panelRectangle(huds.getHUD(huds.addText("Some status text", outside)));
        EXPECT_FLOAT_EQ(0.0f, r.left) << outside;
        EXPECT_FLOAT_EQ(height, r.top) << outside;
    }
}

TEST_F(HUDTest, NewTextResizesThePlaneAndKeepsTheAnchor)
{
    const int id = huds.addText("Short", 8);
    HUD* hud = huds.getHUD(id);
    BackgroundPlane* plane = hud->getTextPanel()->getBackgroundPlane();
    const float shortWidth = plane->getWidth();

    hud->setText("A much longer status message than before");
    const osg::BoundingBox& box = hud->getTextPanel()->getTextDrawable()->getBoundingBox();
    const float textWidth = box.xMax() - box.xMin();
    EXPECT_GT(textWidth, 200.0f) << "font not loaded?";
    EXPECT_FLOAT_EQ(textWidth + 20.0f, plane->getWidth());
    EXPECT_FLOAT_EQ(box.yMax() - box.yMin() + 20.0f, plane->getHeight());
    EXPECT_GT(plane->getWidth(), shortWidth);

    // Bottom-right anchored: the wider panel grows to the left and still ends at the corner.
    const Rectangle r = panelRectangle(hud);
    EXPECT_FLOAT_EQ(static_cast<float>(WindowWidth), r.right);
    EXPECT_FLOAT_EQ(0.0f, r.bottom);
}

TEST_F(HUDTest, WithoutAWindowNothingIsAddedAndNothingBreaks)
{
    osg::ref_ptr<osgViewer::Viewer> windowless = new osgViewer::Viewer;
    HUDList list;
    list.setViewer(windowless.get());
    EXPECT_TRUE(list.init());

    EXPECT_EQ(-1, list.addText("Starting...", 0));
    EXPECT_EQ(0u, list.getNumHUDs());

    // Status updates on the missing HUD go nowhere without harm.
    EXPECT_EQ(nullptr, list.getHUD(-1));
    list.setText(-1, "x");
    list.setTimed(-1, true);
    list.show(-1);
    list.hide(0);

    list.showVideo(nullptr);
    list.closeVideo();
    list.toggleVideoPanel();
    EXPECT_EQ(nullptr, list.getVideoHUD());
    EXPECT_EQ(-1, HUDList().addText("x", 0));

    osg::ref_ptr<HUD> orphan = new HUD(nullptr);
    orphan->setTimed(true);
    orphan->show();
    EXPECT_TRUE(orphan->isShown());
}

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

TEST_F(HUDRenderingTest, TextIsDrawnInsideItsPanelAtItsPosition)
{
    for (int position : {0, 4, 8})
    {
        SCOPED_TRACE("position " + std::to_string(position));
        const int id = huds.addText("Starting...", position);
        const osg::Image* image = render();
        ASSERT_EQ(WindowWidth, image->s());

        HUD* hud = huds.getHUD(id);
        const osg::Vec3 origin = osg::Vec3(hud->getPositionTransform()->getPosition()) +
                                 hud->getTextPanel()->getMatrix().getTrans();
        const BackgroundPlane* plane = hud->getTextPanel()->getBackgroundPlane();
        const Box drawn = drawnPixels(image);
        ASSERT_FALSE(drawn.empty());
        // Glyphs lie within the panel, inside its margins (antialiasing may touch one pixel more).
        EXPECT_GE(drawn.left, origin.x() + 10 - 1);
        EXPECT_LE(drawn.right, origin.x() + plane->getWidth() - 10 + 1);
        EXPECT_LE(drawn.top, origin.y() - 10 + 1);
        EXPECT_GE(drawn.bottom, origin.y() - plane->getHeight() + 10 - 1);
        // Most of the panel's text area is covered by the glyphs' extent.
        EXPECT_GT(drawn.right - drawn.left, (plane->getWidth() - 20) * 0.8f);

        huds.hide(id);
        EXPECT_TRUE(drawnPixels(render()).empty()) << "a hidden HUD still draws";
    }
}

TEST_F(HUDRenderingTest, VideoCoversTheWindowUprightUnderTheText)
{
    huds.showVideo(nullptr);
    EXPECT_TRUE(console.printed("WARNING: empty imagestream, nothing will be created."));
    HUD* video = huds.getVideoHUD();
    ASSERT_NE(nullptr, video);

    // Rows are stored top first: the upper half of the picture is red, the lower half blue.
    osg::ref_ptr<osg::ImageStream> stream = new osg::ImageStream;
    stream->allocateImage(64, 64, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int row = 0; row < 64; ++row)
        for (int column = 0; column < 64; ++column)
        {
            unsigned char* pixel = stream->data(column, row);
            pixel[0] = row < 32 ? 255 : 0;
            pixel[1] = 0;
            pixel[2] = row < 32 ? 0 : 255;
        }

    const int id = huds.addText("Over the video", 0);
    huds.showVideo(new osg::ImageStream);
    huds.removeVideos();
    huds.showVideo(stream.get());
    EXPECT_EQ(video, huds.getVideoHUD()) << "one video HUD is reused";
    const osg::Image* image = render();
    EXPECT_EQ(osg::Vec3i(255, 0, 0), colourAt(image, WindowWidth - 10, WindowHeight - 10));
    EXPECT_EQ(osg::Vec3i(255, 0, 0), colourAt(image, WindowWidth / 2, WindowHeight * 3 / 4));
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(image, 10, 10));
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(image, WindowWidth / 2, WindowHeight / 4));

    // The status text draws over the video: the white glyphs are the only source of green.
    const BackgroundPlane* plane = huds.getHUD(id)->getTextPanel()->getBackgroundPlane();
    int glyphPixels = 0;
    for (int y = WindowHeight - static_cast<int>(plane->getHeight()); y < WindowHeight; ++y)
        for (int x = 0; x < static_cast<int>(plane->getWidth()); ++x)
            glyphPixels += colourAt(image, x, y).y() > 128 ? 1 : 0;
    EXPECT_GT(glyphPixels, 50);

    huds.toggleVideoPanel();
    EXPECT_EQ(osg::Vec3i(0, 0, 0), colourAt(render(), 10, 10));
    huds.toggleVideoPanel();
    // Closing some other stream leaves the video on; closing this one takes it off.
    huds.closeVideo(new osg::ImageStream);
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(render(), 10, 10));
    huds.closeVideo(stream.get());
    EXPECT_EQ(osg::Vec3i(0, 0, 0), colourAt(render(), 10, 10));
}

// The keys panel over a white picture (the tracking mode's thresholded image is mostly white):
// its backing is dark and its letters bright, so the text reads.
TEST_F(HUDRenderingTest, KeysPanelReadsOverAWhitePicture)
{
    viewer->getCamera()->setClearColor(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
    osg::ref_ptr<osg::ApplicationUsage> usage = new osg::ApplicationUsage;
    usage->addKeyboardMouseBinding("+", "Raise the tracking threshold");
    usage->addKeyboardMouseBinding("-", "Lower the tracking threshold");
    viewer->addEventHandler(new HelpPanel(usage.get(), 'h'));
    frames(1);
    viewer->getEventQueue()->keyPress('h');
    const osg::Image* image = render();
    // The panel is what is not the white picture.
    const Box panel = pixelsWhere(image, [](const unsigned char* p) { return p[0] < 250; });
    ASSERT_FALSE(panel.empty()) << "no panel shown";
    std::vector<int> levels;
    for (int y = panel.bottom; y <= panel.top; ++y)
        for (int x = panel.left; x <= panel.right; ++x)
            levels.push_back(image->data(x, y)[0]);
    std::sort(levels.begin(), levels.end());
    const int backing = levels[levels.size() / 2];
    const int letters = levels.back();
    EXPECT_LT(backing, 80) << "backing grey";
    // The panel's letters are drawn for a 1280-unit wide picture: in this small window they are a
    // few pixels high and their brightest pixels grey, still far above the backing.
    EXPECT_GT(letters - backing, 90) << "letters against backing";
}
