// Tracing a candidate region's outline and simplifying it to a convex quadrilateral.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

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

} // namespace osgART
