#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARTrackingService.h"

namespace Novaro
{

// Keys of the tracker and the tracked transforms: debug image, freeze, tracking plus, the
// thresholding of the camera image and the smoothing of every marker.
class ARTrackingKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARTrackingKeyboardEventsHandler(ARInteractionWindow* window, ARTrackingService* tracking);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARTrackingKeyboardEventsHandler, _window, _tracking)

protected:
    ~ARTrackingKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    void showThreshold();
    void showSmoothing();
    ARTrackingService* _tracking;
};

} // namespace Novaro
