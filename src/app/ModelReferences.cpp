#include "app/ModelReferences.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace Novaro
{
namespace ModelReferences
{

namespace
{

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string trimmed(const std::string& text, size_t from = 0)
{
    size_t first = from;
    while (first < text.size() && isSpace(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && isSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// The word at or after 'at' (from start to end), spaces skipped; false when none is left.
bool wordAt(const std::string& line, size_t at, size_t& start, size_t& end)
{
    start = at;
    while (start < line.size() && isSpace(line[start]))
        ++start;
    end = start;
    while (end < line.size() && !isSpace(line[end]))
        ++end;
    return start < end;
}

bool isNumber(const std::string& word)
{
    char* end = nullptr;
    std::strtod(word.c_str(), &end);
    return !word.empty() && end == word.c_str() + word.size();
}

// A file name as the model reader takes it: Windows exporters write ".\\wood.png", which it reads
// as "./wood.png".
std::string withSlashes(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

} // namespace

std::string materialLibrary(const std::string& line)
{
    size_t start = 0, end = 0;
    if (!wordAt(line, 0, start, end) || line.compare(start, end - start, "mtllib") != 0)
        return std::string();
    return withSlashes(trimmed(line, end));
}

std::string textureMap(const std::string& line)
{
    size_t start = 0, end = 0;
    if (!wordAt(line, 0, start, end))
        return std::string();
    const std::string statement = line.substr(start, end - start);
    if (statement.rfind("map_", 0) != 0 && statement != "bump" && statement != "disp" &&
        statement != "decal" && statement != "refl")
        return std::string();
    // Options: a word starting with '-', then its values: numbers and on/off, or the one word that
    // -imfchan and -type take. The file name is the rest of the line, spaces and all.
    size_t at = end;
    while (wordAt(line, at, start, end))
    {
        const std::string option = line.substr(start, end - start);
        if (option.size() < 2 || option[0] != '-' || isNumber(option))
            return withSlashes(trimmed(line, start));
        const bool takesWord = option == "-imfchan" || option == "-type";
        at = end;
        while (wordAt(line, at, start, end))
        {
            const std::string value = line.substr(start, end - start);
            if (!(takesWord || isNumber(value) || value == "on" || value == "off"))
                break;
            at = end;
            if (takesWord)
                break;
        }
    }
    return std::string();
}

std::vector<std::string> gltfUris(const std::string& text)
{
    std::vector<std::string> uris;
    const std::string key = "\"uri\"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + key.size()))
    {
        size_t i = at + key.size();
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i >= text.size() || text[i] != ':')
            continue;
        ++i;
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i >= text.size() || text[i] != '"')
            continue;
        const size_t close = text.find('"', i + 1);
        if (close == std::string::npos)
            break;
        uris.push_back(text.substr(i + 1, close - i - 1));
        at = close;
    }
    return uris;
}

} // namespace ModelReferences
} // namespace Novaro
