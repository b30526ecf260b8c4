#pragma once

// What the detector's steps share: constants used by more than one step, and sampling a
// marker's square in a grey frame. Internal to the tracking library.

#include "osgART/SquareMarkerDetector.h"

#include <osg/Vec2d>

#include <algorithm>
#include <array>
#include <cmath>

namespace osgART
{
namespace sampling
{

const int kCells = Pattern::kSize;

// Shortest side of a candidate, processing pixels: smaller squares hold too few pixels per cell.
const double kMinimumSide = 10.0;

const int kTile = 4; // search pixels per side of a threshold tile

const int kFlatReach = 2; // tiles a contrasted window's level reaches into flat ones

// Blur (standard deviation, pattern cells) of the smoothed patterns against which a blurred-looking
// candidate's closest patterns are ranked: about the blur of a 10-pixel motion on a marker 45
// pixels wide.
const double kRankingBlur = 1.2;

// Clamped into 0..maximum; NaN becomes 0, so that no coordinate reaches int() unbounded.
inline double clampCoordinate(double value, double maximum)
{
    return value >= 0.0 ? std::min(value, maximum) : 0.0;
}

inline bool allFinite(const std::array<osg::Vec2d, 4>& points)
{
    for (const osg::Vec2d& point : points)
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            return false;
    return true;
}

// Bilinear interpolation at (x, y), which must lie inside the image by more than a pixel's width
// from its right and bottom edges.
inline float interpolateInside(const cv::Mat& grey, double x, double y)
{
    const int ix = int(x);
    const int iy = int(y);
    const float fx = float(x - ix);
    const float fy = float(y - iy);
    const unsigned char* row0 = grey.ptr<unsigned char>(iy) + ix;
    const unsigned char* row1 = row0 + grey.step[0];
    const float top = row0[0] + fx * (float(row0[1]) - float(row0[0]));
    const float bottom = row1[0] + fx * (float(row1[1]) - float(row1[0]));
    return top + fy * (bottom - top);
}

inline float sampleBilinear(const cv::Mat& grey, double x, double y)
{
    return interpolateInside(grey, clampCoordinate(x, grey.cols - 1.001),
                             clampCoordinate(y, grey.rows - 1.001));
}

// Maps the unit square (0,0) (1,0) (1,1) (0,1) onto a quadrilateral.
struct SquareHomography
{
    double a, b, c, d, e, f, g, h;

    bool set(const std::array<osg::Vec2d, 4>& p)
    {
        const double dx1 = p[1].x() - p[2].x(), dx2 = p[3].x() - p[2].x();
        const double dx3 = p[0].x() - p[1].x() + p[2].x() - p[3].x();
        const double dy1 = p[1].y() - p[2].y(), dy2 = p[3].y() - p[2].y();
        const double dy3 = p[0].y() - p[1].y() + p[2].y() - p[3].y();
        const double denominator = dx1 * dy2 - dx2 * dy1;
        if (std::fabs(denominator) < 1e-12)
            return false;
        g = (dx3 * dy2 - dx2 * dy3) / denominator;
        h = (dx1 * dy3 - dx3 * dy1) / denominator;
        a = p[1].x() - p[0].x() + g * p[1].x();
        b = p[3].x() - p[0].x() + h * p[3].x();
        c = p[0].x();
        d = p[1].y() - p[0].y() + g * p[1].y();
        e = p[3].y() - p[0].y() + h * p[3].y();
        f = p[0].y();
        return true;
    }

    osg::Vec2d map(double u, double v) const
    {
        const double w = g * u + h * v + 1.0;
        return osg::Vec2d((a * u + b * v + c) / w, (d * u + e * v + f) / w);
    }
};

inline osg::Vec2d toVideo(double x, double y, int scale)
{
    const double offset = 0.5 * (scale - 1);
    return osg::Vec2d(x * scale + offset, y * scale + offset);
}

inline osg::Vec2d toProcessing(const osg::Vec2d& video, int scale)
{
    const double offset = 0.5 * (scale - 1);
    return osg::Vec2d((video.x() - offset) / scale, (video.y() - offset) / scale);
}

// Grey values at points of a marker's square, (0, 0) its outer top-left corner and (1, 1) the
// bottom-right one, seen through the lens.
struct SquareSampler
{
    const cv::Mat& grey;
    const CameraParameters& camera;
    int scale;
    SquareHomography homography;
    bool distorted;

    SquareSampler(const cv::Mat& image, const CameraParameters& lens, int processingScale)
        : grey(image), camera(lens), scale(processingScale), distorted(lens.distorts())
    {
    }

    /// Where a point of the square is seen, in processing pixels.
    osg::Vec2d seen(double u, double v) const
    {
        osg::Vec2d point = homography.map(u, v);
        if (distorted)
            point = camera.idealToObserved(point);
        return toProcessing(point, scale);
    }

    float at(double u, double v) const
    {
        const osg::Vec2d point = seen(u, v);
        return sampleBilinear(grey, point.x(), point.y());
    }
};

// Mean removed, unit length; a flat vector stays zero (and never matches: it cannot be told from
// paper). Returns false for a flat vector.
template <size_t N> bool normalise(std::array<float, N>& values)
{
    double sum = 0.0;
    for (float value : values)
        sum += value;
    const float mean = float(sum / double(N));
    double squares = 0.0;
    for (float& value : values)
    {
        value -= mean;
        squares += double(value) * value;
    }
    const float norm = squares > 1e-6 ? float(1.0 / std::sqrt(squares)) : 0.0f;
    for (float& value : values)
        value *= norm;
    return squares > 1e-6;
}

// Eight running sums, so that the compiler keeps them in vector registers: a single sum fixes the
// order of the additions and leaves the products one at a time. Every pattern in four orientations
// is compared with every candidate, so this is the inner loop of the matching.
template <size_t N>
inline double correlate(const std::array<float, N>& first, const std::array<float, N>& second)
{
    static_assert(N % 8 == 0, "eight lanes");
    float sums[8] = {};
    for (size_t k = 0; k < N; k += 8)
        for (size_t lane = 0; lane < 8; ++lane)
            sums[lane] += first[k + lane] * second[k + lane];
    return double(((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7])));
}

// A pattern's grey values (16 x 16 float image) as a Gaussian blur would show them: standard
// deviations across and down in pattern cells, and their correlation (non-zero for a blur along a
// diagonal); mean removed, unit length.
std::array<float, 256> blurredPattern(const cv::Mat& pattern, double blurAcross, double blurDown,
                                      double correlation);

} // namespace sampling

// What the edge samples of a candidate showed: the grey levels on both sides of its outer edge and
struct SquareMarkerDetector::EdgeLevels
{
    double dark = 0.0;
    double bright = 0.0;
    std::array<double, 4> spread{};
};

} // namespace osgART
