#include "SettingsTestSupport.h"

#include <algorithm>

#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"

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

TEST_F(SamplesTest, EveryFileReadsCompletelyWithoutDefaults)
{
    EXPECT_TRUE(ReadResult<XMLConfigurationParserManager>(sample("config.xml")).valid);
    EXPECT_TRUE(ReadResult<XMLTrackerParserManager>(sample("tracker.xml")).valid);
    EXPECT_TRUE(ReadResult<XMLAudioParserManager>(sample("audio.xml")).valid);
    EXPECT_TRUE(ReadResult<XMLLightingParserManager>(sample("lighting.xml")).valid);
    EXPECT_TRUE(ReadResult<XMLEventsParserManager>(sample("events/cube_events.xml")).valid);
    EXPECT_TRUE(ReadResult<XMLKmlParserManager>(sample("doc.kml")).valid);
    for (const auto& line : capture.lines())
        EXPECT_EQ(std::string::npos, line.second.find("NA (using default)")) << line.second;
}

// Every object sits on a marker and layer the markers file declares. (The scene check of the app
// tests finds every file the samples name and reads each one.)
TEST_F(SamplesTest, ObjectsSitOnLayersTheirMarkersDeclare)
{
    ReadResult<XMLSceneParserManager> scene(sample("scene.xml"));
    ReadResult<XMLMarkersParserManager> markers(sample("markers.xml"));
    ASSERT_TRUE(scene.valid && markers.valid);
    const auto& all = markers.reader.getData().getMarkers();
    for (const ObjectData& object : scene.reader.getData().getObjects())
        for (const auto& placement : object.getMarkerLayers())
        {
            auto marker = std::find_if(all.begin(), all.end(),
                                       [&](const MarkerData& each) {
                                           return each.getId() == static_cast<unsigned int>(placement.first);
                                       });
            ASSERT_NE(all.end(), marker) << object.getName();
            EXPECT_EQ(1u, marker->getLayers().count(placement.second)) << object.getName();
        }
}
