// docs/scene-format.md against the readers: exactly the names they look up, with the samples read cleanly.
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

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

using Vocabulary = std::map<std::string, std::set<std::string>>;

// Records the names the reader looks up in the file; whether it found the file complete.
template <class Reader> bool record(const std::string& path, std::set<std::string>& names)
{
    XMLLookupRecord lookups;
    bool valid = false;
    {
        XMLLookupRecord::Scope recording(lookups);
        Reader reader(path);
        EXPECT_TRUE(reader.loadFile()) << path;
        valid = reader.parse() && reader.isValid();
    }
    names.insert(lookups.vocabulary().begin(), lookups.vocabulary().end());
    return valid;
}

// Each reader and the sample files it reads in full.
const struct
{
    std::string kind;
    bool (*record)(const std::string& path, std::set<std::string>& names);
    std::vector<std::string> samples;
} kReaders[] = {
    {"config", record<XMLConfigurationParserManager>, {"config.xml"}},
    {"tracker", record<XMLTrackerParserManager>, {"tracker.xml"}},
    {"video", record<XMLVideoParserManager>, {"video.xml"}},
    {"markers", record<XMLMarkersParserManager>, {"markers.xml"}},
    {"scene", record<XMLSceneParserManager>, {"scene.xml"}},
    {"audio", record<XMLAudioParserManager>, {"audio.xml"}},
    {"lighting", record<XMLLightingParserManager>, {"lighting.xml"}},
    {"events",
     record<XMLEventsParserManager>,
     {"events/cube_events.xml", "events/chime_events.xml", "events/chroma_events.xml",
      "events/tablet_events.xml", "events/walker_events.xml"}},
    {"kml", record<XMLKmlParserManager>, {"doc.kml"}},
};

// Documents for the branches the samples leave out, which a complete reading must also take.
const std::multimap<std::string, std::string> kExtras = {
    {"tracker", "<tracker><parameters><parameter name=\"adaptive_threshold\">false</parameter></parameters>"
                "</tracker>"},
    {"markers", "<markers patterns_file=\"p.dat\"><marker id=\"4\" type=\"multi\" path=\"m.dat\"><submarkers>"
                "<submarker tag=\"a\" path=\"a.patt\" size=\"40\" image=\"a.png\"/></submarkers></marker>"
                "</markers>"},
    {"scene",
     "<scene><objects><object type=\"ARObject\"><model source=\"m.osgb\"/><description file=\"d.txt\"/>"
     "<markers><marker id=\"1\"/></markers><hotspots><hotspot name=\"h\"/></hotspots><menu file=\"m.xml\"/>"
     "</object></objects></scene>"},
    {"kml",
     "<kml><Folder><Folder><Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark></Folder>"
     "</Folder></kml>"},
    {"kml", "<kml><Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark></kml>"},
};

// The sample export is what the demo plays: each of its files must read complete, without an error
// and without falling back on a default.
Vocabulary readersVocabulary(const TemporaryFolder& folder, const NovaroTest::NotifyCapture& console)
{
    Vocabulary vocabulary;
    for (const auto& reader : kReaders)
        for (const std::string& file : reader.samples)
            EXPECT_TRUE(reader.record(SAMPLES + file, vocabulary[reader.kind])) << file << " is refused";
    for (const NovaroTest::NotifyCapture::Line& line : console.lines())
        EXPECT_TRUE(line.second.find("ERROR") == std::string::npos &&
                    line.second.find("NA (using default)") == std::string::npos)
            << line.second;
    int count = 0;
    for (const auto& reader : kReaders)
        for (auto extra = kExtras.lower_bound(reader.kind); extra != kExtras.upper_bound(reader.kind);
             ++extra)
            reader.record(folder.write("extra" + std::to_string(count++) + ".xml", extra->second),
                          vocabulary[reader.kind]);
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

} // namespace

TEST(SceneFormatDocument, SamplesReadCleanlyAndTheDocumentListsExactlyTheNamesTheReadersLookUp)
{
    NovaroTest::NotifyCapture console;
    TemporaryFolder folder;
    const Vocabulary read = readersVocabulary(folder, console);
    const Vocabulary documented =
        documentVocabulary(std::string(NOVARO_SOURCE_DIR) + "/docs/scene-format.md");
    for (const auto& reader : kReaders)
    {
        const std::string& kind = reader.kind;
        const std::set<std::string>& byReader = read.at(kind);
        const auto entry = documented.find(kind);
        ASSERT_NE(documented.end(), entry) << "no section for the " << kind << " reader";
        std::set<std::string> undocumented, unread;
        std::set_difference(byReader.begin(), byReader.end(), entry->second.begin(), entry->second.end(),
                            std::inserter(undocumented, undocumented.end()));
        std::set_difference(entry->second.begin(), entry->second.end(), byReader.begin(), byReader.end(),
                            std::inserter(unread, unread.end()));
        EXPECT_TRUE(undocumented.empty())
            << kind << " reader looks up, the document lacks: " << ::testing::PrintToString(undocumented);
        EXPECT_TRUE(unread.empty()) << kind << " document lists, no reader looks up: "
                                    << ::testing::PrintToString(unread);
    }
}
