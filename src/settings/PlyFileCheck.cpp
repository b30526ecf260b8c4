#include "settings/PlyFileCheck.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
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

// The words of a line, split as the reader splits them: at spaces, tabs and carriage returns.
std::vector<std::string> wordsOf(const std::string& line)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// The next line from at (without its '\n'); at moves past it.
std::string nextLine(const std::string& data, size_t& at)
{
    const size_t end = std::min(data.find('\n', at), data.size());
    const std::string line = data.substr(at, end - at);
    at = end + 1;
    return line;
}

struct Property
{
    std::string name;
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

struct Header
{
    Format format = Format::ASCII;
    bool formatKnown = false;
    std::vector<Element> elements;
    size_t dataStart = 0; ///< the byte after the end_header line
};

// The reader reads these elements' data and no other's: it reads the vertices and the faces in
// the order of the header, and skips every other element without reading its data.
bool isVertex(const Element& element)
{
    return element.name == "vertex";
}
bool isFace(const Element& element)
{
    return element.name == "face";
}
bool isRead(const Element& element)
{
    return isVertex(element) || isFace(element);
}

// The face property the reader takes its vertex numbers from.
bool isVertexIndices(const Property& property)
{
    return property.name == "vertex_indices" || property.name == "vertex_index";
}

// The vertex properties the reader takes, each into a scalar of its own.
bool isVertexScalar(const Property& property)
{
    static const std::set<std::string> names = {"x",
                                                "y",
                                                "z",
                                                "nx",
                                                "ny",
                                                "nz",
                                                "red",
                                                "green",
                                                "blue",
                                                "alpha",
                                                "ambient_red",
                                                "ambient_green",
                                                "ambient_blue",
                                                "diffuse_red",
                                                "diffuse_green",
                                                "diffuse_blue",
                                                "specular_red",
                                                "specular_green",
                                                "specular_blue",
                                                "specular_coeff",
                                                "specular_power"};
    return names.count(property.name) > 0;
}

// The reader stores a list where it expects one and a scalar where it expects one, whatever the
// file says: a list read into a vertex's scalar overwrites its neighbours, and a scalar read into
// a face's list of vertex numbers is taken for where that list lies.
std::string shapeProblem(const Element& element, const Property& property)
{
    if (isFace(element) && isVertexIndices(property) && !property.list)
        return "face property \"" + property.name + "\" is not a list";
    if (isVertex(element) && isVertexScalar(property) && property.list)
        return "vertex property \"" + property.name + "\" is a list";
    return std::string();
}

// Bytes of a PLY scalar type the reader knows; 0 for one it does not (it fails on int8, int16,
// uint16, uint32 and float64, which other writers use).
int bytesOf(const std::string& type)
{
    static const std::map<std::string, int> sizes = {
        {"char", 1},  {"uchar", 1}, {"uint8", 1}, {"short", 2},   {"ushort", 2}, {"int", 4},
        {"int32", 4}, {"uint", 4},  {"float", 4}, {"float32", 4}, {"double", 8}};
    const auto found = sizes.find(type);
    return found == sizes.end() ? 0 : found->second;
}

bool isSigned(const std::string& type)
{
    return type == "char" || type == "short" || type == "int" || type == "int32";
}

bool isFloatingPoint(const std::string& type)
{
    return type == "float" || type == "float32" || type == "double";
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
// words all there); empty, or why the reader cannot take it. Types matter only in the elements
// the reader reads.
std::string readProperty(const std::vector<std::string>& words, bool read, Property& property)
{
    std::string type = words[1];
    property.name = words[2];
    if (type == "list")
    {
        const std::string& countType = words[2];
        type = words[3];
        property.name = words[4];
        property.list = true;
        property.countBytes = bytesOf(countType);
        property.countSigned = isSigned(countType);
        if (read && (property.countBytes == 0 || isFloatingPoint(countType)))
            return "a list counted by \"" + countType + "\"";
    }
    property.valueBytes = bytesOf(type);
    property.valueInteger = !isFloatingPoint(type);
    property.valueSigned = isSigned(type);
    return read && property.valueBytes == 0 ? "unknown property type \"" + type + "\"" : std::string();
}

// An element statement: its name and count, which the reader takes as an int.
std::string readElement(const std::vector<std::string>& words, Element& element)
{
    element.name = words[1];
    char* stop = nullptr;
    element.count = std::strtoull(words[2].c_str(), &stop, 10);
    if (*stop != '\0' || words[2][0] == '-')
        return "element \"" + element.name + "\" has no count";
    if (element.count > uint64_t(INT_MAX))
        return "element \"" + element.name + "\" counts more than " + std::to_string(INT_MAX);
    return std::string();
}

// One header statement, known by its first word as the reader knows it; a line it does not know
// is a comment to it. Empty, or why the reader cannot take it.
std::string readStatement(const std::vector<std::string>& words, Header& header)
{
    const std::string& keyword = words[0];
    // Every statement the reader takes needs all its words: it reads a missing one as nothing.
    const bool list = keyword == "property" && words.size() > 1 && words[1] == "list";
    const size_t needed = keyword == "format" || keyword == "element" ? 3
                          : keyword == "property"                     ? (list ? 5 : 3)
                                                                      : 0;
    if (words.size() < needed)
        return "\"" + keyword + "\" needs " + std::to_string(needed) + " words";
    if (keyword == "format")
    {
        header.formatKnown = true;
        return formatNamed(words[1], header.format) ? std::string() : "unknown format \"" + words[1] + "\"";
    }
    if (keyword == "element")
    {
        header.elements.emplace_back();
        return readElement(words, header.elements.back());
    }
    if (keyword != "property")
        return std::string();
    if (header.elements.empty())
        return "a property before any element";
    Element& element = header.elements.back();
    element.properties.emplace_back();
    return readProperty(words, isRead(element), element.properties.back());
}

// The header as the reader reads it: line by line up to the first whose first word is
// end_header. Empty, or why the reader cannot take it.
std::string readHeader(const std::string& data, Header& header)
{
    size_t at = 0;
    for (int number = 1;; ++number)
    {
        if (at >= data.size() || at > kLargestHeader)
            return "its header has no end_header in its first " + std::to_string(kLargestHeader / 1024) +
                   " KiB";
        const std::string line = nextLine(data, at);
        const std::string where = "header line " + std::to_string(number) + ": ";
        const std::string problem = lineProblem(line);
        if (!problem.empty())
            return where + "it " + problem;
        const std::vector<std::string> words = wordsOf(line);
        // The reader looks at a line's first word even when it has none.
        if (words.empty())
            return where + "it is empty";
        if (number == 1)
        {
            if (words[0] != "ply")
                return where + "it does not start with \"ply\"";
            continue;
        }
        if (words[0] == "end_header")
        {
            header.dataStart = std::min(at, data.size());
            return header.formatKnown ? std::string() : "its header has no format line";
        }
        const std::string statement = readStatement(words, header);
        if (!statement.empty())
            return where + statement;
    }
}

// The elements as the reader builds on them: each with properties, vertices and faces once each,
// and faces read into vertices, so a face element needs a vertex element before it and at least
// one vertex. Sets the number of
// vertices the faces may name.
std::string checkElements(const std::vector<Element>& elements, uint64_t& vertices)
{
    vertices = 0;
    bool vertexElement = false;
    std::set<std::string> readNames;
    for (const Element& element : elements)
    {
        // The reader finds an element by its name, so it reads a second one with the first's
        // properties.
        if (isRead(element) && !readNames.insert(element.name).second)
            return "element \"" + element.name + "\" is declared twice";
        // The reader frees an element's properties unset when it has none.
        if (element.properties.empty())
            return "element \"" + element.name + "\" has no properties";
        for (const Property& property : element.properties)
        {
            const std::string shape = shapeProblem(element, property);
            if (!shape.empty())
                return shape;
        }
        if (isVertex(element))
        {
            vertexElement = true;
            vertices += element.count;
        }
        else if (isFace(element) && !vertexElement)
            return "element \"face\" has no \"vertex\" element before it";
    }
    return vertices == 0 ? "it has no vertices" : std::string();
}

// In text files the reader sizes every list of an element it reads by the type it was asked to
// store it as, asked or not: only a face's first vertex-number list is asked for, so any other
// list there is sized by a type never set.
std::string checkTextLists(const std::vector<Element>& elements)
{
    for (const Element& element : elements)
    {
        bool indicesSeen = false;
        for (const Property& property : element.properties)
        {
            if (!isRead(element) || !property.list)
                continue;
            if (isFace(element) && isVertexIndices(property) && !indicesSeen)
                indicesSeen = true;
            else
                return "element \"" + element.name + "\" has a list \"" + property.name +
                       "\" in a text file, where the reader takes only a face's list of vertices (saved as "
                       "binary PLY, the file keeps it)";
        }
    }
    return std::string();
}

// Whether a face's vertex number, as the reader converts it to an int, is one of the vertices.
bool indexFits(double index, uint64_t vertices)
{
    return index > -1.0 && std::trunc(index) < double(vertices);
}

// A vertex number written in text, read as the reader reads it: the leading integer of the word
// for integer types, the whole number truncated for floating-point ones.
double textIndex(const std::string& word, const Property& property)
{
    return property.valueInteger ? double(std::atoll(word.c_str())) : std::strtod(word.c_str(), nullptr);
}

// How many values a text record needs for its properties (a list: its count, then that many);
// names an out-of-range face vertex in problem. SIZE_MAX when a count is not one.
size_t valuesNeeded(const Element& element, const std::vector<std::string>& values, uint64_t vertices,
                    std::string& problem)
{
    size_t needed = 0;
    for (const Property& property : element.properties)
    {
        if (!property.list)
        {
            ++needed;
            continue;
        }
        const long long count = needed < values.size() ? std::atoll(values[needed].c_str()) : -1;
        if (count < 0 || uint64_t(count) > values.size())
            return SIZE_MAX;
        if (isFace(element) && isVertexIndices(property))
            for (size_t value = needed + 1; value <= needed + size_t(count) && value < values.size(); ++value)
                if (!indexFits(textIndex(values[value], property), vertices))
                {
                    problem = "names vertex " + values[value] + " of " + std::to_string(vertices);
                    return needed;
                }
        needed += 1 + size_t(count);
    }
    return needed;
}

// Walks the text records of the elements the reader reads, a line each; else why not.
std::string walkText(const std::string& data, size_t at, const std::vector<Element>& elements,
                     uint64_t vertices)
{
    int number = 0;
    for (const Element& element : elements)
        for (uint64_t index = 0; isRead(element) && index < element.count; ++index)
        {
            if (at >= data.size())
                return "element \"" + element.name + "\" declares " + std::to_string(element.count) +
                       ", the file holds " + std::to_string(index);
            const std::string line = nextLine(data, at);
            const std::string where = "data line " + std::to_string(++number);
            const std::string problem = lineProblem(line);
            if (!problem.empty())
                return where + " " + problem;
            const std::vector<std::string> values = wordsOf(line);
            std::string badIndex;
            const size_t needed = valuesNeeded(element, values, vertices, badIndex);
            if (!badIndex.empty())
                return where + " (face " + std::to_string(index) + ") " + badIndex;
            if (values.size() < needed)
                return where + " (element \"" + element.name + "\" " + std::to_string(index) + ") holds " +
                       std::to_string(values.size()) + " values, fewer than its properties need";
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

// A binary value as the reader converts it to a number.
double binaryValue(const std::string& data, size_t at, const Property& property, bool bigEndian)
{
    const uint64_t bits = unsignedAt(data, at, property.valueBytes, bigEndian);
    if (!property.valueInteger)
    {
        if (property.valueBytes == 8)
        {
            double value = 0;
            std::memcpy(&value, &bits, 8);
            return value;
        }
        const uint32_t narrow = uint32_t(bits);
        float value = 0;
        std::memcpy(&value, &narrow, 4);
        return value;
    }
    if (property.valueSigned && isNegative(bits, property.valueBytes))
        return -1.0;
    return double(bits);
}

// The bytes of one binary property's value (a list's values after its count, which at moves past);
// SIZE_MAX when they cannot be in the file.
uint64_t binaryBytes(const std::string& data, size_t& at, const Property& property, bool bigEndian)
{
    if (!property.list)
        return uint64_t(property.valueBytes);
    if (data.size() - at < size_t(property.countBytes))
        return SIZE_MAX;
    const uint64_t count = unsignedAt(data, at, property.countBytes, bigEndian);
    at += size_t(property.countBytes);
    if (property.countSigned && isNegative(count, property.countBytes))
        return SIZE_MAX;
    return count * uint64_t(property.valueBytes);
}

// Walks the binary records of the elements the reader reads, their lists' counts read; else why
// not.
std::string walkBinary(const std::string& data, size_t at, const std::vector<Element>& elements,
                       bool bigEndian, uint64_t vertices)
{
    for (const Element& element : elements)
        for (uint64_t index = 0; isRead(element) && index < element.count; ++index)
            for (const Property& property : element.properties)
            {
                const uint64_t bytes = binaryBytes(data, at, property, bigEndian);
                if (bytes > data.size() - at)
                    return "element \"" + element.name + "\" " + std::to_string(index) +
                           " runs past the end of the file";
                if (isFace(element) && isVertexIndices(property))
                    for (uint64_t offset = 0; offset < bytes; offset += uint64_t(property.valueBytes))
                        if (!indexFits(binaryValue(data, at + size_t(offset), property, bigEndian), vertices))
                            return "face " + std::to_string(index) + " names a vertex past the " +
                                   std::to_string(vertices) + " declared";
                at += size_t(bytes);
            }
    return std::string();
}

} // namespace

std::string checkPlyData(const std::string& data)
{
    Header header;
    const std::string headerProblem = readHeader(data, header);
    if (!headerProblem.empty())
        return headerProblem;
    uint64_t vertices = 0;
    const std::string elementProblem = checkElements(header.elements, vertices);
    if (!elementProblem.empty())
        return elementProblem;
    if (header.format == Format::ASCII)
    {
        const std::string listProblem = checkTextLists(header.elements);
        if (!listProblem.empty())
            return listProblem;
    }
    return header.format == Format::ASCII ? walkText(data, header.dataStart, header.elements, vertices)
                                          : walkBinary(data, header.dataStart, header.elements,
                                                       header.format == Format::BIG_ENDIAN_BINARY, vertices);
}

} // namespace Novaro
