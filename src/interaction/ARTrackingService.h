#pragma once

namespace Novaro
{

// The tracking mode's controls: the tracker's threshold, the markers' smoothing, freezing,
// tracking plus and the debug image. The application implements it.
class ARTrackingService
{
public:
    virtual ~ARTrackingService() = default;

    virtual void resetThreshold() = 0;
    virtual void increaseThreshold(int step) = 0;
    virtual void decreaseThreshold(int step) = 0;
    // The tracker's threshold, or -1 without a tracker.
    virtual int getThreshold() const = 0;
    virtual void resetSmoothing() = 0;
    virtual void increaseSmoothing(float step) = 0;
    virtual void decreaseSmoothing(float step) = 0;
    // The first marker's smoothing factor, or -1 without markers.
    virtual float getSmoothingFactor() const = 0;
    virtual void toggleFreeze() = 0;
    virtual bool getFreeze() const = 0;
    virtual void toggleTrackingPlus() = 0;
    virtual bool getTrackingPlus() const = 0;
    virtual void toggleDebugMode() = 0;
    virtual bool getDebug() const = 0;

protected:
    ARTrackingService() = default;
    ARTrackingService(const ARTrackingService&) = default;
    ARTrackingService& operator=(const ARTrackingService&) = default;
};

} // namespace Novaro
