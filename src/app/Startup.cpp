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

#include <osg/ArgumentParser>
#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

namespace
{

const int VERSION_MAJOR = 2;
const int VERSION_MINOR = 3;

// Ends the process at once with the given status: early exits leave the application object to
// the operating system, as a half-initialised scene graph is not worth tearing down.
[[noreturn]] void endProcess(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

struct SettingsFile
{
    const char* option;
    const char* key;
    const char* defaultName;
    bool inWorkingDirectory;
    const char* missingMessage;
    std::string name;
};

} // namespace

int startPlayer(int argc, char** argv)
{
    // The environment and the plugin folder come first, before anything else uses the library.
    setenv("OSG_MAX_TEXTURE_SIZE", "4096", 1);
    osgDB::Registry::instance()->getLibraryFilePathList().push_front("osgplugins");

    osg::setNotifyHandler(new ConsoleNotifyHandler);
    osg::setNotifyLevel(osg::FATAL);

    osg::ArgumentParser arguments(&argc, argv);
    while (arguments.read("-verbose"))
        osg::setNotifyLevel(osg::NOTICE);

    std::string query;
    while (arguments.read("-query", query))
    {
    }
    if (!query.empty())
    {
        if (query == "version")
        {
            osg::notify(osg::FATAL) << "NovaroPlugin"
                                    << " v" << VERSION_MAJOR << "." << VERSION_MINOR << " "
                                    << "(PRO)"
                                    << " "
                                    << "Autodesk(R) 3dsMax(R)" << std::endl;
        }
        else if (query == "video_devices")
        {
            ARApplication* application = new ARApplication;
            application->listVideoDevices();
            delete application;
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

    std::string videoDevice;
    while (arguments.read("-video_device", videoDevice))
    {
    }
    if (videoDevice.empty())
        videoDevice = "1";
    osg::notify(osg::NOTICE) << " video device: " << videoDevice << std::endl;

    std::string workingDirectory, temporaryDirectory;
    while (arguments.read("-working_directory", workingDirectory))
    {
    }
    while (arguments.read("-temporary_directory", temporaryDirectory))
    {
    }
    if (workingDirectory.empty())
        workingDirectory = ".";
    if (temporaryDirectory.empty())
        temporaryDirectory = ".";

    SettingsFile files[] = {
        {"-config", "config", "config.xml", true, "ERROR: could not find config settings.", ""},
        {"-scene", "scene", "scene.xml", false, "ERROR: could not find scene settings.", ""},
        {"-audio", "audio", "audio.xml", false, "ERROR: could not find audio settings.", ""},
        {"-tracker", "tracker", "tracker.xml", true, "ERROR: could not find tracker settings.", ""},
        {"-markers", "markers", "markers.xml", false, "ERROR: could not find markers settings.", ""},
        {"-video", "video", "video.xml", true, "ERROR: could not find video settings.", ""},
        {"-lighting", "lighting", "lighting.xml", false, "ERROR: could not find lighting settings.", ""},
    };
    enum
    {
        CONFIG,
        SCENE,
        AUDIO,
        TRACKER,
        MARKERS,
        VIDEO,
        LIGHTING,
        FILE_COUNT
    };

    std::string metadata;
    while (arguments.read("-metadata", metadata))
    {
    }
    bool fromMetadata = false;
    std::string metadataPath;
    if (metadata.empty())
    {
        metadataPath = osgDB::concatPaths(temporaryDirectory, "model.dat");
        if (osgDB::fileExists(metadataPath))
            fromMetadata = true;
        else
        {
            osg::notify(osg::NOTICE) << "WARNING: could not find default metadata file." << std::endl;
            for (int index = 0; index < FILE_COUNT; ++index)
            {
                while (arguments.read(files[index].option, files[index].name))
                {
                }
                if (files[index].name.empty())
                    files[index].name = files[index].defaultName;
            }
        }
    }
    else
    {
        metadataPath = PathRule::resolve(temporaryDirectory, metadata);
        if (!osgDB::fileExists(metadataPath))
        {
            osg::notify(osg::FATAL) << "ERROR: could not find metadata file." << std::endl;
            endProcess(0);
        }
        fromMetadata = true;
    }
    if (fromMetadata)
    {
        for (int index = 0; index < FILE_COUNT; ++index)
        {
            files[index].name = MetadataFile::lookup(metadataPath, files[index].key);
            if (files[index].name.empty())
                files[index].name = files[index].defaultName;
        }
    }

    const int checkOrder[] = {CONFIG, TRACKER, VIDEO, SCENE, AUDIO, MARKERS, LIGHTING};
    for (int index : checkOrder)
    {
        const std::string& base = files[index].inWorkingDirectory ? workingDirectory : temporaryDirectory;
        if (!osgDB::fileExists(PathRule::resolve(base, files[index].name)))
        {
            osg::notify(osg::FATAL) << files[index].missingMessage << std::endl;
            endProcess(0);
        }
    }

    AudioOutput::chooseDriver();
    ARApplication application;
    application.setTitle("Novaro(TM) Plugin (Professional)");
    application.setVideoDevice(videoDevice);
    application.setWorkingDirectory(workingDirectory);
    application.setTemporaryDirectory(temporaryDirectory);

    if (!application.setConfiguration(files[CONFIG].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (config)." << std::endl;
        endProcess(-1);
    }
    if (!application.setTrackerConfiguration(files[TRACKER].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (tracker)." << std::endl;
        endProcess(-1);
    }
    if (!application.setVideoConfiguration(files[VIDEO].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (video)." << std::endl;
        endProcess(-1);
    }
    if (!application.setSceneConfiguration(files[SCENE].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (scene)." << std::endl;
        endProcess(-1);
    }
    if (!application.setAudioConfiguration(files[AUDIO].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (audio)." << std::endl;
        endProcess(-1);
    }
    if (!application.setMarkersConfiguration(files[MARKERS].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (markers)." << std::endl;
        endProcess(-1);
    }
    if (!application.setLightingConfiguration(files[LIGHTING].name))
    {
        osg::notify(osg::FATAL) << "ERROR: init failure (lighting)." << std::endl;
        endProcess(-1);
    }

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

    if (application.getObjectCount() == 0)
    {
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

    osg::notify(osg::NOTICE) << " Starting..." << std::endl;
    application.setRescaleNormal(true);
    application.run();
    application.cleanup();
    osg::notify(osg::NOTICE) << " Starting...done." << std::endl;
    return 0;
}

} // namespace Novaro
