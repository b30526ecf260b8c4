// Writes seed inputs for the model reader and KMZ fuzz targets from the sample models:
//   novaro_fuzz_seeds SAMPLES_DIR MODEL_SEEDS_DIR KMZ_SEEDS_DIR
// Model seeds start with the byte that the target maps to their extension (0 glb, 1 gltf, 2 fbx);
// the sample glb is also converted to glTF and binary and ASCII FBX with Assimp. KMZ seeds are the
// sample archive and a Google Earth layout archive made of the sample KML and model.
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <zip.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace
{

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeSeed(const std::string& path, char prefix, const std::string& data)
{
    std::ofstream out(path, std::ios::binary);
    out << prefix << data;
    return static_cast<bool>(out);
}

bool writeEarthArchive(const std::string& path, const std::string& kml, const std::string& model)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr)
        return false;
    bool ok = true;
    for (const auto& entry : {std::make_pair(std::string("doc.kml"), &kml),
                              std::make_pair(std::string("models/house.dae"), &model)})
    {
        zip_source_t* source = zip_source_buffer(archive, entry.second->data(), entry.second->size(), 0);
        ok = ok && source != nullptr && zip_file_add(archive, entry.first.c_str(), source, 0) >= 0;
    }
    return zip_close(archive) == 0 && ok;
}

std::string base64(const std::string& data)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3)
    {
        uint32_t group = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            group |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < data.size())
            group |= static_cast<unsigned char>(data[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out.push_back(i + k <= data.size() ? alphabet[(group >> (18 - 6 * k)) & 63] : '=');
    }
    return out;
}

// The exported glTF text names its buffer as a file beside it; the seed is one file, so the
// buffer goes into the text as a data URI.
std::string embedBuffer(const aiExportDataBlob& blob)
{
    std::string text(static_cast<const char*>(blob.data), blob.size);
    const size_t key = text.find("\"uri\"");
    const size_t open = key == std::string::npos ? key : text.find('"', key + 5);
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos || blob.next == nullptr)
        return text;
    const std::string buffer(static_cast<const char*>(blob.next->data), blob.next->size);
    return text.substr(0, open + 1) + "data:application/octet-stream;base64," + base64(buffer) +
           text.substr(close);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::cerr << "usage: novaro_fuzz_seeds SAMPLES_DIR MODEL_SEEDS_DIR KMZ_SEEDS_DIR" << std::endl;
        return 1;
    }
    const std::string samples = argv[1], models = argv[2], kmz = argv[3];
    const std::string glb = samples + "/models/arrow.glb";
    bool ok = writeSeed(models + "/arrow_glb", 0, readFile(glb));

    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(glb, 0);
    Assimp::Exporter exporter;
    const struct
    {
        const char* format;
        char prefix;
    } conversions[] = {{"gltf2", 1}, {"fbx", 2}, {"fbxa", 2}};
    for (const auto& conversion : conversions)
    {
        const aiExportDataBlob* blob = scene ? exporter.ExportToBlob(scene, conversion.format) : nullptr;
        ok =
            ok && blob != nullptr &&
            writeSeed(models + "/arrow_" + conversion.format, conversion.prefix,
                      conversion.prefix == 1 ? embedBuffer(*blob)
                                             : std::string(static_cast<const char*>(blob->data), blob->size));
    }

    // The skinned, animated sample, as binary and as text glTF.
    const std::string walker = samples + "/models/walker.glb";
    ok = writeSeed(models + "/walker_glb", 0, readFile(walker)) && ok;
    const aiScene* walkerScene = importer.ReadFile(walker, 0);
    const aiExportDataBlob* walkerText = walkerScene ? exporter.ExportToBlob(walkerScene, "gltf2") : nullptr;
    ok = ok && walkerText != nullptr && writeSeed(models + "/walker_gltf2", 1, embedBuffer(*walkerText));

    std::ofstream(kmz + "/house.kmz", std::ios::binary) << readFile(samples + "/models/house.kmz");
    ok = ok && writeEarthArchive(kmz + "/earth.kmz", readFile(samples + "/doc.kml"),
                                 "<COLLADA version=\"1.4.1\"/>");
    if (!ok)
        std::cerr << "novaro_fuzz_seeds: some seeds could not be written" << std::endl;
    return ok ? 0 : 1;
}
