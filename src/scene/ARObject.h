#pragma once

#include "scene/AREventAction.h"
#include "scene/AREventActionFactory.h"
#include "scene/ARPausableAnimations.h"
#include "scene/ARPickable.h"
#include "scene/ARSceneContext.h"
#include "tracking/ARMarkerListener.h"

#include <osg/AnimationPath>
#include <osg/ImageStream>
#include <osg/Quat>
#include <osg/Vec3f>
#include <osg/observer_ptr>
#include <osgAnimation/BasicAnimationManager>

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Novaro
{

class EventData;

// One object of the scene, hung under the marker(s) it belongs to: a transform holding the
// object's content (a model, or a sub-model taken out of one) with the object's own translation,
// scale and rotation, its selection, freeze and visibility state, and one action list per event.
// The node name is the object's name.
//
// Movies play on the model's planes named in the scene's videos table (video textures).
//
// The content's path animations and its first skeletal/channel animation manager are controlled
// by name (an empty name means all of them); they start paused and play once.
class ARObject : public ARPickable, public ARMarkerListener
{
public:
    // The events, in the order of their action lists.
    enum Event
    {
        ON_LEFT_MOUSE_CLICK,
        ON_RIGHT_MOUSE_CLICK,
        ON_LEFT_MOUSE_DOUBLE_CLICK,
        ON_RIGHT_MOUSE_DOUBLE_CLICK,
        ON_MOUSE_OVER,
        ON_MOUSE_IN,
        ON_MOUSE_OUT,
        ON_HIDE,
        ON_SHOW,
        ON_INIT,
        ON_NOTIFY,
        ON_SELECT,
        ON_UNSELECT,
        ON_FREEZE,
        ON_UNFREEZE,
        ON_MARKER_DETECTED,
        ON_MARKER_LOST,
        EVENT_COUNT
    };
    // The event's name in events files ("on_left_mouse_click", ...).
    static const char* getEventName(Event event);

    // No content.
    ARObject();
    // 'content' (if any) becomes the only child.
    explicit ARObject(osg::Node* content);
    // The sub-node of 'model' named 'subNodeName', with the transforms, skeletons and path
    // animations above it in the model but without its siblings.
    ARObject(osg::Node* model, const std::string& subNodeName);
    // The model read from the file (no child when it cannot be read).
    explicit ARObject(const std::string& modelFile);
    // The sub-node of the model read from the file.
    ARObject(const std::string& modelFile, const std::string& subNodeName);

    virtual void setTranslation(float x, float y, float z);
    virtual void setScale(float x, float y, float z);
    virtual void setRotation(double x, double y, double z, double w);
    virtual void setUniformScale(float scale);
    // Uniform scale (step + 1) times the current x scale; a negative step shrinks.
    virtual void scaleBy(float step);
    virtual osg::Vec3f getScale() const { return _scale; }
    virtual void select();
    virtual void unselect();
    virtual void toggleSelect();
    virtual void freeze();
    virtual void unfreeze();
    virtual void toggleFreeze();
    // Shares duplicate state and merges geometry; never for animated content.
    virtual void optimize();

    // Event hooks: each runs its event's actions in order. The seven mouse hooks come from
    // ARPickable.
    void onLeftMouseClick() override;
    void onRightMouseClick() override;
    void onLeftMouseDoubleClick() override;
    void onRightMouseDoubleClick() override;
    void onMouseOver() override;
    void onMouseIn() override;
    void onMouseOut() override;
    virtual void onHide();
    virtual void onShow();
    virtual void onInit();
    virtual void onNotify();
    virtual void onSelect();
    virtual void onUnselect();
    virtual void onFreeze();
    virtual void onUnfreeze();
    void onMarkerDetected() override;
    void onMarkerLost() override;

    // True when the events file declared an event of that name, known or not.
    virtual bool hasEvent(const std::string& name) const;
    // Back to the start state: not selected, not hidden, selectable, not an occluder, no context,
    // no marker.
    virtual bool reset();
    // Node matrix = rotation x scale x translation (a vertex is rotated, scaled, then moved).
    virtual void updateMatrix();

    // Builds the action lists from an events file; unknown commands are skipped. Unknown
    // commands and event names are reported naming the file and the object.
    void loadEvents(const std::string& eventsFile);
    // The events file last given to loadEvents (empty when none), for messages.
    const std::string& getEventsFile() const { return _eventsFile; }
    // One visible line naming the events file, this object and a name of 'kind' that the file
    // uses but nothing knows, with the closest of the known names when one is close.
    void reportUnknownName(const std::string& kind, const std::string& name,
                           const std::vector<std::string>& known) const;

    // Called by the hide and show actions. An event that comes back to itself through its
    // actions (an "on_hide" hiding its own object, two objects hiding each other) is not run a
    // second time: the loop is cut there and reported once.
    void hide();
    void show();
    bool isHidden() const { return _hidden; }
    // Leaves the object out of the traversals of those node-mask bits for good: show() no longer
    // sets them.
    void clearNodeMaskBits(unsigned int bits);

    void addMarker(int id);
    int getMarkerId() const override { return _markerId; }
    const std::vector<int>& getMarkerIds() const { return _markerIds; }

    void setContext(ARSceneContext* context) { _context = context; }
    ARSceneContext* getContext() const { return _context; }
    // Hands the context to the action factory and prepares the actions (before the first frame).
    void resetActions();

    // Drawn into the depth buffer only: hides what is behind it and lets the video show through.
    void setOccluder();
    bool isOccluder() const { return _occluder; }
    // Shows an occluder as half-transparent red, or hides it again; nothing for other objects.
    void showOccluder(bool visible);

    void setLighting(bool on);

    // Called by the subscribe, unsubscribe and notify actions; they only report. Scenes written for
    // the player name these commands, so they are read and run rather than refused, but objects
    // have no messages to pass on to subscribers: the line says the event reached its action.
    void subscribe(ARObject* subscriber);
    void unsubscribe(ARObject* subscriber);
    void notify(const std::string& message);

    const std::string& getDescription() const { return _description; }
    void setDescription(const std::string& description) { _description = description; }

    const osg::Vec3f& getTranslation() const { return _translation; }
    const osg::Quat& getRotation() const { return _rotation; }
    bool isSelected() const { return _selected; }
    bool isFrozen() const { return _frozen; }
    bool isSelectable() const { return _selectable; }
    void setSelectable(bool selectable) { _selectable = selectable; }
    bool isOptimizeEnabled() const { return _optimizeEnabled; }

    // Video textures: for each tag of the scene's videos table whose node is in the model, that
    // node's plane shows the tag's movie. They are named by the movie text as the table writes
    // it; operations taking a name act on every video texture of that name, or on all of them for
    // an empty name. Set up once, through the object's context (application).
    void setupVideoTextures();
    void playVideo(const std::string& name);
    void pauseVideo(const std::string& name);
    void togglePauseVideo(const std::string& name);
    void rewindVideo(const std::string& name);
    void loopVideo(bool loop, const std::string& name);
    void goFullscreenVideo(const std::string& name);
    void resignFullscreenVideo(const std::string& name);
    // Rewinds every video texture (at shutdown).
    void stopVideoTextures();

    // Animation control by name: a path animation is named after the node it moves, a managed
    // animation by its own name; an empty name means every animation of the object.
    void startAnimation(const std::string& name);
    void togglePauseAnimation(const std::string& name);
    void stopAnimation(const std::string& name);
    void rewindAnimation(const std::string& name);
    void setAnimationLoop(const std::string& name, bool loop);
    // The speed operations change path animations only; managed animations keep their own speed.
    void changeAnimationSpeed(const std::string& name, double amount);
    void setAnimationSpeed(const std::string& name, double speed);
    const std::vector<osg::ref_ptr<osg::AnimationPathCallback>>& getPathAnimations() const
    {
        return _pathCallbacks;
    }
    // The content's skeletal/channel animations, pause-capable (see getAnimationPause), or none.
    osgAnimation::BasicAnimationManager* getAnimationManager() const { return _animationManager.get(); }
    ARPausableAnimations* getAnimationPause() const { return _animationPause; }
    const std::vector<std::string>& getVideoNames() const { return _videoNames; }
    const std::vector<osg::ref_ptr<osg::ImageStream>>& getVideoStreams() const { return _videoStreams; }

    // None when no interaction layer is installed (ARObjectExtensions).
    AREventActionFactory* getActionFactory() const { return _actionFactory.get(); }
    // The object keeps the factory; the actions of the one replaced go with it, and the event
    // lists start empty again.
    void setActionFactory(std::unique_ptr<AREventActionFactory> factory);
    const std::vector<AREventAction*>& getEventActions(Event event) const;

    // The marker side: the object is the node placed on its markers.
    osg::Node* asNode() override { return this; }
    bool servesWholeMarker() const override { return false; }
    void contentBoundsChanged(const osg::BoundingBox&) override {}

protected:
    ~ARObject() override;

private:
    void initialise(osg::Node* content);
    static osg::ref_ptr<osg::Node> extractSubNode(osg::Node* model, const std::string& subNodeName);
    void setUpAnimations();
    std::vector<osg::AnimationPathCallback*> selectPathAnimations(const std::string& name) const;
    std::vector<osgAnimation::Animation*> selectManagedAnimations(const std::string& name) const;
    void playStoppedAnimations(const std::string& name);
    void runEvent(Event event);
    void reportEventLoop(Event event);
    void setupVideoTexture(const std::string& tag, const std::string& movie,
                           const std::string& temporaryDirectory);
    // The streams of the video textures that 'name' selects (all for an empty name), in order.
    std::vector<osg::ImageStream*> selectVideos(const std::string& name) const;
    std::vector<AREventAction*> buildActionList(const EventData& event);

    osg::Vec3f _translation = osg::Vec3f(0.0f, 0.0f, 0.0f);
    osg::Vec3f _scale = osg::Vec3f(0.0f, 0.0f, 0.0f);
    osg::Quat _rotation = osg::Quat(0.0, 0.0, 0.0, 1.0);
    std::vector<std::string> _videoNames;
    std::vector<osg::ref_ptr<osg::ImageStream>> _videoStreams;
    std::vector<osg::ref_ptr<osg::AnimationPathCallback>> _pathCallbacks;
    std::vector<osg::observer_ptr<osg::Node>> _pathAnimatedNodes;
    osg::ref_ptr<osgAnimation::BasicAnimationManager> _animationManager;
    ARPausableAnimations* _animationPause = nullptr; // the same manager's pause
    int _markerId = -1;
    std::vector<int> _markerIds;
    bool _selected = false;
    bool _frozen = false;
    bool _hidden = false;
    unsigned int _shownNodeMask = 0xFFFFFFFF;
    bool _selectable = true;
    bool _occluder = false;
    std::string _description;
    bool _optimizeEnabled = true;
    ARSceneContext* _context = nullptr;
    std::unique_ptr<AREventActionFactory> _actionFactory;
    std::array<std::vector<AREventAction*>, EVENT_COUNT> _eventActions;
    std::map<std::string, bool> _declaredEvents;
    std::string _eventsFile;
    // The event loops through this object already reported, so that each is reported once.
    std::set<std::string> _reportedEventLoops;
};

} // namespace Novaro
