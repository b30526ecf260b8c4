#pragma once

namespace Novaro
{

// The pause of a scene object's skeletal and channel animations: while paused their time stands
// still. The interaction layer's animation manager implements it.
class ARPausableAnimations
{
public:
    virtual ~ARPausableAnimations() = default;

    virtual bool isPaused() const = 0;
    virtual void setPaused(bool paused) = 0;
    virtual void togglePaused() = 0;

protected:
    ARPausableAnimations() = default;
    ARPausableAnimations(const ARPausableAnimations&) = default;
    ARPausableAnimations& operator=(const ARPausableAnimations&) = default;
};

} // namespace Novaro
