#pragma once

#include <opencv2/core.hpp>

#include <random>

namespace Novaro
{

/// A picture taken as a real camera takes it, from a rendered one: the picture (display-referred,
/// 8-bit BGR or grey) is turned into linear light, sampled through a Bayer colour filter (RGGB),
/// exposed (photon shot noise, Poisson in the electrons each photosite collects, plus the read
/// noise of its amplifier), demosaiced by OpenCV's edge-aware method, put back through the
/// display gamma and compressed as JPEG. Unlike independent noise added to each pixel, this noise
/// is correlated over two or three pixels by the demosaicing, stronger in the dark than in the
/// light, and blotchy after compression: what ragged thresholded borders come from.
///
/// The gain is named as a camera names it, by ISO: a phone-sized sensor collects about
/// kFullWellAtBaseIso electrons at full scale at ISO 100 and 1/16 of that at ISO 1600, so its
/// relative noise grows with the square root of the ISO. At ISO 1600 a mid-grey surface comes out
/// with a standard deviation of about 6 grey levels, at ISO 3200 about 9 (dark ones more).
struct CameraModel
{
    /// Sensitivity (default 100). 100 is a bright day; 800-1600 a lit room; 3200 a dim one.
    int iso = 100;
    /// JPEG quality of the written picture, 1..100 (default 85, a phone's video frames); 100 still
    /// compresses; 0 writes no JPEG (the demosaiced picture as it is).
    int jpegQuality = 85;
    /// Electrons at full scale at ISO 100 (default 6000: a phone camera's small photosites).
    static constexpr double kFullWellAtBaseIso = 6000.0;
    /// Read noise, electrons (standard deviation, default 2.5).
    static constexpr double kReadNoiseElectrons = 2.5;
    /// Display gamma undone before, and applied after, the sensor (default 2.2).
    static constexpr double kGamma = 2.2;

    /// The picture as this camera takes it: same size and channel count as 'picture' (CV_8UC1 or
    /// CV_8UC3). The same random state gives the same noise.
    cv::Mat capture(const cv::Mat& picture, std::mt19937& random) const;
};

} // namespace Novaro
