#include "SettingsTestSupport.h"

#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"

using namespace Novaro;
using namespace Novaro::SettingsTest;

namespace
{

using EventsKmlParserTest = SettingsFileTest;

const char* const clickAction = "<action source=\"\" target=\"lamp\"><command>show</command></action>";

} // namespace

TEST_F(EventsKmlParserTest, EventsWithActionsAndParameters)
{
    ReadResult<XMLEventsParserManager> read(files.write("events.xml", R"(<events name="cube">
        <event name="on_left_mouse_click"><actions>
          <action source="" target=""><command>start_animation</command>
            <parameters><parameter name="speed">2</parameter><parameter name="speed">3</parameter>
              <option name="x">1</option><parameter>unnamed</parameter><parameter name="empty"/></parameters>
          </action>
          <action source="door" target="lamp"><command></command></action>
          <action target="lamp"><command>hide</command></action>
          <action source="door"><command>hide</command></action>
        </actions></event>
        <event name="on_left_mouse_click"><actions>)" + std::string(clickAction) +
                                                                          R"(</actions></event></events>)"));
    ASSERT_TRUE(read.valid);
    const EventsData& data = read.reader.getData();
    EXPECT_EQ("cube", data.getName());
    ASSERT_EQ(2u, data.getEvents().size());
    const std::vector<ActionData>& actions = data.getEvents()[0].getActions();
    ASSERT_EQ(2u, actions.size());
    EXPECT_EQ("_self_", actions[0].getSource());
    EXPECT_EQ("_self_", actions[0].getTarget());
    EXPECT_EQ("start_animation", actions[0].getCommand());
    EXPECT_EQ((std::map<std::string, std::string>{{"speed", "3"}, {"", "unnamed"}, {"empty", ""}}),
              actions[0].getParameters());
    EXPECT_EQ("door", actions[1].getSource());
    EXPECT_EQ("", actions[1].getCommand());
    EXPECT_TRUE(actions[1].getParameters().empty());
    EXPECT_EQ("on_left_mouse_click", data.getEvents()[1].getName());
    EXPECT_EQ("lamp", data.getEvents()[1].getActions()[0].getTarget());

    EXPECT_TRUE(printedAll(
        {" WARNING: <parameter> was expected (skipping).", "WARNING: source missing (skipping)."}));
    EXPECT_EQ(osg::FATAL, capture.severityOf("WARNING: target missing (skipping)."));
}

TEST_F(EventsKmlParserTest, BrokenEventsAreDroppedOthersKept)
{
    ReadResult<XMLEventsParserManager> read(files.write(
        "events.xml", std::string("<events>") + "<event name=\"a\"><actions><note/>" + clickAction +
                          "</actions></event>" +
                          "<event name=\"b\"><actions><action source=\"\" target=\"\"/></actions></event>" +
                          "<event name=\"c\"/><happening name=\"d\"/><event><actions>" + clickAction +
                          "</actions></event>" + "<event name=\"e\"><actions>" + clickAction +
                          "</actions></event>" + "<event name=\"f\"><actions/></event></events>"));
    ASSERT_TRUE(read.parsed);
    const std::vector<EventData>& events = read.reader.getData().getEvents();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("e", events[0].getName());
    EXPECT_EQ("f", events[1].getName());
    EXPECT_FALSE(read.valid); // "f" runs nothing
    EXPECT_TRUE(
        printedAll({" ERROR: missing <action> data.", " ERROR: missing <command> data.",
                    " WARNING: missing <actions> (skipping).", " WARNING: <event> was expected (skipping).",
                    "WARNING: name missing (skipping)."}));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" ERROR: missing <command> data."));

    ReadResult<XMLEventsParserManager> none(files.write("none.xml", "<events/>"));
    EXPECT_TRUE(none.valid);
}

TEST_F(EventsKmlParserTest, KmlDocumentWithModelsAndAliases)
{
    ReadResult<XMLKmlParserManager> read(files.write("doc.kml", R"(<?xml version="1.0" encoding="UTF-8"?>
      <kml xmlns="http://www.opengis.net/kml/2.2"><Document><name>d</name>
        <Placemark><Model><Link><href>models/house.dae</href></Link><ResourceMap>
          <Alias><targetHref>a.jpg</targetHref><sourceHref>tex/a.jpg</sourceHref></Alias>
          <Alias><targetHref>a.jpg</targetHref><sourceHref>tex/b.jpg</sourceHref></Alias>
          <Alias><sourceHref>x</sourceHref></Alias><Alias><targetHref>y</targetHref></Alias><Other/>
        </ResourceMap></Model>
        <Model><Link/></Model><Model><href>loose.dae</href></Model></Placemark>
        <Folder><Placemark/></Folder>
        <Placemark><Model><Link><href>second.dae</href></Link></Model></Placemark></Document></kml>)"));
    ASSERT_TRUE(read.valid);
    const std::vector<KmlModel>& models = read.reader.getData().getModels();
    ASSERT_EQ(2u, models.size());
    EXPECT_EQ("models/house.dae", models[0].getHref());
    EXPECT_EQ((std::map<std::string, std::string>{{"a.jpg", "tex/b.jpg"}}), models[0].getAliases());
    EXPECT_EQ("second.dae", models[1].getHref());
    EXPECT_TRUE(models[1].getAliases().empty());
}

TEST_F(EventsKmlParserTest, KmlFoldersNestAndAModelNeedsAFile)
{
    ReadResult<XMLKmlParserManager> nested(files.write(
        "folders.kml",
        "<kml><Folder><Folder><Folder><Placemark><Model><Link><href>deep.dae</href></Link></Model>"
        "</Placemark></Folder></Folder><Placemark/><Placemark/></Folder></kml>"));
    ASSERT_TRUE(nested.valid);
    ASSERT_EQ(1u, nested.reader.getData().getModels().size());
    EXPECT_EQ("deep.dae", nested.reader.getData().getModels()[0].getHref());

    ReadResult<XMLKmlParserManager> placemark(files.write(
        "placemark.kml", "<kml><Placemark><Model><Link><href></href></Link></Model></Placemark></kml>"));
    EXPECT_TRUE(placemark.parsed);
    EXPECT_FALSE(placemark.valid); // a model without a file

    ReadResult<XMLKmlParserManager> noModels(files.write("none.kml", "<kml><Document/></kml>"));
    EXPECT_TRUE(noModels.parsed);
    EXPECT_FALSE(noModels.valid);
}
