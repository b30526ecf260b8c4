#pragma once

#include <osgART/CameraParameters.h>
#include <osgART/Pattern.h>

#include <opencv2/core.hpp>

#include <osg/Matrixd>
#include <osg/Vec2d>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace Novaro
{

/// A printed sheet: the marker (black square of width size) with white paper around it. The texture
/// covers the whole sheet, top row first, with the marker upright.
struct PrintedMarker
{
    cv::Mat texture;      ///< BGR
    double size = 80.0;   ///< width of the marker's black square, in scene units
    double margin = 0.25; ///< paper around the marker, as a fraction of size
};

/// A marker placed in one frame: the pose maps marker coordinates (centre of the black square, x
/// right and y up along the upright marker, z out of the paper) into OpenGL camera coordinates.
struct PlacedMarker
{
    int marker = 0;
    osg::Matrixd pose;
    std::array<osg::Vec2d, 4> corners; ///< observed corners: top-left, top-right, bottom-right, bottom-left
    double tiltDegrees = 0.0;
    double shortestSide = 0.0; ///< pixels, shortest side of the observed square
};

struct ImagingSettings
{
    double noiseSigma = 2.0;      ///< grey levels
    double blurSigma = 0.6;       ///< pixels
    double lightVariation = 0.35; ///< brightness falls by up to this share across the frame
    bool clutter = true;
    int supersampling = 3;
};

/// The square marker image of a pattern: black border a quarter of the width on each side, the
/// pattern in the inner half, each pattern cell cellPixels wide; margin adds white paper around.
cv::Mat makeMarkerImage(const osgART::Pattern& pattern, int cellPixels, double margin);

/// Patterns of blocks x blocks random squares (default 8, the detail of printed markers; 16 at
/// most), distinct from each other in every orientation, reproducible from seed.
std::vector<osgART::Pattern> makeDistinctPatterns(size_t count, unsigned seed, int blocks = 8);

/// Renders printed markers at known poses through a camera model (with its lens distortion).
class SyntheticCamera
{
public:
    SyntheticCamera(const osgART::CameraParameters& camera, const ImagingSettings& settings);

    const osgART::CameraParameters& camera() const { return _camera; }
    const ImagingSettings& settings() const { return _settings; }

    /// Random poses for count markers of the given size, fully in view, not overlapping: shortest
    /// observed side between minWidth and maxWidth pixels, tilt up to maxTiltDegrees. Fewer are
    /// returned when no free place is found.
    std::vector<PlacedMarker> placeMarkers(const std::vector<PrintedMarker>& markers, size_t count,
                                           double minWidth, double maxWidth, double maxTiltDegrees,
                                           std::mt19937& random) const;

    /// One frame (BGR, camera size) with the markers drawn over a background.
    void render(const std::vector<PrintedMarker>& markers, const std::vector<PlacedMarker>& placed,
                std::mt19937& random, cv::Mat& frame);

    /// Observed image position of a point of a marker.
    osg::Vec2d projectObserved(const osg::Matrixd& pose, const osg::Vec3d& point) const;
    /// Fills corners, tilt and shortest side of a placed marker from its pose.
    void describe(PlacedMarker& placed, double size) const;

private:
    void drawBackground(cv::Mat& canvas, std::mt19937& random) const;
    void drawSheet(cv::Mat& canvas, const PrintedMarker& marker, const osg::Matrixd& pose) const;
    void ensureIdealMap();

    osgART::CameraParameters _camera;
    osgART::CameraParameters _supersampled;
    ImagingSettings _settings;
    cv::Mat _idealMap; ///< supersampled pixel -> ideal position (CV_32FC2), empty without distortion
};

/// Text of a pose for JSON output: the 16 numbers of the OSG matrix, row by row.
std::string matrixToJson(const osg::Matrixd& matrix);

} // namespace Novaro
