#include "ARActionFactory.h"

#include "ARAction.h"
#include "ARApplication.h"
#include "ARObject.h"

#include <osg/Notify>

namespace Novaro
{

ARActionFactory::ARActionFactory(ARObject* owner) : _owner(owner) {}

ARActionFactory::~ARActionFactory() = default;

std::unique_ptr<ARAction> ARActionFactory::create(const std::string& command) const
{
    if (_commands.find(command) == _commands.end())
    {
        osg::notify(osg::NOTICE) << " WARNING: unknown command for action." << std::endl;
        return nullptr;
    }
    // Each command code will construct its class here; the table holds none yet.
    return nullptr;
}

ARAction* ARActionFactory::registerAction(std::unique_ptr<ARAction> action)
{
    if (!action)
        return nullptr;
    action->setFactory(this);
    _actions.push_back(std::move(action));
    return _actions.back().get();
}

void ARActionFactory::prepareActions()
{
    if (_context == nullptr)
        return;
    for (const std::unique_ptr<ARAction>& action : _actions)
        action->prepare();
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
