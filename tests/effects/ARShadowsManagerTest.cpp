// The shadows manager: texture units, programs, refused settings, map size, modes, light frustum.
#include "effects/ARShadowsManager.h"
#include "effects/ShadowPrograms.h"
#include "scene/ARLight.h"

#include "Display.h"
#include "NotifyCapture.h"
#include "VisibleLines.h"

#include <gtest/gtest.h>
#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osg/GraphicsContext>
#include <osg/MatrixTransform>
#include <osg/Program>
#include <osg/ShapeDrawable>
#include <osg/TexEnvCombine>
#include <osg/Texture2D>
#include <osg/io_utils>

#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Novaro;
using NovaroTest::NotifyCapture;
using NovaroTest::saidPart;

namespace
{

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

} // namespace

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
