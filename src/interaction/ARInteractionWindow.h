#pragma once

#include <string>

namespace osgGA
{
class GUIActionAdapter;
}

namespace Novaro
{

class HUDList;

// The window the keyboard modes and the mouse act in: events count only when they come from its
// viewer; the modes' feedback goes to its status line and head-up display. The application
// implements it.
class ARInteractionWindow
{
public:
    virtual ~ARInteractionWindow() = default;

    // The viewer whose events the handlers act on; none before the viewer is set up.
    virtual osgGA::GUIActionAdapter* getActionAdapter() const = 0;
    // Replaces the status line's text and shows it for its display time again.
    virtual void updateStatusMessage(const std::string& text) = 0;
    virtual HUDList& getHUD() = 0;
    virtual void toggleFullscreen() = 0;
    virtual int getWindowWidth() const = 0;
    virtual int getWindowHeight() const = 0;
    // Ends the frame loop.
    virtual void quit() = 0;

protected:
    ARInteractionWindow() = default;
    ARInteractionWindow(const ARInteractionWindow&) = default;
    ARInteractionWindow& operator=(const ARInteractionWindow&) = default;
};

} // namespace Novaro
