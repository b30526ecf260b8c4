// The audio and lighting readers: soundtracks and their properties, light texts and unknown names.
#include "SettingsTestSupport.h"

#include "settings/XMLAudioParserManager.h"
#include "settings/XMLLightingParserManager.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

using AudioLightingParserTest = SettingsFileTest;

} // namespace

TEST_F(AudioLightingParserTest, AudioSoundtracksAndProperties)
{
    ReadResult<XMLAudioParserManager> read(files.write("audio.xml", R"(<audio name="a">
        <properties><p name="loop">TRUE</p><p name="autoplay">true</p></properties>
        <soundtracks><soundtrack name="one" source="one.ogg"/><soundtrack name="two"/><music source="x"/>
          <soundtrack source="three.wav"/></soundtracks></audio>)"));
    ASSERT_TRUE(read.valid);
    const AudioData& data = read.reader.getData();
    ASSERT_EQ(2u, data.getSoundtracks().size());
    EXPECT_EQ(std::make_tuple("one.ogg", "", false, true),
              std::make_tuple(data.getSoundtracks()[0].getSource(), data.getSoundtracks()[1].getName(),
                              data.getLoop(), data.getAutoplay()));

    // Defaults, and what makes the record invalid.
    ReadResult<XMLAudioParserManager> bare(files.write("bare.xml", "<audio><soundtracks/></audio>"));
    // No soundtrack at all is fine.
    EXPECT_TRUE(bare.valid && bare.reader.getData().getLoop() && bare.reader.getData().getAutoplay());
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: missing <properties> data in audio file."));

    ReadResult<XMLAudioParserManager> emptyProperties(files.write(
        "props.xml", "<audio><soundtracks/><properties><p name=\"autoplay\">yes</p></properties></audio>"));
    EXPECT_TRUE(emptyProperties.reader.getData().getLoop() &&
                !emptyProperties.reader.getData().getAutoplay());
    EXPECT_TRUE(capture.printed(" loop: NA (using default)."));

    ReadResult<XMLAudioParserManager> emptySource(files.write(
        "empty.xml", "<audio><soundtracks><soundtrack name=\"x\" source=\"\"/></soundtracks></audio>"));
    EXPECT_TRUE(emptySource.parsed && !emptySource.valid);
}

TEST_F(AudioLightingParserTest, LightingTextsMapExactlyAndUnknownOnesAreReportedWithTheNearestName)
{
    struct Case
    {
        const char *mode, *hint, *technique;
        int expectedMode, expectedHint, expectedTechnique;
    };
    const Case cases[] = {
        {"deferred", "max", "sv", 1, 2, 4},      {"Deferred", "MAX", "pssm", 0, 0, 0},
        {"direct", "cinema4d", "vdsm", 0, 6, 3}, {"", "su", "ssm", 0, 1, 1},
        {"deferred ", "scia", "stsm", 0, 5, 2},  {"x", "vectorworks", "sm", 0, 4, 0},
        {"direct", "maya", "SV", 0, 3, 0},       {"direct", "", "sm", 0, 0, 0},
    };
    for (const Case& each : cases)
    {
        ReadResult<XMLLightingParserManager> read(files.write(
            "lighting.xml",
            std::string("<lighting name=\"l\"><!-- first --><parameters><p name=\"mode\"><![CDATA[") +
                each.mode + "]]></p><p name=\"compatibility_hint\">" + each.hint +
                "</p><p name=\"shadow_technique\">" + each.technique + "</p></parameters></lighting>"));
        ASSERT_TRUE(read.valid);
        const LightingData& data = read.reader.getData();
        EXPECT_EQ(std::make_tuple(each.expectedMode, each.expectedHint, each.expectedTechnique),
                  std::make_tuple(data.getMode(), data.getCompatibilityHint(), data.getShadowTechnique()))
            << each.mode << ", " << each.hint << ", " << each.technique;
    }
    // Absent parameters are the first of each list.
    ReadResult<XMLLightingParserManager> empty(
        files.write("empty.xml", "<lighting><parameters/></lighting>"));
    ASSERT_TRUE(empty.valid);
    EXPECT_EQ(0, empty.reader.getData().getMode() + empty.reader.getData().getCompatibilityHint() +
                     empty.reader.getData().getShadowTechnique());
    EXPECT_EQ(osg::FATAL, capture.severityOf(" shadow_technique: NA (using default)."));

    // Unknown values are reported with the file, the line and the nearest name.
    capture.clear();
    const std::string path = files.write("lighting.xml", "<lighting name=\"l\"><parameters>\n"
                                                         "<p name=\"mode\">Deferred</p>\n"
                                                         "<p name=\"compatibility_hint\">3dsmax</p>\n"
                                                         "<p name=\"shadow_technique\">pssm</p>\n"
                                                         "</parameters></lighting>");
    ReadResult<XMLLightingParserManager> unknown(path);
    ASSERT_TRUE(unknown.valid);
    EXPECT_EQ(0, unknown.reader.getData().getMode() + unknown.reader.getData().getShadowTechnique());
    const std::string at = "WARNING: " + path;
    EXPECT_EQ(capture.text(osg::FATAL),
              at + ":2: unknown mode \"Deferred\", using \"direct\" (did you mean \"deferred\"?).\n" + at +
                  ":3: unknown compatibility_hint \"3dsmax\", using \"none\" (did you mean \"max\"?).\n" +
                  at + ":4: unknown shadow_technique \"pssm\", using \"sm\" (did you mean \"ssm\"?).\n");

    // Known values, and a text too far from every name for a guess, say no more than that.
    capture.clear();
    ReadResult<XMLLightingParserManager> known(
        files.write("known.xml",
                    "<lighting><parameters><p name=\"mode\">deferred</p><p name=\"compatibility_hint\">su</p>"
                    "<p name=\"shadow_technique\">sv</p></parameters></lighting>"));
    EXPECT_EQ(capture.text(osg::FATAL), "");
    ReadResult<XMLLightingParserManager> far(files.write(
        "far.xml", "<lighting><parameters><p name=\"mode\">direct</p><p name=\"compatibility_hint\"></p>"
                   "<p name=\"shadow_technique\">raytraced</p></parameters></lighting>"));
    EXPECT_EQ(capture.text(osg::FATAL), "WARNING: " + files.file("far.xml") +
                                            ":1: unknown shadow_technique \"raytraced\", using \"sm\".\n");
}
