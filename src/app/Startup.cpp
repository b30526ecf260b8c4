#include "app/Startup.h"

#include "app/ARApplication.h"
#include "app/ConsoleNotifyHandler.h"
#include "app/DisplayConnection.h"
#include "app/InstallLayout.h"
#include "app/LocalFilesOnly.h"
#include "app/MetadataFile.h"
#include "app/PrivateFolder.h"
#include "app/SceneCheck.h"
#include "scene/ARObject.h"
#include "scene/AudioOutput.h"
#include "settings/ModelTrialRead.h"
#include "settings/PathRule.h"
#include "settings/SceneData.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <osg/ArgumentParser>
#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

namespace
{

// Textures above this edge are scaled down by the scene-graph library before upload; exported
// scenes carry photographs larger than many drivers accept.
const char* const maximumTextureSize = "4096";

// Ends the process at once with the given status: early exits leave the application object to
// the operating system, as a half-initialised scene graph is not worth tearing down. The private
// temporary folder is the one thing the operating system would not take back.
[[noreturn]] void endProcess(int status)
{
    PrivateFolder::remove();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

// One of the seven settings files: where its name comes from (command-line option, metadata key,
// default), which folder it lives in, and the application setter that reads it.
struct SettingsFile
{
    const char* option;
    const char* key;
    const char* defaultName;
    bool inWorkingDirectory;
    const char* missingMessage;
    bool (ARApplication::*read)(const std::string&);
    const char* failureMessage;
    std::string name;
};

// In the order the files are checked and read: the configuration first, then what the tracker
// needs before the scene that is registered on it.
std::vector<SettingsFile> settingsFiles()
{
    return {
        {"-config", "config", "config.xml", true, "ERROR: could not find config settings.",
         &ARApplication::setConfiguration, "ERROR: init failure (config).", ""},
        {"-tracker", "tracker", "tracker.xml", true, "ERROR: could not find tracker settings.",
         &ARApplication::setTrackerConfiguration, "ERROR: init failure (tracker).", ""},
        {"-video", "video", "video.xml", true, "ERROR: could not find video settings.",
         &ARApplication::setVideoConfiguration, "ERROR: init failure (video).", ""},
        {"-scene", "scene", "scene.xml", false, "ERROR: could not find scene settings.",
         &ARApplication::setSceneConfiguration, "ERROR: init failure (scene).", ""},
        {"-audio", "audio", "audio.xml", false, "ERROR: could not find audio settings.",
         &ARApplication::setAudioConfiguration, "ERROR: init failure (audio).", ""},
        {"-markers", "markers", "markers.xml", false, "ERROR: could not find markers settings.",
         &ARApplication::setMarkersConfiguration, "ERROR: init failure (markers).", ""},
        {"-lighting", "lighting", "lighting.xml", false, "ERROR: could not find lighting settings.",
         &ARApplication::setLightingConfiguration, "ERROR: init failure (lighting).", ""},
    };
}

// A path as the user can find it whatever the current directory was.
std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// The value of the last occurrence of 'option', or empty; every occurrence is consumed.
std::string lastValue(osg::ArgumentParser& arguments, const char* option)
{
    std::string value, next;
    while (arguments.read(option, next))
        value = next;
    return value;
}

// A screenshot asked for into a folder that is not there would fail only after the whole run:
// said, and the run refused, before anything is loaded. The option stays for the application.
void checkScreenshotFolder(osg::ArgumentParser& arguments)
{
    for (int position = 1; position + 1 < arguments.argc(); ++position)
    {
        if (std::string(arguments.argv()[position]) != "-screenshot")
            continue;
        const std::string file = arguments.argv()[position + 1];
        const std::string folder = osgDB::getFilePath(file);
        std::error_code error;
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
        {
            osg::notify(osg::FATAL) << "ERROR: cannot write the screenshot " << file << ": the folder "
                                    << folder << " does not exist." << std::endl;
            endProcess(-1);
        }
    }
}

// "--version": the player's own line, with the scene format it reads (docs/scene-format.md).
void printOwnVersion()
{
    osg::notify(osg::FATAL) << "novaro " << NOVARO_VERSION_MAJOR << "." << NOVARO_VERSION_MINOR
                            << ".0 (scene format " << NOVARO_VERSION_MAJOR << "." << NOVARO_VERSION_MINOR
                            << ")" << std::endl;
}

void printVersion()
{
    osg::notify(osg::FATAL) << "NovaroPlugin v" << NOVARO_VERSION_MAJOR << "." << NOVARO_VERSION_MINOR
                            << " (PRO) Autodesk(R) 3dsMax(R)" << std::endl;
}

// "-query" prints what is asked and ends the process.
void answerQuery(const std::string& query)
{
    if (query == "version")
    {
        printVersion();
    }
    else if (query == "video_devices")
    {
        ARApplication application;
        application.listVideoDevices();
    }
    else if (query == "copyright")
    {
        osg::notify(osg::FATAL)
            << "Novaro(TM) Plugin (Professional) - Copyright (C) 2026 Novaro. All rights reserved."
            << std::endl;
    }
    else
    {
        osg::notify(osg::FATAL) << " WARNING: wrong parameters." << std::endl;
    }
    endProcess(0);
}

// The settings files' names: from the metadata file given or found in the temporary folder, else
// from the command line, with the defaults for what neither names.
void nameSettingsFiles(osg::ArgumentParser& arguments, const std::string& temporaryDirectory,
                       const std::string& sceneMetadata, std::vector<SettingsFile>& files)
{
    std::string metadata = lastValue(arguments, "-metadata");
    if (metadata.empty())
        metadata = sceneMetadata;
    std::string metadataPath;
    if (!metadata.empty())
    {
        metadataPath = PathRule::resolve(temporaryDirectory, metadata);
        if (!PathRule::isReadableFile(metadataPath))
        {
            osg::notify(osg::FATAL) << "ERROR: could not find metadata file." << std::endl;
            osg::notify(osg::FATAL) << "  looked for " << absolutePath(metadataPath)
                                    << " (-metadata names the file, -temporary_directory its folder)"
                                    << std::endl;
            endProcess(0);
        }
    }
    else
    {
        metadataPath = osgDB::concatPaths(temporaryDirectory, "model.dat");
        if (!PathRule::isReadableFile(metadataPath))
        {
            osg::notify(osg::NOTICE) << "WARNING: could not find default metadata file." << std::endl;
            metadataPath.clear();
        }
    }
    for (SettingsFile& file : files)
    {
        file.name = metadataPath.empty() ? lastValue(arguments, file.option)
                                         : MetadataFile::lookup(metadataPath, file.key);
        if (file.name.empty())
            file.name = file.defaultName;
    }
}

// An exporter's start-up ends with status 0 when a file is missing, as exporters expect; a scene
// the user named (a plain argument, --demo) that cannot start fails with 'failStatus'.
void checkSettingsFilesExist(const std::vector<SettingsFile>& files, const std::string& workingDirectory,
                             const std::string& temporaryDirectory, int failStatus)
{
    for (const SettingsFile& file : files)
    {
        const std::string& base = file.inWorkingDirectory ? workingDirectory : temporaryDirectory;
        const std::string path = PathRule::resolve(base, file.name);
        if (!PathRule::isReadableFile(path))
        {
            osg::notify(osg::FATAL) << file.missingMessage << std::endl;
            osg::notify(osg::FATAL) << "  looked for " << absolutePath(path) << " (" << file.option
                                    << " names the file, "
                                    << (file.inWorkingDirectory ? "-working_directory"
                                                                : "-temporary_directory")
                                    << " its folder; novaro DIR plays the scene in DIR)" << std::endl;
            endProcess(failStatus);
        }
    }
}

void readSettingsFiles(ARApplication& application, const std::vector<SettingsFile>& files)
{
    for (const SettingsFile& file : files)
    {
        if (!(application.*file.read)(file.name))
        {
            osg::notify(osg::FATAL) << file.failureMessage << std::endl;
            endProcess(-1);
        }
    }
}

// Options that take a value: the exporter's, then the player's own (read by the initialisation).
const std::set<std::string>& optionsWithValue()
{
    static const std::set<std::string> options = {"-query",
                                                  "-video_device",
                                                  "-working_directory",
                                                  "-temporary_directory",
                                                  "-metadata",
                                                  "-config",
                                                  "-scene",
                                                  "-audio",
                                                  "-tracker",
                                                  "-markers",
                                                  "-video",
                                                  "-lighting",
                                                  "-video_file",
                                                  "-max_frames",
                                                  "-frame_time",
                                                  "-screenshot",
                                                  "-screenshot_frame"};
    return options;
}

const std::set<std::string>& flagOptions()
{
    static const std::set<std::string> options = {"-verbose", "-frame_stats", "--demo", "--help",
                                                  "-h",       "--version",    "-check"};
    return options;
}

void printUsage(const char* program)
{
    std::printf("Usage: %s [DIR | METADATA_FILE] [options]\n"
                "       %s --demo [options]\n"
                "Plays an augmented-reality scene: finds the scene's square markers in the camera image\n"
                "and draws its objects on them.\n"
                "\n"
                "  DIR, METADATA_FILE          play the scene in that folder (or the one the file names);\n"
                "                              working and temporary directory become that folder\n"
                "  --demo                      play the bundled sample scene on its recorded camera\n"
                "  -working_directory DIR      folder of config.xml, tracker.xml, video.xml (default .)\n"
                "  -temporary_directory DIR    folder of the scene's files and model.dat (default .)\n"
                "  -metadata FILE              metadata file naming the settings files (default model.dat)\n"
                "  -config FILE  -tracker FILE  -video FILE      settings in the working directory\n"
                "  -scene FILE  -audio FILE  -markers FILE  -lighting FILE\n"
                "                              settings in the temporary directory (ignored when a\n"
                "                              metadata file names them)\n"
                "  -video_device N             camera N, /dev/video(N-1) (default 1)\n"
                "  -video_file PATH            a movie, image or image sequence (name%%04d.png) as camera\n"
                "  -query version|video_devices|copyright\n"
                "                              answer and exit\n"
                "  -max_frames N               stop after N frames\n"
                "  -frame_time SECONDS         advance animations and timed texts by SECONDS a frame\n"
                "  -screenshot FILE.png        write the last picture before exiting\n"
                "  -screenshot_frame N         also write the picture after frame N, as FILE-N.png\n"
                "  -frame_stats                print frame-time statistics at exit\n"
                "  -check                      read the whole scene without camera or window, print\n"
                "                              each problem as file:line:column: message, and exit\n"
                "  -verbose                    show progress lines\n"
                "  --version                   print the version line\n"
                "  -h, --help                  print this help\n"
                "\n"
                "Keys: F1 to F8 choose the keyboard mode, h shows the mode's keys, Escape quits\n"
                "(man novaro, or \"Using the player\" in " NOVARO_INSTALLED_README ", lists them all).\n"
                "\n"
                "Exit status: 0 after a normal run, an answered query, or a missing settings file\n"
                "when an exporter started the player; 1 when a scene named as DIR, METADATA_FILE or\n"
                "--demo is missing or lacks a settings file; 255 when a settings file cannot be read\n"
                "or the set-up fails. With -check: 1 when the scene has problems, 0 when it has none.\n",
                osgDB::getSimpleFileName(program).c_str(), osgDB::getSimpleFileName(program).c_str());
    std::fflush(stdout);
}

// Takes the plain arguments (a scene to play) out of the command line and names each option the
// player does not know; the options it knows stay for the steps that read them.
std::vector<std::string> takePlainArguments(osg::ArgumentParser& arguments)
{
    std::vector<std::string> plain;
    int position = 1;
    while (position < arguments.argc())
    {
        const std::string argument = arguments[position];
        if (optionsWithValue().count(argument))
            position += 2;
        else if (flagOptions().count(argument))
            position += 1;
        else if (!argument.empty() && argument[0] == '-')
        {
            osg::notify(osg::FATAL) << "WARNING: unknown option " << argument
                                    << " (ignored; novaro --help lists the options)." << std::endl;
            position += 1;
        }
        else
        {
            plain.push_back(argument);
            arguments.remove(position);
        }
    }
    return plain;
}

// Where the scene to play is: the folders and metadata file a plain argument or --demo stands for,
// unless the command line names them itself.
struct SceneLocation
{
    std::string workingDirectory;
    std::string temporaryDirectory;
    std::string metadata;
    std::string cameraMovie;
};

SceneLocation locateRequestedScene(const std::vector<std::string>& plain, bool demo,
                                   const InstallLayout& layout)
{
    SceneLocation location;
    if (demo)
    {
        if (layout.samplesFolder().empty())
        {
            osg::notify(osg::FATAL) << "ERROR: the sample scene is not installed beside the player."
                                    << std::endl;
            endProcess(1);
        }
        location.workingDirectory = location.temporaryDirectory = layout.samplesFolder();
        location.cameraMovie = osgDB::concatPaths(layout.samplesFolder(), "recorded/camera.mp4");
        return location;
    }
    if (plain.empty())
        return location;
    for (size_t extra = 1; extra < plain.size(); ++extra)
        osg::notify(osg::FATAL) << "WARNING: only one scene plays at a time; " << plain[extra]
                                << " is ignored." << std::endl;
    std::error_code error;
    const std::filesystem::path scene = plain.front();
    if (std::filesystem::is_directory(scene, error))
        location.workingDirectory = location.temporaryDirectory = scene.string();
    else if (std::filesystem::is_regular_file(scene, error))
    {
        const std::string folder = scene.parent_path().empty() ? "." : scene.parent_path().string();
        location.workingDirectory = location.temporaryDirectory = folder;
        location.metadata = scene.filename().string();
    }
    else
    {
        osg::notify(osg::FATAL) << "ERROR: cannot play " << plain.front()
                                << ": no such scene folder or metadata file." << std::endl;
        // A scene the user named that is not there fails the run (and the check).
        endProcess(1);
    }
    return location;
}

// The arguments handed on to the initialisation: those left on the command line, and the camera
// movie of the demo unless one is named.
std::vector<std::string> initialisationArguments(osg::ArgumentParser& arguments,
                                                 const SceneLocation& location)
{
    std::vector<std::string> result(arguments.argv(), arguments.argv() + arguments.argc());
    if (!location.cameraMovie.empty() && arguments.find("-video_file") < 0)
    {
        result.push_back("-video_file");
        result.push_back(location.cameraMovie);
    }
    return result;
}

// A scene without objects shows the player's own model on every marker rather than bare video.
void addDefaultModelWhenEmpty(ARApplication& application)
{
    if (application.getObjectCount() != 0)
        return;
    osg::ref_ptr<osg::Node> model =
        osgDB::readNodeFile("data/novaro.ive", osgDB::Registry::instance()->getOptions());
    if (!model.valid())
    {
        osg::notify(osg::FATAL) << "ERROR: Could't load default model." << std::endl;
        osg::notify(osg::FATAL)
            << "  looked for data/novaro.ive in the current directory and beside the player" << std::endl;
        application.cleanup();
        endProcess(0);
    }
    osg::notify(osg::FATAL) << "WARNING: Using default model." << std::endl;
    osg::ref_ptr<ARObject> object = new ARObject(model.get());
    application.addObjectToAllMarkers(object.get(), 0);
}

// "-check": the scene the command line names read whole, its problems printed; the process ends
// with the check's status. The readers' own console lines stay quiet unless -verbose asked for them.
[[noreturn]] void checkRequestedScene(osg::ArgumentParser& arguments, const std::string& workingDirectory,
                                      const std::string& temporaryDirectory, const std::string& sceneMetadata)
{
    SceneCheck::Location location;
    location.workingDirectory = workingDirectory;
    location.temporaryDirectory = temporaryDirectory;
    location.metadata = lastValue(arguments, "-metadata");
    if (location.metadata.empty())
        location.metadata = sceneMetadata;
    for (const SettingsFile& file : settingsFiles())
    {
        const std::string name = lastValue(arguments, file.option);
        if (!name.empty())
            location.named[file.key] = name;
    }
    if (osg::getNotifyLevel() < osg::NOTICE)
        osg::setNotifyLevel(osg::ALWAYS);
    endProcess(printSceneProblems(SceneCheck(location).run(), std::cout));
}

// Options that print something and end the run before any scene is read.
void answerInformationOptions(osg::ArgumentParser& arguments, const char* program)
{
    if (arguments.read("--help") || arguments.read("-h"))
    {
        printUsage(program);
        endProcess(0);
    }
    if (arguments.read("--version"))
    {
        printOwnVersion();
        endProcess(0);
    }
    const std::string query = lastValue(arguments, "-query");
    if (!query.empty())
        answerQuery(query);
}

struct RunFolders
{
    std::string videoDevice;
    std::string workingDirectory;
    std::string temporaryDirectory;
};

// The camera and the two folders: each from its option, else from the scene named, else the
// current folder (the camera: device 1).
RunFolders runFolders(osg::ArgumentParser& arguments, const SceneLocation& location)
{
    RunFolders folders;
    folders.videoDevice = lastValue(arguments, "-video_device");
    if (folders.videoDevice.empty())
        folders.videoDevice = "1";
    osg::notify(osg::NOTICE) << " video device: " << folders.videoDevice << std::endl;
    folders.workingDirectory = lastValue(arguments, "-working_directory");
    folders.temporaryDirectory = lastValue(arguments, "-temporary_directory");
    if (folders.workingDirectory.empty())
        folders.workingDirectory = location.workingDirectory.empty() ? "." : location.workingDirectory;
    if (folders.temporaryDirectory.empty())
        folders.temporaryDirectory = location.temporaryDirectory.empty() ? "." : location.temporaryDirectory;
    return folders;
}

void requireDisplay(const DisplayConnection& display)
{
    if (display.isOpen())
        return;
    osg::notify(osg::FATAL) << "ERROR: cannot connect to the X display " << DisplayConnection::requestedName()
                            << ": the player needs one for its window." << std::endl;
    endProcess(-1);
}

// The application given its folders and settings and initialised with the remaining options;
// a failed initialisation ends the run.
void initialiseApplication(ARApplication& application, osg::ArgumentParser& arguments,
                           const SceneLocation& location, const RunFolders& folders,
                           const std::vector<SettingsFile>& files)
{
    application.setTitle("Novaro(TM) Plugin (Professional)");
    application.setVideoDevice(folders.videoDevice);
    application.setWorkingDirectory(folders.workingDirectory);
    application.setTemporaryDirectory(folders.temporaryDirectory);
    readSettingsFiles(application, files);
    application.setApplicationHint();
    std::vector<std::string> initArguments = initialisationArguments(arguments, location);
    std::vector<char*> initArgv;
    for (std::string& argument : initArguments)
        initArgv.push_back(&argument[0]);
    initArgv.push_back(nullptr);
    if (!application.init(static_cast<int>(initArguments.size()), initArgv.data()))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure." << std::endl;
        endProcess(-1);
    }
}

// Loads the scene's objects and plays them until the window closes; the run's exit status.
int playScene(ARApplication& application)
{
    application.initEventHandlers();
    application.loadSceneObjects();
    const SceneData* scene = application.getSceneConfiguration();
    if (scene && scene->getShowMessage())
        application.getHUD().addText(scene->getMessage(), 7);
    application.showStatusMessage("Starting...");
    if (application.getMarkerCount() == 0)
    {
        osg::notify(osg::FATAL) << " No valid markers were found. Exiting." << std::endl;
        application.cleanup();
        endProcess(0);
    }
    addDefaultModelWhenEmpty(application);

    osg::notify(osg::NOTICE) << " Starting..." << std::endl;
    application.setRescaleNormal(true);
    application.run();
    application.cleanup();
    osg::notify(osg::NOTICE) << " Starting...done." << std::endl;
    // A window that could not be shown, or a screenshot that was asked for and not written, fails
    // the run; the reason was printed.
    return application.windowFailed() || application.screenshotFailed() ? -1 : 0;
}

} // namespace

void prepareSceneGraphLibrary(const InstallLayout& layout)
{
    // The environment and the plugin folder come first, before anything else uses the library.
    setenv("OSG_MAX_TEXTURE_SIZE", maximumTextureSize, 1);
    osgDB::Registry::instance()->getLibraryFilePathList().push_front("osgplugins");
    layout.registerWithSceneGraphLibrary();
    // Before any read: nothing a scene names is fetched from the network.
    osgDB::Registry::instance()->setReadFileCallback(new LocalFilesOnly(layout.dataRoots()));
    setTrialReader(layout.trialReader(), layout.dataRoots());
    osg::setNotifyHandler(new ConsoleNotifyHandler);
    osg::setNotifyLevel(osg::FATAL);
}

int startPlayer(int argc, char** argv)
{
    const InstallLayout layout = InstallLayout::ofThisProcess();
    prepareSceneGraphLibrary(layout);
    osg::ArgumentParser arguments(&argc, argv);
    while (arguments.read("-verbose"))
        osg::setNotifyLevel(osg::NOTICE);
    answerInformationOptions(arguments, argv[0]);

    checkScreenshotFolder(arguments);
    const std::vector<std::string> plain = takePlainArguments(arguments);
    bool demo = false;
    while (arguments.read("--demo"))
        demo = true;
    const bool checking = arguments.read("-check");
    const SceneLocation location = locateRequestedScene(plain, demo, layout);
    const RunFolders folders = runFolders(arguments, location);
    if (checking)
        checkRequestedScene(arguments, folders.workingDirectory, folders.temporaryDirectory,
                            location.metadata);
    confineToScene(folders.workingDirectory, folders.temporaryDirectory);

    std::vector<SettingsFile> files = settingsFiles();
    nameSettingsFiles(arguments, folders.temporaryDirectory, location.metadata, files);
    const bool namedByUser = demo || !plain.empty();
    checkSettingsFilesExist(files, folders.workingDirectory, folders.temporaryDirectory, namedByUser ? 1 : 0);

    // Held until the application below has closed its window (see DisplayConnection), and opened
    // before the sound output is probed: PulseAudio's client may look for its server on the
    // display, a connection whose end the X server could take for its last client leaving.
    const DisplayConnection display;
    requireDisplay(display);
    AudioOutput::chooseDriver();
    ARApplication application;
    initialiseApplication(application, arguments, location, folders, files);
    return playScene(application);
}
} // namespace Novaro
