#pragma once

// Sets up a real application on the sample scene the way the player does, with the recorded camera
// instead of a device and the tracking plugins of the run directory.

#include "Display.h"
#include "RunDirectory.h"
#include "app/ARApplication.h"
#include "settings/ConfigurationData.h"

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <osg/DisplaySettings>

#include "osgART/Field.h"
#include "osgART/GenericTracker.h"
#include "osgART/PluginManager.h"

namespace NovaroTest
{

inline std::string samplesDirectory()
{
    return std::string(NOVARO_SOURCE_DIR) + "/samples";
}
inline std::string samplePath(const std::string& name)
{
    return samplesDirectory() + "/" + name;
}

// The plugins live in the run directory, and the head-up display's font is found relative to it.
inline void enterRunDirectory()
{
    usePluginFolder();
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
}

// The tracker plugin is one object per process and the scene set-up inverts its "debug" field;
// every application starts from the field's initial state, as in a fresh player.
inline void resetTrackerDebugField()
{
    if (!osgART::PluginManager::instance()->load("osgart_tracker_artoolkit4"))
        return;
    osgART::GenericTracker* tracker =
        dynamic_cast<osgART::GenericTracker*>(osgART::PluginManager::instance()->get("tracker_artoolkit4"));
    if (!tracker)
        return;
    if (osgART::TypedField<bool>* debug = dynamic_cast<osgART::TypedField<bool>*>(tracker->get("debug")))
        debug->set(false);
}

// The seven setters in the player's order. The configuration, tracker and video files come from the
// working directory (the samples unless given); the others are taken from the temporary directory
// when it holds them, else from the samples.
inline bool loadSampleSettings(Novaro::ARApplication& application, const std::string& temporaryDirectory,
                               const std::string& workingDirectory = samplesDirectory())
{
    application.setWorkingDirectory(workingDirectory);
    application.setTemporaryDirectory(temporaryDirectory);
    auto temporaryFile = [&](const std::string& name)
    { return std::filesystem::exists(temporaryDirectory + "/" + name) ? name : samplePath(name); };
    return application.setConfiguration("config.xml") && application.setTrackerConfiguration("tracker.xml") &&
           application.setVideoConfiguration("video.xml") &&
           application.setSceneConfiguration(temporaryFile("scene.xml")) &&
           application.setAudioConfiguration(temporaryFile("audio.xml")) &&
           application.setMarkersConfiguration("markers.xml") &&
           application.setLightingConfiguration(temporaryFile("lighting.xml"));
}

// Starts the application as the player does on a recorded camera: the sample's, unless given.
inline bool initWithRecordedCamera(Novaro::ARApplication& application,
                                   std::string video = samplePath("recorded/camera.mp4"))
{
    resetTrackerDebugField();
    application.setApplicationHint();
    std::string program = "novaro", option = "-video_file";
    std::vector<char*> argv = {&program[0], &option[0], &video[0], nullptr};
    return application.init(3, argv.data());
}

// A test on the sample application, set up as above in the run directory. The multisampling
// setting that the set-up may change is put back afterwards for the next test.
class SampleApplicationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        enterRunDirectory();
        ASSERT_TRUE(loadSampleSettings(application, samplesDirectory()));
        // Multisampling would quadruple the software renderer's work on every frame; no test of
        // the sample application looks at edges.
        application.getConfiguration()->setUseAntialiasing(false);
        ASSERT_TRUE(initWithRecordedCamera(application));
    }
    void TearDown() override { osg::DisplaySettings::instance()->setNumMultiSamples(_previousSamples); }

    // Keeps an object a test hands the application (which holds plain pointers to its scene
    // objects) alive as long as the application.
    template <class Object> Object* keep(Object* object)
    {
        _kept.push_back(object);
        return object;
    }

private:
    unsigned int _previousSamples = osg::DisplaySettings::instance()->getNumMultiSamples();
    std::vector<osg::ref_ptr<osg::Referenced>> _kept; // outlives the application

protected:
    Novaro::ARApplication application;
};

} // namespace NovaroTest
