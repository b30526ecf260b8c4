// PLY data is checked against its own header before OpenSceneGraph's reader, which trusts it:
// scans and exports made elsewhere pass, data shorter than its header declares does not.
#include "settings/PlyFileCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using Novaro::checkPlyData;

namespace
{

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path
                      << ": install Debian's assimp-testmodels and opencv-doc (scripts/install-deps.sh does)";
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const std::string kTriangleHeader =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
    "end_header\n";

} // namespace

TEST(PlyFileCheck, ScansAndExportsMadeElsewherePass)
{
    for (const std::string path :
         {"/usr/share/doc/opencv-doc/examples/viz/data/bunny.ply",
          "/usr/share/doc/opencv-doc/examples/surface_matching/data/rs1_normals.ply",
          "/usr/share/assimp/models/PLY/cube_binary.ply", "/usr/share/assimp/models/PLY/Wuson.ply",
          "/usr/share/assimp/models/PLY/float-color.ply", "/usr/share/assimp/models/PLY/cube_uv.ply"})
        EXPECT_EQ(checkPlyData(contentsOf(path)), "") << path;
    EXPECT_EQ(checkPlyData(kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"), "");
}

TEST(PlyFileCheck, DataShorterThanItsHeaderIsRefusedWithWhere)
{
    // Assimp's own broken files: vertices that declare face indices they do not carry (a null
    // pointer read in OpenSceneGraph's reader), and a binary scan cut short.
    EXPECT_EQ(checkPlyData(contentsOf("/usr/share/assimp/models/PLY/issue623.ply")),
              "data line 1 (element \"vertex\" 0) holds 6 values, fewer than its properties need");
    EXPECT_EQ(checkPlyData(contentsOf("/usr/share/assimp/models/PLY/pond.0.ply")),
              "element \"vertex\" 70048 runs past the end of the file");
    const std::pair<std::string, std::string> refused[] = {
        {kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1\n",
         "data line 4 (element \"face\" 0) holds 3 values, fewer than its properties need"},
        {kTriangleHeader + "0 0 0\n1 0 0\n", "element \"vertex\" declares 3, the file holds 2"},
        {"ply\nformat ascii 1.0\nelement vertex 2000000000\nproperty float x\nend_header\n1\n",
         "element \"vertex\" declares 2000000000, the file holds 1"},
        {"ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty uchar x\nelement face 1\n"
         "property list uchar int i\nend_header\n\x01\xff",
         "element \"face\" 0 runs past the end of the file"},
        // Faces are read into the vertices read before them (a null read in the reader without).
        {kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n", "data line 4 (face 0) names vertex 3 of 3"},
        {"ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int i\nend_header\n1 0\n",
         "element \"face\" has no \"vertex\" element before it"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float\nend_header\n1\n",
         "header line 4: \"property\" needs 3 words"},
        {"ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nend_header\n", "it has no vertices"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n",
         "its header has no end_header in its first 64 KiB"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty quaternion q\nend_header\n1\n",
         "header line 4: unknown property type \"quaternion\""},
    };
    for (const auto& [data, reason] : refused)
        EXPECT_EQ(checkPlyData(data), reason) << data;
}
