// The tracker and video readers: defaults, clamped values, formats and cameras in file order.
#include "SettingsTestSupport.h"

#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class TrackerVideoParserTest : public SettingsFileTest
{
protected:
    std::string tracker(const std::string& parameters)
    {
        return files.write("tracker.xml",
                           "<tracker name=\"t\"><parameters>" + parameters + "</parameters></tracker>");
    }
    std::string video(const std::string& formats, const std::string& cameras)
    {
        return files.write("video.xml", "<video name=\"v\"><formats>" + formats + "</formats><cameras>" +
                                            cameras + "</cameras></video>");
    }
};

const char* const oneCamera = "<camera name=\"c\" format=\"f\" path=\"camera.dat\"/>";
const char* const oneFormat = "<format name=\"f\" width=\"640\" height=\"480\"/>";

} // namespace

// Each parameter left out alone, the others given values other than their defaults: the one left
// out takes its default whether or not the file has a parameters list (a bare <tracker/>: all).
TEST_F(TrackerVideoParserTest, EachParameterLeftOutAloneTakesItsDefault)
{
    struct Parameter
    {
        std::string name, other;
        std::function<bool(const TrackerData&)> hasDefault;
    };
    const std::vector<Parameter> parameters = {
        {"smooth_tracking", "false", [](const TrackerData& d) { return d.getSmoothTracking(); }},
        {"rotational_smoothing_factor", "0.3",
         [](const TrackerData& d) { return d.getRotationalSmoothingFactor() == 0.85f; }},
        {"translational_smoothing_factor", "0.3",
         [](const TrackerData& d) { return d.getTranslationalSmoothingFactor() == 0.85f; }},
        {"threshold", "60", [](const TrackerData& d) { return d.getThreshold() == 100; }},
        {"half_tracking", "true", [](const TrackerData& d) { return !d.getHalfTracking(); }},
        {"adaptive_threshold", "false", [](const TrackerData& d) { return d.getAdaptiveThreshold(); }},
    };
    for (const Parameter& leftOut : parameters)
    {
        std::string given;
        for (const Parameter& other : parameters)
            if (other.name != leftOut.name)
                given += "<p name=\"" + other.name + "\">" + other.other + "</p>";
        ReadResult<XMLTrackerParserManager> read(tracker(given));
        ASSERT_TRUE(read.valid);
        EXPECT_TRUE(leftOut.hasDefault(read.reader.getData())) << leftOut.name << " left out";
        for (const Parameter& other : parameters)
            EXPECT_TRUE(other.name == leftOut.name || !other.hasDefault(read.reader.getData()))
                << other.name << " given";
    }
    ReadResult<XMLTrackerParserManager> bare(files.write("bare.xml", "<tracker/>"));
    ASSERT_TRUE(bare.valid);
    for (const Parameter& each : parameters)
        EXPECT_TRUE(each.hasDefault(bare.reader.getData())) << each.name << " in a bare file";
}

TEST_F(TrackerVideoParserTest, TrackerValuesAreClampedAndConventionsHold)
{
    struct Case
    {
        std::string rotational, threshold;
        float expectedRotational;
        int expectedThreshold;
    };
    const Case cases[] = {
        {"1.5", "300", 1.0f, 255},         {"-0.2", "-5", 0.0f, 0},     {"abc", "abc", 0.0f, 0},
        {"0.5", "99999999999", 0.5f, 255}, {"1e400", "42.9", 1.0f, 42}, {"nan", "  7", 0.0f, 7},
    };
    for (const Case& each : cases)
    {
        ReadResult<XMLTrackerParserManager> read(tracker("<p name=\"rotational_smoothing_factor\">" +
                                                         each.rotational + "</p><p name=\"threshold\">" +
                                                         each.threshold + "</p>"));
        ASSERT_TRUE(read.valid);
        EXPECT_FLOAT_EQ(each.expectedRotational, read.reader.getData().getRotationalSmoothingFactor())
            << each.rotational;
        EXPECT_EQ(each.expectedThreshold, read.reader.getData().getThreshold()) << each.threshold;
    }

    // Flags change only on the exact texts (which the test above gives): the threshold mode stays
    // adaptive unless "false".
    ReadResult<XMLTrackerParserManager> flags(tracker("<p name=\"smooth_tracking\">False</p><p "
                                                      "name=\"half_tracking\">True</p><p "
                                                      "name=\"adaptive_threshold\">FALSE</p>"));
    EXPECT_EQ(std::make_tuple(true, false, true),
              std::make_tuple(flags.reader.getData().getSmoothTracking(),
                              flags.reader.getData().getHalfTracking(),
                              flags.reader.getData().getAdaptiveThreshold()));

    // The setters clamp whatever the source, keyboard changes included.
    TrackerData data;
    data.setThreshold(256);
    data.setTranslationalSmoothingFactor(-3.0f);
    EXPECT_EQ(std::make_pair(255, 0.0f),
              std::make_pair(data.getThreshold(), data.getTranslationalSmoothingFactor()));
}

TEST_F(TrackerVideoParserTest, VideoReadsFormatsAndCamerasInFileOrderAndSkipsIncompleteEntries)
{
    ReadResult<XMLVideoParserManager> read(video("<format name=\"4:3\" width=\"640\" height=\"480\"/><format "
                                                 "name=\"4:3\" width=\"320.5\" height=\"240\"/>",
                                                 "<camera name=\"a\" format=\"4:3\" path=\"a.dat\"/><camera "
                                                 "name=\"b\" format=\"none\" path=\"b.dat\"/>"));
    ASSERT_TRUE(read.valid);
    const VideoData& data = read.reader.getData();
    ASSERT_EQ(2u, data.getFormats().size());
    ASSERT_EQ(2u, data.getCameras().size());
    const VideoCamera& b = data.getCameras()[1];
    EXPECT_EQ(std::make_tuple(640.0f, 480.0f, 320.5f, "b", "none", "b.dat", ""),
              std::make_tuple(data.getFormats()[0].getWidth(), data.getFormats()[0].getHeight(),
                              data.getFormats()[1].getWidth(), b.getName(), b.getFormat(), b.getPath(),
                              data.getCameraFile()));

    // Incomplete entries are skipped and only elements count.
    ReadResult<XMLVideoParserManager> skipping(video(
        "<!-- formats --><camera name=\"x\"/><format width=\"1\" height=\"1\"/>"
        "<format name=\"f\" height=\"1\"/><format name=\"f\" width=\"1\"/>" +
            std::string(oneFormat),
        "<camera format=\"f\" path=\"p\"/><camera name=\"c\" path=\"p\"/><camera name=\"c\" format=\"f\"/>" +
            std::string(oneCamera)));
    ASSERT_TRUE(skipping.valid);
    EXPECT_EQ(std::make_pair(size_t(1), size_t(1)),
              std::make_pair(skipping.reader.getData().getFormats().size(),
                             skipping.reader.getData().getCameras().size()));
    EXPECT_TRUE(printedAll({"WARNING: name missing (skipping).", "WARNING: width missing (skipping).",
                            "WARNING: height missing (skipping).", "WARNING: format missing (skipping).",
                            "WARNING: path missing (skipping)."}));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: <format> was expected (skipping)."));

    // Validity needs complete entries.
    const std::pair<std::string, std::string> invalid[] = {
        {"<format name=\"f\" width=\"0\" height=\"480\"/>", oneCamera},
        {"<format name=\"\" width=\"640\" height=\"480\"/>", oneCamera},
        {"<format name=\"f\" width=\"640\" height=\"-1\"/>", oneCamera},
        {"<format name=\"f\" width=\"wide\" height=\"480\"/>", oneCamera},
        {oneFormat, "<camera name=\"c\" format=\"\" path=\"p\"/>"},
        {oneFormat, "<camera name=\"c\" format=\"f\" path=\"\"/>"},
        {oneFormat, ""},
        {"", oneCamera},
    };
    for (const auto& each : invalid)
    {
        ReadResult<XMLVideoParserManager> result(video(each.first, each.second));
        EXPECT_TRUE(result.parsed && !result.valid) << each.first << each.second;
    }
}
