#include "osgART/ImageTarget.h"
#include "osgART/GreyFrame.h"
#include "osgART/InputFiles.h"

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <osg/Image>
#include <osgDB/ReadFile>

#include <algorithm>
#include <cmath>

namespace osgART
{

namespace
{

void setError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

// Grey, top row first, from an OSG image of 8-bit grey, grey+alpha or colour pixels.
bool toGrey(const osg::Image& image, cv::Mat& grey)
{
    cv::Mat pixels;
    PixelLayout layout;
    if (!pixelsOfImage(image, pixels, layout))
        return false;
    // OSG's readers put the bottom row first.
    makeGreyFrame(pixels, layout, image.getOrigin() == osg::Image::BOTTOM_LEFT, false, grey);
    // An upright grey picture is only borrowed from the image, which goes.
    if (grey.data == pixels.data)
        grey = grey.clone();
    return true;
}

cv::Mat toGrey(const cv::Mat& picture)
{
    cv::Mat grey;
    if (picture.channels() == 3)
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    else if (picture.channels() == 4)
        cv::cvtColor(picture, grey, cv::COLOR_BGRA2GRAY);
    else
        grey = picture;
    return grey;
}

// Cells across and down of the grid on which coverage is counted.
const int kCoverageGrid = 8;
// Two features closer than this in descriptor bits look alike (default 48 of 256: the ratio test
// of matching cannot tell them apart). Features closer than kSamePlacePixels, or than half the
// larger one's patch, are the same detail seen at two pyramid levels: no repetition.
const int kAlikeBits = 48;
const double kSamePlacePixels = 8.0;
// Grey-level standard deviation below which a picture is dull (default 30; a printed photograph
// has 50 to 70).
const double kDullContrast = 30.0;

double repetitionOf(const std::vector<cv::KeyPoint>& keypoints, const cv::Mat& descriptors)
{
    if (keypoints.size() < 2)
        return 0.0;
    cv::BFMatcher matcher(cv::NORM_HAMMING);
    std::vector<std::vector<cv::DMatch>> matches;
    matcher.radiusMatch(descriptors, descriptors, matches, float(kAlikeBits));
    size_t alike = 0;
    for (size_t i = 0; i < matches.size(); ++i)
    {
        for (const cv::DMatch& match : matches[i])
        {
            const cv::Point2f offset = keypoints[size_t(match.trainIdx)].pt - keypoints[i].pt;
            const double reach = std::max(
                kSamePlacePixels, 0.5 * std::max(keypoints[i].size, keypoints[size_t(match.trainIdx)].size));
            if (std::hypot(offset.x, offset.y) > reach)
            {
                ++alike;
                break;
            }
        }
    }
    return double(alike) / double(keypoints.size());
}

double coverageOf(const std::vector<cv::KeyPoint>& keypoints, const cv::Size& size)
{
    std::vector<bool> cells(kCoverageGrid * kCoverageGrid, false);
    for (const cv::KeyPoint& keypoint : keypoints)
    {
        const int x =
            std::min(kCoverageGrid - 1, std::max(0, int(keypoint.pt.x * kCoverageGrid / size.width)));
        const int y =
            std::min(kCoverageGrid - 1, std::max(0, int(keypoint.pt.y * kCoverageGrid / size.height)));
        cells[size_t(y * kCoverageGrid + x)] = true;
    }
    return double(std::count(cells.begin(), cells.end(), true)) / double(cells.size());
}

// The factor that brings the picture's longer side down to the training size (1 when it is not
// larger).
double trainingScale(const cv::Mat& picture)
{
    const int longer = std::max(picture.cols, picture.rows);
    return longer > ImageTarget::kTrainingSide ? double(ImageTarget::kTrainingSide) / longer : 1.0;
}

// Why a picture is too small or too thin to train, once scaled to the training size; empty when
// it is not. Checked before any OpenCV call sizes an image from it.
std::string pictureSizeProblem(const cv::Mat& picture)
{
    if (std::min(picture.cols, picture.rows) * trainingScale(picture) >= ImageTarget::kMinimumPictureSide)
        return std::string();
    return "the picture is " + std::to_string(picture.cols) + "x" + std::to_string(picture.rows) +
           " pixels; its shorter side must be at least " + std::to_string(ImageTarget::kMinimumPictureSide) +
           " pixels once the longer is at most " + std::to_string(ImageTarget::kTrainingSide);
}

} // namespace

cv::Mat trainingPicture(const cv::Mat& picture)
{
    const cv::Mat grey = toGrey(picture);
    const double scale = trainingScale(grey);
    if (scale == 1.0)
        return grey.clone();
    cv::Mat scaled;
    cv::resize(grey, scaled, cv::Size(), scale, scale, cv::INTER_AREA);
    return scaled;
}

void findTrainingFeatures(const cv::Mat& grey, std::vector<cv::KeyPoint>& keypoints, cv::Mat& descriptors)
{
    // A small edge threshold keeps the features near the print's border: the pyramid pads by
    // reflection, and the border of a poster carries much of its detail.
    cv::Ptr<cv::ORB> orb = cv::ORB::create(
        ImageTarget::kTrainingFeatures, float(ImageTarget::kTrainingScaleStep), ImageTarget::kTrainingLevels,
        8, 0, 2, cv::ORB::HARRIS_SCORE, 31, ImageTarget::kTrainingCornerThreshold);
    keypoints.clear();
    orb->detectAndCompute(grey, cv::noArray(), keypoints, descriptors);
}

// Features of the picture squeezed along one direction, in the picture's own pixels.
void addSlantedFeatures(const cv::Mat& grey, double directionDegrees, std::vector<cv::KeyPoint>& keypoints,
                        cv::Mat& descriptors)
{
    const cv::Point2f centre(0.5f * grey.cols, 0.5f * grey.rows);
    // Turn the direction onto x, squeeze x, and fit the result in its own canvas.
    cv::Mat turn = cv::getRotationMatrix2D(centre, directionDegrees, 1.0);
    cv::Matx33d affine(turn.at<double>(0, 0), turn.at<double>(0, 1), turn.at<double>(0, 2),
                       turn.at<double>(1, 0), turn.at<double>(1, 1), turn.at<double>(1, 2), 0.0, 0.0, 1.0);
    affine = cv::Matx33d(ImageTarget::kSlantSqueeze, 0, 0, 0, 1, 0, 0, 0, 1) * affine;
    std::vector<cv::Point2f> corners = {{0.0f, 0.0f},
                                        {float(grey.cols), 0.0f},
                                        {float(grey.cols), float(grey.rows)},
                                        {0.0f, float(grey.rows)}},
                             moved;
    cv::perspectiveTransform(corners, moved, affine);
    const cv::Rect box = cv::boundingRect(moved);
    affine = cv::Matx33d(1, 0, -box.x, 0, 1, -box.y, 0, 0, 1) * affine;
    cv::Mat slanted, mask, full(grey.size(), CV_8UC1, cv::Scalar(255));
    const cv::Mat rows = cv::Mat(affine).rowRange(0, 2);
    cv::warpAffine(grey, slanted, rows, box.size(), cv::INTER_AREA, cv::BORDER_REPLICATE);
    cv::warpAffine(full, mask, rows, box.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Ptr<cv::ORB> orb = cv::ORB::create(
        ImageTarget::kSlantFeatures, float(ImageTarget::kTrainingScaleStep), ImageTarget::kTrainingLevels, 8,
        0, 2, cv::ORB::HARRIS_SCORE, 31, ImageTarget::kTrainingCornerThreshold);
    std::vector<cv::KeyPoint> found;
    cv::Mat foundDescriptors;
    orb->detectAndCompute(slanted, mask, found, foundDescriptors);
    const cv::Matx33d back = affine.inv();
    for (size_t i = 0; i < found.size(); ++i)
    {
        std::vector<cv::Point2f> point = {found[i].pt}, original;
        cv::perspectiveTransform(point, original, back);
        if (original[0].x < 0 || original[0].y < 0 || original[0].x > grey.cols - 1 ||
            original[0].y > grey.rows - 1)
            continue;
        cv::KeyPoint keypoint = found[i];
        keypoint.pt = original[0];
        keypoints.push_back(keypoint);
        descriptors.push_back(foundDescriptors.row(int(i)));
    }
}

bool ImageTarget::load(const std::string& fileName, double width, std::string* error)
{
    if (!isReadableRegularFile(fileName))
    {
        setError(error, "cannot read image target " + fileName + ": not a readable file");
        return false;
    }
    // The header's size is trusted only within what the player can show, before decoding.
    std::string headerProblem;
    if (!checkImageHeader(fileName, headerProblem) || !checkPictureIsWhole(fileName, headerProblem))
    {
        setError(error, "cannot use image target " + fileName + ": " + headerProblem);
        return false;
    }
    osg::ref_ptr<osg::Image> image = osgDB::readImageFile(fileName);
    cv::Mat grey;
    if (!image.valid() || !isShowableImageSize(image->s(), image->t()) || !toGrey(*image, grey))
    {
        setError(error,
                 "cannot read image target " + fileName + ": not a JPEG or PNG picture of 8-bit pixels");
        return false;
    }
    std::string reason;
    if (!train(grey, width, &reason))
    {
        setError(error, "cannot use image target " + fileName + ": " + reason);
        return false;
    }
    return true;
}

bool ImageTarget::train(const cv::Mat& picture, double width, std::string* error)
{
    if (picture.empty() || !(width > 0.0 && width <= kMaximumWidth))
    {
        setError(error, "an empty picture, or a printed width that is not above 0 and at most " +
                            std::to_string(int(kMaximumWidth)) + " mm");
        return false;
    }
    const std::string sizeProblem = pictureSizeProblem(picture);
    if (!sizeProblem.empty())
    {
        setError(error, sizeProblem);
        return false;
    }
    const cv::Mat grey = trainingPicture(picture);
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    findTrainingFeatures(grey, keypoints, descriptors);
    if (int(keypoints.size()) < kMinimumFeatures)
    {
        setError(error, "the picture has " + std::to_string(keypoints.size()) + " features, at least " +
                            std::to_string(kMinimumFeatures) +
                            " are needed; a plain or blurred picture cannot be tracked, use one with more "
                            "detail (novaro-marker --rate shows where the features lie)");
        return false;
    }
    _picture = grey;
    _unitsPerPixel = width / grey.cols;
    _width = width;
    _height = _unitsPerPixel * grey.rows;
    for (int direction = 0; direction < kSlantDirections; ++direction)
        addSlantedFeatures(grey, 180.0 * direction / kSlantDirections, keypoints, descriptors);
    _descriptors = descriptors;
    _picturePoints.clear();
    _objectPoints.clear();
    for (const cv::KeyPoint& keypoint : keypoints)
    {
        _picturePoints.push_back(keypoint.pt);
        _objectPoints.push_back(toMarker(keypoint.pt));
    }
    makeLevels();
    return true;
}

void ImageTarget::makeLevels()
{
    _levels.clear();
    cv::Mat picture = _picture;
    double scale = 1.0;
    for (int level = 0;
         level < kAlignmentLevels && std::min(picture.cols, picture.rows) >= kSmallestAlignmentSide; ++level)
    {
        Level made;
        made.picture = picture;
        made.scale = scale;
        // Corners a flow window's half away from the border, so that their windows lie on the picture.
        cv::Mat mask(picture.size(), CV_8UC1, cv::Scalar(0));
        const int border = 6;
        if (picture.cols > 2 * border && picture.rows > 2 * border)
            mask(cv::Rect(border, border, picture.cols - 2 * border, picture.rows - 2 * border)).setTo(255);
        const double spacing = std::max(2.0, std::min(picture.cols, picture.rows) / 24.0);
        cv::goodFeaturesToTrack(picture, made.corners, kAlignmentCorners, 0.01, spacing, mask);
        for (const cv::Point2f& corner : made.corners)
            made.objectPoints.push_back(toMarker(
                cv::Point2f(float((corner.x + 0.5) / scale - 0.5), float((corner.y + 0.5) / scale - 0.5))));
        _levels.push_back(made);
        cv::Mat halved;
        cv::resize(picture, halved, cv::Size(picture.cols / 2, picture.rows / 2), 0, 0, cv::INTER_AREA);
        scale *= double(halved.cols) / picture.cols;
        picture = halved;
    }
}

cv::Point3f ImageTarget::toMarker(const cv::Point2f& picturePoint) const
{
    // Pixel centres: the picture spans -0.5 .. cols - 0.5.
    const double x = (picturePoint.x + 0.5) * _unitsPerPixel - 0.5 * _width;
    const double y = 0.5 * _height - (picturePoint.y + 0.5) * _unitsPerPixel;
    return cv::Point3f(float(x), float(y), 0.0f);
}

std::array<osg::Vec3d, 4> ImageTarget::corners() const
{
    const double w = 0.5 * _width, h = 0.5 * _height;
    return {osg::Vec3d(-w, h, 0.0), osg::Vec3d(w, h, 0.0), osg::Vec3d(w, -h, 0.0), osg::Vec3d(-w, -h, 0.0)};
}

std::array<cv::Point2f, 4> ImageTarget::pictureCorners() const
{
    const float right = float(_picture.cols) - 0.5f, bottom = float(_picture.rows) - 0.5f;
    return {cv::Point2f(-0.5f, -0.5f), cv::Point2f(right, -0.5f), cv::Point2f(right, bottom),
            cv::Point2f(-0.5f, bottom)};
}

namespace
{

// The picture's features (in its own pixels), their coverage and repetition, and its contrast.
void measureImageTarget(const cv::Mat& picture, ImageTargetRating& rating)
{
    const cv::Mat grey = trainingPicture(picture);
    cv::Mat descriptors;
    findTrainingFeatures(grey, rating.keypoints, descriptors);
    rating.featureCount = rating.keypoints.size();
    rating.coverage = coverageOf(rating.keypoints, grey.size());
    rating.repetition = repetitionOf(rating.keypoints, descriptors);
    cv::Scalar mean, deviation;
    cv::meanStdDev(grey, mean, deviation);
    rating.contrast = deviation[0];
    // Back to the picture's own pixels, for the caller's drawing.
    const double back = double(std::max(picture.cols, picture.rows)) / std::max(grey.cols, grey.rows);
    for (cv::KeyPoint& keypoint : rating.keypoints)
    {
        keypoint.pt *= float(back);
        keypoint.size *= float(back);
    }
}

// The score out of 5 a trackable picture's measures earn, each shortfall with its reason.
void scoreImageTarget(ImageTargetRating& rating)
{
    int score = 5;
    if (rating.featureCount < 300)
    {
        score -= rating.featureCount < 150 ? 2 : 1;
        rating.reasons.push_back("few features (" + std::to_string(rating.featureCount) +
                                 "): small or occluded views will be lost");
    }
    if (rating.coverage < 0.6)
    {
        score -= rating.coverage < 0.3 ? 2 : 1;
        rating.reasons.push_back("features bunched in " +
                                 std::to_string(int(std::lround(rating.coverage * 100))) +
                                 "% of the picture: the pose tips when that part is covered or out of view");
    }
    if (rating.repetition > 0.25)
    {
        score -= rating.repetition > 0.5 ? 3 : 1;
        rating.reasons.push_back(
            "repetitive texture: " + std::to_string(int(std::lround(rating.repetition * 100))) +
            "% of the features look like another one elsewhere");
    }
    if (rating.contrast < kDullContrast)
    {
        score -= 1;
        rating.reasons.push_back("low contrast (grey-level deviation " +
                                 std::to_string(int(std::lround(rating.contrast))) +
                                 "): features vanish in dim light");
    }
    rating.score = std::max(0, score);
}

} // namespace

ImageTargetRating rateImageTarget(const cv::Mat& picture)
{
    ImageTargetRating rating;
    if (picture.empty())
    {
        rating.reasons.push_back("the picture is empty");
        return rating;
    }
    const std::string sizeProblem = pictureSizeProblem(picture);
    if (!sizeProblem.empty())
    {
        rating.reasons.push_back(sizeProblem + ": the picture cannot be tracked");
        return rating;
    }
    measureImageTarget(picture, rating);
    if (int(rating.featureCount) < ImageTarget::kMinimumFeatures)
    {
        rating.reasons.push_back("few features (" + std::to_string(rating.featureCount) + ", at least " +
                                 std::to_string(ImageTarget::kMinimumFeatures) +
                                 " needed): the picture cannot be tracked");
        return rating;
    }
    scoreImageTarget(rating);
    return rating;
}

} // namespace osgART
