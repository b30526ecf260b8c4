#include "settings/PlyFileCheck.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

namespace Novaro
{

namespace
{

// Longest header read, bytes: a real one is a few hundred.
const size_t kLargestHeader = 64 * 1024;

struct Property
{
    bool list = false;
    int countBytes = 0; ///< a list's count
    int valueBytes = 0; ///< a scalar, or each of a list's values
    bool countSigned = false;
};

struct Element
{
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Format
{
    ASCII,
    LITTLE_ENDIAN_BINARY,
    BIG_ENDIAN_BINARY
};

// Bytes of a PLY scalar type; 0 for an unknown one.
int bytesOf(const std::string& type)
{
    static const std::map<std::string, int> sizes = {
        {"char", 1},   {"int8", 1},    {"uchar", 1},  {"uint8", 1},  {"short", 2}, {"int16", 2},
        {"ushort", 2}, {"uint16", 2},  {"int", 4},    {"int32", 4},  {"uint", 4},  {"uint32", 4},
        {"float", 4},  {"float32", 4}, {"double", 8}, {"float64", 8}};
    const auto found = sizes.find(type);
    return found == sizes.end() ? 0 : found->second;
}

bool isSigned(const std::string& type)
{
    return type == "char" || type == "int8" || type == "short" || type == "int16" || type == "int" ||
           type == "int32";
}

// The header's elements and format, and where the data starts; else why not.
std::string readHeader(const std::string& data, Format& format, std::vector<Element>& elements, size_t& end)
{
    const size_t close = data.find("end_header");
    if (close == std::string::npos || close > kLargestHeader)
        return "its header has no end_header in its first " + std::to_string(kLargestHeader / 1024) + " KiB";
    end = data.find('\n', close);
    end = end == std::string::npos ? data.size() : end + 1;
    std::istringstream header(data.substr(0, close));
    std::string line;
    bool formatKnown = false;
    for (int number = 1; std::getline(header, line); ++number)
    {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        const std::string at = "header line " + std::to_string(number) + ": ";
        if (keyword == "format")
        {
            std::string name;
            words >> name;
            formatKnown = true;
            if (name == "ascii")
                format = Format::ASCII;
            else if (name == "binary_little_endian")
                format = Format::LITTLE_ENDIAN_BINARY;
            else if (name == "binary_big_endian")
                format = Format::BIG_ENDIAN_BINARY;
            else
                return at + "unknown format \"" + name + "\"";
        }
        else if (keyword == "element")
        {
            Element element;
            std::string count;
            words >> element.name >> count;
            char* stop = nullptr;
            element.count = std::strtoull(count.c_str(), &stop, 10);
            if (count.empty() || *stop != '\0' || count[0] == '-')
                return at + "element \"" + element.name + "\" has no count";
            elements.push_back(element);
        }
        else if (keyword == "property")
        {
            if (elements.empty())
                return at + "a property before any element";
            Property property;
            std::string type, countType;
            words >> type;
            if (type == "list")
            {
                words >> countType >> type;
                property.list = true;
                property.countBytes = bytesOf(countType);
                property.countSigned = isSigned(countType);
                if (property.countBytes == 0 || countType == "float" || countType == "float32" ||
                    countType == "double" || countType == "float64")
                    return at + "a list counted by \"" + countType + "\"";
            }
            property.valueBytes = bytesOf(type);
            if (property.valueBytes == 0)
                return at + "unknown property type \"" + type + "\"";
            elements.back().properties.push_back(property);
        }
    }
    return formatKnown ? std::string() : "its header has no format line";
}

// Walks the ASCII elements, a line each; else why not.
std::string walkText(const std::string& data, size_t start, const std::vector<Element>& elements)
{
    std::istringstream text(data.substr(start));
    std::string line;
    int number = 0;
    for (const Element& element : elements)
        for (uint64_t index = 0; index < element.count; ++index)
        {
            if (!std::getline(text, line))
                return "element \"" + element.name + "\" declares " + std::to_string(element.count) +
                       ", the file holds " + std::to_string(index);
            ++number;
            std::istringstream words(line);
            std::vector<std::string> values;
            for (std::string word; words >> word;)
                values.push_back(word);
            size_t needed = 0;
            for (const Property& property : element.properties)
            {
                if (!property.list)
                {
                    ++needed;
                    continue;
                }
                const long long count = needed < values.size() ? std::atoll(values[needed].c_str()) : -1;
                if (count < 0)
                {
                    needed = values.size() + 1;
                    break;
                }
                needed += 1 + size_t(count);
            }
            if (values.size() < needed)
                return "data line " + std::to_string(number) + " (element \"" + element.name + "\" " +
                       std::to_string(index) + ") holds " + std::to_string(values.size()) +
                       " values, fewer than its properties need";
        }
    return std::string();
}

uint64_t unsignedAt(const std::string& data, size_t at, int bytes, bool bigEndian)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
    {
        const uint64_t byte = static_cast<unsigned char>(data[at + (bigEndian ? i : bytes - 1 - i)]);
        value = (value << 8) | byte;
    }
    return value;
}

// Walks the binary elements, their lists' counts read; else why not.
std::string walkBinary(const std::string& data, size_t at, const std::vector<Element>& elements,
                       bool bigEndian)
{
    for (const Element& element : elements)
        for (uint64_t index = 0; index < element.count; ++index)
            for (const Property& property : element.properties)
            {
                uint64_t bytes = uint64_t(property.valueBytes);
                if (property.list)
                {
                    if (data.size() - at < size_t(property.countBytes))
                        bytes = data.size();
                    else
                    {
                        const uint64_t count = unsignedAt(data, at, property.countBytes, bigEndian);
                        const bool negative =
                            property.countSigned && (count >> (8 * property.countBytes - 1)) != 0;
                        at += size_t(property.countBytes);
                        bytes = negative ? data.size() : count * uint64_t(property.valueBytes);
                    }
                }
                if (bytes > data.size() - at)
                    return "element \"" + element.name + "\" " + std::to_string(index) +
                           " runs past the end of the file";
                at += size_t(bytes);
            }
    return std::string();
}

} // namespace

std::string checkPlyData(const std::string& data)
{
    if (data.compare(0, 3, "ply") != 0)
        return std::string();
    Format format = Format::ASCII;
    std::vector<Element> elements;
    size_t start = 0;
    const std::string header = readHeader(data, format, elements, start);
    if (!header.empty())
        return header;
    return format == Format::ASCII ? walkText(data, start, elements)
                                   : walkBinary(data, start, elements, format == Format::BIG_ENDIAN_BINARY);
}

} // namespace Novaro
