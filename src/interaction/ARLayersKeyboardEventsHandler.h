#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARSceneService.h"

namespace Novaro
{

// Keys that change the layers and sequences of every marker node at once, in marker order.
class ARLayersKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARLayersKeyboardEventsHandler(ARInteractionWindow* window, ARSceneService* scene);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARLayersKeyboardEventsHandler, _window, _scene)

protected:
    ~ARLayersKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    ARSceneService* _scene;
};

} // namespace Novaro
