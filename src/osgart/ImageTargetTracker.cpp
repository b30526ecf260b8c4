#include "osgART/ImageTargetTracker.h"
#include "osgART/GreyFrame.h"
#include "osgART/HammingMatcher.h"
#include "osgART/LightNormaliser.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>

namespace osgART
{

namespace
{

// Optical flow stops after this many iterations per level, or when a step moves less than this
// (processing pixels).
const int kFlowIterations = 20;
const double kFlowEpsilon = 0.03;
// RANSAC's iterations and confidence: enough for a third of the matches agreeing.
const int kRansacIterations = 2000;
const double kRansacConfidence = 0.995;

// The picture's outline through a homography (picture pixels to processing pixels).
std::vector<cv::Point2f> outlineOf(const ImageTarget& target, const cv::Matx33d& homography)
{
    const std::array<cv::Point2f, 4> corners = target.pictureCorners();
    std::vector<cv::Point2f> outline;
    cv::perspectiveTransform(std::vector<cv::Point2f>(corners.begin(), corners.end()), outline, homography);
    return outline;
}

// The frame points, and their points on the print, that RANSAC's mask kept.
void keepAgreeing(const std::vector<unsigned char>& mask, const std::vector<cv::Point2f>& frame,
                  const std::vector<cv::Point3f>& object, std::vector<cv::Point2f>& kept,
                  std::vector<cv::Point3f>& keptObject)
{
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i])
        {
            kept.push_back(frame[i]);
            keptObject.push_back(object[i]);
        }
}

bool isPlausibleOutline(const std::vector<cv::Point2f>& outline)
{
    for (const cv::Point2f& corner : outline)
        if (!std::isfinite(corner.x) || !std::isfinite(corner.y))
            return false;
    return cv::isContourConvex(outline) && cv::contourArea(outline) >= ImageTargetTracker::kMinimumArea;
}

// The homography from the picture's points to the frame's; the agreeing points in mask. Matches
// where most are wrong go to USAC's sequential test, which drops a bad sample after a few points
// (RANSAC would check every point for 2000 samples: 14 ms on 100 matches).
bool fitHomography(const std::vector<cv::Point2f>& picture, const std::vector<cv::Point2f>& frame,
                   cv::Mat& homography, std::vector<unsigned char>& mask,
                   int floor = ImageTargetTracker::kMinimumInliers, bool mostlyWrong = false)
{
    if (int(picture.size()) < floor)
        return false;
    homography =
        cv::findHomography(picture, frame, mostlyWrong ? cv::USAC_FAST : cv::RANSAC,
                           ImageTargetTracker::kRansacPixels, mask, kRansacIterations, kRansacConfidence);
    return !homography.empty() && cv::countNonZero(mask) >= floor;
}

// Distances of the agreeing points (mask) from where homography puts their picture points.
std::vector<double> residualsOf(const std::vector<cv::Point2f>& picture,
                                const std::vector<cv::Point2f>& frame, const cv::Matx33d& homography,
                                const std::vector<unsigned char>& mask)
{
    std::vector<cv::Point2f> mapped;
    if (!picture.empty())
        cv::perspectiveTransform(picture, mapped, homography);
    std::vector<double> residuals;
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i])
            residuals.push_back(cv::norm(mapped[i] - frame[i]));
    return residuals;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

} // namespace

ImageTargetTracker::ImageTargetTracker()
    : _pose(CameraParameters()),
      _orb(cv::ORB::create(kFrameFeatures, float(ImageTarget::kTrainingScaleStep), kFrameLevels, 16, 0, 2,
                           cv::ORB::HARRIS_SCORE, 31, kFrameCornerThreshold))
{
}

ImageTargetTracker::~ImageTargetTracker() = default;

void ImageTargetTracker::setCamera(const CameraParameters& camera)
{
    _camera = camera;
    _pose = PoseEstimator(camera);
    forget();
}

int ImageTargetTracker::addTarget(const ImageTarget& target, std::string* error)
{
    if (int(_targets.size()) >= kMaximumTargets)
    {
        if (error)
            *error = "no more than " + std::to_string(kMaximumTargets) + " image targets can be tracked";
        return -1;
    }
    _targets.emplace_back();
    Target& added = _targets.back();
    added.target = target;
    added.matcher.setDescriptors(target.descriptors());
    prepareAlignment(added);
    return int(_targets.size()) - 1;
}

void ImageTargetTracker::prepareAlignment(Target& target)
{
    // The picture's side of the flow never changes: its pyramid, gradients and grey-level spread
    // are made once rather than in every frame.
    target.levels.clear();
    for (const ImageTarget::Level& level : target.target.levels())
    {
        Target::FlowLevel made;
        cv::buildOpticalFlowPyramid(level.picture, made.pyramid, cv::Size(kFlowWindow, kFlowWindow),
                                    kFlowLevels, true);
        cv::Mat lightless;
        _light.normalise(level.picture, lightless);
        cv::buildOpticalFlowPyramid(lightless, made.lightlessPyramid, cv::Size(kFlowWindow, kFlowWindow),
                                    kFlowLevels, true);
        cv::meanStdDev(level.picture, made.mean, made.spread);
        prepareBlurEstimate(level.picture, made);
        target.levels.push_back(made);
    }
}

void ImageTargetTracker::prepareBlurEstimate(const cv::Mat& picture, Target::FlowLevel& made)
{
    // The square of the level with the most detail, and its spectrum.
    const int side = std::min(kBlurPatch, std::min(picture.cols, picture.rows));
    cv::Mat dx, dy, energy;
    cv::Sobel(picture, dx, CV_32F, 1, 0);
    cv::Sobel(picture, dy, CV_32F, 0, 1);
    energy = dx.mul(dx) + dy.mul(dy);
    cv::Mat summed;
    cv::boxFilter(energy, summed, -1, cv::Size(side, side), cv::Point(0, 0), false, cv::BORDER_CONSTANT);
    cv::Point best(0, 0);
    double bestValue = -1.0;
    for (int y = 0; y + side <= picture.rows; y += 4)
        for (int x = 0; x + side <= picture.cols; x += 4)
            if (summed.at<float>(y, x) > bestValue)
            {
                bestValue = summed.at<float>(y, x);
                best = cv::Point(x, y);
            }
    made.blurPatch = cv::Rect(best.x, best.y, side, side);
    cv::Mat patch;
    picture(made.blurPatch).convertTo(patch, CV_32F);
    patch -= cv::mean(patch)[0];
    cv::dft(patch, made.patchSpectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::Mat power;
    cv::mulSpectrums(made.patchSpectrum, made.patchSpectrum, power, 0, true);
    std::vector<cv::Mat> parts;
    cv::split(power, parts);
    made.patchPower = parts[0];
}

bool ImageTargetTracker::estimateBlur(const Target::FlowLevel& flow, cv::Mat& kernel, cv::Point2f& centroid)
{
    cv::Mat patch;
    _rectified(flow.blurPatch).convertTo(patch, CV_32F);
    patch -= cv::mean(patch)[0];
    cv::Mat spectrum, cross;
    cv::dft(patch, spectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::mulSpectrums(spectrum, flow.patchSpectrum, cross, 0, true);
    // Wiener division by the picture's power; the floor keeps frequencies the picture lacks out.
    const double floor = kWienerFloor * cv::mean(flow.patchPower)[0];
    std::vector<cv::Mat> parts;
    cv::split(cross, parts);
    cv::Mat denominator = flow.patchPower + floor;
    cv::divide(parts[0], denominator, parts[0]);
    cv::divide(parts[1], denominator, parts[1]);
    cv::merge(parts, cross);
    cv::Mat response;
    cv::idft(cross, response, cv::DFT_REAL_OUTPUT | cv::DFT_SCALE);
    // The kernel around the origin (the response wraps round).
    const int reach = kBlurReach;
    const int side = 2 * reach + 1;
    kernel.create(side, side, CV_32F);
    for (int y = -reach; y <= reach; ++y)
        for (int x = -reach; x <= reach; ++x)
            kernel.at<float>(y + reach, x + reach) =
                response.at<float>((y + response.rows) % response.rows, (x + response.cols) % response.cols);
    double peak;
    cv::minMaxLoc(kernel, nullptr, &peak);
    if (!(peak > 0.0))
        return false;
    cv::threshold(kernel, kernel, kKernelFloor * peak, 0.0, cv::THRESH_TOZERO);
    const cv::Moments m = cv::moments(kernel);
    if (!(m.m00 > 0.0))
        return false;
    kernel /= m.m00;
    centroid = cv::Point2f(float(m.m10 / m.m00 - reach), float(m.m01 / m.m00 - reach));
    // Spread of the kernel: its larger second moment's root, level pixels.
    const double a = m.mu20 / m.m00, b = m.mu11 / m.m00, c = m.mu02 / m.m00;
    const double larger = 0.5 * (a + c) + std::sqrt(0.25 * (a - c) * (a - c) + b * b);
    return std::sqrt(larger) >= kBlurredSpread;
}

void ImageTargetTracker::clear()
{
    _targets.clear();
    forget();
}

void ImageTargetTracker::forget()
{
    _framesUnseen = 0;
    for (Target& target : _targets)
        target.result = Result();
}

void ImageTargetTracker::prepareFrame(const cv::Mat& grey, int scale)
{
    _scale = scale;
    if (grey.cols >= kHalvedFromWidth)
    {
        halveGreyFrame(grey, _halved);
        _frame = _halved;
        _scale *= 2.0;
    }
    else
        _frame = grey;
    _frameFeaturesFound = false;
}

void ImageTargetTracker::process(const cv::Mat& grey, int scale, const std::vector<bool>& wanted)
{
    if (_targets.empty())
        return;
    // A new frame size invalidates the homographies the targets are followed from.
    if (grey.size() != _frameSize)
        forget();
    _frameSize = grey.size();
    prepareFrame(grey, scale);

    auto isWanted = [&](size_t index) { return wanted.empty() || (index < wanted.size() && wanted[index]); };
    // The frame's alignment corners are shared among the targets followed, so that a frame costs
    // much the same with one target or five.
    const size_t toFollow = size_t(std::count_if(_targets.begin(), _targets.end(),
                                                 [&](const Target& target) { return target.result.found; }));
    _cornersPerTarget = toFollow > 0 ? std::max<size_t>(kMinimumInliers * 3, kAlignmentBudget / toFollow)
                                     : size_t(ImageTarget::kAlignmentCorners);
    int followed = 0;
    for (size_t index = 0; index < _targets.size(); ++index)
    {
        Target& target = _targets[index];
        const bool wasFound = target.result.found;
        const osg::Matrixd previous = target.result.pose;
        target.result.found = false;
        if (!isWanted(index) || !wasFound)
            continue;
        if (align(target, target.homography, &previous))
        {
            target.result.followed = true;
            ++followed;
        }
    }
    ++_frameCount;
    if (followed > 0 && _frameCount % kSearchInterval != 0)
        return;
    if (!isSearchFrame(followed))
        return;
    ++_searches;
    // A target being found is checked with all its corners.
    _cornersPerTarget = size_t(ImageTarget::kAlignmentCorners);
    for (size_t index = 0; index < _targets.size() && followed < kMaximumVisible; ++index)
    {
        Target& target = _targets[index];
        if (isWanted(index) && !target.result.found && detect(target))
            ++followed;
    }
    _framesUnseen = followed > 0 ? 0 : _framesUnseen + 1;
}

bool ImageTargetTracker::isSearchFrame(int followed)
{
    // A picture long out of view is looked for in one frame of kIdleSearchInterval: a scene whose
    // picture lies elsewhere pays a fraction of a search a frame, and one coming into view is found
    // at most that many frames late.
    if (followed > 0 || _framesUnseen < kIdleAfterFrames)
        return true;
    return ++_idleFrames % kIdleSearchInterval == 0;
}

double ImageTargetTracker::seenWidth(const Target& target, const cv::Matx33d& homography)
{
    const std::vector<cv::Point2f> outline = outlineOf(target.target, homography);
    return target.target.picture().cols *
           std::sqrt(cv::contourArea(outline) / target.target.picture().size().area());
}

size_t ImageTargetTracker::chooseLevel(const Target& target, double width) const
{
    const std::vector<ImageTarget::Level>& levels = target.target.levels();
    const double seen = width / target.target.picture().cols;
    // A picture seen small is compared on the level just larger than it is seen, so that none of its
    // few frame pixels is averaged away; others on the level nearest in size, whose flow windows
    // span more of the picture (a blurred or shadowed frame needs that context).
    if (width < kSmallSeenPixels)
    {
        size_t larger = 0;
        while (larger + 1 < levels.size() && levels[larger + 1].scale >= seen)
            ++larger;
        return larger;
    }
    size_t chosen = 0;
    for (size_t level = 1; level < levels.size(); ++level)
        if (std::fabs(std::log(levels[level].scale / seen)) <
            std::fabs(std::log(levels[chosen].scale / seen)))
            chosen = level;
    return chosen;
}

void ImageTargetTracker::locateCorners(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame,
                                       size_t count, LevelFit& fit)
{
    const ImageTarget::Level& level = target.target.levels()[chosen];
    const Target::FlowLevel& flow = target.levels[chosen];
    cv::warpPerspective(_frame, _rectified, cv::Mat(levelToFrame), level.picture.size(),
                        cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    // Light and exposure differ from the print's: match the mean and spread to the picture's (the
    // blur estimate compares the two so), and, unless the picture is seen small, take the light out
    // pixel by pixel for the flow.
    cv::Scalar frameMean, frameSpread;
    cv::meanStdDev(_rectified, frameMean, frameSpread);
    const double gain = flow.spread[0] / std::max(1.0, frameSpread[0]);
    _rectified.convertTo(_rectified, -1, gain, flow.mean[0] - gain * frameMean[0]);
    if (fit.lightless)
        _light.normalise(_rectified, _lightless);
    trackCorners(target, chosen, levelToFrame, count, fit.lightless ? flow.lightlessPyramid : flow.pyramid,
                 cv::Point2f(), fit);
}

void ImageTargetTracker::trackCorners(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame,
                                      size_t count, const std::vector<cv::Mat>& pyramid,
                                      const cv::Point2f& shift, LevelFit& fit)
{
    const ImageTarget::Level& level = target.target.levels()[chosen];
    // The strongest corners come first.
    const std::vector<cv::Point2f> corners(
        level.corners.begin(), level.corners.begin() + long(std::min(count, level.corners.size())));
    std::vector<cv::Point2f> located;
    std::vector<unsigned char> status;
    std::vector<float> errors;
    cv::calcOpticalFlowPyrLK(
        pyramid, fit.lightless ? _lightless : _rectified, corners, located, status, errors,
        cv::Size(kFlowWindow, kFlowWindow), kFlowLevels,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kFlowIterations, kFlowEpsilon));
    fit.picture.clear();
    fit.frame.clear();
    fit.object.clear();
    const cv::Rect2f inside(0.0f, 0.0f, float(level.picture.cols - 1), float(level.picture.rows - 1));
    for (size_t i = 0; i < located.size(); ++i)
    {
        if (!status[i] || !inside.contains(located[i]))
            continue;
        fit.picture.push_back(corners[i]);
        fit.frame.push_back(located[i] + shift);
        fit.object.push_back(level.objectPoints[i]);
    }
    if (!fit.frame.empty())
        cv::perspectiveTransform(fit.frame, fit.frame, levelToFrame);
}

bool ImageTargetTracker::fitLevel(const Target& target, size_t chosen, const cv::Matx33d& homography,
                                  bool refine, LevelFit& fit)
{
    const ImageTarget::Level& level = target.target.levels()[chosen];
    fit.level = chosen;
    // Level pixel centres to picture pixel centres, then to the frame.
    const double inverse = 1.0 / level.scale;
    fit.fromLevel =
        cv::Matx33d(inverse, 0.0, 0.5 * inverse - 0.5, 0.0, inverse, 0.5 * inverse - 0.5, 0.0, 0.0, 1.0);
    fit.count = std::min(_cornersPerTarget, level.corners.size());
    locateCorners(target, chosen, homography * fit.fromLevel, fit.count, fit);
    cv::Mat fitted;
    std::vector<unsigned char> mask;
    if (!fitHomography(fit.picture, fit.frame, fitted, mask))
        return false;
    if (refine && !refineFit(target, chosen, fitted, mask, fit))
        return false;
    fit.levelToFrame = cv::Matx33d(fitted);
    keepClosest(mask, fit);
    return int(fit.kept.size()) >= kMinimumInliers;
}

bool ImageTargetTracker::refineFit(const Target& target, size_t chosen, cv::Mat& fitted,
                                   std::vector<unsigned char>& mask, LevelFit& fit)
{
    // Warped through a homography a pixel or two off, the frame is also turned and scaled a little
    // against the picture, which shifts every flow window's match: warped again through the fitted
    // homography, it lines up with the picture and the corners are measured afresh.
    const cv::Matx33d again(fitted);
    locateCorners(target, chosen, again, fit.count, fit);
    if (!fitHomography(fit.picture, fit.frame, fitted, mask))
        return false;
    cv::Mat kernel;
    cv::Point2f centroid;
    if (estimateBlur(target.levels[chosen], kernel, centroid))
        compareBlurred(target, chosen, again, kernel, centroid, fitted, mask, fit);
    return true;
}

void ImageTargetTracker::compareBlurred(const Target& target, size_t chosen, const cv::Matx33d& levelToFrame,
                                        const cv::Mat& kernel, const cv::Point2f& centroid, cv::Mat& fitted,
                                        std::vector<unsigned char>& mask, LevelFit& fit)
{
    // A blurred frame matched with the sharp picture pulls each corner its own way along the blur:
    // the picture blurred as the frame is compares like with like. Convolution with the kernel also
    // moves the picture by the kernel's centroid, which the corners found then get back.
    cv::Mat blurred, turned;
    cv::flip(kernel, turned, -1); // filter2D correlates: the kernel turned round convolves
    cv::filter2D(target.target.levels()[chosen].picture, blurred, -1, turned, cv::Point(-1, -1), 0.0,
                 cv::BORDER_REPLICATE);
    if (fit.lightless)
        _light.normalise(blurred, blurred);
    cv::buildOpticalFlowPyramid(blurred, _blurredPyramid, cv::Size(kFlowWindow, kFlowWindow), kFlowLevels,
                                true);
    // The kernel comes from one patch. A real camera's blur can change across the picture (focus
    // over a slanted print): the blurred picture then fits the frame worse than the sharp one, and
    // its corners, pulled each its own way, agree less with their homography. The closer fit stays
    // (OpenCV's graffiti pair at 800x640: median residual 0.39 px sharp, 1.21 blurred; motion blur of
    // 10 px: 0.5 to 0.9 sharp, 0.13 to 0.36 blurred).
    const LevelFit sharp = fit;
    const double sharpResidual = median(residualsOf(fit.picture, fit.frame, cv::Matx33d(fitted), mask));
    trackCorners(target, chosen, levelToFrame, fit.count, _blurredPyramid, centroid, fit);
    cv::Mat blurredFitted;
    std::vector<unsigned char> blurredMask;
    if (fitHomography(fit.picture, fit.frame, blurredFitted, blurredMask) &&
        median(residualsOf(fit.picture, fit.frame, cv::Matx33d(blurredFitted), blurredMask)) <= sharpResidual)
    {
        fitted = blurredFitted;
        mask = blurredMask;
        return;
    }
    fit = sharp;
}

void ImageTargetTracker::keepClosest(const std::vector<unsigned char>& mask, LevelFit& fit) const
{
    // RANSAC's threshold lets in corners that slipped a pixel or two (on a shadow's edge, on an
    // occluder's); each would tip the pose. Only those near the homography as most are stay.
    const std::vector<double> residuals = residualsOf(fit.picture, fit.frame, fit.levelToFrame, mask);
    fit.kept.clear();
    fit.keptObject.clear();
    if (residuals.empty())
        return;
    const double limit = std::max(kSmallestResidualLimit, kResidualLimit * median(residuals));
    for (size_t i = 0, k = 0; i < mask.size(); ++i)
    {
        if (!mask[i])
            continue;
        if (residuals[k++] <= limit)
        {
            fit.kept.push_back(fit.frame[i]);
            fit.keptObject.push_back(fit.object[i]);
        }
    }
}

bool ImageTargetTracker::align(Target& target, const cv::Matx33d& homography, const osg::Matrixd* previous,
                               bool confirm)
{
    const std::vector<ImageTarget::Level>& levels = target.target.levels();
    if (levels.empty() || !isPlausibleOutline(outlineOf(target.target, homography)))
        return false;
    // A followed target starts from last frame's precise homography; a detected one from the
    // matches', which is refined.
    LevelFit& fit = _fit;
    const double width = seenWidth(target, homography);
    fit.lightless = width >= kLightlessSeenPixels; // seen small: the overall light match
    if (!fitLevel(target, chooseLevel(target, width), homography, previous == nullptr, fit))
        return false;
    if (confirm && correlationAt(levels[fit.level], fit.levelToFrame) < kMinimumCorrelation)
        return false;
    const cv::Matx33d measured = fit.levelToFrame * fit.fromLevel.inv();
    if (!fitPose(target, fit.kept, fit.keptObject, previous, &measured))
        return false;
    target.homography = measured;
    target.result.followed = false;
    target.result.confidence = double(fit.kept.size()) / double(fit.count);
    return true;
}

double ImageTargetTracker::correlationAt(const ImageTarget::Level& level, const cv::Matx33d& levelToFrame)
{
    cv::warpPerspective(_frame, _rectified, cv::Mat(levelToFrame), level.picture.size(),
                        cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    cv::Mat correlation;
    cv::matchTemplate(_rectified, level.picture, correlation, cv::TM_CCOEFF_NORMED);
    return double(correlation.at<float>(0, 0));
}

void ImageTargetTracker::findFrameFeatures()
{
    if (_frameFeaturesFound)
        return;
    _frameKeypoints.clear();
    // Targets already followed are left out, so that the frame's features go to the others.
    _searchMask.create(_frame.size(), CV_8UC1);
    _searchMask.setTo(255);
    bool masked = false;
    for (const Target& target : _targets)
    {
        if (!target.result.found)
            continue;
        std::vector<cv::Point> polygon;
        for (const cv::Point2f& corner : outlineOf(target.target, target.homography))
            polygon.emplace_back(cvRound(corner.x), cvRound(corner.y));
        cv::fillConvexPoly(_searchMask, polygon, cv::Scalar(0));
        masked = true;
    }
    _orb->detectAndCompute(_frame, masked ? _searchMask : cv::Mat(), _frameKeypoints, _frameDescriptors);
    _frameFeaturesFound = true;
}

bool ImageTargetTracker::detect(Target& target)
{
    findFrameFeatures();
    if (_frameDescriptors.rows < kMinimumInliers)
        return false;
    std::vector<NearestTwo> nearest;
    target.matcher.findNearestTwo(_frameDescriptors, nearest);
    std::vector<cv::Point2f> picture, frame;
    std::vector<cv::Point3f> object;
    for (size_t query = 0; query < nearest.size(); ++query)
    {
        const NearestTwo& pair = nearest[query];
        if (pair.best < 0 || pair.bestDistance >= kMatchRatio * pair.secondDistance)
            continue;
        picture.push_back(target.target.picturePoints()[size_t(pair.best)]);
        frame.push_back(_frameKeypoints[query].pt);
        object.push_back(target.target.objectPoints()[size_t(pair.best)]);
    }
    cv::Mat homography;
    std::vector<unsigned char> mask;
    if (!fitHomography(picture, frame, homography, mask, kMinimumMatches, true))
        return false;
    // The matches place the picture to a pixel or two; alignment then measures it precisely. Few
    // agreeing matches may be chance: the picture must then be seen where alignment puts it.
    const bool weak = cv::countNonZero(mask) < kMinimumInliers;
    if (align(target, cv::Matx33d(homography), nullptr, weak))
        return true;
    if (weak)
        return false;
    const std::vector<cv::Point2f> outline = outlineOf(target.target, cv::Matx33d(homography));
    if (!isPlausibleOutline(outline))
        return false;
    std::vector<cv::Point2f> kept;
    std::vector<cv::Point3f> keptObject;
    keepAgreeing(mask, frame, object, kept, keptObject);
    if (!fitPose(target, kept, keptObject, nullptr))
        return false;
    target.homography = cv::Matx33d(homography);
    target.result.followed = false;
    target.result.confidence = double(kept.size()) / double(picture.size());
    return true;
}

osg::Vec2d ImageTargetTracker::toVideo(const cv::Point2f& point) const
{
    // A processing pixel covers scale x scale video pixels; its centre sits half a span in.
    const double offset = 0.5 * (_scale - 1.0);
    return osg::Vec2d(point.x * _scale + offset, point.y * _scale + offset);
}

bool ImageTargetTracker::fitPose(Target& target, const std::vector<cv::Point2f>& points,
                                 const std::vector<cv::Point3f>& onPrint, const osg::Matrixd* previous,
                                 const cv::Matx33d* aligned)
{
    std::vector<osg::Vec3d> object;
    std::vector<osg::Vec2d> ideal;
    for (size_t i = 0; i < points.size(); ++i)
    {
        object.emplace_back(onPrint[i].x, onPrint[i].y, 0.0);
        ideal.push_back(_camera.observedToIdeal(toVideo(points[i])));
    }
    osg::Matrixd pose = previous ? *previous : osg::Matrixd();
    if (!(previous ? _pose.refine(object, ideal, pose) : _pose.estimatePlanar(object, ideal, pose)) ||
        !pose.valid())
        return false;
    double squared = 0.0;
    for (size_t i = 0; i < object.size(); ++i)
        squared += (_pose.project(pose, object[i]) - ideal[i]).length2();
    const double poseError = std::sqrt(squared / double(object.size()));
    const bool poseAgrees = poseError <= kMaximumPoseError;
    if (!aligned && !poseAgrees)
        return false;
    // A pose behind the camera is no view of the picture, whatever the camera file.
    if (!(pose.getTrans().z() > 0.0))
        return false;
    Result& result = target.result;
    result.found = true;
    result.pose = pose;
    result.inliers = points.size();
    // Where the pose agrees closely with the points it places the corners best (it rests on all of
    // them); where the camera file bends it, the measured homography does.
    if (aligned && poseError > kMaximumCornerPoseError)
    {
        const std::vector<cv::Point2f> outline = outlineOf(target.target, *aligned);
        for (size_t k = 0; k < 4; ++k)
            result.corners[k] = toVideo(outline[k]);
        return true;
    }
    const std::array<osg::Vec3d, 4> corners = target.target.corners();
    for (size_t k = 0; k < 4; ++k)
        result.corners[k] = _camera.idealToObserved(_pose.project(pose, corners[k]));
    return true;
}

} // namespace osgART
