#include "SettingsTestSupport.h"

#include "XMLAudioParserManager.h"
#include "XMLConfigurationParserManager.h"
#include "XMLEventsParserManager.h"
#include "XMLKmlParserManager.h"
#include "XMLLightingParserManager.h"
#include "XMLMarkersParserManager.h"
#include "XMLSceneParserManager.h"
#include "XMLTrackerParserManager.h"
#include "XMLVideoParserManager.h"

using namespace Novaro;
using namespace Novaro::SettingsTest;

// The sample export is what the demo runs on: every file must read cleanly, without a single
// warning or error line, and say what the demo relies on.
namespace
{

std::string sample(const std::string& name)
{
    return std::string(NOVARO_SOURCE_DIR) + "/samples/" + name;
}

class SamplesTest : public SettingsFileTest
{
protected:
    void TearDown() override
    {
        for (const auto& line : capture.lines())
            EXPECT_EQ(std::string::npos, line.second.find("ERROR")) << line.second;
    }
};

} // namespace

TEST_F(SamplesTest, InstallationFiles)
{
    ReadResult<XMLConfigurationParserManager> config(sample("config.xml"));
    ASSERT_TRUE(config.valid);
    const ConfigurationData& configuration = config.reader.getData();
    EXPECT_EQ(AR_SIMPLE, configuration.getMode());
    EXPECT_FALSE(configuration.getMirror() || configuration.getFullscreen() || configuration.getWireframe() ||
                 configuration.getCameraSettings() || configuration.getFitting());
    EXPECT_TRUE(configuration.getUseAntialiasing() && configuration.getAnimations());
    EXPECT_EQ(4, configuration.getAntialiasingSamples());

    ReadResult<XMLTrackerParserManager> tracker(sample("tracker.xml"));
    ASSERT_TRUE(tracker.valid);
    EXPECT_TRUE(tracker.reader.getData().getSmoothTracking());
    EXPECT_EQ(100, tracker.reader.getData().getThreshold());

    ReadResult<XMLVideoParserManager> video(sample("video.xml"));
    ASSERT_TRUE(video.valid);
    ASSERT_EQ(2u, video.reader.getData().getCameras().size());
    EXPECT_EQ("camera_640x480.dat", video.reader.getData().getCameras()[0].getPath());
    EXPECT_EQ("camera_1280x720.dat", video.reader.getData().getCameras()[1].getPath());
    EXPECT_EQ(1280.0f, video.reader.getData().getFormats()[1].getWidth());

    EXPECT_FALSE(capture.printed(" WARNING: missing <parameters> data (using defaults)."));
    for (const auto& line : capture.lines())
        EXPECT_EQ(std::string::npos, line.second.find("NA (using default)")) << line.second;
}

TEST_F(SamplesTest, SceneFiles)
{
    ReadResult<XMLSceneParserManager> scene(sample("scene.xml"));
    ASSERT_TRUE(scene.valid);
    const SceneData& data = scene.reader.getData();
    EXPECT_EQ("3dsmax", data.getAuthoringSoftware());
    EXPECT_TRUE(data.getShowMessage());
    EXPECT_EQ("Novaro sample scene", data.getMessage());
    std::map<int, std::vector<std::string>> objectsByMarker;
    for (const ObjectData& object : data.getObjects())
        for (int id : object.getMarkerIds())
            objectsByMarker[id].push_back(object.getSource());
    EXPECT_EQ((std::map<int, std::vector<std::string>>{{1, {"models/cube.osgb", "models/arrow.glb"}},
                                                       {2, {"models/sphere.osgb", "models/cone.osgb"}},
                                                       {3, {"models/house.kmz"}}}),
              objectsByMarker);
    EXPECT_EQ("events/cube_events.xml", data.getObjects()[0].getEventsFile());

    ReadResult<XMLMarkersParserManager> markers(sample("markers.xml"));
    ASSERT_TRUE(markers.valid);
    EXPECT_EQ("patterns.dat", markers.reader.getData().getPatternsFile());
    ASSERT_EQ(3u, markers.reader.getData().getMarkers().size());
    const MarkerData& second = markers.reader.getData().getMarkers()[1];
    EXPECT_EQ("patterns/marker_2.patt", second.getPath());
    EXPECT_EQ((std::map<int, double>{{0, 5.0}, {1, 5.0}}), second.getLayers());
    // Every layer the scene uses exists on its marker.
    for (const ObjectData& object : data.getObjects())
        for (const auto& placement : object.getMarkerLayers())
        {
            const auto& all = markers.reader.getData().getMarkers();
            auto marker = std::find_if(all.begin(), all.end(),
                                       [&](const MarkerData& each) {
                                           return each.getId() == static_cast<unsigned int>(placement.first);
                                       });
            ASSERT_NE(all.end(), marker) << object.getName();
            EXPECT_EQ(1u, marker->getLayers().count(placement.second)) << object.getName();
        }

    ReadResult<XMLAudioParserManager> audio(sample("audio.xml"));
    ASSERT_TRUE(audio.valid);
    EXPECT_EQ("sounds/ambient.ogg", audio.reader.getData().getSoundtracks().at(0).getSource());
    EXPECT_TRUE(audio.reader.getData().getLoop());
    EXPECT_TRUE(audio.reader.getData().getAutoplay());

    ReadResult<XMLLightingParserManager> lighting(sample("lighting.xml"));
    ASSERT_TRUE(lighting.valid);
    EXPECT_EQ(2, lighting.reader.getData().getCompatibilityHint());

    ReadResult<XMLEventsParserManager> events(sample("events/cube_events.xml"));
    ASSERT_TRUE(events.valid);
    EXPECT_EQ(3u, events.reader.getData().getEvents().size());

    ReadResult<XMLKmlParserManager> kml(sample("doc.kml"));
    ASSERT_TRUE(kml.valid);
    EXPECT_EQ("models/house.dae", kml.reader.getData().getModels().at(0).getHref());
    EXPECT_EQ(1u, kml.reader.getData().getModels().at(0).getAliases().size());
}
