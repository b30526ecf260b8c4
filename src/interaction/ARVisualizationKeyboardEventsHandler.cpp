#include "interaction/ARVisualizationKeyboardEventsHandler.h"

#include "app/ARApplication.h"

namespace Novaro
{

namespace
{
// Pixels added to or taken from the size limit per key press.
const float cullingStep = 1.0f;
} // namespace

ARVisualizationKeyboardEventsHandler::ARVisualizationKeyboardEventsHandler(ARApplication* application)
    : ARKeyboardEventsHandler(application, "Visualization Management Mode:")
{
    addBinding("Keys: f/F", "Toggle fullscreen/windowed mode");
    addBinding("Keys: w/W", "Toggle wireframe mode ON/OFF");
    addBinding("Arrows: Left/Right", "Flip video horizontally");
    addBinding("Arrows: Up/Down", "Flip video vertically");
    addBinding("Keys: -", "Decrease visible objects size limit (will improve performances)");
    addBinding("Keys: +", "Increase visible objects size limit (will show more details)");
    addBinding("Keys: 0", "Reset visible objects size limit to default (will show full details)");
}

void ARVisualizationKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case '+':
        _application->increaseSmallFeatureCulling(cullingStep);
        showValue();
        break;
    case '-':
        _application->decreaseSmallFeatureCulling(cullingStep);
        showValue();
        break;
    default:
        break;
    }
}

void ARVisualizationKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case 'f':
    case 'F':
        _application->getViewer()->toggleFullscreen();
        break;
    case 'w':
    case 'W':
        _application->toggleWireframe();
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
    case osgGA::GUIEventAdapter::KEY_Right:
        _application->toggleMirror();
        break;
    case osgGA::GUIEventAdapter::KEY_Up:
    case osgGA::GUIEventAdapter::KEY_Down:
        _application->toggleVerticalFlip();
        break;
    case '0':
        _application->resetSmallFeatureCulling();
        showValue();
        break;
    default:
        break;
    }
}

void ARVisualizationKeyboardEventsHandler::showValue()
{
    const float limit = _application->getSmallFeatureCullingPixelSize();
    if (limit < 0.0f)
        showStatus("Hide objects smaller than: N.A.");
    else
        showStatus("Hide objects smaller than: %3.0f", static_cast<double>(limit));
}

} // namespace Novaro
