#pragma once

#include <opencv2/core.hpp>
#include <opencv2/core/types.hpp>

#include <osg/Vec2d>

#include <array>
#include <vector>

#include "CameraParameters.h"
#include "DarkRegions.h"
#include "Pattern.h"
#include "SquareMarkerParameters.h"
#include "UndistortionGrid.h"

namespace osgART
{

/// One pattern found in a frame.
struct DetectedSquare
{
    int pattern = -1;        ///< index of the matched pattern
    double confidence = 0.0; ///< normalised correlation with the pattern (0..1)
    /// Outer corners in the order top-left, top-right, bottom-right, bottom-left of the upright pattern,
    /// in video pixels: undistorted (ideal) and as seen (observed).
    std::array<osg::Vec2d, 4> ideal;
    std::array<osg::Vec2d, 4> observed;
};

/// Finds square markers (black border, pattern in the inner half) in grey frames and identifies them
/// by their patterns:
/// binarise a search image (the frame, or the frame halved when it is 1600 pixels wide or more, so
/// that busy high-resolution frames cost what a 960-pixel frame costs), label its connected dark
/// regions in one pass and keep only those whose statistics fit a marker's border (bounding box at
/// least 10 processing pixels a side and clear of the frame's edge, at most 8 times longer than
/// wide, 8 to 97 % of it dark, at least one hole), so that the thousands of specks of a textured desk or
/// shelf are dropped before any contour is traced; put the regions where the last frame's markers were first;
/// take each remaining region's outline from its rows' ends (a marker's border surrounds its
/// pattern's light cells, hence the hole; seen in any perspective it is convex, so its rows' ends
/// are its contour), drop the outlines that stray far from the quadrilateral of their farthest points (a
/// few passes over the outline) and keep those that simplify to convex quadrilaterals, take a first look at
/// each (its inner square sampled in 8 x 8 blocks through the rough corners must correlate with some
/// pattern smoothed and coarsened alike), locate each side at full resolution along its normals, at most 24
/// pixels out (the centre of the dark-to-bright step, which a symmetric blur leaves in place), fit the side
/// lines through the edge points undistorted by an UndistortionGrid, with outliers dropped, and intersect
/// them, check that the border ring is evenly dark (ink, not patches of mottled texture), sample the inner
/// square through the homography of the corners, and match the samples against every
/// pattern in its four orientations by normalised correlation. A candidate that falls short is compared again
/// with its shaded part evened out when the paper around it shows a hard shadow edge (the pattern then is two
/// patches of different light): split by the straight line through the edge's crossings of the paper, or,
/// for an edge that bends across the marker, each cell by the light of the paper nearest it; and, when its
/// edges show blur (motion, or the camera's own blur on a marker whose pattern cells are a pixel wide), with
/// the closest patterns blurred: by the blur its outer corners show, whatever the blur's shape (a corner is a
/// dark quadrant, and a blurred quadrant's mixed second derivative is the blur; the measurement is averaged
/// over neighbouring cells and cut to the blur's path, as elsewhere it shows the camera's noise), or failing
/// that by Gaussian blurs as wide as its edges are, upright and along either diagonal of the square, as
/// measured and a third wider; such a second-chance match must lead its runner-up by more. A match counts
/// when its correlation clears a confidence floor that rises with the number of patterns loaded (and, for a
/// candidate under 20 pixels a side, with its smallness) and leads the best match of every other pattern by a
/// margin (sharp, shadow-corrected and blurred matches alike), and its brightest sample rises towards the
/// paper as its pattern's white cells would (a dark card is no marker). A candidate that matches nothing, and
/// whose corners move far when each is settled on the outline point farthest outward from its neighbours'
/// chord (a corner the simplification cut off, as on a strongly tilted marker's short side), is examined once
/// more through the settled corners, where only a plain match counts. Each pattern keeps its best candidate
/// that counts; a candidate that becomes its pattern's best has its sides located once more from its refined
/// corners, with a short profile at every pixel along each side (at most 64) following the side's curve
/// through the lens: near frontal, a marker's tilt rests on corner shifts of hundredths of a pixel, which the
/// first pass's 16 profiles per side leave.
///
/// Binarisation, ADAPTIVE (the default): the search image is cut into tiles of 4 x 4 pixels; every
/// pixel is compared with a level set from the darkest and brightest pixel of its tile and the eight
/// tiles around it (a window of 12 x 12 pixels). With d the darkest and b the brightest, a pixel is a
/// border candidate when it is darker than d + (b - d) * threshold / 255: the threshold is a grey
/// level on a scale stretched locally so that each window's darkest pixel reads 0 and its brightest
/// 255. The default (see Parameters) sits at 39 % of the local contrast; raising it takes more of a
/// washed-out (bright) border as dark, lowering it keeps dim paper from counting as border; 0 finds nothing.
/// A window with less than kMinimumContrast grey levels between d and b is flat: it takes the level
/// of a contrasted window up to two tiles away (the inside of a wide border stays dark), and beyond
/// that stays blank, so bare walls and camera noise give no candidates. Cost: about four passes over
/// the search image (tile extremes, level, compare) plus a few over the 16 times smaller tile grid.
/// FIXED: pixels darker than the threshold grey level (0..255) are border candidates, the
/// same everywhere in the frame; one pass; fails where the light is uneven or the exposure is off.
///
/// Candidate search cost: one pass over the binary search image's bytes for its runs, joined into
/// regions in time proportional to their number (DarkRegions), then for each region kept a walk
/// over its runs: texture costs its runs, not a traced contour per speck.
class SquareMarkerDetector
{
public:
    using ThresholdMode = SquareMarkerParameters::ThresholdMode;
    static constexpr ThresholdMode ADAPTIVE = SquareMarkerParameters::ADAPTIVE;
    static constexpr ThresholdMode FIXED = SquareMarkerParameters::FIXED;
    /// Grey levels between the darkest and brightest pixel of a window below which the window is flat.
    static const int kMinimumContrast = 32;

    SquareMarkerDetector();

    /// The camera at video resolution.
    void setCamera(const CameraParameters& camera)
    {
        _camera = camera;
        _undistortion.setCamera(camera);
    }
    const CameraParameters& camera() const { return _camera; }

    /// Returns the index of the pattern.
    int addPattern(const Pattern& pattern);
    size_t patternCount() const { return _patterns.size(); }

    using Parameters = SquareMarkerParameters;
    void setParameters(const Parameters& parameters) { _parameters = parameters; }
    const Parameters& parameters() const { return _parameters; }
    void setThreshold(int threshold) { _parameters.threshold = threshold; }
    int threshold() const { return _parameters.threshold; }
    void setThresholdMode(ThresholdMode mode) { _parameters.thresholdMode = mode; }
    ThresholdMode thresholdMode() const { return _parameters.thresholdMode; }
    void setMinimumConfidence(double confidence) { _parameters.minimumConfidence = confidence; }
    double minimumConfidence() const { return _parameters.minimumConfidence; }
    void setMinimumLead(double lead) { _parameters.minimumLead = lead; }
    double minimumLead() const { return _parameters.minimumLead; }
    /// The correlation a match needs with the patterns loaded now (the minimum confidence raised by
    /// the floor's rise, at most kMaximumFloor).
    double confidenceFloor() const;
    /// The floor for a candidate with these corners (video pixels): confidenceFloor(), raised for
    /// one whose shortest side is under 20 pixels, whose pattern is sampled too coarsely to tell
    /// a marker from texture at the ordinary floor.
    double smallSideFloor(const std::array<osg::Vec2d, 4>& corners) const;
    static constexpr double kFloorBasePatterns = 8.0;
    /// Rise of the confidence floor per doubling of the loaded patterns beyond kFloorBasePatterns.
    /// Every pattern in four orientations is one more chance for clutter to correlate well, so the
    /// floor rises with the count to keep the chance of a chance match about constant: floor 0.8 up
    /// to 8 patterns, 0.845 at 64, 0.875 at 256. More refuses more clutter but also real markers
    /// whose correlation blur or shadow lowered.
    static constexpr double kFloorPerDoubling = 0.015;
    static constexpr double kMaximumFloor = 0.97;

    /// Cells per side of a pattern at the first look at a candidate (blocks of 2 x 2 cells).
    static const int kCoarseCells = 8;
    using CoarsePattern = std::array<float, kCoarseCells * kCoarseCells>;

    /// Frames this wide and wider are searched at half resolution.
    static const int kHalvedSearchFromWidth = 1600;

    /// grey: the frame at processing resolution (8-bit, one channel, top row first); scale: video
    /// pixels per processing pixel (1, or 2 for half resolution). Detections are in video pixels.
    /// halved: for frames searched at half resolution, grey halved by halveGreyFrame() if the caller
    /// has it already (makeGreyFrame() makes it on the way); otherwise it is made here.
    void detect(const cv::Mat& grey, int scale, std::vector<DetectedSquare>& detections,
                const cv::Mat& halved = cv::Mat());

    /// The binarised search image of the last detect() (border candidates 255, the rest 0); half the
    /// processing resolution for frames of kHalvedSearchFromWidth pixels and wider.
    const cv::Mat& binaryImage() const { return _binary; }
    /// A quadrilateral examined in the last detect(), for the debug views.
    struct Candidate
    {
        std::array<osg::Vec2d, 4> outline; ///< rough corners, observed video pixels, clockwise on screen
        int pattern = -1;                  ///< the pattern it matched above the confidence floor, or -1
        double confidence = 0.0;           ///< its best correlation with any pattern
    };
    const std::vector<Candidate>& candidates() const { return _candidates; }
    /// Quadrilaterals examined in the last detect().
    size_t candidateCount() const { return _candidates.size(); }

    /// Where the last detect() spent its time, milliseconds of wall-clock time per step of the
    /// pipeline: binarise (halving a wide frame included), regions (labelling the dark regions and
    /// judging their statistics), outlines (tracing them into quadrilaterals) and identify (first
    /// look, side location, sampling and matching of each quadrilateral). Costs four clock reads
    /// a frame and three per region traced.
    struct StageTimes
    {
        double binarise = 0.0;
        double regions = 0.0;
        double outlines = 0.0;
        double identify = 0.0;
    };
    const StageTimes& stageTimes() const { return _stageTimes; }

private:
    struct EdgeLevels;
    void binarise(const cv::Mat& search);
    void binariseAdaptive(const cv::Mat& search);
    void findTileExtremes(const cv::Mat& search, int tilesX, int tilesY);
    void compareWithTileLevels(const cv::Mat& search);
    bool refineCorners(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& approximate,
                       double reach, std::array<osg::Vec2d, 4>& ideal, EdgeLevels& levels) const;
    void refineCornersDensely(const cv::Mat& grey, int scale, const EdgeLevels& levels,
                              std::array<osg::Vec2d, 4>& ideal) const;
    /// Whether the brightest of a candidate's samples (grey values) reaches the paper as the
    /// matched pattern's brightest cell would.
    bool reachesPaper(const std::array<float, 256>& raw, const EdgeLevels& levels, int pattern) const;
    /// The pattern's 16 x 16 grey values; false when the border ring is not dark.
    bool samplePattern(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal,
                       const EdgeLevels& levels, std::array<float, 256>& samples) const;
    /// The best pattern and orientation for a candidate, and the best score of any other pattern.
    struct Match
    {
        int pattern = -1;
        int orientation = 0;
        double score = -1.0;
        double runnerUp = -1.0;
        void offer(double candidateScore, int candidatePattern, int candidateOrientation);
    };
    /// Best match of normalised samples against every pattern in its four orientations.
    Match matchPattern(const std::array<float, 256>& samples) const;
    /// Matches the samples again with a shadow edge evened out, when the paper just outside the
    /// border shows one (lit on one stretch of a ring around the marker, shaded on the other):
    /// split by the straight line through the edge's two crossings of the ring, then, if the match
    /// still falls short, each cell divided by the light of the paper nearest it (an edge that
    /// bends across the marker). raw: the samples before normalising; samples and match take the
    /// better evening's.
    void matchShaded(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal,
                     const std::array<float, 256>& raw, std::array<float, 256>& samples, Match& match) const;
    /// Patterns and orientations (pattern * 4 + orientation) that correlate best with the samples.
    /// closestScore: the best correlation among them.
    std::vector<int> closestPatterns(const std::array<float, 256>& samples, double& closestScore) const;
    /// The samples against the closest patterns blurred (standard deviations in pattern cells, across
    /// and down, and their correlation: non-zero for a blur along a diagonal).
    Match matchBlurredPattern(const std::array<float, 256>& samples, const std::vector<int>& closest,
                              double blurAcross, double blurDown, double correlation) const;
    /// The blur as the marker's outer corners show it, in pattern cells reaching reach cells from its
    /// centre, oriented for cv::filter2D on the pattern; false when the corners show none.
    bool measureBlurKernel(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal, int reach,
                           cv::Mat& kernel) const;
    /// The samples against the closest patterns blurred by a measured kernel.
    Match matchPatternsBlurredBy(const std::array<float, 256>& samples, const std::vector<int>& closest,
                                 const cv::Mat& kernel) const;
    /// The samples of a blurred-looking candidate against blurred patterns (see the source).
    void matchBlurred(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& ideal,
                      const EdgeLevels& levels, const std::array<float, 256>& samples, Match& match) const;
    /// The best of the blurred matches over the blur shapes tried (see the source).
    Match matchBlurredPatterns(const std::array<float, 256>& samples, const std::vector<int>& closest,
                               double blurAcross, double blurDown) const;
    /// True when a match clears the confidence floor for the loaded patterns and leads its runner-up enough.
    bool accepted(const Match& match) const;
    /// The best correlation of a candidate's coarse samples with the coarse patterns (see the source).
    double firstLook(const cv::Mat& grey, const std::array<osg::Vec2d, 4>& approximate) const;
    /// Identifies one candidate; returns its best correlation, matched the pattern it matched or -1.
    /// secondChances: whether a candidate that falls short is compared again shaded and blurred.
    double examine(const cv::Mat& grey, int scale, const std::array<osg::Vec2d, 4>& approximate,
                   std::vector<DetectedSquare>& best, int& matched, bool secondChances = true) const;
    /// A connected dark region of the binary image that passed the statistics tests.
    struct Region
    {
        int index = 0;   ///< in _darkRegions
        cv::Rect bounds; ///< search pixels
        bool nearPrevious = false;
    };
    void findCandidateRegions(int reduction, int videoPerSearch);
    void orderRegionsByPreviousMarkers(int videoPerSearch);
    static double minimumRingFill(double quadArea);
    bool traceRegion(const Region& region, std::vector<cv::Point>& polygon);
    bool quadrilateralOf(const std::vector<cv::Point>& polygon, int reduction,
                         std::array<osg::Vec2d, 4>& corners) const;
    /// The traced outline's quadrilateral with its corners settled on the outline (see the source);
    /// false when that changes nothing or leaves no convex quadrilateral.
    bool settledQuadrilateral(const std::vector<cv::Point>& polygon, std::vector<cv::Point>& settled) const;
    /// Traces, examines and records one region; best as for examine().
    void examineRegion(const cv::Mat& grey, int scale, int reduction, const Region& region,
                       std::vector<DetectedSquare>& best);

    CameraParameters _camera;
    /// Edge points are undistorted through it (filled as it is used, hence mutable).
    mutable UndistortionGrid _undistortion;
    Parameters _parameters;
    /// Per pattern and orientation: grey values, mean removed, unit length.
    std::vector<std::array<std::array<float, 256>, 4>> _patterns;
    /// Per pattern and orientation: the grey values as 16 x 16 float images.
    std::vector<std::array<cv::Mat, 4>> _patternGreys;
    /// Per pattern and orientation: the grey values slightly blurred, mean removed, unit length, for
    /// choosing the patterns a blurred candidate is compared with.
    std::vector<std::array<std::array<float, 256>, 4>> _smoothedPatterns;
    /// Per pattern and orientation: the smoothed grey values in blocks of cells, for the first look.
    std::vector<std::array<CoarsePattern, 4>> _coarsePatterns;
    cv::Mat _reduced;
    cv::Mat _binary;
    cv::Mat _columnMinimum, _columnMaximum, _tileMinimum, _tileMaximum, _tileLevel, _tileFlat, _spreadLevel,
        _tileScratch, _level;
    DarkRegions _darkRegions;
    std::vector<cv::Point> _outline;
    std::vector<cv::Point> _polygon, _settledPolygon;
    std::vector<Region> _regions;
    std::vector<int> _regionIndices;
    std::vector<Candidate> _candidates;
    /// Bounding boxes (video pixels) of the last frame's detections.
    std::vector<cv::Rect> _previousBounds;
    StageTimes _stageTimes;
};

} // namespace osgART
