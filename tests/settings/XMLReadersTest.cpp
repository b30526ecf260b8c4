// Each settings reader on its own files: first what they share (loading, encodings, names leading
// out of the scene's folders, lookups, refused roots), then configuration, markers, scene, and two by
// two audio and lighting, events and KML, tracker and video. Then the Windows paths the exporter
// writes, and docs/scene-format.md against the readers: every name a reader looks up while reading
// complete files (the samples, which must read cleanly, and a few documents for the branches they
// leave out) must be listed in the document, and every name the document lists must be looked up.
// The names are recorded from the readers' own lookups, so a reader learning a new attribute
// fails that test until the document lists it. Last, the samples agree among themselves.
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "settings/PathRule.h"
#include "settings/SceneBoundary.h"
#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLLookupRecord.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <tuple>
#include <vector>

using namespace Novaro;
using NovaroTest::NotifyCapture;
using NovaroTest::TemporaryFolder;

namespace
{

// Runs a reader's loadFile, parse and isValid over a file; the reader keeps the outcome.
template <class Reader> struct ReadResult
{
    explicit ReadResult(const std::string& path) : reader(path)
    {
        loaded = reader.loadFile();
        parsed = loaded && reader.parse();
        valid = parsed && reader.isValid();
    }
    Reader reader;
    bool loaded = false;
    bool parsed = false;
    bool valid = false;
};

// Every settings test writes its files into a folder of its own and sees the console lines.
class SettingsFileTest : public ::testing::Test
{
protected:
    // Whether every one of the lines was printed; names the first that was not.
    ::testing::AssertionResult printedAll(std::initializer_list<const char*> lines) const
    {
        for (const char* line : lines)
            if (!capture.printed(line))
                return ::testing::AssertionFailure() << "not printed: \"" << line << "\"";
        return ::testing::AssertionSuccess();
    }

    TemporaryFolder files;
    NotifyCapture capture;
};

// Exposes the shared lookups over the loaded document.
class LookupReader : public XMLParserManager
{
public:
    using XMLParserManager::XMLParserManager;
    bool parse() override { return true; }
    bool isValid() override { return true; }

    using XMLParserManager::attribute;
    using XMLParserManager::childByAttribute;
    using XMLParserManager::childByTag;
    using XMLParserManager::countChildren;
    using XMLParserManager::elementIs;
    using XMLParserManager::hasAttribute;
    using XMLParserManager::text;
    const TiXmlElement* root() const { return rootElement(); }
};

using XMLParserManagerTest = SettingsFileTest;

// Whether the reader of that type parses the file, for tables over every reader.
template <class Reader> bool parses(const std::string& path)
{
    return ReadResult<Reader>(path).parsed;
}

using AudioLightingParserTest = SettingsFileTest;
using EventsKmlParserTest = SettingsFileTest;

const char* const clickAction = "<action source=\"\" target=\"lamp\"><command>show</command></action>";

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

const std::string SAMPLES = std::string(NOVARO_SOURCE_DIR) + "/samples/";

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

std::string listed(const std::set<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += " " + name;
    return text;
}

} // namespace

TEST_F(XMLParserManagerTest, LoadReportsWhyAndRefusesUnreadableOrTooDeeplyNestedDocuments)
{
    const std::string good = files.write("good.xml", "<a/>");
    EXPECT_TRUE(LookupReader(good).loadFile());
    EXPECT_EQ(osg::NOTICE, capture.severityOf(" XML file loaded: " + good));

    const std::string missing = files.file("missing.xml");
    LookupReader absent(missing);
    EXPECT_TRUE(!absent.loadFile() && absent.loadError().line == 0);
    EXPECT_EQ(osg::FATAL,
              capture.severityOf(" ERROR: could not load XML file: " + missing + ": no such file"));

    // The <parameters> element is never closed: the parser stops at the end tag that does not match.
    const std::string path =
        files.write("unclosed.xml", "<configuration>\n  <parameters>\n    <parameter "
                                    "name=\"mode\">ar_simple</parameter>\n</configuration>\n");
    LookupReader reader(path);
    EXPECT_FALSE(reader.loadFile());
    EXPECT_EQ(std::make_tuple(4, 1, "Error reading end tag."),
              std::make_tuple(reader.loadError().line, reader.loadError().column, reader.loadError().reason));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" ERROR: could not load XML file: " + path +
                                             ":4:1: Error reading end tag."));

    // Unreadable or too deeply nested documents fail to load.
    std::string deep;
    for (int level = 0; level < 100000; ++level)
        deep += "<a x='>'>";
    const std::pair<const char*, std::string> cases[] = {
        {"empty.xml", ""},
        {"blank.xml", "   \n\t "},
        {"malformed.xml", "<configuration><parameters></configuration>"},
        {"unclosed.xml", "<configuration name=\"x"},
        {"binary.xml", NovaroTest::bytes("\x00\x01\xff\xfe<")},
        {"deep.xml", deep}, // refused before parsing
        // TinyXML ends an instruction at its first '>', so the elements after it are parsed.
        {"instruction.xml", "<?p >" + deep + "?>"},
    };
    for (const auto& each : cases)
        EXPECT_FALSE(LookupReader(files.write(each.first, each.second)).loadFile()) << each.first;
    EXPECT_FALSE(LookupReader(files.path()).loadFile());

    // Ordinary nesting, comments and self-closed elements do not count against the depth limit.
    std::string moderate = "<!-- <<<< --><?xml version=\"1.0\"?>";
    for (int level = 0; level < 200; ++level)
        moderate += "<a><b/><![CDATA[<c><c><c>]]>";
    for (int level = 0; level < 200; ++level)
        moderate += "</a>";
    EXPECT_TRUE(LookupReader(files.write("moderate.xml", moderate)).loadFile());

    // Files are bounded in size before parsing: 20 million empty elements once took 8.5 GB.
    std::string large = "<configuration>";
    large.append(16 * 1024 * 1024, ' ');
    large += "</configuration>";
    LookupReader oversized(files.write("large.xml", large));
    EXPECT_FALSE(oversized.loadFile());
    EXPECT_EQ("larger than 16 MiB, the limit for a settings file", oversized.loadError().reason);
}

// Once a scene's folders are set, a name in any settings file that leads out of them is said with
// its place and cut to its last component before a reader can use it; names inside, and words
// that are no names, stay as written.
TEST_F(XMLParserManagerTest, NamesLeadingOutsideTheSceneAreSaidWithTheirPlaceAndKeptInside)
{
    NovaroTest::TemporaryFolder elsewhere;
    std::filesystem::create_directories(files.file("models"));
    std::filesystem::create_directory_symlink(elsewhere.path(), files.file("linked"));
    const std::string outside = elsewhere.file("model.osgb");
    const std::string path = files.write("scene.xml", R"(<scene>
  <model source=")" + outside + R"(" size="1/2"/>
  <model source="../../etc/passwd"/>
  <model source="linked/model.osgb"/>
  <model source="models/../models/a.osgb"/>
  <model source=")" + files.file("models/b.osgb") + R"("/>
  <link>https://novaro.example/support</link>
  <text>C:\Users\me\x.dae</text>
</scene>
)");
    SceneBoundary::setFolders({files.path()});
    NovaroTest::NotifyCapture said(osg::FATAL);
    LookupReader reader(path);
    const bool loaded = reader.loadFile();
    SceneBoundary::clear();
    ASSERT_TRUE(loaded);

    std::vector<std::string> kept;
    for (const TiXmlElement* model = reader.root()->FirstChildElement(); model;
         model = model->NextSiblingElement())
        kept.push_back(model->Attribute("source") ? model->Attribute("source") : model->GetText());
    EXPECT_EQ(
        (std::vector<std::string>{"model.osgb", "passwd", "model.osgb", "models/../models/a.osgb",
                                  files.file("models/b.osgb"), "https://novaro.example/support", "x.dae"}),
        kept);
    std::vector<std::pair<int, std::string>> refused;
    for (const XMLParserManager::RefusedName& name : reader.refusedNames())
        refused.emplace_back(name.line, name.value);
    EXPECT_EQ(
        (std::vector<std::pair<int, std::string>>{
            {2, outside}, {3, "../../etc/passwd"}, {4, "linked/model.osgb"}, {8, "C:\\Users\\me\\x.dae"}}),
        refused);
    EXPECT_TRUE(said.printed(" WARNING: " + path +
                             ":3:10: refusing the name '../../etc/passwd': it leads "
                             "outside the scene's folders ('" +
                             std::filesystem::canonical(files.path()).string() +
                             "'); read as 'passwd' in the scene's folder."))
        << said.text();

    // Unbounded (a tool reading one file its user names), nothing is refused.
    LookupReader unbounded(path);
    ASSERT_TRUE(unbounded.loadFile());
    EXPECT_TRUE(unbounded.refusedNames().empty());
}

TEST_F(XMLParserManagerTest, EncodingsAreDetectedFromTheFile)
{
    // UTF-8 with a byte order mark: the text arrives as UTF-8.
    LookupReader bom(files.write("bom.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                            "<r name=\"Caf\xC3\xA9\"/>"));
    ASSERT_TRUE(bom.loadFile());
    EXPECT_EQ("Caf\xC3\xA9", LookupReader::attribute(bom.root(), "name"));

    // ISO-8859-1, declared or not: turned into UTF-8, so that the names it holds match the files'
    // (they used to arrive as bytes no file name has), and said.
    for (const char* declaration : {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", ""})
    {
        LookupReader latin(
            files.write("latin.xml", std::string(declaration) + "<r name=\"Caf\xE9\">M\xFCnchen</r>"));
        NovaroTest::NotifyCapture said(osg::FATAL);
        ASSERT_TRUE(latin.loadFile());
        EXPECT_EQ("Caf\xC3\xA9", LookupReader::attribute(latin.root(), "name"));
        EXPECT_EQ("M\xC3\xBCnchen", LookupReader::text(latin.root()));
        EXPECT_FALSE(latin.encodingNote().empty());
        EXPECT_NE(std::string::npos, said.text().find(files.file("latin.xml") + ": ")) << said.text();
    }
    // Any other encoding is refused by its name.
    LookupReader japanese(files.write("sjis.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r/>"));
    EXPECT_FALSE(japanese.loadFile());
    EXPECT_EQ("encoded in shift_jis: the player reads settings in UTF-8 (or ISO-8859-1); save it as UTF-8",
              japanese.loadError().reason);

    // UTF-16 is not understood by the XML library; whatever it makes of it, nothing breaks and no
    // element named like the intended root comes out.
    const std::string utf16 = NovaroTest::bytes("\xFF\xFE<\0r\0/\0>\0");
    XMLConfigurationParserManager wide(files.write("utf16.xml", utf16));
    EXPECT_FALSE(wide.loadFile() && wide.parse());

    // Windows and old Mac line ends count lines as Unix ones do: <w> is left open at line 4's </r>.
    LookupReader crlf(files.write("crlf.xml", "<r>\r\n<v>a</v>\r<w>\r\n</r>\r\n"));
    EXPECT_TRUE(!crlf.loadFile() && crlf.loadError().line == 4) << crlf.loadError().line;

    // A file that ends inside a UTF-8 sequence (its last byte announces more): the element it
    // leaves open is reported, and the parser stays within the file (under valgrind it read past it).
    for (const char* ending : {"\xD8", "\xF0\x9F", "\xE2\x82"})
    {
        const std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>caf") + ending;
        EXPECT_FALSE(LookupReader(files.write("cut.xml", text)).loadFile()) << text;
    }
}

// What the readers' own tests leave out: the case of tags and attribute values, an empty value, and
// lookups on nothing. (Roots of the wrong case, elements counted among comments, parameters found
// by name under any tag and first of a name winning: the readers' tests.)
TEST_F(XMLParserManagerTest, LookupsCompareExactly)
{
    LookupReader reader(files.write("lookups.xml", R"(<root>
        <Item name="first">one</Item>
        <item name="First">two</item>
        <item name="second"><!-- c --></item>
        <item name="">empty name</item>
        <item>no name</item>
      </root>)"));
    ASSERT_TRUE(reader.loadFile());
    const TiXmlElement* root = reader.root();
    EXPECT_EQ(std::make_tuple("two", "one", "two", "empty name"),
              std::make_tuple(LookupReader::text(LookupReader::childByTag(root, "item")),
                              LookupReader::text(LookupReader::childByTag(root, "Item")),
                              LookupReader::text(LookupReader::childByAttribute(root, "name", "First")),
                              LookupReader::text(LookupReader::childByAttribute(root, "name", ""))));

    const TiXmlElement* second = LookupReader::childByAttribute(root, "name", "second");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(LookupReader::text(second) + LookupReader::attribute(second, "missing"), "");
    EXPECT_FALSE(LookupReader::hasAttribute(second, "missing") || LookupReader::hasAttribute(second, "Name"));
    EXPECT_FALSE(LookupReader::elementIs(nullptr, "root") || LookupReader::countChildren(nullptr) != 0 ||
                 LookupReader::childByTag(nullptr, "item") || !LookupReader::text(nullptr).empty());
}

// A well-formed document under the wrong root, or without a section the reader cannot do without:
// not parsed, the error at the visible level and the progress line closed.
TEST_F(XMLParserManagerTest, EveryReaderRefusesAWrongRootOrAMissingSection)
{
    const auto missing = [](const std::string& section, const std::string& kind)
    { return " ERROR: missing <" + section + "> data in " + kind + " file."; };
    const struct
    {
        bool (*parse)(const std::string&);
        const char* document;
        std::string error; // empty: the reader says nothing of its own
    } cases[] = {
        {parses<XMLConfigurationParserManager>, "<config><parameters/></config>",
         "ERROR: missing <configuration> data in configuration file."},
        {parses<XMLTrackerParserManager>, "<Tracker/>", missing("tracker", "tracker")},
        {parses<XMLVideoParserManager>, "<videos><formats/><cameras/></videos>", missing("video", "video")},
        {parses<XMLVideoParserManager>, "<video><cameras/></video>", missing("formats", "video")},
        {parses<XMLVideoParserManager>, "<video><formats/></video>", missing("cameras", "video")},
        {parses<XMLSceneParserManager>, "<Scene><objects/></Scene>", missing("scene", "scene")},
        {parses<XMLSceneParserManager>, "<scene><parameters/></scene>", missing("objects", "scene")},
        {parses<XMLAudioParserManager>, "<sound><soundtracks/></sound>", missing("audio", "audio")},
        {parses<XMLAudioParserManager>, "<audio><properties/></audio>", missing("soundtracks", "audio")},
        {parses<XMLMarkersParserManager>, "<marker id=\"1\" path=\"p\"/>", missing("markers", "markers")},
        {parses<XMLLightingParserManager>, "<configuration><parameters/></configuration>",
         "ERROR: missing <lighting> data in configuration file."},
        {parses<XMLLightingParserManager>, "<lighting><name/><parameters/></lighting>",
         "ERROR: missing <parameters> data in lighting configuration file."},
        {parses<XMLEventsParserManager>, "<event name=\"a\"/>", missing("events", "events")},
        {parses<XMLKmlParserManager>, "<kml><NetworkLink/><Document/></kml>", ""},
        {parses<XMLKmlParserManager>, "<KML><Document/></KML>", ""},
    };
    for (const auto& each : cases)
    {
        SCOPED_TRACE(each.document);
        capture.clear();
        EXPECT_FALSE(each.parse(files.write("wrong.xml", each.document)));
        if (each.error.empty())
            continue;
        EXPECT_EQ(osg::FATAL, capture.severityOf(each.error));
        const std::string last = capture.lines().back().second;
        EXPECT_EQ("settings...aborted.", last.substr(last.size() - std::min(last.size(), size_t(19))))
            << last;
    }
    ReadResult<XMLEventsParserManager> events(files.write("events.xml", "<event name=\"a\"/>"));
    EXPECT_TRUE(events.reader.getData().getEvents().empty());
}

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

// Paths in settings files as the exporter writes them on Windows: drive letters and backslashes.
TEST(PathRule, DriveLetterAndSlashPathsAreAbsolute)
{
    EXPECT_TRUE(PathRule::isAbsolute("C:\\data\\scene.xml") && PathRule::isAbsolute("/srv/scene.xml"));
    // A name directly in a drive root has a two-character directory part: joined like any other. "C:data"
    // is relative to the drive's current folder.
    for (const char* relative : {"C:\\scene.xml", "scene.xml", "data\\scene.xml", "C:data\\scene.xml"})
        EXPECT_FALSE(PathRule::isAbsolute(relative)) << relative;

    EXPECT_EQ("C:\\data\\scene.xml", PathRule::resolve("/base", "C:\\data\\scene.xml"));
    EXPECT_EQ("/base/scene.xml", PathRule::resolve("/base", "scene.xml"));
    EXPECT_EQ("/base/data/scene.xml", PathRule::resolve("/base", "data\\scene.xml"));
    EXPECT_EQ("/base/C:/scene.xml", PathRule::resolve("/base", "C:\\scene.xml"));
}

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
            << kind << " reader looks up, the document lacks:" << listed(undocumented);
        EXPECT_TRUE(unread.empty()) << kind << " document lists, no reader looks up:" << listed(unread);
    }
}

// Every object of the sample scene sits on a marker and layer its markers file declares.
TEST(Samples, ObjectsSitOnLayersTheirMarkersDeclare)
{
    // (Both read complete: the test above.)
    XMLSceneParserManager scene(SAMPLES + "scene.xml");
    XMLMarkersParserManager markers(SAMPLES + "markers.xml");
    ASSERT_TRUE(scene.loadFile() && scene.parse() && markers.loadFile() && markers.parse());
    const auto& all = markers.getData().getMarkers();
    for (const ObjectData& object : scene.getData().getObjects())
        for (const auto& placement : object.getMarkerLayers())
        {
            auto marker = std::find_if(all.begin(), all.end(),
                                       [&](const MarkerData& each) {
                                           return each.getId() == static_cast<unsigned int>(placement.first);
                                       });
            ASSERT_NE(all.end(), marker) << object.getName();
            EXPECT_EQ(1u, marker->getLayers().count(placement.second)) << object.getName();
        }
}
