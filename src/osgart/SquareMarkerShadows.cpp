// Evening out a hard shadow edge across a candidate before it is matched again.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <algorithm>
#include <cmath>

namespace osgART
{

using namespace sampling;

namespace
{

// The ring of paper read around a marker for a shadow edge: samples (four sides' worth), how far
// outside the border in sides, and how much brighter its lit part must be than its shaded part.
const int kShadowRingSamples = 32;

const double kShadowRingDistance = 0.08;

const float kShadowContrast = 1.3f;

// Keeps the nearest paper readings' weights finite (marker units to the fourth power).
const double kNearPaperSoftening = 1e-6;

} // namespace

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

} // namespace osgART
