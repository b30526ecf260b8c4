// Identifying a candidate: the first look, the border ring, the pattern's samples and their match
// against the loaded patterns.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <algorithm>
#include <cmath>

namespace osgART
{

using namespace sampling;

namespace
{

const double kMinimumDarkRing = 0.8; // share of border samples that must be dark

// The border ring is read in stretches (per side) of samples; the dark stretches' grey levels may
// spread (standard deviation) by at most this share of the border-to-paper contrast. Printed rings
// stay under 0.09 (blur, shadow edges, ISO 3200 noise, real photographs); mottled texture that
// outlines a square spreads 0.23 or more. Lowering it refuses noisier markers in dim light.
const int kRingStretches = 4;

const int kRingStretchSamples = 4;

const double kMaximumRingUnevenness = 0.16;

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

// Correlation a shaded marker keeps at least before its shadow is evened out.
const double kShadedMatchFloor = 0.3;

// Patterns and orientations compared blurred: the few that correlate best with the samples taken
// against the patterns smoothed by kRankingBlur pattern cells (standard deviation, about the blur
// of a 10-pixel motion on a marker 45 pixels wide). More candidates cost a blurred comparison each.
const int kBlurredCandidates = 4;

// Share of the ring's ink-to-paper contrast by which the brightest of a matched candidate's samples
// must rise above the ink, times its pattern's brightest grey over white: a printed pattern's
// white cells are the paper. Markers reach 0.68 or more (every hard case on three backgrounds, ISO
// default to 3200: blur, shadow edges, dim light); a dark card with a faint highlight in a
// photograph, read as a pattern, reached 0.37. Default 0.5; raising it refuses markers whose white
// cells are small and blurred or shaded. No cost: only matched candidates are checked.
const double kMinimumPaperReach = 0.5;

} // namespace

namespace
{

// Share of the border ring's samples darker than ringLevel, and the spread (standard deviation) of
// its dark stretches' grey levels. The ring is read clockwise, a side at a time, 1/8 of the side
// inside the outer edge, in stretches of four samples, so that the camera's pixel noise, which
// averages out over a stretch, is not taken for patches; stretches lighter than ringLevel (an
// occluder, a highlight) are left to the dark share.
struct RingReading
{
    double darkShare = 0.0, darkSpread = 0.0;
};

template <class Sample> RingReading readBorderRing(const Sample& at, double ringLevel)
{
    int darkSamples = 0;
    double darkStretchSum = 0.0, darkStretchSquares = 0.0;
    int darkStretches = 0;
    for (int side = 0; side < 4; ++side)
        for (int stretch = 0; stretch < kRingStretches; ++stretch)
        {
            double sum = 0.0;
            for (int k = 0; k < kRingStretchSamples; ++k)
            {
                const double t = 0.125 + 0.75 * (stretch * kRingStretchSamples + k + 0.5) /
                                             (kRingStretches * kRingStretchSamples);
                const std::array<std::pair<double, double>, 4> point = {
                    {{t, 0.125}, {0.875, t}, {1.0 - t, 0.875}, {0.125, 1.0 - t}}};
                const float value = at(point[size_t(side)].first, point[size_t(side)].second);
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
    RingReading reading;
    reading.darkShare = double(darkSamples) / (4 * kRingStretches * kRingStretchSamples);
    if (darkStretches > 0)
    {
        const double mean = darkStretchSum / darkStretches;
        reading.darkSpread = std::sqrt(std::max(0.0, darkStretchSquares / darkStretches - mean * mean));
    }
    return reading;
}

// The border ring (between the outer edge and the pattern) of a marker is one band of ink: most of
// it darker than halfway between the border and the paper as its own edges showed them, whatever
// the exposure, and its dark stretches all about as dark. Mottled texture (a carpet, a stone floor)
// can outline a square and correlate with a pattern, but its "ring" is patches of several greys:
// its dark stretches spread over a quarter or more of its edge contrast, a printed ring's (shadow,
// blur, ISO 3200 noise and JPEG included) under a tenth.
bool borderRingIsEvenlyDark(const SquareSampler& sampler, const double dark, const double bright)
{
    const RingReading reading =
        readBorderRing([&sampler](double u, double v) { return sampler.at(u, v); }, 0.5 * (dark + bright));
    return reading.darkShare >= kMinimumDarkRing &&
           reading.darkSpread <= kMaximumRingUnevenness * (bright - dark);
}

// The dark share of the ring read through the rough corners, before any side is located: halfway
// between the ring's darkest sample and the brightest just outside the square (a tenth of a side
// out) stands in for the levels the sides' edges give later, and lies near them, as the extremes of
// ink and paper do. About a third of the clutter that the first look lets through fails here
// instead of after its sides are located (the ring check there then finds its edges' levels); no
// marker of the hard cases (blur, shadows, occluders, strong tilt, ISO 1600) did.
bool roughBorderRingIsDark(const cv::Mat& grey, const std::array<osg::Vec2d, 4>& approximate)
{
    SquareHomography homography;
    if (!homography.set(approximate))
        return true; // left to the full examination
    auto at = [&](double u, double v)
    {
        const osg::Vec2d point = homography.map(u, v);
        return sampleBilinear(grey, point.x(), point.y());
    };
    float paper = 0.0f, ink = 255.0f;
    for (int k = 1; k <= 4; ++k)
    {
        const double t = 0.2 * k;
        paper = std::max({paper, at(t, -0.1), at(1.1, t), at(1.0 - t, 1.1), at(-0.1, 1.0 - t)});
        ink = std::min({ink, at(t, 0.125), at(0.875, t), at(1.0 - t, 0.875), at(0.125, 1.0 - t)});
    }
    return paper > ink && readBorderRing(at, 0.5 * (ink + paper)).darkShare >= kMinimumDarkRing;
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

bool SquareMarkerDetector::reachesPaper(const std::array<float, 256>& raw, const EdgeLevels& levels,
                                        int pattern) const
{
    double patternBrightest = 0.0;
    cv::minMaxLoc(_patternGreys[size_t(pattern)][0], nullptr, &patternBrightest);
    const double brightest = *std::max_element(raw.begin(), raw.end());
    return brightest - levels.dark >=
           kMinimumPaperReach * (patternBrightest / 255.0) * (levels.bright - levels.dark);
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
    return std::min(kMaximumFloor, _parameters.minimumConfidence + kFloorPerDoubling * doublings);
}

bool SquareMarkerDetector::accepted(const Match& match) const
{
    return match.pattern >= 0 && match.score >= confidenceFloor() &&
           match.score - match.runnerUp >= _parameters.minimumLead;
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
    // The closest orientation of any pattern other than the closest one: when the best few are all
    // turns of one pattern, it is compared as well, so that a blurred match's lead is over another
    // pattern and not over nothing.
    std::pair<double, int> closestOfOther = {-2.0, -1};
    for (size_t p = 0; p < _patterns.size(); ++p)
        for (int turn = 0; turn < 4; ++turn)
        {
            const double score = correlate(samples, _smoothedPatterns[p][size_t(turn)]);
            const std::pair<double, int> entry = {score, int(p) * 4 + turn};
            const int leader = best.front().second;
            if (score > best.front().first)
            {
                if (leader >= 0 && leader / 4 != int(p))
                    closestOfOther = best.front();
            }
            else if (leader / 4 != int(p) && score > closestOfOther.first)
                closestOfOther = entry;
            if (score <= best.back().first)
                continue;
            size_t at = best.size() - 1;
            for (; at > 0 && best[at - 1].first < score; --at)
                best[at] = best[at - 1];
            best[at] = entry;
        }
    std::vector<int> closest;
    bool otherPattern = false;
    for (const std::pair<double, int>& entry : best)
        if (entry.second >= 0)
        {
            closest.push_back(entry.second);
            otherPattern = otherPattern || entry.second / 4 != best.front().second / 4;
        }
    if (!otherPattern && closestOfOther.second >= 0)
        closest.push_back(closestOfOther.second);
    closestScore = closest.empty() ? -1.0 : best.front().first;
    return closest;
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
                                     std::vector<DetectedSquare>& best, int& matched,
                                     bool secondChances) const
{
    matched = -1;
    if (firstLook(grey, approximate) < kFirstLookFloor || !roughBorderRingIsDark(grey, approximate))
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
    if (!accepted(match) && secondChances && match.score > kShadedMatchFloor)
        matchShaded(grey, scale, ideal, raw, samples, match);
    // A blurred marker may correlate with its sharp pattern hardly better than with any other: its
    // own edges, not that score, tell whether the blurred comparison is worth making.
    if (!accepted(match) && secondChances)
        matchBlurred(grey, scale, ideal, levels, samples, match);
    const double score = match.score;
    const int pattern = match.pattern, orientation = match.orientation;
    if (!accepted(match))
        return std::max(0.0, score);
    if (score < smallSideFloor(ideal) || !reachesPaper(raw, levels, pattern))
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

} // namespace osgART
