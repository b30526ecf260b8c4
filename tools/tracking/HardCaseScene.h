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
    double shadowDarkening = 0.0; ///< one side of a shadow edge across a marker is this much darker
    /// The shadow edge passes this far (at most, in marker sides, at random) from the marker's centre
    /// at a random angle; 0: through the centre.
    double shadowOffset = 0.0;
    /// Curved shadow edge: an arc of a circle this many marker sides in radius (0: straight).
    double shadowRadius = 0.0;
    double lightFallOff = 0.0;   ///< brightness falls by this share across the frame
    double motionBlur = 0.0;     ///< pixels, the length of the camera's path during the exposure
    bool shakyBlur = false;      ///< the path wanders (a random smooth curve) instead of a straight line
    double occluderRadius = 0.0; ///< disc on each marker's outer edge, share of the side
    /// Rolling shutter with the motion blur: the rows are read over this many milliseconds while
    /// the picture slides along the blur's path at the blur's length per exposure (1/60 s), so the
    /// frame is skewed as CameraModel::skew makes it. 0: every row at once.
    double readoutMs = 0.0;
    /// 0: camera noise of 2 grey levels, independent per pixel; below 0: no noise at all. Otherwise
    /// the frame is taken through a real camera's sensor at this ISO (CameraModel: shot and read
    /// noise on a Bayer mosaic, demosaiced, JPEG at quality 85).
    int iso = 0;
    bool markerFree = false;
};

/// The hard cases of the tracker benchmark.
std::vector<Degradation> hardCases();

/// What lies behind the printed sheets.
enum class Background
{
    CALM,  ///< a flat grey with some 50 shapes, text and marker-like decoys
    BUSY,  ///< a dense procedural texture (noise over several scales, hundreds of small shapes,
           ///< wood-like streaks, text) with the calm background's decoys on top
    PHOTO, ///< photographs (grey), several side by side on wide frames so that none is enlarged much
};
const char* backgroundName(Background background);

/// The motion-blur kernel of a camera path of the given length (pixels) along angle, straight or
/// shaky; its centre of mass sits exactly on its centre pixel, so that blurring moves nothing.
cv::Mat motionBlurKernel(double length, double angle, bool shaky, std::mt19937& random);

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

    /// The background of the frames rendered from now on; photos (grey or BGR) for PHOTO.
    void setBackground(Background background, const std::vector<cv::Mat>& photos = {});

    const cv::Matx33d& cameraMatrix() const { return _camera; }

    /// Up to count markers with ids drawn from 0..ids-1, fully in view, not overlapping.
    std::vector<HardCaseMarker> place(const Degradation& degradation, size_t count, int ids, double size,
                                      double margin, std::mt19937& random) const;

    /// A marker at translation (camera frame), facing the camera along its line of sight, then tilted by
    /// tilt about the axis at angle tiltAxis in its plane and spun by spin (radians).
    HardCaseMarker at(int id, const cv::Vec3d& translation, double tilt, double tiltAxis, double spin,
                      double size) const;

    /// One grey frame: clutter (with marker-like decoys), the sheets (textures[id]), the degradation;
    /// the same seed gives the same frame, noiseSeed changes only the camera noise. seen, when
    /// given: the markers as the frame shows them, each at the time the rolling shutter read its
    /// centre (the camera turned by the slide up to then); the markers themselves without one.
    void render(const Degradation& degradation, const std::vector<cv::Mat>& textures, double size,
                double margin, const std::vector<HardCaseMarker>& markers, unsigned seed, cv::Mat& frame,
                unsigned noiseSeed = 0, std::vector<HardCaseMarker>* seen = nullptr) const;

    /// The marker as seen after the camera turned so that its centre moved by shift pixels.
    HardCaseMarker turned(const HardCaseMarker& marker, const cv::Point2d& shift, double size) const;

    /// The sheets warped onto an existing frame (grey, of the renderer's size), each supersampled
    /// over its own patch of it; nothing else of the frame changes.
    void pasteSheets(const Degradation& degradation, const std::vector<cv::Mat>& textures, double size,
                     double margin, const std::vector<HardCaseMarker>& markers, std::mt19937& random,
                     cv::Mat& frame) const;

    /// The pose as an OpenGL-frame matrix (row vectors, camera looking down -z), as trackers report it.
    static osg::Matrixd openGLPose(const HardCaseMarker& marker);

private:
    void drawClutter(cv::Mat& canvas, std::mt19937& random) const;
    void drawBusyTexture(cv::Mat& frame, std::mt19937& random) const;
    void drawPhotos(cv::Mat& frame, std::mt19937& random) const;
    /// Calm: everything drawn supersampled. Busy and photo: the background at frame size, each sheet
    /// supersampled over its own patch of it.
    void renderSupersampled(const Degradation& degradation, const std::vector<cv::Mat>& textures, double size,
                            double margin, const std::vector<HardCaseMarker>& markers, std::mt19937& random,
                            cv::Mat& frame) const;
    void renderOverBackground(const Degradation& degradation, const std::vector<cv::Mat>& textures,
                              double size, double margin, const std::vector<HardCaseMarker>& markers,
                              std::mt19937& random, cv::Mat& frame) const;
    void drawSheet(const Degradation& degradation, const cv::Mat& texture, double size, double margin,
                   const HardCaseMarker& marker, const cv::Point2d& origin, std::mt19937& random,
                   cv::Mat& canvas) const;
    void shade(const Degradation& degradation, const std::vector<HardCaseMarker>& markers,
               std::mt19937& random, cv::Mat& image) const;
    /// seen: as render()'s.
    void degrade(const Degradation& degradation, const std::vector<HardCaseMarker>& markers, double size,
                 std::mt19937& random, unsigned noiseSeed, cv::Mat& frame,
                 std::vector<HardCaseMarker>* seen) const;
    /// Corners and shortest side from the marker's pose.
    void describe(HardCaseMarker& marker, double size) const;

    int _width, _height;
    cv::Matx33d _camera;
    Background _background = Background::CALM;
    std::vector<cv::Mat> _photos; ///< grey
};

} // namespace Novaro
