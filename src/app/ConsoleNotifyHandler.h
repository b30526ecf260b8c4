#pragma once

#include <osg/Notify>

namespace Novaro
{

// Writes every notification line to standard output, in the order the lines are produced.
// The library's default handler splits severities between stdout and stderr, which reorders the
// console when both are piped to one place.
class ConsoleNotifyHandler : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity severity, const char* message) override;
};

} // namespace Novaro
