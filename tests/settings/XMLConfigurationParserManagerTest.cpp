// The configuration reader: defaults with their messages, parameters by name, antialiasing samples.
#include "SettingsTestSupport.h"

#include "settings/XMLConfigurationParserManager.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class ConfigurationParserTest : public SettingsFileTest
{
protected:
    // A configuration file whose <parameters> holds the given elements.
    std::string withParameters(const std::string& parameters, const std::string& rootAttributes = "")
    {
        return files.write("config.xml", "<?xml version=\"1.0\"?>\n<configuration" + rootAttributes +
                                             "><parameters>" + parameters + "</parameters></configuration>");
    }
};

} // namespace

TEST_F(ConfigurationParserTest, EmptyOrInexactParametersGiveTheDefaultsWithTheirMessages)
{
    // Flags that default to true are cleared only by "false"; those that default to false are set
    // only by "true"; modes are lower case.
    const std::pair<std::string, std::string> documents[] = {
        {"", ""},
        {"<p name=\"mirror\">FALSE</p><p name=\"fullscreen\"></p><p name=\"animations\">0</p>"
         "<p name=\"wireframe\">TRUE</p><p name=\"use_antialiasing\">1</p><p name=\"mode\">AR_MIXED</p>",
         " debug=\"True\""}};
    for (const auto& [parameters, rootAttributes] : documents)
    {
        SCOPED_TRACE(parameters + rootAttributes);
        ReadResult<XMLConfigurationParserManager> read(withParameters(parameters, rootAttributes));
        ASSERT_TRUE(read.valid);
        const ConfigurationData& d = read.reader.getData();
        EXPECT_EQ(std::make_tuple(AR_SIMPLE, false, true, true, false, false, false, 1, true, false),
                  std::make_tuple(d.getMode(), d.getDebug(), d.getMirror(), d.getFullscreen(),
                                  d.getWireframe(), d.getCameraSettings(), d.getUseAntialiasing(),
                                  d.getAntialiasingSamples(), d.getAnimations(), d.getFitting()));
    }
    // The messages of the empty parameters, printed first.
    EXPECT_EQ(osg::FATAL, capture.severityOf(" mode: NA (using default)."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" antialiasing_samples: NA (using default)."));
    EXPECT_EQ(osg::NOTICE, capture.severityOf(" mirror: NA (using default)."));
    EXPECT_TRUE(capture.printed(" fullscreen: "));
}

TEST_F(ConfigurationParserTest, ParametersAreFoundByNameWhateverTheirTag)
{
    ReadResult<XMLConfigurationParserManager> read(withParameters(
        "<param name=\"mode\">ar_fake</param>"
        "<mode name=\"mode\">ar_mixed</mode>" // second of the name: ignored
        "<wireframe>true</wireframe>"         // no name attribute: not found
        "<x name=\"use_antialiasing\">true</x><p name=\"antialiasing_samples\">4</p>"
        "<p name=\"camera_settings\">true</p><p name=\"fitting\">true</p><p name=\"unknown\">1</p>",
        " name=\"demo\" debug=\"true\""));
    ASSERT_TRUE(read.valid);
    const ConfigurationData& d = read.reader.getData();
    EXPECT_EQ(std::make_tuple(AR_FAKE, true, false, true, 4, true, true),
              std::make_tuple(d.getMode(), d.getDebug(), d.getWireframe(), d.getUseAntialiasing(),
                              d.getAntialiasingSamples(), d.getCameraSettings(), d.getFitting()));
    EXPECT_TRUE(capture.printed(" wireframe: NA (using default)."));

    // The exact texts clear the flags and set the mode.
    ReadResult<XMLConfigurationParserManager> exact(withParameters(
        "<p name=\"mirror\">false</p><p name=\"fullscreen\">false</p><p name=\"animations\">false</p>"
        "<p name=\"mode\">ar_mixed</p>"));
    const ConfigurationData& e = exact.reader.getData();
    EXPECT_EQ(std::make_tuple(false, false, false, AR_MIXED),
              std::make_tuple(e.getMirror(), e.getFullscreen(), e.getAnimations(), e.getMode()));
}

TEST_F(ConfigurationParserTest, AntialiasingSamplesKeepEvenCountsFromTheFile)
{
    const std::pair<const char*, int> cases[] = {
        {"4", 4}, {"6", 6}, {"3", 1}, {"abc", 0}, {"", 0}, {" -8", -8}, {"+2x", 2}, {"-7", 1}, {"16.9", 16},
    };
    for (const auto& each : cases)
    {
        ReadResult<XMLConfigurationParserManager> read(
            withParameters(std::string("<p name=\"antialiasing_samples\">") + each.first + "</p>"));
        ASSERT_TRUE(read.parsed);
        EXPECT_EQ(each.second, read.reader.getData().getAntialiasingSamples()) << each.first;
    }

    // The record's own setter admits only the sample counts multisampling offers.
    ConfigurationData data;
    const std::pair<int, int> setter[] = {{2, 2}, {64, 64}, {6, 1}, {0, 1}, {-4, 1}, {128, 1}};
    for (const auto& each : setter)
    {
        data.setAntialiasingSamples(each.first);
        EXPECT_EQ(each.second, data.getAntialiasingSamples()) << each.first;
    }
}

TEST_F(ConfigurationParserTest, ParametersMustBeTheFirstElement)
{
    // <parameters> must be the first child element; comments in front of it do not count.
    ReadResult<XMLConfigurationParserManager> notFirst(
        files.write("order.xml", "<configuration debug=\"true\"><options/><parameters/></configuration>"));
    EXPECT_FALSE(notFirst.parsed);
    EXPECT_TRUE(notFirst.reader.getData().getDebug());
    EXPECT_TRUE(capture.printed("ERROR: missing <parameters> data in configuration file."));

    ReadResult<XMLConfigurationParserManager> commented(
        files.write("comment.xml", "<configuration><!-- exported --><parameters/></configuration>"));
    EXPECT_TRUE(commented.valid);
}
