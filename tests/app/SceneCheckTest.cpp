// The scene check on a scene with one planted fault of each kind an author makes, and on copies of
// the sample scene with faults of their own.
#include "app/SceneCheck.h"
#include "NotifyCapture.h"
#include "PlayerProcess.h"
#include "RunDirectory.h"
#include "TrialReader.h"

#include <gtest/gtest.h>

#include <osgART/CameraParameters.h>
#include <osgDB/WriteFile>

#include <algorithm>

#include <filesystem>
#include <sstream>

using namespace Novaro;
using NovaroTest::TemporaryFolder;

namespace
{

const std::string SAMPLES = std::string(NOVARO_SOURCE_DIR) + "/samples";

// Line (1-based) of the first line of the text holding the part; 0 when none does.
int lineOf(const std::string& text, const std::string& part)
{
    std::istringstream lines(text);
    int number = 1;
    for (std::string line; std::getline(lines, line); ++number)
        if (line.find(part) != std::string::npos)
            return number;
    return 0;
}

::testing::AssertionResult holds(const std::string& all, const std::string& part)
{
    if (all.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << all;
}

std::vector<SceneProblem> checkFolder(const std::string& folder)
{
    SceneCheck::Location location;
    location.workingDirectory = location.temporaryDirectory = folder;
    return SceneCheck(location).run();
}

void copySample(const TemporaryFolder& scene, const std::string& name)
{
    std::filesystem::create_directories(std::filesystem::path(scene.file(name)).parent_path());
    std::filesystem::copy_file(SAMPLES + "/" + name, scene.file(name));
}

struct Expected
{
    std::string file;
    int line;
    std::string phrase;
};

// Whether a problem is reported in the file (any, when empty) on the line, saying the phrase.
bool reported(const std::vector<SceneProblem>& problems, const std::string& file, int line,
              const std::string& phrase)
{
    return std::any_of(problems.begin(), problems.end(),
                       [&](const SceneProblem& problem)
                       {
                           return (file.empty() || problem.file == file) && problem.line == line &&
                                  problem.message.find(phrase) != std::string::npos;
                       });
}

std::string listed(const std::vector<SceneProblem>& problems)
{
    std::string all;
    for (const SceneProblem& problem : problems)
        all += problem.text() + "\n";
    return all;
}

} // namespace

TEST(SceneCheck, EveryPlantedFaultIsReportedOnItsLineAndNothingElse)
{
    const NovaroTest::NotifyCapture quiet;
    NovaroTest::usePluginFolder();
    NovaroTest::useTrialReader();
    // A scene with twelve faults, each on a line of its own. Everything else in it is sound, so every
    // problem the check reports must be one of them.
    TemporaryFolder folder;
    const std::string metadata =
        "config @ config.xml\ntracker @ tracker.xml\nvideo @ video.xml\nscene @ scene.xml\n"
        "audio @ audio.xml\nmarkers @ markers.xml\nlighting @ lights.xml\n";
    const std::string video =
        "<video name=\"v\">\n<formats><format name=\"4:3\" width=\"640\" height=\"480\"/></formats>\n"
        "<cameras>\n<camera name=\"cam\" format=\"4:3\" path=\"absurd.dat\"/>\n</cameras>\n</video>\n";
    const std::string markers =
        "<markers patterns_file=\"patterns.dat\">\n"
        "<marker name=\"one\" id=\"1\" path=\"patterns/marker_1.patt\" size=\"80\"/>\n"
        "<marker name=\"two\" id=\"2\" path=\"patterns/short.patt\" size=\"80\"/>\n"
        "<marker name=\"spare\" id=\"3\" path=\"patterns/marker_3.patt\" size=\"80\"/>\n"
        "<marker name=\"board\" id=\"4\" type=\"multi\" path=\"patterns/board.dat\" "
        "size=\"80\"/>\n"
        "</markers>\n";
    const std::string events = "<events name=\"e\">\n<event name=\"on_left_mouse_click\">\n<actions>\n"
                               "<action source=\"_self_\" target=\"_self_\">\n<command>hide</command>\n"
                               "<parameters>\n</action>\n</actions>\n</event>\n</events>\n";
    const std::string scene =
        "<scene name=\"s\">\n<parameters/>\n<metadata/>\n<objects>\n"
        "<object name=\"lamp\" type=\"ARObject\">\n<model source=\"models/cube.osgb\"/>\n"
        "<markers><marker id=\"1\"/></markers>\n<events file=\"events/broken.xml\"/>\n</object>\n"
        "<object name=\"absent\" type=\"ARObject\">\n<model source=\"models/missing.osgb\"/>\n"
        "<markers><marker id=\"1\"/></markers>\n</object>\n"
        "<object name=\"poster\" type=\"ARVideo\">\n<model source=\"models/screen.osgb\" "
        "video=\"movies/poster.mov\"/>\n"
        "<markers><marker id=\"2\"/></markers>\n</object>\n"
        "<object name=\"stray\" type=\"ARObject\">\n<model source=\"models/cube.osgb\"/>\n"
        "<markers><marker id=\"7\"/></markers>\n</object>\n"
        "<object name=\"silence\" type=\"ARAudio\">\n<model source=\"models/cube.osgb\" "
        "audio=\"sounds/missing.wav\"/>\n"
        "<markers><marker id=\"2\"/></markers>\n</object>\n"
        "<object name=\"renamed\" type=\"ARAudio\">\n<model source=\"models/cube.osgb\" "
        "audio=\"sounds/chime.flac\"/>\n"
        "<markers><marker id=\"2\"/></markers>\n</object>\n"
        "<object name=\"old\" type=\"ARObject\">\n<model source=\"models/old.gltf\"/>\n"
        "<markers><marker id=\"1\"/></markers>\n</object>\n"
        "</objects>\n</scene>\n";

    folder.write("model.dat", metadata);
    folder.write("config.xml", "<configuration name=\"c\"><parameters/></configuration>\n");
    folder.write("tracker.xml", "<tracker name=\"t\"><parameters/></tracker>\n");
    folder.write("video.xml", video);
    folder.write("markers.xml", markers);
    folder.write("scene.xml", scene);
    folder.write("audio.xml", "<audio name=\"a\"><soundtracks/></audio>\n");
    folder.write("patterns.dat", "# markers come from the markers settings\n0\n");
    folder.write("events/broken.xml", events);
    folder.write("patterns/short.patt", "255 255 255\n0 0 0\n");
    // A glTF of the first version, which the model reader does not read: its reason is given.
    folder.write("models/old.gltf", R"({"asset": {"version": "1.0"}, "scene": "s", "scenes": {"s": {}}})");
    // Its patterns are named from its own folder: the first is there, the second is not.
    folder.write("patterns/board.dat", "2\nmarker_1.patt\n40\n1 0 0 -30\n0 1 0 0\n0 0 1 0\n"
                                       "gone.patt\n40\n1 0 0 30\n0 1 0 0\n0 0 1 0\n");
    for (const char* name :
         {"patterns/marker_1.patt", "patterns/marker_3.patt", "models/cube.osgb", "models/screen.osgb"})
        copySample(folder, name);
    // A sound the audio library reads, under a name audio objects do not play.
    std::filesystem::create_directories(folder.file("sounds"));
    std::filesystem::copy_file(SAMPLES + "/sounds/chime.wav", folder.file("sounds/chime.flac"));
    std::filesystem::create_directories(folder.file("movies"));
    std::filesystem::copy_file(SAMPLES + "/patterns/marker_1.png", folder.file("movies/poster.mov"));
    // A focal length of half a pixel: no lens makes that.
    osgART::CameraParameters::fromIntrinsics(640, 480, 0.5, 0.5, 320, 240)
        .saveBinary(folder.file("absurd.dat"));
    const std::string& f = folder.path();
    const std::vector<Expected> expected = {
        {f + "/events/broken.xml", lineOf(events, "</action>"), "not readable XML"},
        {f + "/scene.xml", lineOf(scene, "missing.osgb"), "model file not found"},
        {f + "/scene.xml", lineOf(scene, "poster.mov"), "is a still image, not a movie"},
        {f + "/markers.xml", lineOf(markers, "short.patt"), "pattern file \"patterns/short.patt\""},
        {f + "/video.xml", lineOf(video, "absurd.dat"), "camera file \"absurd.dat\""},
        {f + "/markers.xml", lineOf(markers, "spare"), "marker 3 (\"spare\") carries no object"},
        {f + "/markers.xml", lineOf(markers, "board.dat"),
         "gone.patt\" of the multi-marker file \"patterns/board.dat\""},
        {f + "/scene.xml", lineOf(scene, "id=\"7\""), "is on marker 7, which the markers file does not"},
        {f + "/scene.xml", lineOf(scene, "missing.wav"), "sound file not found"},
        {f + "/scene.xml", lineOf(scene, "chime.flac"), "plays only .wav and .ogg files"},
        {f + "/model.dat", lineOf(metadata, "lights.xml"), "the lighting settings file \"lights.xml\""},
        {f + "/scene.xml", lineOf(scene, "old.gltf"),
         "no model reader can read it (.gltf): GLTF: Unsupported glTF version: 1.0"},
    };
    const std::vector<SceneProblem> problems = checkFolder(folder.path());
    SCOPED_TRACE("reported:\n" + listed(problems));
    for (const Expected& fault : expected)
        EXPECT_TRUE(reported(problems, fault.file, fault.line, fault.phrase))
            << fault.file << ":" << fault.line << ": " << fault.phrase;
    // Nothing is said elsewhere. (A misspelt attribute: the scene check end-to-end test.)
    for (const SceneProblem& problem : problems)
        EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                                [&](const Expected& fault)
                                { return problem.file == fault.file && problem.line == fault.line; }))
            << problem.text();
}

// The five settings files not there are each said once, with the path looked at.
TEST(SceneCheck, AMissingSettingsFileIsNamedWithThePathLookedAt)
{
    const NovaroTest::NotifyCapture quiet;
    TemporaryFolder folder;
    folder.write("config.xml", "<configuration><parameters/></configuration>\n");
    folder.write("scene.xml", "<scene name=\"s\"><objects/></scene>\n");
    const std::string all = listed(checkFolder(folder.path()));
    EXPECT_TRUE(holds(all, folder.file("markers.xml") + ": the markers settings file is missing"));
    EXPECT_EQ(1, NovaroTest::countLinesHolding(all, "markers.xml"));
}

// (The sample scene checked clean, by the player and the tool: the scene check end-to-end test.)

// A copy of the sample scene with one fault of each kind planted in it, each in a file or on a line
// of its own, all reported on their lines: what the player would refuse or die on (image targets
// that cannot be trained: too small, plain, a header claiming a huge size, cut short, a printed
// width just over the largest; a square marker wider than any printed picture), two markers that
// cannot both work (one id, one pattern file), actions that do nothing when their event fires,
// numbers the player would misread, misspelt and misplaced names (given the closest name the
// readers know), and an OBJ whose material library or texture is missing (it plays white, with
// nothing said). (Names that lead outside the scene: the hostile scene end-to-end test.)
TEST(SampleSceneCheck, EachPlantedFaultIsReportedOnItsLine)
{
    const NovaroTest::NotifyCapture quiet;
    NovaroTest::usePluginFolder();
    NovaroTest::useTrialReader();
    TemporaryFolder scene; // the whole sample scene, without its recorded camera
    std::filesystem::copy(SAMPLES, scene.path(), std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(scene.file("recorded"));
    const auto edit = [&](const std::string& name, const std::string& from, const std::string& to)
    { return NovaroTest::replaceInFile(scene.file(name), from, to); };
    // "<file>:<line>:<column>: " of the first line of the file's text that holds the part.
    const auto at = [&](const std::string& name, const std::string& text, const std::string& part,
                        int column = 1) {
        return scene.file(name) + ":" + std::to_string(lineOf(text, part)) + ":" + std::to_string(column) +
               ": ";
    };

    const std::string fruits = NovaroTest::readFile(SAMPLES + "/images/fruits.jpg");
    scene.write("images/cut.jpg", fruits.substr(0, fruits.size() / 2));
    // A PNG signature and header claiming 100000x100000 pixels, and nothing after.
    scene.write("images/huge.png", NovaroTest::bytes("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x01\x86\xa0"
                                                     "\x00\x01\x86\xa0\x08\x02\x00\x00\x00"));
    osg::ref_ptr<osg::Image> plain = new osg::Image;
    plain->allocateImage(200, 200, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    std::fill(plain->data(), plain->data() + 200 * 200, 128);
    ASSERT_TRUE(osgDB::writeImageFile(*plain, scene.file("images/plain.png")));
    plain->allocateImage(1, 1, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    ASSERT_TRUE(osgDB::writeImageFile(*plain, scene.file("images/dot.png")));
    const auto target = [](int id, const std::string& path, const std::string& size)
    {
        return "<marker name=\"t" + std::to_string(id) + "\" id=\"" + std::to_string(id) +
               "\" type=\"image\" path=\"" + path + "\" size=\"" + size + "\"/>\n";
    };
    // A size the reader replaces by its default is a number misread too.
    edit("markers.xml", "size=\"80\"", "size=\"-80\"");
    const std::string markers = edit(
        "markers.xml", "</markers>",
        target(11, "images/dot.png", "100") + target(12, "images/plain.png", "100") +
            target(13, "images/huge.png", "100") + target(14, "images/cut.jpg", "100") +
            target(15, "images/fruits.jpg", "100001") +
            "<marker name=\"wide\" id=\"16\" path=\"patterns/marker_1.patt\" size=\"200000\"/>\n"
            "<marker name=\"again\" id=\"2\" type=\"single\" path=\"patterns/marker_3.patt\" size=\"80\"/>\n"
            "</markers>");
    const std::string events =
        "<events name=\"cube_events\">\n<event name=\"on_left_mouse_click\">\n<actions>\n"
        "<action source=\"_self_\" target=\"walkr\">\n<command>start_animation</command>\n"
        "</action>\n<action source=\"_self_\" target=\"sphere\">\n"
        "<command>strat_animation</command>\n</action>\n</actions>\n</event>\n</events>\n";
    scene.write("events/cube_events.xml", events);
    // Text for 0 and a decimal comma (0,05 is read as 0: the model vanishes); a text of 200,000
    // digits (matched by std::regex, it overflowed the check's stack).
    const std::string digits(200000, '1');
    const std::string text = edit("scene.xml", "<scale x=\"1\" y=\"1\" z=\"1\"/>",
                                  "<scale x=\"0,05\" y=\"abc\" z=\"" + digits + ",5x\"/>");
    edit("audio.xml", "encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\"");
    // Misspelt and misplaced names: a child the reader never looks for under <parameters> has no
    // name close enough to suggest.
    const std::string configuration =
        edit("config.xml", "<parameter name=\"mirror\">", "<paramters/>\n<parameter name=\"mirorr\">");
    const std::string misspelt =
        edit("scene.xml", "<scale x=\"1\" y=\"1\" z=\"1\"/>", "<scael x=\"1\" y=\"1\" z=\"1\"/>");
    scene.write("models/skin.mtl", "newmtl skin\nKd 1 1 1\nmap_Kd -s 1 1 1 textures/skin.png\n");
    scene.write("models/patch.obj",
                "mtllib skin.mtl\nmtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl skin\n"
                "f 1 2 3\n");
    edit("scene.xml", "models/cube.osgb", "models/patch.obj");

    const std::vector<SceneProblem> problems = checkFolder(scene.path());
    const std::string all = listed(problems);
    SCOPED_TRACE("reported:\n" + all);
    const std::pair<std::string, std::string> targets[] = {
        {"images/dot.png", "its shorter side must be at least 32"},
        {"images/plain.png", "features, at least 40 are needed"},
        {"images/huge.png", "its header claims 100000x100000 pixels"},
        {"images/cut.jpg", "it is cut short"},
        {"\"100001\"", "at most 100000"},
        {"\"200000\"", "at most 100000"},
    };
    for (const auto& [part, phrase] : targets)
        EXPECT_TRUE(reported(problems, "", lineOf(markers, part), phrase)) << part << ": " << phrase;

    const std::string again = at("markers.xml", markers, "\"again\"");
    EXPECT_TRUE(holds(all, again + "marker 2 is declared twice (first on line " +
                               std::to_string(lineOf(markers, "id=\"2\"")) + ")"));
    EXPECT_TRUE(holds(all, again + "markers 3 and 2 use the same pattern file \"patterns/marker_3.patt\": "
                                   "the tracker cannot tell them apart"));

    // Reported with the closest name.
    const std::string name = "events/cube_events.xml", event = "object \"cube\", event on_left_mouse_click: ";
    EXPECT_TRUE(holds(all, at(name, events, "walkr") + event +
                               "no object of the scene is named \"walkr\" (did you mean \"walker\"?)"));
    EXPECT_TRUE(holds(all, at(name, events, "target=\"sphere\"") + event +
                               "unknown command \"strat_animation\" (did you mean \"start_animation\"?)"));

    EXPECT_TRUE(holds(all, "size of <marker>: \"-80\": a marker's size must be above 0: the player uses 80"));
    EXPECT_TRUE(holds(all, scene.file("scene.xml") + ":" + std::to_string(lineOf(text, "0,05")) + ":"));
    EXPECT_TRUE(holds(all, "x of <scale>: \"0,05\" is not a number (write a decimal point: 0.05); the "
                           "player reads it as 0"));
    EXPECT_TRUE(holds(all, "y of <scale>: \"abc\" is not a number; the player reads it as 0"));
    EXPECT_TRUE(holds(all, "z of <scale>: \"" + digits + ",5x\" is not a number; the player reads it as"));
    // A settings file in another encoding than UTF-8 is named as such.
    EXPECT_TRUE(holds(all, scene.file("audio.xml") +
                               ":1:1: declared iso-8859-1: read as such and turned into UTF-8"));

    // An element's name is suggested as an element is written.
    EXPECT_TRUE(holds(all, at("scene.xml", misspelt, "<scael", 9) +
                               "unknown element <scael> (did you mean <scale>?)"));
    EXPECT_TRUE(holds(all, at("config.xml", configuration, "mirorr") +
                               "unknown parameter \"mirorr\" (did you mean \"mirror\"?)"));
    EXPECT_TRUE(holds(all, at("config.xml", configuration, "<paramters/>", 5) +
                               "<paramters> is not read: the children of <parameters> are found by their "
                               "name attribute"));

    const std::string model = "model \"" + scene.file("models/patch.obj") + "\": ";
    EXPECT_TRUE(holds(all, model + "texture \"textures/skin.png\" of \"skin.mtl\" not found (looked for " +
                               scene.file("models/textures/skin.png") + ")"));
    EXPECT_TRUE(holds(all, model + "material library \"gone.mtl\" not found"));
}
