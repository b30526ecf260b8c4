#include "interaction/ARMouseEventsHandler.h"

#include "effects/HUDList.h"
#include "scene/ARPickable.h"

#include <osg/ClipNode>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

namespace Novaro
{

const double ARMouseEventsHandler::longPressSeconds = 5.0;

ARMouseEventsHandler::ARMouseEventsHandler(ARInteractionWindow* window, ARVisualizationService* visualization,
                                           ARSceneService* scene, float width, float height)
    : ARMouseEventsHandler(window, visualization, scene, width, height, width, height)
{
}

ARMouseEventsHandler::ARMouseEventsHandler(ARInteractionWindow* window, ARVisualizationService* visualization,
                                           ARSceneService* scene, float width, float height,
                                           float textureWidth, float textureHeight)
    : _window(window), _visualization(visualization), _scene(scene), _lastX(0.0f), _lastY(0.0f),
      _lastButton(0), _doubleClick(false), _windowScaleX(1.0f), _windowScaleY(1.0f), _referenceWidth(width),
      _referenceHeight(height), _textureScaleX(width > 0.0f ? textureWidth / width : 1.0f),
      _textureScaleY(height > 0.0f ? textureHeight / height : 1.0f), _pickedObject(nullptr),
      _longPressStart(0)
{
}

osg::Object* ARMouseEventsHandler::cloneType() const
{
    return new ARMouseEventsHandler(_window, _visualization, _scene, _referenceWidth, _referenceHeight,
                                    _referenceWidth * _textureScaleX, _referenceHeight * _textureScaleY);
}

bool ARMouseEventsHandler::fromWindow(const osgGA::GUIActionAdapter& adapter) const
{
    return _window && &adapter == _window->getActionAdapter();
}

bool ARMouseEventsHandler::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter)
{
    const bool fromViewer = fromWindow(adapter);
    switch (event.getEventType())
    {
    case osgGA::GUIEventAdapter::PUSH:
        if (fromViewer)
            pressed(event);
        return false;
    case osgGA::GUIEventAdapter::RELEASE:
        return fromViewer && released(event);
    case osgGA::GUIEventAdapter::DOUBLECLICK:
        // The object picked by the preceding press stays the target of the next release.
        _doubleClick = true;
        return false;
    case osgGA::GUIEventAdapter::DRAG:
        storePosition(event);
        return false;
    case osgGA::GUIEventAdapter::MOVE:
        storePosition(event);
        if (fromViewer)
            moved(event);
        return false;
    case osgGA::GUIEventAdapter::RESIZE:
        if (fromViewer)
            resized();
        return false;
    default:
        return false;
    }
}

void ARMouseEventsHandler::storePosition(const osgGA::GUIEventAdapter& event)
{
    _moved = _moved || event.getX() != _lastX || event.getY() != _lastY;
    _lastX = event.getX();
    _lastY = event.getY();
}

void ARMouseEventsHandler::pressed(const osgGA::GUIEventAdapter& event)
{
    _doubleClick = false;
    _lastX = event.getX();
    _lastY = event.getY();
    _moved = false;
    _pickedObject = pick(event);
    _lastButton = event.getButton();
    if (_lastButton == osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON)
    {
        _longPressTimer.reset(new osg::Timer);
        _longPressStart = _tickSource();
    }
}

bool ARMouseEventsHandler::released(const osgGA::GUIEventAdapter& event)
{
    const unsigned int button = event.getButton();
    if (_longPressTimer && button == osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON)
    {
        const double held = _longPressTimer->delta_s(_longPressStart, _tickSource());
        _longPressTimer.reset();
        if (held > longPressSeconds)
        {
            _window->quit();
            return true;
        }
    }
    _longPressTimer.reset();

    _window->getHUD().closeVideo();
    _lastButton = button;

    // Exact equality on purpose. The window system releases where the last drag ended, so a drag
    // is remembered apart: released there, it would otherwise count as a click.
    const bool click = event.getX() == _lastX && event.getY() == _lastY && !_moved;
    if (!click || !_pickedObject)
        return false;
    if (button == osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON)
    {
        if (_doubleClick)
            _pickedObject->onLeftMouseDoubleClick();
        else
            _pickedObject->onLeftMouseClick();
    }
    else if (button == osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON)
    {
        if (_doubleClick)
            _pickedObject->onRightMouseDoubleClick();
        else
            _pickedObject->onRightMouseClick();
    }
    return false;
}

void ARMouseEventsHandler::moved(const osgGA::GUIEventAdapter& event)
{
    // Hovering costs a pick per move: only when some object listens for it.
    if (!_scene || !_scene->getMouseOverEvents())
        return;
    ARPickable* hovered = pick(event);
    if (hovered == _pickedObject)
        return;
    if (_pickedObject)
        _pickedObject->onMouseOut();
    if (hovered)
        hovered->onMouseIn();
    _pickedObject = hovered;
}

void ARMouseEventsHandler::resized()
{
    const float width = static_cast<float>(_window->getWindowWidth());
    const float height = static_cast<float>(_window->getWindowHeight());
    if (_referenceWidth == 0.0f || _referenceHeight == 0.0f)
    {
        _referenceWidth = width;
        _referenceHeight = height;
        _windowScaleX = 1.0f;
        _windowScaleY = 1.0f;
        return;
    }
    if (width > 0.0f && height > 0.0f)
    {
        _windowScaleX = _referenceWidth / width;
        _windowScaleY = _referenceHeight / height;
    }
}

namespace
{

// A hit on a part that a clip plane above it cuts away is not drawn, so it picks nothing: the hit
// point is taken into each clip node's coordinates (through the transforms below that node) and
// tested against the node's planes, which keep the side where a x + b y + c z + d >= 0.
bool isClippedAway(const osgUtil::LineSegmentIntersector::Intersection& hit)
{
    const osg::NodePath& path = hit.nodePath;
    for (osg::NodePath::const_iterator node = path.begin(); node != path.end(); ++node)
    {
        const osg::ClipNode* clipNode = dynamic_cast<const osg::ClipNode*>(*node);
        if (!clipNode || clipNode->getClipPlaneList().empty())
            continue;
        const osg::NodePath below(node + 1, path.end());
        const osg::Vec3d point = hit.getLocalIntersectPoint() * osg::computeLocalToWorld(below);
        for (const osg::ref_ptr<osg::ClipPlane>& plane : clipNode->getClipPlaneList())
        {
            const osg::Vec4d& equation = plane->getClipPlane();
            if (equation.x() * point.x() + equation.y() * point.y() + equation.z() * point.z() +
                    equation.w() <
                0.0)
                return true;
        }
    }
    return false;
}

} // namespace

ARPickable* ARMouseEventsHandler::pick(const osgGA::GUIEventAdapter& event)
{
    osg::Camera* sceneCamera = _visualization ? _visualization->getARCamera() : nullptr;
    if (!sceneCamera)
        return nullptr;
    // Window pixels to screen pixels, the flips undone, then render-target pixels.
    float x = event.getX() * _windowScaleX;
    float y = event.getY() * _windowScaleY;
    if (_visualization->getFlipHorizontal())
        x = _referenceWidth - x;
    if (_visualization->getFlipVertical())
        y = _referenceHeight - y;
    x *= _textureScaleX;
    y *= _textureScaleY;

    osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector =
        new osgUtil::LineSegmentIntersector(osgUtil::Intersector::WINDOW, x, y);
    osgUtil::IntersectionVisitor visitor(intersector.get());
    sceneCamera->accept(visitor);

    // Intersections come sorted nearest first; the pickable is the deepest one on the path.
    for (const osgUtil::LineSegmentIntersector::Intersection& hit : intersector->getIntersections())
    {
        if (isClippedAway(hit))
            continue;
        for (osg::NodePath::const_reverse_iterator node = hit.nodePath.rbegin(); node != hit.nodePath.rend();
             ++node)
        {
            if (ARPickable* pickable = dynamic_cast<ARPickable*>(*node))
                return pickable;
        }
    }
    return nullptr;
}

} // namespace Novaro
