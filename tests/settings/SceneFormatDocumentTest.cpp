// docs/scene-format.md against the readers: every name a reader looks up while reading complete
// files must be listed in the document, and every name the document lists must be looked up.
// The names are recorded from the readers' own lookups, so a reader learning a new attribute
// fails this test until the document lists it.
#include "SettingsTestSupport.h"

#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLLookupRecord.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace Novaro;
using NovaroTest::TemporaryFolder;

namespace
{

const std::string SAMPLES = std::string(NOVARO_SOURCE_DIR) + "/samples/";

using Vocabulary = std::map<std::string, std::set<std::string>>;

// What the samples leave out: the branches a complete reading must also take.
const std::map<std::string, std::vector<std::string>> extraDocuments = {
    {"tracker",
     {"<tracker><parameters><parameter "
      "name=\"adaptive_threshold\">false</parameter></parameters></tracker>"}},
    {"markers",
     {"<markers patterns_file=\"p.dat\"><marker id=\"4\" type=\"multi\" path=\"m.dat\"><submarkers>"
      "<submarker tag=\"a\" path=\"a.patt\" size=\"40\" image=\"a.png\"/></submarkers></marker></markers>"}},
    {"scene",
     {"<scene><objects><object type=\"ARObject\"><model source=\"m.osgb\"/><description file=\"d.txt\"/>"
      "<markers><marker id=\"1\"/></markers><hotspots><hotspot name=\"h\"/></hotspots><menu file=\"m.xml\"/>"
      "</object></objects></scene>"}},
    {"kml",
     {"<kml><Folder><Folder><Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark></Folder>"
      "</Folder></kml>",
      "<kml><Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark></kml>"}},
};

// The sample files each reader reads in full.
const std::map<std::string, std::vector<std::string>> sampleDocuments = {
    {"config", {"config.xml"}},
    {"tracker", {"tracker.xml"}},
    {"video", {"video.xml"}},
    {"markers", {"markers.xml"}},
    {"scene", {"scene.xml"}},
    {"audio", {"audio.xml"}},
    {"lighting", {"lighting.xml"}},
    {"events",
     {"events/cube_events.xml", "events/chime_events.xml", "events/chroma_events.xml",
      "events/tablet_events.xml", "events/walker_events.xml"}},
    {"kml", {"doc.kml"}},
};

template <class Reader> void record(const std::string& path, std::set<std::string>& names)
{
    XMLLookupRecord lookups;
    {
        XMLLookupRecord::Scope recording(lookups);
        Reader reader(path);
        ASSERT_TRUE(reader.loadFile()) << path;
        reader.parse();
        reader.isValid();
    }
    names.insert(lookups.vocabulary().begin(), lookups.vocabulary().end());
}

void recordFile(const std::string& kind, const std::string& path, std::set<std::string>& names)
{
    if (kind == "config")
        record<XMLConfigurationParserManager>(path, names);
    else if (kind == "tracker")
        record<XMLTrackerParserManager>(path, names);
    else if (kind == "video")
        record<XMLVideoParserManager>(path, names);
    else if (kind == "markers")
        record<XMLMarkersParserManager>(path, names);
    else if (kind == "scene")
        record<XMLSceneParserManager>(path, names);
    else if (kind == "audio")
        record<XMLAudioParserManager>(path, names);
    else if (kind == "lighting")
        record<XMLLightingParserManager>(path, names);
    else if (kind == "events")
        record<XMLEventsParserManager>(path, names);
    else if (kind == "kml")
        record<XMLKmlParserManager>(path, names);
}

Vocabulary readersVocabulary(const TemporaryFolder& folder)
{
    Vocabulary vocabulary;
    for (const auto& kind : sampleDocuments)
        for (const std::string& file : kind.second)
            recordFile(kind.first, SAMPLES + file, vocabulary[kind.first]);
    int count = 0;
    for (const auto& kind : extraDocuments)
        for (const std::string& document : kind.second)
            recordFile(kind.first, folder.write("extra" + std::to_string(count++) + ".xml", document),
                       vocabulary[kind.first]);
    return vocabulary;
}

// The names in the first cell of a table row: "`x`, `y`, `z`" gives x, y and z.
std::vector<std::string> firstCellNames(const std::string& row)
{
    const std::string cell = row.substr(1, row.find('|', 1) - 1);
    std::vector<std::string> names;
    static const std::regex quoted("`([^`]+)`");
    for (std::sregex_iterator each(cell.begin(), cell.end(), quoted), end; each != end; ++each)
        names.push_back((*each)[1]);
    return names;
}

// The document's names per reader, in the same notation as the recorded ones: "<tag>" for an
// element (its "### `<tag>`" heading, unless the heading says any tag will do), "tag@name" for a
// row of an Attribute table under it, "tag:name" for a row of a Parameter or Property table.
Vocabulary documentVocabulary(const std::string& path)
{
    Vocabulary vocabulary;
    std::ifstream document(path);
    std::string line, kind, element, table;
    static const std::regex section("<!-- reader: ([a-z]+) -->");
    static const std::regex heading("### `<([A-Za-z_]+)>`(.*)");
    for (std::smatch match; std::getline(document, line);)
    {
        if (std::regex_match(line, match, section))
            kind = match[1];
        else if (line.rfind("## ", 0) == 0 || line.rfind("<!--", 0) == 0)
            kind.clear();
        else if (!kind.empty() && std::regex_match(line, match, heading))
        {
            element = match[1];
            table.clear();
            if (match[2].str().find("any tag") == std::string::npos)
                vocabulary[kind].insert("<" + element + ">");
        }
        else if (!kind.empty() && line.rfind("| ", 0) == 0)
        {
            const std::string cell = line.substr(2, line.find(' ', 2) - 2);
            if (cell == "Attribute" || cell == "Parameter" || cell == "Property")
                table = cell;
            else
                for (const std::string& name : firstCellNames(line))
                    vocabulary[kind].insert(element + (table == "Attribute" ? "@" : ":") + name);
        }
    }
    return vocabulary;
}

std::string listed(const std::set<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += " " + name;
    return text;
}

} // namespace

TEST(SceneFormatDocument, ListsExactlyTheNamesTheReadersLookUp)
{
    NovaroTest::NotifyCapture quiet;
    TemporaryFolder folder;
    const Vocabulary read = readersVocabulary(folder);
    const Vocabulary documented =
        documentVocabulary(std::string(NOVARO_SOURCE_DIR) + "/docs/scene-format.md");
    for (const auto& kind : sampleDocuments)
    {
        const std::set<std::string>& byReader = read.at(kind.first);
        const auto entry = documented.find(kind.first);
        ASSERT_NE(documented.end(), entry) << "no section for the " << kind.first << " reader";
        std::set<std::string> undocumented, unread;
        std::set_difference(byReader.begin(), byReader.end(), entry->second.begin(), entry->second.end(),
                            std::inserter(undocumented, undocumented.end()));
        std::set_difference(entry->second.begin(), entry->second.end(), byReader.begin(), byReader.end(),
                            std::inserter(unread, unread.end()));
        EXPECT_TRUE(undocumented.empty())
            << kind.first << " reader looks up, the document lacks:" << listed(undocumented);
        EXPECT_TRUE(unread.empty()) << kind.first << " document lists, no reader looks up:" << listed(unread);
    }
}
