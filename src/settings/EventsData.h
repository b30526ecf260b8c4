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

    const std::string& getSource() const { return _source; }
    void setSource(const std::string& source) { _source = source; }

    const std::string& getTarget() const { return _target; }
    void setTarget(const std::string& target) { _target = target; }

    const std::string& getCommand() const { return _command; }
    void setCommand(const std::string& command) { _command = command; }

    // Parameter name to value.
    const std::map<std::string, std::string>& getParameters() const { return _parameters; }
    std::map<std::string, std::string>& getParameters() { return _parameters; }
    void setParameters(const std::map<std::string, std::string>& parameters) { _parameters = parameters; }

    // The line of its <action> element in its file, for messages; 0 when unknown.
    int getLine() const { return _line; }
    void setLine(int line) { _line = line; }

private:
    int _line = 0;
    std::string _source = "_self_";
    std::string _target = "_self_";
    std::string _command;
    std::map<std::string, std::string> _parameters;
};

// One event of an object and the actions it runs, in file order.
class EventData
{
public:
    EventData() = default;

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::vector<ActionData>& getActions() const { return _actions; }
    std::vector<ActionData>& getActions() { return _actions; }

private:
    std::string _name;
    std::vector<ActionData> _actions;
};

// An events file as read: its name and its events in file order (names may repeat).
class EventsData
{
public:
    EventsData() = default;

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::vector<EventData>& getEvents() const { return _events; }
    std::vector<EventData>& getEvents() { return _events; }

private:
    std::string _name;
    std::vector<EventData> _events;
};

} // namespace Novaro
