// The files model texts name, as exporters write them, and texts long enough to overflow a
// recursive matcher's stack.
#include "app/ModelReferences.h"

#include <gtest/gtest.h>

#include <string>

using namespace Novaro;

TEST(ModelReferences, ObjAndMtlStatementsNameTheirFilesAfterTheirOptionsGltfsInEveryUriKey)
{
    EXPECT_EQ(ModelReferences::materialLibrary("mtllib chair.mtl"), "chair.mtl");
    EXPECT_EQ(ModelReferences::materialLibrary("  mtllib   old chair.mtl \r"), "old chair.mtl");
    EXPECT_EQ(ModelReferences::materialLibrary("mtllib materials\\chair.mtl"), "materials/chair.mtl");
    const std::pair<const char*, const char*> textures[] = {
        {"map_Kd wood.png", "wood.png"},
        {"map_Kd -o 1 1 1 -s 2 2 2 wood grain.png\r", "wood grain.png"},
        {"map_Ka -blendu on -blendv off -mm 0 1 -texres 512 shade.jpg", "shade.jpg"},
        {"bump -bm 0.5 -imfchan r bumps.png", "bumps.png"},
        {"map_d -clamp on -type sphere -cc off alpha.tga", "alpha.tga"},
        {"refl -type sphere sky.png", "sky.png"},
        {"map_Kd .\\textures\\wood.jpg", "./textures/wood.jpg"}, // as Windows exporters write it
    };
    for (const auto& [line, name] : textures)
        EXPECT_EQ(ModelReferences::textureMap(line), name) << line;
    // Other statements, and statements without a file, name none.
    for (const char* line : {"v 1 2 3", "usemtl mtllib", "newmtl map_Kd", "map_Kd", "map_Kd -o 1 1 1", "",
                             "# mtllib commented.mtl", "mtllibx.mtl"})
    {
        EXPECT_EQ(ModelReferences::materialLibrary(line), "") << line;
        EXPECT_EQ(ModelReferences::textureMap(line), "") << line;
    }
    // A glTF's files are every "uri" key's string.
    const std::string gltf = R"({"buffers": [{"byteLength": 8, "uri" : "box.bin"}],
        "images": [{"uri":"textures/wood.png"}, {"uri": "data:image/png;base64,iVBORw0K"}],
        "asset": {"generator": "uri", "copyright": "\"uri\" is a key"}, "extras": {"uri": 5}})";
    EXPECT_EQ(ModelReferences::gltfUris(gltf),
              (std::vector<std::string>{"box.bin", "textures/wood.png", "data:image/png;base64,iVBORw0K"}));
    EXPECT_TRUE(ModelReferences::gltfUris(R"({"uri": "never closed)").empty());
}

// A glTF's embedded buffer is megabytes in one string, and a hostile OBJ's line may be as long:
// each stopped "novaro-scene new" with a stack overflow while it was read by std::regex.
TEST(ModelReferences, MegabytesOnOneLineAreReadWhole)
{
    const std::string data = "data:application/octet-stream;base64," + std::string(20 << 20, 'A');
    const std::vector<std::string> uris =
        ModelReferences::gltfUris(R"({"buffers": [{"uri": ")" + data + "\"}]}");
    ASSERT_EQ(uris.size(), size_t(1));
    EXPECT_EQ(uris[0].size(), data.size());
    const std::string longName(4 << 20, 'n');
    EXPECT_EQ(ModelReferences::materialLibrary("mtllib " + longName).size(), longName.size());
    EXPECT_EQ(ModelReferences::textureMap("map_Kd -s 1 1 1 " + longName).size(), longName.size());
}
