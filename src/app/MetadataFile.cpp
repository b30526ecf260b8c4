#include "app/MetadataFile.h"

#include <fstream>

namespace Novaro
{
namespace MetadataFile
{

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<Entry> entries(const std::string& path)
{
    std::vector<Entry> result;
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number)
    {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string::size_type at = line.find('@');
        if (at == std::string::npos)
            result.push_back({line, line, number});
        else
            result.push_back({trim(line.substr(0, at)), trim(line.substr(at + 1)), number});
    }
    return result;
}

std::string lookup(const std::string& path, const std::string& key)
{
    for (const Entry& entry : entries(path))
        if (entry.key == key)
            return entry.value;
    return std::string();
}

} // namespace MetadataFile
} // namespace Novaro
