// Clipping: where the squares and the cuts go as planes move and turn, the selection and
// visibility rules, capping, the content updated once while clipped, and how the application
// moves the one manager between detected markers.
#include "ARApplication.h"
#include "ARCappingEffect.h"
#include "ARClippingManager.h"
#include "ARMarkerNode.h"

#include "NotifyCapture.h"

#include <gtest/gtest.h>

#include <osg/io_utils>
#include <osgUtil/UpdateVisitor>

#include "osgART/Marker.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

const double TOLERANCE = 1e-3;

osg::Vec4d equation(const ARClippingManager& manager, int index)
{
    return manager.getClipPlane(index)->getClipPlane();
}

// Positive on the kept side.
double side(const ARClippingManager& manager, int index, const osg::Vec3d& point)
{
    const osg::Vec4d plane = equation(manager, index);
    return plane.x() * point.x() + plane.y() * point.y() + plane.z() * point.z() + plane.w();
}

// The centre of a plane's green square where its handle puts it.
osg::Vec3d squareCentre(const ARClippingManager& manager, int index)
{
    const ARPickableClippingPlane* visual = manager.getPlaneVisual(index);
    const osg::Geode* geode = visual->getChild(0)->asGeode();
    return osg::Vec3d(geode->getDrawable(0)->getBoundingBox().center()) * visual->getMatrix();
}

// The square's normal where its handle turns it.
osg::Vec3d squareNormal(const ARClippingManager& manager, int index)
{
    const osg::Vec3d normal = manager.getPlane(index).normal;
    return osg::Matrixd::transform3x3(normal, manager.getPlaneVisual(index)->getMatrix());
}

void expectNear(const osg::Vec3d& expected, const osg::Vec3d& actual)
{
    EXPECT_LT((expected - actual).length(), TOLERANCE) << "expected " << expected << ", got " << actual;
}

void expectNear(const osg::Vec4d& expected, const osg::Vec4d& actual)
{
    EXPECT_LT((expected - actual).length(), TOLERANCE) << "expected " << expected << ", got " << actual;
}

std::vector<int> visiblePlanes(const ARClippingManager& manager)
{
    std::vector<int> visible;
    for (int index = 0; index < ARClippingManager::PLANE_COUNT; ++index)
        if (manager.isPlaneVisible(index))
            visible.push_back(index);
    return visible;
}

} // namespace

TEST(ClippingManager, PlanesStartOnTheBoxFacesInactiveAndHidden)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    EXPECT_EQ(osg::Vec3(-40.0f, -40.0f, 0.0f), manager->getBox()._min);
    EXPECT_EQ(osg::Vec3(40.0f, 40.0f, 80.0f), manager->getBox()._max);
    const osg::Vec4d equations[] = {{-1, 0, 0, 40}, {1, 0, 0, 40},  {0, -1, 0, 40},
                                    {0, 1, 0, 40},  {0, 0, -1, 80}, {0, 0, 1, 0}};
    const osg::Vec3d centres[] = {{40, 0, 40},  {-40, 0, 40}, {0, 40, 40},
                                  {0, -40, 40}, {0, 0, 80},   {0, 0, 0}};
    for (int index = 0; index < ARClippingManager::PLANE_COUNT; ++index)
    {
        SCOPED_TRACE(index);
        expectNear(equations[index], equation(*manager, index));
        EXPECT_EQ(static_cast<unsigned int>(index), manager->getClipPlane(index)->getClipPlaneNum());
        expectNear(centres[index], squareCentre(*manager, index));
        EXPECT_FALSE(manager->isPlaneActive(index));
        // The box's centre is kept by every plane.
        EXPECT_GT(side(*manager, index, osg::Vec3d(0, 0, 40)), 0.0);
    }
    EXPECT_EQ(0u, manager->getClipNode()->getNumClipPlanes());
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    EXPECT_EQ(-1, manager->getSelectedPlane());
    EXPECT_FALSE(manager->getCapping());
}

TEST(ClippingManager, MovingAndTurningCarryTheSquareAndTheCutTogether)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    manager->setAllPlanesActive(true);

    // Moving outwards grows the box on that side.
    manager->selectPlane(0);
    manager->movePlane(1.0f);
    expectNear(osg::Vec4d(-1, 0, 0, 41), equation(*manager, 0));
    expectNear(osg::Vec3d(41, 0, 40), squareCentre(*manager, 0));
    EXPECT_GT(side(*manager, 0, osg::Vec3d(40.5, 0, 0)), 0.0);
    EXPECT_LT(side(*manager, 0, osg::Vec3d(41.5, 0, 0)), 0.0);
    manager->selectPlane(5);
    manager->movePlane(1.0f);
    expectNear(osg::Vec4d(0, 0, 1, 1), equation(*manager, 5));
    EXPECT_GT(side(*manager, 5, osg::Vec3d(0, 0, -0.5)), 0.0);
    EXPECT_LT(side(*manager, 5, osg::Vec3d(0, 0, -1.5)), 0.0);

    // The top turns about the y axis through the marker's origin, then moves along its turned
    // normal; turning back leaves it lowered.
    manager->selectPlane(4);
    manager->rotatePlane(90.0f);
    expectNear(osg::Vec4d(-1, 0, 0, 80), equation(*manager, 4));
    expectNear(osg::Vec3d(80, 0, 0), squareCentre(*manager, 4));
    manager->movePlane(-30.0f);
    expectNear(osg::Vec4d(-1, 0, 0, 50), equation(*manager, 4));
    expectNear(osg::Vec3d(50, 0, 0), squareCentre(*manager, 4));
    manager->rotatePlane(-90.0f);
    expectNear(osg::Vec4d(0, 0, -1, 50), equation(*manager, 4));
    expectNear(osg::Vec3d(0, 0, 50), squareCentre(*manager, 4));
    EXPECT_FLOAT_EQ(0.0f, manager->getPlane(4).angle);
    EXPECT_FLOAT_EQ(50.0f, manager->getPlane(4).distance);

    // Whatever the steps, the square stays in the cut and faces the kept side.
    manager->selectPlane(2);
    const float steps[][2] = {{30, 0}, {0, -12.5f}, {45, 0}, {-100, 7}, {0, 60}};
    for (const auto& step : steps)
    {
        manager->rotatePlane(step[0]);
        manager->movePlane(step[1]);
        SCOPED_TRACE(manager->getPlane(2).angle);
        EXPECT_NEAR(0.0, side(*manager, 2, squareCentre(*manager, 2)), TOLERANCE);
        const osg::Vec4d cut = equation(*manager, 2);
        expectNear(osg::Vec3d(cut.x(), cut.y(), cut.z()), squareNormal(*manager, 2));
    }
    EXPECT_FLOAT_EQ(-25.0f, manager->getPlane(2).angle);
    EXPECT_FLOAT_EQ(94.5f, manager->getPlane(2).distance);
}

TEST(ClippingManager, OnlyAnActivePlaneCanBeSelectedAndNothingMovesWithoutSelection)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    manager->selectPlane(3);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    manager->getPlaneVisual(3)->onLeftMouseClick();
    EXPECT_EQ(-1, manager->getSelectedPlane());

    manager->setPlaneActive(true, 2);
    manager->setPlaneActive(true, 3);
    manager->getPlaneVisual(3)->onLeftMouseClick();
    EXPECT_EQ(3, manager->getSelectedPlane());
    manager->selectPlane(2);
    EXPECT_EQ(2, manager->getSelectedPlane());
    // Asking for an inactive plane drops the current selection.
    manager->selectPlane(0);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    manager->selectPlane(7);
    EXPECT_EQ(-1, manager->getSelectedPlane());

    manager->movePlane(5.0f);
    manager->rotatePlane(5.0f);
    const float distances[] = {40, 40, 40, 40, 80, 0};
    for (int index = 0; index < ARClippingManager::PLANE_COUNT; ++index)
    {
        EXPECT_FLOAT_EQ(0.0f, manager->getPlane(index).angle);
        EXPECT_FLOAT_EQ(distances[index], manager->getPlane(index).distance);
    }

    manager->selectPlane(2);
    manager->togglePlaneActive(2);
    EXPECT_EQ(-1, manager->getSelectedPlane());
    manager->selectPlane(3);
    manager->setAllPlanesActive(false);
    EXPECT_EQ(-1, manager->getSelectedPlane());
}

TEST(ClippingManager, ActivationDecidesTheCutsAndWhichSquaresCanShow)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    manager->setPlaneActive(true, 0);
    manager->setPlaneActive(true, 0);
    manager->togglePlaneActive(4);
    EXPECT_EQ(2u, manager->getClipNode()->getNumClipPlanes());

    manager->showPlanes(true);
    EXPECT_EQ((std::vector<int>{0, 4}), visiblePlanes(*manager));
    manager->togglePlaneVisible(1);
    manager->togglePlaneVisible(0);
    EXPECT_EQ((std::vector<int>{4}), visiblePlanes(*manager));
    manager->togglePlaneActive(4);
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    EXPECT_EQ(1u, manager->getClipNode()->getNumClipPlanes());
    EXPECT_EQ(manager->getClipPlane(0), manager->getClipNode()->getClipPlane(0u));

    manager->setAllPlanesActive(true);
    EXPECT_EQ(6u, manager->getClipNode()->getNumClipPlanes());
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    manager->showPlanes(true);
    EXPECT_EQ(6u, visiblePlanes(*manager).size());
    manager->showPlanes(false);
    EXPECT_TRUE(visiblePlanes(*manager).empty());
    manager->setAllPlanesActive(false);
    EXPECT_EQ(0u, manager->getClipNode()->getNumClipPlanes());
}

TEST(ClippingManager, CappingDrawsTheClippedContentThroughTheEffect)
{
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    osg::ref_ptr<osg::Group> content = new osg::Group, other = new osg::Group;
    manager->setClippedNode(content.get());
    manager->setClippedNode(other.get());
    ASSERT_EQ(1u, manager->getClipNode()->getNumChildren());
    EXPECT_EQ(other.get(), manager->getClipNode()->getChild(0));
    EXPECT_EQ(0u, content->getNumParents());

    osg::Switch* capping = manager->getCappingSwitch();
    ASSERT_EQ(2u, capping->getNumChildren());
    EXPECT_EQ(manager->getClipNode(), capping->getChild(0));
    EXPECT_EQ(manager->getCappingEffect(), capping->getChild(1));
    EXPECT_EQ(manager->getClipNode(), manager->getCappingEffect()->getChild(0));
    EXPECT_STREQ("ARCappingEffect", manager->getCappingEffect()->effectName());
    EXPECT_TRUE(capping->getValue(0) && !capping->getValue(1));
    manager->toggleCapping();
    EXPECT_TRUE(manager->getCapping());
    EXPECT_TRUE(!capping->getValue(0) && capping->getValue(1));
    manager->toggleCapping();
    EXPECT_TRUE(capping->getValue(0) && !capping->getValue(1));

    manager->setClippedNode(nullptr);
    EXPECT_EQ(0u, manager->getClipNode()->getNumChildren());
}

TEST(ClippingManager, ContentDrawnPlainElsewhereIsUpdatedOncePerFrame)
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
    EXPECT_EQ(1, counter->calls) << "content only under the clip node";

    plain->addChild(content.get());
    root->addChild(plain.get());
    counter->calls = 0;
    root->accept(update);
    EXPECT_EQ(1, counter->calls);
}

namespace
{

// An application with markers 1, 2 and 5, none detected, and a clipping manager.
class ClippingMarkers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (unsigned int id : {5u, 1u, 2u})
            application.getMarkers()[id] = new ARMarkerNode(new osgART::Marker, 0, nullptr, 0, &application);
        application.setClippingManager(manager.get());
    }

    ARMarkerNode* node(unsigned int id) { return application.getMarkers().at(id).get(); }
    void detect(unsigned int id, bool seen)
    {
        if (seen)
            node(id)->getMarker()->setDetected(1.0, osg::Matrixd::identity(), {});
        else
            node(id)->getMarker()->setNotDetected();
    }
    // The content a marker shows: true for the clipped content, false for the plain content.
    bool showsClipped(unsigned int id)
    {
        osg::Switch* visibility = node(id)->getVisibilitySwitch();
        EXPECT_NE(visibility->getChildValue(node(id)->getContentGroup()),
                  visibility->getChildValue(node(id)->getClippedContent()));
        return visibility->getChildValue(node(id)->getClippedContent());
    }
    void expectManagerOn(unsigned int id)
    {
        EXPECT_EQ(node(id), application.getClippingMarker());
        ASSERT_EQ(1u, manager->getNumParents());
        EXPECT_EQ(node(id)->getClippedContent(), manager->getParent(0));
        EXPECT_EQ(node(id)->getContentGroup(), manager->getClippedNode());
        for (const auto& entry : application.getMarkers())
            if (entry.first != id)
            {
                EXPECT_FALSE(showsClipped(entry.first)) << entry.first;
                EXPECT_EQ(1u, entry.second->getContentGroup()->getNumParents()) << entry.first;
            }
    }

    NotifyCapture console;
    ARApplication application;
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
};

} // namespace

TEST_F(ClippingMarkers, NoDetectedMarkerWarnsAndChangesNothing)
{
    application.setClippingEnabled(true);
    EXPECT_TRUE(console.printed("WARNING: cannot set clipping (no active markers)."));
    EXPECT_EQ(nullptr, application.getClippingMarker());
    EXPECT_EQ(0u, manager->getNumParents());
    EXPECT_EQ(nullptr, manager->getClippedNode());
    for (unsigned int id : {1u, 2u, 5u})
        EXPECT_FALSE(showsClipped(id));
}

TEST_F(ClippingMarkers, ManagerGoesToTheLowestDetectedMarkerAndBack)
{
    detect(5, true);
    detect(2, true);
    application.setClippingEnabled(true);
    expectManagerOn(2);
    EXPECT_TRUE(showsClipped(2));
    application.setClippingEnabled(false);
    expectManagerOn(2);
    EXPECT_FALSE(showsClipped(2));

    detect(1, true);
    application.setClippingEnabled(true);
    expectManagerOn(1);
    EXPECT_TRUE(showsClipped(1));

    detect(1, false);
    detect(2, false);
    application.setClippingEnabled(false);
    expectManagerOn(5);
    EXPECT_FALSE(showsClipped(5));
    detect(2, true);
    application.setClippingEnabled(true);
    expectManagerOn(2);
    EXPECT_TRUE(showsClipped(2));
    EXPECT_FALSE(console.printed("WARNING: cannot set clipping (no active markers)."));
}
