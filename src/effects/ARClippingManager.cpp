#include "effects/ARClippingManager.h"

#include "effects/ARCappingEffect.h"

#include <osg/BlendFunc>
#include <osg/StateSet>

namespace Novaro
{

namespace
{

// The handles are drawn half transparent so that the cut content stays visible through them.
const osg::Vec4 PLANE_COLOUR(0.0f, 1.0f, 0.0f, 0.5f);

// The planes' angles are single-precision degrees; pi is taken at that precision too.
const float DEGREES_TO_RADIANS = 3.1415927f / 180.0f;

} // namespace

void ARPickableClippingPlane::onLeftMouseClick()
{
    if (_manager)
        _manager->selectPlane(_index);
}

ARClippingManager::ARClippingManager(float size)
    : _box(-size / 2.0f, -size / 2.0f, 0.0f, size / 2.0f, size / 2.0f, size)
{
    // Inward normals: the kept side of each plane is the inside of the box. The side planes turn
    // about the vertical axis, the top and the floor about the y axis.
    const osg::Vec3 vertical(0.0f, 0.0f, 1.0f), across(0.0f, 1.0f, 0.0f);
    _planes[0] = {0.0f, vertical, _box.xMax(), osg::Vec3(-1.0f, 0.0f, 0.0f)};
    _planes[1] = {0.0f, vertical, -_box.xMin(), osg::Vec3(1.0f, 0.0f, 0.0f)};
    _planes[2] = {0.0f, vertical, _box.yMax(), osg::Vec3(0.0f, -1.0f, 0.0f)};
    _planes[3] = {0.0f, vertical, -_box.yMin(), osg::Vec3(0.0f, 1.0f, 0.0f)};
    _planes[4] = {0.0f, across, _box.zMax(), osg::Vec3(0.0f, 0.0f, -1.0f)};
    _planes[5] = {0.0f, across, -_box.zMin(), osg::Vec3(0.0f, 0.0f, 1.0f)};

    _clipNode = new osg::ClipNode;
    // The clip planes must reach the content wherever the node's own bound happens to be.
    _clipNode->setCullingActive(false);
    _cappingEffect = new ARCappingEffect;
    _cappingEffect->addChild(_clipNode.get());
    _cappingSwitch = new osg::Switch;
    _cappingSwitch->addChild(_clipNode.get(), !_capping);
    _cappingSwitch->addChild(_cappingEffect.get(), _capping);
    addChild(_cappingSwitch.get());

    createPlanes();
    setAllPlanesActive(false);
}

ARClippingManager::~ARClippingManager() = default;

void ARClippingManager::createPlanes()
{
    _planesContainer = new osg::MatrixTransform;
    _planesContainer->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    _planesSwitch = new osg::Switch;
    _planesContainer->addChild(_planesSwitch.get());
    addChild(_planesContainer.get());
    for (int index = 0; index < PLANE_COUNT; ++index)
    {
        const Plane& plane = _planes[static_cast<size_t>(index)];
        _clipPlanes[static_cast<size_t>(index)] =
            new osg::ClipPlane(static_cast<unsigned int>(index), plane.normal.x(), plane.normal.y(),
                               plane.normal.z(), plane.distance);
        osg::ref_ptr<ARPickableClippingPlane> visual = new ARPickableClippingPlane(this, index);
        visual->addChild(createPlaneSquare(index).get());
        _visuals[static_cast<size_t>(index)] = visual;
        _planesSwitch->addChild(visual.get(), false);
        updatePlane(index);
    }
}

// The square of the box face that the plane bounds, laid in the plane through the origin (the
// coordinate along the normal is 0); the handle's matrix carries it onto the face.
osg::ref_ptr<osg::Geode> ARClippingManager::createPlaneSquare(int index) const
{
    const osg::Vec3 low = _box._min, high = _box._max;
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array;
    if (index < 2)
    {
        corners->push_back(osg::Vec3(0.0f, low.y(), low.z()));
        corners->push_back(osg::Vec3(0.0f, high.y(), low.z()));
        corners->push_back(osg::Vec3(0.0f, high.y(), high.z()));
        corners->push_back(osg::Vec3(0.0f, low.y(), high.z()));
    }
    else if (index < 4)
    {
        corners->push_back(osg::Vec3(low.x(), 0.0f, low.z()));
        corners->push_back(osg::Vec3(high.x(), 0.0f, low.z()));
        corners->push_back(osg::Vec3(high.x(), 0.0f, high.z()));
        corners->push_back(osg::Vec3(low.x(), 0.0f, high.z()));
    }
    else
    {
        corners->push_back(osg::Vec3(low.x(), low.y(), 0.0f));
        corners->push_back(osg::Vec3(high.x(), low.y(), 0.0f));
        corners->push_back(osg::Vec3(high.x(), high.y(), 0.0f));
        corners->push_back(osg::Vec3(low.x(), high.y(), 0.0f));
    }
    osg::ref_ptr<osg::Geometry> square = new osg::Geometry;
    square->setVertexArray(corners.get());
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    normals->push_back(_planes[static_cast<size_t>(index)].normal);
    square->setNormalArray(normals.get(), osg::Array::BIND_OVERALL);
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(PLANE_COLOUR);
    square->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    square->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(square.get());
    osg::StateSet* state = geode->getOrCreateStateSet();
    state->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA),
                                osg::StateAttribute::ON);
    return geode;
}

bool ARClippingManager::isPlaneActive(int index) const
{
    return isIndex(index) && _active[static_cast<size_t>(index)];
}

bool ARClippingManager::isPlaneVisible(int index) const
{
    return isIndex(index) && _planesSwitch->getValue(static_cast<unsigned int>(index));
}

void ARClippingManager::setClippedNode(osg::Node* node)
{
    if (_clippedNode.valid())
        _clipNode->removeChild(_clippedNode.get());
    _clippedNode = node;
    if (_clippedNode.valid())
        _clipNode->addChild(_clippedNode.get());
}

void ARClippingManager::setPlaneActive(bool active, int index)
{
    if (!isIndex(index))
        return;
    const size_t slot = static_cast<size_t>(index);
    // The clip node keeps one of each plane, whatever the order of the calls.
    _clipNode->removeClipPlane(_clipPlanes[slot].get());
    if (active)
        _clipNode->addClipPlane(_clipPlanes[slot].get());
    _active[slot] = active;
    if (active)
        return;
    _planesSwitch->setValue(static_cast<unsigned int>(index), false);
    if (_selected == index)
        _selected = -1;
}

void ARClippingManager::togglePlaneActive(int index)
{
    if (isIndex(index))
        setPlaneActive(!_active[static_cast<size_t>(index)], index);
}

void ARClippingManager::setAllPlanesActive(bool active)
{
    for (int index = 0; index < PLANE_COUNT; ++index)
        setPlaneActive(active, index);
}

void ARClippingManager::selectPlane(int index)
{
    if (index == _selected)
        return;
    _selected = isPlaneActive(index) ? index : -1;
}

void ARClippingManager::togglePlaneVisible(int index)
{
    if (!isPlaneActive(index))
        return;
    const unsigned int child = static_cast<unsigned int>(index);
    _planesSwitch->setValue(child, !_planesSwitch->getValue(child));
}

void ARClippingManager::showPlanes(bool show)
{
    for (int index = 0; index < PLANE_COUNT; ++index)
    {
        if (_active[static_cast<size_t>(index)] || !show)
            _planesSwitch->setValue(static_cast<unsigned int>(index), show);
    }
}

void ARClippingManager::movePlane(float delta)
{
    if (!isIndex(_selected))
        return;
    _planes[static_cast<size_t>(_selected)].distance += delta;
    updatePlane(_selected);
}

void ARClippingManager::rotatePlane(float delta)
{
    if (!isIndex(_selected))
        return;
    _planes[static_cast<size_t>(_selected)].angle += delta;
    updatePlane(_selected);
}

void ARClippingManager::updatePlane(int index)
{
    const Plane& plane = _planes[static_cast<size_t>(index)];
    // The square lies in the plane through the origin: first onto the moved face, then turned
    // about the axis through the marker's origin (row vectors: translation first).
    const osg::Matrixd translation = osg::Matrixd::translate(-plane.normal * plane.distance);
    const osg::Matrixd rotation = osg::Matrixd::rotate(plane.angle * DEGREES_TO_RADIANS, plane.axis);
    _visuals[static_cast<size_t>(index)]->setMatrix(translation * rotation);
    // A rotation keeps the distance to the origin; the normal turns with the square.
    const osg::Vec4d equation(plane.normal.x(), plane.normal.y(), plane.normal.z(), plane.distance);
    _clipPlanes[static_cast<size_t>(index)]->setClipPlane(rotation.preMult(equation));
}

void ARClippingManager::traverse(osg::NodeVisitor& visitor)
{
    if (visitor.getVisitorType() != osg::NodeVisitor::UPDATE_VISITOR)
    {
        osg::Group::traverse(visitor);
        return;
    }
    // The clip node hangs under both the capping switch and the effect: once is enough.
    if (!_clippedNode.valid() || _clippedNode->getNumParents() == 1)
        _clipNode->accept(visitor);
    _planesContainer->accept(visitor);
}

void ARClippingManager::toggleCapping()
{
    _capping = !_capping;
    _cappingSwitch->setValue(0, !_capping);
    _cappingSwitch->setValue(1, _capping);
}

} // namespace Novaro
