#pragma once

namespace Novaro
{

class ARClippingManager;
class ARShadowsManager;

// The run's effect managers, for the clipping and lighting modes; either may be none. The
// application implements it, as it owns them.
class AREffectsService
{
public:
    virtual ~AREffectsService() = default;

    virtual ARShadowsManager* getShadowsManager() const = 0;
    virtual ARClippingManager* getClippingManager() const = 0;
    // Shows the clipped content of the marker that holds the clipping manager, or the plain one.
    virtual void setClippingEnabled(bool enabled) = 0;

protected:
    AREffectsService() = default;
    AREffectsService(const AREffectsService&) = default;
    AREffectsService& operator=(const AREffectsService&) = default;
};

} // namespace Novaro
