#include "ARActionFactory.h"

#include "ARAction.h"
#include "ARApplication.h"
#include "ARObject.h"

#include <osg/Notify>

namespace Novaro
{

ARActionFactory::ARActionFactory(ARObject* owner) : m_owner(owner) {}

ARActionFactory::~ARActionFactory() = default;

std::unique_ptr<ARAction> ARActionFactory::create(const std::string& command) const
{
    if (m_commands.find(command) == m_commands.end())
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
    m_actions.push_back(std::move(action));
    return m_actions.back().get();
}

void ARActionFactory::prepareActions()
{
    if (m_context == nullptr)
        return;
    for (const std::unique_ptr<ARAction>& action : m_actions)
        action->prepare();
}

ARObject* ARActionFactory::resolveObject(const std::string& name) const
{
    if (name == "_self_")
        return m_owner;
    if (m_context == nullptr)
        return nullptr;
    for (ARObject* object : m_context->getObjects())
        if (object != nullptr && object->getName() == name)
            return object;
    return nullptr;
}

} // namespace Novaro
