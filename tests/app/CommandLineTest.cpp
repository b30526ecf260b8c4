// The player's command line, metadata file and settings-file location rules, checked through the
// real executable.
#include "SettingsFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace NovaroTest;

namespace
{

// A working and a temporary directory with the seven smallest settings files in them.
struct Export
{
    Export() { writeSettings(working, temporary); }
    PlayerRun run(std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> arguments = {"-working_directory", working.path(), "-temporary_directory",
                                              temporary.path()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runPlayer(working.path(), arguments);
    }
    TemporaryFolder working, temporary;
};

} // namespace

TEST(CommandLine, QueriesAnswerAndExitWithoutSettings)
{
    TemporaryFolder empty;
    const PlayerRun version = runPlayer(empty.path(), {"-query", "version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("NovaroPlugin v2.3 (PRO) Autodesk(R) 3dsMax(R)\n", version.output);
    const PlayerRun capitalised = runPlayer(empty.path(), {"-query", "Version"});
    EXPECT_EQ(0, capitalised.status);
    EXPECT_EQ(" WARNING: wrong parameters.\n", capitalised.output);
    EXPECT_NE(std::string::npos, runPlayer(empty.path(), {"-query", "copyright"}).output.find("Copyright"));
    // The last -query wins; an empty one is ignored and start-up goes on.
    EXPECT_TRUE(runPlayer(empty.path(), {"-query", "nonsense", "-query", "version"})
                    .printed("NovaroPlugin v2.3 (PRO) Autodesk(R) 3dsMax(R)"));
    const PlayerRun emptyQuery = runPlayer(empty.path(), {"-query", ""});
    EXPECT_EQ(0, emptyQuery.status);
    EXPECT_EQ("ERROR: could not find config settings.\n", emptyQuery.output);
}

TEST(CommandLine, EachMissingSettingsFileIsReportedInOrder)
{
    const char* files[] = {"config", "tracker", "video", "scene", "audio", "markers", "lighting"};
    for (size_t missing = 0; missing < 7; ++missing)
    {
        Export exported;
        const TemporaryFolder& folder = missing < 3 ? exported.working : exported.temporary;
        std::remove(folder.file(std::string(files[missing]) + ".xml").c_str());
        const PlayerRun run = exported.run();
        EXPECT_EQ(0, run.status);
        EXPECT_EQ(std::string("ERROR: could not find ") + files[missing] + " settings.\n", run.output);
    }
    // A folder under a settings file's name is no settings file.
    Export withFolder;
    std::remove(withFolder.temporary.file("scene.xml").c_str());
    std::filesystem::create_directories(withFolder.temporary.file("scene.xml"));
    const PlayerRun folderRun = withFolder.run();
    EXPECT_EQ(0, folderRun.status);
    EXPECT_EQ("ERROR: could not find scene settings.\n", folderRun.output);

    // The configuration is looked for in the working directory only.
    Export exported;
    std::remove(exported.working.file("config.xml").c_str());
    exported.temporary.write("config.xml", minimalConfiguration());
    EXPECT_EQ("ERROR: could not find config settings.\n", exported.run().output);
}

TEST(CommandLine, MetadataFileNamesTheSettingsAndOverridesOptions)
{
    Export exported;
    // A broken tracker file stops the run at its setter: everything before it was accepted.
    exported.working.write("my tracker.xml", "<tracker><parameters>");
    exported.temporary.write("model.dat", "# config @ nowhere.xml\n\n   tracker   @   my tracker.xml   \r\n"
                                          "tracker@second.xml\n");
    const PlayerRun run = exported.run({"-config", "absent.xml"});
    EXPECT_EQ(255, run.status);
    EXPECT_TRUE(
        run.printed(" ERROR: could not load XML file: " + exported.working.path() + "/my tracker.xml"));
    EXPECT_TRUE(run.printed(" WARNING: failed to open tracker configuration (file not valid)."));
    EXPECT_TRUE(run.printed("ERROR: init failure (tracker)."));

    // A metadata file named on the command line must exist.
    const PlayerRun named = Export().run({"-metadata", "export.dat"});
    EXPECT_EQ(0, named.status);
    EXPECT_EQ("ERROR: could not find metadata file.\n", named.output);

    // Without one, the options name the files.
    const PlayerRun options = Export().run({"-lighting", "other.xml", "-verbose"});
    EXPECT_TRUE(options.printed("WARNING: could not find default metadata file."));
    EXPECT_TRUE(options.printed("ERROR: could not find lighting settings."));
}

TEST(CommandLine, LastVideoDeviceWinsAndNoticesNeedVerbose)
{
    TemporaryFolder working;
    EXPECT_FALSE(
        runPlayer(working.path(), {"-video_device", "2", "-video_device", "3"}).printed(" video device: 3"));
    const PlayerRun verbose =
        runPlayer(working.path(), {"-video_device", "2", "-video_device", "3", "-verbose"});
    EXPECT_TRUE(verbose.printed(" video device: 3"));
    EXPECT_FALSE(verbose.printed(" video device: 2"));
}

TEST(CommandLine, FailingSettersEndWithStatusMinusOne)
{
    struct Case
    {
        const char *file, *text, *warning, *stage;
    };
    const Case cases[] = {
        {"config.xml", "<config><parameters/></config>", "failed to set configuration (file not valid).",
         "config"},
        {"config.xml", "<configuration><parameters><parameter name=\"mode\">ar_simple</parameter>",
         "failed to open configuration (file not valid).", "config"},
        {"video.xml", "<video><formats/><cameras/></video>",
         "failed to set video configuration (data not valid).", "video"},
        {"scene.xml", "<scene><objects/></scene>", "failed to set scene configuration (data not valid).",
         "scene"},
        {"markers.xml", "<markers patterns_file=\"\"/>",
         "failed to set markers configuration (data not valid).", "markers"},
        {"lighting.xml", "<lighting><other/><parameters/></lighting>",
         "failed to set lighting configuration (file not valid).", "lighting"},
    };
    for (const Case& broken : cases)
    {
        Export exported;
        const bool inWorking =
            std::string(broken.file) == "config.xml" || std::string(broken.file) == "video.xml";
        (inWorking ? exported.working : exported.temporary).write(broken.file, broken.text);
        const PlayerRun run = exported.run();
        EXPECT_EQ(255, run.status) << broken.file;
        EXPECT_TRUE(run.printed(std::string(" WARNING: ") + broken.warning));
        EXPECT_TRUE(run.printed(std::string("ERROR: init failure (") + broken.stage + ")."));
    }
}
