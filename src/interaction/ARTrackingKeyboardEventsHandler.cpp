#include "interaction/ARTrackingKeyboardEventsHandler.h"

namespace Novaro
{

namespace
{
// Grey levels per key press on the tracker's binarisation threshold (0 to 255).
const int thresholdStep = 5;
// Change of every marker's smoothing factor per key press (factors stay within 0 and 1).
const float smoothingStep = 0.05f;

const char* onOff(bool on)
{
    return on ? "ON" : "OFF";
}
} // namespace

ARTrackingKeyboardEventsHandler::ARTrackingKeyboardEventsHandler(ARInteractionWindow* window,
                                                                 ARTrackingService* tracking)
    : ARKeyboardEventsHandler(window, "Tracking Management Mode:"), _tracking(tracking)
{
    addBinding("Keys: d/D", "Toggle lighting debug mode");
    addBinding("Keys: f/F", "Toggle freeze tracking");
    addBinding("Keys: t/T", "Toggle tracking plus");
    addBinding("Keys: -/Left Arrow", "Decrease lighting threshold (suitable for dark environments)");
    addBinding("Keys: +/Right Arrow", "Increase lighting threshold (suitable for bright environments)");
    addBinding("Keys: 0/Space", "Reset lighting threshold to default");
    addBinding("Keys: a/Down Arrow", "Increase smoothing effect (reduce objects jittering)");
    addBinding("Keys: A/Up Arrow", "Decrease smoothing effect (increase objects stickness)");
    addBinding("Keys: Return", "Reset smoothing to default");
}

void ARTrackingKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case 'd':
    case 'D':
        _tracking->toggleDebugMode();
        showStatus("Lighting debug mode [%s]", onOff(_tracking->getDebug()));
        break;
    case 'f':
    case 'F':
        _tracking->toggleFreeze();
        showStatus("Freeze mode [%s]", onOff(_tracking->getFreeze()));
        break;
    case 't':
    case 'T':
        _tracking->toggleTrackingPlus();
        showStatus("Tracking plus [%s]", onOff(_tracking->getTrackingPlus()));
        break;
    case osgGA::GUIEventAdapter::KEY_Space:
    case '0':
        _tracking->resetThreshold();
        showThreshold();
        break;
    case '+':
    case osgGA::GUIEventAdapter::KEY_Right:
        _tracking->increaseThreshold(thresholdStep);
        showThreshold();
        break;
    case '-':
    case osgGA::GUIEventAdapter::KEY_Left:
        _tracking->decreaseThreshold(thresholdStep);
        showThreshold();
        break;
    case osgGA::GUIEventAdapter::KEY_Return:
        _tracking->resetSmoothing();
        showSmoothing();
        break;
    case 'a':
    case osgGA::GUIEventAdapter::KEY_Down:
        _tracking->decreaseSmoothing(smoothingStep);
        showSmoothing();
        break;
    case 'A':
    case osgGA::GUIEventAdapter::KEY_Up:
        _tracking->increaseSmoothing(smoothingStep);
        showSmoothing();
        break;
    default:
        break;
    }
}

void ARTrackingKeyboardEventsHandler::showThreshold()
{
    // -1 when the tracker has no threshold field.
    const int threshold = _tracking->getThreshold();
    if (threshold == -1)
        showStatus("Lighting thresholding: N.A.");
    else
        showStatus("Lighting thresholding: %3d", threshold);
}

void ARTrackingKeyboardEventsHandler::showSmoothing()
{
    const float smoothing = _tracking->getSmoothingFactor();
    if (smoothing < 0.0f)
        showStatus("Smoothing value: N.A.");
    else
        showStatus("Smoothing value: %3.2f", static_cast<double>(smoothing));
}

} // namespace Novaro
