#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// The metadata file an exporter writes next to one scene: lines "key @ value" naming the settings
// files. Blank lines and lines starting with "#" are ignored; the first line of a key wins.
namespace MetadataFile
{

// One "key @ value" line (a line without "@" is its own key and value), with its line number.
struct Entry
{
    std::string key;
    std::string value;
    int line = 0;
    // The value as written when it was refused for leading outside the scene's folders (the value
    // is then its last component, read in the scene's folder), else empty.
    std::string refusedValue;
};

// The file's entries in file order; empty when the file cannot be read.
std::vector<Entry> entries(const std::string& path);

// Value of the key, or empty text when the key is missing or the file cannot be read. The file is
// read afresh on every call.
std::string lookup(const std::string& path, const std::string& key);

// Blanks, tabs, carriage returns and line feeds removed from both ends.
std::string trim(const std::string& text);

} // namespace MetadataFile
} // namespace Novaro
