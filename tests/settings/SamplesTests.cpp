#include "SettingsTestSupport.h"

#include <algorithm>

#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"

using namespace Novaro;
using namespace Novaro::SettingsTest;

namespace
{

std::string sample(const std::string& name)
{
    return std::string(NOVARO_SOURCE_DIR) + "/samples/" + name;
}

} // namespace

// Every object of the sample scene sits on a marker and layer its markers file declares. (That every
// sample file reads complete and cleanly: the scene format document test, which reads them all.)
TEST(Samples, ObjectsSitOnLayersTheirMarkersDeclare)
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
