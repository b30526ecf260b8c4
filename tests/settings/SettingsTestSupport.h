#pragma once

// What the settings readers' tests share: a reader's outcome, the test folder, the samples.

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace NovaroTest
{

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

inline const std::string SAMPLES = std::string(NOVARO_SOURCE_DIR) + "/samples/";

} // namespace NovaroTest
