#include "CalibrationText.h"

#include "osgART/XmlText.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <sstream>

namespace osgART
{

namespace
{

bool readWholeNumber(const std::string& text, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    while (end && std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    if (errno != 0 || end == text.c_str() || *end != '\0' || number < INT_MIN || number > INT_MAX)
        return false;
    value = int(number);
    return true;
}

bool readNumber(const std::string& token, double& value)
{
    char* end = nullptr;
    value = std::strtod(token.c_str(), &end);
    return end != token.c_str() && *end == '\0';
}

bool isMatrixShape(int rows, int columns)
{
    return rows >= 1 && columns >= 1 && rows <= kMaximumCalibrationMatrixSide &&
           columns <= kMaximumCalibrationMatrixSide;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// --- XML ------------------------------------------------------------------------------------------

const char* childText(const TiXmlElement* parent, const char* name)
{
    const TiXmlElement* child = parent->FirstChildElement(name);
    const char* text = child ? child->GetText() : nullptr;
    return text ? text : "";
}

bool readXmlMatrix(const TiXmlElement* element, std::vector<double>& values)
{
    int rows = 0;
    int columns = 0;
    if (!element || !readWholeNumber(childText(element, "rows"), rows) ||
        !readWholeNumber(childText(element, "cols"), columns) || !isMatrixShape(rows, columns))
        return false;
    values.clear();
    std::istringstream data(childText(element, "data"));
    std::string token;
    double value = 0.0;
    while (data >> token && values.size() <= size_t(rows * columns))
    {
        if (!readNumber(token, value))
            return false;
        values.push_back(value);
    }
    return values.size() == size_t(rows * columns);
}

bool readXmlCalibration(const std::string& text, Calibration& calibration, std::string& error)
{
    TiXmlDocument document;
    parseXmlText(document, text, TIXML_ENCODING_UNKNOWN);
    const TiXmlElement* root = document.RootElement();
    if (document.Error() || !root || std::string(root->Value()) != "opencv_storage")
    {
        error = "calibration file is not an OpenCV XML storage";
        return false;
    }
    if (!readWholeNumber(childText(root, "image_width"), calibration.width) ||
        !readWholeNumber(childText(root, "image_height"), calibration.height) ||
        !readXmlMatrix(root->FirstChildElement("camera_matrix"), calibration.matrix) ||
        calibration.matrix.size() != 9)
    {
        error = "calibration file lacks camera_matrix, image_width or image_height";
        return false;
    }
    const TiXmlElement* coefficients = root->FirstChildElement("distortion_coefficients");
    if (coefficients && !readXmlMatrix(coefficients, calibration.coefficients))
    {
        error = "calibration file has unreadable distortion coefficients";
        return false;
    }
    return true;
}

// --- YAML -----------------------------------------------------------------------------------------

// A line that holds something, without its indentation, comment and trailing blanks.
struct YamlLine
{
    int number; // in the file, from 1
    size_t indentation;
    std::string content;
};

// A key's entry: its value on the key's line and the lines [first + 1, end) that continue it.
struct YamlEntry
{
    size_t first;
    size_t end;
    std::string value;
};
using YamlMap = std::map<std::string, YamlEntry>;

std::string lineError(int number, const std::string& what)
{
    return "calibration file line " + std::to_string(number) + ": " + what;
}

// A comment starts at a '#' that begins the line or follows a blank, outside quotes.
std::string withoutComment(const std::string& line)
{
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i)
    {
        const char c = line[i];
        if (quote)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

// The first document's lines: directives before it, its "---" and blank lines are left out.
bool readYamlLines(const std::string& text, std::vector<YamlLine>& lines, std::string& error)
{
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (lines.empty() && line.compare(0, 1, "%") == 0)
            continue;
        const bool marker = line == "---" || line.compare(0, 4, "--- ") == 0 || line == "...";
        if (marker && !lines.empty())
            break; // the next document, or the end of this one
        const std::string content = withoutComment(line);
        const size_t indentation = content.find_first_not_of(' ');
        if (marker || indentation == std::string::npos || trimmed(content).empty())
            continue;
        if (content[indentation] == '\t')
        {
            error = lineError(number, "a tab indents the line (YAML indents with spaces)");
            return false;
        }
        lines.push_back({number, indentation, trimmed(content)});
    }
    return true;
}

// Brackets a line opens minus those it closes, outside quotes.
int bracketBalance(const std::string& content)
{
    int balance = 0;
    char quote = 0;
    for (const char c : content)
    {
        if (quote)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '[' || c == '{')
            ++balance;
        else if (c == ']' || c == '}')
            --balance;
    }
    return balance;
}

// The line after the entry that starts at 'first': it goes on over lines indented deeper, items
// of a sequence at its own indentation ("- "), and anything inside a bracket it left open.
size_t entryEnd(const std::vector<YamlLine>& lines, size_t first, size_t end)
{
    const size_t indentation = lines[first].indentation;
    int open = std::max(0, bracketBalance(lines[first].content));
    size_t next = first + 1;
    for (; next < end; ++next)
    {
        const YamlLine& line = lines[next];
        const bool item = line.indentation == indentation && line.content.compare(0, 2, "- ") == 0;
        if (open == 0 && line.indentation <= indentation && !item)
            break;
        open = std::max(0, open + bracketBalance(line.content));
    }
    return next;
}

// "key: value" or "key:", the key plain or quoted.
bool splitEntry(const std::string& content, std::string& key, std::string& value)
{
    size_t colon = std::string::npos;
    if (content[0] == '"' || content[0] == '\'')
    {
        const size_t close = content.find(content[0], 1);
        if (close == std::string::npos || content.compare(close + 1, 1, ":") != 0)
            return false;
        key = content.substr(1, close - 1);
        colon = close + 1;
    }
    else
    {
        for (size_t at = content.find(':'); at != std::string::npos; at = content.find(':', at + 1))
            if (at + 1 == content.size() || content[at + 1] == ' ')
            {
                colon = at;
                break;
            }
        if (colon == std::string::npos || colon == 0)
            return false;
        key = trimmed(content.substr(0, colon));
    }
    value = trimmed(content.substr(colon + 1));
    return true;
}

// The entries whose keys sit at the indentation of lines[first], up to 'end'.
bool readYamlMap(const std::vector<YamlLine>& lines, size_t first, size_t end, YamlMap& map,
                 std::string& error)
{
    for (size_t at = first; at < end;)
    {
        const YamlLine& line = lines[at];
        std::string key;
        std::string value;
        if (line.indentation != lines[first].indentation || !splitEntry(line.content, key, value))
        {
            error = lineError(line.number, "expected \"key: value\" here");
            return false;
        }
        const size_t next = entryEnd(lines, at, end);
        if (!map.emplace(key, YamlEntry{at, next, value}).second)
        {
            error = lineError(line.number, "\"" + key + "\" appears twice");
            return false;
        }
        at = next;
    }
    return true;
}

bool readYamlWholeNumber(const std::vector<YamlLine>& lines, const YamlEntry& entry, const std::string& name,
                         int& value, std::string& error)
{
    if (entry.end == entry.first + 1 && readWholeNumber(entry.value, value))
        return true;
    error = lineError(lines[entry.first].number, name + " is not a whole number");
    return false;
}

// A matrix's data: "[ a, b, ... ]", over as many lines as it takes; at most 'count' values.
bool readYamlData(const std::vector<YamlLine>& lines, const YamlEntry& entry, size_t count,
                  std::vector<double>& values, std::string& error)
{
    std::string text = entry.value;
    for (size_t at = entry.first + 1; at < entry.end; ++at)
        text += " " + lines[at].content;
    const int number = lines[entry.first].number;
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
    {
        error = lineError(number, "data is not a list in brackets");
        return false;
    }
    values.clear();
    std::istringstream list(text.substr(1, text.size() - 2));
    std::string token;
    double value = 0.0;
    while (std::getline(list, token, ',') && values.size() <= count)
    {
        if (!readNumber(trimmed(token), value))
        {
            error =
                lineError(number, "data holds \"" + trimmed(token).substr(0, 40) + "\", which is no number");
            return false;
        }
        values.push_back(value);
    }
    if (values.size() != count)
    {
        error = lineError(number, "data holds " + std::string(values.size() > count ? "more" : "fewer") +
                                      " values than rows times cols (" + std::to_string(count) + ")");
        return false;
    }
    return true;
}

// A matrix as OpenCV writes it: an (optionally tagged) entry with rows, cols, dt and data below.
bool readYamlMatrix(const std::vector<YamlLine>& lines, const YamlEntry& entry, const std::string& name,
                    std::vector<double>& values, std::string& error)
{
    const int number = lines[entry.first].number;
    YamlMap fields;
    if ((!entry.value.empty() && entry.value[0] != '!') || entry.end == entry.first + 1)
    {
        error = lineError(number, name + " is not a matrix (rows, cols, dt and data on the lines below)");
        return false;
    }
    if (!readYamlMap(lines, entry.first + 1, entry.end, fields, error))
        return false;
    const auto rows = fields.find("rows");
    const auto columns = fields.find("cols");
    const auto data = fields.find("data");
    int rowCount = 0;
    int columnCount = 0;
    if (rows == fields.end() || columns == fields.end() || data == fields.end() ||
        !readWholeNumber(rows->second.value, rowCount) ||
        !readWholeNumber(columns->second.value, columnCount) || !isMatrixShape(rowCount, columnCount))
    {
        error = lineError(number, name + " lacks data, or rows and cols from 1 to " +
                                      std::to_string(kMaximumCalibrationMatrixSide));
        return false;
    }
    return readYamlData(lines, data->second, size_t(rowCount * columnCount), values, error);
}

bool readYamlCalibration(const std::string& text, Calibration& calibration, std::string& error)
{
    std::vector<YamlLine> lines;
    YamlMap top;
    if (!readYamlLines(text, lines, error) || !readYamlMap(lines, 0, lines.size(), top, error))
        return false;
    for (const char* name : {"image_width", "image_height", "camera_matrix"})
        if (top.find(name) == top.end())
        {
            error = std::string("calibration file lacks ") + name;
            return false;
        }
    if (!readYamlWholeNumber(lines, top["image_width"], "image_width", calibration.width, error) ||
        !readYamlWholeNumber(lines, top["image_height"], "image_height", calibration.height, error) ||
        !readYamlMatrix(lines, top["camera_matrix"], "camera_matrix", calibration.matrix, error))
        return false;
    if (calibration.matrix.size() != 9)
    {
        error = lineError(lines[top["camera_matrix"].first].number, "camera_matrix is not 3 x 3");
        return false;
    }
    const auto coefficients = top.find("distortion_coefficients");
    return coefficients == top.end() || readYamlMatrix(lines, coefficients->second, "distortion_coefficients",
                                                       calibration.coefficients, error);
}

} // namespace

bool readCalibrationText(const std::string& text, Calibration& calibration, std::string& error)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '<')
        return readXmlCalibration(text, calibration, error);
    if (first != std::string::npos && text[first] == '{')
    {
        error = "calibration file is JSON, which is not read: save the calibration as YAML or XML";
        return false;
    }
    return readYamlCalibration(text, calibration, error);
}

} // namespace osgART
