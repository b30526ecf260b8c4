#pragma once

#include <string>

namespace Novaro
{

// The metadata file an exporter writes next to one scene: lines "key @ value" naming the settings
// files. Blank lines and lines starting with "#" are ignored; the first line of a key wins.
namespace MetadataFile
{

// Value of the key, or empty text when the key is missing or the file cannot be read. The file is
// read afresh on every call.
std::string lookup(const std::string& path, const std::string& key);

// Blanks, tabs, carriage returns and line feeds removed from both ends.
std::string trim(const std::string& text);

} // namespace MetadataFile
} // namespace Novaro
