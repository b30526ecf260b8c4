#pragma once

#include <osg/Matrixd>
#include <osg/Vec2d>
#include <osg/Vec3d>

#include <array>
#include <vector>

#include "CameraParameters.h"

namespace osgART
{

/// Camera pose of planar markers from undistorted (ideal) image points.
///
/// Poses are OSG matrices (row vectors: p_camera = p_marker * M). estimate*() return them in the
/// computer-vision camera frame (x right, y down, z forward); toOpenGL() turns such a pose into the
/// OpenGL camera frame (y up, looking down -z).
class PoseEstimator
{
public:
    explicit PoseEstimator(const CameraParameters& camera);

    /// Pose of a square of the given size whose corners (top-left, top-right, bottom-right,
    /// bottom-left of the upright pattern) were seen at ideal; the pattern's centre sits at centre
    /// in marker coordinates. A square has two poses that fit its corners (tilted towards or away
    /// from the camera along some axis): poses that would show the marker from behind are dropped,
    /// the one with the lower reprojection error is kept, and when both fit about equally well (a
    /// nearly frontal marker) the one nearer in rotation to previous, when given, is kept.
    bool estimateSquare(const std::array<osg::Vec2d, 4>& ideal, double size, const osg::Vec2d& centre,
                        osg::Matrixd& pose, const osg::Matrixd* previous = nullptr) const;

    /// Pose of a plane (object points with z = 0) from four or more ideal points: the better of the
    /// two poses of the homography that faces the camera, refined by least squares.
    bool estimatePlanar(const std::vector<osg::Vec3d>& object, const std::vector<osg::Vec2d>& ideal,
                        osg::Matrixd& pose) const;

    /// Refines pose so that the object points project onto the ideal points (least squares).
    bool refine(const std::vector<osg::Vec3d>& object, const std::vector<osg::Vec2d>& ideal,
                osg::Matrixd& pose) const;

    /// Corners of a square of the given size, in the order of estimateSquare().
    static std::array<osg::Vec3d, 4> squareCorners(double size, const osg::Vec2d& centre);

    static osg::Matrixd toOpenGL(const osg::Matrixd& pose);

    /// Where a point of the marker lands in the ideal image.
    osg::Vec2d project(const osg::Matrixd& pose, const osg::Vec3d& point) const;

private:
    CameraParameters _camera;
};

} // namespace osgART
