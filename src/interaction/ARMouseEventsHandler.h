#pragma once

#include "interaction/ARInteractionWindow.h"
#include "interaction/ARSceneService.h"
#include "interaction/ARVisualizationService.h"

#include <osg/Timer>

#include <functional>
#include <osgGA/GUIEventHandler>

#include <memory>

namespace Novaro
{

class ARPickable;

// Turns mouse presses, releases, double clicks and moves into the event hooks of the scene object
// under the pointer. A click is a release where the press was (any move in between cancels it);
// the window system's double click (press, release, double click, release) fires the single-click
// hook on the first release and the double-click hook on the second, both on the object picked at
// the first press. Any release closes the full-screen video panel, and a left button held longer
// than a few seconds ends the program (a touch screen has no Escape key).
//
// Picking undoes what lies between the window and the scene's render target: the window's size
// against the screen's (the target has the screen's size), the video's flips, and the power-of-two
// enlargement of the target on cards without non-power-of-two textures.
class ARMouseEventsHandler : public osgGA::GUIEventHandler
{
public:
    // The window it acts in, the drawing it picks through (camera, flips) and the scene (whether
    // anything listens to hovering).
    ARMouseEventsHandler(ARInteractionWindow* window, ARVisualizationService* visualization,
                         ARSceneService* scene, float width, float height);
    ARMouseEventsHandler(ARInteractionWindow* window, ARVisualizationService* visualization,
                         ARSceneService* scene, float width, float height, float textureWidth,
                         float textureHeight);

    const char* libraryName() const override { return "Novaro"; }
    const char* className() const override { return "ARMouseEventsHandler"; }
    bool isSameKindAs(const osg::Object* object) const override
    {
        return dynamic_cast<const ARMouseEventsHandler*>(object) != nullptr;
    }
    osg::Object* cloneType() const override;
    osg::Object* clone(const osg::CopyOp&) const override { return cloneType(); }

    // True only for the long press that ends the program.
    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter) override;

    // The pickable nearest to the viewer under the event's pointer position, or none.
    ARPickable* pick(const osgGA::GUIEventAdapter& event);

    ARPickable* getPickedObject() const { return _pickedObject; }
    float getWindowScaleX() const { return _windowScaleX; }
    float getWindowScaleY() const { return _windowScaleY; }
    float getTextureScaleX() const { return _textureScaleX; }
    float getTextureScaleY() const { return _textureScaleY; }

    // Seconds the left button must be held for its release to end the program.
    static const double longPressSeconds;

    // Where the long-press timer reads its ticks: the system clock (osg::Timer::tick) unless a
    // test drives the clock itself.
    using TickSource = std::function<osg::Timer_t()>;
    void setTickSource(TickSource source) { _tickSource = std::move(source); }

protected:
    ~ARMouseEventsHandler() override = default;

private:
    // True when the adapter is the window's viewer.
    bool fromWindow(const osgGA::GUIActionAdapter& adapter) const;
    void storePosition(const osgGA::GUIEventAdapter& event);
    void pressed(const osgGA::GUIEventAdapter& event);
    bool released(const osgGA::GUIEventAdapter& event);
    void moved(const osgGA::GUIEventAdapter& event);
    void resized();

    ARInteractionWindow* _window;
    ARVisualizationService* _visualization;
    ARSceneService* _scene;
    float _lastX;
    float _lastY;
    unsigned int _lastButton;
    bool _doubleClick;
    // The pointer moved since the last press (a drag, not a click).
    bool _moved = false;
    float _windowScaleX;
    float _windowScaleY;
    float _referenceWidth;
    float _referenceHeight;
    float _textureScaleX;
    float _textureScaleY;
    // Scene objects live until shutdown, so this never dangles while the handler runs.
    ARPickable* _pickedObject;
    // Exists only between a left press and the next release.
    std::unique_ptr<osg::Timer> _longPressTimer;
    osg::Timer_t _longPressStart;
    TickSource _tickSource = [] { return osg::Timer::instance()->tick(); };
};

} // namespace Novaro
