#include "osgART/MarkerDescription.h"
#include "osgART/InputFiles.h"

#include <osgDB/FileNameUtils>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace osgART
{

namespace
{

std::string trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool parseNumber(const std::string& text, double& value)
{
    const std::string trimmed = trim(text);
    if (trimmed.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(trimmed.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(value);
}

void setError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

// Largest multi-marker or tracker pattern file read, bytes (default 1 MiB: some ten thousand
// markers; real files hold a few).
const std::size_t kMaximumListBytes = 1 << 20;
// Largest marker side, and largest coordinate of a centre or pose, in the caller's units (default
// 1e6 and 1e7: a kilometre-wide marker in millimetres). Larger values only overflow the pose maths.
const double kMaximumMarkerSize = 1e6;
const double kMaximumCoordinate = 1e7;

bool isMarkerSize(double size)
{
    return size > 0.0 && size <= kMaximumMarkerSize;
}

bool areCoordinates(const std::vector<double>& values, size_t first)
{
    for (size_t i = first; i < values.size(); ++i)
        if (!(std::fabs(values[i]) <= kMaximumCoordinate))
            return false;
    return true;
}

// Smallest determinant of a submarker's rotation part (default 1e-6: a scale of 1/100 on every
// axis); exporters may scale submarkers, but a flat pose cannot be inverted.
const double kMinimumPoseDeterminant = 1e-6;

double determinant(const double (&m)[3][4])
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The meaningful lines of a file: comments ("#...") and blank lines dropped, the rest trimmed.
bool readContentLines(const std::string& fileName, std::vector<std::string>& lines, std::string* error)
{
    std::string content;
    std::string reason;
    if (!readBoundedFile(fileName, kMaximumListBytes, content, reason))
    {
        setError(error, "cannot read " + fileName + ": " + reason);
        return false;
    }
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line))
    {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        lines.push_back(line);
    }
    return true;
}

// Reads n numbers from consecutive lines starting at index, several numbers per line allowed.
bool readNumbers(const std::vector<std::string>& lines, size_t& index, size_t n, std::vector<double>& values)
{
    values.clear();
    while (values.size() < n)
    {
        if (index >= lines.size())
            return false;
        std::istringstream stream(lines[index++]);
        std::string token;
        while (stream >> token)
        {
            double value;
            if (!parseNumber(token, value))
                return false;
            values.push_back(value);
        }
    }
    return values.size() == n;
}

bool parseCount(const std::string& text, size_t& count)
{
    double value;
    if (!parseNumber(text, value) || value < 0 || value != std::floor(value) || value > 100000)
        return false;
    count = size_t(value);
    return true;
}

} // namespace

std::string resolvePath(const std::string& folder, const std::string& path)
{
    if (path.empty())
        return path;
    if (path[0] == '/')
        return path;
    if (path.size() > 2 && path[1] == ':' && path[2] == '\\')
        return path;
    std::string relative = path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (folder.empty())
        return relative;
    return osgDB::concatPaths(folder, relative);
}

bool MarkerDescription::parse(const std::string& text, std::string* error)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream stream(text);
    while (std::getline(stream, field, ';'))
        fields.push_back(trim(field));
    if (fields.size() < 3 || fields.size() > 5)
    {
        setError(error, "marker description needs TYPE;PATH;SIZE[;CX;CY]: " + text);
        return false;
    }
    const std::string type = lowerCase(fields[0]);
    if (type == "single")
        this->type = SINGLE;
    else if (type == "multi")
        this->type = MULTI;
    else if (type == "image")
        this->type = IMAGE;
    else
    {
        setError(error, "unknown marker type: " + fields[0]);
        return false;
    }
    if (fields[1].empty())
    {
        setError(error, "marker description has an empty pattern path");
        return false;
    }
    path = fields[1];
    if (!parseNumber(fields[2], size) || !isMarkerSize(size))
    {
        setError(error, "marker size is not a number within 0.." + std::to_string(int(kMaximumMarkerSize)) +
                            ": " + fields[2]);
        return false;
    }
    double x = 0.0, y = 0.0;
    if ((fields.size() > 3 && !parseNumber(fields[3], x)) ||
        (fields.size() > 4 && !parseNumber(fields[4], y)) || !areCoordinates({x, y}, 0))
    {
        setError(error, "marker centre is not a number: " + text);
        return false;
    }
    centre.set(x, y);
    return true;
}

bool MultiMarkerSetup::load(const std::string& fileName, std::string* error)
{
    std::vector<std::string> lines;
    if (!readContentLines(fileName, lines, error))
        return false;
    const std::string folder = osgDB::getFilePath(fileName);
    size_t count = 0;
    if (lines.empty() || !parseCount(lines[0], count) || count == 0)
    {
        setError(error, "multi-marker file " + fileName + " does not start with a positive submarker count");
        return false;
    }
    std::vector<Submarker> result;
    size_t index = 1;
    for (size_t k = 0; k < count; ++k)
    {
        if (index >= lines.size())
        {
            setError(error, "multi-marker file " + fileName + " ends before submarker " + std::to_string(k));
            return false;
        }
        Submarker submarker;
        submarker.patternPath = resolvePath(folder, lines[index++]);
        std::vector<double> values;
        if (!readNumbers(lines, index, 13, values) || !isMarkerSize(values[0]) || !areCoordinates(values, 1))
        {
            setError(error, "multi-marker file " + fileName + ": submarker " + std::to_string(k) +
                                " needs a size within 0..1e6 and three rows of four numbers within +-1e7");
            return false;
        }
        submarker.size = values[0];
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 4; ++column)
                submarker.pose[row][column] = values[size_t(1 + row * 4 + column)];
        // The tracker inverts the pose: a flat or degenerate one would give every detection NaN.
        if (!(std::fabs(determinant(submarker.pose)) >= kMinimumPoseDeterminant))
        {
            setError(error, "multi-marker file " + fileName + ": submarker " + std::to_string(k) +
                                " has a pose that cannot be inverted");
            return false;
        }
        result.push_back(submarker);
    }
    submarkers = result;
    return true;
}

bool TrackerPatternFile::load(const std::string& fileName, std::string* error)
{
    std::vector<std::string> lines;
    if (!readContentLines(fileName, lines, error))
        return false;
    entries.clear();
    if (lines.empty())
        return true;
    size_t count = 0;
    if (!parseCount(lines[0], count))
    {
        setError(error, "pattern file " + fileName + " does not start with a marker count");
        return false;
    }
    const std::string folder = osgDB::getFilePath(fileName);
    size_t index = 1;
    std::vector<PatternFileEntry> result;
    for (size_t k = 0; k < count; ++k)
    {
        if (index + 1 >= lines.size())
        {
            setError(error, "pattern file " + fileName + " ends before marker " + std::to_string(k));
            return false;
        }
        PatternFileEntry entry;
        entry.name = lines[index++];
        entry.patternPath = resolvePath(folder, lines[index++]);
        std::vector<double> values;
        if (!readNumbers(lines, index, 3, values) || !isMarkerSize(values[0]) || !areCoordinates(values, 1))
        {
            setError(error, "pattern file " + fileName + ": marker " + entry.name +
                                " needs a size within 0..1e6 and a centre within +-1e7");
            return false;
        }
        entry.size = values[0];
        entry.centre.set(values[1], values[2]);
        result.push_back(entry);
    }
    entries = result;
    return true;
}

} // namespace osgART
