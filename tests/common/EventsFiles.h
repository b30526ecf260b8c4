#pragma once

// Events files as the exporter writes them, built from small pieces so that a test shows only
// the events and actions it is about.

#include <map>
#include <string>

namespace NovaroTest
{

// One action of the command on the target, by an object acting for itself.
inline std::string actionXml(const std::string& command, const std::string& target,
                             const std::map<std::string, std::string>& parameters = {})
{
    std::string xml =
        "<action source=\"_self_\" target=\"" + target + "\"><command>" + command + "</command>";
    if (!parameters.empty())
    {
        xml += "<parameters>";
        for (const auto& parameter : parameters)
            xml += "<parameter name=\"" + parameter.first + "\">" + parameter.second + "</parameter>";
        xml += "</parameters>";
    }
    return xml + "</action>";
}

inline std::string eventXml(const std::string& name, const std::string& actions)
{
    return "<event name=\"" + name + "\"><actions>" + actions + "</actions></event>";
}

// The whole file of an object's events.
inline std::string eventsFileXml(const std::string& name, const std::string& events)
{
    return "<?xml version=\"1.0\"?>\n<events name=\"" + name + "\">" + events + "</events>\n";
}

} // namespace NovaroTest
