#pragma once

#include "GltfBufferSource.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Assimp
{
class Importer;
}

namespace Novaro
{

// The model formats the reader accepts. Assimp alone would hand any data to any of its dozens of
// importers, whatever the file is called; scene files come from untrusted sources, so the reader
// checks the data against the format its name promises and lets only that format's importer see
// it.
enum class ModelFormat
{
    Unknown,
    BinaryGltf,
    Gltf,
    Fbx
};

// The format a lower-case file extension names ("glb", "gltf", "fbx"), else Unknown.
ModelFormat formatOfExtension(const std::string& extension);

// What a format is called in messages.
const char* formatName(ModelFormat format);

// Empty when the file whose first 'available' bytes are 'data' and whose size is 'fileSize'
// carries the format's signature and, for glTF, a structure Assimp can be handed; else why not:
// binary glTF: the "glTF" magic, version 2, a declared length equal to 'fileSize' and a JSON
// chunk that passes the glTF check;
// glTF: what checkGltfJson asks of the text;
// FBX: the binary magic "Kaydara FBX Binary", or an ASCII file opening with its "; FBX" comment
// or holding an FBXHeaderExtension in its first kilobytes.
// 'available' must reach as far as bytesToCheck says. The glTF checks that look at buffer data
// read it from 'buffers'.
std::string checkSignature(ModelFormat format, const char* data, size_t available, uint64_t fileSize,
                           const GltfBufferSource* buffers);

// How many bytes of a file of 'fileSize' the check needs, given its first 'size' bytes 'head' (at
// least the first 20 when the file has them): a glTF text whole, a binary glTF up to the end of
// its JSON chunk, an FBX file its first kilobytes.
uint64_t bytesToCheck(ModelFormat format, const char* head, size_t size, uint64_t fileSize);

// The format whose signature the data carries, for data without a file name.
ModelFormat detectFormat(const char* data, size_t size);

// Removes every importer but the format's own from 'importer'. False when Assimp has none for it.
bool keepOnlyImporterOf(ModelFormat format, Assimp::Importer& importer);

} // namespace Novaro
