#pragma once

#include <opencv2/core.hpp>

namespace osgART
{

/// Takes the light out of a grey picture, so that two views of one print under different light
/// look alike: each pixel's grey level less the mean of its surroundings, over their spread (both
/// weighed by a Gaussian of standard deviation reach pixels), as
/// 128 + kNormalisedSpread * (grey - mean) / sqrt(spread^2 + floor^2), saturated to 8 bits.
/// A shadow's edge, a highlight or light falling off across the print changes a pixel's mean and
/// spread, not where it stands between them. floor, grey levels, keeps flat surroundings, whose
/// spread is the camera's noise, from being raised to full contrast.
/// The mean and spread vary slowly: from a reach of 8 pixels on they are measured at a quarter of
/// the resolution and brought back by linear interpolation (0.8 ms of thread CPU at 640x512 for a
/// reach of 16, against 5.7 with full-size Gaussians of half that reach). The working images are
/// kept from one picture to the next: allocated afresh, they cost more than the arithmetic.
class LightNormaliser
{
public:
    /// Spread of the grey levels given to a pixel one spread from its mean.
    static constexpr double kNormalisedSpread = 40.0;

    LightNormaliser(double reach, double floor) : _reach(reach), _floor(floor) {}

    /// normalised may be grey itself.
    void normalise(const cv::Mat& grey, cv::Mat& normalised);

private:
    /// Gaussian smoothing of a slowly varying float image into smoothed.
    void smooth(const cv::Mat& image, cv::Mat& smoothed);

    double _reach, _floor;
    cv::Mat _level, _mean, _deviation, _variance, _reduced;
};

} // namespace osgART
