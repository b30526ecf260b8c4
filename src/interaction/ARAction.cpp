#include "interaction/ARAction.h"

#include "interaction/ARActionFactory.h"

#include <cstdlib>

namespace Novaro
{

bool ARAction::prepare()
{
    if (_factory == nullptr)
        return false;
    // A name that matched nothing stays unresolved until the next prepare.
    if (_source == nullptr)
        _source = _factory->resolveObject(_sourceName);
    if (_target == nullptr)
        _target = _factory->resolveObject(_targetName);
    return true;
}

float ARAction::getNumberParameter(const std::string& name)
{
    return static_cast<float>(std::strtod(getParameter(name).c_str(), nullptr));
}

} // namespace Novaro
