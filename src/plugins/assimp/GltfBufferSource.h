#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Novaro
{

// Binary glTF: a 12-byte header (magic, version, length), then chunks of an 8-byte header
// (length, type) and their data; the JSON chunk first, the binary chunk (if any) after it.
const size_t glbHeaderBytes = 12;
const size_t glbChunkHeaderBytes = 8;
const size_t glbJsonStart = glbHeaderBytes + glbChunkHeaderBytes;

// The little-endian unsigned 32-bit number at 'bytes', as binary glTF writes its lengths.
uint32_t readLittleEndian32(const char* bytes);

// The bytes of a glTF model's buffers, for the checks that must look at data before Assimp does:
// a buffer's data URI (base64 in the text), the binary chunk of a binary glTF file (the buffer
// without a URI), or a regular file its URI names beside the model. Only the bytes asked for are
// decoded or read.
class GltfBufferSource
{
public:
    // A model file on disk: its binary chunk and the files beside it are read when asked for.
    explicit GltfBufferSource(const std::string& path);

    // A model held in memory, 'size' bytes: no folder to find other files in.
    GltfBufferSource(const char* data, size_t size);

    // 'length' bytes from 'offset' of the buffer whose URI is 'uri' as written in the JSON text
    // (empty: none, the binary chunk); false when they cannot be had.
    bool read(const std::string& uri, uint64_t offset, uint64_t length, std::string& bytes) const;

private:
    bool readBinaryChunk(uint64_t offset, uint64_t length, std::string& bytes) const;
    bool readFileBytes(const std::string& file, uint64_t offset, uint64_t length, std::string& bytes) const;

    std::string _path; // empty for a model in memory
    const char* _data = nullptr;
    size_t _size = 0;
};

} // namespace Novaro
