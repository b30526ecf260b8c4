#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace NovaroTest
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

} // namespace NovaroTest
