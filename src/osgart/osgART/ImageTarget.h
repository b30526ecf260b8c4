#pragma once

#include <opencv2/core.hpp>

#include <osg/Vec3d>

#include <array>
#include <string>
#include <vector>

namespace osgART
{

/// A printed picture trained for natural-feature tracking: ORB features of the picture at several
/// scales, each with its place on the print, for finding it; and the picture halved a few times
/// with the corners that align well on each, for measuring where it lies precisely.
///
/// Training scales the picture so that its longer side is at most kTrainingSide pixels, then
/// takes ORB features over a pyramid of kTrainingLevels levels, each kTrainingScaleStep times
/// smaller than the one before, so that the target is recognised from filling the frame down to a
/// tenth of that size. Marker coordinates follow the square markers: origin at the picture's centre,
/// x right and y up along the upright picture, z out of the paper, in the units of the printed width
/// (millimetres).
class ImageTarget
{
public:
    /// Longer side of the picture as trained, pixels (default 640). Larger pictures are scaled
    /// down: detail finer than this is lost at every distance the camera sees the whole print from.
    /// Cost: training time and features grow with the square of it.
    static const int kTrainingSide = 640;
    /// Pyramid levels of the training picture (default 8) and the scale between levels (default
    /// 1.3): together they cover targets down to 1/6 of the trained size (1.3^7). Cost: a few more
    /// features to match per level.
    static const int kTrainingLevels = 8;
    static constexpr double kTrainingScaleStep = 1.3;
    /// Features kept over all levels of the picture as printed (default 1600). More features find
    /// the target under heavier occlusion, at the price of matching time, which grows linearly with
    /// them.
    static const int kTrainingFeatures = 1600;
    /// Slanted views: ORB copes with turns but not with the squeeze of a steep view, so the picture
    /// is also trained squeezed to kSlantSqueeze of its size (default 0.5: seen at 60 degrees) along
    /// kSlantDirections directions (default 4, 45 degrees apart), kSlantFeatures features each
    /// (default 250). Cost: matching time for the 1000 more features, and training time.
    static const int kSlantDirections = 4;
    static constexpr double kSlantSqueeze = 0.5;
    static const int kSlantFeatures = 250;
    /// Shortest side of the picture as trained, pixels (default 32), after scaling to
    /// kTrainingSide: ORB's smallest pyramid level of a thinner picture rounds to nothing (OpenCV
    /// then throws), and no camera finds a print from so few pixels. Thinner pictures are refused.
    static const int kMinimumPictureSide = 32;
    /// Fewest features a picture needs to be tracked at all (default 40): a pose needs at least
    /// ImageTargetTracker::kMinimumInliers of them seen in one frame.
    static const int kMinimumFeatures = 40;
    /// Widest printed picture, millimetres (100000: a 100 m wall); a wider one (a typo, "1e30")
    /// would put every pose beyond what the renderer's depth range holds.
    static constexpr double kMaximumWidth = 100000.0;
    /// FAST corner threshold of the training picture, grey levels (default 12): low, so that the
    /// print's faint details count; the frame side sets its own.
    static const int kTrainingCornerThreshold = 12;
    /// Alignment levels: the picture, then halved kAlignmentLevels - 1 times (default 4, down to
    /// an eighth), so that the level nearest the size the picture is seen at is compared with the
    /// frame. Levels whose shorter side falls under kSmallestAlignmentSide (default 24 pixels) are
    /// left out.
    static const int kAlignmentLevels = 4;
    static const int kSmallestAlignmentSide = 24;
    /// Corners per alignment level (default 160), strongest first and spread over the picture.
    /// More make the pose steadier and cost alignment time linearly.
    static const int kAlignmentCorners = 160;

    /// The picture at one alignment level, with the corners sought on it.
    struct Level
    {
        cv::Mat picture;
        double scale = 1.0; ///< level pixels per trained-picture pixel
        std::vector<cv::Point2f> corners;
        std::vector<cv::Point3f> objectPoints; ///< the corners in marker coordinates
    };

    /// Trains from a JPEG or PNG file. False, with the reason in error, when the file cannot be
    /// read or the picture has too few features to be tracked.
    bool load(const std::string& fileName, double width, std::string* error = nullptr);
    /// Trains from a picture (grey or BGR, top row first) printed width units wide.
    bool train(const cv::Mat& picture, double width, std::string* error = nullptr);

    /// The grey picture as trained (longer side at most kTrainingSide).
    const cv::Mat& picture() const { return _picture; }
    /// Printed width and height, in the caller's units.
    double width() const { return _width; }
    double height() const { return _height; }

    /// Per feature: its position in the trained picture (pixels) and on the print (marker
    /// coordinates), and its descriptor (one row of 32 bytes).
    const std::vector<cv::Point2f>& picturePoints() const { return _picturePoints; }
    const std::vector<cv::Point3f>& objectPoints() const { return _objectPoints; }
    const cv::Mat& descriptors() const { return _descriptors; }
    size_t featureCount() const { return _picturePoints.size(); }
    const std::vector<Level>& levels() const { return _levels; }

    /// Marker coordinates of a picture pixel.
    cv::Point3f toMarker(const cv::Point2f& picturePoint) const;
    /// The print's corners (top-left, top-right, bottom-right, bottom-left), marker coordinates.
    std::array<osg::Vec3d, 4> corners() const;
    /// The same in picture pixels.
    std::array<cv::Point2f, 4> pictureCorners() const;

private:
    void makeLevels();

    cv::Mat _picture;
    std::vector<Level> _levels;
    double _width = 0.0;
    double _height = 0.0;
    double _unitsPerPixel = 0.0;
    std::vector<cv::Point2f> _picturePoints;
    std::vector<cv::Point3f> _objectPoints;
    cv::Mat _descriptors;
};

/// The grey picture scaled as training scales it (longer side at most ImageTarget::kTrainingSide).
cv::Mat trainingPicture(const cv::Mat& picture);

/// ORB features of a training picture, as training finds them.
void findTrainingFeatures(const cv::Mat& grey, std::vector<cv::KeyPoint>& keypoints, cv::Mat& descriptors);

/// How well a picture will track, 0 (not at all) to 5 (well), with the reasons for every point
/// taken off.
struct ImageTargetRating
{
    int score = 0;
    std::vector<std::string> reasons;
    /// The features as training finds them, in the picture's own pixels.
    std::vector<cv::KeyPoint> keypoints;
    /// The measures behind the score.
    size_t featureCount = 0;
    double coverage = 0.0;   ///< share of the cells of an 8 x 8 grid that hold a feature
    double repetition = 0.0; ///< share of features that look like another one elsewhere
    double contrast = 0.0;   ///< standard deviation of the grey levels
};

/// Rates a picture (grey or BGR): few features, features bunched in one part (the pose then tips
/// when that part is covered or blurred), repetitive texture (features that match each other
/// confuse matching) and low contrast (features vanish in dim light) each take points off.
ImageTargetRating rateImageTarget(const cv::Mat& picture);

} // namespace osgART
