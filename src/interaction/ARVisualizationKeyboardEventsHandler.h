#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys that change how the scene is drawn: full screen, wire frame, the video's flips and the
// size under which objects are not drawn (small-feature culling, in pixels).
class ARVisualizationKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARVisualizationKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARVisualizationKeyboardEventsHandler)

protected:
    ~ARVisualizationKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
};

} // namespace Novaro
