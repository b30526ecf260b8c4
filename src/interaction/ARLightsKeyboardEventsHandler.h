#pragma once

#include "ARKeyboardEventsHandler.h"

#include <osg/Quat>
#include <osg/Vec3>

namespace Novaro
{

class ARShadowsManager;

// Keys of the scene light that casts the shadows: its marker shown or hidden, shadow mode and
// visual accuracy, moving and turning the light, and its brightness. Only reachable when the
// shadows manager found a light (the mode manager refuses the switch otherwise).
//
// The keys and the arithmetic of the steps are here; the light and shadow operations they call
// join when scene lights land, so for now the keys of this mode change nothing.
class ARLightsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARLightsKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARLightsKeyboardEventsHandler)

    // One rotation step about a unit axis, and the step back (the conjugate over the squared
    // length, which for a unit quaternion is the conjugate).
    static osg::Quat rotationStep(float degrees, const osg::Vec3& axis);
    static osg::Quat inverseOf(const osg::Quat& rotation);
    // The constant attenuation after one brightness step: old - delta, where a result of 0 or less
    // becomes delta (a light never gets infinitely bright) and one above 1 becomes 1.
    static float changedAttenuation(float attenuation, float delta);

protected:
    ~ARLightsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    // Degrees per key press.
    const float _rotationStep = 1.0f;
    const osg::Vec3 _axisX = osg::Vec3(1.0f, 0.0f, 0.0f);
    const osg::Vec3 _axisY = osg::Vec3(0.0f, 1.0f, 0.0f);
    const osg::Vec3 _axisZ = osg::Vec3(0.0f, 0.0f, 1.0f);
    // Taken from the application once; none when the scene set-up made none.
    osg::ref_ptr<ARShadowsManager> _shadowsManager;
};

} // namespace Novaro
