#include "settings/PlyFileCheck.h"

#include <algorithm>
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
// Longest line the reader takes whole, characters: it reads lines into a 4096-byte buffer, and the
// rest of a longer one would come to it as the next line.
const size_t kLongestLine = 4000;

// Why a line cannot go to the reader as it is: too long, or holding a control character (a NUL
// ends the reader's copy of it early, and its words with it); empty when it can.
std::string lineProblem(const std::string& line)
{
    if (line.size() > kLongestLine)
        return "is longer than " + std::to_string(kLongestLine) + " characters";
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r')
            return "holds a control character";
    return std::string();
}

// The words of a line, split as the reader splits them.
std::vector<std::string> wordsOf(const std::string& line)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

struct Property
{
    bool list = false;
    int countBytes = 0; ///< a list's count
    int valueBytes = 0; ///< a scalar, or each of a list's values
    bool countSigned = false;
    bool valueInteger = false, valueSigned = false;
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

bool formatNamed(const std::string& name, Format& format)
{
    static const std::map<std::string, Format> formats = {
        {"ascii", Format::ASCII},
        {"binary_little_endian", Format::LITTLE_ENDIAN_BINARY},
        {"binary_big_endian", Format::BIG_ENDIAN_BINARY}};
    const auto found = formats.find(name);
    if (found == formats.end())
        return false;
    format = found->second;
    return true;
}

// A property statement's types ("property TYPE NAME" or "property list COUNT_TYPE TYPE NAME", its
// words all there); empty, or why the reader cannot take it.
std::string readProperty(const std::vector<std::string>& words, Property& property)
{
    std::string type = words[1];
    if (type == "list")
    {
        const std::string& countType = words[2];
        type = words[3];
        property.list = true;
        property.countBytes = bytesOf(countType);
        property.countSigned = isSigned(countType);
        if (property.countBytes == 0 || countType.find("float") != std::string::npos || countType == "double")
            return "a list counted by \"" + countType + "\"";
    }
    property.valueBytes = bytesOf(type);
    property.valueInteger = type.find("float") == std::string::npos && type != "double";
    property.valueSigned = isSigned(type);
    return property.valueBytes == 0 ? "unknown property type \"" + type + "\"" : std::string();
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
        const std::string at = "header line " + std::to_string(number) + ": ";
        const std::string problem = lineProblem(line);
        if (!problem.empty())
            return at + "it " + problem;
        const std::vector<std::string> words = wordsOf(line);
        const std::string keyword = words.empty() ? std::string() : words[0];
        // Every statement the reader takes needs all its words: it reads a missing one as nothing.
        const bool list = keyword == "property" && words.size() > 1 && words[1] == "list";
        const size_t needed = keyword == "format" || keyword == "element" ? 3
                              : keyword == "property"                     ? (list ? 5 : 3)
                                                                          : 0;
        if (words.size() < needed)
            return at + "\"" + keyword + "\" needs " + std::to_string(needed) + " words";
        if (keyword == "format")
        {
            formatKnown = true;
            if (!formatNamed(words[1], format))
                return at + "unknown format \"" + words[1] + "\"";
        }
        else if (keyword == "element")
        {
            Element element;
            element.name = words[1];
            char* stop = nullptr;
            element.count = std::strtoull(words[2].c_str(), &stop, 10);
            if (*stop != '\0' || words[2][0] == '-')
                return at + "element \"" + element.name + "\" has no count";
            elements.push_back(element);
        }
        else if (keyword == "property")
        {
            if (elements.empty())
                return at + "a property before any element";
            Property property;
            const std::string problem = readProperty(words, property);
            if (!problem.empty())
                return at + problem;
            elements.back().properties.push_back(property);
        }
    }
    return formatKnown ? std::string() : "its header has no format line";
}

// Faces are the element the reader builds its triangles from, by their lists of vertex numbers.
bool isFace(const Element& element)
{
    return element.name == "face";
}

bool indexFits(long long index, uint64_t vertices)
{
    return index >= 0 && uint64_t(index) < vertices;
}

// Walks the ASCII elements, a line each; else why not.
std::string walkText(const std::string& data, size_t start, const std::vector<Element>& elements,
                     uint64_t vertices)
{
    size_t at = start;
    int number = 0;
    for (const Element& element : elements)
        for (uint64_t index = 0; index < element.count; ++index)
        {
            if (at >= data.size())
                return "element \"" + element.name + "\" declares " + std::to_string(element.count) +
                       ", the file holds " + std::to_string(index);
            const size_t end = std::min(data.find('\n', at), data.size());
            const std::string line = data.substr(at, end - at);
            at = end + 1;
            ++number;
            const std::string problem = lineProblem(line);
            if (!problem.empty())
                return "data line " + std::to_string(number) + " " + problem;
            const std::vector<std::string> values = wordsOf(line);
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
                if (isFace(element) && property.valueInteger)
                    for (size_t value = needed + 1; value <= needed + size_t(count) && value < values.size();
                         ++value)
                        if (!indexFits(std::atoll(values[value].c_str()), vertices))
                            return "data line " + std::to_string(number) + " (face " + std::to_string(index) +
                                   ") names vertex " + values[value] + " of " + std::to_string(vertices);
                needed += 1 + size_t(count);
            }
            if (values.size() < needed)
                return "data line " + std::to_string(number) + " (element \"" + element.name + "\" " +
                       std::to_string(index) + ") holds " + std::to_string(values.size()) +
                       " values, fewer than its properties need";
        }
    return std::string();
}

// Whether a value read as unsigned is negative in its signed type of that many bytes.
bool isNegative(uint64_t value, int bytes)
{
    return (value >> (8 * bytes - 1)) != 0;
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
                       bool bigEndian, uint64_t vertices)
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
                        const bool negative = property.countSigned && isNegative(count, property.countBytes);
                        at += size_t(property.countBytes);
                        bytes = negative ? data.size() : count * uint64_t(property.valueBytes);
                    }
                }
                if (bytes > data.size() - at)
                    return "element \"" + element.name + "\" " + std::to_string(index) +
                           " runs past the end of the file";
                if (property.list && isFace(element) && property.valueInteger)
                    for (uint64_t offset = 0; offset < bytes; offset += uint64_t(property.valueBytes))
                    {
                        const uint64_t value =
                            unsignedAt(data, at + size_t(offset), property.valueBytes, bigEndian);
                        if ((property.valueSigned && isNegative(value, property.valueBytes)) ||
                            value >= vertices)
                            return "face " + std::to_string(index) + " names a vertex past the " +
                                   std::to_string(vertices) + " declared";
                    }
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
    // The reader reads faces into the vertices it has read: a face element needs a vertex element
    // before it, and every vertex a face names must be one of them.
    uint64_t vertices = 0;
    bool vertexElement = false;
    for (const Element& element : elements)
    {
        if (element.name == "vertex")
        {
            vertexElement = true;
            vertices = element.count;
        }
        else if (isFace(element) && !vertexElement)
            return "element \"face\" has no \"vertex\" element before it";
    }
    if (vertices == 0)
        return "it has no vertices";
    return format == Format::ASCII
               ? walkText(data, start, elements, vertices)
               : walkBinary(data, start, elements, format == Format::BIG_ENDIAN_BINARY, vertices);
}

} // namespace Novaro
