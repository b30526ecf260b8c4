#pragma once

#include "interaction/AREffectsService.h"
#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARSceneService.h"

#include <osg/Quat>
#include <osg/Vec3>

namespace Novaro
{

class ARShadowsManager;

// Keys of the scene light that casts the shadows: its marker shown or hidden, moving and turning
// the light, and its brightness, all through the shadows manager. Only reachable when the shadows
// manager found a light (the mode manager refuses the switch otherwise). CTRL and ALT with 1 and 2
// choose the shadow mode and the visual accuracy, with 0 the textures under the deferred shadows;
// scenes from Maya cannot combine soft shadows with the fastest drawing.
class ARLightsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARLightsKeyboardEventsHandler(ARInteractionWindow* window, AREffectsService* effects,
                                  ARSceneService* scene);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARLightsKeyboardEventsHandler, _window, _effects, _scene)

    // One rotation step about a unit axis, and the step back (the conjugate over the squared
    // length, which for a unit quaternion is the conjugate).
    static osg::Quat rotationStep(float degrees, const osg::Vec3& axis);
    static osg::Quat inverseOf(const osg::Quat& rotation);

protected:
    ~ARLightsKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    bool sceneFromMaya() const;
    void showTextures(bool shown);
    void shadowKey(int key);
    void accuracyKey(int key);

    // Degrees per key press.
    const float _rotationStep = 1.0f;
    const osg::Vec3 _axisX = osg::Vec3(1.0f, 0.0f, 0.0f);
    const osg::Vec3 _axisY = osg::Vec3(0.0f, 1.0f, 0.0f);
    const osg::Vec3 _axisZ = osg::Vec3(0.0f, 0.0f, 1.0f);
    AREffectsService* _effects;
    ARSceneService* _scene;
    // Taken from the application once; none when the scene set-up made none.
    osg::ref_ptr<ARShadowsManager> _shadowsManager;
};

} // namespace Novaro
