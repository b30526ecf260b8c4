#pragma once

namespace Novaro
{

// The authoring host that wrote the scene, as named by the scene settings.
enum ApplicationHint
{
    HINT_NONE = 0,
    HINT_SKETCHUP = 1,
    HINT_3DSMAX = 2,
    HINT_SCIA_ENGINEER = 3,
    HINT_VECTORWORKS = 4,
    HINT_MAYA = 5,
    HINT_CINEMA4D = 6
};

} // namespace Novaro
