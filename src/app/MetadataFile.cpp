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

std::string lookup(const std::string& path, const std::string& key)
{
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (!file)
        return std::string();
    std::string line;
    while (std::getline(file, line))
    {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string::size_type at = line.find('@');
        std::string lineKey = line;
        std::string value = line;
        if (at != std::string::npos)
        {
            lineKey = trim(line.substr(0, at));
            value = trim(line.substr(at + 1));
        }
        if (lineKey == key)
            return value;
    }
    return std::string();
}

} // namespace MetadataFile
} // namespace Novaro
