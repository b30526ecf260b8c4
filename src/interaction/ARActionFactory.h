#pragma once

#include "scene/AREventActionFactory.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Novaro
{

class ARAction;
class ARObject;
class ARSceneContext;

// Creates the actions of one scene object's events and owns them. Each object has its own
// factory, bound to it at construction; the run (the context) is handed over before the first
// frame so that the actions can find the objects they name.
class ARActionFactory : public AREventActionFactory
{
public:
    explicit ARActionFactory(ARObject* owner);
    ~ARActionFactory() override;

    ARActionFactory(const ARActionFactory&) = delete;
    ARActionFactory& operator=(const ARActionFactory&) = delete;

    // A new action of the command's class, or none (after " WARNING: unknown command for
    // action.") for a command the table does not hold.
    virtual std::unique_ptr<ARAction> create(const std::string& command) const;

    // Takes the action over and becomes its factory.
    ARAction* registerAction(std::unique_ptr<ARAction> action);
    // create() with the entry's command, names and parameters, registered; none for an unknown
    // command.
    AREventAction* createAction(const ActionData& entry) override;
    std::vector<std::string> getCommandNames() const override;

    // Prepares every action, in creation order; only once the context is set. A source or target
    // name that matches no object is reported once.
    void prepareActions() override;

    // "_self_" is the owner; any other name is the first scene object of the context with
    // exactly that name. None without a context or without a match.
    ARObject* resolveObject(const std::string& name) const;

    void setContext(ARSceneContext* context) override { _context = context; }
    ARSceneContext* getContext() const override { return _context; }
    ARObject* getOwner() const { return _owner; }
    const std::map<std::string, int>& getCommands() const { return _commands; }
    size_t getActionCount() const { return _actions.size(); }

private:
    void reportUnresolved(const std::string& name);

    ARSceneContext* _context = nullptr;
    ARObject* _owner;
    // Command name to command code, the same for every factory.
    std::map<std::string, int> _commands;
    std::vector<std::unique_ptr<ARAction>> _actions;
    std::set<std::string> _reportedNames; // unresolved names already reported
};

} // namespace Novaro
