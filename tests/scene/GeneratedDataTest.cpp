#include "RunDirectory.h"
#include "SceneGraph.h"
#include "TemporaryFolder.h"
#include "scene/KmzImporter.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <filesystem>

using namespace Novaro;

namespace
{

const std::string runData = std::string(NOVARO_RUN_DIR) + "/data/";
const std::string sampleModels = std::string(NOVARO_SOURCE_DIR) + "/samples/models/";

osg::BoundingBox boundsOf(osg::Node* node)
{
    osg::ComputeBoundsVisitor visitor;
    node->accept(visitor);
    return visitor.getBoundingBox();
}

osg::Vec4 overallColourOf(osg::Node* node)
{
    osg::Geode* geode = node->asGeode();
    if (geode == nullptr || geode->getNumDrawables() == 0 || geode->getDrawable(0)->asGeometry() == nullptr)
        return osg::Vec4();
    const auto* colours =
        dynamic_cast<const osg::Vec4Array*>(geode->getDrawable(0)->asGeometry()->getColorArray());
    return colours != nullptr && !colours->empty() ? colours->front() : osg::Vec4();
}

class GeneratedDataTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { NovaroTest::usePluginFolder(); }
};

} // namespace

TEST_F(GeneratedDataTest, DefaultModelStandsOnAMarkerOfSize80)
{
    osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(runData + "novaro.ive");
    ASSERT_TRUE(model.valid());
    const osg::BoundingBox box = boundsOf(model.get());
    EXPECT_NEAR(box.xMax() - box.xMin(), 80.0f, 1.0f);
    EXPECT_NEAR(box.yMax() - box.yMin(), 80.0f, 1.0f);
    EXPECT_NEAR(box.zMin(), 0.0f, 1e-3);
    EXPECT_GT(box.zMax(), 40.0f);
    EXPECT_NEAR(box.center().x(), 0.0f, 1e-3);
    EXPECT_NEAR(box.center().y(), 0.0f, 1e-3);
}

TEST_F(GeneratedDataTest, LightGuidesAndAxesHaveTheirNamesAndDirections)
{
    osg::ref_ptr<osg::Node> dummies = osgDB::readRefNodeFile(runData + "dummies.ive");
    ASSERT_TRUE(dummies.valid());
    for (const char* name : {"DirectionalDummy", "OmniDummy", "SpotDummy"})
    {
        osg::Node* dummy = NovaroTest::findByName(dummies.get(), name);
        ASSERT_NE(dummy, nullptr) << name;
        const osg::BoundingBox box = boundsOf(dummy);
        EXPECT_TRUE(box.valid()) << name;
        if (std::string(name) != "OmniDummy")
        {
            // Pointing where a light's transform points: down its -Z axis from the light.
            EXPECT_NEAR(box.zMax(), 0.0f, 1e-3) << name;
            EXPECT_LT(box.zMin(), -10.0f) << name;
        }
    }

    osg::ref_ptr<osg::Node> axes = osgDB::readRefNodeFile(runData + "axes.ive");
    ASSERT_TRUE(axes.valid());
    const std::vector<std::pair<std::string, osg::Vec4>> expected = {
        {"XAxis", osg::Vec4(1, 0, 0, 1)}, {"YAxis", osg::Vec4(0, 1, 0, 1)}, {"ZAxis", osg::Vec4(0, 0, 1, 1)}};
    for (size_t axis = 0; axis < expected.size(); ++axis)
    {
        osg::Node* node = NovaroTest::findByName(axes.get(), expected[axis].first);
        ASSERT_NE(node, nullptr) << expected[axis].first;
        EXPECT_EQ(overallColourOf(node), expected[axis].second) << expected[axis].first;
        const osg::BoundingBox box = boundsOf(node);
        EXPECT_GT(box._max[axis], 30.0f) << expected[axis].first;
        EXPECT_LT(box._max[(axis + 1) % 3], 5.0f) << expected[axis].first;
    }
}

TEST_F(GeneratedDataTest, SampleModelsLoadUprightInEveryFormat)
{
    for (const char* name : {"cube.osgb", "sphere.osgb", "cone.osgb", "arrow.glb"})
    {
        osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(sampleModels + name);
        ASSERT_TRUE(model.valid()) << name;
        const osg::BoundingBox box = boundsOf(model.get());
        EXPECT_NEAR(box.zMin(), 0.0f, 1e-3) << name;
        EXPECT_GE(box.zMax(), 60.0f - 1e-3) << name;
        EXPECT_LE(box.xMax() - box.xMin(), 80.0f) << name;
    }

    // The house travels as a SketchUp archive; unpack a copy outside the source tree.
    NovaroTest::TemporaryFolder work;
    std::filesystem::copy_file(sampleModels + "house.kmz", work.file("house.kmz"));
    std::vector<std::string> folders;
    const std::vector<std::string> models =
        KmzImporter::importArchive(work.file("house.kmz"), work.file("house_kmz.tmp"), folders);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_EQ(std::filesystem::path(models[0]).filename(), "house.dae");
    osg::ref_ptr<osg::Node> house = osgDB::readRefNodeFile(models[0]);
    ASSERT_TRUE(house.valid());
    const osg::BoundingBox box = boundsOf(house.get());
    EXPECT_NEAR(box.zMin(), 0.0f, 1e-3);
    EXPECT_NEAR(box.zMax(), 50.0f, 1e-3);
    EXPECT_NEAR(box.xMax() - box.xMin(), 64.0f, 1e-3);
}
