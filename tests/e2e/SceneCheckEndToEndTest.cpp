// "novaro -check" and "novaro-scene check" as a user runs them on a copy of the sample scene.
#include "PlayerProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>

using namespace NovaroTest;

// Clean as it comes, and with a misspelt attribute.
TEST(SceneCheckEndToEnd, PlayerAndToolAgreeOnACleanSceneAndOnATypo)
{
    TemporaryFolder copy;
    const std::string scene = copy.file("scene");
    std::filesystem::copy(std::string(NOVARO_SOURCE_DIR) + "/samples", scene,
                          std::filesystem::copy_options::recursive);
    const std::string tool = std::string(NOVARO_RUN_DIR) + "/novaro-scene";

    // From another folder than the run directory: the plugins are found beside the executables.
    const PlayerRun clean = runPlayer(copy.path(), {"-check", scene});
    EXPECT_EQ(0, clean.status);
    EXPECT_EQ("", clean.output);
    const PlayerRun cleanTool = runExecutable(tool, copy.path(), {"check", "scene/model.dat"});
    EXPECT_EQ(0, cleanTool.status);
    EXPECT_EQ("", cleanTool.output);
    // The archive unpacked to read the house is gone again.
    EXPECT_FALSE(std::filesystem::exists(scene + "/models/house_kmz.tmp"));

    // The scene file's first `source=` misspelt, on this line.
    const std::string text = replaceInFile(scene + "/scene.xml", "<model source=", "<model sorce=");
    const auto line = 1 + std::count(text.begin(), text.begin() + long(text.find("<model sorce=")), '\n');
    const std::regex expected(std::regex_replace(scene, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                              "/scene.xml:" + std::to_string(line) +
                              ":[0-9]+: unknown attribute sorce of <model> \\(did you mean source\\?\\)\n");
    const PlayerRun typo = runPlayer(copy.path(), {"-check", scene});
    EXPECT_EQ(1, typo.status);
    EXPECT_TRUE(std::regex_search(typo.output, expected));
    const PlayerRun typoTool = runExecutable(tool, copy.path(), {"check", scene});
    EXPECT_EQ(1, typoTool.status);
    EXPECT_EQ(typo.output, typoTool.output);

    // A command line the tool does not understand is neither a clean nor a broken scene.
    EXPECT_EQ(2, runExecutable(tool, copy.path(), {"check"}).status);
}
