// Identifying a blurred candidate: the blur its corners or edges show, and the closest patterns
// blurred alike.

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

// Pattern cells of blur worth matching blurred patterns for.
const double kMinimumBlur = 0.4;

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

// Margin by which a blurred match on the Gaussian guesses must clear the confidence floor to need
// only kMeasuredBlurLead over its runner-up instead of kBlurredLead. A marker blurred along an
// uneven path (its sides spread unequally) keeps 0.85 with its pattern and leads by 0.21, short of
// kBlurredLead; clutter that a blurred pattern resembles by chance did not clear the floor by this
// margin and lead by 0.2 as well, neither on 1,000 marker-free busy frames at ten seeds with 1 to
// 256 patterns nor in the hard cases. Raising it refuses more blurred markers; lowering it lets the
// guesses' chance matches nearer the floor through.
const double kClearBlurredMargin = 0.05;

// Whether a match on the Gaussian guesses (its score and its runner-up's) leads by enough for a
// second chance: kBlurredLead, or kMeasuredBlurLead when it clears the floor by kClearBlurredMargin.
bool leadsEnough(double score, double runnerUp, double floor)
{
    const bool clear = score >= floor + kClearBlurredMargin;
    return score - runnerUp >= (clear ? kMeasuredBlurLead : kBlurredLead);
}

// Pattern cells the measured blur reaches from its centre at most: the ring of ink inside a corner
// and the paper outside it are 8 cells wide, beyond which a corner no longer is a plain quadrant.
const int kMaximumKernelReach = 7;

// Processing pixels a pattern cell spans at least for the blur to be measured at cell resolution:
// on a finer grid the differences of interpolated samples show the interpolation, not the blur (and
// such a marker's whole pattern is a few pixels wide). Smaller markers get the Gaussian shapes only.
const double kMinimumKernelCell = 0.5;

// Sub-samples across and down of which each darkness value around a corner is the mean, spread
// over the cell-wide square the value stands for. Each cell of the measured blur is a difference of
// four such values, so single samples carried four pixels' worth of the camera's noise into it.
// Default 2 (four samples a value, only for candidates compared blurred): markers shaken by 10
// pixels at ISO 1600 then fall short of the floor 11 times in 9,591, against 13 with single samples
// (eight seeds, three backgrounds, with and without rolling shutter; the same 5 wrong ids), for 3%
// more time a frame. 1 is the single sample; 3 misses the same 11 and samples 9 times a value.
const int kDarknessSubSamples = 2;

// Processing pixels a pattern cell spans under which a match on the measured blur must clear the
// confidence floor by kFineMeasuredMargin as well as lead by kMeasuredBlurLead. On so fine a grid
// the corners' measurement is mostly interpolation and the camera's noise, and small squares of
// clutter fit a pattern blurred by it by chance. Over some 24,000 hard-case frames (calm and busy,
// default noise and ISO 1600, seeds 1 to 5) and 40,000 of the pattern sets' busy frames at ISO
// 1600, 27 such decoys passed that path at 0.5 to 0.98 pixels a cell, 24 of them within 0.09 of the
// floor (one, 20 pixels wide, read as one of 64 patterns); 2,025 markers that small passed it too,
// none within 0.097. From 1.1 pixels a cell up, blurred markers clear the floor by as little as
// 0.02, so the margin stops short of them. A candidate refused here still gets the Gaussian guesses,
// which want a wider lead near the floor. Raising either constant sends more small markers there;
// lowering them lets decoys through.
const double kFineMeasuredCell = 1.0;
const double kFineMeasuredMargin = 0.09;

// Share of the measured blur's largest cell below which a cell of it counts as noise: each cell is
// a difference of four noisy samples, so away from the blur's path the measurement is a scatter of
// small values, and every such cell kept blurs the patterns further, alike: it lowers the marker's
// own score and raises its runner-up's. Default 0.35, after the measurement is smoothed (see
// measureBlurKernel): shaken markers at ISO 1600 that the measured blur refused fell from 45 to 3
// of some 2,100 over eight seeds, as few as the blur measured on the noise-free frame refuses,
// and decoys accepted from 7 to 4. 0.05 refused 45; 0.5 cuts the tails of the blur itself and
// refused 6. Raising it also saves a pass over a pattern per cell dropped.
const float kKernelNoiseShare = 0.35f;

// Correlation a better-fitting blur shape adds at most to the upright one's, for the early out.
const double kMostBlurShapeGain = 0.2;

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

// The mean grey level over the square of the given side (square units) centred on (u, v), from
// kDarknessSubSamples x kDarknessSubSamples samples.
float meanOverCell(const SquareSampler& sampler, double u, double v, double side)
{
    float sum = 0.0f;
    for (int b = 0; b < kDarknessSubSamples; ++b)
        for (int a = 0; a < kDarknessSubSamples; ++a)
            sum += sampler.at(u + ((a + 0.5) / kDarknessSubSamples - 0.5) * side,
                              v + ((b + 0.5) / kDarknessSubSamples - 0.5) * side);
    return sum / float(kDarknessSubSamples * kDarknessSubSamples);
}

// The blur as one outer corner of the square shows it (corner 0 to 3 clockwise from (0, 0)), in
// pattern cells reaching reach cells to either side: the darkness on a grid of cell corners around
// it, differenced across and down.
cv::Mat blurAtCorner(const SquareSampler& sampler, int corner, int reach)
{
    const double cell = 0.5 / kCells; // of the square's side
    const int size = 2 * reach + 1, points = size + 1;
    const double cornerU[4] = {0.0, 1.0, 1.0, 0.0}, cornerV[4] = {0.0, 0.0, 1.0, 1.0};
    std::vector<float> darkness(size_t(points * points));
    for (int j = 0; j < points; ++j)
        for (int i = 0; i < points; ++i)
            darkness[size_t(j * points + i)] =
                -meanOverCell(sampler, cornerU[corner] + (i - reach - 0.5) * cell,
                              cornerV[corner] + (j - reach - 0.5) * cell, cell);
    // The marker lies towards the square's inside: flipping an axis of the quadrant flips the
    // derivative's sign along it.
    const float sign = (corner == 0 || corner == 2) ? 1.0f : -1.0f;
    cv::Mat estimate(size, size, CV_32FC1);
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i)
        {
            const size_t at = size_t(j * points + i);
            estimate.at<float>(j, i) =
                sign * (darkness[at + size_t(points) + 1] - darkness[at + size_t(points)] - darkness[at + 1] +
                        darkness[at]);
        }
    return estimate;
}

} // namespace

// A pattern as a Gaussian blur would show it (standard deviations across and down in pattern cells,
// and their correlation: non-zero for a blur along a diagonal); mean removed, unit length. An
// upright blur separates into two passes along the rows and columns; a leaning one is summed whole.
std::array<float, 256> sampling::blurredPattern(const cv::Mat& pattern, double blurAcross, double blurDown,
                                                double correlation)
{
    if (correlation == 0.0)
        return patternBlurredUpright(pattern, blurAcross, blurDown);
    const int margin = int(std::ceil(3.0 * std::max(blurAcross, blurDown))) + 1;
    return patternBlurredBy(pattern, blurKernel(blurAcross, blurDown, correlation, margin));
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
// the four corners' estimates (a corner under an occluder or a shadow edge is outvoted), averaged with
// its neighbours, and only the cells on the blur's path are kept. The ring of ink inside and the paper
// outside are a quarter of the side, 8 cells, wide, so reach stays under that.
bool SquareMarkerDetector::measureBlurKernel(const cv::Mat& grey, int scale,
                                             const std::array<osg::Vec2d, 4>& ideal, int reach,
                                             cv::Mat& kernel) const
{
    SquareSampler sampler(grey, _camera, scale);
    if (!sampler.homography.set(ideal))
        return false;
    const int size = 2 * reach + 1;
    std::array<cv::Mat, 4> estimates;
    for (int corner = 0; corner < 4; ++corner)
        estimates[size_t(corner)] = blurAtCorner(sampler, corner, reach);
    cv::Mat middles(size, size, CV_32FC1);
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i)
        {
            std::array<float, 4> values = {estimates[0].at<float>(j, i), estimates[1].at<float>(j, i),
                                           estimates[2].at<float>(j, i), estimates[3].at<float>(j, i)};
            std::sort(values.begin(), values.end());
            // Turned half round: cv::filter2D correlates, and the blur's share at offset (i, j)
            // brings the pattern's cell from (-i, -j) to each sample.
            middles.at<float>(size - 1 - j, size - 1 - i) = 0.5f * (values[1] + values[2]);
        }
    // Each cell's noise is its own, the blur's path is wider than a cell: averaged with its
    // neighbours (1/4, 1/2, 1/4 across and down), a cell keeps the path and loses most of the noise,
    // for a widening of 0.7 cells that the patterns' own blurring hardly notices.
    const cv::Mat_<float> binomial({1, 3}, {0.25f, 0.5f, 0.25f});
    cv::sepFilter2D(middles, kernel, CV_32F, binomial, binomial, cv::Point(-1, -1), 0.0, cv::BORDER_CONSTANT);
    float peak = 0.0f;
    for (float& value : cv::Mat_<float>(kernel))
    {
        value = std::max(0.0f, value);
        peak = std::max(peak, value);
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
            const bool counts =
                accepted(match) && leadsEnough(match.score, match.runnerUp, confidenceFloor());
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
    const double finestCell = std::min(cellsAcross, cellsDown);
    if (finestCell >= kMinimumKernelCell && measureBlurKernel(grey, scale, ideal, reach, kernel))
    {
        match = matchPatternsBlurredBy(samples, closest, kernel);
        // The blur as measured fits a marker better than any Gaussian guess; far below the floor,
        // the guesses will not lift the candidate.
        const double margin = finestCell < kFineMeasuredCell ? kFineMeasuredMargin : 0.0;
        if ((accepted(match) && match.score >= confidenceFloor() + margin &&
             match.score - match.runnerUp >= kMeasuredBlurLead) ||
            match.score < confidenceFloor() - kMostBlurShapeGain)
            return;
    }
    match = matchBlurredPatterns(samples, closest, blurAcross, blurDown);
    if (!leadsEnough(match.score, match.runnerUp, confidenceFloor()))
        match.pattern = -1; // not clear enough for a second chance
}

} // namespace osgART
