#pragma once

#include "settings/ApplicationHint.h"

namespace Novaro
{

// What a marker node needs from the run it belongs to: the authoring host that wrote the scene,
// whose axes decide how content is fitted to the marker. The application implements it.
class ARMarkerContext
{
public:
    virtual ~ARMarkerContext() = default;

    virtual ApplicationHint getApplicationHint() const = 0;

protected:
    ARMarkerContext() = default;
    ARMarkerContext(const ARMarkerContext&) = default;
    ARMarkerContext& operator=(const ARMarkerContext&) = default;
};

} // namespace Novaro
