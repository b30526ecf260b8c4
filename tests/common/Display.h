#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace NovaroTest
{

// Why no window can be opened, or empty when the X server named by DISPLAY accepts connections.
// Only local displays (":N", "unix:N") are probed; a remote one is trusted as it is.
inline std::string missingDisplayReason()
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return "DISPLAY is not set: run the tests under xvfb-run (scripts/test.sh does)";
    const std::string name = display;
    const size_t colon = name.rfind(':');
    const std::string host = name.substr(0, colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || !(host.empty() || host == "unix"))
        return std::string();
    const std::string number = name.substr(colon + 1, name.find('.', colon) - colon - 1);
    const std::string socketPath = "/tmp/.X11-unix/X" + number;
    // The file socket first, then the same name in the abstract namespace (Xvfb listens on both).
    for (bool abstract : {false, true})
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path + (abstract ? 1 : 0), socketPath.c_str(), sizeof(address.sun_path) - 2);
        const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) +
                                                        socketPath.size() + (abstract ? 0 : 1));
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool connected =
            socket >= 0 && connect(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        if (socket >= 0)
            close(socket);
        if (connected)
            return std::string();
    }
    return "no X server answers on DISPLAY=" + name + ": run the tests under xvfb-run (scripts/test.sh does)";
}

} // namespace NovaroTest

// Skips the current test, with the reason, when it cannot open a window.
#define NOVARO_REQUIRE_DISPLAY()                                                                             \
    do                                                                                                       \
    {                                                                                                        \
        const std::string novaroDisplayProblem = NovaroTest::missingDisplayReason();                         \
        if (!novaroDisplayProblem.empty())                                                                   \
            GTEST_SKIP() << novaroDisplayProblem;                                                            \
    } while (false)
