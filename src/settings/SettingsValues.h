#pragma once

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/XMLLookupRecord.h"

namespace Novaro
{

// The value conventions shared by all settings files.
namespace SettingsValues
{

// A flag whose default is false is set only by this exact text.
inline bool isTrue(const std::string& text)
{
    return text == "true";
}

// A flag whose default is true is cleared only by this exact text.
inline bool isNotFalse(const std::string& text)
{
    return text != "false";
}

inline const char* boolText(bool value)
{
    return value ? "true" : "false";
}

// Whether the whole text, blanks around it aside, is a number by C's rules ("0,05" and "abc" are
// not: C reads them as 0). A scene check notes those that are not (see XMLLookupRecord).
inline bool isWholeNumber(const std::string& text, bool integer)
{
    const char* start = text.c_str();
    char* end = nullptr;
    if (integer)
        std::strtol(start, &end, 10);
    else
        std::strtod(start, &end);
    if (end == start)
        return false;
    while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    return *end == '\0';
}

inline void noteIfNotANumber(const std::string& text, bool integer)
{
    if (XMLLookupRecord* record = XMLLookupRecord::current())
        if (!text.empty() && !isWholeNumber(text, integer))
            record->notANumber(text);
}

// C atoi rules: leading blanks and a sign accepted, stops at the first non-digit, no digits = 0.
inline int toInt(const std::string& text)
{
    noteIfNotANumber(text, true);
    return std::atoi(text.c_str());
}

// C atof rules.
inline double toDouble(const std::string& text)
{
    noteIfNotANumber(text, false);
    return std::atof(text.c_str());
}

// atof narrowed to single precision; values beyond its range become infinite instead of
// overflowing the conversion.
inline float toFloat(const std::string& text)
{
    double value = toDouble(text);
    if (value > FLT_MAX)
        return INFINITY;
    if (value < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(value);
}

// The known name nearest to an unknown one, for the warning that names it: the fewest single-letter
// insertions, deletions and changes, case ignored; empty when every name differs by more than half
// of the longer text (a guess that far off would mislead more than help).
inline std::string closestName(const std::string& text, const std::vector<std::string>& known)
{
    // One name of a settings file is short; a long text is no typo of any of them.
    const size_t longest = 64;
    if (text.size() > longest)
        return std::string();
    std::string best;
    size_t bestDistance = 0;
    for (const std::string& name : known)
    {
        std::vector<size_t> row(name.size() + 1);
        for (size_t j = 0; j <= name.size(); ++j)
            row[j] = j;
        for (size_t i = 1; i <= text.size(); ++i)
        {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= name.size(); ++j)
            {
                const bool same = std::tolower(static_cast<unsigned char>(text[i - 1])) ==
                                  std::tolower(static_cast<unsigned char>(name[j - 1]));
                const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
                diagonal = row[j];
                row[j] = next;
            }
        }
        const size_t distance = row[name.size()];
        if (distance * 2 <= std::max(text.size(), name.size()) && (best.empty() || distance < bestDistance))
        {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace SettingsValues
} // namespace Novaro
