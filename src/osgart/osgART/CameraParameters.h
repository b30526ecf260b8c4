#pragma once

#include <osg/Matrixd>
#include <osg/Vec2d>

#include <cstddef>
#include <string>
#include <vector>

namespace osgART
{

/// Intrinsics and lens distortion of a camera for one image size.
///
/// "Observed" points are where things appear in the video image; "ideal" points are where a
/// distortion-free pinhole camera with the intrinsics of the projection matrix would show them.
/// Pixel coordinates have their origin at the top-left pixel's centre, x right, y down.
///
/// Distortion models:
/// - Radial4 (ARToolKit 4 values: centre x, centre y, factor f, scale s):
///   observed = c + d*s*(ideal - c), d = 1 - f*1e-8*|s*(ideal - c)|^2.
/// - Brown (ARToolKit 9 values k1 k2 p1 p2 fx fy x0 y0 s, or an OpenCV calibration with k1 k2 p1 p2
///   [k3 [k4 k5 k6]] and s = 1): x = (ix - x0)*s/fx, y = (iy - y0)*s/fy, l = x^2 + y^2,
///   ox = (x*radial + 2*p1*x*y + p2*(l + 2x^2))*fx + x0, oy = (y*radial + p1*(l + 2y^2) + 2*p2*x*y)*fy + y0,
///   radial = (1 + k1 l + k2 l^2 + k3 l^3) / (1 + k4 l + k5 l^2 + k6 l^3).
class CameraParameters
{
public:
    enum DistortionModel
    {
        NONE,
        RADIAL4,
        BROWN
    };

    CameraParameters();

    /// Reads an ARToolKit binary camera file (136 or 176 bytes, big-endian) or an OpenCV calibration
    /// (YAML or XML, at most kMaximumCalibrationBytes, nesting at most kMaximumCalibrationNesting;
    /// matrices of at most 16 x 16 read value by value; see CalibrationText.h for what is read).
    /// False, with the reason in error, when the file is missing, malformed or describes no real
    /// camera (see implausibility()); the camera is then left as it was.
    bool load(const std::string& fileName, std::string* error = nullptr);

    /// Largest OpenCV calibration file read, bytes (default 1 MiB; real ones take a few kB).
    static const std::size_t kMaximumCalibrationBytes = 1 << 20;
    /// Deepest nesting of an OpenCV calibration file (default 32; real ones nest 2 levels). The XML
    /// parser recurses per level, so deeper text could exhaust the stack.
    static const int kMaximumCalibrationNesting = 32;

    /// Why these parameters cannot describe a real camera, or empty when they can: image sides within
    /// kMinimumImageSide..kMaximumImageSide; focal lengths 0.1..50 times the larger image side with
    /// a pixel aspect within 1:4..4:1; principal point and distortion centre inside the image widened
    /// by a quarter of its size on each side; and a distortion that maps every point on the rays
    /// from its centre to the image border to finite ideal points, further out the further out the
    /// point, within 20 image sizes, and back to within half a pixel. Costs about 150 distortion
    /// evaluations.
    std::string implausibility() const;
    /// Writes the ARToolKit binary format (the 176-byte version for Brown, 136 bytes otherwise).
    bool saveBinary(const std::string& fileName) const;

    /// A camera with the given intrinsics and no distortion.
    static CameraParameters fromIntrinsics(int width, int height, double fx, double fy, double cx, double cy);

    int width() const { return _width; }
    int height() const { return _height; }
    double fx() const { return _projection[0][0]; }
    double fy() const { return _projection[1][1]; }
    double skew() const { return _projection[0][1]; }
    double cx() const { return _projection[0][2]; }
    double cy() const { return _projection[1][2]; }
    /// The 3x4 projection matrix, row by row.
    const double (&projection() const)[3][4] { return _projection; }

    DistortionModel distortionModel() const { return _model; }
    /// Whether the lens model moves any point: false without a model, and for a model whose
    /// coefficients are all zero at unit scale, as a camera file written without a calibration holds
    /// it. Undistorting then leaves every point where it is, and the detector skips it.
    bool distorts() const;
    /// The distortion values in file order (4 for Radial4; k1 k2 p1 p2 fx fy x0 y0 s k3 k4 k5 k6 for
    /// Brown).
    const std::vector<double>& distortion() const { return _distortion; }
    void setRadial4Distortion(double centreX, double centreY, double factor, double scale);
    void setBrownDistortion(double k1, double k2, double p1, double p2, double fx, double fy, double x0,
                            double y0, double s, double k3 = 0.0, double k4 = 0.0, double k5 = 0.0,
                            double k6 = 0.0);

    /// The same camera for another image size (intrinsics and distortion scaled).
    CameraParameters scaled(int width, int height) const;

    osg::Vec2d idealToObserved(const osg::Vec2d& ideal) const;
    osg::Vec2d observedToIdeal(const osg::Vec2d& observed) const;

    /// OpenGL projection matrix (OSG layout) for the whole image, so that a point in OpenGL camera
    /// coordinates lands on its ideal pixel.
    osg::Matrixd openGLProjection(double nearPlane = 10.0, double farPlane = 10000.0) const;

private:
    bool loadBinary(const std::string& bytes, std::string* error);
    bool loadOpenCV(const std::string& text, std::string* error);
    std::string distortionImplausibility() const;

    int _width;
    int _height;
    double _projection[3][4];
    DistortionModel _model;
    std::vector<double> _distortion;
};

} // namespace osgART
