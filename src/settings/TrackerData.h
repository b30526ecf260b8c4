#pragma once

#include <osgART/SquareMarkerParameters.h>
#include <osgART/TransformFilterCallback.h>

namespace Novaro
{

// The tracker settings file as read: pose smoothing, binarisation threshold and half tracking.
// The setters keep the numbers in range whatever their source (file, default or keyboard).
class TrackerData
{
public:
    TrackerData() = default;

    bool getSmoothTracking() const { return _smoothTracking; }
    void setSmoothTracking(bool smoothTracking) { _smoothTracking = smoothTracking; }

    bool getHalfTracking() const { return _halfTracking; }
    void setHalfTracking(bool halfTracking) { _halfTracking = halfTracking; }

    float getRotationalSmoothingFactor() const { return _rotationalSmoothingFactor; }
    void setRotationalSmoothingFactor(float factor) { _rotationalSmoothingFactor = clampFactor(factor); }

    float getTranslationalSmoothingFactor() const { return _translationalSmoothingFactor; }
    void setTranslationalSmoothingFactor(float factor)
    {
        _translationalSmoothingFactor = clampFactor(factor);
    }

    // The threshold as a level on each window's own contrast (true) or as one grey level for the
    // whole frame (false), for cameras whose light is even and known.
    bool getAdaptiveThreshold() const { return _adaptiveThreshold; }
    void setAdaptiveThreshold(bool adaptive) { _adaptiveThreshold = adaptive; }

    int getThreshold() const { return _threshold; }
    void setThreshold(int threshold) { _threshold = threshold < 0 ? 0 : (threshold > 255 ? 255 : threshold); }

private:
    // 0..1; a value that is not a number counts as 0.
    static float clampFactor(float factor)
    {
        return !(factor >= 0.0f) ? 0.0f : (factor > 1.0f ? 1.0f : factor);
    }

    bool _smoothTracking = true;
    bool _halfTracking = false;
    bool _adaptiveThreshold = true;
    // The player's defaults are the tracking library's.
    float _rotationalSmoothingFactor = osgART::TransformFilterCallback::Parameters().rotationalFactor;
    float _translationalSmoothingFactor = osgART::TransformFilterCallback::Parameters().translationalFactor;
    int _threshold = osgART::SquareMarkerParameters().threshold;
};

} // namespace Novaro
