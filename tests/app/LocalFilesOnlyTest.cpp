// A scene cannot make the player or the checker reach the network: names with a scheme are
// refused before any plugin (OpenSceneGraph's curl reader among them) sees them.
#include "app/LocalFilesOnly.h"
#include "app/InstallLayout.h"
#include "app/Startup.h"
#include "settings/ModelFileCheck.h"
#include "settings/SceneBoundary.h"

#include "LoopbackListener.h"
#include "NotifyCapture.h"
#include "PlayerProcess.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <osg/ProxyNode>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <filesystem>

using namespace Novaro;

TEST(LocalFiles, ModelsAndPicturesNamedByAddressAreRefusedWithoutAConnection)
{
    // A fetch that does happen then fails in seconds instead of waiting on this silent listener.
    setenv("OSG_CURL_CONNECTTIMEOUT", "2", 1);
    setenv("OSG_CURL_TIMEOUT", "2", 1);
    prepareSceneGraphLibrary(InstallLayout::around(std::string(NOVARO_RUN_DIR) + "/novaro"));
    NovaroTest::LoopbackListener server;
    ASSERT_TRUE(server.listening());
    NovaroTest::NotifyCapture capture(osg::WARN);
    NovaroTest::TemporaryFolder folder;
    // An OBJ whose material names its texture by address, as a downloaded model may.
    folder.write("remote.mtl", "newmtl skin\nmap_Kd " + server.url("skin.png") + "\n");
    const std::string model = folder.write("remote.obj", "mtllib remote.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                                         "usemtl skin\nf 1 2 3\n");
    EXPECT_TRUE(osgDB::readRefNodeFile(model).valid()) << "the model itself is local and loads";
    EXPECT_FALSE(osgDB::readRefImageFile(server.url("picture.png")).valid());
    EXPECT_FALSE(osgDB::readRefNodeFile(server.url("house.osgt")).valid());
    EXPECT_EQ(0, server.connections());
    // Each name is said once, whatever asks for it again (paging asks every frame).
    EXPECT_FALSE(osgDB::readRefImageFile(server.url("picture.png")).valid());
    for (const char* name : {"picture.png", "skin.png"})
        EXPECT_EQ(1, capture.count(" WARNING: not fetching " + server.url(name) +
                                   ": scenes read files on this computer only, never from the network."));
}

// Once the scene's folders are set, a model's reads are held to them (the player's and the
// system's own files excepted), and no picture is decoded before its header gave a showable size.
TEST(LocalFiles, ReadsOutsideTheScenePicturesOfUnreadableOrHugeSizeAndModelsThatCrashOrRecurseAreRefused)
{
    prepareSceneGraphLibrary(InstallLayout::around(std::string(NOVARO_RUN_DIR) + "/novaro"));
    NovaroTest::TemporaryFolder scene, elsewhere;
    const std::string secret = elsewhere.write("secret.png", "");
    {
        osg::ref_ptr<osg::Image> picture = new osg::Image;
        picture->allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE);
        ASSERT_TRUE(osgDB::writeImageFile(*picture, secret));
        ASSERT_TRUE(osgDB::writeImageFile(*picture, scene.file("own.png")));
        // Folders beside the scene's and a trusted one's whose names begin with theirs.
        for (const std::string& folder : {scene.path(), elsewhere.path()})
        {
            std::filesystem::create_directory(folder + "-beside");
            ASSERT_TRUE(osgDB::writeImageFile(*picture, folder + "-beside/secret.png"));
        }
    }
    // 29 bytes of GIF claiming 65535x65535 pixels, and a JPEG whose frame header comes after more
    // segments than any camera writes: decoders allocate what such headers claim.
    const std::string gif =
        scene.write("huge.gif", NovaroTest::bytes("GIF89a\xff\xff\xff\xff\x80\x00\x00"
                                                  "\x00\x00\x00\xff\xff\xff,\x00\x00\x00\x00"
                                                  "\xff\xff\xff\xff\x00\x02\x02"
                                                  "D\x01\x00;"));
    std::string segments = NovaroTest::bytes("\xff\xd8");
    for (int i = 0; i < 4097; ++i)
        segments += NovaroTest::bytes("\xff\xfe\x00\x03x");
    segments += NovaroTest::bytes("\xff\xc0\x00\x0b\x08\xff\xdc\xff\xdc\x01\x01\x11\x00");
    const std::string jpeg = scene.write("segments.jpg", segments);

    SceneBoundary::setFolders({scene.path()});
    NovaroTest::NotifyCapture capture(osg::WARN);
    const auto read = [](const std::string& path) { return osgDB::readRefImageFile(path).valid(); };
    osg::ref_ptr<LocalFilesOnly> trusting = new LocalFilesOnly({elsewhere.path()});
    // Own, secret, climbing out to the secret, beside; trusted, beside the trusted; GIF, JPEG.
    const std::vector<bool> reads = {
        read(scene.file("own.png")),
        read(secret),
        read(scene.file("../" + std::filesystem::path(elsewhere.path()).filename().string() + "/secret.png")),
        read(scene.path() + "-beside/secret.png"),
        trusting->readImage(secret, nullptr).success(),
        trusting->readImage(elsewhere.path() + "-beside/secret.png", nullptr).success(),
        read(gif),
        read(jpeg)};
    std::filesystem::remove_all(scene.path() + "-beside");
    std::filesystem::remove_all(elsewhere.path() + "-beside");
    SceneBoundary::clear();
    EXPECT_EQ((std::vector<bool>{true, false, false, false, true, false, false, false}), reads);
    const auto count = [&capture](const std::string& part)
    { return NovaroTest::countLinesHolding(capture.text(), part); };
    EXPECT_EQ(1, count(" WARNING: not reading " + secret + ": it lies outside the scene's folders"));
    const std::string known =
        ": a picture is decoded only when its size is known and at most 8192 pixels on a side";
    EXPECT_EQ(1,
              count(" WARNING: not reading " + gif + known + ", and its header claims 65535x65535 pixels"));
    EXPECT_EQ(
        1, count(" WARNING: not reading " + jpeg + known + ", and its size cannot be read from its header"));
    // Outside a scene (a tool reading what its user names) the same reads go through.
    EXPECT_TRUE(osgDB::readRefImageFile(secret).valid());

    // A model can name other models (a proxy's files, loaded as it is read): each is checked as the
    // scene's own models are (one changed byte in a 3DS file crashes OpenSceneGraph's 3DS reader), and
    // none is read inside itself.
    std::string broken = NovaroTest::readFile("/usr/share/assimp/models/3DS/test1.3ds");
    ASSERT_GT(broken.size(), 9585u) << "install Debian's assimp-testmodels (scripts/install-deps.sh does)";
    broken[9585] = char(208);
    scene.write("broken.3ds", broken);
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    proxy->setFileName(0, "broken.3ds");
    const std::string model = scene.file("proxy.osgt");
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, model));

    osg::ref_ptr<osg::Node> proxied = readModelFile(model);
    ASSERT_TRUE(proxied.valid());
    EXPECT_EQ(proxied->asGroup()->getNumChildren(), 0u);
    EXPECT_NE(capture.text().find("broken.3ds: its reader "), std::string::npos) << capture.text();
    EXPECT_EQ(capture.text().find("refusing model file " + model), std::string::npos) << capture.text();

    // A proxy naming itself, or naming one that names it, made the reader recurse until the stack
    // ended.
    for (const auto& [first, second] : {std::pair<std::string, std::string>("self.osgt", "self.osgt"),
                                        std::pair<std::string, std::string>("ping.osgt", "pong.osgt")})
    {
        proxy->setFileName(0, second);
        ASSERT_TRUE(osgDB::writeNodeFile(*proxy, scene.file(first)));
        proxy->setFileName(0, first);
        ASSERT_TRUE(osgDB::writeNodeFile(*proxy, scene.file(second)));
        EXPECT_TRUE(readModelFile(scene.file(first)).valid()) << first;
        EXPECT_NE(capture.text().find(first + ": it names itself, directly or through the models it names."),
                  std::string::npos)
            << capture.text();
    }
}
