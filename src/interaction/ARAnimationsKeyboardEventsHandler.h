#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys that run every object's animations together: toggle, rewind and the simulation speed,
// which has no bounds (holding a key drives it below zero).
class ARAnimationsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARAnimationsKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARAnimationsKeyboardEventsHandler)

protected:
    ~ARAnimationsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showValue();
};

} // namespace Novaro
