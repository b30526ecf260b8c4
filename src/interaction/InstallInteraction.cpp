// Linked into every program built on the whole player (novaro_core), so that scene objects made
// before any application (in tests and tools) already have their actions and animation control.
#include "interaction/ARInteractionExtensions.h"

namespace
{

const bool installed = (Novaro::ARInteractionExtensions::install(), true);

} // namespace
