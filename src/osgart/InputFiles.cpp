#include "osgART/InputFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace osgART
{

namespace
{

// JPEG files hold a handful of segments before the frame header; more is not a JPEG worth reading.
const int kMaximumJpegSegments = 4096;

uint32_t bigEndian(const unsigned char* bytes, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

uint32_t littleEndian(const unsigned char* bytes, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

bool setSize(uint32_t width, uint32_t height, int& outWidth, int& outHeight)
{
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu)
        return false;
    outWidth = int(width);
    outHeight = int(height);
    return true;
}

bool readBytes(std::istream& in, unsigned char* bytes, std::size_t count)
{
    in.read(reinterpret_cast<char*>(bytes), std::streamsize(count));
    return std::size_t(in.gcount()) == count;
}

// Walks the segments up to the first start-of-frame marker, which carries the size.
bool jpegSize(std::istream& in, int& width, int& height)
{
    in.seekg(2);
    unsigned char bytes[9];
    for (int segment = 0; segment < kMaximumJpegSegments; ++segment)
    {
        if (!readBytes(in, bytes, 2) || bytes[0] != 0xff)
            return false;
        unsigned char marker = bytes[1];
        while (marker == 0xff) // fill bytes
            if (!readBytes(in, &marker, 1))
                return false;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue; // markers without a length
        if (!readBytes(in, bytes, 2))
            return false;
        const uint32_t length = bigEndian(bytes, 2);
        if (length < 2)
            return false;
        const bool frameHeader =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frameHeader)
            return length >= 7 && readBytes(in, bytes, 5) &&
                   setSize(bigEndian(bytes + 3, 2), bigEndian(bytes + 1, 2), width, height);
        in.seekg(std::streamoff(length - 2), std::ios::cur);
    }
    return false;
}

bool bmpSize(std::istream& in, int& width, int& height)
{
    unsigned char header[26];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)))
        return false;
    const uint32_t headerSize = littleEndian(header + 14, 4);
    if (headerSize == 12)
        return setSize(littleEndian(header + 18, 2), littleEndian(header + 20, 2), width, height);
    const int32_t signedHeight = int32_t(littleEndian(header + 22, 4));
    // Top-down bitmaps store a negative height.
    const uint32_t rows = signedHeight < 0 ? 0u - uint32_t(signedHeight) : uint32_t(signedHeight);
    return setSize(littleEndian(header + 18, 4), rows, width, height);
}

bool pnmNumber(std::istream& in, uint32_t& value)
{
    int c = in.get();
    while (c != EOF && (std::isspace(c) || c == '#'))
    {
        if (c == '#')
            while (c != EOF && c != '\n')
                c = in.get();
        c = in.get();
    }
    uint64_t number = 0;
    int digits = 0;
    for (; c != EOF && std::isdigit(c) && digits < 10; ++digits, c = in.get())
        number = number * 10 + uint64_t(c - '0');
    if (digits == 0 || number > 0x7fffffffu)
        return false;
    value = uint32_t(number);
    return true;
}

// GIF: the logical screen's size, which the decoder allocates, after the "GIF87a" or "GIF89a"
// signature.
bool gifSize(std::istream& in, int& width, int& height)
{
    unsigned char header[10];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)) || !std::equal(header, header + 3, "GIF"))
        return false;
    return setSize(littleEndian(header + 6, 2), littleEndian(header + 8, 2), width, height);
}

// TIFF: the first directory's ImageWidth (256) and ImageLength (257) entries, short or long.
bool tiffSize(std::istream& in, bool little, int& width, int& height)
{
    const auto number = [little](const unsigned char* bytes, int count)
    { return little ? littleEndian(bytes, count) : bigEndian(bytes, count); };
    unsigned char header[8];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)) || number(header + 2, 2) != 42)
        return false;
    in.seekg(std::streamoff(number(header + 4, 4)));
    unsigned char countBytes[2];
    if (!readBytes(in, countBytes, 2))
        return false;
    const uint32_t entries = number(countBytes, 2);
    uint32_t columns = 0, rows = 0;
    for (uint32_t i = 0; i < entries && i < 4096; ++i)
    {
        unsigned char entry[12];
        if (!readBytes(in, entry, sizeof(entry)))
            return false;
        const uint32_t tag = number(entry, 2), type = number(entry + 2, 2);
        const uint32_t value = type == 3 ? number(entry + 8, 2) : number(entry + 8, 4);
        if (tag == 256)
            columns = value;
        else if (tag == 257)
            rows = value;
    }
    return setSize(columns, rows, width, height);
}

// SGI (".rgb", ".rgba", ".bw", ".int", ".inta"): big-endian sizes after magic 474, storage and bytes
// per channel, and the dimension count.
bool sgiSize(std::istream& in, int& width, int& height)
{
    unsigned char header[10];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)))
        return false;
    return setSize(bigEndian(header + 6, 2), bigEndian(header + 8, 2), width, height);
}

// DDS: the "DDS " magic, then a header whose height and width are at bytes 12 and 16 of the file.
bool ddsSize(std::istream& in, int& width, int& height)
{
    unsigned char header[20];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)) || !std::equal(header, header + 4, "DDS "))
        return false;
    return setSize(littleEndian(header + 16, 4), littleEndian(header + 12, 4), width, height);
}

// TGA has no signature: recognised by its extension, the sizes are at bytes 12 and 14.
bool tgaSize(std::istream& in, int& width, int& height)
{
    unsigned char header[18];
    in.seekg(0);
    if (!readBytes(in, header, sizeof(header)))
        return false;
    return setSize(littleEndian(header + 12, 2), littleEndian(header + 14, 2), width, height);
}

bool hasExtension(const std::string& path, const std::string& extension)
{
    const std::string::size_type dot = path.find_last_of('.');
    if (dot == std::string::npos || path.size() - dot - 1 != extension.size())
        return false;
    return std::equal(extension.begin(), extension.end(), path.begin() + dot + 1,
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

} // namespace

bool isReadableRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error) &&
           ::access(path.c_str(), R_OK) == 0;
}

bool readBoundedFile(const std::string& path, std::size_t maxBytes, std::string& content, std::string& error)
{
    if (!isReadableRegularFile(path))
    {
        error = "not a readable regular file";
        return false;
    }
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (sizeError || size > maxBytes)
    {
        error = "file is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    content.assign(std::size_t(size), '\0');
    in.read(&content[0], std::streamsize(size));
    // A file that grew meanwhile is read up to the size checked.
    if (std::size_t(in.gcount()) != size)
    {
        error = "file could not be read";
        return false;
    }
    return true;
}

int xmlNestingDepth(const std::string& xml)
{
    int depth = 0;
    int deepest = 0;
    std::size_t at = 0;
    auto skipPast = [&](const char* end, std::size_t from)
    {
        const std::size_t found = xml.find(end, from);
        return found == std::string::npos ? found : found + std::char_traits<char>::length(end);
    };
    while ((at = xml.find('<', at)) != std::string::npos)
    {
        if (xml.compare(at, 4, "<!--") == 0)
            at = skipPast("-->", at + 4);
        else if (xml.compare(at, 9, "<![CDATA[") == 0)
            at = skipPast("]]>", at + 9);
        else if (xml.compare(at, 2, "<?") == 0)
            at = skipPast(">", at + 2); // TinyXML ends an instruction there, not at "?>"
        else if (xml.compare(at, 2, "<!") == 0)
            at = skipPast(">", at + 2);
        else if (xml.compare(at, 2, "</") == 0)
        {
            if (depth > 0)
                --depth;
            at = skipPast(">", at + 2);
        }
        else
        {
            char quote = 0;
            std::size_t end = at + 1;
            for (; end < xml.size(); ++end)
            {
                const char c = xml[end];
                if (quote)
                    quote = c == quote ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            if (end >= xml.size())
                break;
            if (xml[end - 1] != '/')
                deepest = std::max(deepest, ++depth);
            at = end + 1;
        }
        if (at == std::string::npos)
            break;
    }
    return deepest;
}

int yamlNestingDepth(const std::string& yaml)
{
    // Block levels: a stack of the indentations of the open blocks. Flow levels: open brackets.
    std::vector<std::size_t> indentations;
    int flow = 0;
    int deepest = 0;
    std::size_t at = 0;
    while (at < yaml.size())
    {
        std::size_t lineEnd = yaml.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = yaml.size();
        std::size_t column = at;
        while (column < lineEnd && (yaml[column] == ' ' || yaml[column] == '\t'))
            ++column;
        const bool content = column < lineEnd && yaml[column] != '#' && yaml[column] != '\r';
        if (content && flow == 0)
        {
            std::size_t indentation = column - at;
            while (!indentations.empty() && indentations.back() >= indentation)
                indentations.pop_back();
            indentations.push_back(indentation);
            // "- - - x" opens one sequence level per dash.
            while (column + 1 < lineEnd && yaml[column] == '-' && yaml[column + 1] == ' ')
            {
                column += 2;
                while (column < lineEnd && yaml[column] == ' ')
                    ++column;
                indentations.push_back(++indentation);
            }
        }
        char quote = 0;
        for (std::size_t i = column; i < lineEnd && content; ++i)
        {
            const char c = yaml[i];
            if (quote)
                quote = c == quote ? 0 : quote;
            else if (c == '"' || c == '\'')
                quote = c;
            else if (c == '#' && (i == column || yaml[i - 1] == ' '))
                break;
            else if (c == '[' || c == '{')
                deepest = std::max(deepest, int(indentations.size()) + ++flow);
            else if ((c == ']' || c == '}') && flow > 0)
                --flow;
        }
        deepest = std::max(deepest, int(indentations.size()) + flow);
        at = lineEnd + 1;
    }
    return deepest;
}

bool readImageHeaderSize(const std::string& path, int& width, int& height)
{
    if (!isReadableRegularFile(path))
        return false;
    std::ifstream in(path, std::ios::binary);
    unsigned char signature[24];
    if (!readBytes(in, signature, 2))
        return false;
    if (signature[0] == 'G' && signature[1] == 'I')
        return gifSize(in, width, height);
    if ((signature[0] == 'I' && signature[1] == 'I') || (signature[0] == 'M' && signature[1] == 'M'))
        return tiffSize(in, signature[0] == 'I', width, height);
    if (signature[0] == 0x01 && signature[1] == 0xda)
        return sgiSize(in, width, height);
    if (signature[0] == 'D' && signature[1] == 'D')
        return ddsSize(in, width, height);
    if (hasExtension(path, "tga"))
        return tgaSize(in, width, height);
    if (signature[0] == 0xff && signature[1] == 0xd8)
        return jpegSize(in, width, height);
    if (signature[0] == 'B' && signature[1] == 'M')
        return bmpSize(in, width, height);
    if (signature[0] == 'P' && signature[1] >= '1' && signature[1] <= '6')
    {
        uint32_t columns = 0, rows = 0;
        return pnmNumber(in, columns) && pnmNumber(in, rows) && setSize(columns, rows, width, height);
    }
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!readBytes(in, signature + 2, sizeof(signature) - 2) || !std::equal(png, png + 8, signature) ||
        !std::equal(signature + 12, signature + 16, "IHDR"))
        return false;
    return setSize(bigEndian(signature + 16, 4), bigEndian(signature + 20, 4), width, height);
}

bool checkImageHeader(const std::string& path, std::string& reason)
{
    int width = 0, height = 0;
    if (!readImageHeaderSize(path, width, height))
    {
        reason = "its size cannot be read from its header (it is not a PNG, JPEG, BMP, PNM, GIF, TIFF, "
                 "SGI, DDS or TGA picture, or its header is damaged)";
        return false;
    }
    if (!isShowableImageSize(width, height))
    {
        reason = "its header claims " + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels, more than " + std::to_string(kMaximumImageSide) + " on a side";
        return false;
    }
    return true;
}

bool checkPictureIsWhole(const std::string& path, std::string& reason)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char signature[8] = {};
    if (!readBytes(in, signature, sizeof(signature)))
        return true;
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const bool isJpeg = signature[0] == 0xff && signature[1] == 0xd8;
    const bool isPng = std::equal(png, png + 8, signature);
    if (!isJpeg && !isPng)
        return true;
    // Cameras may append a trailer after the end marker; 4 KiB covers those seen in practice.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff tail = std::min<std::streamoff>(size - 2, 4096);
    std::string last(std::size_t(tail), '\0');
    in.seekg(size - tail);
    in.read(&last[0], tail);
    const std::string end = isJpeg ? std::string("\xff\xd9", 2) : std::string("IEND");
    if (last.find(end) != std::string::npos)
        return true;
    reason = std::string("it is cut short: its ") + (isJpeg ? "JPEG" : "PNG") +
             " end marker is missing, so part of the picture would be blank";
    return false;
}

} // namespace osgART
