#include "osgART/UndistortionGrid.h"

#include <cmath>
#include <limits>

namespace osgART
{

void UndistortionGrid::setCamera(const CameraParameters& camera)
{
    _camera = camera;
    _distorted =
        camera.distortionModel() != CameraParameters::NONE && camera.width() > 0 && camera.height() > 0;
    _columns = _distorted ? camera.width() / kSpacing + 2 : 0;
    _rows = _distorted ? camera.height() / kSpacing + 2 : 0;
    const double unsolved = std::numeric_limits<double>::quiet_NaN();
    _nodes.assign(size_t(_columns) * size_t(_rows), osg::Vec2d(unsolved, unsolved));
}

const osg::Vec2d& UndistortionGrid::node(int column, int row)
{
    osg::Vec2d& ideal = _nodes[size_t(row) * size_t(_columns) + size_t(column)];
    if (std::isnan(ideal.x()))
        ideal = _camera.observedToIdeal(osg::Vec2d(column * kSpacing, row * kSpacing));
    return ideal;
}

osg::Vec2d UndistortionGrid::observedToIdeal(const osg::Vec2d& observed)
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

} // namespace osgART
