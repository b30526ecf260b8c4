#pragma once

#include <opencv2/core.hpp>

#include <osg/Matrixd>
#include <osg/Vec2d>

#include <array>
#include <string>
#include <vector>

#include "CameraParameters.h"
#include "HammingMatcher.h"
#include "ImageTarget.h"
#include "LightNormaliser.h"
#include "PoseEstimator.h"

namespace cv
{
class ORB;
} // namespace cv

namespace osgART
{

/// Finds and follows trained pictures (ImageTarget) in grey frames.
///
/// Detection: ORB features of the frame are matched against each target's features (brute-force
/// Hamming distance, two nearest, ratio test), a homography is fitted to the matches by RANSAC, and a
/// target counts as found when enough matches agree and the picture's outline maps to a convex, not
/// vanishingly small quadrilateral. A small target gives few matches: a homography that few agree on
/// counts only when alignment confirms it and the frame, warped back, looks like the picture.
/// Alignment, which makes the pose precise: the frame is warped back through the homography onto the
/// picture's alignment level nearest the size it is seen at, the light taken out of both pixel by
/// pixel (LightNormaliser, so that light varying over the print does not pull the flow windows;
/// a picture seen small has its overall brightness and contrast matched instead), and the level's
/// corners are located in it by pyramidal Lucas-Kanade optical flow;
/// a homography by RANSAC drops the corners that slipped (occluders, shadows), so do corners far
/// from it against the others' spread, and the pose is fitted to the rest by least squares, which
/// must reproject them closely. A detected target, whose homography comes from the matches, is
/// aligned twice: the second time through the first alignment's homography, and, when the frame
/// proves blurred against the picture (the blur kernel estimated by Wiener deconvolution of a
/// detailed patch), against the picture blurred by that kernel, whose corners are kept when they
/// agree more closely with their homography than the sharp picture's. Feature positions are only as
/// precise as their pyramid level; aligned corners are precise to a fraction of a pixel.
/// Tracking: once found, a target is aligned in the next frame from its last homography, with no
/// feature search at all; a target that fails to align is searched for by detection in the same
/// frame. With nothing in view for kIdleAfterFrames, the search runs in one frame of
/// kIdleSearchInterval. Comparing with the picture itself rather than with the last frame, the pose does not
/// drift. The feature search leaves out the targets already followed, so that its features go to the others;
/// it runs once per frame for all the targets not yet found, and the targets followed share a fixed
/// number of alignment corners, so that five targets in view cost about twice one.
/// Up to kMaximumTargets are trained; once kMaximumVisible are followed, the others are not searched
/// for, so a frame never costs more than that many targets. Frames kHalvedFromWidth pixels wide and
/// wider are processed at half resolution.
class ImageTargetTracker
{
public:
    /// Most trained targets (default 20). Detection matches every target not in view, so its cost
    /// grows with the number trained.
    static constexpr int kMaximumTargets = 20;
    /// Most targets followed at once (default 5).
    static constexpr int kMaximumVisible = 5;
    /// Features sought in a frame (default 1250). More find smaller and more occluded targets, and
    /// targets beside high-contrast square markers, which draw the strongest corners; feature and
    /// matching time grow linearly with it.
    static constexpr int kFrameFeatures = 1250;
    /// Pyramid levels of the frame's features (default 4, each 1.3 times smaller): with the
    /// training pyramid, targets from three times the trained size down to a sixth of it are found.
    static constexpr int kFrameLevels = 4;
    /// FAST corner threshold in the frame, grey levels (default 10). Lower keeps dim and washed-out
    /// frames detectable, and costs more corners to describe.
    static constexpr int kFrameCornerThreshold = 10;
    /// Ratio test: a match is kept when its distance is below this share of the second best's
    /// (default 0.8). Lower drops more wrong matches and more right ones.
    static constexpr double kMatchRatio = 0.8;
    /// Matches (or followed points) that must agree on the homography and the pose (default 15).
    /// Fewer would let chance agreements in clutter count as a target.
    static constexpr int kMinimumInliers = 15;
    /// Detection fits a homography to as few as this many agreeing matches (default 8): a small or
    /// distant target gives few. Under kMinimumInliers the target counts only when alignment
    /// confirms it and the frame warped back onto the picture correlates with it by at least
    /// kMinimumCorrelation (default 0.7; a small target seen clearly correlates 0.8 to 0.95, chance
    /// fits in clutter mostly under 0.2). Lower finds smaller targets and spends more alignments on
    /// chance agreements.
    static constexpr int kMinimumMatches = 8;
    static constexpr double kMinimumCorrelation = 0.7;
    /// RANSAC's largest distance of an agreeing match from the homography, processing pixels
    /// (default 3). Larger tolerates lens distortion and blur, and lets more wrong matches agree.
    static constexpr double kRansacPixels = 3.0;
    /// Largest root-mean-square reprojection error of a pose accepted without alignment, video
    /// pixels (default 3). An aligned picture is accepted whatever its pose's error: that error
    /// then measures the camera file (a focal length off by a factor of two makes 10 pixels and
    /// more on a strongly tilted picture), not the detection.
    static constexpr double kMaximumPoseError = 3.0;
    /// Largest root-mean-square reprojection error, video pixels, of an aligned picture's pose whose
    /// projection places the picture's corners (default 1.5). Aligned points lie within a fraction
    /// of a pixel of their homography; a pose that misses them by more is bent by the camera file
    /// (a focal length 1.5 times the true one reprojects them to 2.7 pixels and moves the corners
    /// by 11), and the corners are then taken from the homography, which no camera file enters.
    /// Lower takes the homography's corners more often (on OpenCV's graffiti pair at 600x480 they
    /// lie 0.49 pixels from the truth's on average, the pose's with the true focal length 0.61).
    static constexpr double kMaximumCornerPoseError = 1.5;
    /// Smallest area of the picture's outline in the frame, processing pixels squared (default 256).
    static constexpr double kMinimumArea = 256.0;
    /// Alignment's optical flow: window side, level pixels (default 15), and pyramid levels (default
    /// 3): together they bridge about 50 level pixels between the last frame's homography and this
    /// frame's. Cost grows with the window's area and the number of corners.
    static constexpr int kFlowWindow = 15;
    static constexpr int kFlowLevels = 3;
    /// Alignment corners per frame, shared among the targets followed (default 320): one target
    /// uses all ImageTarget::kAlignmentCorners of its level, five use 64 each. Alignment time grows
    /// linearly with it; fewer corners per target make its pose a little less steady.
    static constexpr size_t kAlignmentBudget = 320;
    /// While some target is followed, the others are searched for in one frame of this many
    /// (default 4): a feature search costs several alignments, and a target coming into view is
    /// then found at most this many frames late.
    static constexpr int kSearchInterval = 4;
    /// A picture seen narrower than this, processing pixels (default 128), is aligned on the level
    /// just larger than it is seen rather than the nearest: its few pixels all count. Others use
    /// the nearest level, whose flow windows span more of the picture.
    static constexpr double kSmallSeenPixels = 128.0;
    /// Light is taken out of the level and the frame warped back (LightNormaliser) over a
    /// Gaussian of kLightReach level pixels (default 16), and spreads under kLightFloor grey
    /// levels (default 5, about twice a camera's noise in daylight) are not raised further. A flow
    /// window matches the picture's grey levels with the frame's, and light that changes across it
    /// (a shadow's edge, a highlight, a print lit from one side) pulls it off by up to a pixel or
    /// two: OpenCV's graffiti pair, a sunlit wall, had its corners 2.2 pixels off, 0.4 to 0.7 so;
    /// the hard shadow edge's pose was 6 times more precise. A smaller reach follows sharper
    /// changes of light with less texture to measure each by (8 and less gave no gain on the
    /// graffiti pair); a larger one leaves more of a shadow's edge in. Costs 0.8 ms of thread CPU an
    /// alignment on a 640x512 level, 0.2 ms on a 320x256 one.
    static constexpr double kLightReach = 16.0;
    static constexpr double kLightFloor = 5.0;
    /// A picture seen narrower than this, processing pixels (default 160), keeps the overall
    /// brightness and contrast match instead: its level, sampled from few frame pixels, is too
    /// smooth to measure its light pixel by pixel (pictures seen 96 and 144 pixels wide had their
    /// pose 35% and 16% less precise so; from 160 on, as precise or more).
    static constexpr double kLightlessSeenPixels = 160.0;
    /// Aligned corners further from the homography than kResidualLimit times the median corner's
    /// distance (default 2.5), and than kSmallestResidualLimit (default 0.05 processing pixels), are
    /// left out of the pose. Lower drops more good corners with the slipped ones.
    static constexpr double kResidualLimit = 2.5;
    static constexpr double kSmallestResidualLimit = 0.05;
    /// Blur of a detected target's frame: estimated on the level's kBlurPatch-pixel square with the
    /// most detail (default 64; the estimate costs two transforms of it) as a kernel reaching
    /// kBlurReach level pixels (default 10). Frequencies where the picture's power is under
    /// kWienerFloor of its mean (default 0.05) are damped; kernel values under kKernelFloor of its
    /// peak (default 0.15) are noise. A kernel spreading kBlurredSpread level pixels or more
    /// (root of its larger second moment, default 1.5; sharp frames give 0.5 to 1) marks the frame
    /// blurred: the picture is then blurred alike and the corners are located again (about 1.5 ms).
    static constexpr int kBlurPatch = 64;
    static constexpr int kBlurReach = 10;
    static constexpr double kWienerFloor = 0.05;
    static constexpr double kKernelFloor = 0.15;
    static constexpr double kBlurredSpread = 1.5;
    /// After kIdleAfterFrames frames (default 30, a second at 30 fps) with no target found, the
    /// targets are searched for in one frame of kIdleSearchInterval (default 3): a frame then costs
    /// a third of a search on average, and a target coming into view is found up to two frames
    /// late. forget() searches at once again.
    static constexpr int kIdleAfterFrames = 30;
    static constexpr int kIdleSearchInterval = 3;
    /// Frames this wide and wider are processed at half resolution (default 1280).
    static constexpr int kHalvedFromWidth = 1280;

    struct Result
    {
        bool found = false;
        bool followed = false; ///< found by optical flow rather than by detection
        /// Pose in the computer-vision camera frame (PoseEstimator's convention).
        osg::Matrixd pose;
        /// The picture's corners as seen (video pixels): top-left, top-right, bottom-right, bottom-left.
        std::array<osg::Vec2d, 4> corners;
        double confidence = 0.0; ///< share of the matches that agreed (0..1)
        size_t inliers = 0;
    };

    ImageTargetTracker();
    ~ImageTargetTracker();
    ImageTargetTracker(const ImageTargetTracker&) = delete;
    ImageTargetTracker& operator=(const ImageTargetTracker&) = delete;

    /// The camera at video resolution; forgets what was followed.
    void setCamera(const CameraParameters& camera);
    /// Index of the new target, or -1 (with the reason in error) past kMaximumTargets.
    int addTarget(const ImageTarget& target, std::string* error = nullptr);
    size_t targetCount() const { return _targets.size(); }
    const ImageTarget& target(size_t index) const { return _targets[index].target; }
    void clear();

    /// grey: the frame (8-bit, one channel, top row first) at processing resolution; scale: video
    /// pixels per processing pixel (1, or 2 for half-resolution tracking). wanted: per target,
    /// whether it is looked for (empty: all).
    void process(const cv::Mat& grey, int scale, const std::vector<bool>& wanted = std::vector<bool>());
    const Result& result(size_t index) const { return _targets[index].result; }

    /// Forgets what was followed: the next frame detects every target.
    void forget();
    /// Frames in which targets not in view were searched for, since the tracker was made.
    size_t searchCount() const { return _searches; }

private:
    struct Target
    {
        ImageTarget target;
        HammingMatcher matcher; ///< the target's descriptors, packed for matching
        /// Per alignment level of the target: the picture's flow pyramid with its gradients, the
        /// same of the picture with its light taken out, and its grey-level mean and spread.
        struct FlowLevel
        {
            std::vector<cv::Mat> pyramid, lightlessPyramid;
            cv::Scalar mean, spread;
            cv::Rect blurPatch;
            cv::Mat patchSpectrum, patchPower;
        };
        std::vector<FlowLevel> levels;
        Result result;
        /// Picture pixels to processing pixels, in the last frame the target was found in.
        cv::Matx33d homography;
    };

    void prepareFrame(const cv::Mat& grey, int scale);
    /// Whether this frame searches for targets not in view, followed of them being followed.
    bool isSearchFrame(int followed);
    void prepareAlignment(Target& target);
    bool detect(Target& target);
    /// Aligns the picture with the frame from a homography (picture to processing pixels). confirm:
    /// the frame warped back must also correlate with the picture (a detection from few matches).
    bool align(Target& target, const cv::Matx33d& homography, const osg::Matrixd* previous,
               bool confirm = false);
    /// The corners of one alignment level located in the frame, and the homography they agree on.
    struct LevelFit
    {
        size_t level = 0;
        size_t count = 0;       ///< corners sought
        bool lightless = false; ///< light taken out of the level and the frame (seen wide enough)
        cv::Matx33d fromLevel, levelToFrame;
        std::vector<cv::Point2f> picture, frame, kept;
        std::vector<cv::Point3f> object, keptObject;
    };
    /// The picture's width as seen through homography, processing pixels.
    static double seenWidth(const Target& target, const cv::Matx33d& homography);
    /// The alignment level the picture is compared on, seen width processing pixels wide.
    size_t chooseLevel(const Target& target, double width) const;
    /// Warps the frame onto the level and locates its first count corners in it.
    void locateCorners(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame, size_t count,
                       LevelFit& fit);
    /// Flow of the level's corners from pyramid into the warped frame; shift is added to each.
    void trackCorners(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame, size_t count,
                      const std::vector<cv::Mat>& pyramid, const cv::Point2f& shift, LevelFit& fit);
    /// The corners located and fitted from homography; refine: measured again through the fit.
    bool fitLevel(const Target& target, size_t chosen, const cv::Matx33d& homography, bool refine,
                  LevelFit& fit);
    bool refineFit(const Target& target, size_t chosen, cv::Mat& fitted, std::vector<unsigned char>& mask,
                   LevelFit& fit);
    /// The corners located again against the picture blurred by kernel, kept in place of fitted,
    /// mask and fit's when they agree more closely with their homography (median residual).
    void compareBlurred(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame,
                        const cv::Mat& kernel, const cv::Point2f& centroid, cv::Mat& fitted,
                        std::vector<unsigned char>& mask, LevelFit& fit);
    /// fit.kept: the agreeing corners within kResidualLimit times the median residual.
    void keepClosest(const std::vector<unsigned char>& mask, LevelFit& fit) const;
    /// The region of the level with the most detail and its spectrum, for estimateBlur().
    static void prepareBlurEstimate(const cv::Mat& picture, Target::FlowLevel& made);
    /// The blur of the warped frame against the level's picture (a convolution kernel, and its
    /// centroid in level pixels); false when the frame is as sharp as the picture.
    bool estimateBlur(const Target::FlowLevel& flow, cv::Mat& kernel, cv::Point2f& centroid);
    /// Normalised cross-correlation of the level's picture with the frame warped back onto it.
    double correlationAt(const ImageTarget::Level& level, const cv::Matx33d& levelToFrame);
    void findFrameFeatures();
    /// The pose from agreeing points; previous (when given) is refined rather than solved afresh.
    /// aligned: the picture's homography in the frame, measured by alignment. The picture is then
    /// known to be where it shows, so the pose's reprojection error (a camera file whose focal
    /// length is off bends it) does not refuse it, and when that error is beyond kMaximumPoseError
    /// the corners are taken from the homography; without one, the pose must reproject the points
    /// within kMaximumPoseError.
    bool fitPose(Target& target, const std::vector<cv::Point2f>& points,
                 const std::vector<cv::Point3f>& object, const osg::Matrixd* previous,
                 const cv::Matx33d* aligned = nullptr);
    osg::Vec2d toVideo(const cv::Point2f& point) const;

    CameraParameters _camera;
    PoseEstimator _pose;
    std::vector<Target> _targets;
    cv::Ptr<cv::ORB> _orb;
    cv::Mat _frame;
    double _scale = 1.0;
    cv::Mat _halved;
    cv::Size _frameSize;
    unsigned _frameCount = 0;
    unsigned _framesUnseen = 0; ///< frames in a row with no target found
    unsigned _idleFrames = 0;
    size_t _searches = 0;
    cv::Mat _rectified;
    cv::Mat _lightless; ///< _rectified with its light taken out, as the flow compares it
    LightNormaliser _light{kLightReach, kLightFloor};
    LevelFit _fit;
    std::vector<cv::Mat> _blurredPyramid;
    cv::Mat _searchMask;
    bool _frameFeaturesFound = false;
    size_t _cornersPerTarget = ImageTarget::kAlignmentCorners;
    std::vector<cv::KeyPoint> _frameKeypoints;
    cv::Mat _frameDescriptors;
};

} // namespace osgART
