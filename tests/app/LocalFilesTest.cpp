// A scene cannot make the player or the checker reach the network: names with a scheme are
// refused before any plugin (OpenSceneGraph's curl reader among them) sees them.
#include "app/InstallLayout.h"
#include "app/LocalFilesOnly.h"
#include "app/Startup.h"

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <osgDB/ReadFile>

using namespace Novaro;

namespace
{

// A socket listening on the loopback interface, to count the connections a read attempts.
class LoopbackListener
{
public:
    LoopbackListener() : _socket(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(_socket, 8) == 0 &&
            getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            _port = ntohs(address.sin_port);
        fcntl(_socket, F_SETFL, O_NONBLOCK);
    }
    ~LoopbackListener() { close(_socket); }
    std::string url(const std::string& file) const
    {
        return "http://127.0.0.1:" + std::to_string(_port) + "/" + file;
    }
    // Connections made so far (a refused read makes none; a fetch makes one before it waits).
    int connections()
    {
        while (true)
        {
            const int client = accept(_socket, nullptr, nullptr);
            if (client < 0)
                return _accepted;
            close(client);
            ++_accepted;
        }
    }
    bool listening() const { return _port != 0; }

private:
    int _socket;
    int _port = 0;
    int _accepted = 0;
};

} // namespace

TEST(LocalFiles, ModelsAndPicturesNamedByAddressAreRefusedWithoutAConnection)
{
    // A fetch that does happen then fails in seconds instead of waiting on this silent listener.
    setenv("OSG_CURL_CONNECTTIMEOUT", "2", 1);
    setenv("OSG_CURL_TIMEOUT", "2", 1);
    prepareSceneGraphLibrary(InstallLayout::ofThisProcess());
    LoopbackListener server;
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
    EXPECT_EQ(1, capture.count(" WARNING: not fetching " + server.url("picture.png") +
                               ": scenes read files on this computer only, never from the network."));
    EXPECT_EQ(1, capture.count(" WARNING: not fetching " + server.url("skin.png") +
                               ": scenes read files on this computer only, never from the network."));
}
