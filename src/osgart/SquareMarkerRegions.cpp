// Dark regions that can hold a marker's border, judged on their statistics alone.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <algorithm>
#include <cmath>

namespace osgART
{

using namespace sampling;

namespace
{

const double kBorderMargin = 2.0; // quads this close to the frame edge are cut off

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

} // namespace

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

} // namespace osgART
