#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARSceneService.h"

namespace Novaro
{

// Keys that act on the scene's objects: occluders shown or hidden, the full-screen video panel
// and the scale of every marker's models.
class ARObjectsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARObjectsKeyboardEventsHandler(ARInteractionWindow* window, ARSceneService* scene);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARObjectsKeyboardEventsHandler, _window, _scene)

protected:
    ~ARObjectsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
    // Change of every marker's model scale per key press (per auto-repeat while held).
    const float _scaleStep = 0.01f;
    ARSceneService* _scene;
};

} // namespace Novaro
