#pragma once

#include <osg/Matrixd>
#include <osg/Quat>
#include <osg/Referenced>
#include <osg/Vec3d>

namespace osgART
{

/// First-order low-pass filter on a marker pose: translation blended linearly, rotation by
/// quaternion slerp. A factor is the weight of the new measurement: 1 follows the measurement,
/// 0 holds the pose.
class TransformFilterCallback : public osg::Referenced
{
public:
    /// Each default given once here.
    struct Parameters
    {
        /// Weight (0..1) of a new measurement of the marker's position, and of its orientation.
        /// Default 0.85: hides a pixel of detection jitter and lags a quick move by about a frame;
        /// lower is steadier and slower to follow, 1 follows every measurement. No cost.
        float translationalFactor = 0.85f;
        float rotationalFactor = 0.85f;
        /// Either filter off passes that part of the pose through as measured.
        bool translationalEnabled = true;
        bool rotationalEnabled = true;
    };

    TransformFilterCallback();
    explicit TransformFilterCallback(const Parameters& parameters);

    void enableTranslationalSmoothing(bool enable) { _translationalEnabled = enable; }
    void enableRotationalSmoothing(bool enable) { _rotationalEnabled = enable; }
    bool isTranslationalSmoothingEnabled() const { return _translationalEnabled; }
    bool isRotationalSmoothingEnabled() const { return _rotationalEnabled; }

    /// Factors are kept within 0..1.
    void setTranslationalSmoothingFactor(float factor);
    float getTranslationalSmoothingFactor() const { return _translationalFactor; }
    void setRotationalSmoothingFactor(float factor);
    float getRotationalSmoothingFactor() const { return _rotationalFactor; }

    /// Forgets the filtered pose: the next measurement is taken as it is.
    void reset() { _hasPose = false; }

    /// Feeds one measured rigid pose (marker to camera) and returns the filtered pose.
    osg::Matrixd filter(const osg::Matrixd& measured);

protected:
    ~TransformFilterCallback() override = default;

private:
    bool _translationalEnabled;
    bool _rotationalEnabled;
    float _translationalFactor;
    float _rotationalFactor;
    bool _hasPose;
    osg::Vec3d _translation;
    osg::Quat _rotation;
};

} // namespace osgART
