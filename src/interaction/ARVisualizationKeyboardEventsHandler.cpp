#include "interaction/ARVisualizationKeyboardEventsHandler.h"

namespace Novaro
{

namespace
{
// Pixels added to or taken from the size limit per key press.
const float cullingStep = 1.0f;
} // namespace

ARVisualizationKeyboardEventsHandler::ARVisualizationKeyboardEventsHandler(
    ARInteractionWindow* window, ARVisualizationService* visualization)
    : ARKeyboardEventsHandler(window, "Visualization Management Mode:"), _visualization(visualization)
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
        _visualization->increaseSmallFeatureCulling(cullingStep);
        showValue();
        break;
    case '-':
        _visualization->decreaseSmallFeatureCulling(cullingStep);
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
        _window->toggleFullscreen();
        break;
    case 'w':
    case 'W':
        _visualization->toggleWireframe();
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
    case osgGA::GUIEventAdapter::KEY_Right:
        _visualization->toggleMirror();
        break;
    case osgGA::GUIEventAdapter::KEY_Up:
    case osgGA::GUIEventAdapter::KEY_Down:
        _visualization->toggleVerticalFlip();
        break;
    case '0':
        _visualization->resetSmallFeatureCulling();
        showValue();
        break;
    default:
        break;
    }
}

void ARVisualizationKeyboardEventsHandler::showValue()
{
    const float limit = _visualization->getSmallFeatureCullingPixelSize();
    if (limit < 0.0f)
        showStatus("Hide objects smaller than: N.A.");
    else
        showStatus("Hide objects smaller than: %3.0f", static_cast<double>(limit));
}

} // namespace Novaro
