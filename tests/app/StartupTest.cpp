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

TEST(CommandLine, QueriesHelpAndOptionsWithoutSettingsAnswerAtOnce)
{
    TemporaryFolder empty;
    const auto answer = [&](const std::vector<std::string>& arguments)
    {
        const PlayerRun run = runPlayer(empty.path(), arguments);
        return std::to_string(run.status) + " " + run.output;
    };
    // The last -query wins.
    EXPECT_EQ("0 NovaroPlugin v2.3 (PRO) Autodesk(R) 3dsMax(R)\n",
              answer({"-query", "nonsense", "-query", "version"}));
    // The exporter's line is for the exporter; a user asking the player gets the player's own.
    EXPECT_EQ("0 novaro 2.3.0 (scene format 2.3)\n", answer({"--version"}));
    EXPECT_EQ("0  WARNING: wrong parameters.\n", answer({"-query", "Version"}));
    EXPECT_NE(std::string::npos, runPlayer(empty.path(), {"-query", "copyright"}).output.find("Copyright"));
    // An empty one is ignored and start-up goes on.
    EXPECT_EQ(0u, answer({"-query", ""}).find("0 ERROR: could not find config settings.\n"));

    // Help, and an unknown option.
    for (const char* option : {"--help", "-h"})
    {
        const PlayerRun help = runPlayer(empty.path(), {option});
        EXPECT_EQ(0, help.status);
        for (const char* text : {"-working_directory", "-temporary_directory", "-metadata", "-video_device",
                                 "-video_file", "-query", "--demo", "Exit status", "F1 to F8"})
            EXPECT_NE(std::string::npos, help.output.find(text)) << text;
        EXPECT_EQ(std::string::npos, help.output.find("could not find")) << "help reads no settings";
    }
    // An option nobody reads is named once; start-up goes on to its usual failure.
    const PlayerRun unknown = runPlayer(empty.path(), {"-fullscreen", "-verbose"});
    EXPECT_EQ(1, countLinesHolding(
                     unknown.output,
                     "WARNING: unknown option -fullscreen (ignored; novaro --help lists the options)."));
    EXPECT_FALSE(
        unknown.printed("WARNING: unknown option -verbose (ignored; novaro --help lists the options)."));
    EXPECT_TRUE(unknown.printed("ERROR: could not find config settings."));

    // The last -video_device wins, and the notice needs -verbose.
    EXPECT_FALSE(
        runPlayer(empty.path(), {"-video_device", "2", "-video_device", "3"}).printed(" video device: 3"));
    const PlayerRun verbose =
        runPlayer(empty.path(), {"-video_device", "2", "-video_device", "3", "-verbose"});
    EXPECT_TRUE(verbose.printed(" video device: 3") && !verbose.printed(" video device: 2"));

    // A screenshot into a folder that is not there is refused before anything loads (it used to be
    // said only after the whole run), and fails the run.
    const std::string shot = empty.file("no such folder/shot.png");
    EXPECT_EQ("255 ERROR: cannot write the screenshot " + shot + ": the folder " +
                  empty.file("no such folder") + " does not exist.\n",
              answer({"-screenshot", shot, "--demo"}));
}

TEST(CommandLine, EachMissingSettingsFileIsReportedInOrderWithThePathAndTheOptionsThatMoveIt)
{
    const char* files[] = {"config", "tracker", "video", "scene", "audio", "markers", "lighting"};
    for (size_t missing = 0; missing < 7; ++missing)
    {
        Export exported;
        const bool working = missing < 3;
        const TemporaryFolder& folder = working ? exported.working : exported.temporary;
        const std::string file = files[missing];
        std::remove(folder.file(file + ".xml").c_str());
        const PlayerRun run = exported.run();
        // The line every exporter knows, then where the player looked.
        EXPECT_EQ("0 ERROR: could not find " + file + " settings.\n  looked for " + folder.file(file) +
                      ".xml (-" + file + " names the file, " +
                      (working ? "-working_directory" : "-temporary_directory") +
                      " its folder; novaro DIR plays the scene in DIR)\n",
                  std::to_string(run.status) + " " + run.output);
    }
    // A folder under a settings file's name is no settings file.
    Export withFolder;
    std::remove(withFolder.temporary.file("scene.xml").c_str());
    std::filesystem::create_directories(withFolder.temporary.file("scene.xml"));
    const PlayerRun folderRun = withFolder.run();
    EXPECT_TRUE(folderRun.status == 0 &&
                folderRun.output.rfind("ERROR: could not find scene settings.\n", 0) == 0)
        << folderRun.output;

    // The configuration is looked for in the working directory only.
    Export exported;
    std::remove(exported.working.file("config.xml").c_str());
    exported.temporary.write("config.xml", minimalConfiguration());
    EXPECT_EQ(0u, exported.run().output.find("ERROR: could not find config settings.\n"));

    // A metadata file named on the command line must exist.
    const PlayerRun metadata = exported.run({"-metadata", "gone.dat"});
    EXPECT_EQ("0 ERROR: could not find metadata file.\n  looked for " + exported.temporary.file("gone.dat") +
                  " (-metadata names the file, -temporary_directory its folder)\n",
              std::to_string(metadata.status) + " " + metadata.output);
}

TEST(CommandLine, AMetadataFileNamesTheSettingsOverridesOptionsAndAsTheArgumentIsTheSceneToPlay)
{
    Export exported;
    // A broken tracker file stops the run at its setter: everything before it was accepted.
    exported.working.write("my tracker.xml", "<tracker><parameters>");
    exported.temporary.write("model.dat", "# config @ nowhere.xml\n\n   tracker   @   my tracker.xml   \r\n"
                                          "tracker@second.xml\n");
    const PlayerRun run = exported.run({"-config", "absent.xml"});
    EXPECT_EQ(255, run.status);
    // The line says where the XML parser stopped and why: the end of the file, with the root open.
    EXPECT_NE(std::string::npos, run.output.find(" ERROR: could not load XML file: " +
                                                 exported.working.path() + "/my tracker.xml:1:"));
    EXPECT_TRUE(run.printed(" WARNING: failed to open tracker configuration (file not valid)."));
    EXPECT_TRUE(run.printed("ERROR: init failure (tracker)."));

    // Without one, the options name the files.
    const PlayerRun options = Export().run({"-lighting", "other.xml", "-verbose"});
    EXPECT_TRUE(options.printed("WARNING: could not find default metadata file.") &&
                options.printed("ERROR: could not find lighting settings."));

    // A metadata file as the argument is the scene to play: its folder holds every settings file;
    // the player starts elsewhere. (A plain scene folder as the argument: the new scene end-to-end
    // test plays one from elsewhere.)
    std::remove(exported.temporary.file("model.dat").c_str());
    for (const char* file : {"config.xml", "tracker.xml", "video.xml"})
        std::filesystem::copy_file(exported.working.file(file), exported.temporary.file(file));
    TemporaryFolder elsewhere;
    // Settings that cannot be read end the start-up after the files were found: the file counted.
    exported.temporary.write("other.dat", "lighting @ lighting.xml\n");
    exported.temporary.write("lighting.xml", "<lighting");
    const PlayerRun metadata = runPlayer(elsewhere.path(), {exported.temporary.file("other.dat")});
    EXPECT_TRUE(metadata.printed("ERROR: init failure (lighting)."));

    // A scene the user names that is not there, or that lacks a settings file, fails the run;
    // an exporter's start-up keeps status 0 (above).
    const PlayerRun missing = runPlayer(elsewhere.path(), {elsewhere.file("nowhere")});
    EXPECT_EQ(1, missing.status);
    EXPECT_TRUE(missing.printed("ERROR: cannot play " + elsewhere.file("nowhere") +
                                ": no such scene folder or metadata file."));
    std::remove(exported.temporary.file("scene.xml").c_str());
    const PlayerRun incomplete = runPlayer(elsewhere.path(), {exported.temporary.path()});
    EXPECT_TRUE(incomplete.status == 1 && incomplete.printed("ERROR: could not find scene settings."));
}

TEST(CommandLine, FailingSettersEndWithStatusMinusOne)
{
    struct Case
    {
        const char *file, *text, *warning; // the stage that fails is named after the file
    };
    const Case cases[] = {
        {"config.xml", "<config><parameters/></config>", "failed to set configuration (file not valid)."},
        {"config.xml", "<configuration><parameters><parameter name=\"mode\">ar_simple</parameter>",
         "failed to open configuration (file not valid)."},
        {"video.xml", "<video><formats/><cameras/></video>",
         "failed to set video configuration (data not valid)."},
        {"scene.xml", "<scene><objects/></scene>", "failed to set scene configuration (data not valid)."},
        {"markers.xml", "<markers patterns_file=\"\"/>",
         "failed to set markers configuration (data not valid)."},
        {"lighting.xml", "<lighting><other/><parameters/></lighting>",
         "failed to set lighting configuration (file not valid)."},
    };
    for (const Case& broken : cases)
    {
        Export exported;
        const std::string stage = std::string(broken.file).substr(0, std::string(broken.file).find('.'));
        const bool inWorking = stage == "config" || stage == "video";
        (inWorking ? exported.working : exported.temporary).write(broken.file, broken.text);
        const PlayerRun run = exported.run();
        EXPECT_EQ(255, run.status) << broken.file;
        EXPECT_TRUE(run.printed(std::string(" WARNING: ") + broken.warning) &&
                    run.printed("ERROR: init failure (" + stage + ")."))
            << run.output;
    }
}
