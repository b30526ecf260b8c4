// The filter that smooths marker poses from frame to frame, alone and applied by a marker.
#include "TestSupport.h"

#include <osgART/Marker.h>
#include <osgART/TransformFilterCallback.h>

#include <gtest/gtest.h>

#include <array>

namespace
{

osg::Matrixd pose(double angleDegrees, const osg::Vec3d& translation)
{
    return osg::Matrixd::rotate(osg::DegreesToRadians(angleDegrees), osg::Vec3d(0, 1, 0)) *
           osg::Matrixd::translate(translation);
}

const std::array<osg::Vec2d, 4> kCorners{};

osg::ref_ptr<osgART::TransformFilterCallback> filterOf(float translational, float rotational)
{
    osg::ref_ptr<osgART::TransformFilterCallback> filter = new osgART::TransformFilterCallback;
    filter->setTranslationalSmoothingFactor(translational);
    filter->setRotationalSmoothingFactor(rotational);
    return filter;
}

} // namespace

TEST(TransformFilter, BlendsBySlerpFollowsOrHoldsAndAMarkerAppliesItAndRestartsAfterALoss)
{
    osg::ref_ptr<osgART::TransformFilterCallback> filter = filterOf(0.25f, 0.5f);
    filter->filter(pose(0.0, osg::Vec3d(0, 0, -100))); // the first measurement is taken as it is
    const osg::Matrixd result = filter->filter(pose(40.0, osg::Vec3d(40, 0, -100)));
    EXPECT_NEAR(result.getTrans().x(), 10.0, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(result, pose(20.0, osg::Vec3d())), 0.0, 1e-6);
    // A second step moves on from the filtered pose, not from the measurement before.
    const osg::Matrixd second = filter->filter(pose(40.0, osg::Vec3d(40, 0, -100)));
    EXPECT_NEAR(second.getTrans().x(), 17.5, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(second, pose(30.0, osg::Vec3d())), 0.0, 1e-6);

    // Factor one follows, zero holds, and disabled smoothing follows.
    filter = filterOf(1.0f, 0.0f);
    filter->filter(pose(0.0, osg::Vec3d(0, 0, -100)));
    osg::Matrixd held = filter->filter(pose(30.0, osg::Vec3d(5, 6, -90)));
    EXPECT_NEAR((held.getTrans() - osg::Vec3d(5, 6, -90)).length(), 0.0, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(held, pose(0.0, osg::Vec3d())), 0.0, 1e-6);
    filter->enableRotationalSmoothing(false);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(filter->filter(pose(30.0, osg::Vec3d(5, 6, -90))),
                                                 pose(30.0, osg::Vec3d())),
                0.0, 1e-6);

    filter = filterOf(1.5f, -0.5f);
    EXPECT_EQ(std::make_pair(1.0f, 0.0f), std::make_pair(filter->getTranslationalSmoothingFactor(),
                                                         filter->getRotationalSmoothingFactor()));

    // A marker applies its filter to what it measures.
    osg::ref_ptr<osgART::Marker> marker = new osgART::Marker("m");
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(0, 0, -100)), kCorners);
    EXPECT_TRUE(marker->valid());
    marker->setFilterCallback(filterOf(0.5f, 0.5f));
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(0, 0, -100)), kCorners);
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(20, 0, -100)), kCorners);
    EXPECT_NEAR(marker->getTransform().getTrans().x(), 10.0, 1e-9);
    EXPECT_NEAR(marker->getMeasuredTransform().getTrans().x(), 20.0, 1e-9);
    // Lost and found elsewhere: no glide from the old place.
    marker->setNotDetected();
    EXPECT_TRUE(!marker->valid() && marker->getConfidence() == 0.0);
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(200, 0, -100)), kCorners);
    EXPECT_NEAR(marker->getTransform().getTrans().x(), 200.0, 1e-9);
}
