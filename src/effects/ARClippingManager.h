#pragma once

#include <array>

#include <osg/BoundingBox>
#include <osg/ClipNode>
#include <osg/ClipPlane>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/Switch>

#include "scene/ARPickable.h"
#include "tracking/ARContentClipper.h"

namespace Novaro
{

class ARCappingEffect;
class ARClippingManager;

// The handle of one clipping plane: the green square the user sees and clicks. A left click
// selects its plane (only an active plane can be selected).
class ARPickableClippingPlane : public ARPickable
{
public:
    ARPickableClippingPlane(ARClippingManager* manager, int index) : _manager(manager), _index(index) {}

    void onLeftMouseClick() override;

    int getIndex() const { return _index; }

protected:
    ~ARPickableClippingPlane() override = default;

private:
    ARClippingManager* _manager;
    int _index;
};

// Cuts the content of one marker with up to six planes, the faces of a box standing on the marker,
// and optionally fills the cut sections. All coordinates are the marker's (z up from the paper).
//
// manager > capping switch > (clip node | capping effect > clip node) > clipped content
//         > planes container (lighting off) > planes switch > six plane handles > green squares
//
// Each plane keeps the inward normal it has on the box, its distance (normal . p + distance = 0,
// the kept side positive; moving changes it) and the angle it is turned by about a fixed axis
// through the marker's origin. The handle is placed by translating its square onto the moved face
// and then turning it; the clip plane is the moved plane under the same rotation.
class ARClippingManager : public osg::Group, public ARContentClipper
{
public:
    static const int PLANE_COUNT = 6;

    struct Plane
    {
        float angle = 0.0f; // degrees about the axis
        osg::Vec3 axis;
        float distance = 0.0f;
        osg::Vec3 normal;
    };

    // size: the box's edge in marker units; it spans -size/2..size/2 in x and y and 0..size in z.
    explicit ARClippingManager(float size);

    // The marker content to cut; none takes the current content out.
    void setClippedNode(osg::Node* node) override;
    osg::Node* getClippedNode() const override { return _clippedNode.get(); }
    osg::Node* asNode() override { return this; }

    void setPlaneActive(bool active, int index);
    void togglePlaneActive(int index);
    void setAllPlanesActive(bool active);
    bool isPlaneActive(int index) const;

    // Selects an active plane; any other index leaves no plane selected.
    void selectPlane(int index);
    int getSelectedPlane() const { return _selected; }

    void togglePlaneVisible(int index);
    // Showing shows the active planes only; hiding hides all.
    void showPlanes(bool show);
    bool isPlaneVisible(int index) const;

    // Both act on the selected plane: distance in marker units along its normal, angle in degrees.
    void movePlane(float delta);
    void rotatePlane(float delta);

    void toggleCapping();
    bool getCapping() const { return _capping; }

    // The update traversal visits switched-off branches too: the clipped content is updated once
    // a frame, and not at all here when it is also drawn plain elsewhere (a marker's content
    // group), so that its animations and sequences do not run twice.
    void traverse(osg::NodeVisitor& visitor) override;

    const osg::BoundingBox& getBox() const { return _box; }
    const Plane& getPlane(int index) const { return _planes[static_cast<size_t>(index)]; }
    osg::ClipPlane* getClipPlane(int index) const { return _clipPlanes[static_cast<size_t>(index)].get(); }
    ARPickableClippingPlane* getPlaneVisual(int index) const
    {
        return _visuals[static_cast<size_t>(index)].get();
    }
    osg::ClipNode* getClipNode() const { return _clipNode.get(); }
    osg::Switch* getCappingSwitch() const { return _cappingSwitch.get(); }
    ARCappingEffect* getCappingEffect() const { return _cappingEffect.get(); }
    osg::Switch* getPlanesSwitch() const { return _planesSwitch.get(); }

protected:
    ~ARClippingManager() override;

private:
    static bool isIndex(int index) { return index >= 0 && index < PLANE_COUNT; }
    void createPlanes();
    osg::ref_ptr<osg::Geode> createPlaneSquare(int index) const;
    void updatePlane(int index);

    osg::ref_ptr<osg::Node> _clippedNode;
    osg::BoundingBox _box;
    std::array<Plane, PLANE_COUNT> _planes;
    osg::ref_ptr<osg::MatrixTransform> _planesContainer;
    osg::ref_ptr<osg::Switch> _planesSwitch;
    std::array<osg::ref_ptr<ARPickableClippingPlane>, PLANE_COUNT> _visuals;
    osg::ref_ptr<osg::ClipNode> _clipNode;
    std::array<osg::ref_ptr<osg::ClipPlane>, PLANE_COUNT> _clipPlanes;
    int _selected = -1;
    std::array<bool, PLANE_COUNT> _active{};
    osg::ref_ptr<osg::Switch> _cappingSwitch;
    osg::ref_ptr<ARCappingEffect> _cappingEffect;
    bool _capping = false;
};

} // namespace Novaro
