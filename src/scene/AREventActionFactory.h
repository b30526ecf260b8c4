#pragma once

#include <string>
#include <vector>

namespace Novaro
{

class ActionData;
class AREventAction;
class ARSceneContext;

// Makes and keeps the steps of one scene object's events from its events file. The interaction
// layer's action factory implements it; each object owns one.
class AREventActionFactory
{
public:
    virtual ~AREventActionFactory() = default;

    // A new step for the entry (command, source, target, parameters), kept by the factory; none
    // for a command it does not know.
    virtual AREventAction* createAction(const ActionData& entry) = 0;
    // The commands it knows, for the message naming an unknown one.
    virtual std::vector<std::string> getCommandNames() const = 0;
    // The run the steps look their objects up in.
    virtual void setContext(ARSceneContext* context) = 0;
    virtual ARSceneContext* getContext() const = 0;
    // Resolves the objects every step names (only once a context is set).
    virtual void prepareActions() = 0;

protected:
    AREventActionFactory() = default;
    AREventActionFactory(const AREventActionFactory&) = default;
    AREventActionFactory& operator=(const AREventActionFactory&) = default;
};

} // namespace Novaro
