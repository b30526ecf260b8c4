#pragma once

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace Novaro
{
namespace SettingsTest
{

using NovaroTest::NotifyCapture;
using NovaroTest::TemporaryFolder;

// Runs a reader's loadFile, parse and isValid over a file; the reader keeps the outcome.
template <class Reader> struct ReadResult
{
    explicit ReadResult(const std::string& path) : reader(path)
    {
        loaded = reader.loadFile();
        parsed = loaded && reader.parse();
        valid = parsed && reader.isValid();
    }
    Reader reader;
    bool loaded = false;
    bool parsed = false;
    bool valid = false;
};

// Every settings test writes its files into a folder of its own and sees the console lines.
class SettingsFileTest : public ::testing::Test
{
protected:
    // Whether every one of the lines was printed; names the first that was not.
    ::testing::AssertionResult printedAll(std::initializer_list<const char*> lines) const
    {
        for (const char* line : lines)
            if (!capture.printed(line))
                return ::testing::AssertionFailure() << "not printed: \"" << line << "\"";
        return ::testing::AssertionSuccess();
    }

    TemporaryFolder files;
    NotifyCapture capture;
};

} // namespace SettingsTest
} // namespace Novaro
