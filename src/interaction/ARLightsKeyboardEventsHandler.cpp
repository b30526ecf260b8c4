#include "ARLightsKeyboardEventsHandler.h"

#include "ARApplication.h"
#include "ARShadowsManager.h"

namespace Novaro
{

namespace
{
// Single precision on purpose: the light's rotation steps are built from this value.
const float pi = 3.1415927f;
} // namespace

ARLightsKeyboardEventsHandler::ARLightsKeyboardEventsHandler(ARApplication* application)
    : ARKeyboardEventsHandler(application, "Lighting Management Mode:"),
      _shadowsManager(application ? application->getShadowsManager() : nullptr)
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

float ARLightsKeyboardEventsHandler::changedAttenuation(float attenuation, float delta)
{
    const float changed = attenuation - delta;
    if (changed <= 0.0f)
        return delta;
    return changed > 1.0f ? 1.0f : changed;
}

void ARLightsKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    if (!_shadowsManager.valid())
        return;
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Space:
        // Joins with scene lights: "Light [toggling source visibility]", then toggle the light
        // source's marker.
        break;
    case '0':
        // Joins with scene lights: with the visual accuracy Highest, CTRL shows shadows only and
        // ALT shadows and textures; otherwise "Switch to 'Highest' accuracy mode to use this
        // command.".
        break;
    case '1':
    case '2':
        // Joins with scene lights: CTRL sets the shadow mode (Simple, Soft), ALT the visual
        // accuracy (Fastest, Highest), each then re-applied; maya scenes refuse Soft with Fastest.
        break;
    default:
        break;
    }
}

void ARLightsKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    if (!_shadowsManager.valid())
        return;
    // Joins with scene lights: the arrows move the light by one unit along -X/+X and +Y/-Y (+Z/-Z
    // with CTRL); q/a, w/s and e/d turn it by rotationStep(_rotationStep, axis) about its local
    // X, Y and Z axes and back by the inverse; + and - change its constant attenuation by
    // changedAttenuation(old, +0.025 or -0.025).
    (void)event;
}

} // namespace Novaro
