// The application's side of the interaction: installing the mode manager, the mouse handler and
// the keyboard modes, swapping the current mode with its help panel, and the scene-wide
// operations that only the modes call.
#include "app/ARApplication.h"

#include "app/RenderTextureSize.h"
#include "effects/ARShadowsManager.h"
#include "effects/HelpPanel.h"
#include "interaction/ARAnimationsKeyboardEventsHandler.h"
#include "interaction/ARClippingKeyboardEventsHandler.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARLayersKeyboardEventsHandler.h"
#include "interaction/ARLightsKeyboardEventsHandler.h"
#include "interaction/ARMouseEventsHandler.h"
#include "interaction/ARObjectsKeyboardEventsHandler.h"
#include "interaction/ARSoundsKeyboardEventsHandler.h"
#include "interaction/ARTrackingKeyboardEventsHandler.h"
#include "interaction/ARVisualizationKeyboardEventsHandler.h"
#include "scene/ARObject.h"
#include "tracking/ARMarkerNode.h"

#include <osgViewer/ViewerEventHandlers>

namespace Novaro
{

namespace
{

const int helpKey = 'h';

osg::ref_ptr<osgViewer::HelpHandler> createHelpHandler(osg::ApplicationUsage* usage)
{
    return new HelpPanel(usage, helpKey);
}

} // namespace

void ARApplication::initEventHandlers()
{
    _eventsHandlersManager = new AREventsHandlersManager(this, this, this);
    _viewer->addEventHandler(_eventsHandlersManager.get());

    // Picking works in the render target's pixels, which on cards without non-power-of-two
    // textures are those of a larger power-of-two image.
    const int width = _viewer->getScreenWidth();
    const int height = _viewer->getScreenHeight();
    if (_hasNPOT)
        _mouseEventsHandler =
            new ARMouseEventsHandler(this, this, this, static_cast<float>(width), static_cast<float>(height));
    else
        _mouseEventsHandler =
            new ARMouseEventsHandler(this, this, this, static_cast<float>(width), static_cast<float>(height),
                                     static_cast<float>(renderTextureSize(width, false)),
                                     static_cast<float>(renderTextureSize(height, false)));
    _viewer->addEventHandler(_mouseEventsHandler.get());

    _helpHandler = createHelpHandler(_eventsHandlersManager->getApplicationUsage());
    _viewer->addEventHandler(_helpHandler.get());

    _keyboardHandlers.clear();
    _keyboardHandlers.push_back(new ARVisualizationKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARObjectsKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARAnimationsKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARSoundsKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARLayersKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARClippingKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARTrackingKeyboardEventsHandler(this, this));
    _keyboardHandlers.push_back(new ARLightsKeyboardEventsHandler(this, this, this));

    setInterface(0);
}

void ARApplication::setInterface(unsigned int index)
{
    if (_currentKeyboardHandler.valid())
        _viewer->removeEventHandler(_currentKeyboardHandler.get());
    if (_helpHandler.valid())
        _viewer->removeEventHandler(_helpHandler.get());

    if (index > 7)
        index = 0;
    if (index == 7 && (!_shadowsManager.valid() || !_shadowsManager->isEnabled()))
    {
        osg::notify(osg::FATAL)
            << "WARNING: cannot set lighting interface (no lighting information available in the scene)."
            << std::endl;
        index = 0;
    }
    ARKeyboardEventsHandler* handler = getKeyboardHandler(index);
    _currentKeyboardHandler = handler;
    if (!handler)
    {
        _helpHandler = nullptr;
        return;
    }
    _viewer->addEventHandler(handler);
    _helpHandler = createHelpHandler(handler->getApplicationUsage());
    _viewer->addEventHandler(_helpHandler.get());
}

ARKeyboardEventsHandler* ARApplication::getKeyboardHandler(unsigned int mode) const
{
    return mode < _keyboardHandlers.size() ? _keyboardHandlers[mode].get() : nullptr;
}

void ARApplication::toggleOccluders()
{
    _occludersVisible = !_occludersVisible;
    for (ARObject* object : _objects)
    {
        if (object->isOccluder())
            object->showOccluder(_occludersVisible);
    }
}

void ARApplication::scaleModels(float step)
{
    for (MarkerNodeMap::value_type& marker : _markers)
        marker.second->scaleModel(step);
}

float ARApplication::getModelScale() const
{
    return _markers.empty() ? -1.0f : _markers.begin()->second->getModelScale().x();
}

} // namespace Novaro
