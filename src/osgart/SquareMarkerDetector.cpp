#include "osgART/SquareMarkerDetector.h"

#include "osgART/GreyFrame.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace osgART
{

namespace
{

// Milliseconds since the last lap, for the per-step times of a detection.
class StageClock
{
public:
    double lap()
    {
        const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        const double milliseconds = std::chrono::duration<double, std::milli>(now - _last).count();
        _last = now;
        return milliseconds;
    }

private:
    std::chrono::steady_clock::time_point _last = std::chrono::steady_clock::now();
};

const int kCells = Pattern::kSize;
const double kMinimumSide = 10.0;         // processing pixels
const double kBorderMargin = 2.0;         // quads this close to the frame edge are cut off
const double kMinimumEdgeContrast = 12.0; // grey levels between border and paper along a normal
const double kMinimumDarkRing = 0.8;      // share of border samples that must be dark
// The border ring is read in stretches (per side) of samples; the dark stretches' grey levels may
// spread (standard deviation) by at most this share of the border-to-paper contrast. Printed rings
// stay under 0.09 (blur, shadow edges, ISO 3200 noise, real photographs); mottled texture that
// outlines a square spreads 0.23 or more. Lowering it refuses noisier markers in dim light.
const int kRingStretches = 4;
const int kRingStretchSamples = 4;
const double kMaximumRingUnevenness = 0.16;
const int kTile = 4;      // search pixels per side of a threshold tile
const int kFlatReach = 2; // tiles a contrasted window's level reaches into flat ones
// Depth, in search pixels, to which thresholding marks a solid dark band dark from its edge: the
// contrasted tile and the flat tiles its level reaches. A close marker's border, thicker than twice
// this, comes out hollow: its region is a strip this deep around the marker, not a quarter of its
// side, and the region tests below expect no more of it.
const double kThresholdReach = (kFlatReach + 1) * kTile;
// Dark regions whose bounding box is longer than this many times its width are no marker: a square
// tilted 80 degrees from the camera still is within it.
const int kMaximumRegionAspect = 8;
// Share of its bounding box a marker's dark region covers: at least its border ring of a strongly
// tilted marker turned 45 degrees on screen (about a quarter, thinned by the threshold), at most a
// square of solid ink (a marker's ring always leaves the pattern's light cells out).
const double kMinimumRegionFill = 0.08;
const double kMaximumRegionFill = 0.97;
// Mean length of the runs (row stretches) of a marker's dark region, as a share of its bounding box's
// shorter side, at least: about a quarter for the border seen face on, less where pattern cells cut
// rows into short runs, the marker is turned on screen, or specks of texture touching the border
// joined its region.
const double kMinimumRunShare = 0.08;
// Share of its quadrilateral a marker's dark region covers at least: its border ring is 75 %, less
// the pixel or so that thresholding takes off each edge of a small marker's ring.
const double kMinimumQuadrilateralFill = 0.35;
static_assert(kTile == 4, "tile extremes are taken four columns at a time");
// Distance from a side, as a share of the perimeter, up to which a region's outline is simplified
// into that side.
const double kOutlineTolerance = 0.04;
// How far, in simplification tolerances, a region's outline may stray from the quadrilateral of its
// farthest points before it is dropped without being simplified. Markers' outlines stay within 0.75
// (occluded, blurred or shadowed ones included; 0.3 when clean); the outlines of texture's regions
// mostly stray farther, and simplifying one costs as much as some ten of these tests. Default 1.5;
// lowering it saves simplifications and risks markers bitten into by an occluder.
const double kMaximumOutlineDeviation = 1.5;
// Correlation of the first look (see firstLook()) below which a candidate is not examined further.
// Markers keep 0.4 or more (blurred, shadowed, occluded, strongly tilted; 0.7 when clean); of the
// candidates texture and decoys make, a fifth fall below 0.3. The look costs 64 samples and a
// 64-cell comparison per pattern and orientation; each candidate it drops saves locating its sides,
// sampling its pattern and matching it. Default 0.3; raising it drops more clutter and risks the
// most blurred and shaded markers.
const double kFirstLookFloor = 0.3;
// Below this shortest side, video pixels (default 20), a candidate's pattern is sampled at under
// 0.6 pixels per cell, mostly blur: busy texture's small skewed quadrilaterals then correlate 0.80
// to 0.89 with some pattern as often as a real marker would. The floor rises linearly by
// kSmallSideFloorRise per pixel below it (default 0.01, so 0.9 at 10 pixels). Markers this small
// are found only when their pattern reads clearly; raising either value refuses more texture and
// more far-away markers. No cost.
const double kClearlySampledSide = 20.0;
const double kSmallSideFloorRise = 0.01;
// Pattern cells of blur worth matching blurred patterns for.
const double kMinimumBlur = 0.4;
// Correlation a shaded marker keeps at least before its shadow is evened out.
const double kShadedMatchFloor = 0.3;
// Patterns and orientations compared blurred: the few that correlate best with the samples taken
// against the patterns smoothed by kRankingBlur pattern cells (standard deviation, about the blur
// of a 10-pixel motion on a marker 45 pixels wide). More candidates cost a blurred comparison each.
const int kBlurredCandidates = 4;
const double kRankingBlur = 1.2;
// Correlation with the closest smoothed pattern below which a blurred-looking candidate is not
// compared blurred: blurred markers keep 0.45 or more, most blurred-looking clutter resembles no
// pattern even smoothed, and each blurred comparison costs some 50 sharp ones. Raising it saves
// time on busy frames and loses the most blurred markers.
const double kSmoothedMatchFloor = 0.4;
// The blurs tried on a blurred candidate: the spread its edges show times each widening, with each
// correlation between across and down (0 upright, negative and positive leaning along one or the
// other diagonal). Six hypotheses cost six blurred comparisons of the few closest patterns, only
// for candidates whose sharp match fell short; more hypotheses give clutter more chances.
const double kBlurWidenings[] = {1.0, 1.3};
const double kBlurCorrelations[] = {0.0, -0.6, 0.6};
// Pattern cells of blur at most (standard deviation): beyond it nothing of the pattern is left.
const double kMaximumBlur = 4.0;
// Lead over the runner-up a blurred match needs: above the sharp one's (0.15), as the blurred
// comparison is a second chance over several blur shapes. Blurred markers lead by 0.25 or more;
// clutter that only a blurred pattern resembles, by less.
const double kBlurredLead = 0.25;
// Lead a match on the blur measured at the marker's corners needs: one hypothesis instead of six,
// so less than kBlurredLead. Blur makes patterns alike: a marker blurred over two or three cells
// still correlates 0.6 to 0.7 with other patterns blurred the same way, and leads them by 0.2 to 0.4.
// Raising it refuses more of the most blurred markers; lowering it lets more clutter through.
const double kMeasuredBlurLead = 0.2;
// Pattern cells the measured blur reaches from its centre at most: the ring of ink inside a corner
// and the paper outside it are 8 cells wide, beyond which a corner no longer is a plain quadrant.
const int kMaximumKernelReach = 7;
// Processing pixels a pattern cell spans at least for the blur to be measured at cell resolution:
// on a finer grid the differences of interpolated samples show the interpolation, not the blur (and
// such a marker's whole pattern is a few pixels wide). Smaller markers get the Gaussian shapes only.
const double kMinimumKernelCell = 0.5;
// Share of the measured blur's largest cell below which a cell of it counts as noise: each cell is
// a difference of four noisy samples, so away from the blur's path the measurement is a scatter of
// small values. Default 0.05; raising it cuts the faint tails of wide blurs, lowering it blurs the
// patterns with more of the noise and costs one pass over a pattern per cell kept.
const float kKernelNoiseShare = 0.05f;
// Correlation a better-fitting blur shape adds at most to the upright one's, for the early out.
const double kMostBlurShapeGain = 0.2;
// Processing pixels an edge profile reaches to either side of the contour's side: room for the
// contour's own error (a pixel or two, four on half-resolution contours) and for an edge spread by
// motion blur of 15 pixels, without sampling across the whole border of a large marker.
const int kMaximumReach = 24;
// Profiles per side at most in the dense pass over an identified marker (one per processing pixel
// up to this), and how far its corners may move from the first pass's, processing pixels.
const int kMaximumDenseSamples = 64;
const double kDenseTolerance = 1.5;
// Share of the steepest rise below which a profile's rise no longer counts towards the step's
// position. The first pass cuts high, so that noise on the plateaus stays out of a wide profile;
// the dense pass, on short profiles, cuts low, so that the sampling grid's phase biases no side.
const double kStepFloor = 0.2;
const double kDenseStepFloor = 0.05;
// The ring of paper read around a marker for a shadow edge: samples (four sides' worth), how far
// outside the border in sides, and how much brighter its lit part must be than its shaded part.
const int kShadowRingSamples = 32;
const double kShadowRingDistance = 0.08;
const float kShadowContrast = 1.3f;
// Keeps the nearest paper readings' weights finite (marker units to the fourth power).
const double kNearPaperSoftening = 1e-6;

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

// Grey values at centre + normal * s for s from -reach to reach, as sampleBilinear() gives them.
// A profile inside the image, as nearly all are, needs no clamping point by point.
void sampleProfile(const cv::Mat& grey, const osg::Vec2d& centre, const osg::Vec2d& normal, int reach,
                   float* profile)
{
    const double maximumX = grey.cols - 1.001, maximumY = grey.rows - 1.001;
    const osg::Vec2d first = centre - normal * double(reach), last = centre + normal * double(reach);
    const bool inside = std::min(first.x(), last.x()) >= 0.0 && std::max(first.x(), last.x()) <= maximumX &&
                        std::min(first.y(), last.y()) >= 0.0 && std::max(first.y(), last.y()) <= maximumY;
    if (!inside)
    {
        for (int s = -reach; s <= reach; ++s)
        {
            const osg::Vec2d p = centre + normal * double(s);
            profile[s + reach] = sampleBilinear(grey, p.x(), p.y());
        }
        return;
    }
    for (int s = -reach; s <= reach; ++s)
    {
        const osg::Vec2d p = centre + normal * double(s);
        profile[s + reach] = interpolateInside(grey, p.x(), p.y());
    }
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

struct Line
{
    osg::Vec2d point;
    osg::Vec2d direction;
};

bool fitLine(const std::vector<osg::Vec2d>& points, Line& line)
{
    if (points.size() < 2)
        return false;
    osg::Vec2d mean;
    for (const osg::Vec2d& p : points)
        mean += p;
    mean /= double(points.size());
    double sxx = 0, sxy = 0, syy = 0;
    for (const osg::Vec2d& p : points)
    {
        const osg::Vec2d q = p - mean;
        sxx += q.x() * q.x();
        sxy += q.x() * q.y();
        syy += q.y() * q.y();
    }
    // Direction of largest spread: eigenvector of the 2x2 scatter matrix.
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    line.point = mean;
    line.direction.set(std::cos(angle), std::sin(angle));
    return true;
}

inline double distanceToLine(const osg::Vec2d& p, const Line& line)
{
    const osg::Vec2d q = p - line.point;
    return std::fabs(q.x() * line.direction.y() - q.y() * line.direction.x());
}

// The line through most of the points, ignoring those an occluder or a stray edge put elsewhere:
// candidate lines through pairs of points half the side apart, the one with most points near it
// refitted on those points.
bool fitLineRobustlyWithin(const std::vector<osg::Vec2d>& points, double inlierDistance, Line& line)
{
    const size_t half = points.size() / 2;
    size_t bestCount = 0;
    Line candidate;
    for (size_t k = 0; k < half; ++k)
    {
        osg::Vec2d direction = points[k + half] - points[k];
        if (direction.normalize() < 1e-9)
            continue;
        candidate.point = points[k];
        candidate.direction = direction;
        size_t count = 0;
        for (const osg::Vec2d& p : points)
            if (distanceToLine(p, candidate) < inlierDistance)
                ++count;
        if (count > bestCount)
        {
            bestCount = count;
            line = candidate;
        }
    }
    std::vector<osg::Vec2d> inliers;
    for (int round = 0; round < 2 && bestCount >= 3; ++round)
    {
        inliers.clear();
        for (const osg::Vec2d& p : points)
            if (distanceToLine(p, line) < inlierDistance)
                inliers.push_back(p);
        if (inliers.size() < 3)
            return false;
        fitLine(inliers, line);
    }
    // Fewer than half the points on one line: no side was found.
    return bestCount >= 3 && 2 * inliers.size() >= points.size();
}

// Sharp edges put their points within a fraction of a pixel of the line; blurred ones scatter more.
bool fitLineRobustly(const std::vector<osg::Vec2d>& points, Line& line)
{
    for (double inlierDistance : {0.75, 1.5, 3.0})
        if (fitLineRobustlyWithin(points, inlierDistance, line))
            return true;
    return false;
}

bool intersect(const Line& first, const Line& second, osg::Vec2d& point)
{
    const double cross =
        first.direction.x() * second.direction.y() - first.direction.y() * second.direction.x();
    if (std::fabs(cross) < 1e-6)
        return false;
    const osg::Vec2d delta = second.point - first.point;
    const double t = (delta.x() * second.direction.y() - delta.y() * second.direction.x()) / cross;
    point = first.point + first.direction * t;
    return true;
}

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
        : grey(image), camera(lens), scale(processingScale),
          distorted(lens.distortionModel() != CameraParameters::NONE)
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

} // namespace

// Grey levels seen on both sides of a marker's outer edge, averaged over the edge samples.
// What the edge samples of a candidate showed: the grey levels on both sides of its outer edge and
// how far each side's step is spread by blur (variance along the normal, processing pixels squared).
struct SquareMarkerDetector::EdgeLevels
{
    double dark = 0.0;
    double bright = 0.0;
    std::array<double, 4> spread{};
};

namespace
{

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

struct Step
{
    double position = 0.0; ///< samples from the profile's centre, outwards positive
    double spread = 0.0;   ///< variance of the rise around the position, samples squared
    float darkest = 0.0f, brightest = 0.0f;
};

// The dark-to-bright step along a profile taken outwards across a side: its position is the centroid
// of the brightness rise around its strongest part, so a blur that spreads the step evenly leaves the
// position where the sharp edge was.
bool locateStep(const std::vector<float>& profile, double floorShare, Step& step)
{
    const int count = int(profile.size());
    const int reach = count / 2;
    step.darkest = *std::min_element(profile.begin(), profile.end());
    step.brightest = *std::max_element(profile.begin(), profile.end());
    const float contrast = step.brightest - step.darkest;
    if (contrast < kMinimumEdgeContrast)
        return false;
    int peak = -1;
    float strongest = 0.0f;
    for (int i = 1; i + 1 < count; ++i)
    {
        const float rise = profile[size_t(i + 1)] - profile[size_t(i - 1)];
        if (rise > strongest)
        {
            strongest = rise;
            peak = i;
        }
    }
    // The steepest rise over two samples: a tenth of the contrast still is a step blurred over 20
    // samples; less is noise on a plateau.
    if (peak < 0 || strongest < 0.1f * contrast)
        return false;
    // Weights fall to zero at floorShare of the peak, so that noise moving a sample across that
    // line moves the centroid only a little.
    const float floor = float(floorShare) * strongest;
    double weightSum = 0.0, weighted = 0.0, squares = 0.0;
    for (int direction : {-1, 1})
        for (int i = direction < 0 ? peak : peak + 1; i >= 1 && i + 1 < count; i += direction)
        {
            const float rise = profile[size_t(i + 1)] - profile[size_t(i - 1)];
            if (rise <= floor)
                break;
            const double offset = double(i - reach);
            weightSum += rise - floor;
            weighted += (rise - floor) * offset;
            squares += (rise - floor) * offset * offset;
        }
    step.position = weighted / weightSum;
    step.spread = std::max(0.0, squares / weightSum - step.position * step.position);
    return true;
}

} // namespace

namespace
{

// A Gaussian blur whose axes need not follow the pattern's rows and columns: standard deviations
// across and down (pattern cells) and the correlation between the two, as a kernel reaching margin
// cells from its centre. Cells beyond three standard deviations from the centre (along the blur's
// own axes) are left empty: they hold under 1.2 % of the peak, and a blur along a diagonal fills
// only a narrow band of its square.
cv::Mat blurKernel(double across, double down, double correlation, int margin)
{
    cv::Mat kernel(2 * margin + 1, 2 * margin + 1, CV_32FC1);
    const double a = std::max(0.01, across), d = std::max(0.01, down);
    const double r = std::max(-0.95, std::min(0.95, correlation));
    const double scale = 1.0 / (1.0 - r * r);
    const double reach = 3.0 * 3.0; // squared standard deviations
    double sum = 0.0;
    for (int y = -margin; y <= margin; ++y)
        for (int x = -margin; x <= margin; ++x)
        {
            const double u = x / a, v = y / d;
            const double distance = scale * (u * u - 2.0 * r * u * v + v * v);
            const double value = distance <= reach ? std::exp(-0.5 * distance) : 0.0;
            kernel.at<float>(y + margin, x + margin) = float(value);
            sum += value;
        }
    return kernel / sum;
}

// A one-dimensional Gaussian of standard deviation sigma (pattern cells) reaching margin cells to
// either side, summing to one.
std::vector<float> gaussianWeights(double sigma, int margin)
{
    std::vector<float> weights(size_t(2 * margin + 1));
    const double s = std::max(0.01, sigma);
    double sum = 0.0;
    for (int k = -margin; k <= margin; ++k)
        sum += weights[size_t(k + margin)] = float(std::exp(-0.5 * (k / s) * (k / s)));
    for (float& weight : weights)
        weight = float(weight / sum);
    return weights;
}

// A 16 x 16 grid of cells with as many black (zero) cells on either side of each row, so that a
// row shifted sideways by less than its width is read without bounds checks.
struct PaddedCells
{
    std::array<float, 3 * kCells * kCells> values{};
    explicit PaddedCells(const float* cells)
    {
        for (int row = 0; row < kCells; ++row)
            std::copy(cells + row * kCells, cells + (row + 1) * kCells,
                      values.data() + (3 * row + 1) * kCells);
    }
    const float* row(int index) const { return values.data() + (3 * index + 1) * kCells; }
};

// out(r, c) += weight * in(r + dy, c + dx) over the 16 x 16 grid, in(r, c) zero outside it (a
// pattern's surroundings are its black border). Whole rows of 16 cells at a time, which the
// compiler turns into a few vector instructions; a blur is one such pass per weight of its kernel.
void addShifted(const PaddedCells& in, int dy, int dx, float weight, float* out)
{
    if (dx <= -kCells || dx >= kCells)
        return;
    const int top = std::max(0, -dy), bottom = std::min(kCells, kCells - dy);
    for (int row = top; row < bottom; ++row)
    {
        const float* __restrict source = in.row(row + dy) + dx;
        float* __restrict target = out + row * kCells;
        for (int column = 0; column < kCells; ++column)
            target[column] += weight * source[column];
    }
}

// A pattern (16 x 16 float grey values, continuous) as an upright Gaussian blur would show it, the
// black border around it blurred in: along the rows, then down the columns. Mean removed, unit length.
std::array<float, 256> patternBlurredUpright(const cv::Mat& pattern, double blurAcross, double blurDown)
{
    const int marginX = int(std::ceil(3.0 * blurAcross)) + 1, marginY = int(std::ceil(3.0 * blurDown)) + 1;
    const std::vector<float> across = gaussianWeights(blurAcross, marginX);
    const std::vector<float> down = gaussianWeights(blurDown, marginY);
    const PaddedCells cells(pattern.ptr<float>(0));
    std::array<float, 256> rows{}, reference{};
    for (int dx = -marginX; dx <= marginX; ++dx)
        addShifted(cells, 0, dx, across[size_t(dx + marginX)], rows.data());
    const PaddedCells blurredRows(rows.data());
    for (int dy = -marginY; dy <= marginY; ++dy)
        addShifted(blurredRows, dy, 0, down[size_t(dy + marginY)], reference.data());
    normalise(reference);
    return reference;
}

// A pattern as a measured blur would show it (kernel: pattern cells, odd size, oriented for
// cv::filter2D), the black border blurred in; mean removed, unit length. Only the pattern's own
// cells are computed, and the black border adds nothing: a sum of shifted patterns costs less than
// a general filter over the padded pattern, and the kernel's empty cells cost nothing.
std::array<float, 256> patternBlurredBy(const cv::Mat& pattern, const cv::Mat& kernel)
{
    const int margin = kernel.rows / 2;
    const PaddedCells cells(pattern.ptr<float>(0));
    std::array<float, 256> reference{};
    for (int j = 0; j < kernel.rows; ++j)
        for (int i = 0; i < kernel.cols; ++i)
        {
            const float weight = kernel.at<float>(j, i);
            if (weight != 0.0f)
                addShifted(cells, j - margin, i - margin, weight, reference.data());
        }
    normalise(reference);
    return reference;
}

// A pattern as a Gaussian blur would show it (standard deviations across and down in pattern cells,
// and their correlation: non-zero for a blur along a diagonal); mean removed, unit length. An
// upright blur separates into two passes along the rows and columns; a leaning one is summed whole.
std::array<float, 256> blurredPattern(const cv::Mat& pattern, double blurAcross, double blurDown,
                                      double correlation)
{
    if (correlation == 0.0)
        return patternBlurredUpright(pattern, blurAcross, blurDown);
    const int margin = int(std::ceil(3.0 * std::max(blurAcross, blurDown))) + 1;
    return patternBlurredBy(pattern, blurKernel(blurAcross, blurDown, correlation, margin));
}

// A smoothed pattern at the first look's resolution: the mean of each block of cells, mean removed,
// unit length.
SquareMarkerDetector::CoarsePattern coarsened(const std::array<float, 256>& smoothed)
{
    const int block = kCells / SquareMarkerDetector::kCoarseCells;
    SquareMarkerDetector::CoarsePattern coarse{};
    for (int row = 0; row < kCells; ++row)
        for (int column = 0; column < kCells; ++column)
            coarse[size_t((row / block) * SquareMarkerDetector::kCoarseCells + column / block)] +=
                smoothed[size_t(row * kCells + column)];
    normalise(coarse);
    return coarse;
}

} // namespace

SquareMarkerDetector::SquareMarkerDetector()
    : _threshold(100), _thresholdMode(ADAPTIVE), _minimumConfidence(0.8)
{
}

int SquareMarkerDetector::addPattern(const Pattern& pattern)
{
    std::array<std::array<float, 256>, 4> normalised;
    std::array<cv::Mat, 4> greys;
    for (int orientation = 0; orientation < 4; ++orientation)
    {
        std::array<float, 256>& values = normalised[size_t(orientation)];
        cv::Mat& grey = greys[size_t(orientation)];
        grey.create(kCells, kCells, CV_32FC1);
        for (int row = 0; row < kCells; ++row)
            for (int column = 0; column < kCells; ++column)
            {
                grey.at<float>(row, column) = pattern.grey(orientation, row, column);
                values[size_t(row * kCells + column)] = grey.at<float>(row, column);
            }
        normalise(values);
    }
    _patterns.push_back(normalised);
    _patternGreys.push_back(greys);
    std::array<std::array<float, 256>, 4> smoothed;
    for (int orientation = 0; orientation < 4; ++orientation)
        smoothed[size_t(orientation)] =
            blurredPattern(greys[size_t(orientation)], kRankingBlur, kRankingBlur, 0.0);
    _smoothedPatterns.push_back(smoothed);
    std::array<CoarsePattern, 4> coarse;
    for (int orientation = 0; orientation < 4; ++orientation)
        coarse[size_t(orientation)] = coarsened(smoothed[size_t(orientation)]);
    _coarsePatterns.push_back(coarse);
    return int(_patterns.size()) - 1;
}

void SquareMarkerDetector::binarise(const cv::Mat& search)
{
    if (_thresholdMode == FIXED)
        cv::threshold(search, _binary, std::max(0, _threshold - 1), 255, cv::THRESH_BINARY_INV);
    else
        binariseAdaptive(search);
}

namespace
{

// The darkest (Maximum false) or brightest of three rows of bytes, sixteen at a time.
template <bool Maximum>
void extremeOfRows(const unsigned char* a, const unsigned char* b, const unsigned char* c, unsigned char* out,
                   int count)
{
    int x = 0;
#ifdef __SSE2__
    for (; x + 16 <= count; x += 16)
    {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        const __m128i result = Maximum ? _mm_max_epu8(_mm_max_epu8(first, second), third)
                                       : _mm_min_epu8(_mm_min_epu8(first, second), third);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), result);
    }
#endif
    for (; x < count; ++x)
        out[x] = Maximum ? std::max(std::max(a[x], b[x]), c[x]) : std::min(std::min(a[x], b[x]), c[x]);
}

// The darkest (Maximum false) or brightest pixel of each 3 x 3 neighbourhood of a small 8-bit grid,
// the window cut at the grid's edges: along the rows into a scratch grid, then down its columns, so
// in may be out. On the tile grids, a sixteenth of the frame, a general morphology filter's set-up
// costs more than this whole pass.
template <bool Maximum> void extremeOfNeighbours(const cv::Mat& in, cv::Mat& scratch, cv::Mat& out)
{
    const int rows = in.rows, columns = in.cols;
    scratch.create(rows, columns, CV_8UC1);
    for (int y = 0; y < rows; ++y)
    {
        const unsigned char* row = in.ptr<unsigned char>(y);
        unsigned char* across = scratch.ptr<unsigned char>(y);
        if (columns < 2)
        {
            across[0] = row[0];
            continue;
        }
        extremeOfRows<Maximum>(row, row + 1, row + 2, across + 1, columns - 2);
        across[0] = Maximum ? std::max(row[0], row[1]) : std::min(row[0], row[1]);
        across[columns - 1] = Maximum ? std::max(row[columns - 2], row[columns - 1])
                                      : std::min(row[columns - 2], row[columns - 1]);
    }
    out.create(rows, columns, CV_8UC1);
    for (int y = 0; y < rows; ++y)
        extremeOfRows<Maximum>(scratch.ptr<unsigned char>(std::max(0, y - 1)), scratch.ptr<unsigned char>(y),
                               scratch.ptr<unsigned char>(std::min(rows - 1, y + 1)),
                               out.ptr<unsigned char>(y), columns);
}

// Each tile's level and whether it is flat, from its window's darkest and brightest pixel. Written
// branch-free on separate arrays so that the compiler does it sixteen tiles at a time; x / 255 is
// (x + 1 + x / 256) / 256 for every x the level can reach (up to 255 * 255 + 127).
void levelsOfRow(const unsigned char* __restrict minimum, const unsigned char* __restrict maximum,
                 unsigned char* __restrict level, unsigned char* __restrict flat, int count, int threshold)
{
    for (int x = 0; x < count; ++x)
    {
        const unsigned contrast = unsigned(maximum[x] - minimum[x]);
        const unsigned scaled = contrast * unsigned(threshold) + 127u;
        const unsigned above = minimum[x] + ((scaled + 1u + (scaled >> 8)) >> 8);
        const bool isFlat = contrast < unsigned(SquareMarkerDetector::kMinimumContrast);
        flat[x] = isFlat ? 255 : 0;
        // Level 0: no pixel is darker, the flat window stays blank.
        level[x] = isFlat ? 0 : static_cast<unsigned char>(above);
    }
}

void takeWhereFlat(const unsigned char* __restrict spread, const unsigned char* __restrict flat,
                   unsigned char* __restrict level, int count)
{
    for (int x = 0; x < count; ++x)
        level[x] =
            static_cast<unsigned char>((spread[x] & flat[x]) | (level[x] & ~flat[x])); // flat is 0 or 255
}

} // namespace

void SquareMarkerDetector::binariseAdaptive(const cv::Mat& search)
{
    const int tilesX = (search.cols + kTile - 1) / kTile;
    const int tilesY = (search.rows + kTile - 1) / kTile;
    findTileExtremes(search, tilesX, tilesY);
    // Each tile's extremes over its 3 x 3 neighbourhood, so that no level changes abruptly at a tile
    // boundary that an edge happens to follow.
    extremeOfNeighbours<false>(_tileMinimum, _tileScratch, _tileMinimum);
    extremeOfNeighbours<true>(_tileMaximum, _tileScratch, _tileMaximum);
    _tileLevel.create(tilesY, tilesX, CV_8UC1);
    _tileFlat.create(tilesY, tilesX, CV_8UC1);
    const int threshold = std::min(255, std::max(0, _threshold));
    for (int ty = 0; ty < tilesY; ++ty)
        levelsOfRow(_tileMinimum.ptr<unsigned char>(ty), _tileMaximum.ptr<unsigned char>(ty),
                    _tileLevel.ptr<unsigned char>(ty), _tileFlat.ptr<unsigned char>(ty), tilesX, threshold);
    // Flat tiles near contrast take its level, so that the inside of a wide border stays dark and
    // the paper beside it bright; farther away they stay blank.
    for (int pass = 0; pass < kFlatReach; ++pass)
    {
        extremeOfNeighbours<true>(_tileLevel, _tileScratch, _spreadLevel);
        for (int ty = 0; ty < tilesY; ++ty)
            takeWhereFlat(_spreadLevel.ptr<unsigned char>(ty), _tileFlat.ptr<unsigned char>(ty),
                          _tileLevel.ptr<unsigned char>(ty), tilesX);
    }
    compareWithTileLevels(search);
}

// Darkest and brightest pixel of every tile: down each band of tile rows column by column, then
// across the tiles. Plain loops over bytes, which the compiler turns into vector instructions.
void SquareMarkerDetector::findTileExtremes(const cv::Mat& search, int tilesX, int tilesY)
{
    _tileMinimum.create(tilesY, tilesX, CV_8UC1);
    _tileMaximum.create(tilesY, tilesX, CV_8UC1);
    _columnMinimum.create(1, search.cols, CV_8UC1);
    _columnMaximum.create(1, search.cols, CV_8UC1);
    unsigned char* columnMinimum = _columnMinimum.ptr<unsigned char>(0);
    unsigned char* columnMaximum = _columnMaximum.ptr<unsigned char>(0);
    const int width = search.cols;
    for (int ty = 0; ty < tilesY; ++ty)
    {
        const int top = ty * kTile, bottom = std::min(search.rows, top + kTile);
        std::memcpy(columnMinimum, search.ptr<unsigned char>(top), size_t(width));
        std::memcpy(columnMaximum, search.ptr<unsigned char>(top), size_t(width));
        for (int y = top + 1; y < bottom; ++y)
        {
            const unsigned char* row = search.ptr<unsigned char>(y);
            for (int x = 0; x < width; ++x)
            {
                columnMinimum[x] = std::min(columnMinimum[x], row[x]);
                columnMaximum[x] = std::max(columnMaximum[x], row[x]);
            }
        }
        unsigned char* minimum = _tileMinimum.ptr<unsigned char>(ty);
        unsigned char* maximum = _tileMaximum.ptr<unsigned char>(ty);
        // Whole tiles with the four columns written out, which the compiler vectorises; then the
        // narrower last tile, if any.
        const int wholeTiles = width / kTile;
        for (int tx = 0; tx < wholeTiles; ++tx)
        {
            const unsigned char* low = columnMinimum + kTile * tx;
            const unsigned char* high = columnMaximum + kTile * tx;
            minimum[tx] = std::min(std::min(low[0], low[1]), std::min(low[2], low[3]));
            maximum[tx] = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
        }
        if (wholeTiles < tilesX)
        {
            const int left = wholeTiles * kTile;
            minimum[wholeTiles] = *std::min_element(columnMinimum + left, columnMinimum + width);
            maximum[wholeTiles] = *std::max_element(columnMaximum + left, columnMaximum + width);
        }
    }
}

// Border candidates: pixels darker than their tile's level. The level row is spread to pixel width
// once per band of tile rows, so the comparison itself is one vectorised pass.
void SquareMarkerDetector::compareWithTileLevels(const cv::Mat& search)
{
    _binary.create(search.size(), CV_8UC1);
    _level.create(1, search.cols, CV_8UC1);
    unsigned char* levelRow = _level.ptr<unsigned char>(0);
    const int width = search.cols;
    for (int top = 0; top < search.rows; top += kTile)
    {
        const unsigned char* tileLevel = _tileLevel.ptr<unsigned char>(top / kTile);
        const int wholeTiles = width / kTile;
        for (int tx = 0; tx < wholeTiles; ++tx)
            for (int k = 0; k < kTile; ++k)
                levelRow[kTile * tx + k] = tileLevel[tx];
        for (int x = wholeTiles * kTile; x < width; ++x)
            levelRow[x] = tileLevel[x / kTile];
        const int bottom = std::min(search.rows, top + kTile);
        for (int y = top; y < bottom; ++y)
        {
            const unsigned char* row = search.ptr<unsigned char>(y);
            unsigned char* binary = _binary.ptr<unsigned char>(y);
            for (int x = 0; x < width; ++x)
                binary[x] = row[x] < levelRow[x] ? 255 : 0;
        }
    }
}

namespace
{

// What the profiles across a marker's sides found, summed over its sides, and the buffers they use.
struct SideEdges
{
    double darkSum = 0.0, brightSum = 0.0;
    int samples = 0;
    double medianSpread = 0.0; ///< of the last side located (0 when it showed no edge, or not wanted)
    bool wantSpread = true;
    std::vector<osg::Vec2d> points;
    std::vector<double> spreads;
    std::vector<float> profile;
    // Room for the densest side at once: growing them profile by profile cost more than the profiles.
    SideEdges()
    {
        points.reserve(kMaximumDenseSamples);
        spreads.reserve(kMaximumDenseSamples);
        profile.reserve(2 * kMaximumReach + 1);
    }
};

// Profiles across one side, outwards, at the given centres (processing pixels): the step on each
// becomes an edge point in ideal video pixels, and the side's line is fitted through them.
bool locateSide(const cv::Mat& grey, int scale, UndistortionGrid& undistortion,
                const std::vector<osg::Vec2d>& centres, const std::vector<osg::Vec2d>& normals, int reach,
                double floorShare, Line& line, SideEdges& edges)
{
    std::vector<osg::Vec2d>& points = edges.points;
    std::vector<double>& spreads = edges.spreads;
    points.clear();
    spreads.clear();
    edges.medianSpread = 0.0;
    edges.profile.resize(size_t(2 * reach + 1));
    for (size_t k = 0; k < centres.size(); ++k)
    {
        sampleProfile(grey, centres[k], normals[k], reach, edges.profile.data());
        Step step;
        if (!locateStep(edges.profile, floorShare, step))
            continue;
        edges.darkSum += step.darkest;
        edges.brightSum += step.brightest;
        spreads.push_back(step.spread);
        const osg::Vec2d edge = centres[k] + normals[k] * step.position;
        points.push_back(undistortion.observedToIdeal(toVideo(edge.x(), edge.y(), scale)));
    }
    edges.samples += int(spreads.size());
    if (edges.wantSpread && !spreads.empty())
    {
        std::nth_element(spreads.begin(), spreads.begin() + long(spreads.size() / 2), spreads.end());
        edges.medianSpread = spreads[spreads.size() / 2];
    }
    return points.size() >= 3 && fitLineRobustly(points, line);
}

// Corners where neighbouring side lines cross; a corner far from where it was thought to be means a
// side was fitted to something else, and the rough corner stays.
bool intersectSides(const std::array<Line, 4>& lines, const std::array<bool, 4>& fitted,
                    const std::array<osg::Vec2d, 4>& rough, double tolerance,
                    std::array<osg::Vec2d, 4>& ideal)
{
    for (int corner = 0; corner < 4; ++corner)
    {
        const int previous = (corner + 3) % 4;
        osg::Vec2d refined;
        if (fitted[size_t(previous)] && fitted[size_t(corner)] &&
            intersect(lines[size_t(previous)], lines[size_t(corner)], refined) &&
            (refined - rough[size_t(corner)]).length() < tolerance)
            ideal[size_t(corner)] = refined;
        else
            ideal[size_t(corner)] = rough[size_t(corner)];
    }
    // A camera model that sends corners to infinity leaves nothing to sample or to pose.
    return allFinite(ideal);
}

} // namespace

bool SquareMarkerDetector::refineCorners(const cv::Mat& grey, int scale,
                                         const std::array<osg::Vec2d, 4>& approximate, double reachShare,
                                         std::array<osg::Vec2d, 4>& ideal, EdgeLevels& levels) const
{
    std::array<Line, 4> lines;
    std::array<bool, 4> fitted{};
    SideEdges edges;
    std::vector<osg::Vec2d> centres, normals;
    centres.reserve(kMaximumDenseSamples);
    normals.reserve(kMaximumDenseSamples);
    double perimeter = 0.0;
    for (int side = 0; side < 4; ++side)
    {
        const osg::Vec2d& a = approximate[size_t(side)];
        const osg::Vec2d& b = approximate[size_t((side + 1) % 4)];
        osg::Vec2d direction = b - a;
        const double length = direction.length();
        if (length < 1e-6)
            return false;
        perimeter += length;
        direction /= length;
        // Corners run clockwise on screen (y down), so this normal points out of the marker.
        const osg::Vec2d normal(direction.y(), -direction.x());
        const int samples = std::min(16, std::max(4, int(length / 3.0)));
        // Far enough to take in a blurred edge, short of the pattern a quarter of the side inwards.
        const int reach =
            std::max(3, std::min({int(std::ceil(reachShare * length)), int(0.2 * length), kMaximumReach}));
        centres.clear();
        for (int k = 0; k < samples; ++k)
            centres.push_back(a + (b - a) * (0.1 + 0.8 * (k + 0.5) / samples));
        normals.assign(centres.size(), normal);
        fitted[size_t(side)] = locateSide(grey, scale, _undistortion, centres, normals, reach, kStepFloor,
                                          lines[size_t(side)], edges);
        levels.spread[size_t(side)] = edges.medianSpread;
    }
    if (edges.samples == 0)
        return false;
    levels.dark = edges.darkSum / edges.samples;
    levels.bright = edges.brightSum / edges.samples;
    std::array<osg::Vec2d, 4> rough;
    for (int corner = 0; corner < 4; ++corner)
        rough[size_t(corner)] = _undistortion.observedToIdeal(
            toVideo(approximate[size_t(corner)].x(), approximate[size_t(corner)].y(), scale));
    return intersectSides(lines, fitted, rough, scale * std::max(4.0, 0.04 * perimeter), ideal);
}

// The sides of an identified marker once more, now that its corners are known to a fraction of a
// pixel: a profile at every pixel along each side instead of at most 16, each reaching only as far
// as the side's own blur needs. The curved path of a side through the lens is followed point by point.
// Small markers gain most: their pose near frontal rests on corner shifts of hundredths of a pixel.
void SquareMarkerDetector::refineCornersDensely(const cv::Mat& grey, int scale, const EdgeLevels& levels,
                                                std::array<osg::Vec2d, 4>& ideal) const
{
    std::array<Line, 4> lines;
    std::array<bool, 4> fitted{};
    SideEdges edges;
    edges.wantSpread = false; // the blur is the first pass's
    std::vector<osg::Vec2d> centres, normals;
    centres.reserve(kMaximumDenseSamples);
    normals.reserve(kMaximumDenseSamples);
    for (int side = 0; side < 4; ++side)
    {
        const osg::Vec2d& a = ideal[size_t(side)];
        const osg::Vec2d& b = ideal[size_t((side + 1) % 4)];
        const double length = (b - a).length() / scale;
        const int samples = std::min(kMaximumDenseSamples, std::max(4, int(0.8 * length)));
        const int reach =
            std::max(3, std::min({int(std::ceil(3.0 * std::sqrt(levels.spread[size_t(side)]))) + 2,
                                  int(0.2 * length), kMaximumReach}));
        centres.clear();
        normals.clear();
        // Each profile sits halfway between two points of the side seen through the lens, across
        // the chord between them.
        osg::Vec2d before = toProcessing(_camera.idealToObserved(a + (b - a) * 0.1), scale);
        for (int k = 0; k < samples; ++k)
        {
            const double t = 0.1 + 0.8 * (k + 1) / samples;
            const osg::Vec2d after = toProcessing(_camera.idealToObserved(a + (b - a) * t), scale);
            osg::Vec2d direction = after - before;
            if (direction.normalize() < 1e-9)
                return;
            centres.push_back((before + after) * 0.5);
            normals.emplace_back(direction.y(), -direction.x());
            before = after;
        }
        fitted[size_t(side)] = locateSide(grey, scale, _undistortion, centres, normals, reach,
                                          kDenseStepFloor, lines[size_t(side)], edges);
    }
    std::array<osg::Vec2d, 4> dense;
    if (intersectSides(lines, fitted, ideal, scale * kDenseTolerance, dense))
        ideal = dense;
}

namespace
{

// The border ring (between the outer edge and the pattern) of a marker is one band of ink: most of
// it darker than halfway between the border and the paper as its own edges showed them, whatever
// the exposure, and its dark stretches all about as dark. Mottled texture (a carpet, a stone floor)
// can outline a square and correlate with a pattern, but its "ring" is patches of several greys:
// its dark stretches spread over a quarter or more of its edge contrast, a printed ring's (shadow,
// blur, ISO 3200 noise and JPEG included) under a tenth. The ring is read in stretches of four
// samples, so that the camera's pixel noise, which averages out over a stretch, is not taken for
// patches; stretches lighter than halfway (an occluder, a highlight) are left to the dark share.
bool borderRingIsEvenlyDark(const SquareSampler& sampler, const double dark, const double bright)
{
    const double ringLevel = 0.5 * (dark + bright);
    int darkSamples = 0;
    double darkStretchSum = 0.0, darkStretchSquares = 0.0;
    int darkStretches = 0;
    for (int side = 0; side < 4; ++side)
        for (int stretch = 0; stretch < kRingStretches; ++stretch)
        {
            double sum = 0.0;
            for (int k = 0; k < kRingStretchSamples; ++k)
            {
                // Clockwise round the ring, a side at a time, 1/8 of the side inside the outer edge.
                const double t = 0.125 + 0.75 * (stretch * kRingStretchSamples + k + 0.5) /
                                             (kRingStretches * kRingStretchSamples);
                const std::array<std::pair<double, double>, 4> point = {
                    {{t, 0.125}, {0.875, t}, {1.0 - t, 0.875}, {0.125, 1.0 - t}}};
                const float value = sampler.at(point[size_t(side)].first, point[size_t(side)].second);
                sum += value;
                if (value < ringLevel)
                    ++darkSamples;
            }
            const double mean = sum / kRingStretchSamples;
            if (mean < ringLevel)
            {
                darkStretchSum += mean;
                darkStretchSquares += mean * mean;
                ++darkStretches;
            }
        }
    if (darkSamples < kMinimumDarkRing * 4 * kRingStretches * kRingStretchSamples)
        return false;
    const double mean = darkStretchSum / darkStretches;
    const double spread = std::sqrt(std::max(0.0, darkStretchSquares / darkStretches - mean * mean));
    return spread <= kMaximumRingUnevenness * (bright - dark);
}

} // namespace

bool SquareMarkerDetector::samplePattern(const cv::Mat& grey, int scale,
                                         const std::array<osg::Vec2d, 4>& ideal, const EdgeLevels& levels,
                                         std::array<float, 256>& samples) const
{
    SquareSampler sampler(grey, _camera, scale);
    if (!sampler.homography.set(ideal))
        return false;

    if (!borderRingIsEvenlyDark(sampler, levels.dark, levels.bright))
        return false;

    // Sub-samples per cell grow with the size of a cell on screen, up to 3 x 3.
    const double side = (ideal[0] - ideal[2]).length() / std::sqrt(2.0) / scale;
    const double cellPixels = side * 0.5 / kCells;
    // Clamped as a double: a far-off corner must not overflow the conversion.
    const int perCell = int(std::min(3.0, std::max(1.0, cellPixels / 2.5)));
    // The lens and the perspective are applied at the cells' corners only; the sub-samples are placed
    // between them bilinearly. Across one cell both bend a straight line by thousandths of a pixel,
    // and a large marker's 2304 sub-samples cost 289 lens evaluations instead of as many.
    const double step = 0.5 / kCells;
    std::array<osg::Vec2d, (kCells + 1) * (kCells + 1)> corners;
    auto corner = [&corners](int row, int column) -> osg::Vec2d&
    { return corners[size_t(row * (kCells + 1) + column)]; };
    for (int row = 0; row <= kCells; ++row)
        for (int column = 0; column <= kCells; ++column)
            corner(row, column) = sampler.seen(0.25 + step * column, 0.25 + step * row);
    for (int row = 0; row < kCells; ++row)
        for (int column = 0; column < kCells; ++column)
        {
            const osg::Vec2d& topLeft = corner(row, column);
            const osg::Vec2d& topRight = corner(row, column + 1);
            const osg::Vec2d& bottomLeft = corner(row + 1, column);
            const osg::Vec2d& bottomRight = corner(row + 1, column + 1);
            float sum = 0.0f;
            for (int sy = 0; sy < perCell; ++sy)
            {
                const double down = (sy + 0.5) / perCell;
                const osg::Vec2d left = topLeft + (bottomLeft - topLeft) * down;
                const osg::Vec2d right = topRight + (bottomRight - topRight) * down;
                for (int sx = 0; sx < perCell; ++sx)
                {
                    const osg::Vec2d point = left + (right - left) * ((sx + 0.5) / perCell);
                    sum += sampleBilinear(grey, point.x(), point.y());
                }
            }
            samples[size_t(row * kCells + column)] = sum / float(perCell * perCell);
        }
    return true;
}

namespace
{

// The paper read on a ring just outside a candidate's border (marker units) and the shadow edge it
// shows: its bright and dark stretches, their levels, and the two points where they meet.
struct ShadowRing
{
    std::array<osg::Vec2d, kShadowRingSamples> where;
    std::array<float, kShadowRingSamples> paper;
    std::array<osg::Vec2d, 2> crossings;
    float litLevel = 0.0f, shadedLevel = 0.0f;
    osg::Vec2d litPoint; // a lit reading's place

    // Which side of the straight line through the crossings a point lies on.
    bool sideOf(const osg::Vec2d& point) const
    {
        const osg::Vec2d along = crossings[1] - crossings[0], offset = point - crossings[0];
        return along.x() * offset.y() - along.y() * offset.x() > 0.0;
    }

    // The light on the paper at a point of the square, from the readings around it: each weighs by
    // the inverse fourth power of its distance, so a cell takes the light of the paper nearest it
    // and a shadow edge that bends between the two crossings is followed, where a straight line
    // through them cuts across the bend.
    float lightNear(const osg::Vec2d& point) const
    {
        double weighted = 0.0, weights = 0.0;
        for (size_t k = 0; k < paper.size(); ++k)
        {
            const double squared = (where[k] - point).length2();
            const double weight = 1.0 / (squared * squared + kNearPaperSoftening);
            weighted += weight * paper[k];
            weights += weight;
        }
        return float(weighted / weights);
    }
};

// Reads the ring clockwise around the square; false when it does not show exactly one hard edge
// (paper that is lit on one stretch and shaded on the other).
bool readShadowRing(const SquareSampler& sampler, ShadowRing& ring)
{
    const int perSide = kShadowRingSamples / 4;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < perSide; ++k)
        {
            const double t = (k + 0.5) / perSide, out = -kShadowRingDistance, far = 1.0 + kShadowRingDistance;
            const osg::Vec2d points[4] = {{t, out}, {far, t}, {1.0 - t, far}, {out, 1.0 - t}};
            const size_t index = size_t(side * perSide + k);
            ring.where[index] = points[side];
            ring.paper[index] = sampler.at(points[side].x(), points[side].y());
        }
    const float darkest = *std::min_element(ring.paper.begin(), ring.paper.end());
    const float brightest = *std::max_element(ring.paper.begin(), ring.paper.end());
    if (!(darkest > 0.0f) || brightest < kShadowContrast * darkest)
        return false;
    const float middle = 0.5f * (darkest + brightest);
    size_t crossingCount = 0;
    double litSum = 0.0, shadedSum = 0.0;
    int litCount = 0;
    for (size_t k = 0; k < ring.paper.size(); ++k)
    {
        const bool lit = ring.paper[k] > middle;
        (lit ? litSum : shadedSum) += ring.paper[k];
        if (lit)
        {
            ++litCount;
            ring.litPoint = ring.where[k];
        }
        const size_t next = (k + 1) % ring.paper.size();
        if (lit == (ring.paper[next] > middle))
            continue;
        if (crossingCount == 2)
            return false;
        ring.crossings[crossingCount++] = (ring.where[k] + ring.where[next]) * 0.5;
    }
    if (crossingCount != 2)
        return false;
    ring.litLevel = float(litSum / litCount);
    ring.shadedLevel = float(shadedSum / (int(ring.paper.size()) - litCount));
    return true;
}

// Divides each pattern cell by the light on it. curved: the light of the paper nearest the cell;
// otherwise the lit or shaded level on its side of the straight line through the crossings.
void evenOutShadow(const ShadowRing& ring, bool curved, std::array<float, 256>& samples)
{
    const bool litSide = ring.sideOf(ring.litPoint);
    const double step = 0.5 / kCells;
    for (int row = 0; row < kCells; ++row)
        for (int column = 0; column < kCells; ++column)
        {
            const osg::Vec2d centre(0.25 + step * (column + 0.5), 0.25 + step * (row + 0.5));
            const float light = curved ? ring.lightNear(centre)
                                       : (ring.sideOf(centre) == litSide ? ring.litLevel : ring.shadedLevel);
            samples[size_t(row * kCells + column)] /= light;
        }
}

} // namespace

// A hard shadow edge across a marker darkens part of its pattern, which no gain and offset of the
// whole pattern undoes. The paper just outside the border shows the edge: its bright and dark
// stretches meet at two points, and the pattern is evened out first by the straight line through
// them, then, while the match still falls short, cell by cell from the paper nearest each cell (an
// edge that bends across the marker).
void SquareMarkerDetector::matchShaded(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal,
                                       const std::array<float, 256>& raw, std::array<float, 256>& samples,
                                       Match& match) const
{
    SquareSampler sampler(grey, _camera, scale);
    ShadowRing ring;
    if (!sampler.homography.set(ideal) || !readShadowRing(sampler, ring))
        return;
    for (bool curved : {false, true})
    {
        if (accepted(match))
            return;
        std::array<float, 256> evened = raw;
        evenOutShadow(ring, curved, evened);
        if (!normalise(evened))
            continue;
        const Match unshaded = matchPattern(evened);
        if (unshaded.score > match.score)
        {
            match = unshaded;
            samples = evened;
        }
    }
}

// Keeps the best score and the best score of any other pattern: a candidate's lead over the
// runner-up is what tells a marker from clutter that resembles several patterns alike.
void SquareMarkerDetector::Match::offer(double candidateScore, int candidatePattern, int candidateOrientation)
{
    if (candidatePattern == pattern)
    {
        if (candidateScore > score)
        {
            score = candidateScore;
            orientation = candidateOrientation;
        }
    }
    else if (candidateScore > score)
    {
        runnerUp = score;
        score = candidateScore;
        pattern = candidatePattern;
        orientation = candidateOrientation;
    }
    else if (candidateScore > runnerUp)
        runnerUp = candidateScore;
}

double SquareMarkerDetector::smallSideFloor(const std::array<osg::Vec2d, 4>& corners) const
{
    double side = kClearlySampledSide;
    for (size_t k = 0; k < 4; ++k)
        side = std::min(side, (corners[k] - corners[(k + 1) % 4]).length());
    return confidenceFloor() + kSmallSideFloorRise * (kClearlySampledSide - side);
}

double SquareMarkerDetector::confidenceFloor() const
{
    const double doublings = std::log2(std::max(1.0, double(_patterns.size()) / kFloorBasePatterns));
    return std::min(kMaximumFloor, _minimumConfidence + kFloorPerDoubling * doublings);
}

bool SquareMarkerDetector::accepted(const Match& match) const
{
    return match.pattern >= 0 && match.score >= confidenceFloor() &&
           match.score - match.runnerUp >= _minimumLead;
}

SquareMarkerDetector::Match SquareMarkerDetector::matchPattern(const std::array<float, 256>& samples) const
{
    Match match;
    for (size_t p = 0; p < _patterns.size(); ++p)
        for (int turn = 0; turn < 4; ++turn)
            match.offer(correlate(samples, _patterns[p][size_t(turn)]), int(p), turn);
    return match;
}

std::vector<int> SquareMarkerDetector::closestPatterns(const std::array<float, 256>& samples,
                                                       double& closestScore) const
{
    // Blurring every pattern costs; the few that rank first are enough. A blurred marker correlates
    // with its sharp pattern hardly better than with others, so the ranking compares the samples
    // with smoothed patterns: whatever the blur's shape, it takes the fine detail that tells the
    // sharp patterns apart and leaves the coarse shapes these share with the marker.
    // The few best are kept in order as the comparisons go, with no list of every pattern to sort.
    std::array<std::pair<double, int>, kBlurredCandidates> best;
    best.fill({-2.0, -1});
    for (size_t p = 0; p < _patterns.size(); ++p)
        for (int turn = 0; turn < 4; ++turn)
        {
            const double score = correlate(samples, _smoothedPatterns[p][size_t(turn)]);
            if (score <= best.back().first)
                continue;
            size_t at = best.size() - 1;
            for (; at > 0 && best[at - 1].first < score; --at)
                best[at] = best[at - 1];
            best[at] = {score, int(p) * 4 + turn};
        }
    std::vector<int> closest;
    for (const std::pair<double, int>& entry : best)
        if (entry.second >= 0)
            closest.push_back(entry.second);
    closestScore = closest.empty() ? -1.0 : best.front().first;
    return closest;
}

SquareMarkerDetector::Match SquareMarkerDetector::matchBlurredPattern(const std::array<float, 256>& samples,
                                                                      const std::vector<int>& closest,
                                                                      double blurAcross, double blurDown,
                                                                      double correlation) const
{
    Match match;
    for (const int candidate : closest)
    {
        const int p = candidate / 4, turn = candidate % 4;
        match.offer(correlate(samples, blurredPattern(_patternGreys[size_t(p)][size_t(turn)], blurAcross,
                                                      blurDown, correlation)),
                    p, turn);
    }
    return match;
}

// A marker's outer corner is a dark quadrant on paper, and a blurred quadrant's mixed second
// derivative is the blur itself, whatever its shape (a straight or shaky motion, focus, or both): so
// the darkness sampled on a grid of cell corners around each outer corner, differenced across and
// down, gives the share of the blur falling into each pattern cell. Each cell takes the middle of
// the four corners' estimates (a corner under an occluder or a shadow edge is outvoted). The ring
// of ink inside and the paper outside are a quarter of the side, 8 cells, wide, so reach stays under
// that.
bool SquareMarkerDetector::measureBlurKernel(const cv::Mat& grey, int scale,
                                             const std::array<osg::Vec2d, 4>& ideal, int reach,
                                             cv::Mat& kernel) const
{
    SquareSampler sampler(grey, _camera, scale);
    if (!sampler.homography.set(ideal))
        return false;
    const double cell = 0.5 / kCells; // of the square's side
    const int size = 2 * reach + 1, points = size + 1;
    std::vector<float> darkness(size_t(points * points));
    std::array<cv::Mat, 4> estimates;
    const double cornerU[4] = {0.0, 1.0, 1.0, 0.0}, cornerV[4] = {0.0, 0.0, 1.0, 1.0};
    for (int corner = 0; corner < 4; ++corner)
    {
        for (int j = 0; j < points; ++j)
            for (int i = 0; i < points; ++i)
                darkness[size_t(j * points + i)] = -sampler.at(cornerU[corner] + (i - reach - 0.5) * cell,
                                                               cornerV[corner] + (j - reach - 0.5) * cell);
        // The marker lies towards the square's inside: flipping an axis of the quadrant flips the
        // derivative's sign along it.
        const float sign = (corner == 0 || corner == 2) ? 1.0f : -1.0f;
        cv::Mat& estimate = estimates[size_t(corner)];
        estimate.create(size, size, CV_32FC1);
        for (int j = 0; j < size; ++j)
            for (int i = 0; i < size; ++i)
            {
                const size_t at = size_t(j * points + i);
                estimate.at<float>(j, i) =
                    sign * (darkness[at + size_t(points) + 1] - darkness[at + size_t(points)] -
                            darkness[at + 1] + darkness[at]);
            }
    }
    kernel.create(size, size, CV_32FC1);
    float peak = 0.0f;
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i)
        {
            std::array<float, 4> values = {estimates[0].at<float>(j, i), estimates[1].at<float>(j, i),
                                           estimates[2].at<float>(j, i), estimates[3].at<float>(j, i)};
            std::sort(values.begin(), values.end());
            const float middle = std::max(0.0f, 0.5f * (values[1] + values[2]));
            // Turned half round: cv::filter2D correlates, and the blur's share at offset (i, j)
            // brings the pattern's cell from (-i, -j) to each sample.
            kernel.at<float>(size - 1 - j, size - 1 - i) = middle;
            peak = std::max(peak, middle);
        }
    // Cells far below the peak hold the camera's noise, not the blur: emptied, they cost nothing
    // when the patterns are blurred.
    double sum = 0.0;
    for (float& value : cv::Mat_<float>(kernel))
    {
        if (value < kKernelNoiseShare * peak)
            value = 0.0f;
        sum += value;
    }
    if (!(sum > 0.0))
        return false;
    kernel /= sum;
    return true;
}

SquareMarkerDetector::Match
SquareMarkerDetector::matchPatternsBlurredBy(const std::array<float, 256>& samples,
                                             const std::vector<int>& closest, const cv::Mat& kernel) const
{
    Match match;
    for (const int candidate : closest)
    {
        const int p = candidate / 4, turn = candidate % 4;
        match.offer(correlate(samples, patternBlurredBy(_patternGreys[size_t(p)][size_t(turn)], kernel)), p,
                    turn);
    }
    return match;
}

// The edges give the blur's spread across and down the square but not whether it runs along a
// diagonal of it (motion at an angle to the sides), and a path that lingers at places spreads the
// steps less than the blur mixes the cells. So the blurs compared are a few: upright and leaning
// either way, as measured and a third wider. Each is one more chance for clutter to pass, so a
// blurred match must lead its runner-up by kBlurredLead; the one leading by most wins.
SquareMarkerDetector::Match SquareMarkerDetector::matchBlurredPatterns(const std::array<float, 256>& samples,
                                                                       const std::vector<int>& closest,
                                                                       double blurAcross,
                                                                       double blurDown) const
{
    Match best;
    bool bestCounts = false;
    for (double widening : kBlurWidenings)
        for (double correlation : kBlurCorrelations)
        {
            // The first shape tried is the blur as measured, upright: when even that leaves the
            // candidate far below the floor, the other shapes (which gain a marker at most some 0.15)
            // will not lift it, and when it counts clearly already there is nothing to gain.
            const bool first = widening == kBlurWidenings[0] && correlation == kBlurCorrelations[0];
            if (!first && (bestCounts || best.score < confidenceFloor() - kMostBlurShapeGain))
                return best;
            const Match match =
                matchBlurredPattern(samples, closest, std::min(widening * blurAcross, kMaximumBlur),
                                    std::min(widening * blurDown, kMaximumBlur), correlation);
            const bool counts = accepted(match) && match.score - match.runnerUp >= kBlurredLead;
            const bool better = counts
                                    ? !bestCounts || match.score - match.runnerUp > best.score - best.runnerUp
                                    : !bestCounts && match.score > best.score;
            if (better)
            {
                best = match;
                bestCounts = counts;
            }
        }
    return best;
}

// Motion or focus blur mixes neighbouring cells: the samples are compared with the closest patterns
// blurred as the marker's own corners show the blur, and failing that, with Gaussian blurs as wide as
// its edges are (in pattern cells, across and down the sampled square). match is left alone when
// the edges show too little blur or too much.
void SquareMarkerDetector::matchBlurred(const cv::Mat& grey, int scale,
                                        const std::array<osg::Vec2d, 4>& ideal, const EdgeLevels& levels,
                                        const std::array<float, 256>& samples, Match& match) const
{
    const double sharpSpread = 0.25; // what the two-sample difference alone spreads a step by, pixels squared
    const double cellsAcross = (ideal[1] - ideal[0]).length() / scale / (2.0 * kCells);
    const double cellsDown = (ideal[3] - ideal[0]).length() / scale / (2.0 * kCells);
    const double blurAcross =
        std::sqrt(std::max(0.0, 0.5 * (levels.spread[1] + levels.spread[3]) - sharpSpread)) / cellsAcross;
    const double blurDown =
        std::sqrt(std::max(0.0, 0.5 * (levels.spread[0] + levels.spread[2]) - sharpSpread)) / cellsDown;
    // Beyond kMaximumBlur every pattern blurs into much the same blob: a match would tell nothing.
    const double blur = std::max(blurAcross, blurDown);
    if (!(blur > kMinimumBlur && blur <= kMaximumBlur))
        return;
    double closestScore = -1.0;
    const std::vector<int> closest = closestPatterns(samples, closestScore);
    if (closestScore < kSmoothedMatchFloor)
        return;
    cv::Mat kernel;
    const int reach = std::min(kMaximumKernelReach, int(std::ceil(3.0 * blur)) + 1);
    if (std::min(cellsAcross, cellsDown) >= kMinimumKernelCell &&
        measureBlurKernel(grey, scale, ideal, reach, kernel))
    {
        match = matchPatternsBlurredBy(samples, closest, kernel);
        // The blur as measured fits a marker better than any Gaussian guess; far below the floor,
        // the guesses will not lift the candidate.
        if ((accepted(match) && match.score - match.runnerUp >= kMeasuredBlurLead) ||
            match.score < confidenceFloor() - kMostBlurShapeGain)
            return;
    }
    match = matchBlurredPatterns(samples, closest, blurAcross, blurDown);
    if (match.score - match.runnerUp < kBlurredLead)
        match.pattern = -1; // not clear enough for a second chance
}

// The inner square sampled once per block of cells through the rough corners (no side located, and
// the lens left out: across a marker it bends the square by a pixel or so), against every pattern
// smoothed and coarsened alike: smoothing makes the comparison forgive the rough corners' pixel or
// two, and blur and shadow edges, as the full match does not. Returns the best correlation.
double SquareMarkerDetector::firstLook(const cv::Mat& grey,
                                       const std::array<osg::Vec2d, 4>& approximate) const
{
    SquareHomography homography;
    if (!allFinite(approximate) || !homography.set(approximate))
        return 1.0; // left to the full examination
    CoarsePattern samples;
    const double step = 0.5 / kCoarseCells;
    for (int row = 0; row < kCoarseCells; ++row)
        for (int column = 0; column < kCoarseCells; ++column)
        {
            const osg::Vec2d point = homography.map(0.25 + step * (column + 0.5), 0.25 + step * (row + 0.5));
            samples[size_t(row * kCoarseCells + column)] = sampleBilinear(grey, point.x(), point.y());
        }
    if (!normalise(samples))
        return 0.0;
    double best = -1.0;
    for (const std::array<CoarsePattern, 4>& pattern : _coarsePatterns)
        for (const CoarsePattern& turned : pattern)
            best = std::max(best, correlate(samples, turned));
    return best;
}

double SquareMarkerDetector::examine(const cv::Mat& grey, int scale,
                                     const std::array<osg::Vec2d, 4>& approximate,
                                     std::vector<DetectedSquare>& best, int& matched) const
{
    matched = -1;
    if (firstLook(grey, approximate) < kFirstLookFloor)
        return 0.0;
    std::array<osg::Vec2d, 4> ideal;
    EdgeLevels levels;
    if (!refineCorners(grey, scale, approximate, 0.12, ideal, levels))
        return 0.0;
    std::array<float, 256> raw;
    if (!samplePattern(grey, scale, ideal, levels, raw))
        return 0.0;
    std::array<float, 256> samples = raw;
    if (!normalise(samples))
        return 0.0;
    Match match = matchPattern(samples);
    if (!accepted(match) && match.score > kShadedMatchFloor)
        matchShaded(grey, scale, ideal, raw, samples, match);
    // A blurred marker may correlate with its sharp pattern hardly better than with any other: its
    // own edges, not that score, tell whether the blurred comparison is worth making.
    if (!accepted(match))
        matchBlurred(grey, scale, ideal, levels, samples, match);
    const double score = match.score;
    const int pattern = match.pattern, orientation = match.orientation;
    if (!accepted(match))
        return std::max(0.0, score);
    if (score < smallSideFloor(ideal))
        return score;
    matched = pattern;
    DetectedSquare& slot = best[size_t(pattern)];
    if (score <= slot.confidence)
        return score;
    refineCornersDensely(grey, scale, levels, ideal);
    // The sample matched the pattern turned counter-clockwise orientation times: the upright
    // pattern's corner j sits at sampled corner j - orientation.
    DetectedSquare found;
    found.pattern = pattern;
    found.confidence = std::min(1.0, score);
    for (int j = 0; j < 4; ++j)
    {
        found.ideal[size_t(j)] = ideal[size_t((j - orientation + 4) % 4)];
        found.observed[size_t(j)] = _camera.idealToObserved(found.ideal[size_t(j)]);
    }
    if (allFinite(found.observed))
        slot = found;
    else
        matched = -1;
    return score;
}

// Connected dark regions that can hold a marker's border, judged on their statistics alone: big
// enough, clear of the frame's edge, not a sliver, covering enough of their bounding box for a
// ring seen in perspective, and with a hole (a marker's border surrounds its pattern's light
// cells). Busy texture breaks into thousands of regions; this drops nearly all of them before a
// single contour is traced.
void SquareMarkerDetector::findCandidateRegions(int reduction, int videoPerSearch)
{
    _darkRegions.find(_binary);
    _regions.clear();
    const double minimumSide = kMinimumSide / reduction;
    const int maxX = int(_binary.cols - 1 - kBorderMargin);
    const int maxY = int(_binary.rows - 1 - kBorderMargin);
    const std::vector<DarkRegions::Region>& found = _darkRegions.regions();
    for (size_t index = 0; index < found.size(); ++index)
    {
        const DarkRegions::Region& dark = found[index];
        const cv::Rect& bounds = dark.bounds;
        if (dark.holes < 1 || bounds.width < minimumSide || bounds.height < minimumSide)
            continue;
        if (bounds.x < kBorderMargin || bounds.y < kBorderMargin || bounds.x + bounds.width - 1 > maxX ||
            bounds.y + bounds.height - 1 > maxY)
            continue;
        const int longer = std::max(bounds.width, bounds.height);
        const int shorter = std::min(bounds.width, bounds.height);
        if (longer > kMaximumRegionAspect * shorter)
            continue;
        const double fill = double(dark.pixels) / bounds.area();
        if (fill < kMinimumRegionFill || fill > kMaximumRegionFill)
            continue;
        // A marker's border is a quarter of its side thick: rows cross it in long runs. Outlines
        // drawn with a pen, letters and the meshes of texture are crossed in short ones. Spans, not
        // runs: camera noise bites pixel-wide gaps into a border's runs, which would make a noisy
        // marker's border look like a mesh.
        const double bandSide = std::min(double(shorter), 8.0 * kThresholdReach);
        if (dark.pixels < kMinimumRunShare * bandSide * dark.spans)
            continue;
        Region region;
        region.index = int(index);
        region.bounds = bounds;
        _regions.push_back(region);
    }
    orderRegionsByPreviousMarkers(videoPerSearch);
    _regionIndices.clear();
    for (const Region& region : _regions)
        _regionIndices.push_back(region.index);
    _darkRegions.findRowEnds(_regionIndices);
}

// Share of its quadrilateral a marker's region covers at least: the quadrilateral fill a full ring
// allows, in proportion to what a hollow ring of a close marker keeps (a strip kThresholdReach deep).
double SquareMarkerDetector::minimumRingFill(double quadArea)
{
    const double side = std::sqrt(quadArea);
    if (side <= 0.0)
        return kMinimumQuadrilateralFill;
    const double ring = std::min(side / 4.0, kThresholdReach);
    const double ringFill = 4.0 * ring / side * (1.0 - ring / side); // 0.75 for a full quarter-side ring
    return kMinimumQuadrilateralFill * ringFill / 0.75;
}

// Regions where markers were in the last frame come first: their patterns then take their places
// early, and later candidates that match the same patterns less well stop before their dense
// refinement.
void SquareMarkerDetector::orderRegionsByPreviousMarkers(int videoPerSearch)
{
    if (_previousBounds.empty())
        return;
    for (Region& region : _regions)
    {
        const cv::Rect video(region.bounds.x * videoPerSearch, region.bounds.y * videoPerSearch,
                             region.bounds.width * videoPerSearch, region.bounds.height * videoPerSearch);
        for (const cv::Rect& previous : _previousBounds)
            if ((video & previous).area() > 0)
                region.nearPrevious = true;
    }
    std::stable_partition(_regions.begin(), _regions.end(), [](const Region& r) { return r.nearPrevious; });
}

namespace
{

// A stretch of a region's outline, from its first point up to its last (walking on in the outline's
// order, past its end to its start if need be), and the point of it farthest from the chord between
// the two.
struct Chain
{
    size_t first = 0, last = 0;
    size_t farthest = 0;
    double distance = 0.0; ///< of the farthest point from the chord, pixels
};

void measureChain(const std::vector<cv::Point>& outline, Chain& chain)
{
    // In ints: the products stay below 2^31 for search images up to 23,000 pixels across.
    const cv::Point from = outline[chain.first];
    const int dx = outline[chain.last].x - from.x, dy = outline[chain.last].y - from.y;
    int most = 0;
    size_t farthest = chain.first;
    auto scan = [&](size_t begin, size_t end)
    {
        const cv::Point* points = outline.data();
        for (size_t k = begin; k < end; ++k)
        {
            const int offset = std::abs(dx * (points[k].y - from.y) - dy * (points[k].x - from.x));
            if (offset > most)
            {
                most = offset;
                farthest = k;
            }
        }
    };
    if (chain.first <= chain.last)
        scan(chain.first, chain.last);
    else
    {
        scan(chain.first, outline.size());
        scan(0, chain.last);
    }
    chain.farthest = farthest;
    chain.distance = double(most) / std::max(1.0, std::hypot(double(dx), double(dy)));
}

// The point of the outline farthest from a point of it: on a convex outline, a vertex.
size_t farthestFrom(const std::vector<cv::Point>& outline, size_t from)
{
    const cv::Point origin = outline[from];
    size_t farthest = from;
    int longest = 0;
    for (size_t k = 0; k < outline.size(); ++k)
    {
        const int dx = outline[k].x - origin.x, dy = outline[k].y - origin.y;
        if (dx * dx + dy * dy > longest)
        {
            longest = dx * dx + dy * dy;
            farthest = k;
        }
    }
    return farthest;
}

// True when a region's outline strays from the quadrilateral of its farthest points by more than
// share of that quadrilateral's perimeter. The corners are picked as a polygon simplification picks
// them, stopped at four: the point farthest from the outline's first, the point farthest from that
// (on a quadrilateral, usually opposite corners), then twice the point farthest from the polygon so
// far. Four passes over the outline at most. False for an outline of fewer than four corners (left
// to the simplification).
bool straysFromQuadrilateral(const std::vector<cv::Point>& outline, double share)
{
    if (outline.size() < 4)
        return false;
    const size_t a = farthestFrom(outline, 0);
    const size_t c = farthestFrom(outline, a);
    if (a == c)
        return false;
    // Every region of the frame comes here: the chains live on the stack, in outline order.
    std::array<Chain, 4> chains;
    size_t count = 2;
    chains[0].first = chains[1].last = a;
    chains[0].last = chains[1].first = c;
    measureChain(outline, chains[0]);
    measureChain(outline, chains[1]);
    for (; count < chains.size(); ++count)
    {
        const auto worst =
            std::max_element(chains.begin(), chains.begin() + long(count),
                             [](const Chain& x, const Chain& y) { return x.distance < y.distance; });
        if (!(worst->distance > 0.0))
            return false;
        std::move_backward(worst + 1, chains.begin() + long(count), chains.begin() + long(count) + 1);
        Chain& second = *(worst + 1);
        second.first = worst->farthest;
        second.last = worst->last;
        worst->last = worst->farthest;
        measureChain(outline, *worst);
        measureChain(outline, second);
    }
    double perimeter = 0.0, deviation = 0.0;
    for (const Chain& chain : chains)
    {
        perimeter += cv::norm(outline[chain.last] - outline[chain.first]);
        deviation = std::max(deviation, chain.distance);
    }
    return deviation > share * perimeter;
}

} // namespace

// The outline of one region from its rows, simplified to a polygon. (Fitting four corners from the
// outline's extreme points directly is cheaper, but it took in a decoy's notched outline that this
// simplification refuses, and a marker matched on it.)
bool SquareMarkerDetector::traceRegion(const Region& region, std::vector<cv::Point>& polygon)
{
    _darkRegions.rowOutline(region.index, _outline);
    // Most outlines of texture are far from any quadrilateral: a cheap look at the one their
    // farthest points make drops them before the simplification.
    if (straysFromQuadrilateral(_outline, kMaximumOutlineDeviation * kOutlineTolerance))
        return false;
    const double perimeter = cv::arcLength(_outline, true);
    cv::approxPolyDP(_outline, polygon, kOutlineTolerance * perimeter, true);
    return true;
}

// A polygon that is a convex quadrilateral of a sizeable area for its outline (squares seen in
// perspective keep that), its corners in processing pixels, clockwise on screen.
bool SquareMarkerDetector::quadrilateralOf(const std::vector<cv::Point>& polygon, int reduction,
                                           std::array<osg::Vec2d, 4>& corners) const
{
    if (polygon.size() != 4 || !cv::isContourConvex(polygon))
        return false;
    const double minimumSide = kMinimumSide / reduction;
    const double area = cv::contourArea(polygon, true);
    const double perimeter = cv::arcLength(polygon, true);
    if (std::fabs(area) < minimumSide * minimumSide || std::fabs(area) < 0.02 * perimeter * perimeter)
        return false;
    const double offset = 0.5 * (reduction - 1);
    for (int k = 0; k < 4; ++k)
        corners[size_t(k)].set(polygon[size_t(k)].x * reduction + offset,
                               polygon[size_t(k)].y * reduction + offset);
    if (area < 0)
        std::swap(corners[1], corners[3]);
    return true;
}

void SquareMarkerDetector::detect(const cv::Mat& grey, int scale, std::vector<DetectedSquare>& detections,
                                  const cv::Mat& halved)
{
    detections.clear();
    _candidates.clear();
    _stageTimes = StageTimes();
    if (grey.empty() || grey.type() != CV_8UC1 || scale < 1)
        return;

    // Wide frames are searched at half resolution: their markers stay large enough, and averaging
    // four pixels halves the noise that would break the binary image into specks.
    const int reduction = grey.cols >= kHalvedSearchFromWidth ? 2 : 1;
    const cv::Mat* search = &grey;
    StageClock clock;
    if (reduction == 2)
    {
        const bool given =
            halved.type() == CV_8UC1 && halved.rows == grey.rows / 2 && halved.cols == grey.cols / 2;
        if (!given)
            halveGreyFrame(grey, _reduced);
        search = given ? &halved : &_reduced;
    }
    binarise(*search);
    _stageTimes.binarise = clock.lap();
    findCandidateRegions(reduction, reduction * scale);
    _stageTimes.regions = clock.lap();

    std::vector<DetectedSquare> best(_patterns.size());
    std::vector<cv::Point> polygon;
    for (const Region& region : _regions)
    {
        std::array<osg::Vec2d, 4> corners;
        bool kept = traceRegion(region, polygon) && quadrilateralOf(polygon, reduction, corners);
        if (kept)
        {
            // The ring alone covers three quarters of the square; a notched shape whose rows' ends
            // make a quadrilateral covers much less of it.
            const double quadArea = std::fabs(cv::contourArea(polygon));
            kept =
                _darkRegions.regions()[size_t(region.index)].pixels >= minimumRingFill(quadArea) * quadArea;
        }
        _stageTimes.outlines += clock.lap();
        if (!kept)
            continue;
        Candidate candidate;
        for (int k = 0; k < 4; ++k)
            candidate.outline[size_t(k)] = toVideo(corners[size_t(k)].x(), corners[size_t(k)].y(), scale);
        candidate.confidence = examine(grey, scale, corners, best, candidate.pattern);
        _candidates.push_back(candidate);
        _stageTimes.identify += clock.lap();
    }
    _previousBounds.clear();
    for (const DetectedSquare& detection : best)
        if (detection.pattern >= 0)
        {
            detections.push_back(detection);
            std::vector<cv::Point2f> points;
            for (const osg::Vec2d& corner : detection.observed)
                points.emplace_back(float(corner.x()), float(corner.y()));
            _previousBounds.push_back(cv::boundingRect(points));
        }
}

} // namespace osgART
