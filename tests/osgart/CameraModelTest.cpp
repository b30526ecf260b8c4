// The synthetic camera's rolling shutter: how far a moving picture is skewed, row by row.
#include "CameraModel.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>

using namespace Novaro;

namespace
{

// Where a row crosses from dark to light (or light to dark) through the middle grey, to a
// fraction of a pixel; NaN when it does not.
double crossing(const cv::Mat& picture, int y)
{
    const float* row = picture.ptr<float>(y);
    for (int x = 0; x + 1 < picture.cols; ++x)
        if ((row[x] - 128.0f) * (row[x + 1] - 128.0f) < 0.0f)
            return x + (128.0 - row[x]) / (row[x + 1] - row[x]);
    return std::nan("");
}

// Dark left of x = 319.5, light right of it.
cv::Mat verticalEdge()
{
    cv::Mat picture(480, 640, CV_32F, cv::Scalar(30));
    picture.colRange(320, 640).setTo(cv::Scalar(220));
    return picture;
}

} // namespace

TEST(CameraModelRollingShutter, AnEdgeSlidingSidewaysLeansAPictureSlidingDownStretchesAndBandsMatchTheSkew)
{
    CameraModel camera;
    camera.readoutMs = 30.0;
    const double speed = 0.5; // pixels per millisecond
    const cv::Mat skewed = camera.skew(verticalEdge(), cv::Point2d(speed, 0.0));
    // The middle row is read at the frame's time, the edge rows half the readout before and after.
    EXPECT_NEAR(crossing(skewed, 0), 319.5 + speed * camera.rowTime(0, 480), 0.05);
    EXPECT_NEAR(crossing(skewed, 479), 319.5 + speed * camera.rowTime(479, 480), 0.05);
    EXPECT_NEAR(crossing(skewed, 479) - crossing(skewed, 0), speed * 30.0 * 479.0 / 480.0, 0.1);
    EXPECT_NEAR(0.5 * (crossing(skewed, 239) + crossing(skewed, 240)), 319.5, 0.05);
    // A global shutter leaves it upright.
    camera.readoutMs = 0.0;
    const cv::Mat upright = camera.skew(verticalEdge(), cv::Point2d(speed, 0.0));
    EXPECT_NEAR(crossing(upright, 0), crossing(upright, 479), 1e-3);

    // A picture sliding down is stretched.
    camera.readoutMs = 30.0;
    cv::Mat bar(480, 640, CV_32F, cv::Scalar(220));
    bar.rowRange(200, 280).setTo(cv::Scalar(30)); // 80 rows high
    const double down = 0.4;
    cv::Mat column;
    cv::transpose(camera.skew(bar, cv::Point2d(0.0, down)).col(100), column);
    const double top = crossing(column, 0);
    cv::Mat below = column.colRange(int(top) + 2, column.cols);
    const double bottom = int(top) + 2 + crossing(below, 0);
    // Each row shows the picture as it was at its time: the rows chase the bar down, which then
    // takes 1 / (1 - speed * readout / rows) times its height.
    EXPECT_NEAR(bottom - top, 80.0 / (1.0 - down * 30.0 / 480.0), 0.1);

    // Bands read from the scene at their times match the skew.
    const cv::Point2d motion(0.5, 0.2);
    const cv::Mat picture = verticalEdge();
    auto sceneAt = [&](double ms)
    {
        const cv::Matx23d shift(1, 0, motion.x * ms, 0, 1, motion.y * ms);
        cv::Mat moved;
        cv::warpAffine(picture, moved, shift, picture.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        return moved;
    };
    const cv::Mat diagonal = camera.skew(picture, motion);
    // A band for every row: each row from the scene at its own time, as the skew makes it.
    const cv::Mat everyRow = camera.readBands(sceneAt, picture.rows, picture.rows);
    // (Each resamples to 1/32 of a pixel.)
    for (int y = 0; y < picture.rows; y += 7)
        EXPECT_NEAR(crossing(everyRow, y), crossing(diagonal, y), 0.08) << "row " << y;
    // Eight bands: a staircase, each step the scene at its band's middle row.
    const cv::Mat eight = camera.readBands(sceneAt, picture.rows, 8);
    const double step = motion.x * camera.readoutMs / 8.0;
    for (int y = 0; y < picture.rows; y += 7)
        EXPECT_LE(std::fabs(crossing(eight, y) - crossing(diagonal, y)), 0.5 * step + 0.08) << "row " << y;
    EXPECT_NEAR(crossing(eight, 0), crossing(eight, 59), 1e-3);
    EXPECT_NEAR(crossing(eight, 60) - crossing(eight, 0), step, 0.08);
}
