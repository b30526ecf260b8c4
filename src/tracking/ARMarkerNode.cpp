#include "tracking/ARMarkerNode.h"

#include "settings/MarkersData.h"
#include "settings/ModelFileCheck.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <algorithm>

#include <osg/ComputeBoundsVisitor>
#include <osg/MatrixTransform>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include "osgART/Marker.h"
#include "osgART/TransformFilterCallback.h"

namespace Novaro
{

namespace
{

// One tracked shape placed by one transform: a single square or an image target.
bool isSingleType(const std::string& type)
{
    return type == "single" || type == "SINGLE" || type == "image" || type == "IMAGE";
}

} // namespace

osg::Matrixd ARMarkerNode::fbxCorrection()
{
    return osg::Matrixd(1, 0, 0, 0,  //
                        0, 0, -1, 0, //
                        0, 1, 0, 0,  //
                        0, 0, 0, 1);
}

ARMarkerNode::ARMarkerNode(osgART::Marker* marker, int trackerIndex, MarkerData* record, int entryPosition,
                           ARMarkerContext* context)
    : _marker(marker), _record(record), _trackerIndex(trackerIndex), _entryPosition(entryPosition),
      _context(context)
{
    _trackedTransform = new ARTTransformPlus(marker);
    _visibilitySwitch = new osg::Switch;
    _contentGroup = new osg::Group;
    _clippedContent = new osg::Group;
    _referenceSystemTransform = new osg::MatrixTransform;
    _middleTransform = new osg::MatrixTransform;
    _fittingTransform = new osg::MatrixTransform;
    _layerSwitch = new osg::Switch;
    _layersGroup = new osg::Group;
    _layerSequence = new osg::Sequence;

    _trackedTransform->addChild(_visibilitySwitch.get());
    _visibilitySwitch->addChild(_contentGroup.get(), true);
    _visibilitySwitch->addChild(_clippedContent.get(), false);
    _contentGroup->addChild(_referenceSystemTransform.get());
    _referenceSystemTransform->addChild(_middleTransform.get());
    _middleTransform->addChild(_fittingTransform.get());
    _fittingTransform->addChild(_layerSwitch.get());
    _layerSwitch->addChild(_layersGroup.get(), true);
    _layerSwitch->addChild(_layerSequence.get(), false);

    setupReferenceSystem();
    if (_marker.valid())
        _marker->setActive(true);
    if (_record)
        _trackedTransform->getTrackingCallback()->setMarkerId(static_cast<int>(_record->getId()));
    addChild(_trackedTransform.get());
}

void ARMarkerNode::setupReferenceSystem()
{
    if (!_context)
        osg::notify(osg::FATAL) << " WARNING: cannot init full marker reference system (application not set)."
                                << std::endl;
    if (!_record)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init marker reference system (marker data NA)."
                                << std::endl;
        return;
    }
    const std::string& file = _record->getTransformsFile();
    if (file.empty())
    {
        osg::notify(osg::NOTICE)
            << " WARNING: cannot init marker reference system (empty transforms file name)." << std::endl;
        return;
    }
    if (!isSingleType(_record->getType()))
        return;

    // A scene's file: checked first, as the readers trust what files declare.
    osg::ref_ptr<osg::Node> model = readModelFile(file);
    if (!model.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot load marker reference system file." << std::endl;
        return;
    }
    osg::Matrixd matrix;
    const TagPlacement placement = findTagPlacement(*model, _record->getTag());
    if (placement.found && !_record->getFit())
    {
        if (placement.pathCount == 0)
        {
            osg::notify(osg::FATAL) << " WARNING: no parental node path found for current marker transforms."
                                    << std::endl;
            return;
        }
        if (placement.pathCount > 1)
            osg::notify(osg::FATAL)
                << " WARNING: more than 1 parental node paths found for current marker transforms."
                << std::endl;
        matrix = placement.localToWorld;
    }
    else
    {
        osg::notify(osg::FATAL) << " WARNING: cannot setup marker reference system (could not find marker "
                                   "tag in transforms file)."
                                << std::endl;
    }
    const std::string extension = osgDB::getLowerCaseFileExtension(file);
    if (extension == "fbx")
    {
        osg::notify(osg::NOTICE) << " WARNING: fixing for FBX reference system file." << std::endl;
        matrix = fbxCorrection() * matrix;
    }
    // A glTF file arrives under the reader's turn and scale to the markers' frame (Z-up,
    // millimetres), as the scene's glTF models do. The marker in it is turned the same way, so its
    // pose stays rigid and in millimetres in that frame, rather than carrying the thousandfold scale.
    const osg::MatrixTransform* frame = dynamic_cast<const osg::MatrixTransform*>(model.get());
    if ((extension == "gltf" || extension == "glb") && frame != nullptr)
        matrix = osg::Matrixd::inverse(frame->getMatrix()) * matrix;
    _referenceSystemTransform->setMatrix(osg::Matrixd::inverse(matrix));
}

ARMarkerNode::TagPlacement ARMarkerNode::findTagPlacement(osg::Node& model, const std::string& tag)
{
    ARNodeSearchByNameVisitor search(tag, ARNodeSearchByNameVisitor::ACCEPT_EMPTY_GROUPS);
    model.accept(search);
    TagPlacement placement;
    if (!search.getNode())
        return placement;
    placement.found = true;
    const osg::NodePathList paths = search.getNode()->getParentalNodePaths();
    placement.pathCount = paths.size();
    if (!paths.empty())
        placement.localToWorld = osg::computeLocalToWorld(paths.front(), true);
    return placement;
}

osg::Group* ARMarkerNode::getLayer(int layer) const
{
    LayerTable::const_iterator found = _layers.find(layer);
    return found == _layers.end() ? nullptr : found->second.group.get();
}

void ARMarkerNode::createLayer(int layer, double duration)
{
    if (_layers.count(layer))
    {
        osg::notify(osg::NOTICE) << " WARNING: layer " << layer << " already exists for marker." << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " WARNING: layer " << layer << " not exists for marker." << std::endl;
    Layer entry;
    entry.group = new osg::Group;
    entry.duration = duration;
    _layersGroup->addChild(entry.group.get());
    _layers[layer] = entry;
    osg::notify(osg::NOTICE) << " WARNING: layer " << layer << " created for marker." << std::endl;
}

void ARMarkerNode::setupLayers()
{
    if (!_record)
    {
        osg::notify(osg::FATAL) << " WARNING: setting up layers/sequences with defaults (marker data NA)."
                                << std::endl;
        createLayer(0, 5.0);
        return;
    }
    for (const std::pair<const int, double>& layer : _record->getLayers())
        createLayer(layer.first, layer.second);
}

void ARMarkerNode::setupSequence()
{
    for (LayerTable::iterator layer = _layers.begin(); layer != _layers.end(); ++layer)
        _layerSequence->addChild(layer->second.group.get(), layer->second.duration);
    if (!_record)
    {
        osg::notify(osg::FATAL) << " WARNING: setup marker sequence with defaults (marker data NA)."
                                << std::endl;
        _layerSequence->setInterval(osg::Sequence::LOOP, 0, -1);
        _layerSequence->setDuration(100.0f, -1);
    }
    else
    {
        _layerSequence->setInterval(_record->getSequenceLoop() ? osg::Sequence::LOOP : osg::Sequence::SWING,
                                    0, -1);
        _layerSequence->setDuration(static_cast<float>(_record->getSequenceDuration()), -1);
    }
    _layerSequence->setMode(osg::Sequence::START);
}

void ARMarkerNode::setupSequenceUsage()
{
    if (!_record)
    {
        osg::notify(osg::FATAL) << " WARNING: setup marker sequence usage OFF (marker data NA)." << std::endl;
        _layerSwitch->setChildValue(_layersGroup.get(), true);
        return;
    }
    if (_record->getSequence())
    {
        _layerSwitch->setChildValue(_layerSequence.get(), true);
        _layerSwitch->setChildValue(_layersGroup.get(), false);
    }
}

void ARMarkerNode::setLayerVisible(int layer, bool on)
{
    LayerTable::iterator found = _layers.find(layer);
    if (found == _layers.end())
    {
        osg::notify(osg::NOTICE) << " WARNING: layer " << layer << " not exists for marker." << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " WARNING: layer " << layer << " will be " << (on ? "ON" : "OFF")
                             << " for marker." << std::endl;
    found->second.visible = on;
    found->second.group->setNodeMask(on ? 0xFFFFFFFF : 0x0);
}

void ARMarkerNode::changeLayer(bool forward)
{
    if (_layers.empty())
        return;
    std::vector<int> ids;
    for (const std::pair<const int, Layer>& layer : _layers)
        ids.push_back(layer.first);
    const int count = static_cast<int>(ids.size());
    const std::vector<int>::iterator current = std::find(ids.begin(), ids.end(), _currentLayer);
    // A current layer that is not among the marker's layers counts as one before the first, so
    // "next" starts at the first layer and "previous" at the last.
    int position = current == ids.end() ? -1 : static_cast<int>(current - ids.begin());
    if (forward)
        position = position + 1 >= count ? 0 : position + 1;
    else
        position = position <= 0 ? count - 1 : position - 1;
    _currentLayer = ids[static_cast<size_t>(position)];
    for (int index = 0; index < count; ++index)
    {
        osg::notify(osg::NOTICE) << (ids[static_cast<size_t>(index)] == _currentLayer ? " * " : "   ")
                                 << "layer: " << ids[static_cast<size_t>(index)] << std::endl;
    }
    osg::notify(osg::NOTICE) << " next/previous (index): " << position << " layer: " << _currentLayer
                             << std::endl;
    for (LayerTable::iterator layer = _layers.begin(); layer != _layers.end(); ++layer)
    {
        const bool chosen = layer->first == _currentLayer;
        layer->second.visible = chosen;
        layer->second.group->setNodeMask(chosen ? 0xFFFFFFFF : 0x0);
    }
}

void ARMarkerNode::fitContent()
{
    const float size = _record ? _record->getSize() : 80.0f;
    const float fitFactor = _record ? _record->getFitFactor() : 2.5f;
    const ApplicationHint hint = _context ? _context->getApplicationHint() : HINT_NONE;
    const bool yUp = hint == HINT_MAYA || hint == HINT_CINEMA4D;

    _fittingTransform->setMatrix(osg::Matrixd::identity());
    _fittingTransform->dirtyBound();
    const osg::BoundingSphere sphere = _fittingTransform->getBound();
    osg::ComputeBoundsVisitor bounds;
    for (unsigned int index = 0; index < _fittingTransform->getNumChildren(); ++index)
        _fittingTransform->getChild(index)->accept(bounds);
    const osg::BoundingBox& box = bounds.getBoundingBox();
    if (!sphere.valid() || sphere.radius() <= 0.0f || !box.valid())
        return;
    const osg::Vec3d centre = sphere.center();
    const osg::Matrixd translation = yUp ? osg::Matrixd::translate(-centre.x(), -box.yMin(), -centre.z())
                                         : osg::Matrixd::translate(-centre.x(), -centre.y(), -box.zMin());
    const osg::Matrixd rotation = osg::Matrixd::rotate(0.0, osg::X_AXIS);
    const double scale = size * fitFactor / sphere.radius();
    _fittingTransform->setMatrix(translation * rotation * osg::Matrixd::scale(scale, scale, scale));
}

bool ARMarkerNode::addObject(ARMarkerListener* object, int layer)
{
    if (!_context)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot add object to specified marker (application not set)."
                                << std::endl;
        return false;
    }
    if (object->servesWholeMarker())
    {
        // A light lights the marker's whole content, whatever layer shows, and is never fitted.
        osg::notify(osg::NOTICE) << " DEBUG: adding ARLight without fitting..." << std::endl;
        _trackedTransform->addChild(object->asNode());
    }
    else
    {
        osg::Group* group = getLayer(layer);
        if (!group)
        {
            osg::notify(osg::NOTICE) << " WARNING: layer " << layer
                                     << " not exists for marker (not adding object)." << std::endl;
            osg::notify(osg::FATAL) << " WARNING: could not add object to marker." << std::endl;
            return false;
        }
        group->addChild(object->asNode());
        if (_record && _record->getFit())
            fitContent();
    }
    _trackedTransform->addListener(object);
    if (std::find(_objects.begin(), _objects.end(), object) == _objects.end())
        _objects.push_back(object);
    adjustLightPositions();
    return true;
}

void ARMarkerNode::adjustLightPositions()
{
    // The content alone: the lights hang beside it, under the tracked transform.
    osg::ComputeBoundsVisitor bounds(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN);
    _contentGroup->accept(bounds);
    const osg::BoundingBox& box = bounds.getBoundingBox();
    if (!box.valid())
        return; // nothing to stand clear of yet
    for (ARMarkerListener* object : _objects)
        object->contentBoundsChanged(box);
}

void ARMarkerNode::setSmoothing(bool on)
{
    if (!_marker.valid())
        return;
    osgART::TransformFilterCallback* filter = _marker->getFilterCallback();
    if (filter)
    {
        filter->enableTranslationalSmoothing(on);
        filter->enableRotationalSmoothing(on);
        return;
    }
    if (!on)
        return;
    _marker->setFilterCallback(new osgART::TransformFilterCallback);
}

void ARMarkerNode::setSmoothingFactor(float factor)
{
    osgART::TransformFilterCallback* filter = _marker.valid() ? _marker->getFilterCallback() : nullptr;
    if (!filter)
        return;
    filter->setTranslationalSmoothingFactor(factor);
    filter->setRotationalSmoothingFactor(factor);
}

float ARMarkerNode::getSmoothingFactor() const
{
    osgART::TransformFilterCallback* filter = _marker.valid() ? _marker->getFilterCallback() : nullptr;
    return filter ? filter->getRotationalSmoothingFactor() : -1.0f;
}

void ARMarkerNode::resetSmoothing()
{
    osgART::TransformFilterCallback* filter = _marker.valid() ? _marker->getFilterCallback() : nullptr;
    if (!filter)
    {
        osg::notify(osg::NOTICE) << "Could not reset smoothing factor." << std::endl;
        return;
    }
    const osgART::TransformFilterCallback::Parameters defaults;
    filter->setTranslationalSmoothingFactor(defaults.translationalFactor);
    filter->setRotationalSmoothingFactor(defaults.rotationalFactor);
    osg::notify(osg::NOTICE) << "Resetting smoothing factors: " << defaults.rotationalFactor << std::endl;
}

void ARMarkerNode::increaseSmoothing(float step)
{
    osgART::TransformFilterCallback* filter = _marker.valid() ? _marker->getFilterCallback() : nullptr;
    if (!filter)
        return;
    filter->setRotationalSmoothingFactor(std::min(filter->getRotationalSmoothingFactor() + step, 1.0f));
    filter->setTranslationalSmoothingFactor(std::min(filter->getTranslationalSmoothingFactor() + step, 1.0f));
    osg::notify(osg::NOTICE) << "Updating smoothing factor (R): " << filter->getRotationalSmoothingFactor()
                             << std::endl;
    osg::notify(osg::NOTICE) << "Updating smoothing factor (T): " << filter->getTranslationalSmoothingFactor()
                             << std::endl;
}

void ARMarkerNode::decreaseSmoothing(float step)
{
    osgART::TransformFilterCallback* filter = _marker.valid() ? _marker->getFilterCallback() : nullptr;
    if (!filter)
        return;
    filter->setRotationalSmoothingFactor(std::max(filter->getRotationalSmoothingFactor() - step, 0.0f));
    filter->setTranslationalSmoothingFactor(std::max(filter->getTranslationalSmoothingFactor() - step, 0.0f));
    osg::notify(osg::NOTICE) << "Updating smoothing factor (R): " << filter->getRotationalSmoothingFactor()
                             << std::endl;
    osg::notify(osg::NOTICE) << "Updating smoothing factor (T): " << filter->getTranslationalSmoothingFactor()
                             << std::endl;
}

void ARMarkerNode::setFreeze(bool frozen)
{
    _trackedTransform->setFreeze(frozen);
}

void ARMarkerNode::setTrackingPlus(bool on)
{
    _trackedTransform->setTrackingPlus(on);
}

void ARMarkerNode::toggleLayer(int layer)
{
    LayerTable::const_iterator found = _layers.find(layer);
    // A missing layer is reported by setLayerVisible.
    setLayerVisible(layer, found == _layers.end() || !found->second.visible);
}

void ARMarkerNode::setAllLayersVisible(bool on)
{
    for (LayerTable::iterator layer = _layers.begin(); layer != _layers.end(); ++layer)
    {
        layer->second.visible = on;
        layer->second.group->setNodeMask(on ? 0xFFFFFFFF : 0x0);
    }
}

void ARMarkerNode::toggleSequenceMode()
{
    const bool sequence = _layerSwitch->getChildValue(_layerSequence.get());
    _layerSwitch->setChildValue(_layerSequence.get(), !sequence);
    _layerSwitch->setChildValue(_layersGroup.get(), sequence);
}

void ARMarkerNode::toggleSequencePause()
{
    const bool paused = _layerSequence->getMode() == osg::Sequence::PAUSE;
    _layerSequence->setMode(paused ? osg::Sequence::RESUME : osg::Sequence::PAUSE);
}

void ARMarkerNode::scaleModel(float step)
{
    // No bounds: a user can shrink the content through zero into a mirrored copy, and back.
    _modelScale += osg::Vec3(step, step, step);
    _middleTransform->setMatrix(osg::Matrix::scale(_modelScale));
}

} // namespace Novaro
