#pragma once

// What the user sees of a captured console: the lines at the level the player shows (FATAL and
// above) that mention something, for checks on messages whose rest varies (numbers, paths).

#include "NotifyCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace NovaroTest
{

// The visible lines that hold 'part', in order.
inline std::vector<std::string> visibleLinesWith(const NotifyCapture& capture, const std::string& part)
{
    std::vector<std::string> found;
    for (const NotifyCapture::Line& line : capture.lines())
        if (line.first <= osg::FATAL && line.second.find(part) != std::string::npos)
            found.push_back(line.second);
    return found;
}

// Some visible line holds 'part'; a failure shows the visible lines.
inline ::testing::AssertionResult saidPart(const NotifyCapture& capture, const std::string& part)
{
    if (!visibleLinesWith(capture, part).empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no visible line holds \"" << part << "\"; they were:\n"
                                         << capture.text(osg::FATAL);
}

} // namespace NovaroTest
