// The scene light: its place and direction, the light taken from a model, its attenuation and guides.
#include "scene/ARLight.h"
#include "app/ARApplication.h"
#include "osgART/Marker.h"
#include "tracking/ARMarkerNode.h"

#include <osg/Geode>
#include <osg/ShapeDrawable>
#include <osg/io_utils>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Novaro;

namespace
{

// Where the light shines, in its object's frame.
osg::Vec3d shiningDirection(const ARLight& light)
{
    osg::Vec3d direction =
        osg::Matrixd::transform3x3(osg::Vec3d(0.0, 0.0, -1.0), light.getLightTransform()->getMatrix());
    direction.normalize();
    return direction;
}

void expectNear(const osg::Vec3d& expected, const osg::Vec3d& actual)
{
    EXPECT_NEAR(0.0, (expected - actual).length(), 1e-6) << expected << " / " << actual;
}

std::vector<bool> guideStates(const ARLight& light)
{
    std::vector<bool> states;
    for (unsigned int child = 0; child < light.getGuides()->getNumChildren(); ++child)
        states.push_back(light.getGuides()->getValue(child));
    return states;
}

} // namespace

// The scene light: where its transform puts it and where it points, the light taken from a model,
// the attenuation steps, the guides shown for each kind of light, and a directional light lifted
// over a marker's content.

TEST(LightTest, LightsStandWhereTheyArePutKeepTheirAttenuationInRangeAndShowTheirGuides)
{
    // The guides are read from data/ relative to the current directory, as the player runs.
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
    osg::ref_ptr<ARLight> light = new ARLight(true);
    light->setPosition(80.0, 80.0, 80.0, 1.0);
    light->setDirection(1.0, 2.0, 3.0);
    // Turning keeps the place: rotation first, then translation.
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());
    osg::Vec3d wanted(1.0, 2.0, 3.0);
    wanted.normalize();
    expectNear(wanted, shiningDirection(*light));
    // The OpenGL light of a directional light comes from the opposite side.
    const osg::Vec4 position = light->getLight()->getPosition();
    EXPECT_EQ(0.0f, position.w());
    osg::Vec3d towardsLight = osg::Matrixd::transform3x3(osg::Vec3d(position.x(), position.y(), position.z()),
                                                         light->getLightTransform()->getMatrix());
    towardsLight.normalize();
    expectNear(-wanted, towardsLight);

    // A further turn about the light's own X axis leaves it in place; a directional light does
    // not move.
    light->setDirection(1.0, 0.0, 0.0);
    light->rotate(osg::Quat(osg::PI_2, osg::X_AXIS));
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());
    expectNear(osg::Vec3d(0.0, 1.0, 0.0), shiningDirection(*light));
    light->move(5.0, 0.0, 0.0);
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());

    // A light from a model takes its parent transform and number.
    osg::ref_ptr<osg::Light> modelLight = new osg::Light(2); // directional: at (0, 0, 1, 0)
    modelLight->setSpotCutoff(20.0f);
    osg::ref_ptr<osg::LightSource> source = new osg::LightSource;
    source->setLight(modelLight.get());
    const osg::Quat turn(0.5, osg::Y_AXIS);
    osg::ref_ptr<osg::MatrixTransform> parent =
        new osg::MatrixTransform(osg::Matrixd::rotate(turn) * osg::Matrixd::translate(1.0, 2.0, 3.0));
    parent->addChild(source.get());
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->addChild(parent.get());

    osg::ref_ptr<ARLight> fromModel = new ARLight(model.get());
    EXPECT_TRUE(!fromModel->isFromXMLData() && fromModel->isDirectional());
    EXPECT_EQ(std::make_tuple(source.get(), parent.get(), 7, 180.0f, 4u),
              std::make_tuple(fromModel->getLightSource(), fromModel->getLightTransform(),
                              modelLight->getLightNum(), modelLight->getSpotCutoff(), parent->getNodeMask()));
    expectNear(osg::Vec3d(1.0, 2.0, 3.0), fromModel->getLightTranslation().getTrans());
    EXPECT_NEAR(0.0, (fromModel->getLightRotation().getRotate() - turn).length(), 1e-6);

    osg::ref_ptr<osg::Group> unlit = new osg::Group;
    unlit->addChild(new osg::Geode);
    osg::ref_ptr<ARLight> none = new ARLight(unlit.get());
    EXPECT_EQ(nullptr, none->getLightSource());
    none->move(1.0, 0.0, 0.0);
    none->changeAttenuation(0.1f);
    none->showGuides(true);

    osg::ref_ptr<osg::Group> loose = new osg::Group;
    loose->addChild(new osg::LightSource);
    osg::ref_ptr<ARLight> orphan = new ARLight(loose.get());
    EXPECT_EQ(nullptr, orphan->getLightTransform());
    orphan->setPosition(1.0, 2.0, 3.0, 1.0);

    // A marker lifts a directional light over its content.
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = new ARMarkerNode(new osgART::Marker("m"), 0, nullptr, 0, &application);
    node->setupLayers();
    osg::ref_ptr<ARObject> tower = new ARObject(new osg::Geode);
    static_cast<osg::Geode*>(tower->getChild(0))
        ->addDrawable(
            new osg::ShapeDrawable(new osg::Box(osg::Vec3(0.0f, 0.0f, 20.0f), 10.0f, 10.0f, 40.0f)));
    tower->setScale(1.0f, 1.0f, 1.0f);
    osg::ref_ptr<ARLight> sun = new ARLight(true);
    sun->setPosition(80.0, 80.0, 80.0, 1.0);
    osg::ref_ptr<ARLight> lamp = new ARLight(false);
    lamp->setPosition(5.0, 5.0, 5.0, 1.0);

    ASSERT_TRUE(node->addObject(sun.get(), 0) && node->addObject(lamp.get(), 0) &&
                node->addObject(tower.get(), 0));
    // Lights hang beside the layers, directly under the tracked transform: no fitting.
    EXPECT_EQ(node->getTrackedTransform(), sun->getParent(0));
    expectNear(osg::Vec3d(0.0, 0.0, 60.0), sun->getLightTranslation().getTrans());
    expectNear(osg::Vec3d(5.0, 5.0, 5.0), lamp->getLightTranslation().getTrans());

    // A positional light moves and refuses degenerate input.
    light = new ARLight(false);
    light->setPosition(10.0, 20.0, 30.0, 2.0);
    light->move(1.0, 2.0, 3.0);
    expectNear(osg::Vec3d(6.0, 12.0, 18.0), light->getLightTransform()->getMatrix().getTrans());
    const osg::Vec3d direction = shiningDirection(*light);
    light->setPosition(1.0, 1.0, 1.0, 0.0);
    light->setDirection(0.0, 0.0, 0.0);
    expectNear(osg::Vec3d(6.0, 12.0, 18.0), light->getLightTransform()->getMatrix().getTrans());
    expectNear(direction, shiningDirection(*light));

    // The attenuation stays between the step and one.
    const std::vector<std::tuple<float, float, float>> cases = {
        {0.02f, 0.025f, 0.025f}, {0.5f, 0.025f, 0.475f}, {0.99f, -0.025f, 1.0f}};
    for (const auto& each : cases)
    {
        light->getLight()->setConstantAttenuation(std::get<0>(each));
        light->changeAttenuation(std::get<1>(each));
        EXPECT_FLOAT_EQ(std::get<2>(each), light->getLight()->getConstantAttenuation());
    }

    // The guides show the light's kind and the axes.
    light = new ARLight(false);
    ASSERT_TRUE(light->getGuides() && light->getGuides()->getNumChildren() == 4u);
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
    light->showGuides(true);
    EXPECT_EQ(std::vector<bool>({false, true, false, true}), guideStates(*light));
    light->setSpotCutoff(30.0f);
    light->makePositional();
    EXPECT_EQ(std::vector<bool>({false, false, true, true}), guideStates(*light));
    light->makeDirectional();
    EXPECT_EQ(std::vector<bool>({true, false, false, true}), guideStates(*light));
    light->toggleGuides();
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
    // Hidden guides stay hidden when the light changes kind.
    light->makePositional();
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
}
