#pragma once

// The frames of the benchmark and of the tests are drawn from seeded generators, and must be the
// same whichever compiler built the tools. The order in which a call's arguments (or an operator's
// operands) are evaluated is the compiler's choice: GCC and Clang drew the same seed into different
// frames. So no call in the generators takes two random draws; each draw is a statement of its own,
// in the order GCC evaluated them before (a call's last argument first), so that the frames, and the
// numbers measured on them, stay those made before.

#include <opencv2/core.hpp>

#include <random>

namespace Novaro
{

/// A point drawn uniformly in the area, down (y) before across (x).
inline cv::Point randomPoint(std::mt19937& random, const cv::Rect& area)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int y = area.y + int(unit(random) * area.height);
    const int x = area.x + int(unit(random) * area.width);
    return cv::Point(x, y);
}

} // namespace Novaro
