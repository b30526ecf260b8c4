#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARVisualizationService.h"

namespace Novaro
{

// Keys that change how the scene is drawn: full screen, wire frame, the video's flips and the
// size under which objects are not drawn (small-feature culling, in pixels).
class ARVisualizationKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARVisualizationKeyboardEventsHandler(ARInteractionWindow* window, ARVisualizationService* visualization);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARVisualizationKeyboardEventsHandler, _window, _visualization)

protected:
    ~ARVisualizationKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
    ARVisualizationService* _visualization;
};

} // namespace Novaro
