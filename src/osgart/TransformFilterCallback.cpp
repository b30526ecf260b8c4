#include "osgART/TransformFilterCallback.h"

#include <algorithm>

namespace osgART
{

namespace
{
float clampFactor(float factor)
{
    return std::min(1.0f, std::max(0.0f, factor));
}
} // namespace

TransformFilterCallback::TransformFilterCallback() : TransformFilterCallback(Parameters()) {}

TransformFilterCallback::TransformFilterCallback(const Parameters& parameters)
    : _translationalEnabled(parameters.translationalEnabled),
      _rotationalEnabled(parameters.rotationalEnabled),
      _translationalFactor(clampFactor(parameters.translationalFactor)),
      _rotationalFactor(clampFactor(parameters.rotationalFactor)), _hasPose(false)
{
}

void TransformFilterCallback::setTranslationalSmoothingFactor(float factor)
{
    _translationalFactor = clampFactor(factor);
}

void TransformFilterCallback::setRotationalSmoothingFactor(float factor)
{
    _rotationalFactor = clampFactor(factor);
}

osg::Matrixd TransformFilterCallback::filter(const osg::Matrixd& measured)
{
    const osg::Vec3d translation = measured.getTrans();
    const osg::Quat rotation = measured.getRotate();
    if (!_hasPose)
    {
        _translation = translation;
        _rotation = rotation;
        _hasPose = true;
    }
    else
    {
        if (_translationalEnabled)
            _translation += (translation - _translation) * _translationalFactor;
        else
            _translation = translation;
        if (_rotationalEnabled)
        {
            osg::Quat blended;
            blended.slerp(_rotationalFactor, _rotation, rotation);
            _rotation = blended;
        }
        else
        {
            _rotation = rotation;
        }
    }
    osg::Matrixd result;
    result.makeRotate(_rotation);
    result.setTrans(_translation);
    return result;
}

} // namespace osgART
