#pragma once

#include <string>

struct _XDisplay;

namespace Novaro
{

// One connection to the X server, held from before the player's first window to its exit.
//
// On its way to its window the player opens and closes several connections of its own: the
// capability probe and the multisampling probes, the loading window (on its thread), the screen
// size queries. Between two of them the server can see its last client leave, and an X server
// started without -noreset (xvfb-run's default, and some kiosk and remote-desktop set-ups) then
// resets itself: a window asked for during the reset is refused ("windows empty", a single-colour
// picture), and Mesa's GLX, handed a context across the reset, was seen to corrupt the heap and
// abort minutes later. A connection held for the whole run keeps the server from resetting while
// the player runs; it draws nothing and costs one socket.
class DisplayConnection
{
public:
    // Connects to the display the DISPLAY variable names.
    DisplayConnection();
    ~DisplayConnection();

    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

    bool isOpen() const { return _display != nullptr; }

    // The display the DISPLAY variable names, as the user would type it (":0", "host:1.0"), or
    // "(DISPLAY not set)".
    static std::string requestedName();

private:
    _XDisplay* _display;
};

} // namespace Novaro
