// The player away from its build tree: installed with CMake's install rules into a folder of the
// test's own, and as a copy of the run directory elsewhere, each started from an unrelated folder
// on the bundled sample scene. The picture must show the scene (not a blank window), and no
// installed binary may name the build tree.
#include "Display.h"
#include "PlayerProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <osg/Image>
#include <osgDB/ReadFile>

using namespace NovaroTest;

namespace
{

const std::string BUILD_DIRECTORY = std::filesystem::path(NOVARO_RUN_DIR).parent_path().string();

// Distinct colours in a coarse grid over the picture: a scene shows dozens, a blank window one.
size_t distinctColours(const osg::Image& image)
{
    std::set<unsigned int> colours;
    for (int y = 0; y < image.t(); y += 7)
        for (int x = 0; x < image.s(); x += 7)
        {
            const unsigned char* pixel = image.data(x, y);
            colours.insert(pixel[0] << 16 | pixel[1] << 8 | pixel[2]);
        }
    return colours.size();
}

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
    osg::ref_ptr<osg::Image> picture = osgDB::readImageFile(shot);
    ASSERT_TRUE(picture.valid()) << "no screenshot";
    EXPECT_GT(distinctColours(*picture), 50u);
}

bool fileNames(const std::filesystem::path& file, const std::string& text)
{
    std::ifstream stream(file, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    return content.find(text) != std::string::npos;
}

} // namespace

TEST(InstallEndToEnd, InstalledTreePlaysTheDemoFromAnotherFolderAndNamesNoBuildPath)
{
    NOVARO_REQUIRE_DISPLAY();
    TemporaryFolder root;
    const std::string prefix = root.file("usr");
    const std::string command = "cmake --install " + quote(BUILD_DIRECTORY) + " --prefix " + quote(prefix) +
                                " --strip > " + quote(root.file("install.log")) + " 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << readFile(root.file("install.log"));
    for (const char* file :
         {"bin/novaro", "bin/novaro-marker", "bin/novaro-track", "lib/novaro/libosgART.so",
          "lib/novaro/osgplugins/osgart_tracker_artoolkit4.so", "lib/novaro/osgplugins/osgdb_glb.so",
          "share/novaro/data/novaro.ive", "share/novaro/data/arial.ttf", "share/novaro/samples/scene.xml",
          "share/man/man1/novaro.1.gz", "bin/novaro-scene", "share/man/man1/novaro-scene.1.gz",
          "share/doc/novaro/scene-format.md", "share/novaro/blender/novaro_exporter/__init__.py"})
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
        const bool binary =
            entry.path().extension() == ".so" || entry.path().parent_path().filename() == "bin";
        if (!entry.is_regular_file() || !binary)
            continue;
        EXPECT_FALSE(fileNames(entry.path(), BUILD_DIRECTORY)) << entry.path() << " names the build tree";
    }

    expectDemoPlays(prefix + "/bin/novaro");

    // The installed tree as a package leaves it, which no user may write (even root, here, through
    // a read-only mount): the sample plays whole, its archive unpacked into the private folder.
    const std::string mount = "mount --bind " + quote(prefix) + " " + quote(prefix) +
                              " && mount -o remount,bind,ro " + quote(prefix) + " " + quote(prefix) +
                              " 2>/dev/null";
    if (std::system(mount.c_str()) != 0)
    {
        // No privilege to mount (or to make it read-only): the case is left to a machine that has it.
        std::system(("umount " + quote(prefix) + " 2>/dev/null").c_str());
        return;
    }
    TemporaryFolder elsewhere, privateParent;
    const PlayerRun readOnly =
        runExecutable(prefix + "/bin/novaro", elsewhere.path(), {"--demo", "-max_frames", "4", "-verbose"},
                      {"ALSOFT_DRIVERS=null", "TMPDIR=" + privateParent.path()});
    EXPECT_EQ(0, std::system(("umount " + quote(prefix)).c_str()));
    EXPECT_EQ(0, readOnly.status) << readOnly.output;
    EXPECT_EQ(1, countLinesHolding(readOnly.output, " Using model: " + privateParent.path()))
        << readOnly.output;
    EXPECT_EQ(0, countLinesHolding(readOnly.output, "Read-only file system")) << readOnly.output;
    EXPECT_FALSE(std::filesystem::exists(prefix + "/share/novaro/samples/models/house_kmz.tmp"));
}

TEST(InstallEndToEnd, CopiedRunDirectoryPlaysTheDemoFromAnotherFolder)
{
    NOVARO_REQUIRE_DISPLAY();
    TemporaryFolder copy;
    std::filesystem::copy(NOVARO_RUN_DIR, copy.file("run"),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks);
    expectDemoPlays(copy.file("run/novaro"));
}
