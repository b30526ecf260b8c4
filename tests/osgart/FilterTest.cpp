#include <osgART/Marker.h>
#include <osgART/TransformFilterCallback.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{

osg::Matrixd pose(double angleDegrees, const osg::Vec3d& translation)
{
    return osg::Matrixd::rotate(osg::DegreesToRadians(angleDegrees), osg::Vec3d(0, 1, 0)) *
           osg::Matrixd::translate(translation);
}

const std::array<osg::Vec2d, 4> kCorners{};

} // namespace

TEST(TransformFilter, BlendsTranslationLinearlyAndRotationBySlerp)
{
    osg::ref_ptr<osgART::TransformFilterCallback> filter = new osgART::TransformFilterCallback;
    filter->setTranslationalSmoothingFactor(0.25f);
    filter->setRotationalSmoothingFactor(0.5f);
    filter->filter(pose(0.0, osg::Vec3d(0, 0, -100))); // the first measurement is taken as it is
    const osg::Matrixd result = filter->filter(pose(40.0, osg::Vec3d(40, 0, -100)));
    EXPECT_NEAR(result.getTrans().x(), 10.0, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(result, pose(20.0, osg::Vec3d())), 0.0, 1e-6);
    // A second step moves on from the filtered pose, not from the measurement before.
    const osg::Matrixd second = filter->filter(pose(40.0, osg::Vec3d(40, 0, -100)));
    EXPECT_NEAR(second.getTrans().x(), 17.5, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(second, pose(30.0, osg::Vec3d())), 0.0, 1e-6);
}

TEST(TransformFilter, FactorOneFollowsZeroHoldsAndDisabledSmoothingFollows)
{
    osg::ref_ptr<osgART::TransformFilterCallback> filter = new osgART::TransformFilterCallback;
    filter->setTranslationalSmoothingFactor(1.0f);
    filter->setRotationalSmoothingFactor(0.0f);
    filter->filter(pose(0.0, osg::Vec3d(0, 0, -100)));
    osg::Matrixd result = filter->filter(pose(30.0, osg::Vec3d(5, 6, -90)));
    EXPECT_NEAR((result.getTrans() - osg::Vec3d(5, 6, -90)).length(), 0.0, 1e-9);
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(result, pose(0.0, osg::Vec3d())), 0.0, 1e-6);

    filter->enableRotationalSmoothing(false);
    result = filter->filter(pose(30.0, osg::Vec3d(5, 6, -90)));
    EXPECT_NEAR(NovaroTest::rotationErrorDegrees(result, pose(30.0, osg::Vec3d())), 0.0, 1e-6);

    filter->setTranslationalSmoothingFactor(1.5f);
    EXPECT_FLOAT_EQ(filter->getTranslationalSmoothingFactor(), 1.0f);
    filter->setRotationalSmoothingFactor(-0.5f);
    EXPECT_FLOAT_EQ(filter->getRotationalSmoothingFactor(), 0.0f);
}

TEST(TransformFilter, MarkerAppliesItsFilterAndRestartsAfterALoss)
{
    osg::ref_ptr<osgART::Marker> marker = new osgART::Marker("m");
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(0, 0, -100)), kCorners);
    EXPECT_TRUE(marker->valid());
    osg::ref_ptr<osgART::TransformFilterCallback> filter = new osgART::TransformFilterCallback;
    filter->setTranslationalSmoothingFactor(0.5f);
    filter->setRotationalSmoothingFactor(0.5f);
    marker->setFilterCallback(filter.get());
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(0, 0, -100)), kCorners);
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(20, 0, -100)), kCorners);
    EXPECT_NEAR(marker->getTransform().getTrans().x(), 10.0, 1e-9);
    EXPECT_NEAR(marker->getMeasuredTransform().getTrans().x(), 20.0, 1e-9);
    // Lost and found elsewhere: no glide from the old place.
    marker->setNotDetected();
    EXPECT_FALSE(marker->valid());
    EXPECT_DOUBLE_EQ(marker->getConfidence(), 0.0);
    marker->setDetected(0.9, pose(0.0, osg::Vec3d(200, 0, -100)), kCorners);
    EXPECT_NEAR(marker->getTransform().getTrans().x(), 200.0, 1e-9);
}
