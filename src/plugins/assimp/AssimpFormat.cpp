#include "AssimpFormat.h"

#include <assimp/BaseImporter.h>
#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Novaro
{

namespace
{

const size_t glbHeaderBytes = 12;
// An ASCII FBX file names its header extension within its first lines.
const size_t fbxAsciiHeaderSearchBytes = 4096;

uint32_t readLittleEndian32(const char* bytes)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

bool startsWith(const char* data, size_t size, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Skips a UTF-8 byte order mark and white space.
size_t skipLeadingSpace(const char* data, size_t size)
{
    size_t i = startsWith(data, size, "\xEF\xBB\xBF") ? 3 : 0;
    while (i < size && isJsonSpace(data[i]))
        ++i;
    return i;
}

std::string checkBinaryGltf(const char* data, size_t size, uint64_t fileSize)
{
    if (size < glbHeaderBytes || !startsWith(data, size, "glTF"))
        return "no binary glTF header";
    if (readLittleEndian32(data + 4) != 2)
        return "binary glTF version " + std::to_string(readLittleEndian32(data + 4)) + ", not 2";
    if (readLittleEndian32(data + 8) != fileSize)
        return "declared length " + std::to_string(readLittleEndian32(data + 8)) + " but the file has " +
               std::to_string(fileSize) + " bytes";
    return std::string();
}

// Walks the JSON text's structure (strings, nesting) far enough to find a member named "asset"
// of the top-level object; values are not parsed.
bool hasTopLevelAssetMember(const char* data, size_t size)
{
    size_t i = skipLeadingSpace(data, size);
    if (i >= size || data[i] != '{')
        return false;
    int depth = 0;
    for (; i < size; ++i)
    {
        const char c = data[i];
        if (c == '"')
        {
            const size_t start = i + 1;
            for (++i; i < size && data[i] != '"'; ++i)
                if (data[i] == '\\')
                    ++i;
            if (i >= size)
                return false;
            const bool isAsset = depth == 1 && i - start == 5 && std::memcmp(data + start, "asset", 5) == 0;
            size_t next = i + 1;
            while (next < size && isJsonSpace(data[next]))
                ++next;
            if (isAsset && next < size && data[next] == ':')
                return true;
        }
        else if (c == '{' || c == '[')
        {
            ++depth;
        }
        else if (c == '}' || c == ']')
        {
            if (--depth <= 0)
                return false;
        }
    }
    return false;
}

std::string checkGltf(const char* data, size_t size)
{
    return hasTopLevelAssetMember(data, size) ? std::string() : "not a JSON object with an \"asset\" member";
}

std::string checkFbx(const char* data, size_t size)
{
    if (startsWith(data, size, "Kaydara FBX Binary"))
        return std::string();
    const size_t start = skipLeadingSpace(data, size);
    if (startsWith(data + start, size - start, "; FBX"))
        return std::string();
    const char* end = data + std::min(size, fbxAsciiHeaderSearchBytes);
    const char* header = "FBXHeaderExtension";
    if (std::search(data, end, header, header + std::strlen(header)) != end)
        return std::string();
    return "neither a binary nor an ASCII FBX header";
}

const char* importerName(ModelFormat format)
{
    switch (format)
    {
    case ModelFormat::BinaryGltf:
    case ModelFormat::Gltf:
        return "glTF2 Importer";
    case ModelFormat::Fbx:
        return "Autodesk FBX Importer";
    default:
        return "";
    }
}

} // namespace

ModelFormat formatOfExtension(const std::string& extension)
{
    if (extension == "glb")
        return ModelFormat::BinaryGltf;
    if (extension == "gltf")
        return ModelFormat::Gltf;
    if (extension == "fbx")
        return ModelFormat::Fbx;
    return ModelFormat::Unknown;
}

const char* formatName(ModelFormat format)
{
    switch (format)
    {
    case ModelFormat::BinaryGltf:
        return "binary glTF";
    case ModelFormat::Gltf:
        return "glTF";
    case ModelFormat::Fbx:
        return "FBX";
    default:
        return "unknown";
    }
}

std::string checkSignature(ModelFormat format, const char* data, size_t size, uint64_t fileSize)
{
    switch (format)
    {
    case ModelFormat::BinaryGltf:
        return checkBinaryGltf(data, size, fileSize);
    case ModelFormat::Gltf:
        return checkGltf(data, size);
    case ModelFormat::Fbx:
        return checkFbx(data, size);
    default:
        return "not a format of this reader";
    }
}

ModelFormat detectFormat(const char* data, size_t size)
{
    for (ModelFormat format : {ModelFormat::BinaryGltf, ModelFormat::Gltf, ModelFormat::Fbx})
        if (checkSignature(format, data, size, size).empty())
            return format;
    return ModelFormat::Unknown;
}

bool keepOnlyImporterOf(ModelFormat format, Assimp::Importer& importer)
{
    const char* wanted = importerName(format);
    Assimp::BaseImporter* kept = nullptr;
    std::vector<Assimp::BaseImporter*> others;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i)
    {
        const aiImporterDesc* description = importer.GetImporterInfo(i);
        Assimp::BaseImporter* loader = importer.GetImporter(i);
        if (kept == nullptr && description != nullptr && std::strcmp(description->mName, wanted) == 0)
            kept = loader;
        else
            others.push_back(loader);
    }
    // Unregistering hands the loader back to the caller.
    for (Assimp::BaseImporter* loader : others)
        if (importer.UnregisterLoader(loader) == aiReturn_SUCCESS)
            delete loader;
    return kept != nullptr;
}

} // namespace Novaro
