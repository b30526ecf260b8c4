#include "app/DisplayConnection.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace Novaro
{

DisplayConnection::DisplayConnection() : _display(nullptr)
{
    const char* name = std::getenv("DISPLAY");
    if (name && *name)
        _display = XOpenDisplay(name);
}

DisplayConnection::~DisplayConnection()
{
    if (_display)
        XCloseDisplay(_display);
}

std::string DisplayConnection::requestedName()
{
    const char* name = std::getenv("DISPLAY");
    return name && *name ? name : std::string("(DISPLAY not set)");
}

} // namespace Novaro
