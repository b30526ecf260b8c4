#pragma once

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

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

// C atoi rules: leading blanks and a sign accepted, stops at the first non-digit, no digits = 0.
inline int toInt(const std::string& text)
{
    return std::atoi(text.c_str());
}

// C atof rules.
inline double toDouble(const std::string& text)
{
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

} // namespace SettingsValues
} // namespace Novaro
