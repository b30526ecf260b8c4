#pragma once

#include <osgART/GenericTracker.h>
#include <osgART/ImageTargetTracker.h>
#include <osgART/PoseEstimator.h>
#include <osgART/SquareMarkerDetector.h>

#include <map>
#include <string>
#include <vector>

namespace osgART
{

/// The square-marker tracker of the "tracker_artoolkit4" plugin.
///
/// Fields: "threshold" (int, kept within 0..255, default 100; its meaning in either binarisation
/// mode is described with SquareMarkerDetector), "adaptive_threshold" (bool, default true: the
/// threshold applies to the locally stretched frame; false: it is one grey level for the whole
/// frame), "imageProcMode" (int, 1 = half resolution, anything else = full), "debug" (bool),
/// "debug_image" (RGB at video size, updated while debug is on: the binarised frame, border
/// candidates black, with every examined quadrilateral that no pattern took outlined in red and
/// every identified marker outlined in green with its marker index and confidence) and "confidence_threshold"
/// (double, the correlation a pattern needs to count as found, default 0.8).
///
/// Markers of type "image" (pictures tracked by their natural features) are found in the same
/// frames by an ImageTargetTracker.
class SquareMarkerTracker : public GenericTracker
{
public:
    SquareMarkerTracker();

    Marker* addMarker(const std::string& description) override;
    /// grey (the frame made grey, halved where needed), the square detector's steps (binarise,
    /// regions, outlines, identify) and, when image targets are tracked, targets.
    std::vector<StageTime> stageTimes() const override;
    bool init(int width, int height, const std::string& cameraFile, const std::string& patternFile) override;

    const CameraParameters& getCamera() const { return _camera; }

protected:
    ~SquareMarkerTracker() override = default;
    void processImage(const osg::Image& image) override;

private:
    /// The camera file read, and the video size (the camera's own when not given) checked.
    bool loadCamera(const std::string& cameraFile, int& width, int& height, CameraParameters& camera) const;
    /// Detector, pose estimator, image targets and markers made anew for this camera and size.
    void startAfresh(const CameraParameters& camera, int width, int height);
    /// The markers a tracker pattern file lists; a missing file lists none.
    bool addPatternFileMarkers(const std::string& patternFile);
    struct TrackedSubmarker
    {
        int pattern = -1;
        double size = 0.0;
        osg::Matrixd toMarker; ///< submarker frame to multi-marker frame (row vectors)
    };
    struct TrackedMarker
    {
        osg::ref_ptr<Marker> marker;
        bool multi = false;
        double size = 0.0;
        osg::Vec2d centre;
        int pattern = -1;
        std::vector<TrackedSubmarker> submarkers;
        /// The last frame's pose (camera-vision frame) while the marker was seen in it.
        bool seenLastFrame = false;
        osg::Matrixd lastPose;
    };

    /// Index of the pattern in the detector, loading it on first use; -1 when unreadable.
    int patternIndex(const std::string& path);
    Marker* addSingle(const std::string& name, const std::string& path, double size,
                      const osg::Vec2d& centre);
    Marker* addMulti(const std::string& name, const std::string& path);
    bool convertToGrey(const osg::Image& image, bool half, cv::Mat& grey, int& flipCode);
    void updateDebugImage(const osg::Image& image, int scale, int flipCode);
    Marker* addImageTarget(const std::string& name, const std::string& path, double width);
    void updateImageTargets(const cv::Mat& grey, int scale);
    void drawCandidates(cv::Mat& view) const;
    int markerIndexOfPattern(int pattern) const;
    void updateSingle(TrackedMarker& tracked, const std::vector<const DetectedSquare*>& byPattern);
    void updateMulti(TrackedMarker& tracked, const std::vector<const DetectedSquare*>& byPattern);

    CameraParameters _camera;
    SquareMarkerDetector _detector;
    PoseEstimator _pose;
    std::map<std::string, int> _patternIndices;
    // Why the last pattern that could not be read was refused, for the messages.
    std::string _patternError;
    std::vector<TrackedMarker> _tracked;
    int _width;
    int _height;
    int _imageProcMode;
    osg::ref_ptr<TypedField<bool>> _debug;
    osg::ref_ptr<osg::Image> _debugImage;
    std::vector<DetectedSquare> _detections;
    cv::Mat _converted;
    cv::Mat _halved;
    /// Milliseconds of the last processing spent making the grey frame and following image targets.
    double _greyMilliseconds = 0.0;
    double _imageTargetMilliseconds = 0.0;
    cv::Mat _debugBuffer;
    cv::Mat _debugColour;
    bool _reportedFormat;
    ImageTargetTracker _imageTargets;
    std::vector<osg::ref_ptr<Marker>> _imageMarkers; ///< one per image target, in target order
};

} // namespace osgART
