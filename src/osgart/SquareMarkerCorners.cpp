// Locating a candidate's sides along their normals at full resolution, and its corners from the
// fitted side lines.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <algorithm>
#include <cmath>

namespace osgART
{

using namespace sampling;

namespace
{

const double kMinimumEdgeContrast = 12.0; // grey levels between border and paper along a normal

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

} // namespace osgART
