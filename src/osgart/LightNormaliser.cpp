#include "osgART/LightNormaliser.h"

#include <opencv2/imgproc.hpp>

namespace osgART
{

namespace
{

// From this reach on (pixels), the mean and spread are measured at a quarter of the resolution.
const double kReducedFromReach = 8.0;
const int kReduction = 4;

} // namespace

void LightNormaliser::normalise(const cv::Mat& grey, cv::Mat& normalised)
{
    grey.convertTo(_level, CV_32F);
    smooth(_level, _mean);
    cv::subtract(_level, _mean, _deviation);
    cv::multiply(_deviation, _deviation, _level);
    smooth(_level, _variance);
    // In place throughout: cv::sqrt of a matrix expression evaluates it again for every row.
    _variance += _floor * _floor;
    cv::sqrt(_variance, _variance);
    cv::divide(_deviation, _variance, _deviation, kNormalisedSpread);
    _deviation.convertTo(normalised, CV_8U, 1.0, 128.0);
}

void LightNormaliser::smooth(const cv::Mat& image, cv::Mat& smoothed)
{
    if (_reach < kReducedFromReach || image.cols < 2 * kReduction || image.rows < 2 * kReduction)
    {
        cv::GaussianBlur(image, smoothed, cv::Size(), _reach, _reach, cv::BORDER_REPLICATE);
        return;
    }
    cv::resize(image, _reduced, cv::Size(), 1.0 / kReduction, 1.0 / kReduction, cv::INTER_AREA);
    cv::GaussianBlur(_reduced, _reduced, cv::Size(), _reach / kReduction, _reach / kReduction,
                     cv::BORDER_REPLICATE);
    cv::resize(_reduced, smoothed, image.size(), 0.0, 0.0, cv::INTER_LINEAR);
}

} // namespace osgART
