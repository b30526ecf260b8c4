#include "SettingsTestSupport.h"

#include "settings/XMLSceneParserManager.h"

#include <memory>

using namespace Novaro;
using namespace Novaro::SettingsTest;

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

TEST_F(SceneParserTest, BareSceneKeepsItsDefaultsAndSaysWhatItLacks)
{
    auto* result = read("<scene><objects/></scene>");
    EXPECT_TRUE(result->parsed);
    EXPECT_FALSE(result->valid);
    EXPECT_EQ("meters", data().getUnits());
    EXPECT_TRUE(data().getShowMessage());
    EXPECT_EQ("Novaro(TM)", data().getMessage());
    EXPECT_EQ("standalone", data().getPlatform());
    EXPECT_EQ("N.A.", data().getTitle());
    EXPECT_EQ("N.A.", data().getLatitude());
    EXPECT_TRUE(data().getSource().empty());
    // What a user must hear of: the sections the player falls back on.
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: missing <parameters> data in scene file."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: missing <metadata> data in scene file."));
}

TEST_F(SceneParserTest, SceneAttributesParametersAndMetadata)
{
    ASSERT_TRUE(
        read(R"(<scene name="s" source="all.osgb" source_folder="f" authoring_software="maya" units="mm">
        <metadata><title>T</title><author></author>
          <location><latitude>46.1</latitude><longitude>7.2</longitude><altitude>500</altitude></location>
          <videos><video tag="screen" movie="a.mp4"/><video tag="screen" movie="b.mp4"/><video movie="c.mp4"/>
            <video tag="wall"/><clip/></videos></metadata>
        <parameters><p name="show_message">False</p><p name="message"></p></parameters>
        <objects/></scene>)")
            ->parsed);
    EXPECT_EQ("all.osgb", data().getSource());
    EXPECT_EQ("f", data().getSourceFolder());
    EXPECT_EQ("maya", data().getAuthoringSoftware());
    EXPECT_EQ("mm", data().getUnits());
    EXPECT_TRUE(data().getShowMessage());
    EXPECT_EQ("", data().getMessage());
    EXPECT_EQ("T", data().getTitle());
    EXPECT_EQ("", data().getAuthor());
    EXPECT_EQ("standalone", data().getPlatform());
    EXPECT_EQ("500", data().getAltitude());
    EXPECT_EQ((std::map<std::string, std::string>{{"screen", "b.mp4"}}), data().getVideos());
}

TEST_F(SceneParserTest, IncompleteLocationIsResetWhole)
{
    ASSERT_TRUE(
        read("<scene><metadata><location><latitude>1</latitude><altitude>3</altitude></location></metadata>"
             "<parameters><p name=\"show_message\">false</p><p name=\"message\">Hi there</p></parameters>"
             "<objects/></scene>")
            ->parsed);
    EXPECT_EQ("N.A.", data().getLatitude());
    EXPECT_EQ("N.A.", data().getLongitude());
    EXPECT_EQ("N.A.", data().getAltitude());
    EXPECT_FALSE(data().getShowMessage());
    EXPECT_EQ("Hi there", data().getMessage());
}

TEST_F(SceneParserTest, ObjectDefaultsAndFlags)
{
    ASSERT_TRUE(readObject("ARObject", "")->valid);
    const ObjectData& plain = object();
    EXPECT_EQ("m.osgb", plain.getSource());
    EXPECT_TRUE(plain.getLoop());
    EXPECT_TRUE(plain.getIsVisible());
    EXPECT_FALSE(plain.getIsOccluder() || plain.getIgnore() || plain.getUseProperties());
    EXPECT_EQ(osg::Vec3f(0, 0, 0), plain.getTranslation());
    EXPECT_EQ(osg::Vec3f(1, 1, 1), plain.getScale());
    EXPECT_EQ(osg::Vec3f(0, 0, 1), plain.getDirection());
    EXPECT_EQ(180.0f, plain.getSpotCutoff());
    EXPECT_EQ(1, plain.getDetail());

    ASSERT_TRUE(
        readObjects("<object type=\"ARAudio\" is_occluder=\"TRUE\" is_visible=\"false\" ignore=\"true\" "
                    "use_properties=\"true\"><model/><markers all=\"true\"/></object>")
            ->valid);
    EXPECT_FALSE(object().getIsOccluder());
    EXPECT_FALSE(object().getIsVisible());
    EXPECT_TRUE(object().getIgnore() && object().getUseProperties() && object().getAllMarkers());
}

TEST_F(SceneParserTest, ObjectsMissingRequiredPartsAreDropped)
{
    auto* result = readObjects("<object name=\"a\"><model/><markers all=\"true\"/></object>"
                               "<object name=\"b\" type=\"ARObject\"><markers all=\"true\"/></object>"
                               "<object name=\"c\" type=\"ARObject\"><model/></object>"
                               "<item/>"
                               "<object name=\"d\" type=\"ARObject\"><model/><markers/></object>"
                               "<object name=\"e\" type=\"\"><model/><markers all=\"true\"/></object>");
    EXPECT_TRUE(result->parsed);
    ASSERT_EQ(2u, data().getObjects().size());
    EXPECT_EQ("d", data().getObjects()[0].getName());
    EXPECT_FALSE(data().getObjects()[0].isValid()); // no marker at all
    EXPECT_FALSE(data().getObjects()[1].isValid()); // empty type
    EXPECT_FALSE(result->valid);
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
    EXPECT_EQ(3, object().getMarkerId(1));
    EXPECT_EQ(-1, object().getMarkerId(3));

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
    EXPECT_TRUE(object().getDirectional());
    EXPECT_EQ(osg::Vec3f(0, 0, 1), object().getPosition());
    EXPECT_EQ(osg::Vec3f(0.5f, 0, 0), object().getDirection());
    EXPECT_EQ(1, object().getDetail());
    EXPECT_EQ(45.0f, object().getSpotCutoff());
    EXPECT_EQ(96.0f, object().getSpotExponent());
    EXPECT_FALSE(object().getLoop());

    const std::pair<const char*, int> details[] = {{"HIGH", 2}, {"low", 0}, {"ultra", 1}, {"high", 2}};
    for (const auto& each : details)
    {
        ASSERT_TRUE(readObject("ARLight", std::string("<properties><p name=\"detail\">") + each.first +
                                              "</p><p name=\"position_y\">2</p></properties>")
                        ->valid);
        EXPECT_EQ(each.second, object().getDetail()) << each.first;
        EXPECT_EQ(osg::Vec3f(0, 2, 0), object().getPosition());
    }
    EXPECT_EQ(osg::FATAL, capture.severityOf(" spot_cutoff: NA (using default)."));

    // Light properties belong to lights only.
    ASSERT_TRUE(readObject("ARObject", "<properties><p name=\"directional\">true</p></properties>")->valid);
    EXPECT_FALSE(object().getDirectional());
    EXPECT_EQ(osg::FATAL, capture.severityOf(" loop: NA (using default)."));
}

TEST_F(SceneParserTest, VideoProperties)
{
    ASSERT_TRUE(readObject("ARVideo",
                           "<properties><p name=\"chroma_key\">true</p>"
                           "<p name=\"chroma_key_from_green_screen\">FALSE</p><p name=\"loop\">true</p>"
                           "</properties>")
                    ->valid);
    EXPECT_TRUE(object().getChromaKey());
    EXPECT_TRUE(object().getChromaKeyFromGreenScreen());
    EXPECT_FALSE(object().getLighting());
    EXPECT_TRUE(object().getLoop());

    ASSERT_TRUE(readObject("ARVideo", "<properties><p name=\"chroma_key_from_green_screen\">false</p>"
                                      "<p name=\"lighting\">true</p></properties>")
                    ->valid);
    EXPECT_FALSE(object().getChromaKeyFromGreenScreen());
    EXPECT_TRUE(object().getLighting());
}

TEST_F(SceneParserTest, TransformsFallBackPerComponent)
{
    ASSERT_TRUE(readObject("ARObject", "<transforms><translation x=\"1.5\" z=\"-2\"/><scale x=\"2\" y=\"\"/>"
                                       "<rotation axis=\"Y\" angle=\"1.57\"/></transforms>")
                    ->valid);
    EXPECT_EQ(osg::Vec3f(1.5f, 0, -2), object().getTranslation());
    EXPECT_EQ(osg::Vec3f(2, 1, 1), object().getScale());
    EXPECT_EQ(1, object().getRotationAxis());
    EXPECT_FLOAT_EQ(1.57f, object().getRotationAngle());

    ASSERT_TRUE(
        readObject("ARObject", "<transforms><scale x=\"abc\"/><rotation axis=\"w\"/></transforms>")->valid);
    EXPECT_EQ(osg::Vec3f(0, 1, 1), object().getScale());
    EXPECT_EQ(0, object().getRotationAxis());
    EXPECT_EQ(0.0f, object().getRotationAngle());
}

TEST_F(SceneParserTest, FilesAndHotspots)
{
    ASSERT_TRUE(readObject("ARObject", "<description file=\"d.txt\"/><events file=\"events/e.xml\"/><menu/>"
                                       "<hotspots><hotspot name=\"door\"/><hotspot/><spot name=\"x\"/>"
                                       "<hotspot name=\"window\"/></hotspots>")
                    ->valid);
    EXPECT_EQ("d.txt", object().getDescriptionFile());
    EXPECT_EQ("events/e.xml", object().getEventsFile());
    EXPECT_EQ("", object().getMenuFile());
    EXPECT_EQ((std::vector<std::string>{"door", "window"}), object().getHotspots());
}
