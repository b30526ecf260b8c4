#include "interaction/ARActionFactory.h"

#include "interaction/ARAction.h"
#include "interaction/ARActions.h"
#include "scene/ARObject.h"
#include "scene/ARSceneContext.h"
#include "settings/EventsData.h"

#include <osg/Notify>

namespace Novaro
{

namespace
{

template <typename Action> std::unique_ptr<ARAction> makeAction()
{
    return std::make_unique<Action>();
}

// The command table: a command's code is its row.
struct Command
{
    const char* name;
    std::unique_ptr<ARAction> (*create)();
};
const Command commandTable[] = {
    {"start_animation", makeAction<ARActionStartAnimation>},
    {"pause_animation", makeAction<ARActionPauseAnimation>},
    {"stop_animation", makeAction<ARActionStopAnimation>},
    {"rewind_animation", makeAction<ARActionRewindAnimation>},
    {"set_animation_loop", makeAction<ARActionSetAnimationLoop>},
    {"change_animation_speed", makeAction<ARActionChangeAnimationSpeed>},
    {"set_animation_speed", makeAction<ARActionSetAnimationSpeed>},
    {"hide", makeAction<ARActionHide>},
    {"show", makeAction<ARActionShow>},
    {"play_video", makeAction<ARActionPlayVideo>},
    {"pause_video", makeAction<ARActionPauseVideo>},
    {"toggle_pause_video", makeAction<ARActionTogglePauseVideo>},
    {"rewind_video", makeAction<ARActionRewindVideo>},
    {"loop_video", makeAction<ARActionLoopVideo>},
    {"go_fullscreen_video", makeAction<ARActionGoFullscreenVideo>},
    {"resign_fullscreen_video", makeAction<ARActionResignFullscreenVideo>},
    {"notify", makeAction<ARActionNotify>},
    {"subscribe", makeAction<ARActionSubscribe>},
    {"unsubscribe", makeAction<ARActionUnsubscribe>},
    {"play", makeAction<ARActionPlay>},
    {"pause", makeAction<ARActionPause>},
    {"toggle", makeAction<ARActionToggle>},
    {"rewind", makeAction<ARActionRewind>},
    {"loop", makeAction<ARActionLoop>},
    {"go_fullscreen", makeAction<ARActionGoFullscreen>},
    {"resign_fullscreen", makeAction<ARActionResignFullscreen>},
    {"hide_menu", makeAction<ARActionHideMenu>},
    {"show_menu", makeAction<ARActionShowMenu>},
    {"toggle_menu", makeAction<ARActionToggleMenu>},
    {"hide_selection_box", makeAction<ARActionHideSelectionBox>},
    {"show_selection_box", makeAction<ARActionShowSelectionBox>},
    {"toggle_selection_box", makeAction<ARActionToggleSelectionBox>},
};

} // namespace

ARActionFactory::ARActionFactory(ARObject* owner) : _owner(owner)
{
    int code = 0;
    for (const Command& command : commandTable)
        _commands[command.name] = code++;
}

ARActionFactory::~ARActionFactory() = default;

std::unique_ptr<ARAction> ARActionFactory::create(const std::string& command) const
{
    const auto found = _commands.find(command);
    if (found == _commands.end())
    {
        osg::notify(osg::NOTICE) << " WARNING: unknown command for action." << std::endl;
        return nullptr;
    }
    return commandTable[found->second].create();
}

ARAction* ARActionFactory::registerAction(std::unique_ptr<ARAction> action)
{
    if (!action)
        return nullptr;
    action->setFactory(this);
    _actions.push_back(std::move(action));
    return _actions.back().get();
}

AREventAction* ARActionFactory::createAction(const ActionData& entry)
{
    std::unique_ptr<ARAction> action = create(entry.getCommand());
    if (!action)
        return nullptr;
    action->setCommand(entry.getCommand());
    action->setSourceName(entry.getSource());
    action->setTargetName(entry.getTarget());
    for (const auto& parameter : entry.getParameters())
        action->setParameter(parameter.first, parameter.second);
    return registerAction(std::move(action));
}

std::vector<std::string> ARActionFactory::getCommandNames() const
{
    std::vector<std::string> names;
    for (const auto& command : _commands)
        names.push_back(command.first);
    return names;
}

void ARActionFactory::prepareActions()
{
    if (_context == nullptr)
        return;
    for (const std::unique_ptr<ARAction>& action : _actions)
    {
        action->prepare();
        if (action->getSource() == nullptr)
            reportUnresolved(action->getSourceName());
        if (action->getTarget() == nullptr)
            reportUnresolved(action->getTargetName());
    }
}

// An action aimed at nobody does nothing when its event fires; the events file is where the author
// has to look, so the line names it.
void ARActionFactory::reportUnresolved(const std::string& name)
{
    if (_owner == nullptr || !_reportedNames.insert(name).second)
        return;
    std::vector<std::string> known;
    for (ARObject* object : _context->getObjects())
        if (object != nullptr)
            known.push_back(object->getName());
    _owner->reportUnknownName("object", name, known);
}

ARObject* ARActionFactory::resolveObject(const std::string& name) const
{
    if (name == "_self_")
        return _owner;
    if (_context == nullptr)
        return nullptr;
    for (ARObject* object : _context->getObjects())
        if (object != nullptr && object->getName() == name)
            return object;
    return nullptr;
}

} // namespace Novaro
