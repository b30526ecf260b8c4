#pragma once

#include "ToolSupport.h"

#include <ostream>

namespace Novaro
{

/// The image-target benchmark of novaro-bench-tracker --image-targets: real photographs rendered
/// by the hard-case renderer under the hard cases, for the tracker's image targets and for a plain
/// OpenCV pipeline (ORB, brute-force Hamming with the ratio test, RANSAC homography, pose from the
/// homography) as the tutorials set it up and as a competent user tunes it, on the same frames, over
/// seeds and noise levels; OpenCV's graffiti pair against its true homography (corner error, with
/// focal lengths from half to twice the true one); then training time, detection and tracking time at 640x480
/// and 1920x1080, rotation error, jitter of a still target and the cost of five targets against one. Prints
/// Markdown tables; returns the process exit status.
int runImageTargetBenchmark(const ToolArguments& arguments, std::ostream& out);

} // namespace Novaro
