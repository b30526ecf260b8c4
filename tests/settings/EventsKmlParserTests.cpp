// The events and KML readers: events with actions and parameters, KML models and aliases.
#include "SettingsTestSupport.h"

#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

using EventsKmlParserTest = SettingsFileTest;

const char* const clickAction = "<action source=\"\" target=\"lamp\"><command>show</command></action>";

} // namespace

TEST_F(EventsKmlParserTest, EventsWithActionsAndParametersAndBrokenOnesDropped)
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
    ASSERT_EQ(2u, data.getEvents().size());
    const std::vector<ActionData>& actions = data.getEvents()[0].getActions();
    ASSERT_EQ(2u, actions.size());
    using Parameters = std::map<std::string, std::string>;
    const auto action = [](const ActionData& a)
    { return std::make_tuple(a.getSource(), a.getTarget(), a.getCommand(), a.getParameters()); };
    EXPECT_EQ(std::make_tuple("_self_", "_self_", "start_animation",
                              Parameters{{"speed", "3"}, {"", "unnamed"}, {"empty", ""}}),
              action(actions[0]));
    EXPECT_EQ(std::make_tuple("door", "lamp", "", Parameters()), action(actions[1]));
    EXPECT_EQ(std::make_tuple("cube", "on_left_mouse_click", "lamp"),
              std::make_tuple(data.getName(), data.getEvents()[1].getName(),
                              data.getEvents()[1].getActions()[0].getTarget()));

    EXPECT_TRUE(printedAll(
        {" WARNING: <parameter> was expected (skipping).", "WARNING: source missing (skipping)."}));
    EXPECT_EQ(osg::FATAL, capture.severityOf("WARNING: target missing (skipping)."));

    // Broken events are dropped, others kept.
    ReadResult<XMLEventsParserManager> broken(files.write(
        "events.xml", std::string("<events>") + "<event name=\"a\"><actions><note/>" + clickAction +
                          "</actions></event>" +
                          "<event name=\"b\"><actions><action source=\"\" target=\"\"/></actions></event>" +
                          "<event name=\"c\"/><happening name=\"d\"/><event><actions>" + clickAction +
                          "</actions></event>" + "<event name=\"e\"><actions>" + clickAction +
                          "</actions></event>" + "<event name=\"f\"><actions/></event></events>"));
    EXPECT_TRUE(broken.parsed && !broken.valid); // "f" runs nothing
    std::vector<std::string> names;
    for (const EventData& event : broken.reader.getData().getEvents())
        names.push_back(event.getName());
    EXPECT_EQ((std::vector<std::string>{"e", "f"}), names);
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
    using Aliases = std::map<std::string, std::string>;
    std::vector<std::pair<std::string, Aliases>> models;
    for (const KmlModel& model : read.reader.getData().getModels())
        models.emplace_back(model.getHref(), model.getAliases());
    EXPECT_EQ((std::vector<std::pair<std::string, Aliases>>{{"models/house.dae", {{"a.jpg", "tex/b.jpg"}}},
                                                            {"second.dae", {}}}),
              models);

    // Folders nest, and a model needs a file.
    ReadResult<XMLKmlParserManager> nested(files.write(
        "folders.kml",
        "<kml><Folder><Folder><Folder><Placemark><Model><Link><href>deep.dae</href></Link></Model>"
        "</Placemark></Folder></Folder><Placemark/><Placemark/></Folder></kml>"));
    ASSERT_TRUE(nested.valid);
    ASSERT_EQ(1u, nested.reader.getData().getModels().size());
    EXPECT_EQ("deep.dae", nested.reader.getData().getModels()[0].getHref());

    // A model without a file, and no model at all.
    for (const char* invalid : {"<kml><Placemark><Model><Link><href></href></Link></Model></Placemark></kml>",
                                "<kml><Document/></kml>"})
    {
        ReadResult<XMLKmlParserManager> refused(files.write("invalid.kml", invalid));
        EXPECT_TRUE(refused.parsed && !refused.valid) << invalid;
    }
}
