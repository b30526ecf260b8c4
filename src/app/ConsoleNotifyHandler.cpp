#include "app/ConsoleNotifyHandler.h"

#include <cstdio>

namespace Novaro
{

void ConsoleNotifyHandler::notify(osg::NotifySeverity, const char* message)
{
    std::fputs(message, stdout);
    std::fflush(stdout);
}

} // namespace Novaro
