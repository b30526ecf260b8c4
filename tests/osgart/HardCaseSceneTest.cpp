// The benchmark's hard-case renderer, whose frames the tracker's tests and the benchmark share.
#include "HardCaseScene.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>

using namespace Novaro;

// The benchmark's motion blur moves nothing: the kernel's centre of mass is its centre pixel,
// straight or shaky, and it keeps the frame's brightness.
TEST(HardCaseSceneTest, MotionBlurKernelsAreCentredAndNormalised)
{
    std::mt19937 random(3);
    for (bool shaky : {false, true})
        for (double length : {5.0, 10.0, 15.0})
            for (double angle : {0.0, 0.4, 2.0})
            {
                SCOPED_TRACE(std::to_string(length) + (shaky ? " shaky" : " straight"));
                const cv::Mat kernel = motionBlurKernel(length, angle, shaky, random);
                ASSERT_EQ(kernel.cols % 2, 1);
                ASSERT_EQ(kernel.rows, kernel.cols);
                const cv::Moments moments = cv::moments(kernel);
                EXPECT_NEAR(moments.m00, 1.0, 1e-4);
                EXPECT_NEAR(moments.m10 / moments.m00, kernel.cols / 2, 1e-3);
                EXPECT_NEAR(moments.m01 / moments.m00, kernel.rows / 2, 1e-3);
                // Its spread along the motion tells the length: a straight path of length L has a
                // standard deviation of L / sqrt(12) along it.
                const double along =
                    std::sqrt(moments.mu20 / moments.m00 * std::cos(angle) * std::cos(angle) +
                              moments.mu02 / moments.m00 * std::sin(angle) * std::sin(angle) +
                              2 * moments.mu11 / moments.m00 * std::sin(angle) * std::cos(angle));
                if (!shaky)
                {
                    EXPECT_NEAR(along, length / std::sqrt(12.0), 0.15 * length / std::sqrt(12.0) + 0.2);
                }
            }
}
