// Identifying blurred markers in camera noise: the blur measured at a marker's corners.
#include "BenchmarkFrames.h"

#include <gtest/gtest.h>

// Benchmark frames shaken along a curved 10-pixel path at ISO 1600, each with a marker of some 42
// pixels whose pattern the blur measured from single samples at its corners did not fit closely
// enough: the camera's noise in the measurement blurred the pattern with it.
TEST(SquareMarkerBlur, MarkersShakenInCameraNoiseFitTheBlurTheirCornersShow)
{
    const NovaroTest::BenchmarkFrame frames[] = {
        {"shaky-blur-iso1600-busy.png",
         1,
         {0, 2, 5}, // pattern 4's marker, shaken as much, is still missed
         0,
         {{{476.585, 210.387}, {433.25, 215.493}, {429.883, 172.366}, {472.844, 165.537}}}},
        {"shaky-blur-iso1600-calm.png",
         1,
         {0, 2, 5, 7},
         2,
         {{{439.884, 68.3195}, {406.17, 95.1045}, {378.924, 64.6883}, {412.516, 35.9854}}}},
    };
    // The uneven path moves where the blurred edges seem to be by two pixels or so.
    for (const NovaroTest::BenchmarkFrame& frame : frames)
        NovaroTest::expectFoundIn(frame, 3.0);
}
