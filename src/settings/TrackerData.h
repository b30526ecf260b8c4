#pragma once

namespace Novaro
{

// The tracker settings file as read: pose smoothing, binarisation threshold and half tracking.
// The setters keep the numbers in range whatever their source (file, default or keyboard).
class TrackerData
{
public:
    TrackerData() = default;

    bool getSmoothTracking() const { return smooth_tracking_; }
    void setSmoothTracking(bool smoothTracking) { smooth_tracking_ = smoothTracking; }

    bool getHalfTracking() const { return half_tracking_; }
    void setHalfTracking(bool halfTracking) { half_tracking_ = halfTracking; }

    float getRotationalSmoothingFactor() const { return rotational_smoothing_factor_; }
    void setRotationalSmoothingFactor(float factor) { rotational_smoothing_factor_ = clampFactor(factor); }

    float getTranslationalSmoothingFactor() const { return translational_smoothing_factor_; }
    void setTranslationalSmoothingFactor(float factor)
    {
        translational_smoothing_factor_ = clampFactor(factor);
    }

    int getThreshold() const { return threshold_; }
    void setThreshold(int threshold) { threshold_ = threshold < 0 ? 0 : (threshold > 255 ? 255 : threshold); }

private:
    // 0..1; a value that is not a number counts as 0.
    static float clampFactor(float factor)
    {
        return !(factor >= 0.0f) ? 0.0f : (factor > 1.0f ? 1.0f : factor);
    }

    bool smooth_tracking_ = true;
    bool half_tracking_ = false;
    float rotational_smoothing_factor_ = 0.85f;
    float translational_smoothing_factor_ = 0.85f;
    int threshold_ = 100;
};

} // namespace Novaro
