#pragma once

#include <osg/Vec2d>

#include <vector>

#include "CameraParameters.h"

namespace osgART
{

/// A camera's observedToIdeal() read from a grid of exact values by bilinear interpolation.
///
/// Undoing lens distortion exactly takes a Newton solve per point, and the detector undistorts every
/// edge point it finds (up to 128 per candidate square). The distortion is smooth, so values at grid
/// nodes kSpacing video pixels apart, interpolated in between, stay within 0.005 pixel of the exact
/// ones for an ordinary webcam lens and within 0.03 pixel at the image corners of a strong wide-angle
/// barrel (the error grows with the square of the spacing and with the distortion's curvature), for
/// the cost of a lookup. Nodes are solved on first use, so a camera costs nothing
/// before it is used and only the part of the frame where markers are seen is ever solved. Points
/// outside the image, and cameras without distortion, are solved exactly.
class UndistortionGrid
{
public:
    /// Video pixels between grid nodes.
    static const int kSpacing = 4;

    void setCamera(const CameraParameters& camera);
    osg::Vec2d observedToIdeal(const osg::Vec2d& observed);

private:
    const osg::Vec2d& node(int column, int row);

    CameraParameters _camera;
    bool _distorted = false;
    int _columns = 0;
    int _rows = 0;
    /// Ideal positions of the nodes, row by row; not-a-number until solved.
    std::vector<osg::Vec2d> _nodes;
};

} // namespace osgART
