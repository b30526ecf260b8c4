#include "Startup.h"

#include "ARApplication.h"
#include "ARObject.h"
#include "AudioOutput.h"
#include "ConsoleNotifyHandler.h"
#include "MetadataFile.h"
#include "PathRule.h"
#include "SceneData.h"

#include <cstdio>
#include <cstdlib>
#include <string>
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
// the operating system, as a half-initialised scene graph is not worth tearing down.
[[noreturn]] void endProcess(int status)
{
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

// The value of the last occurrence of 'option', or empty; every occurrence is consumed.
std::string lastValue(osg::ArgumentParser& arguments, const char* option)
{
    std::string value, next;
    while (arguments.read(option, next))
        value = next;
    return value;
}

void prepareSceneGraphLibrary()
{
    // The environment and the plugin folder come first, before anything else uses the library.
    setenv("OSG_MAX_TEXTURE_SIZE", maximumTextureSize, 1);
    osgDB::Registry::instance()->getLibraryFilePathList().push_front("osgplugins");
    osg::setNotifyHandler(new ConsoleNotifyHandler);
    osg::setNotifyLevel(osg::FATAL);
}

// "-query" prints what is asked and ends the process.
void answerQuery(const std::string& query)
{
    if (query == "version")
    {
        osg::notify(osg::FATAL) << "NovaroPlugin v" << NOVARO_VERSION_MAJOR << "." << NOVARO_VERSION_MINOR
                                << " (PRO) Autodesk(R) 3dsMax(R)" << std::endl;
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
                       std::vector<SettingsFile>& files)
{
    const std::string metadata = lastValue(arguments, "-metadata");
    std::string metadataPath;
    if (!metadata.empty())
    {
        metadataPath = PathRule::resolve(temporaryDirectory, metadata);
        if (!PathRule::isReadableFile(metadataPath))
        {
            osg::notify(osg::FATAL) << "ERROR: could not find metadata file." << std::endl;
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

void checkSettingsFilesExist(const std::vector<SettingsFile>& files, const std::string& workingDirectory,
                             const std::string& temporaryDirectory)
{
    for (const SettingsFile& file : files)
    {
        const std::string& base = file.inWorkingDirectory ? workingDirectory : temporaryDirectory;
        if (!PathRule::isReadableFile(PathRule::resolve(base, file.name)))
        {
            osg::notify(osg::FATAL) << file.missingMessage << std::endl;
            endProcess(0);
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
        application.cleanup();
        endProcess(0);
    }
    osg::notify(osg::FATAL) << "WARNING: Using default model." << std::endl;
    osg::ref_ptr<ARObject> object = new ARObject(model.get());
    application.addObjectToAllMarkers(object.get(), 0);
}

} // namespace

int startPlayer(int argc, char** argv)
{
    prepareSceneGraphLibrary();
    osg::ArgumentParser arguments(&argc, argv);
    while (arguments.read("-verbose"))
        osg::setNotifyLevel(osg::NOTICE);

    const std::string query = lastValue(arguments, "-query");
    if (!query.empty())
        answerQuery(query);

    std::string videoDevice = lastValue(arguments, "-video_device");
    if (videoDevice.empty())
        videoDevice = "1";
    osg::notify(osg::NOTICE) << " video device: " << videoDevice << std::endl;
    std::string workingDirectory = lastValue(arguments, "-working_directory");
    std::string temporaryDirectory = lastValue(arguments, "-temporary_directory");
    if (workingDirectory.empty())
        workingDirectory = ".";
    if (temporaryDirectory.empty())
        temporaryDirectory = ".";

    std::vector<SettingsFile> files = settingsFiles();
    nameSettingsFiles(arguments, temporaryDirectory, files);
    checkSettingsFilesExist(files, workingDirectory, temporaryDirectory);

    AudioOutput::chooseDriver();
    ARApplication application;
    application.setTitle("Novaro(TM) Plugin (Professional)");
    application.setVideoDevice(videoDevice);
    application.setWorkingDirectory(workingDirectory);
    application.setTemporaryDirectory(temporaryDirectory);
    readSettingsFiles(application, files);
    application.setApplicationHint();
    if (!application.init(argc, argv))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure." << std::endl;
        endProcess(-1);
    }

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
    // A screenshot that was asked for and not written fails the run; the reason was printed.
    return application.screenshotFailed() ? -1 : 0;
}

} // namespace Novaro
