// The check of PLY data against its own header.
#include "settings/PlyFileCheck.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// A text PLY triangle's header.
const std::string kTriangleHeader =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
    "end_header\n";

} // namespace

// PLY data is checked against its own header before OpenSceneGraph's reader, which trusts it:
// scans and exports made elsewhere pass, data shorter than its header declares does not.
TEST(PlyFileCheck, ExportsPassAndHeaderAndDataAreReadWhereTheReaderReadsThem)
{
    for (const std::string path :
         {"/usr/share/doc/opencv-doc/examples/viz/data/bunny.ply",
          "/usr/share/doc/opencv-doc/examples/surface_matching/data/rs1_normals.ply",
          "/usr/share/assimp/models/PLY/cube_binary.ply", "/usr/share/assimp/models/PLY/Wuson.ply",
          "/usr/share/assimp/models/PLY/float-color.ply", "/usr/share/assimp/models/PLY/cube_uv.ply"})
        EXPECT_EQ(checkPlyData(NovaroTest::readFile(path)), "") << path;
    EXPECT_EQ(checkPlyData(kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"), "");
    // A binary file keeps lists the reader does not take (texture coordinates per face).
    std::string coordinates = "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
                              "property float y\nproperty float z\nelement face 1\n"
                              "property list uchar int vertex_indices\nproperty list uchar float texcoord\n"
                              "end_header\n";
    coordinates += std::string(36, '\0') + '\3' + std::string("\0\0\0\0\1\0\0\0\2\0\0\0", 12) + '\6' +
                   std::string(24, '\0');
    EXPECT_EQ(checkPlyData(coordinates), "");
    // The reader splits words at carriage returns too, so files with Windows line ends read.
    std::string windows = kTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    for (size_t at = windows.find('\n'); at != std::string::npos; at = windows.find('\n', at + 2))
        windows.insert(at, "\r");
    EXPECT_EQ(checkPlyData(windows), "");

    // Each of these crashed OpenSceneGraph's reader (a segmentation fault in osgconv) while the check
    // let it through, or would have: the check must see the header and the data as the reader does.
    const std::string vertices = "0 0 0\n1 0 0\n0 1 0\n";
    const std::string faceHeader = "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
    const std::string vertexHeader = kTriangleHeader.substr(0, kTriangleHeader.find("element face"));
    const std::pair<std::string, std::string> refused[] = {
        // The header ends only at a line whose first word is end_header: the property after this
        // one is still the reader's.
        {vertexHeader + "comment end_header\nproperty list uchar quaternion q\n" + faceHeader + vertices +
             "3 0 1 2\n",
         "header line 8: unknown property type \"quaternion\""},
        {"\n" + kTriangleHeader + vertices + "3 0 1 2\n", "header line 1: it is empty"},
        {vertexHeader + "  \t\n" + faceHeader + vertices + "3 0 1 2\n", "header line 7: it is empty"},
        {"PLY\nformat ascii 1.0\n", "header line 1: it does not start with \"ply\""},
        // An element the reader does not know is skipped unread, so the faces are read from its
        // line.
        {vertexHeader + "element edge 1\nproperty int a\n" + faceHeader + vertices + "7\n3 0 1 2\n",
         "data line 4 (element \"face\" 0) holds 1 values, fewer than its properties need"},
        {vertexHeader + "element face 1\nproperty int vertex_indices\nend_header\n" + vertices + "7\n",
         "face property \"vertex_indices\" is not a list"},
        {vertexHeader + "element face 1\nproperty list uchar float vertex_indices\nend_header\n" + vertices +
             "3 0 1 3.5\n",
         "data line 4 (face 0) names vertex 3.5 of 3"},
        {"ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty uchar x\nelement face 1\n"
         "property list uchar float vertex_indices\nend_header\n\x01\x01" +
             std::string("\x00\x00\x80\x3f", 4),
         "face 0 names a vertex past the 1 declared"},
        {"ply\nformat ascii 1.0\nelement vertex 2147483648\nend_header\n",
         "header line 3: element \"vertex\" counts more than 2147483647"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nelement face 0\nend_header\n1\n",
         "element \"vertex\" has no properties"},
        {vertexHeader +
             "element face 1\nproperty list uchar int vertex_index\nproperty list uchar float uv\n"
             "end_header\n" +
             vertices + "3 0 1 2 2 0 0\n",
         "element \"face\" has a list \"uv\" in a text file, where the reader takes only a face's list of "
         "vertices (saved as binary PLY, the file keeps it)"},
        {kTriangleHeader.substr(0, kTriangleHeader.find("end_header")) +
             "element face 1\nproperty float x\nend_header\n" + vertices + "3 0 1 2\n1\n",
         "element \"face\" is declared twice"},
        {kTriangleHeader.substr(0, kTriangleHeader.find("end_header")) + "element unread 2\nend_header\n" +
             vertices + "3 0 1 2\n",
         "element \"unread\" has no properties"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float64 x\nend_header\n1\n",
         "header line 4: unknown property type \"float64\""},
        // Data shorter than its header declares.
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
    // Types the reader does not know are no matter in an element it skips.
    EXPECT_EQ(checkPlyData(vertexHeader + "element material 1\nproperty float64 shine\n" + faceHeader +
                           vertices + "3 0 1 2\n"),
              "");
    // Assimp's own broken files: vertices that declare a list of face indices they do not carry (a
    // null pointer read in OpenSceneGraph's reader), and a binary scan cut short.
    EXPECT_EQ(
        checkPlyData(NovaroTest::readFile("/usr/share/assimp/models/PLY/issue623.ply")),
        "element \"vertex\" has a list \"vertex_indices\" in a text file, where the reader takes only a "
        "face's list of vertices (saved as binary PLY, the file keeps it)");
    EXPECT_EQ(checkPlyData(NovaroTest::readFile("/usr/share/assimp/models/PLY/pond.0.ply")),
              "element \"vertex\" 70048 runs past the end of the file");
}
