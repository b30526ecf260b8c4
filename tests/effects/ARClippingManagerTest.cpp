// The clipping manager: planes and their squares as they move and turn, selection, visibility, updates.
#include "effects/ARClippingManager.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/io_utils>
#include <osgUtil/UpdateVisitor>

#include <vector>

using namespace Novaro;

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
