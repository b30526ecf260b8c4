#pragma once

#include <osg/Vec2d>

#include <cmath>
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
    /// Inline: the detector calls it for every edge point it finds.
    osg::Vec2d observedToIdeal(const osg::Vec2d& observed)
    {
        if (!_distorted)
            return _camera.observedToIdeal(observed);
        const double x = observed.x() / kSpacing;
        const double y = observed.y() / kSpacing;
        // Inside the image only: the last node column and row lie at or beyond its far edges.
        if (!(x >= 0.0 && y >= 0.0 && x < _columns - 1 && y < _rows - 1))
            return _camera.observedToIdeal(observed);
        const int column = int(x), row = int(y);
        const double right = x - column, down = y - row;
        const osg::Vec2d top = node(column, row) * (1.0 - right) + node(column + 1, row) * right;
        const osg::Vec2d bottom = node(column, row + 1) * (1.0 - right) + node(column + 1, row + 1) * right;
        return top * (1.0 - down) + bottom * down;
    }

private:
    const osg::Vec2d& node(int column, int row)
    {
        osg::Vec2d& ideal = _nodes[size_t(row) * size_t(_columns) + size_t(column)];
        if (std::isnan(ideal.x())) // not solved yet
            solve(column, row, ideal);
        return ideal;
    }
    void solve(int column, int row, osg::Vec2d& ideal) const;

    CameraParameters _camera;
    bool _distorted = false;
    int _columns = 0;
    int _rows = 0;
    /// Ideal positions of the nodes, row by row; not-a-number until solved.
    std::vector<osg::Vec2d> _nodes;
};

} // namespace osgART
