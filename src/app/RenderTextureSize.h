#pragma once

#include <cmath>

namespace Novaro
{

// One side of the render-to-texture image for a screen side: the screen size itself when the card
// takes non-power-of-two textures, otherwise the power of two strictly above it (640 -> 1024,
// 1024 -> 2048), since the quad samples the texture with coordinates up to 1.
inline int renderTextureSize(int screenSize, bool nonPowerOfTwo)
{
    if (nonPowerOfTwo)
        return screenSize;
    if (screenSize <= 0)
        return 1;
    return 1 << (static_cast<int>(std::log2(static_cast<double>(screenSize))) + 1);
}

} // namespace Novaro
