#pragma once

#include "GltfBufferSource.h"

#include <cstddef>
#include <string>

namespace Novaro
{

// Deepest nesting of arrays and objects a glTF text may have. glTF files nest some ten levels;
// Assimp's JSON reader recurses once per level, so a few hundred kilobytes of "[" would overflow
// its stack. Each level costs the check a stack frame.
const int maximumGltfJsonDepth = 64;

// Deepest chain of nodes (each the child of the one before) a glTF scene may have. Assimp builds
// its node tree recursively and overflows its stack at some 20,000 levels; real models nest a
// few dozen, skeletons a few hundred.
const size_t maximumGltfNodeDepth = 1000;

// Most animation channels a glTF file may hold, over all its animations.
const size_t maximumGltfAnimationChannels = 100000;

// Reads the glTF JSON text 'data' of 'size' bytes once, without keeping it (memory does not grow
// with the text), and returns an empty text when Assimp can be handed it, else why not:
// - not JSON (syntax, or nesting beyond maximumGltfJsonDepth), with the byte where it fails;
// - no object at the top with an "asset" member that is an object;
// - a mesh primitive without a POSITION attribute (Assimp's importer reads positions through a
//   null pointer for line loops; a primitive is drawn from its positions anyway);
// - a node hierarchy Assimp cannot build: a node with two parents, a node that is its own
//   ancestor, a child index past the nodes, a chain deeper than maximumGltfNodeDepth;
// - a skin without inverseBindMatrices (Assimp's importer reads them through a null pointer);
// - more than maximumGltfAnimationChannels animation channels;
// - an accessor reaching past its buffer view, or a view past its buffer (Assimp copies them
//   unchecked), or an accessor without a valid type, component type and count;
// - an accessor, view or buffer declaring a number beyond 2^53 (or not a number);
// - an indexed line loop with fewer than two indices, or (read from 'buffers' when given and the
//   buffer can be had) whose indices name no segment of two vertices: Assimp reads through a null
//   pointer closing it.
std::string checkGltfJson(const char* data, size_t size, const GltfBufferSource* buffers = nullptr);

} // namespace Novaro
