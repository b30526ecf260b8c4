#include "AssimpFormat.h"

#include "GltfJsonCheck.h"

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

// An ASCII FBX file names its header extension within its first lines.
const size_t fbxAsciiHeaderSearchBytes = 4096;

bool startsWith(const char* data, size_t size, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

bool isTextSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Skips a UTF-8 byte order mark and white space.
size_t skipLeadingSpace(const char* data, size_t size)
{
    size_t i = startsWith(data, size, "\xEF\xBB\xBF") ? 3 : 0;
    while (i < size && isTextSpace(data[i]))
        ++i;
    return i;
}

std::string checkBinaryGltf(const char* data, size_t size, uint64_t fileSize, const GltfBufferSource* buffers)
{
    if (size < glbHeaderBytes || !startsWith(data, size, "glTF"))
        return "no binary glTF header";
    if (readLittleEndian32(data + 4) != 2)
        return "binary glTF version " + std::to_string(readLittleEndian32(data + 4)) + ", not 2";
    if (readLittleEndian32(data + 8) != fileSize)
        return "declared length " + std::to_string(readLittleEndian32(data + 8)) + " but the file has " +
               std::to_string(fileSize) + " bytes";
    if (size < glbJsonStart || std::memcmp(data + glbHeaderBytes + 4, "JSON", 4) != 0)
        return "no JSON chunk";
    const uint64_t jsonBytes = readLittleEndian32(data + glbHeaderBytes);
    if (glbJsonStart + jsonBytes > size)
        return "JSON chunk longer than the file";
    const std::string content = checkGltfJson(data + glbJsonStart, static_cast<size_t>(jsonBytes), buffers);
    return content.empty() ? content : "JSON chunk: " + content;
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

std::string checkSignature(ModelFormat format, const char* data, size_t size, uint64_t fileSize,
                           const GltfBufferSource* buffers)
{
    switch (format)
    {
    case ModelFormat::BinaryGltf:
        return checkBinaryGltf(data, size, fileSize, buffers);
    case ModelFormat::Gltf:
        return checkGltfJson(data, size, buffers);
    case ModelFormat::Fbx:
        return checkFbx(data, size);
    default:
        return "not a format of this reader";
    }
}

uint64_t bytesToCheck(ModelFormat format, const char* head, size_t size, uint64_t fileSize)
{
    switch (format)
    {
    case ModelFormat::Gltf:
        return fileSize;
    case ModelFormat::BinaryGltf:
        if (size < glbJsonStart)
            return std::min<uint64_t>(fileSize, glbJsonStart);
        return std::min<uint64_t>(fileSize, glbJsonStart + readLittleEndian32(head + glbHeaderBytes));
    default:
        return std::min<uint64_t>(fileSize, fbxAsciiHeaderSearchBytes);
    }
}

ModelFormat detectFormat(const char* data, size_t size)
{
    const GltfBufferSource buffers(data, size);
    for (ModelFormat format : {ModelFormat::BinaryGltf, ModelFormat::Gltf, ModelFormat::Fbx})
        if (checkSignature(format, data, size, size, &buffers).empty())
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
