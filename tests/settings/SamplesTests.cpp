// The samples agree among themselves: every object sits on a layer its markers declare.
#include "SettingsTestSupport.h"

#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Novaro;
using namespace NovaroTest;

// Every object of the sample scene sits on a marker and layer its markers file declares.
TEST(Samples, ObjectsSitOnLayersTheirMarkersDeclare)
{
    // (Both read complete: the test above.)
    XMLSceneParserManager scene(SAMPLES + "scene.xml");
    XMLMarkersParserManager markers(SAMPLES + "markers.xml");
    ASSERT_TRUE(scene.loadFile() && scene.parse() && markers.loadFile() && markers.parse());
    const auto& all = markers.getData().getMarkers();
    for (const ObjectData& object : scene.getData().getObjects())
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
