#pragma once

#include "tracking/ARContentClipper.h"
#include "tracking/ARMarkerContext.h"
#include "tracking/ARMarkerListener.h"
#include "tracking/ARTTransformPlus.h"

#include <map>
#include <string>
#include <vector>

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/Sequence>
#include <osg/Switch>

namespace osgART
{
class Marker;
}

namespace Novaro
{

class MarkerData;

// The scene subtree of one tracked marker: the tracked transform, the correction of the marker's
// coordinate system exported by the authoring host, optional fitting of the content to the
// marker size, and the content itself in numbered layers shown one at a time or as a timed
// sequence.
//
// marker node > tracked transform > visibility switch > content group > reference-system transform
//   > middle transform > fitting transform > layer switch > (layers group | sequence)
//   > layer groups > objects
// The visibility switch's second branch, the clipped content, holds the run's clipping manager
// while it is on this marker; the manager cuts the same content group.
class ARMarkerNode : public osg::Group
{
public:
    struct Layer
    {
        osg::ref_ptr<osg::Group> group;
        bool visible = true;
        double duration = 5.0;
    };
    typedef std::map<int, Layer> LayerTable;

    ARMarkerNode(osgART::Marker* marker, int trackerIndex, MarkerData* record, int entryPosition,
                 ARMarkerContext* context);

    void setupLayers();
    void setupSequence();
    void setupSequenceUsage();

    bool addObject(ARMarkerListener* object, int layer);
    // Tells what is placed on the node where its content now stands (lights move above it).
    void adjustLightPositions();

    void setLayerVisible(int layer, bool on);
    void changeLayer(bool forward);
    void nextLayer() { changeLayer(true); }
    void previousLayer() { changeLayer(false); }
    int getCurrentLayer() const { return _currentLayer; }
    // The Layers keyboard mode's operations.
    void toggleLayer(int layer);
    void setAllLayersVisible(bool on);
    // Between showing the layers group and playing the sequence.
    void toggleSequenceMode();
    void toggleSequencePause();

    // The user's scale of the marker's content, on the middle transform (1 on each axis at first).
    void scaleModel(float step);
    const osg::Vec3& getModelScale() const { return _modelScale; }

    // Smoothing of the tracker's pose for this marker, and the tracking toggles.
    void setSmoothing(bool on);
    void setSmoothingFactor(float factor);
    float getSmoothingFactor() const;
    void resetSmoothing();
    void increaseSmoothing(float step);
    void decreaseSmoothing(float step);
    void setFreeze(bool frozen);
    void setTrackingPlus(bool on);

    // Hangs the manager in the clipped content, hands it the content group and shows the clipped
    // content; detaching takes it out and shows the plain content again.
    void attachClippingManager(ARContentClipper* manager);
    void detachClippingManager();
    // Shows the clipped content (with a manager attached) or the plain content.
    void setClippingEnabled(bool enabled);
    ARContentClipper* getClippingManager() const { return _clippingManager; }
    osg::Group* getClippedContent() const { return _clippedContent.get(); }

    ARTTransformPlus* getTrackedTransform() const { return _trackedTransform.get(); }
    osg::Switch* getVisibilitySwitch() const { return _visibilitySwitch.get(); }
    osg::Group* getContentGroup() const { return _contentGroup.get(); }
    osg::MatrixTransform* getReferenceSystemTransform() const { return _referenceSystemTransform.get(); }
    osg::MatrixTransform* getMiddleTransform() const { return _middleTransform.get(); }
    osg::MatrixTransform* getFittingTransform() const { return _fittingTransform.get(); }
    osg::Switch* getLayerSwitch() const { return _layerSwitch.get(); }
    osg::Group* getLayersGroup() const { return _layersGroup.get(); }
    osg::Sequence* getLayerSequence() const { return _layerSequence.get(); }
    const LayerTable& getLayers() const { return _layers; }
    osg::Group* getLayer(int layer) const;
    const std::vector<ARMarkerListener*>& getObjects() const { return _objects; }
    osgART::Marker* getMarker() const { return _marker.get(); }
    MarkerData* getMarkerData() const { return _record; }
    int getTrackerIndex() const { return _trackerIndex; }
    int getEntryPosition() const { return _entryPosition; }

    // The correction the authoring host's transforms files need when written as FBX: their Y and
    // Z axes are swapped against the marker's.
    static osg::Matrixd fbxCorrection();

    // Where a marker's tag stands in a transforms model: how many parental paths lead to the
    // tagged node and the local-to-world matrix of the first one (cameras ignored). Empty groups
    // count, since exporters write markers as dummies.
    struct TagPlacement
    {
        bool found = false;
        size_t pathCount = 0;
        osg::Matrixd localToWorld;
    };
    static TagPlacement findTagPlacement(osg::Node& model, const std::string& tag);

protected:
    ~ARMarkerNode() override = default;

private:
    void setupReferenceSystem();
    void createLayer(int layer, double duration);
    void fitContent();

    osg::ref_ptr<ARTTransformPlus> _trackedTransform;
    osg::ref_ptr<osg::Switch> _visibilitySwitch;
    osg::ref_ptr<osg::Group> _contentGroup;
    osg::ref_ptr<osg::Group> _clippedContent;
    osg::ref_ptr<osg::MatrixTransform> _referenceSystemTransform;
    osg::ref_ptr<osg::MatrixTransform> _middleTransform;
    osg::ref_ptr<osg::MatrixTransform> _fittingTransform;
    osg::ref_ptr<osg::Switch> _layerSwitch;
    osg::ref_ptr<osg::Group> _layersGroup;
    osg::ref_ptr<osg::Sequence> _layerSequence;
    LayerTable _layers;
    int _currentLayer = 0;
    osg::Vec3 _modelScale = osg::Vec3(1.0f, 1.0f, 1.0f);
    std::vector<ARMarkerListener*> _objects;
    osg::ref_ptr<osgART::Marker> _marker;
    MarkerData* _record;
    int _trackerIndex;
    int _entryPosition;
    ARMarkerContext* _context;
    ARContentClipper* _clippingManager = nullptr;
};

} // namespace Novaro
