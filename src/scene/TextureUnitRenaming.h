#pragma once

#include <string>

namespace Novaro
{

// Rewrites the built-in texture-unit references of a GLSL source (gl_TexCoord[n],
// gl_TextureMatrix[n], gl_MultiTexCoordn, gl_EyePlaneS/T/R/Q[n]) from one unit to another, so that
// shader code written for unit 'from' runs on the free unit 'to'.
std::string replaceTextureUnit(unsigned int from, unsigned int to, const std::string& text);

} // namespace Novaro
