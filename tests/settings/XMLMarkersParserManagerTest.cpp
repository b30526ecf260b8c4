// The markers reader: defaults, clamped attributes, dropped entries, layers and multi markers.
#include "SettingsTestSupport.h"

#include "settings/XMLMarkersParserManager.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <tuple>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class MarkersParserTest : public SettingsFileTest
{
protected:
    ReadResult<XMLMarkersParserManager>*
    read(const std::string& markers, const std::string& rootAttributes = " patterns_file=\"patterns.dat\"")
    {
        _result.reset(new ReadResult<XMLMarkersParserManager>(
            files.write("markers.xml", "<markers" + rootAttributes + ">" + markers + "</markers>")));
        return _result.get();
    }
    const std::vector<MarkerData>& markers() const { return _result->reader.getData().getMarkers(); }

private:
    std::unique_ptr<ReadResult<XMLMarkersParserManager>> _result;
};

} // namespace

TEST_F(MarkersParserTest, MinimalMarkerGetsDefaultsAndOneDefaultLayer)
{
    ASSERT_TRUE(read("<marker id=\"7\" path=\"m.patt\"/>")->valid);
    ASSERT_EQ(1u, markers().size());
    const MarkerData& m = markers()[0];
    EXPECT_EQ(std::make_tuple(7u, "", "single", 80.0f, 1.0f, 100.0),
              std::make_tuple(m.getId(), m.getName(), m.getType(), m.getSize(), m.getFitFactor(),
                              m.getSequenceDuration()));
    EXPECT_FALSE(m.getFit() || m.getShadowed() || m.getSequence() || m.getSequenceLoop());
    EXPECT_EQ((std::map<int, double>{{0, 5.0}}), m.getLayers());
}

TEST_F(MarkersParserTest, AttributesAreReadAndClamped)
{
    ASSERT_TRUE(read("<marker name=\"n\" tag=\"t\" id=\"3\" type=\"SINGLE\" path=\"p\" image=\"i.png\" "
                     "transforms_file=\"tf.dat\" size=\"0\" fit=\"true\" fit_factor=\"0\" shadowed=\"true\" "
                     "sequence=\"TRUE\" sequence_duration=\"-1\" sequence_loop=\"true\"/>"
                     "<marker id=\"-1\" path=\"q\" size=\"-5\" fit_factor=\"2.5\" sequence_duration=\"abc\" "
                     "shadowed=\"yes\"/>")
                    ->valid);
    ASSERT_EQ(2u, markers().size());
    const MarkerData &first = markers()[0], &second = markers()[1];
    EXPECT_EQ(std::make_tuple("n", "t", "i.png", "tf.dat", 80.0f, 1.0f, 100.0),
              std::make_tuple(first.getName(), first.getTag(), first.getImage(), first.getTransformsFile(),
                              first.getSize(), first.getFitFactor(), first.getSequenceDuration()));
    EXPECT_EQ(
        std::make_tuple(true, true, false, true),
        std::make_tuple(first.getFit(), first.getShadowed(), first.getSequence(), first.getSequenceLoop()));
    EXPECT_EQ(std::make_tuple(4294967295u, 80.0f, 2.5f, 100.0, false),
              std::make_tuple(second.getId(), second.getSize(), second.getFitFactor(),
                              second.getSequenceDuration(), second.getShadowed()));
}

TEST_F(MarkersParserTest, EntriesWithoutIdOrPathAreDropped)
{
    auto* result = read("<marker name=\"no id\" tag=\"a\" path=\"p\" type=\"single\" size=\"10\"/>"
                        "<marker id=\"2\"/><layer id=\"1\"/>"
                        "<marker id=\"4\" path=\"p\"/>");
    ASSERT_TRUE(result->valid);
    ASSERT_EQ(1u, markers().size());
    EXPECT_EQ(4u, markers()[0].getId());
    EXPECT_EQ(osg::FATAL, capture.severityOf("WARNING: id missing (skipping)."));
    EXPECT_EQ(osg::FATAL, capture.severityOf("WARNING: path missing."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: <marker> was expected (skipping)."));

    // With every entry dropped the record is unusable.
    EXPECT_FALSE(read("<marker path=\"p\"/>")->valid);
    EXPECT_TRUE(read("")->parsed);
    EXPECT_FALSE(read("")->valid);
    EXPECT_FALSE(read("<marker id=\"1\" path=\"p\"/>", "")->valid);
}

TEST_F(MarkersParserTest, LayersOverrideTheSequenceSettings)
{
    ASSERT_TRUE(read("<marker id=\"1\" path=\"p\" sequence=\"true\" sequence_duration=\"50\">"
                     "<layers><layer id=\"2\" time=\"3\"/><layer id=\"2\" time=\"7.5\"/><layer time=\"1\"/>"
                     "<layer id=\"4\"/><layer id=\"5\" time=\"-2\"/><other/></layers></marker>"
                     "<marker id=\"2\" path=\"p\" sequence_loop=\"false\"><layers sequence=\"true\" "
                     "sequence_duration=\"0\" sequence_loop=\"no\"/></marker>")
                    ->valid);
    using Layers = std::map<int, double>;
    const auto sequence = [](const MarkerData& m)
    { return std::make_tuple(m.getSequence(), m.getSequenceDuration(), m.getSequenceLoop(), m.getLayers()); };
    // Missing attributes on <layers> have their own defaults: no sequence, 1 second, looping.
    EXPECT_EQ(std::make_tuple(false, 1.0, true, Layers{{2, 7.5}, {4, 5.0}, {5, 5.0}}),
              sequence(markers()[0]));
    // An empty <layers> still gets the default layer; its attributes still apply.
    EXPECT_EQ(std::make_tuple(true, 100.0, false, Layers{{0, 5.0}}), sequence(markers()[1]));
}

TEST_F(MarkersParserTest, MultiMarkersReadSubmarkersAndNeverFit)
{
    ASSERT_TRUE(read("<marker id=\"1\" type=\"MULTI\" path=\"\" fit=\"true\"><submarkers>"
                     "<submarker tag=\"a\" path=\"a.patt\" size=\"40\" image=\"a.png\" id=\"7\"/>"
                     "<submarker tag=\"b\" path=\"b.patt\" size=\"0\"/>"
                     "<submarker path=\"c\" size=\"1\"/><submarker tag=\"d\" size=\"1\"/><submarker "
                     "tag=\"e\" path=\"e\"/>"
                     "<marker/></submarkers></marker>")
                    ->valid);
    EXPECT_FALSE(markers()[0].getFit());
    const std::vector<SubmarkerData>& sub = markers()[0].getSubmarkers();
    ASSERT_EQ(2u, sub.size());
    EXPECT_EQ(std::make_tuple("a.png", 40.0f, 7u, 80.0f, 0u),
              std::make_tuple(sub[0].getImage(), sub[0].getSize(), sub[0].getId(), sub[1].getSize(),
                              sub[1].getId()));

    // Without <submarkers> a multi marker still needs its own pattern.
    ASSERT_TRUE(read("<marker id=\"1\" type=\"multi\" path=\"m.dat\" fit=\"true\"/>")->valid);
    EXPECT_FALSE(markers()[0].getFit());

    // Validity follows the marker type.
    const std::pair<const char*, bool> cases[] = {
        {"<marker id=\"1\" path=\"p\" type=\"Single\"/>", false},
        {"<marker id=\"1\" path=\"\" type=\"single\"/>", false},
        {"<marker id=\"1\" path=\"\" type=\"multi\"/>", false},
        {"<marker id=\"1\" path=\"\" type=\"multi\"><submarkers><submarker tag=\"\" path=\"p\" size=\"1\"/>"
         "</submarkers></marker>",
         false},
        {"<marker id=\"1\" path=\"\" type=\"MULTI\"><submarkers><submarker tag=\"a\" path=\"p\" size=\"1\"/>"
         "<submarker tag=\"b\" path=\"q\" size=\"1\"/></submarkers></marker>",
         true},
        {"<marker id=\"1\" path=\"p\" type=\"\"/>", false},
        // An image target names its picture in path; like a single marker it needs one.
        {"<marker id=\"1\" path=\"poster.jpg\" type=\"image\" size=\"210\"/>", true},
        {"<marker id=\"1\" path=\"poster.jpg\" type=\"IMAGE\"/>", true},
        {"<marker id=\"1\" path=\"\" type=\"image\"/>", false},
        {"<marker id=\"1\" path=\"poster.jpg\" type=\"Image\"/>", false},
    };
    for (const auto& each : cases)
        EXPECT_EQ(each.second, read(each.first)->valid) << each.first;
}
