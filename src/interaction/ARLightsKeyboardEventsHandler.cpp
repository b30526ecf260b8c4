#include "interaction/ARLightsKeyboardEventsHandler.h"

#include "effects/ARShadowsManager.h"

namespace Novaro
{

namespace
{
// Single precision on purpose: the light's rotation steps are built from this value.
const float pi = 3.1415927f;
// Constant attenuation taken off (brighter) or added (dimmer) per key press.
const float attenuationStep = 0.025f;
} // namespace

ARLightsKeyboardEventsHandler::ARLightsKeyboardEventsHandler(ARInteractionWindow* window,
                                                             AREffectsService* effects, ARSceneService* scene)
    : ARKeyboardEventsHandler(window, "Lighting Management Mode:"), _effects(effects), _scene(scene),
      _shadowsManager(effects ? effects->getShadowsManager() : nullptr)
{
    addBinding("Key: Space", "Toggle show light source");
    addBinding("Arrow: Up/Down", "      Move light source forward/backward");
    addBinding("Arrow: Left/Right", "      Move light source left/right");
    addBinding("Arrow: Up/Down+CTRL", "      Move light source up/down");
    addBinding("Key: q/a", "Rotate light source around its local X axis");
    addBinding("Key: w/s", "Rotate light source around its local Y axis");
    addBinding("Key: e/d", "Rotate light source around its local Z axis");
    addBinding("Keys: CTRL+0", "Show shadows only (for 'Highest' accuracy mode)");
    addBinding("Keys: ALT+0", "Show shadows+textures (for 'Highest' accuracy mode)");
    addBinding("Keys: CTRL+1/2", "Set shadow mode");
    addBinding("Keys: ALT+1/2", "Set visual accuracy");
}

osg::Quat ARLightsKeyboardEventsHandler::rotationStep(float degrees, const osg::Vec3& axis)
{
    return osg::Quat(degrees * pi / 180.0f, axis);
}

osg::Quat ARLightsKeyboardEventsHandler::inverseOf(const osg::Quat& rotation)
{
    return rotation.conj() / rotation.length2();
}

void ARLightsKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    if (!_shadowsManager.valid())
        return;
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Space:
        showStatus("Light [toggling source visibility]");
        _shadowsManager->toggleLightSource();
        break;
    case '0':
    case '1':
    case '2':
        if (modifierOf(event.getModKeyMask()) == MODIFIER_CTRL)
            shadowKey(event.getKey());
        else if (modifierOf(event.getModKeyMask()) == MODIFIER_ALT)
            accuracyKey(event.getKey());
        break;
    default:
        break;
    }
}

bool ARLightsKeyboardEventsHandler::sceneFromMaya() const
{
    return _scene && _scene->getApplicationHint() == HINT_MAYA;
}

// 0 with CTRL or ALT: the textures under the deferred shadows, which only Highest accuracy draws.
void ARLightsKeyboardEventsHandler::showTextures(bool shown)
{
    if (_shadowsManager->getVisualAccuracy() != ARShadowsManager::ACCURACY_HIGHEST)
    {
        showStatus("Switch to 'Highest' accuracy mode to use this command.");
        return;
    }
    showStatus(shown ? "Shadows [shadows+textures mode]" : "Shadows [shadows only mode]");
    _shadowsManager->setTexturesShown(shown);
}

// CTRL: 0 shadows alone, 1 and 2 the shadow mode.
void ARLightsKeyboardEventsHandler::shadowKey(int key)
{
    ARShadowsManager& shadows = *_shadowsManager;
    const bool highest = shadows.getVisualAccuracy() == ARShadowsManager::ACCURACY_HIGHEST;
    if (key == '0')
        showTextures(false);
    else if (key == '1')
    {
        showStatus("Shadow mode [Simple]");
        shadows.setShadowMode(ARShadowsManager::SHADOW_MODE_SIMPLE);
    }
    else if (sceneFromMaya() && !highest)
        showStatus("Shadow mode [Soft] not available for current visual accuracy [Fastest]");
    else
    {
        showStatus("Shadow mode [Soft]");
        shadows.setShadowMode(ARShadowsManager::SHADOW_MODE_SOFT);
    }
}

// ALT: 0 shadows with textures, 1 and 2 the visual accuracy.
void ARLightsKeyboardEventsHandler::accuracyKey(int key)
{
    ARShadowsManager& shadows = *_shadowsManager;
    if (key == '0')
        showTextures(true);
    else if (key == '2')
    {
        showStatus("Visual accuracy [Highest]");
        shadows.setVisualAccuracy(ARShadowsManager::ACCURACY_HIGHEST);
    }
    else if (sceneFromMaya() && shadows.getShadowMode() == ARShadowsManager::SHADOW_MODE_SOFT)
        showStatus("Visual accuracy [Fastest] not available for current shadow mode [Soft]");
    else
    {
        showStatus("Visual accuracy [Fastest]");
        shadows.setVisualAccuracy(ARShadowsManager::ACCURACY_FASTEST);
    }
}

void ARLightsKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    if (!_shadowsManager.valid())
        return;
    const bool control = modifierOf(event.getModKeyMask()) == MODIFIER_CTRL;
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Left:
        _shadowsManager->moveLight(-1.0, 0.0, 0.0);
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
        _shadowsManager->moveLight(1.0, 0.0, 0.0);
        break;
    case osgGA::GUIEventAdapter::KEY_Up:
        _shadowsManager->moveLight(0.0, control ? 0.0 : 1.0, control ? 1.0 : 0.0);
        break;
    case osgGA::GUIEventAdapter::KEY_Down:
        _shadowsManager->moveLight(0.0, control ? 0.0 : -1.0, control ? -1.0 : 0.0);
        break;
    case 'q':
    case 'Q':
        _shadowsManager->rotateLight(rotationStep(_rotationStep, _axisX));
        break;
    case 'a':
    case 'A':
        _shadowsManager->rotateLight(inverseOf(rotationStep(_rotationStep, _axisX)));
        break;
    case 'w':
    case 'W':
        _shadowsManager->rotateLight(rotationStep(_rotationStep, _axisY));
        break;
    case 's':
    case 'S':
        _shadowsManager->rotateLight(inverseOf(rotationStep(_rotationStep, _axisY)));
        break;
    case 'e':
    case 'E':
        _shadowsManager->rotateLight(rotationStep(_rotationStep, _axisZ));
        break;
    case 'd':
    case 'D':
        _shadowsManager->rotateLight(inverseOf(rotationStep(_rotationStep, _axisZ)));
        break;
    case '+':
        _shadowsManager->changeLightAttenuation(attenuationStep); // brighter
        break;
    case '-':
        _shadowsManager->changeLightAttenuation(-attenuationStep);
        break;
    default:
        break;
    }
}

} // namespace Novaro
