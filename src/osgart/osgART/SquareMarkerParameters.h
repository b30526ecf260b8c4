#pragma once

namespace osgART
{

/// What a caller of SquareMarkerDetector may tune, each default given once here (the class's
/// description says what the binarisation modes do).
struct SquareMarkerParameters
{
    enum ThresholdMode
    {
        ADAPTIVE,
        FIXED
    };

    /// 0..255; its meaning depends on the threshold mode (see the class description). Default
    /// 100: 39 % of the local contrast (ADAPTIVE). No cost either way.
    int threshold = 100;
    /// ADAPTIVE (default) holds under uneven light at about four passes over the search image;
    /// FIXED costs one pass and fails where the light is uneven or the exposure is off.
    ThresholdMode thresholdMode = ADAPTIVE;
    /// Correlation (0..1) a match needs with up to kFloorBasePatterns patterns loaded; the floor
    /// rises from it with more (confidenceFloor()). Default 0.8; lower finds more blurred and shaded
    /// markers and lets more clutter through. No cost.
    double minimumConfidence = 0.8;
    /// Correlation by which the best pattern must lead the best of any other pattern. Clutter that
    /// resembles one pattern tends to resemble several alike (textured patches correlate with every
    /// pattern with large blocks), while a marker stands out from all but its own pattern (by 0.45
    /// or more seen clearly, by 0.2 or more under motion blur). Default 0.15; raising it refuses
    /// more clutter and, beyond 0.2, blurred markers; 0 turns the test off. No cost: the runner-up
    /// falls out of the same comparisons.
    double minimumLead = 0.15;
};

} // namespace osgART
