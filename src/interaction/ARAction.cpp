#include "ARAction.h"

#include "ARActionFactory.h"

namespace Novaro
{

bool ARAction::prepare()
{
    if (m_factory == nullptr)
        return false;
    // A name that matched nothing stays unresolved until the next prepare.
    if (m_source == nullptr)
        m_source = m_factory->resolveObject(m_sourceName);
    if (m_target == nullptr)
        m_target = m_factory->resolveObject(m_targetName);
    return true;
}

} // namespace Novaro
