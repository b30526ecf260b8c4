// Tracing a candidate region's outline and simplifying it to a convex quadrilateral.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace osgART
{

using namespace sampling;

namespace
{

// Distance from a side, as a share of the perimeter, up to which a region's outline is simplified
// into that side.
const double kOutlineTolerance = 0.04;

// How far, in simplification tolerances, a region's outline may stray from the quadrilateral of its
// farthest points before it is dropped without being simplified. Markers' outlines stay within 0.75
// (occluded, blurred or shadowed ones included; 0.3 when clean); the outlines of texture's regions
// mostly stray farther, and simplifying one costs as much as some ten of these tests. Default 1.5;
// lowering it saves simplifications and risks markers bitten into by an occluder.
const double kMaximumOutlineDeviation = 1.5;

} // namespace

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

// Splits the chain at index worst at its farthest point; the chains after it move up one place.
template <size_t N>
void splitChain(const std::vector<cv::Point>& outline, std::array<Chain, N>& chains, size_t count,
                size_t worst)
{
    std::move_backward(chains.begin() + long(worst) + 1, chains.begin() + long(count),
                       chains.begin() + long(count) + 1);
    Chain& second = chains[worst + 1];
    second.first = chains[worst].farthest;
    second.last = chains[worst].last;
    chains[worst].last = chains[worst].farthest;
    measureChain(outline, chains[worst]);
    measureChain(outline, second);
}

template <size_t N> size_t worstChain(const std::array<Chain, N>& chains, size_t count)
{
    return size_t(std::max_element(chains.begin(), chains.begin() + long(count),
                                   [](const Chain& x, const Chain& y) { return x.distance < y.distance; }) -
                  chains.begin());
}

// Largest distance of a point from its chain's chord, and the sum of the chords.
template <size_t N>
void measureQuadrilateral(const std::vector<cv::Point>& outline, const std::array<Chain, N>& chains,
                          double& deviation, double& perimeter)
{
    deviation = perimeter = 0.0;
    for (size_t k = 0; k < 4; ++k)
    {
        perimeter += cv::norm(outline[chains[k].last] - outline[chains[k].first]);
        deviation = std::max(deviation, chains[k].distance);
    }
}

// The index of the corner of a quadrilateral nearest a point.
size_t nearestCorner(const std::vector<cv::Point>& corners, const cv::Point& point)
{
    size_t nearest = 0;
    double nearestDistance = std::numeric_limits<double>::max();
    for (size_t k = 0; k < corners.size(); ++k)
    {
        const cv::Point offset = point - corners[k];
        const double distance = double(offset.x) * offset.x + double(offset.y) * offset.y;
        if (distance < nearestDistance)
        {
            nearestDistance = distance;
            nearest = k;
        }
    }
    return nearest;
}

// Distance of point from the line through two others, pixels.
double distanceFromLine(const cv::Point& point, const cv::Point& from, const cv::Point& to)
{
    const cv::Point along = to - from, offset = point - from;
    return std::fabs(double(along.x) * offset.y - double(along.y) * offset.x) /
           std::max(1.0, std::hypot(double(along.x), double(along.y)));
}

// One corner more, then the corner that is least one dropped: a side parallel to the chord of the
// first two corners (a trapezoid's far side, seen with the near side as the outline's longest
// stretch) is as far from it all along, and its split can fall mid-side, leaving a true corner
// inside a stretch. The fifth corner is that corner; the mid-side point, nearly on the line between
// its neighbours, is the one dropped.
void replaceLeastCorner(const std::vector<cv::Point>& outline, std::array<Chain, 5>& chains)
{
    splitChain(outline, chains, 4, worstChain(chains, 4));
    const size_t count = chains.size();
    size_t least = 0;
    double leastDistance = std::numeric_limits<double>::max();
    for (size_t k = 0; k < count; ++k)
    {
        // Corner k starts chain k; its neighbours start the chains before and after it.
        const double distance =
            distanceFromLine(outline[chains[k].first], outline[chains[(k + count - 1) % count].first],
                             outline[chains[(k + 1) % count].first]);
        if (distance < leastDistance)
        {
            leastDistance = distance;
            least = k;
        }
    }
    const size_t before = (least + count - 1) % count;
    chains[before].last = chains[least].last;
    measureChain(outline, chains[before]);
    std::move(chains.begin() + long(least) + 1, chains.end(), chains.begin() + long(least));
}

// True when a region's outline strays from the quadrilateral of its farthest points by more than
// share of that quadrilateral's perimeter. The corners are picked as a polygon simplification picks
// them, stopped at four: the point farthest from the outline's first, the point farthest from that
// (on a quadrilateral, usually opposite corners), then twice the point farthest from the polygon so
// far. Four passes over the outline at most, and about one more for an outline that strays (see
// replaceLeastCorner()). False for an outline of fewer than four corners (left to the
// simplification).
bool straysFromQuadrilateral(const std::vector<cv::Point>& outline, double share)
{
    if (outline.size() < 4)
        return false;
    const size_t a = farthestFrom(outline, 0);
    const size_t c = farthestFrom(outline, a);
    if (a == c)
        return false;
    // Every region of the frame comes here: the chains live on the stack, in outline order.
    std::array<Chain, 5> chains;
    chains[0].first = chains[1].last = a;
    chains[0].last = chains[1].first = c;
    measureChain(outline, chains[0]);
    measureChain(outline, chains[1]);
    for (size_t count = 2; count < 4; ++count)
    {
        const size_t worst = worstChain(chains, count);
        if (!(chains[worst].distance > 0.0))
            return false;
        splitChain(outline, chains, count, worst);
    }
    double deviation, perimeter;
    measureQuadrilateral(outline, chains, deviation, perimeter);
    if (deviation <= share * perimeter)
        return false;
    replaceLeastCorner(outline, chains);
    measureQuadrilateral(outline, chains, deviation, perimeter);
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

// The simplification keeps each corner within its tolerance (4 % of the perimeter) of the outline,
// so on a strongly tilted marker, whose short side is a small share of the perimeter, a chord can
// cut off that side's outer corner, and the pattern is then sampled askew. Each corner here moves to
// the point of the outline farthest outward from the chord between its two neighbours, among the
// points nearer to it than to any other corner: on a clean outline, the true corner.
bool SquareMarkerDetector::settledQuadrilateral(const std::vector<cv::Point>& polygon,
                                                std::vector<cv::Point>& settled) const
{
    settled = polygon;
    if (polygon.size() != 4)
        return false;
    for (size_t k = 0; k < 4; ++k)
    {
        const cv::Point before = polygon[(k + 3) % 4], after = polygon[(k + 1) % 4];
        const cv::Point2d along = after - before;
        // Signed distance from the chord, times its length; the corner's own side is positive.
        auto outward = [&](const cv::Point& point)
        {
            const cv::Point2d offset = point - before;
            return along.x * offset.y - along.y * offset.x;
        };
        const double side = outward(polygon[k]) < 0.0 ? -1.0 : 1.0;
        double farthest = side * outward(polygon[k]);
        for (const cv::Point& point : _outline)
        {
            const double distance = side * outward(point);
            if (distance <= farthest || nearestCorner(polygon, point) != k)
                continue;
            farthest = distance;
            settled[k] = point;
        }
    }
    return settled != polygon && cv::isContourConvex(settled);
}

} // namespace osgART
