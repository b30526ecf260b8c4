// The player away from its build tree: installed with CMake's install rules into a folder of the
// test's own, and as a copy of the run directory elsewhere, each started from an unrelated folder
// on the bundled sample scene. The picture must show the scene (not a blank window), and no
// installed binary may name the build tree.
#include "Display.h"
#include "PlayerProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include <osg/Image>
#include <osgDB/ReadFile>

using namespace NovaroTest;

namespace
{

const std::string BUILD_DIRECTORY = std::filesystem::path(NOVARO_RUN_DIR).parent_path().string();

// Plays the demo with the given player from a folder that holds nothing of the player's.
void expectDemoPlays(const std::string& player)
{
    TemporaryFolder elsewhere;
    const std::string shot = elsewhere.file("demo.png");
    const PlayerRun run =
        runExecutable(player, elsewhere.path(), {"--demo", "-max_frames", "8", "-screenshot", shot},
                      {"ALSOFT_DRIVERS=null"});
    EXPECT_EQ(0, run.status);
    EXPECT_FALSE(run.printed("ERROR: init failure."));
    // The sample's COLLADA house is read by the trial reader first, found beside this player.
    EXPECT_FALSE(run.printed("refusing model file")) << run.output;
    osg::ref_ptr<osg::Image> picture = osgDB::readImageFile(shot);
    ASSERT_TRUE(picture.valid()) << "no screenshot";
    // Distinct colours in a coarse grid over the picture: a scene shows dozens, a blank window one.
    std::set<unsigned int> colours;
    for (int y = 0; y < picture->t(); y += 7)
        for (int x = 0; x < picture->s(); x += 7)
        {
            const unsigned char* pixel = picture->data(x, y);
            colours.insert(pixel[0] << 16 | pixel[1] << 8 | pixel[2]);
        }
    EXPECT_GT(colours.size(), 50u);
}

// The value of KEY in a desktop entry's [Desktop Entry] group.
std::string desktopValue(const std::string& entry, const std::string& key)
{
    std::smatch match;
    const std::regex line("(^|\n)" + key + "=([^\n]*)");
    return std::regex_search(entry, match, line) ? match[2].str() : std::string();
}

} // namespace

// Whoever has only the installed (stripped) tree must find every document the installed texts send
// them to, and the sections they name in it; the desktop entries must pass Debian's validator, show
// an icon that is installed, open a scene they are given and keep the player's messages in sight;
// no installed binary names the build tree, and the player plays the demo from another folder.
TEST(InstallEndToEnd, InstalledTreeHasItsDocumentsAndDesktopEntriesNamesNoBuildPathAndPlaysAsACopyDoes)
{
    TemporaryFolder root;
    const std::string prefix = root.file("usr");
    ASSERT_EQ(0, std::system(("cmake --install " + quote(BUILD_DIRECTORY) + " --prefix " + quote(prefix) +
                              " --strip > " + quote(root.file("install.log")) + " 2>&1")
                                 .c_str()))
        << readFile(root.file("install.log"));
    const std::string doc = prefix + "/share/doc/novaro/";

    std::vector<std::pair<std::string, std::string>> texts; // name, text
    for (const auto& entry : std::filesystem::directory_iterator(prefix + "/share/man/man1"))
        texts.emplace_back(entry.path().filename().string(),
                           runExecutable("gzip", root.path(), {"-dc", entry.path().string()}).output);
    texts.emplace_back("scene-format.md", readFile(doc + "scene-format.md"));
    const PlayerRun help = runExecutable(prefix + "/bin/novaro", root.path(), {"--help"});
    EXPECT_EQ(0, help.status);
    texts.emplace_back("novaro --help", help.output);

    const std::regex documentPath("/share/doc/novaro/([A-Za-z0-9_.-]+)");
    int readmeReferences = 0;
    for (const auto& [name, text] : texts)
    {
        ASSERT_FALSE(text.empty()) << name;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), documentPath);
             it != std::sregex_iterator(); ++it)
        {
            EXPECT_TRUE(std::filesystem::is_regular_file(doc + (*it)[1].str()))
                << name << " names " << it->str();
            readmeReferences += (*it)[1].str() == "README.md";
        }
        // "the README" alone leaves the reader to guess where it is.
        EXPECT_TRUE(text.find("README") == std::string::npos ||
                    text.find("/share/doc/novaro/README.md") != std::string::npos)
            << name;
    }
    EXPECT_GE(readmeReferences, 3);
    const std::string readme = readFile(doc + "README.md");
    for (const char* section : {"## Using the player", "### The tracking threshold", "### In Blender"})
        EXPECT_NE(std::string::npos, readme.find(section)) << section;

    const std::string icon = prefix + "/share/icons/hicolor/scalable/apps/novaro.svg";
    ASSERT_TRUE(std::filesystem::is_regular_file(icon));
    EXPECT_NE(std::string::npos, readFile(icon).find("<svg"));
    bool opensAScene = false;
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(prefix + "/share/applications"))
    {
        ++entries;
        const std::string path = entry.path().string();
        const std::string text = readFile(path);
        if (std::system("command -v desktop-file-validate > /dev/null") == 0)
        {
            const PlayerRun validation = runExecutable("desktop-file-validate", root.path(), {path});
            EXPECT_EQ(0, validation.status) << validation.output;
            EXPECT_EQ("", validation.output) << path;
        }
        EXPECT_EQ("novaro", desktopValue(text, "Icon")) << path;
        EXPECT_EQ("true", desktopValue(text, "Terminal")) << path;
        const std::string exec = desktopValue(text, "Exec");
        EXPECT_EQ(0u, exec.rfind("novaro ", 0)) << path;
        opensAScene =
            opensAScene || exec.find("%f") != std::string::npos || exec.find("%F") != std::string::npos;
    }
    EXPECT_GE(entries, 2);
    EXPECT_TRUE(opensAScene);

    for (const char* file :
         {"bin/novaro-marker", "bin/novaro-track", "lib/novaro/libosgART.so",
          "libexec/novaro/novaro-trial-read", "lib/novaro/osgplugins/osgart_tracker_artoolkit4.so",
          "lib/novaro/osgplugins/osgdb_glb.so", "share/novaro/data/novaro.ive", "share/novaro/data/arial.ttf",
          "share/novaro/samples/scene.xml", "share/man/man1/novaro.1.gz", "share/man/man1/novaro-scene.1.gz",
          "share/novaro/blender/novaro_exporter/__init__.py"})
        EXPECT_TRUE(std::filesystem::exists(prefix + "/" + file)) << file;
    // The Blender add-on is found from the installed tool, as the README's enabling line does.
    const PlayerRun addon = runExecutable(prefix + "/bin/novaro-scene", root.path(), {"blender-addon"});
    EXPECT_EQ(0, addon.status);
    EXPECT_EQ(
        std::filesystem::path(prefix + "/share/novaro/blender/novaro_exporter").lexically_normal().string() +
            "\n",
        addon.output);

    for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix))
    {
        const bool binary = entry.path().extension() == ".so" ||
                            entry.path().parent_path().filename() == "bin" ||
                            entry.path().filename() == "novaro-trial-read";
        if (!entry.is_regular_file() || !binary)
            continue;
        EXPECT_EQ(std::string::npos, readFile(entry.path()).find(BUILD_DIRECTORY))
            << entry.path() << " names the build tree";
    }

    // (Played from a read-only tree: the hostile scene tests.) A copy of the run directory plays too.
    NOVARO_REQUIRE_DISPLAY();
    expectDemoPlays(prefix + "/bin/novaro");
    TemporaryFolder copy;
    std::filesystem::copy(NOVARO_RUN_DIR, copy.file("run"),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
    expectDemoPlays(copy.file("run/novaro"));
}

// The package is built as Debian builds its packages: every object with the hardening flags of
// dpkg-buildflags (bindnow included), the debug information split into a -dbgsym package.
TEST(InstallEndToEnd, PackageBuildTreeUsesDebianHardeningFlagsAndSplitsTheDebugInformation)
{
    if (std::system("command -v dpkg-buildflags > /dev/null") != 0)
        GTEST_SKIP() << "dpkg-buildflags (package dpkg-dev) is not installed";
    TemporaryFolder root;
    const std::string tree = root.file("package");
    const PlayerRun configure = runExecutable(std::string(NOVARO_SOURCE_DIR) + "/scripts/package.sh",
                                              root.path(), {"--configure-only", tree});
    ASSERT_EQ(0, configure.status) << configure.output;

    const std::string ninja = readFile(tree + "/build.ninja");
    std::istringstream lines(ninja);
    std::string rule;
    int compiles = 0, links = 0;
    const std::regex linker("CXX_(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)_LINKER__");
    for (std::string line; std::getline(lines, line);)
    {
        if (line.rfind("build ", 0) == 0)
            rule = line;
        const bool compile =
            rule.find("CXX_COMPILER__") != std::string::npos && line.rfind("  FLAGS = ", 0) == 0;
        const bool link = std::regex_search(rule, linker) && line.rfind("  LINK_FLAGS = ", 0) == 0;
        if (compile)
        {
            ++compiles;
            for (const char* flag : {"-D_FORTIFY_SOURCE=2", "-fstack-protector-strong", "-O2", "-g"})
                EXPECT_NE(std::string::npos, line.find(flag)) << rule << "\n" << line;
        }
        if (link)
        {
            ++links;
            EXPECT_NE(std::string::npos, line.find("-z,now")) << rule;
            EXPECT_NE(std::string::npos, line.find("-z,relro")) << rule;
        }
    }
    EXPECT_GT(compiles, 50);
    EXPECT_GT(links, 10);
    const std::string cpack = readFile(tree + "/CPackConfig.cmake");
    EXPECT_NE(std::string::npos, cpack.find("set(CPACK_DEBIAN_DEBUGINFO_PACKAGE \"ON\")"));
    EXPECT_NE(std::string::npos, cpack.find("set(CPACK_STRIP_FILES \"OFF\")"));
}
