#include "scene/ARObject.h"

#include "scene/ARObjectExtensions.h"
#include "settings/ModelFileCheck.h"
#include "settings/SettingsValues.h"
#include "settings/XMLEventsParserManager.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/AnimationPath>
#include <osg/BlendFunc>
#include <osg/ColorMask>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/Notify>
#include <osgAnimation/Bone>
#include <osgAnimation/Skeleton>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgUtil/Optimizer>
#include <osgUtil/TriStripVisitor>

#include <algorithm>

namespace Novaro
{

namespace
{

const char* const eventNames[ARObject::EVENT_COUNT] = {"on_left_mouse_click",
                                                       "on_right_mouse_click",
                                                       "on_left_mouse_double_click",
                                                       "on_right_mouse_double_click",
                                                       "on_mouse_over",
                                                       "on_mouse_in",
                                                       "on_mouse_out",
                                                       "on_hide",
                                                       "on_show",
                                                       "on_init",
                                                       "on_notify",
                                                       "on_select",
                                                       "on_unselect",
                                                       "on_freeze",
                                                       "on_unfreeze",
                                                       "on_marker_detected",
                                                       "on_marker_lost"};

// The events running at this moment, outermost first. Events run on the main thread only (the
// viewer is single-threaded), so one list serves every object.
struct RunningEvent
{
    const ARObject* object;
    ARObject::Event event;
};
std::vector<RunningEvent> runningEvents;
// A chain of events that never comes back to an event already running still ends, but each link
// costs stack; past this depth the chain is cut like a loop.
const size_t maximumEventDepth = 1024;

// Keeps the running list right whichever way an event's actions return.
class RunningEventScope
{
public:
    RunningEventScope(const ARObject* object, ARObject::Event event)
    {
        runningEvents.push_back({object, event});
    }
    ~RunningEventScope() { runningEvents.pop_back(); }
    RunningEventScope(const RunningEventScope&) = delete;
    RunningEventScope& operator=(const RunningEventScope&) = delete;
};

// Where the event is already running, or runningEvents.size() when it is not.
size_t runningIndexOf(const ARObject* object, ARObject::Event event)
{
    for (size_t index = 0; index < runningEvents.size(); ++index)
        if (runningEvents[index].object == object && runningEvents[index].event == event)
            return index;
    return runningEvents.size();
}

std::string describe(const RunningEvent& running)
{
    return running.object->getName() + " " + ARObject::getEventName(running.event);
}

// Share duplicate state, merge geometry, optimise texture settings, merge geodes.
const unsigned int optimizerOptions = 0x3030;

// Whether another owner holds any of the geometry's arrays or primitive sets: a model's instances
// (COLLADA's instance nodes, Assimp's shared meshes) are geometries that share them.
bool sharesData(const osg::Geometry& geometry)
{
    const auto shared = [](const osg::Referenced* data)
    { return data != nullptr && data->referenceCount() > 1; };
    if (shared(geometry.getVertexArray()) || shared(geometry.getNormalArray()) ||
        shared(geometry.getColorArray()) || shared(geometry.getSecondaryColorArray()) ||
        shared(geometry.getFogCoordArray()))
        return true;
    for (unsigned int unit = 0; unit < geometry.getNumTexCoordArrays(); ++unit)
        if (shared(geometry.getTexCoordArray(unit)))
            return true;
    for (unsigned int index = 0; index < geometry.getNumVertexAttribArrays(); ++index)
        if (shared(geometry.getVertexAttribArray(index)))
            return true;
    for (unsigned int index = 0; index < geometry.getNumPrimitiveSets(); ++index)
        if (shared(geometry.getPrimitiveSet(index)))
            return true;
    return false;
}

// Strips only the geometries whose data is their own. Stripping rewrites a geometry's arrays and
// primitive sets; a second geometry sharing them then draws indices past its arrays' ends, which
// the OpenGL driver reads out of bounds (Assimp's test model teapot_instancenodes.DAE crashed the
// player).
class OwnGeometryStripper : public osgUtil::TriStripVisitor
{
public:
    OwnGeometryStripper() : osgUtil::TriStripVisitor(nullptr) {}
    void apply(osg::Geometry& geometry) override
    {
        if (!sharesData(geometry))
            osgUtil::TriStripVisitor::apply(geometry);
    }
};

// A fresh node standing for one ancestor of an extracted sub-node: same kind (skeleton, matrix
// transform or plain group), same matrix, state and flags, and its own copy of a path animation
// so that the extracted object animates independently of the model it came from.
osg::ref_ptr<osg::Group> copyAncestor(osg::Node& ancestor)
{
    osg::ref_ptr<osg::Group> copy;
    if (auto* skeleton = dynamic_cast<osgAnimation::Skeleton*>(&ancestor))
    {
        osg::notify(osg::FATAL) << "skeleton..." << std::endl;
        osg::ref_ptr<osgAnimation::Skeleton> newSkeleton = new osgAnimation::Skeleton;
        newSkeleton->setMatrix(skeleton->getMatrix());
        newSkeleton->setUpdateCallback(new osgAnimation::Skeleton::UpdateSkeleton);
        for (unsigned int i = 0; i < skeleton->getNumChildren(); ++i)
            if (dynamic_cast<osgAnimation::Bone*>(skeleton->getChild(i)) != nullptr)
                newSkeleton->addChild(skeleton->getChild(i));
        copy = newSkeleton;
    }
    else
    {
        if (auto* transform = dynamic_cast<osg::MatrixTransform*>(&ancestor))
        {
            osg::ref_ptr<osg::MatrixTransform> newTransform = new osg::MatrixTransform;
            newTransform->setMatrix(transform->getMatrix());
            newTransform->setReferenceFrame(transform->getReferenceFrame());
            copy = newTransform;
        }
        else
        {
            copy = new osg::Group;
        }
        osg::Callback* callback = ancestor.getUpdateCallback();
        if (auto* pathCallback = dynamic_cast<osg::AnimationPathCallback*>(callback))
        {
            osg::AnimationPath* path = pathCallback->getAnimationPath();
            osg::AnimationPath* pathCopy =
                path != nullptr ? osg::clone(path, osg::CopyOp::DEEP_COPY_ALL) : nullptr;
            copy->setUpdateCallback(new osg::AnimationPathCallback(pathCopy, 0.0, 1.0));
        }
        else
        {
            copy->setUpdateCallback(callback);
        }
    }
    copy->setStateSet(ancestor.getStateSet());
    copy->setDataVariance(ancestor.getDataVariance());
    copy->setNodeMask(ancestor.getNodeMask());
    copy->setName(ancestor.getName());
    copy->setCullingActive(ancestor.getCullingActive());
    return copy;
}

} // namespace

const char* ARObject::getEventName(Event event)
{
    return event >= 0 && event < EVENT_COUNT ? eventNames[event] : "";
}

ARObject::ARObject()
{
    initialise(nullptr);
}

ARObject::ARObject(osg::Node* content)
{
    initialise(content);
}

ARObject::ARObject(osg::Node* model, const std::string& subNodeName)
{
    initialise(extractSubNode(model, subNodeName).get());
}

ARObject::ARObject(const std::string& modelFile)
{
    osg::ref_ptr<osg::Node> model = readModelFile(modelFile);
    initialise(model.get());
}

ARObject::ARObject(const std::string& modelFile, const std::string& subNodeName)
{
    osg::ref_ptr<osg::Node> model = readModelFile(modelFile);
    initialise(extractSubNode(model.get(), subNodeName).get());
}

ARObject::~ARObject() = default;

void ARObject::initialise(osg::Node* content)
{
    if (const ARObjectExtensions* extensions = ARObjectExtensions::installed())
        _actionFactory = extensions->createActionFactory(this);
    if (content != nullptr)
        addChild(content);
    reset();
}

osg::ref_ptr<osg::Node> ARObject::extractSubNode(osg::Node* model, const std::string& subNodeName)
{
    if (model == nullptr)
    {
        osg::notify(osg::FATAL) << " WARNING: searching node not valid." << std::endl;
        return nullptr;
    }
    ARNodeSearchByNameVisitor search(subNodeName);
    model->accept(search);
    osg::Node* found = search.getNode();
    if (found == nullptr)
        return nullptr;

    // The path from the model's root down to the found node; the model may itself hang under
    // other objects already (a scene-wide model is shared), which must not be copied.
    const osg::NodePathList paths = found->getParentalNodePaths(model);
    const osg::NodePath path = paths.empty() ? osg::NodePath(1, found) : paths.front();

    osg::ref_ptr<osg::Group> first;
    osg::Group* last = nullptr;
    for (size_t i = 0; i + 1 < path.size(); ++i)
    {
        osg::ref_ptr<osg::Group> copy = copyAncestor(*path[i]);
        if (last == nullptr)
            first = copy;
        else
            last->addChild(copy.get());
        last = copy.get();
    }
    if (last == nullptr)
        return found;
    last->addChild(found);
    return first;
}

void ARObject::setTranslation(float x, float y, float z)
{
    _translation.set(x, y, z);
    updateMatrix();
}

void ARObject::setScale(float x, float y, float z)
{
    _scale.set(x, y, z);
    updateMatrix();
}

void ARObject::setRotation(double x, double y, double z, double w)
{
    _rotation.set(x, y, z, w);
    updateMatrix();
}

void ARObject::setUniformScale(float scale)
{
    setScale(scale, scale, scale);
}

void ARObject::scaleBy(float step)
{
    const float scale = (step + 1.0f) * _scale.x();
    setScale(scale, scale, scale);
}

void ARObject::select()
{
    if (!_selectable)
        return;
    _selected = true;
    osg::notify(osg::NOTICE) << "ARObject: " << getName() << " selected." << std::endl;
    onSelect();
}

void ARObject::unselect()
{
    if (!_selectable)
        return;
    _selected = false;
    osg::notify(osg::NOTICE) << "ARObject: " << getName() << " unselected." << std::endl;
    onUnselect();
}

void ARObject::toggleSelect()
{
    if (!_selected)
        select();
    else
        unselect();
}

void ARObject::freeze()
{
    _frozen = true;
    osg::notify(osg::NOTICE) << "ARObject: " << getName() << " freezed." << std::endl;
    onFreeze();
}

void ARObject::unfreeze()
{
    _frozen = false;
    osg::notify(osg::NOTICE) << "ARObject: " << getName() << " unfreezed." << std::endl;
    onUnfreeze();
}

void ARObject::toggleFreeze()
{
    if (!_frozen)
        freeze();
    else
        unfreeze();
}

void ARObject::optimize()
{
    if (!_optimizeEnabled)
        return;
    osg::notify(osg::NOTICE) << " Optimizing: " << getName() << std::endl;
    osg::notify(osg::NOTICE) << " Step 1 of 2" << std::endl;
    osgUtil::Optimizer optimizer;
    optimizer.optimize(this, optimizerOptions);
    osg::notify(osg::NOTICE) << " Step 2 of 2" << std::endl;
    OwnGeometryStripper stripper;
    accept(stripper);
    stripper.stripify();
    osg::notify(osg::NOTICE) << " Optimizing: " << getName() << " - Done." << std::endl;
}

void ARObject::runEvent(Event event)
{
    if (_eventActions[event].empty())
        return;
    // Actions always do the same: an event reached again while it runs would recurse without end.
    if (runningIndexOf(this, event) < runningEvents.size() || runningEvents.size() >= maximumEventDepth)
    {
        reportEventLoop(event);
        return;
    }
    RunningEventScope running(this, event);
    // A copy: an action may reload events of its own object.
    const std::vector<AREventAction*> actions = _eventActions[event];
    for (AREventAction* action : actions)
        action->execute();
}

void ARObject::reportEventLoop(Event event)
{
    const size_t start = runningIndexOf(this, event);
    if (start == runningEvents.size())
    {
        // No loop: a chain too long to follow.
        const std::string key = std::string("depth ") + getEventName(event);
        if (_reportedEventLoops.insert(key).second)
            osg::notify(osg::FATAL) << " WARNING: events chain deeper than " << maximumEventDepth
                                    << " events, cut at " << getName() << " " << getEventName(event)
                                    << " (started by " << describe(runningEvents.front()) << ")."
                                    << std::endl;
        return;
    }
    // The same loop entered at another of its events is the same loop: it is named from its
    // smallest event, so that it is reported once whichever event started it.
    std::vector<std::string> loop;
    for (size_t index = start; index < runningEvents.size(); ++index)
        loop.push_back(describe(runningEvents[index]));
    std::rotate(loop.begin(), std::min_element(loop.begin(), loop.end()), loop.end());
    std::string text;
    for (const std::string& link : loop)
        text += link + " -> ";
    text += loop.front();
    if (!_reportedEventLoops.insert(text).second)
        return;
    for (size_t index = start; index < runningEvents.size(); ++index)
        const_cast<ARObject*>(runningEvents[index].object)->_reportedEventLoops.insert(text);
    osg::notify(osg::FATAL) << " WARNING: events loop cut: " << text
                            << " (the repeated event does not run again)." << std::endl;
}

void ARObject::onLeftMouseClick()
{
    runEvent(ON_LEFT_MOUSE_CLICK);
}
void ARObject::onRightMouseClick()
{
    runEvent(ON_RIGHT_MOUSE_CLICK);
}
void ARObject::onLeftMouseDoubleClick()
{
    runEvent(ON_LEFT_MOUSE_DOUBLE_CLICK);
}
void ARObject::onRightMouseDoubleClick()
{
    runEvent(ON_RIGHT_MOUSE_DOUBLE_CLICK);
}
void ARObject::onMouseOver()
{
    runEvent(ON_MOUSE_OVER);
}
void ARObject::onMouseIn()
{
    runEvent(ON_MOUSE_IN);
}
void ARObject::onMouseOut()
{
    runEvent(ON_MOUSE_OUT);
}
void ARObject::onHide()
{
    runEvent(ON_HIDE);
}
void ARObject::onShow()
{
    runEvent(ON_SHOW);
}
void ARObject::onInit()
{
    runEvent(ON_INIT);
}
void ARObject::onNotify()
{
    runEvent(ON_NOTIFY);
}
void ARObject::onSelect()
{
    runEvent(ON_SELECT);
}
void ARObject::onUnselect()
{
    runEvent(ON_UNSELECT);
}
void ARObject::onFreeze()
{
    runEvent(ON_FREEZE);
}
void ARObject::onUnfreeze()
{
    runEvent(ON_UNFREEZE);
}
void ARObject::onMarkerDetected()
{
    runEvent(ON_MARKER_DETECTED);
}
void ARObject::onMarkerLost()
{
    runEvent(ON_MARKER_LOST);
}

bool ARObject::hasEvent(const std::string& name) const
{
    return _declaredEvents.find(name) != _declaredEvents.end();
}

bool ARObject::reset()
{
    _selected = false;
    _hidden = false;
    _selectable = true;
    _occluder = false;
    _context = nullptr;
    _markerId = -1;
    setUpAnimations();
    return true;
}

void ARObject::updateMatrix()
{
    const osg::Matrix translation = osg::Matrix::translate(_translation);
    const osg::Matrix scale = osg::Matrix::scale(_scale);
    const osg::Matrix rotation = osg::Matrix::rotate(_rotation);
    setMatrix(rotation * scale * translation);
}

void ARObject::loadEvents(const std::string& eventsFile)
{
    // Failures are reported by the reader; whatever it read is used.
    _eventsFile = eventsFile;
    XMLEventsParserManager reader(eventsFile);
    reader.loadFile();
    reader.parse();
    const EventsData events = reader.getData();
    for (const EventData& event : events.getEvents())
    {
        _declaredEvents[event.getName()] = true;
        int known = EVENT_COUNT;
        for (int e = 0; e < EVENT_COUNT && known == EVENT_COUNT; ++e)
            if (event.getName() == eventNames[e])
                known = e;
        if (known == EVENT_COUNT)
            reportUnknownName("event", event.getName(),
                              std::vector<std::string>(eventNames, eventNames + EVENT_COUNT));
        else
            _eventActions[known] = buildActionList(event);
    }
}

void ARObject::reportUnknownName(const std::string& kind, const std::string& name,
                                 const std::vector<std::string>& known) const
{
    std::ostream& out = osg::notify(osg::FATAL);
    out << "WARNING: " << _eventsFile << ": object " << getName() << ": unknown " << kind << " \"" << name
        << "\"";
    const std::string closest = SettingsValues::closestName(name, known);
    if (!closest.empty())
        out << " (did you mean \"" << closest << "\"?)";
    out << ", ignored." << std::endl;
}

std::vector<AREventAction*> ARObject::buildActionList(const EventData& event)
{
    std::vector<AREventAction*> actions;
    if (!_actionFactory)
        return actions;
    for (const ActionData& entry : event.getActions())
    {
        AREventAction* action = _actionFactory->createAction(entry);
        if (!action)
        {
            osg::notify(osg::NOTICE) << " WARNING: ARAction not found." << std::endl;
            reportUnknownName("action command", entry.getCommand(), _actionFactory->getCommandNames());
            continue;
        }
        actions.push_back(action);
    }
    return actions;
}

void ARObject::hide()
{
    onHide();
    _hidden = true;
    setNodeMask(0x0);
}

void ARObject::show()
{
    onShow();
    _hidden = false;
    setNodeMask(_shownNodeMask);
}

void ARObject::clearNodeMaskBits(unsigned int bits)
{
    _shownNodeMask &= ~bits;
    setNodeMask(getNodeMask() & ~bits);
}

void ARObject::addMarker(int id)
{
    _markerIds.push_back(id);
    if (_markerIds.size() == 1)
        _markerId = id;
}

void ARObject::resetActions()
{
    if (!_actionFactory)
        return;
    _actionFactory->setContext(_context);
    _actionFactory->prepareActions();
}

void ARObject::setOccluder()
{
    osg::StateSet* stateSet = getOrCreateStateSet();
    stateSet->setAttribute(new osg::ColorMask(false, false, false, false), osg::StateAttribute::OVERRIDE);
    stateSet->setRenderBinDetails(-1, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);
    _occluder = true;
}

void ARObject::showOccluder(bool visible)
{
    if (!_occluder)
        return;
    osg::StateSet* stateSet = getOrCreateStateSet();
    if (!visible)
    {
        stateSet->setAttribute(new osg::ColorMask(false, false, false, false), osg::StateAttribute::OVERRIDE);
        stateSet->setRenderBinDetails(-1, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);
        return;
    }
    stateSet->setAttribute(new osg::ColorMask(true, true, true, true), osg::StateAttribute::OVERRIDE);
    stateSet->setRenderBinDetails(1, "RenderBin", osg::StateSet::USE_RENDERBIN_DETAILS);
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(1.0f, 0.0f, 0.0f, 0.5f));
    stateSet->setAttributeAndModes(material.get(), osg::StateAttribute::ON);
    stateSet->setAttributeAndModes(
        new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA),
        osg::StateAttribute::ON);
    stateSet->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
}

void ARObject::setLighting(bool on)
{
    getOrCreateStateSet()->setMode(GL_LIGHTING, (on ? osg::StateAttribute::ON : osg::StateAttribute::OFF) |
                                                    osg::StateAttribute::PROTECTED);
}

void ARObject::subscribe(ARObject* /*subscriber*/)
{
    osg::notify(osg::NOTICE) << " ARObject::subscribe..." << std::endl;
}

void ARObject::unsubscribe(ARObject* /*subscriber*/)
{
    osg::notify(osg::NOTICE) << " ARObject::unsubscribe..." << std::endl;
}

void ARObject::notify(const std::string& message)
{
    osg::notify(osg::NOTICE) << " ARObject::notify... " << message << "..." << std::endl;
}

void ARObject::setActionFactory(std::unique_ptr<AREventActionFactory> factory)
{
    if (!factory)
        return;
    // The lists point at actions of the old factory, which go with it.
    for (std::vector<AREventAction*>& actions : _eventActions)
        actions.clear();
    _actionFactory = std::move(factory);
}

const std::vector<AREventAction*>& ARObject::getEventActions(Event event) const
{
    static const std::vector<AREventAction*> none;
    return event >= 0 && event < EVENT_COUNT ? _eventActions[event] : none;
}

} // namespace Novaro
