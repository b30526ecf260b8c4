#include "GltfBufferSource.h"

#include <osgDB/FileNameUtils>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace Novaro
{

namespace
{

int base64Value(char c)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c == '\0' ? nullptr : std::strchr(alphabet, c);
    return at == nullptr ? -1 : static_cast<int>(at - alphabet);
}

// Decodes the bytes [offset, offset + length) of base64 'text', reading only the groups of four
// characters that hold them.
bool decodeBase64Range(const std::string& text, uint64_t offset, uint64_t length, std::string& bytes)
{
    const uint64_t firstGroup = offset / 3;
    const uint64_t endGroup = (offset + length + 2) / 3;
    if (length == 0 || (endGroup - 1) * 4 >= text.size())
        return false;
    std::string decoded;
    for (uint64_t group = firstGroup; group < endGroup; ++group)
    {
        uint32_t value = 0;
        int characters = 0;
        for (uint64_t i = group * 4; i < group * 4 + 4 && i < text.size() && text[i] != '=';
             ++i, ++characters)
        {
            const int digit = base64Value(text[i]);
            if (digit < 0)
                return false;
            value = value << 6 | static_cast<uint32_t>(digit);
        }
        value <<= 6 * (4 - characters);
        for (int k = 0; k < characters - 1; ++k)
            decoded.push_back(static_cast<char>(value >> (16 - 8 * k) & 0xff));
    }
    const uint64_t skip = offset - firstGroup * 3;
    if (decoded.size() < skip + length)
        return false;
    bytes = decoded.substr(static_cast<size_t>(skip), static_cast<size_t>(length));
    return true;
}

// A URI's %XX escapes, as the file name they stand for.
std::string percentDecoded(const std::string& uri)
{
    std::string name;
    for (size_t i = 0; i < uri.size(); ++i)
    {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2])))
        {
            name.push_back(static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        }
        else
            name.push_back(uri[i]);
    }
    return name;
}

} // namespace

uint32_t readLittleEndian32(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

GltfBufferSource::GltfBufferSource(const std::string& path) : _path(path) {}

GltfBufferSource::GltfBufferSource(const char* data, size_t size) : _data(data), _size(size) {}

bool GltfBufferSource::read(const std::string& uri, uint64_t offset, uint64_t length,
                            std::string& bytes) const
{
    if (uri.empty())
        return readBinaryChunk(offset, length, bytes);
    if (uri.compare(0, 5, "data:") == 0)
    {
        const size_t comma = uri.find(',');
        if (comma == std::string::npos || uri.rfind(";base64", comma) == std::string::npos)
            return false;
        return decodeBase64Range(uri.substr(comma + 1), offset, length, bytes);
    }
    if (_path.empty() || uri.find("://") != std::string::npos)
        return false;
    return readFileBytes(osgDB::concatPaths(osgDB::getFilePath(_path), percentDecoded(uri)), offset, length,
                         bytes);
}

bool GltfBufferSource::readBinaryChunk(uint64_t offset, uint64_t length, std::string& bytes) const
{
    std::string header;
    if (!readFileBytes(_path, 0, glbJsonStart, header) || header.compare(0, 4, "glTF") != 0)
        return false;
    // Chunks start on four-byte boundaries; Assimp rounds a JSON chunk's end up to one, and so
    // finds the binary chunk where a length one short of the padding leaves it.
    const uint64_t jsonEnd = glbJsonStart + readLittleEndian32(&header[glbHeaderBytes]);
    const uint64_t binaryChunk = (jsonEnd + 3) / 4 * 4;
    std::string chunkHeader;
    if (!readFileBytes(_path, binaryChunk, glbChunkHeaderBytes, chunkHeader) ||
        chunkHeader.compare(4, 4, std::string("BIN\0", 4)) != 0 ||
        offset + length > readLittleEndian32(chunkHeader.data()))
        return false;
    return readFileBytes(_path, binaryChunk + glbChunkHeaderBytes + offset, length, bytes);
}

// From the file at 'file', or from the model in memory when 'file' is its (empty) path.
bool GltfBufferSource::readFileBytes(const std::string& file, uint64_t offset, uint64_t length,
                                     std::string& bytes) const
{
    if (file.empty())
    {
        if (_data == nullptr || offset > _size || length > _size - offset)
            return false;
        bytes.assign(_data + offset, static_cast<size_t>(length));
        return true;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return false;
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error || offset > size || length > size - offset)
        return false;
    std::ifstream in(file, std::ios::binary);
    bytes.assign(static_cast<size_t>(length), '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(&bytes[0], static_cast<std::streamsize>(length));
    return static_cast<bool>(in);
}

} // namespace Novaro
