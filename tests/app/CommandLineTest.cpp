// The player's command line, metadata file and settings-file location rules, checked through the
// real executable.
#include "SettingsFixture.h"

#include <gtest/gtest.h>

using namespace NovaroTest;

namespace
{

std::vector<std::string> directories(const TemporaryDirectory& working, const TemporaryDirectory& temporary)
{
    return {"-working_directory", working.path(), "-temporary_directory", temporary.path()};
}

} // namespace

TEST(CommandLine, QueriesAnswerAndExitWithoutSettings)
{
    TemporaryDirectory empty;
    PlayerRun version = runPlayer(empty.path(), {"-query", "version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("NovaroPlugin v2.3 (PRO) Autodesk(R) 3dsMax(R)\n", version.output);

    PlayerRun capitalised = runPlayer(empty.path(), {"-query", "Version"});
    EXPECT_EQ(0, capitalised.status);
    EXPECT_EQ(" WARNING: wrong parameters.\n", capitalised.output);

    PlayerRun copyright = runPlayer(empty.path(), {"-query", "copyright"});
    EXPECT_EQ(0, copyright.status);
    EXPECT_NE(std::string::npos, copyright.output.find("Copyright"));

    // The last -query wins.
    PlayerRun last = runPlayer(empty.path(), {"-query", "nonsense", "-query", "version"});
    EXPECT_TRUE(last.printed("NovaroPlugin v2.3 (PRO) Autodesk(R) 3dsMax(R)"));
}

TEST(CommandLine, EmptyQueryIsIgnoredAndStartUpGoesOn)
{
    TemporaryDirectory empty;
    PlayerRun run = runPlayer(empty.path(), {"-query", ""});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("ERROR: could not find config settings.\n", run.output);
}

TEST(CommandLine, EachMissingSettingsFileIsReportedInOrder)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"config.xml", "ERROR: could not find config settings."},
        {"tracker.xml", "ERROR: could not find tracker settings."},
        {"video.xml", "ERROR: could not find video settings."},
        {"scene.xml", "ERROR: could not find scene settings."},
        {"audio.xml", "ERROR: could not find audio settings."},
        {"markers.xml", "ERROR: could not find markers settings."},
        {"lighting.xml", "ERROR: could not find lighting settings."},
    };
    for (size_t missing = 0; missing < files.size(); ++missing)
    {
        TemporaryDirectory working, temporary;
        writeSettings(working, temporary);
        const bool inWorking = missing < 3;
        std::remove((inWorking ? working : temporary).file(files[missing].first).c_str());
        PlayerRun run = runPlayer(working.path(), directories(working, temporary));
        EXPECT_EQ(0, run.status) << files[missing].first;
        EXPECT_EQ(files[missing].second + "\n", run.output) << files[missing].first;
    }
}

TEST(CommandLine, ConfigurationIsLookedForInTheWorkingDirectoryOnly)
{
    TemporaryDirectory working, temporary;
    writeSettings(working, temporary);
    std::remove(working.file("config.xml").c_str());
    temporary.write("config.xml", minimalConfiguration());
    PlayerRun run = runPlayer(working.path(), directories(working, temporary));
    EXPECT_EQ("ERROR: could not find config settings.\n", run.output);
}

TEST(CommandLine, MetadataFileNamesTheSettingsAndOverridesOptions)
{
    TemporaryDirectory working, temporary;
    writeSettings(working, temporary);
    // A broken tracker file stops the run at its setter: everything before it was accepted.
    working.write("my tracker.xml", "<tracker><parameters>");
    temporary.write("model.dat", "# config @ nowhere.xml\n"
                                 "\n"
                                 "   tracker   @   my tracker.xml   \r\n"
                                 "tracker@second.xml\n");
    PlayerRun run = runPlayer(working.path(), {"-working_directory", working.path(), "-temporary_directory",
                                               temporary.path(), "-config", "absent.xml"});
    EXPECT_EQ(255, run.status) << run.output;
    EXPECT_TRUE(run.printed(" ERROR: could not load XML file: " + working.path() + "/my tracker.xml"))
        << run.output;
    EXPECT_TRUE(run.printed(" WARNING: failed to open tracker configuration (file not valid)."))
        << run.output;
    EXPECT_TRUE(run.printed("ERROR: init failure (tracker).")) << run.output;
}

TEST(CommandLine, NamedMetadataFileMustExist)
{
    TemporaryDirectory working, temporary;
    writeSettings(working, temporary);
    PlayerRun run = runPlayer(working.path(), {"-working_directory", working.path(), "-temporary_directory",
                                               temporary.path(), "-metadata", "export.dat"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("ERROR: could not find metadata file.\n", run.output);
}

TEST(CommandLine, WithoutMetadataTheOptionsNameTheFiles)
{
    TemporaryDirectory working, temporary;
    writeSettings(working, temporary);
    PlayerRun run = runPlayer(working.path(), {"-working_directory", working.path(), "-temporary_directory",
                                               temporary.path(), "-lighting", "other.xml", "-verbose"});
    EXPECT_TRUE(run.printed("WARNING: could not find default metadata file.")) << run.output;
    EXPECT_TRUE(run.printed("ERROR: could not find lighting settings.")) << run.output;
}

TEST(CommandLine, LastVideoDeviceWinsAndNoticesNeedVerbose)
{
    TemporaryDirectory working;
    PlayerRun quiet = runPlayer(working.path(), {"-video_device", "2", "-video_device", "3"});
    EXPECT_FALSE(quiet.printed(" video device: 3"));
    PlayerRun verbose = runPlayer(working.path(), {"-video_device", "2", "-video_device", "3", "-verbose"});
    EXPECT_TRUE(verbose.printed(" video device: 3")) << verbose.output;
    EXPECT_FALSE(verbose.printed(" video device: 2"));
}

TEST(CommandLine, FailingSettersEndWithStatusMinusOne)
{
    struct Case
    {
        const char* file;
        bool inWorking;
        const char* text;
        const char* warning;
        const char* error;
    };
    const Case cases[] = {
        {"config.xml", true, "<config><parameters/></config>",
         " WARNING: failed to set configuration (file not valid).", "ERROR: init failure (config)."},
        {"config.xml", true, "<configuration><parameters><parameter name=\"mode\">ar_simple</parameter>",
         " WARNING: failed to open configuration (file not valid).", "ERROR: init failure (config)."},
        {"video.xml", true, "<video><formats/><cameras/></video>",
         " WARNING: failed to set video configuration (data not valid).", "ERROR: init failure (video)."},
        {"scene.xml", false, "<scene><objects/></scene>",
         " WARNING: failed to set scene configuration (data not valid).", "ERROR: init failure (scene)."},
        {"markers.xml", false, "<markers patterns_file=\"\"/>",
         " WARNING: failed to set markers configuration (data not valid).", "ERROR: init failure (markers)."},
        {"lighting.xml", false, "<lighting><other/><parameters/></lighting>",
         " WARNING: failed to set lighting configuration (file not valid).",
         "ERROR: init failure (lighting)."},
    };
    for (const Case& broken : cases)
    {
        TemporaryDirectory working, temporary;
        writeSettings(working, temporary);
        (broken.inWorking ? working : temporary).write(broken.file, broken.text);
        PlayerRun run = runPlayer(working.path(), directories(working, temporary));
        EXPECT_EQ(255, run.status) << broken.file << "\n" << run.output;
        EXPECT_TRUE(run.printed(broken.warning)) << run.output;
        EXPECT_TRUE(run.printed(broken.error)) << run.output;
    }
}
