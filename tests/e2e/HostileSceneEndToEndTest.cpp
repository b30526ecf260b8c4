// A scene someone sends is played and checked without anything outside it changing: every route a
// hostile scene has tried (writing where its markers file points, writing through a link it ships,
// emptying a folder beside an archive named from elsewhere, fetching what its models name) is
// tried at once, and the files around the scene are compared before and after.
#include "LoopbackListener.h"
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <osg/ProxyNode>
#include <osgDB/WriteFile>

#include <filesystem>
#include <map>

#include <sys/stat.h>

using namespace NovaroTest;
namespace fs = std::filesystem;

namespace
{

// Every entry under a folder, links not followed: its kind and mode, and its content or target.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
    {
        struct stat status;
        if (::lstat(it->path().c_str(), &status) != 0)
            continue;
        std::string description = std::to_string(status.st_mode) + " ";
        if (S_ISLNK(status.st_mode))
            description += "-> " + fs::read_symlink(it->path()).string();
        else if (S_ISREG(status.st_mode))
            description += readFile(it->path().string());
        entries[fs::relative(it->path(), folder).string()] = description;
    }
    return entries;
}

} // namespace

TEST(HostileScene, NothingOutsideTheSceneChangesAndNothingIsFetched)
{
    NOVARO_REQUIRE_DISPLAY();
    LoopbackListener server;
    ASSERT_TRUE(server.listening());
    SampleScene scene;
    const TemporaryFolder& directory = scene.directory();
    TemporaryFolder outside, privateParent;

    // Beside the scene: a login script, and two archives with folders of someone's files where
    // the player used to unpack them.
    outside.write("profile", "the user's own login script\n");
    for (const std::string folder : {"other", "other/models"})
    {
        fs::create_directories(outside.file(folder));
        fs::copy_file(SAMPLES + "/models/house.kmz", outside.file(folder + "/house.kmz"));
        outside.write(folder + "/house_kmz.tmp/precious.txt", "kept\n");
    }

    // In the scene: a link where the generated multi-marker file was first written, a link to a
    // folder outside, and models whose textures and children are on a server.
    fs::create_symlink(outside.file("profile"), directory.file("board_multi.dat.partial"));
    fs::create_directory_symlink(outside.file("other"), directory.file("linked"));
    directory.write("remote.mtl", "newmtl skin\nmap_Kd " + server.url("skin.png") + "\n");
    directory.write("remote.obj", "mtllib remote.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl skin\nf 1 2 3\n");
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    proxy->setFileName(0, server.url("house.osgt"));
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, directory.file("proxy.osgt")));
    // Models that crash their reader: a 3DS file with one byte changed, and a proxy naming itself.
    std::string broken = readFile("/usr/share/assimp/models/3DS/test1.3ds");
    ASSERT_GT(broken.size(), 9585u) << "install Debian's assimp-testmodels (scripts/install-deps.sh does)";
    broken[9585] = char(208);
    directory.write("broken.3ds", broken);
    proxy->setFileName(0, "self.osgt");
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, directory.file("self.osgt")));
    ASSERT_TRUE(writeBoardPlaces(directory));
    replaceInFile(directory.file("markers.xml"), "</markers>",
                  boardMarkerXml("board&#10;echo owned", 7, "board_multi.dat") +
                      boardMarkerXml("profile", 8, outside.file("profile")) +
                      boardMarkerXml("climber", 9, "../../../" + outside.file("profile")) +
                      boardMarkerXml("unreadable", 10, "taken.dat") + "</markers>");
    // Something the scene ships under a multi marker's name that is no readable file is the
    // scene's fault, not a file to generate in its place (it was replaced, then deleted at exit).
    directory.write("taken.dat/keep.txt", "kept\n");
    replaceInFile(directory.file("scene.xml"), "</objects>",
                  objectXml("elsewhere", outside.file("other/house.kmz")) +
                      objectXml("through_link", "linked/models/house.kmz") +
                      objectXml("remote", "remote.obj") + objectXml("proxy", "proxy.osgt") +
                      objectXml("broken", "broken.3ds") + objectXml("self", "self.osgt") + "</objects>");

    const std::map<std::string, std::string> outsideBefore = snapshot(outside.path());
    std::map<std::string, std::string> sceneBefore = snapshot(directory.path());

    const std::vector<std::string> environment = {"TMPDIR=" + privateParent.path(), "OSG_CURL_TIMEOUT=2",
                                                  "OSG_CURL_CONNECTTIMEOUT=2"};
    PlayerRun run = scene.play({"-max_frames", "20", "-verbose"}, environment);
    EXPECT_EQ(0, run.status) << run.output;
    // It played: the sample's archive was unpacked, privately, and the board's file generated there.
    EXPECT_EQ(1, countLinesHolding(run.output, " Using model: " + privateParent.path())) << run.output;
    EXPECT_EQ(1, countLinesHolding(run.output, " Adding pattern: 4 -> OK.")) << run.output;
    EXPECT_EQ(1, countLinesHolding(run.output, " ERROR: cannot read the pattern file (" +
                                                   directory.file("taken.dat") +
                                                   "): it is not a readable regular file."))
        << run.output;
    PlayerRun check =
        runExecutable(RUN_DIRECTORY + "/novaro-scene", directory.path(), {"check", "."}, environment);

    EXPECT_EQ(outsideBefore, snapshot(outside.path()));
    std::map<std::string, std::string> sceneAfter = snapshot(directory.path());
    sceneAfter.erase("shot.png"); // named on the command line
    EXPECT_EQ(sceneBefore, sceneAfter);
    EXPECT_TRUE(fs::is_empty(privateParent.path())) << "the private folder is removed at exit";
    EXPECT_EQ(0, server.connections());

    // Each refusal is said, naming the file and line, by the player and by the checker.
    for (const std::string& name :
         {outside.file("profile"), outside.file("other/house.kmz"), std::string("linked/models/house.kmz"),
          "../../../" + outside.file("profile")})
    {
        EXPECT_EQ(1, countLinesHolding(run.output, "refusing the name '" + name + "'")) << name << run.output;
        EXPECT_EQ(1, countLinesHolding(check.output, "\"" + name + "\" leads outside"))
            << name << check.output;
    }
    EXPECT_NE(0, check.status);
    // The player lived through the models whose readers crash, and said which they were.
    EXPECT_EQ(1, countLinesHolding(run.output, "broken.3ds: its reader ")) << run.output;
    EXPECT_EQ(1, countLinesHolding(check.output, "broken.3ds\": its reader ")) << check.output;
    EXPECT_EQ(1, countLinesHolding(run.output,
                                   "self.osgt: it names itself, directly or through the models it names."))
        << run.output;
}

// A sample in a tree nobody may write (an installed one, a mounted share) plays whole, even for
// root: its archive is unpacked into the private folder, not beside itself.
TEST(HostileScene, AReadOnlySceneLosesNothing)
{
    NOVARO_REQUIRE_DISPLAY();
    SampleScene scene;
    const std::string folder = scene.directory().path();
    TemporaryFolder privateParent;
    const std::string mount = "mount --bind " + quote(folder) + " " + quote(folder) +
                              " && mount -o remount,bind,ro " + quote(folder) + " " + quote(folder);
    if (std::system((mount + " 2>/dev/null").c_str()) != 0)
    {
        std::system(("umount " + quote(folder) + " 2>/dev/null").c_str());
        GTEST_SKIP() << "no privilege to mount the scene read-only";
    }
    PlayerRun run = runPlayer(RUN_DIRECTORY,
                              {"-working_directory", folder, "-temporary_directory", folder, "-video_file",
                               scene.frame(), "-max_frames", "5", "-verbose"},
                              {"TMPDIR=" + privateParent.path()});
    EXPECT_EQ(0, std::system(("umount " + quote(folder)).c_str()));
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(1, countLinesHolding(run.output, " Using model: " + privateParent.path())) << run.output;
    EXPECT_EQ(0, countLinesHolding(run.output, "Read-only file system")) << run.output;
    EXPECT_EQ(0, countLinesHolding(run.output, "No valid KMZ models")) << run.output;
    EXPECT_TRUE(fs::is_empty(privateParent.path()));
}
