// What every settings reader shares: loading, encodings, names leading out of the scene, lookups, roots.
#include "SettingsTestSupport.h"

#include "settings/SceneBoundary.h"
#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLEventsParserManager.h"
#include "settings/XMLKmlParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

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
