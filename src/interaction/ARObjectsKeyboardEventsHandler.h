#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys that act on the scene's objects: occluders shown or hidden, the full-screen video panel
// and the scale of every marker's models.
class ARObjectsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARObjectsKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARObjectsKeyboardEventsHandler)

protected:
    ~ARObjectsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
    // Change of every marker's model scale per key press (per auto-repeat while held).
    const float _scaleStep = 0.01f;
};

} // namespace Novaro
