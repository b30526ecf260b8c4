#include "interaction/ARLayersKeyboardEventsHandler.h"

#include "tracking/ARMarkerNode.h"

namespace Novaro
{

ARLayersKeyboardEventsHandler::ARLayersKeyboardEventsHandler(ARInteractionWindow* window,
                                                             ARSceneService* scene)
    : ARKeyboardEventsHandler(window, "Layers/Sequences Management Mode:"), _scene(scene)
{
    addBinding("Key: Return", "Toggle layers/sequence modes");
    addBinding("Key: Space", "Toggle pause sequence's playback");
    addBinding("Arrows: Left/Down", "Show previous layer");
    addBinding("Arrows: Right/Up", "Show next layer");
    addBinding("Key: u", "Hide all layers");
    addBinding("Key: U", "Show all layers");
    addBinding("Keys: 0..9", "Toggle layer 0..9 visibility");
}

void ARLayersKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    const int key = event.getKey();
    for (ARSceneService::MarkerNodeMap::value_type& entry : _scene->getMarkers())
    {
        ARMarkerNode& marker = *entry.second;
        if (key >= '0' && key <= '9')
            marker.toggleLayer(key - '0');
        else if (key == osgGA::GUIEventAdapter::KEY_Space)
            marker.toggleSequencePause();
        else if (key == 'u')
            marker.setAllLayersVisible(false);
        else if (key == 'U')
            marker.setAllLayersVisible(true);
        else if (key == osgGA::GUIEventAdapter::KEY_Return)
            marker.toggleSequenceMode();
        else if (key == osgGA::GUIEventAdapter::KEY_Left || key == osgGA::GUIEventAdapter::KEY_Down)
            marker.previousLayer();
        else if (key == osgGA::GUIEventAdapter::KEY_Right || key == osgGA::GUIEventAdapter::KEY_Up)
            marker.nextLayer();
    }
}

} // namespace Novaro
