#pragma once

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

// One action as read: which object it comes from, which it acts on, the command and its
// parameters. "_self_" names the object that owns the event.
class ActionData
{
public:
    ActionData() = default;

    const std::string& getSource() const { return source_; }
    void setSource(const std::string& source) { source_ = source; }

    const std::string& getTarget() const { return target_; }
    void setTarget(const std::string& target) { target_ = target; }

    const std::string& getCommand() const { return command_; }
    void setCommand(const std::string& command) { command_ = command; }

    // Parameter name to value.
    const std::map<std::string, std::string>& getParameters() const { return parameters_; }
    std::map<std::string, std::string>& getParameters() { return parameters_; }
    void setParameters(const std::map<std::string, std::string>& parameters) { parameters_ = parameters; }

private:
    std::string source_ = "_self_";
    std::string target_ = "_self_";
    std::string command_;
    std::map<std::string, std::string> parameters_;
};

// One event of an object and the actions it runs, in file order.
class EventData
{
public:
    EventData() = default;

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::vector<ActionData>& getActions() const { return actions_; }
    std::vector<ActionData>& getActions() { return actions_; }

private:
    std::string name_;
    std::vector<ActionData> actions_;
};

// An events file as read: its name and its events in file order (names may repeat).
class EventsData
{
public:
    EventsData() = default;

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::vector<EventData>& getEvents() const { return events_; }
    std::vector<EventData>& getEvents() { return events_; }

private:
    std::string name_;
    std::vector<EventData> events_;
};

} // namespace Novaro
