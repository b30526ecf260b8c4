// The square pose solver on a marker whose two poses the corners barely tell apart.
#include "TestSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/PoseEstimator.h>

#include <gtest/gtest.h>

#include <array>

TEST(PoseEstimatorTest, AmbiguousSquareKeepsThePoseNearestThePreviousOne)
{
    const osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(640, 480, 576, 576, 320, 240);
    const osgART::PoseEstimator estimator(camera);
    const double markerSize = 80.0;
    // A small, far marker tilted 10 degrees either way: corners that differ by hundredths of a pixel.
    auto posed = [](double tiltDegrees)
    {
        return osg::Matrixd::rotate(osg::DegreesToRadians(tiltDegrees), osg::Vec3d(1, 0.4, 0)) *
               osg::Matrixd::rotate(osg::DegreesToRadians(180.0), osg::Vec3d(1, 0, 0)) *
               osg::Matrixd::translate(5.0, -3.0, 2000.0);
    };
    const osg::Matrixd truth = posed(10.0), mirror = posed(-10.0);
    std::array<osg::Vec2d, 4> ideal;
    const std::array<osg::Vec3d, 4> corners = osgART::PoseEstimator::squareCorners(markerSize, osg::Vec2d());
    for (int k = 0; k < 4; ++k)
        ideal[size_t(k)] = estimator.project(truth, corners[size_t(k)]);
    osg::Matrixd alone;
    ASSERT_TRUE(estimator.estimateSquare(ideal, markerSize, osg::Vec2d(), alone));
    EXPECT_LT(NovaroTest::rotationErrorDegrees(alone, truth), 0.5) << "the better fit without history";
    for (const osg::Matrixd& previous : {truth, mirror})
    {
        osg::Matrixd pose;
        ASSERT_TRUE(estimator.estimateSquare(ideal, markerSize, osg::Vec2d(), pose, &previous));
        EXPECT_LT(NovaroTest::rotationErrorDegrees(pose, previous), 2.0);
        // Whichever is kept, the marker's printed side faces the camera (+z forward here).
        EXPECT_LT(osg::Matrixd::transform3x3(osg::Vec3d(0, 0, 1), pose) * pose.getTrans(), 0.0);
    }
}
