#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys of the tracker and the tracked transforms: debug image, freeze, tracking plus, the
// thresholding of the camera image and the smoothing of every marker.
class ARTrackingKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARTrackingKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARTrackingKeyboardEventsHandler)

protected:
    ~ARTrackingKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showThreshold();
    void showSmoothing();
};

} // namespace Novaro
