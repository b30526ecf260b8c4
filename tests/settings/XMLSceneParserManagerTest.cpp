// The scene reader: scene and object defaults, markers, lights, transforms, files and hotspots.
#include "SettingsTestSupport.h"

#include "settings/XMLSceneParserManager.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <tuple>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class SceneParserTest : public SettingsFileTest
{
protected:
    ReadResult<XMLSceneParserManager>* read(const std::string& content)
    {
        _result.reset(new ReadResult<XMLSceneParserManager>(files.write("scene.xml", content)));
        return _result.get();
    }
    // A scene with the given objects and nothing else.
    ReadResult<XMLSceneParserManager>* readObjects(const std::string& objects)
    {
        return read("<scene><objects>" + objects + "</objects></scene>");
    }
    // One object of the type with the given children after a model; on marker 1 unless markers given.
    ReadResult<XMLSceneParserManager>*
    readObject(const std::string& type, const std::string& children,
               const std::string& markers = "<markers><marker id=\"1\" layer=\"0\"/></markers>")
    {
        return readObjects("<object name=\"o\" type=\"" + type + "\"><model source=\"m.osgb\"/>" + children +
                           markers + "</object>");
    }
    const SceneData& data() const { return _result->reader.getData(); }
    const ObjectData& object() const { return data().getObjects().at(0); }

private:
    std::unique_ptr<ReadResult<XMLSceneParserManager>> _result;
};

} // namespace

TEST_F(SceneParserTest, BareSceneKeepsItsDefaultsAndAFullOneItsAttributesParametersAndMetadata)
{
    auto* result = read("<scene><objects/></scene>");
    EXPECT_TRUE(result->parsed && !result->valid);
    const SceneData& d = data();
    EXPECT_EQ(std::make_tuple("meters", true, "Novaro(TM)", "standalone", "N.A.", "N.A.", ""),
              std::make_tuple(d.getUnits(), d.getShowMessage(), d.getMessage(), d.getPlatform(), d.getTitle(),
                              d.getLatitude(), d.getSource()));
    // What a user must hear of: the sections the player falls back on.
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: missing <parameters> data in scene file."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: missing <metadata> data in scene file."));

    // Scene attributes, parameters and metadata.
    ASSERT_TRUE(
        read(R"(<scene name="s" source="all.osgb" source_folder="f" authoring_software="maya" units="mm">
        <metadata><title>T</title><author></author>
          <location><latitude>46.1</latitude><longitude>7.2</longitude><altitude>500</altitude></location>
          <videos><video tag="screen" movie="a.mp4"/><video tag="screen" movie="b.mp4"/><video movie="c.mp4"/>
            <video tag="wall"/><clip/></videos></metadata>
        <parameters><p name="show_message">False</p><p name="message"></p></parameters>
        <objects/></scene>)")
            ->parsed);
    const SceneData& s = data();
    EXPECT_EQ(std::make_tuple("all.osgb", "f", "maya", "mm", true, "", "T", "", "standalone", "500"),
              std::make_tuple(s.getSource(), s.getSourceFolder(), s.getAuthoringSoftware(), s.getUnits(),
                              s.getShowMessage(), s.getMessage(), s.getTitle(), s.getAuthor(),
                              s.getPlatform(), s.getAltitude()));
    EXPECT_EQ((std::map<std::string, std::string>{{"screen", "b.mp4"}}), data().getVideos());

    // An incomplete location is reset whole.
    ASSERT_TRUE(
        read("<scene><metadata><location><latitude>1</latitude><altitude>3</altitude></location></metadata>"
             "<parameters><p name=\"show_message\">false</p><p name=\"message\">Hi there</p></parameters>"
             "<objects/></scene>")
            ->parsed);
    EXPECT_EQ(std::make_tuple("N.A.", "N.A.", "N.A.", false, "Hi there"),
              std::make_tuple(data().getLatitude(), data().getLongitude(), data().getAltitude(),
                              data().getShowMessage(), data().getMessage()));
}

TEST_F(SceneParserTest, ObjectDefaultsFlagsAndRequiredParts)
{
    ASSERT_TRUE(readObject("ARObject", "")->valid);
    const ObjectData& o = object();
    EXPECT_EQ(std::make_tuple("m.osgb", true, true, false, false, false, 180.0f, 1),
              std::make_tuple(o.getSource(), o.getLoop(), o.getIsVisible(), o.getIsOccluder(), o.getIgnore(),
                              o.getUseProperties(), o.getSpotCutoff(), o.getDetail()));
    EXPECT_EQ(std::make_tuple(osg::Vec3f(0, 0, 0), osg::Vec3f(1, 1, 1), osg::Vec3f(0, 0, 1)),
              std::make_tuple(o.getTranslation(), o.getScale(), o.getDirection()));

    ASSERT_TRUE(
        readObjects("<object type=\"ARAudio\" is_occluder=\"TRUE\" is_visible=\"false\" ignore=\"true\" "
                    "use_properties=\"true\"><model/><markers all=\"true\"/></object>")
            ->valid);
    EXPECT_FALSE(object().getIsOccluder() || object().getIsVisible());
    EXPECT_TRUE(object().getIgnore() && object().getUseProperties() && object().getAllMarkers());

    // Objects missing required parts are dropped.
    auto* result = readObjects("<object name=\"a\"><model/><markers all=\"true\"/></object>"
                               "<object name=\"b\" type=\"ARObject\"><markers all=\"true\"/></object>"
                               "<object name=\"c\" type=\"ARObject\"><model/></object>"
                               "<item/>"
                               "<object name=\"d\" type=\"ARObject\"><model/><markers/></object>"
                               "<object name=\"e\" type=\"\"><model/><markers all=\"true\"/></object>");
    EXPECT_TRUE(result->parsed && !result->valid);
    ASSERT_EQ(2u, data().getObjects().size());
    EXPECT_EQ("d", data().getObjects()[0].getName());
    EXPECT_FALSE(data().getObjects()[0].isValid()); // no marker at all
    EXPECT_FALSE(data().getObjects()[1].isValid()); // empty type
}

TEST_F(SceneParserTest, MarkersKeepTheFirstLayerPerId)
{
    ASSERT_TRUE(
        readObject("ARObject", "",
                   "<markers><marker id=\"2\" layer=\"1\"/><marker id=\"2\" layer=\"2\"/><marker id=\"3\"/>"
                   "<marker layer=\"4\"/><m id=\"9\"/><marker id=\"x\" layer=\"y\"/></markers>")
            ->valid);
    EXPECT_EQ((std::vector<int>{2, 3, 0}), object().getMarkerIds());
    EXPECT_EQ((std::map<int, int>{{2, 1}, {3, 0}, {0, 0}}), object().getMarkerLayers());
    EXPECT_EQ(std::make_pair(3, -1), std::make_pair(object().getMarkerId(1), object().getMarkerId(3)));

    // With all="true" the children are not read.
    ASSERT_TRUE(readObject("ARObject", "", "<markers all=\"true\"><marker id=\"5\"/></markers>")->valid);
    EXPECT_TRUE(object().getMarkerIds().empty());
}

TEST_F(SceneParserTest, LightProperties)
{
    ASSERT_TRUE(readObject("ARLight", "<properties><p name=\"directional\">true</p><p name=\"detail\">Med</p>"
                                      "<p name=\"direction_x\">0.5</p><p name=\"direction_z\"></p>"
                                      "<p name=\"spot_cutoff\">45</p><p name=\"loop\">TRUE</p></properties>")
                    ->valid);
    const ObjectData& o = object();
    EXPECT_EQ(std::make_tuple(true, osg::Vec3f(0, 0, 1), osg::Vec3f(0.5f, 0, 0), 1, 45.0f, 96.0f, false),
              std::make_tuple(o.getDirectional(), o.getPosition(), o.getDirection(), o.getDetail(),
                              o.getSpotCutoff(), o.getSpotExponent(), o.getLoop()));

    const std::pair<const char*, int> details[] = {{"HIGH", 2}, {"low", 0}, {"ultra", 1}, {"high", 2}};
    for (const auto& each : details)
    {
        ASSERT_TRUE(readObject("ARLight", std::string("<properties><p name=\"detail\">") + each.first +
                                              "</p><p name=\"position_y\">2</p></properties>")
                        ->valid);
        EXPECT_EQ(std::make_pair(each.second, osg::Vec3f(0, 2, 0)),
                  std::make_pair(object().getDetail(), object().getPosition()))
            << each.first;
    }
    EXPECT_EQ(osg::FATAL, capture.severityOf(" spot_cutoff: NA (using default)."));

    // Light properties belong to lights only.
    ASSERT_TRUE(readObject("ARObject", "<properties><p name=\"directional\">true</p></properties>")->valid);
    EXPECT_FALSE(object().getDirectional());
    EXPECT_EQ(osg::FATAL, capture.severityOf(" loop: NA (using default)."));

    // Video properties.
    ASSERT_TRUE(readObject("ARVideo",
                           "<properties><p name=\"chroma_key\">true</p>"
                           "<p name=\"chroma_key_from_green_screen\">FALSE</p><p name=\"loop\">true</p>"
                           "</properties>")
                    ->valid);
    EXPECT_EQ(std::make_tuple(true, true, false, true),
              std::make_tuple(object().getChromaKey(), object().getChromaKeyFromGreenScreen(),
                              object().getLighting(), object().getLoop()));

    ASSERT_TRUE(readObject("ARVideo", "<properties><p name=\"chroma_key_from_green_screen\">false</p>"
                                      "<p name=\"lighting\">true</p></properties>")
                    ->valid);
    EXPECT_TRUE(!object().getChromaKeyFromGreenScreen() && object().getLighting());
}

TEST_F(SceneParserTest, TransformsFallBackPerComponentAndFilesAndHotspotsAreRead)
{
    ASSERT_TRUE(readObject("ARObject", "<transforms><translation x=\"1.5\" z=\"-2\"/><scale x=\"2\" y=\"\"/>"
                                       "<rotation axis=\"Y\" angle=\"1.57\"/></transforms>")
                    ->valid);
    EXPECT_EQ(std::make_tuple(osg::Vec3f(1.5f, 0, -2), osg::Vec3f(2, 1, 1), 1, 1.57f),
              std::make_tuple(object().getTranslation(), object().getScale(), object().getRotationAxis(),
                              object().getRotationAngle()));

    ASSERT_TRUE(
        readObject("ARObject", "<transforms><scale x=\"abc\"/><rotation axis=\"w\"/></transforms>")->valid);
    EXPECT_EQ(std::make_tuple(osg::Vec3f(0, 1, 1), 0, 0.0f),
              std::make_tuple(object().getScale(), object().getRotationAxis(), object().getRotationAngle()));

    // Files and hotspots.
    ASSERT_TRUE(readObject("ARObject", "<description file=\"d.txt\"/><events file=\"events/e.xml\"/><menu/>"
                                       "<hotspots><hotspot name=\"door\"/><hotspot/><spot name=\"x\"/>"
                                       "<hotspot name=\"window\"/></hotspots>")
                    ->valid);
    EXPECT_EQ(
        std::make_tuple("d.txt", "events/e.xml", ""),
        std::make_tuple(object().getDescriptionFile(), object().getEventsFile(), object().getMenuFile()));
    EXPECT_EQ((std::vector<std::string>{"door", "window"}), object().getHotspots());
}
