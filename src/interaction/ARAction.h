#pragma once

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
class ARAction
{
public:
    ARAction() = default;
    virtual ~ARAction() = default;

    ARAction(const ARAction&) = delete;
    ARAction& operator=(const ARAction&) = delete;

    // Resolves the source and target objects that are still unresolved, through the factory.
    // False, and nothing resolved, while the action has no factory.
    virtual bool prepare();
    // Runs the command; false when it could not act (for instance an unresolved target).
    virtual bool execute() = 0;

    ARObject* getSource() const { return m_source; }
    ARObject* getTarget() const { return m_target; }

    const std::string& getSourceName() const { return m_sourceName; }
    void setSourceName(const std::string& name) { m_sourceName = name; }
    const std::string& getTargetName() const { return m_targetName; }
    void setTargetName(const std::string& name) { m_targetName = name; }

    const std::string& getCommand() const { return m_command; }
    void setCommand(const std::string& command) { m_command = command; }

    const std::map<std::string, std::string>& getParameters() const { return m_parameters; }
    void setParameter(const std::string& name, const std::string& value) { m_parameters[name] = value; }
    // The value of a parameter; an absent one reads as empty text and is added as such.
    const std::string& getParameter(const std::string& name) { return m_parameters[name]; }

    ARActionFactory* getFactory() const { return m_factory; }
    void setFactory(ARActionFactory* factory) { m_factory = factory; }

private:
    ARObject* m_source = nullptr;
    ARObject* m_target = nullptr;
    std::string m_sourceName = "_self_";
    std::string m_targetName = "_self_";
    std::string m_command;
    std::map<std::string, std::string> m_parameters;
    ARActionFactory* m_factory = nullptr;
};

} // namespace Novaro
