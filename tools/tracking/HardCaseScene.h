#pragma once

#include <opencv2/core.hpp>

#include <osg/Matrixd>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace Novaro
{

/// What a hard case does to the frame, on top of a little blur and camera noise.
struct Degradation
{
    std::string name;
    double minWidth = 40.0, maxWidth = 150.0;      ///< marker side on screen, pixels
    double minTilt = 0.0, maxTilt = 45.0;          ///< degrees from facing the camera
    double contrast = 1.0, contrastCentre = 128.0; ///< grey' = centre + contrast * (grey - centre)
    double shadowDarkening = 0.0; ///< one side of a straight edge across a marker is this much darker
    double lightFallOff = 0.0;    ///< brightness falls by this share across the frame
    double motionBlur = 0.0;      ///< pixels, along a random direction
    double occluderRadius = 0.0;  ///< disc on each marker's outer edge, share of the side
    bool markerFree = false;
};

/// The hard cases of the tracker benchmark.
std::vector<Degradation> hardCases();

/// A marker in a hard-case frame: pose in the computer-vision camera frame (x right, y down, z
/// forward; marker x right, y up, z out of the paper) and its outer corners (top-left, top-right,
/// bottom-right, bottom-left of the upright marker) in pixels.
struct HardCaseMarker
{
    int id = 0;
    cv::Vec3d rotation, translation; ///< Rodrigues vector and translation
    std::array<cv::Point2d, 4> corners;
    double side = 0.0; ///< shortest side on screen, pixels
};

/// Renders printed sheets (marker texture with white paper around) through a distortion-free pinhole
/// camera by perspective warps of the textures, then degrades the frame. Projection is OpenCV's
/// projectPoints, so the ground truth shares nothing with the tracker under test.
class HardCaseRenderer
{
public:
    HardCaseRenderer(int width, int height, double focal);

    const cv::Matx33d& cameraMatrix() const { return _camera; }

    /// Up to count markers with ids drawn from 0..ids-1, fully in view, not overlapping.
    std::vector<HardCaseMarker> place(const Degradation& degradation, size_t count, int ids, double size,
                                      double margin, std::mt19937& random) const;

    /// A marker at translation (camera frame), facing the camera along its line of sight, then tilted by
    /// tilt about the axis at angle tiltAxis in its plane and spun by spin (radians).
    HardCaseMarker at(int id, const cv::Vec3d& translation, double tilt, double tiltAxis, double spin,
                      double size) const;

    /// One grey frame: clutter (with marker-like decoys), the sheets (textures[id]), the degradation;
    /// the same seed gives the same frame, noiseSeed changes only the camera noise.
    void render(const Degradation& degradation, const std::vector<cv::Mat>& textures, double size,
                double margin, const std::vector<HardCaseMarker>& markers, unsigned seed, cv::Mat& frame,
                unsigned noiseSeed = 0) const;

    /// The pose as an OpenGL-frame matrix (row vectors, camera looking down -z), as trackers report it.
    static osg::Matrixd openGLPose(const HardCaseMarker& marker);

private:
    void drawClutter(cv::Mat& canvas, std::mt19937& random) const;
    void degrade(const Degradation& degradation, const std::vector<HardCaseMarker>& markers,
                 std::mt19937& random, unsigned noiseSeed, cv::Mat& frame) const;

    int _width, _height;
    cv::Matx33d _camera;
};

} // namespace Novaro
