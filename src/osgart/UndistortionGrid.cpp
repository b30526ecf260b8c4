#include "osgART/UndistortionGrid.h"

#include <limits>

namespace osgART
{

void UndistortionGrid::setCamera(const CameraParameters& camera)
{
    _camera = camera;
    _distorted = camera.distorts() && camera.width() > 0 && camera.height() > 0;
    _columns = _distorted ? camera.width() / kSpacing + 2 : 0;
    _rows = _distorted ? camera.height() / kSpacing + 2 : 0;
    const double unsolved = std::numeric_limits<double>::quiet_NaN();
    _nodes.assign(size_t(_columns) * size_t(_rows), osg::Vec2d(unsolved, unsolved));
}

void UndistortionGrid::solve(int column, int row, osg::Vec2d& ideal) const
{
    ideal = _camera.observedToIdeal(osg::Vec2d(column * kSpacing, row * kSpacing));
}

} // namespace osgART
