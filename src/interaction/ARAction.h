#pragma once

#include "scene/AREventAction.h"

#include <map>
#include <string>

namespace Novaro
{

class ARActionFactory;
class ARObject;

// One command that a scene object runs when one of its events fires, as read from the object's
// events file. Before the first frame prepare() resolves the source and target names to scene
// objects ("_self_" is the object that owns the event); execute() then acts on them. The
// command classes derive from this one; the factory that created an action owns it.
class ARAction : public AREventAction
{
public:
    ARAction() = default;
    ~ARAction() override = default;

    ARAction(const ARAction&) = delete;
    ARAction& operator=(const ARAction&) = delete;

    // Resolves the source and target objects that are still unresolved, through the factory.
    // False, and nothing resolved, while the action has no factory.
    virtual bool prepare();
    // Runs the command; false when it could not act (for instance an unresolved target).
    bool execute() override = 0;

    ARObject* getSource() const { return _source; }
    ARObject* getTarget() const { return _target; }

    const std::string& getSourceName() const { return _sourceName; }
    void setSourceName(const std::string& name) { _sourceName = name; }
    const std::string& getTargetName() const { return _targetName; }
    void setTargetName(const std::string& name) { _targetName = name; }

    const std::string& getCommand() const { return _command; }
    void setCommand(const std::string& command) { _command = command; }

    const std::map<std::string, std::string>& getParameters() const { return _parameters; }
    void setParameter(const std::string& name, const std::string& value) { _parameters[name] = value; }
    // The value of a parameter; an absent one reads as empty text and is added as such.
    const std::string& getParameter(const std::string& name) { return _parameters[name]; }
    // A flag parameter is on only when it reads exactly "true" ("True" and "1" are off).
    bool getFlagParameter(const std::string& name) { return getParameter(name) == "true"; }
    // A number parameter as the C library reads it: absent or not numeric reads as 0.
    float getNumberParameter(const std::string& name);

    ARActionFactory* getFactory() const { return _factory; }
    void setFactory(ARActionFactory* factory) { _factory = factory; }

private:
    ARObject* _source = nullptr;
    ARObject* _target = nullptr;
    std::string _sourceName = "_self_";
    std::string _targetName = "_self_";
    std::string _command;
    std::map<std::string, std::string> _parameters;
    ARActionFactory* _factory = nullptr;
};

} // namespace Novaro
