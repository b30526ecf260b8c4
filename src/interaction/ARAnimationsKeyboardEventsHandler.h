#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARSceneService.h"

namespace Novaro
{

// Keys that run every object's animations together: toggle, rewind and the simulation speed,
// which has no bounds (holding a key drives it below zero).
class ARAnimationsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARAnimationsKeyboardEventsHandler(ARInteractionWindow* window, ARSceneService* scene);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARAnimationsKeyboardEventsHandler, _window, _scene)

protected:
    ~ARAnimationsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
    ARSceneService* _scene;
};

} // namespace Novaro
