#pragma once

#include <cstddef>
#include <string>

namespace Novaro
{

// Deepest nesting of arrays and objects a glTF text may have. glTF files nest some ten levels;
// Assimp's JSON reader recurses once per level, so a few hundred kilobytes of "[" would overflow
// its stack. Each level costs the check a stack frame.
const int maximumGltfJsonDepth = 64;

// Reads the glTF JSON text 'data' of 'size' bytes once, without keeping it (memory does not grow
// with the text), and returns an empty text when Assimp can be handed it, else why not:
// - not JSON (syntax, or nesting beyond maximumGltfJsonDepth), with the byte where it fails;
// - no object at the top with an "asset" member that is an object;
// - a mesh primitive without a POSITION attribute (Assimp's importer reads positions through a
//   null pointer for line loops; a primitive is drawn from its positions anyway).
std::string checkGltfJson(const char* data, size_t size);

} // namespace Novaro
