#pragma once

// The files a model's text names beside itself: an OBJ's material libraries, an MTL's texture
// maps, a glTF's buffers and images. Read by hand, a statement at a time: std::regex's matcher
// recurses once per character it takes, and a glTF's embedded data (megabytes in one string) or a
// hostile file's long line overflows the stack.

#include <string>
#include <vector>

namespace Novaro
{
namespace ModelReferences
{

/// The file an OBJ "mtllib" statement names (the rest of the line, trimmed); empty for any other
/// line. OBJ and MTL names come with backslashes turned to slashes, as the model reader reads them
/// (Windows exporters write ".\\wood.png").
std::string materialLibrary(const std::string& line);

/// The image an MTL texture statement (map_Kd and the other map_ statements, bump, disp, decal,
/// refl) names after its options (-o 1 1 1, -blendu on, -imfchan r, ...); empty for any other line.
std::string textureMap(const std::string& line);

/// Every "uri" string of a glTF's JSON text, as written (data URIs among them); escapes are not
/// undone.
std::vector<std::string> gltfUris(const std::string& text);

} // namespace ModelReferences
} // namespace Novaro
