// The keys' help, as the help panels show it and the README lists it.
#include "interaction/KeyboardHelp.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace Novaro;
using namespace NovaroTest;

// The keys' help, as the help panels show it and the README lists it.
TEST(KeyboardHelp, ReadmeListsTheKeysOfTheHelpPanels)
{
    const std::string section = keyboardHelpMarkdown();
    EXPECT_NE(std::string::npos, readFile(std::string(NOVARO_SOURCE_DIR) + "/README.md").find(section))
        << "README.md is out of date: replace its \"Using the player\" section with the output of "
           "build/run/novaro-keys:\n"
        << section;
}
