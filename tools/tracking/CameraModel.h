#pragma once

#include <opencv2/core.hpp>

#include <functional>
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

    /// Rolling shutter: the rows are read one after the other, top to bottom, over this many
    /// milliseconds (default 0: a global shutter, every row at once; a phone's is 20-35 ms). The
    /// middle row is read at the frame's time, rows above it earlier, rows below it later, so that
    /// a moving scene comes out skewed: a vertical edge moving sideways leans, a picture moving
    /// down is stretched.
    double readoutMs = 0.0;

    /// The picture as this camera takes it: same size and channel count as 'picture' (CV_8UC1 or
    /// CV_8UC3). The same random state gives the same noise.
    cv::Mat capture(const cv::Mat& picture, std::mt19937& random) const;

    /// When the rolling shutter reads the point at height y (pixel centres at whole numbers) of a
    /// picture 'rows' high: milliseconds after the frame's time, -readoutMs/2 at the top edge.
    double rowTime(double y, int rows) const;

    /// The picture as the rolling shutter reads it while everything in it slides alike by motion
    /// (pixels per millisecond; a turning camera): each row shows the picture shifted by motion
    /// times the row's time. Any depth and channel count; unchanged without readout time.
    cv::Mat skew(const cv::Mat& picture, const cv::Point2d& motion) const;

    /// The rolling shutter's frame of a scene whose parts move each their own way: sceneAt(ms) is
    /// the picture (rows high) of the scene that many milliseconds after the frame's time; the
    /// rows are cut into 'bands' bands, each taken from the scene at its middle row's time (more
    /// bands: a finer staircase, one render each). Returns sceneAt(0) without readout time.
    cv::Mat readBands(const std::function<cv::Mat(double)>& sceneAt, int rows, int bands) const;
};

} // namespace Novaro
