#include "SquareMarkerTracker.h"

#include <osgART/GenericVideo.h>
#include <osgART/GreyFrame.h>
#include <osgART/InputFiles.h>
#include <osgART/MarkerDescription.h>

#include <opencv2/imgproc.hpp>

#include <osg/Notify>
#include <osg/Timer>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace osgART
{

namespace
{

// The debug view's colours (RGB): identified markers, and candidates no pattern took.
const cv::Scalar kDebugIdentifiedColour(0, 220, 0);
const cv::Scalar kDebugRejectedColour(255, 40, 40);
// Outlines are drawn two pixels wide, their corners placed to a sixteenth of a pixel.
const int kDebugLineWidth = 2;
const int kDebugShift = 4;
const double kDebugSubpixels = 16.0;

// Row-vector matrix of a 3x4 pose written row by row for column vectors.
osg::Matrixd fromRows(const double (&pose)[3][4])
{
    osg::Matrixd matrix;
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            matrix(column, row) = pose[row][column];
        matrix(3, row) = pose[row][3];
        matrix(row, 3) = 0.0;
    }
    matrix(3, 3) = 1.0;
    return matrix;
}

} // namespace

SquareMarkerTracker::SquareMarkerTracker()
    : _pose(CameraParameters()), _width(0), _height(0), _imageProcMode(0), _reportedFormat(false)
{
    addField("threshold",
             new CallbackField<int>([this]() { return _detector.threshold(); }, [this](const int& value)
                                    { _detector.setThreshold(std::min(255, std::max(0, value))); }));
    addField("adaptive_threshold",
             new CallbackField<bool>([this]()
                                     { return _detector.thresholdMode() == SquareMarkerDetector::ADAPTIVE; },
                                     [this](const bool& value) {
                                         _detector.setThresholdMode(value ? SquareMarkerDetector::ADAPTIVE
                                                                          : SquareMarkerDetector::FIXED);
                                     }));
    addField("imageProcMode",
             new CallbackField<int>([this]() { return _imageProcMode; },
                                    [this](const int& value) { _imageProcMode = value == 1 ? 1 : 0; }));
    _debug = new TypedField<bool>(false);
    addField("debug", _debug.get());
    addField("debug_image",
             new CallbackField<osg::ref_ptr<osg::Image>>([this]() { return _debugImage; },
                                                         [this](const osg::ref_ptr<osg::Image>& image)
                                                         {
                                                             if (image.valid())
                                                                 _debugImage = image;
                                                         }));
    addField("confidence_threshold",
             new CallbackField<double>(
                 [this]() { return _detector.minimumConfidence(); }, [this](const double& value)
                 { _detector.setMinimumConfidence(std::min(1.0, std::max(0.0, value))); }));
}

bool SquareMarkerTracker::init(int width, int height, const std::string& cameraFile,
                               const std::string& patternFile)
{
    CameraParameters camera;
    if (!loadCamera(cameraFile, width, height, camera))
        return false;
    startAfresh(camera, width, height);
    return patternFile.empty() || addPatternFileMarkers(patternFile);
}

bool SquareMarkerTracker::loadCamera(const std::string& cameraFile, int& width, int& height,
                                     CameraParameters& camera) const
{
    std::string error;
    if (cameraFile.empty() || !camera.load(cameraFile, &error))
    {
        osg::notify(osg::FATAL) << "osgART: cannot use camera file \"" << cameraFile
                                << "\": " << (error.empty() ? "no file name" : error) << std::endl;
        return false;
    }
    if (width <= 0 || height <= 0)
    {
        width = camera.width();
        height = camera.height();
    }
    // The debug image and the detector's buffers take a few bytes per pixel of this size.
    if (!isShowableImageSize(width, height))
    {
        osg::notify(osg::FATAL) << "osgART: cannot track a " << width << "x" << height
                                << " video: sides must lie within 1.." << kMaximumImageSide << " pixels"
                                << std::endl;
        return false;
    }
    return true;
}

void SquareMarkerTracker::startAfresh(const CameraParameters& camera, int width, int height)
{
    _camera = camera.scaled(width, height);
    _width = width;
    _height = height;
    // A fresh detector without patterns, keeping the settings made through the fields.
    const int threshold = _detector.threshold();
    const SquareMarkerDetector::ThresholdMode mode = _detector.thresholdMode();
    const double confidence = _detector.minimumConfidence();
    _detector = SquareMarkerDetector();
    _detector.setThreshold(threshold);
    _detector.setThresholdMode(mode);
    _detector.setMinimumConfidence(confidence);
    _detector.setCamera(_camera);
    _pose = PoseEstimator(_camera);
    _projectionMatrix = _camera.openGLProjection(10.0, 10000.0);
    _patternIndices.clear();
    _tracked.clear();
    _imageTargets.clear();
    _imageTargets.setCamera(_camera);
    _imageMarkers.clear();
    _markers.clear();

    _debugImage = new osg::Image;
    _debugImage->allocateImage(width, height, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::fill(_debugImage->data(), _debugImage->data() + _debugImage->getTotalSizeInBytes(), 255);
}

bool SquareMarkerTracker::addPatternFileMarkers(const std::string& patternFile)
{
    if (!osgDB::fileExists(patternFile))
    {
        osg::notify(osg::NOTICE) << "osgART: no pattern file \"" << patternFile << "\", no markers predefined"
                                 << std::endl;
        return true;
    }
    TrackerPatternFile file;
    std::string error;
    if (!file.load(patternFile, &error))
    {
        osg::notify(osg::FATAL) << "osgART: " << error << std::endl;
        return false;
    }
    for (const PatternFileEntry& entry : file.entries)
    {
        // An entry names a pattern file or, failing that, a multi-marker file.
        Marker* marker = addSingle(entry.name, entry.patternPath, entry.size, entry.centre);
        if (!marker)
            marker = addMulti(entry.name, entry.patternPath);
        if (!marker)
        {
            osg::notify(osg::FATAL) << "osgART: marker \"" << entry.name << "\" of " << patternFile
                                    << " has no usable pattern " << entry.patternPath << " (" << _patternError
                                    << ")" << std::endl;
            return false;
        }
    }
    return true;
}

int SquareMarkerTracker::patternIndex(const std::string& path)
{
    auto found = _patternIndices.find(path);
    if (found != _patternIndices.end())
        return found->second;
    Pattern pattern;
    if (!pattern.load(path, &_patternError))
        return -1;
    const int index = _detector.addPattern(pattern);
    _patternIndices[path] = index;
    return index;
}

Marker* SquareMarkerTracker::addSingle(const std::string& name, const std::string& path, double size,
                                       const osg::Vec2d& centre)
{
    const int pattern = patternIndex(path);
    if (pattern < 0)
        return nullptr;
    TrackedMarker tracked;
    tracked.marker = new Marker(name);
    tracked.size = size;
    tracked.centre = centre;
    tracked.pattern = pattern;
    _tracked.push_back(tracked);
    _markers.push_back(tracked.marker);
    return tracked.marker.get();
}

Marker* SquareMarkerTracker::addMulti(const std::string& name, const std::string& path)
{
    MultiMarkerSetup setup;
    std::string error;
    if (!setup.load(path, &error))
    {
        osg::notify(osg::FATAL) << "osgART: " << error << std::endl;
        return nullptr;
    }
    TrackedMarker tracked;
    tracked.multi = true;
    for (const Submarker& submarker : setup.submarkers)
    {
        TrackedSubmarker entry;
        entry.pattern = patternIndex(submarker.patternPath);
        if (entry.pattern < 0)
        {
            osg::notify(osg::FATAL) << "osgART: cannot read submarker pattern " << submarker.patternPath
                                    << " (" << _patternError << ")" << std::endl;
            return nullptr;
        }
        entry.size = submarker.size;
        entry.toMarker = fromRows(submarker.pose);
        tracked.submarkers.push_back(entry);
    }
    tracked.marker = new Marker(name);
    _tracked.push_back(tracked);
    _markers.push_back(tracked.marker);
    return tracked.marker.get();
}

Marker* SquareMarkerTracker::addMarker(const std::string& description)
{
    MarkerDescription parsed;
    std::string error;
    if (!parsed.parse(description, &error))
    {
        osg::notify(osg::FATAL) << "osgART: " << error << std::endl;
        return nullptr;
    }
    // The whole file name: "patt.hiro" and "patt.kanji" are two markers, not two called "patt".
    const std::string name = osgDB::getSimpleFileName(parsed.path);
    if (parsed.type == MarkerDescription::MULTI)
        return addMulti(name, parsed.path);
    if (parsed.type == MarkerDescription::IMAGE)
        return addImageTarget(name, parsed.path, parsed.size);
    Marker* marker = addSingle(name, parsed.path, parsed.size, parsed.centre);
    if (!marker)
        osg::notify(osg::FATAL) << "osgART: " << _patternError << std::endl;
    return marker;
}

bool SquareMarkerTracker::convertToGrey(const osg::Image& image, bool half, cv::Mat& grey, int& flipCode)
{
    if (image.getDataType() != GL_UNSIGNED_BYTE)
    {
        if (!_reportedFormat)
            osg::notify(osg::FATAL) << "osgART: tracker needs 8-bit images" << std::endl;
        _reportedFormat = true;
        return false;
    }
    PixelLayout layout;
    cv::Mat source;
    if (!pixelsOfImage(image, source, layout))
    {
        if (!_reportedFormat)
            osg::notify(osg::FATAL) << "osgART: unsupported pixel format for tracking" << std::endl;
        _reportedFormat = true;
        return false;
    }
    // The detector wants the top row first, unmirrored.
    const GenericVideo* video = dynamic_cast<const GenericVideo*>(&image);
    const bool mirrored = video && video->getFlipHorizontal();
    const bool bottomUp = image.getOrigin() == osg::Image::BOTTOM_LEFT;
    flipCode = bottomUp ? (mirrored ? -1 : 0) : (mirrored ? 1 : 2);
    // The halved frame is made on the same pass when it is wanted: for tracking at half resolution,
    // or for the detector's search in a wide frame.
    const bool halve = half || image.s() >= SquareMarkerDetector::kHalvedSearchFromWidth;
    makeGreyFrame(source, layout, bottomUp, mirrored, _converted, halve ? &_halved : nullptr);
    grey = half ? _halved : _converted;
    return true;
}

void SquareMarkerTracker::processImage(const osg::Image& image)
{
    const bool half = _imageProcMode == 1;
    cv::Mat grey;
    int flipCode = 2;
    const int scale = half ? 2 : 1;
    _detections.clear();
    _greyMilliseconds = 0.0;
    // Frames too small to hold a marker are not examined; OpenCV reports odd input by exceptions,
    // which end here as a frame without detections.
    if (image.s() >= 16 && image.t() >= 16)
    {
        try
        {
            const osg::Timer_t start = osg::Timer::instance()->tick();
            const bool converted = convertToGrey(image, half, grey, flipCode);
            _greyMilliseconds = osg::Timer::instance()->delta_m(start, osg::Timer::instance()->tick());
            if (converted)
                _detector.detect(grey, scale, _detections, half ? cv::Mat() : _halved);
        }
        catch (const cv::Exception& exception)
        {
            osg::notify(osg::WARN) << "osgART: frame not tracked: " << exception.what() << std::endl;
            _detections.clear();
        }
    }

    std::vector<const DetectedSquare*> byPattern(_detector.patternCount(), nullptr);
    for (const DetectedSquare& detection : _detections)
        byPattern[size_t(detection.pattern)] = &detection;
    for (TrackedMarker& tracked : _tracked)
    {
        if (!tracked.marker->active())
        {
            tracked.seenLastFrame = false;
            tracked.marker->setNotDetected();
            continue;
        }
        if (tracked.multi)
            updateMulti(tracked, byPattern);
        else
            updateSingle(tracked, byPattern);
    }
    _imageTargetMilliseconds = 0.0;
    if (!_imageMarkers.empty())
    {
        const osg::Timer_t start = osg::Timer::instance()->tick();
        updateImageTargets(grey, scale);
        _imageTargetMilliseconds = osg::Timer::instance()->delta_m(start, osg::Timer::instance()->tick());
    }
    if (_debug->get() && !grey.empty())
        updateDebugImage(image, scale, flipCode);
}

std::vector<GenericTracker::StageTime> SquareMarkerTracker::stageTimes() const
{
    const SquareMarkerDetector::StageTimes& steps = _detector.stageTimes();
    std::vector<StageTime> times = {{"grey", _greyMilliseconds},
                                    {"binarise", steps.binarise},
                                    {"regions", steps.regions},
                                    {"outlines", steps.outlines},
                                    {"identify", steps.identify}};
    if (!_imageMarkers.empty())
        times.push_back({"targets", _imageTargetMilliseconds});
    return times;
}

Marker* SquareMarkerTracker::addImageTarget(const std::string& name, const std::string& path, double width)
{
    ImageTarget target;
    std::string error;
    if (!target.load(path, width, &error) || _imageTargets.addTarget(target, &error) < 0)
    {
        osg::notify(osg::FATAL) << "osgART: " << error << std::endl;
        return nullptr;
    }
    osg::ref_ptr<Marker> marker = new Marker(name);
    _imageMarkers.push_back(marker);
    _markers.push_back(marker);
    return marker.get();
}

void SquareMarkerTracker::updateImageTargets(const cv::Mat& grey, int scale)
{
    std::vector<bool> wanted;
    for (const osg::ref_ptr<Marker>& marker : _imageMarkers)
        wanted.push_back(marker->active());
    if (!grey.empty())
    {
        try
        {
            _imageTargets.process(grey, scale, wanted);
        }
        catch (const cv::Exception& exception)
        {
            osg::notify(osg::WARN) << "osgART: image targets not tracked: " << exception.what() << std::endl;
            _imageTargets.forget();
        }
    }
    else
        _imageTargets.forget();
    for (size_t index = 0; index < _imageMarkers.size(); ++index)
    {
        const ImageTargetTracker::Result& result = _imageTargets.result(index);
        if (wanted[index] && result.found)
            _imageMarkers[index]->setDetected(result.confidence, PoseEstimator::toOpenGL(result.pose),
                                              result.corners);
        else
            _imageMarkers[index]->setNotDetected();
    }
}

void SquareMarkerTracker::updateSingle(TrackedMarker& tracked,
                                       const std::vector<const DetectedSquare*>& byPattern)
{
    const DetectedSquare* detection = byPattern[size_t(tracked.pattern)];
    osg::Matrixd pose;
    tracked.seenLastFrame = detection &&
                            _pose.estimateSquare(detection->ideal, tracked.size, tracked.centre, pose,
                                                 tracked.seenLastFrame ? &tracked.lastPose : nullptr) &&
                            pose.valid();
    if (!tracked.seenLastFrame)
    {
        tracked.marker->setNotDetected();
        return;
    }
    tracked.lastPose = pose;
    tracked.marker->setDetected(detection->confidence, PoseEstimator::toOpenGL(pose), detection->observed);
}

void SquareMarkerTracker::updateMulti(TrackedMarker& tracked,
                                      const std::vector<const DetectedSquare*>& byPattern)
{
    const TrackedSubmarker* best = nullptr;
    const DetectedSquare* bestDetection = nullptr;
    std::vector<osg::Vec3d> object;
    std::vector<osg::Vec2d> ideal;
    for (const TrackedSubmarker& submarker : tracked.submarkers)
    {
        const DetectedSquare* detection = byPattern[size_t(submarker.pattern)];
        if (!detection)
            continue;
        const std::array<osg::Vec3d, 4> corners = PoseEstimator::squareCorners(submarker.size, osg::Vec2d());
        for (int k = 0; k < 4; ++k)
        {
            object.push_back(corners[size_t(k)] * submarker.toMarker);
            ideal.push_back(detection->ideal[size_t(k)]);
        }
        if (!bestDetection || detection->confidence > bestDetection->confidence)
        {
            best = &submarker;
            bestDetection = detection;
        }
    }
    osg::Matrixd submarkerPose;
    // The last pose of the whole marker, seen through the chosen submarker.
    const osg::Matrixd previous = best ? best->toMarker * tracked.lastPose : osg::Matrixd();
    if (!bestDetection || !_pose.estimateSquare(bestDetection->ideal, best->size, osg::Vec2d(), submarkerPose,
                                                tracked.seenLastFrame ? &previous : nullptr))
    {
        tracked.seenLastFrame = false;
        tracked.marker->setNotDetected();
        return;
    }
    // Start from the best submarker's pose and fit all visible corners together.
    osg::Matrixd pose = osg::Matrixd::inverse(best->toMarker) * submarkerPose;
    if (object.size() > 4 && !_pose.refine(object, ideal, pose))
    {
        pose = osg::Matrixd::inverse(best->toMarker) * submarkerPose;
    }
    // A pose with NaN would move the marker's content, and the whole scene's bound, to nowhere.
    tracked.seenLastFrame = pose.valid();
    if (!tracked.seenLastFrame)
    {
        tracked.marker->setNotDetected();
        return;
    }
    tracked.lastPose = pose;
    tracked.marker->setDetected(bestDetection->confidence, PoseEstimator::toOpenGL(pose),
                                bestDetection->observed);
}

// Which tracked marker a pattern belongs to, for the debug view's labels: the first single marker
// with it, else the first multi-marker holding it; -1 when none does.
int SquareMarkerTracker::markerIndexOfPattern(int pattern) const
{
    for (size_t k = 0; k < _tracked.size(); ++k)
        if (!_tracked[k].multi && _tracked[k].pattern == pattern)
            return int(k);
    for (size_t k = 0; k < _tracked.size(); ++k)
        for (const TrackedSubmarker& submarker : _tracked[k].submarkers)
            if (submarker.pattern == pattern)
                return int(k);
    return -1;
}

// The binarised frame (border candidates black) with the candidates drawn over it: every
// quadrilateral examined in a colour of its own when no pattern took it, the identified markers'
// outlines with their marker index and confidence.
void SquareMarkerTracker::drawCandidates(cv::Mat& view) const
{
    auto polyline = [&view](const std::array<osg::Vec2d, 4>& corners, const cv::Scalar& colour)
    {
        std::vector<cv::Point> points;
        for (const osg::Vec2d& corner : corners)
            points.emplace_back(int(std::lround(corner.x() * kDebugSubpixels)),
                                int(std::lround(corner.y() * kDebugSubpixels)));
        cv::polylines(view, points, true, colour, kDebugLineWidth, cv::LINE_8, kDebugShift);
    };
    for (const SquareMarkerDetector::Candidate& candidate : _detector.candidates())
        if (candidate.pattern < 0)
            polyline(candidate.outline, kDebugRejectedColour);
    for (const DetectedSquare& detection : _detections)
    {
        polyline(detection.observed, kDebugIdentifiedColour);
        osg::Vec2d centre;
        for (const osg::Vec2d& corner : detection.observed)
            centre += corner * 0.25;
        char label[32];
        std::snprintf(label, sizeof(label), "#%d %.2f", markerIndexOfPattern(detection.pattern),
                      detection.confidence);
        int baseline = 0;
        const cv::Size size = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, 0.45, 1, &baseline);
        cv::putText(view, label,
                    cv::Point(int(centre.x()) - size.width / 2, int(centre.y()) + size.height / 2),
                    cv::FONT_HERSHEY_SIMPLEX, 0.45, kDebugIdentifiedColour, 1, cv::LINE_8);
    }
}

void SquareMarkerTracker::updateDebugImage(const osg::Image& image, int scale, int flipCode)
{
    const cv::Mat& binary = _detector.binaryImage();
    if (binary.empty())
        return;
    if (!_debugImage.valid())
        _debugImage = new osg::Image;
    if (_debugImage->s() != image.s() || _debugImage->t() != image.t() ||
        _debugImage->getPixelFormat() != GL_RGB)
        _debugImage->allocateImage(image.s(), image.t(), 1, GL_RGB, GL_UNSIGNED_BYTE);
    _debugImage->setOrigin(image.getOrigin());
    cv::Mat target(_debugImage->t(), _debugImage->s(), CV_8UC3, _debugImage->data(),
                   _debugImage->getRowStepInBytes());
    cv::bitwise_not(binary, _debugBuffer); // border candidates black, as they look on paper
    if (scale != 1 || _debugBuffer.cols != target.cols || _debugBuffer.rows != target.rows)
        cv::resize(_debugBuffer, _debugBuffer, target.size(), 0, 0, cv::INTER_NEAREST);
    cv::cvtColor(_debugBuffer, _debugColour, cv::COLOR_GRAY2RGB);
    drawCandidates(_debugColour);
    // Back into the row order and mirroring of the video image.
    if (flipCode != 2)
        cv::flip(_debugColour, target, flipCode);
    else
        _debugColour.copyTo(target);
    _debugImage->dirty();
}

} // namespace osgART
