#pragma once

namespace Novaro
{

// One step of a scene object's event: the object runs its event's steps in order and knows
// nothing else of them. The interaction layer's actions implement it.
class AREventAction
{
public:
    virtual ~AREventAction() = default;

    // False when the step could not act (for instance an unresolved target).
    virtual bool execute() = 0;

protected:
    AREventAction() = default;
    AREventAction(const AREventAction&) = default;
    AREventAction& operator=(const AREventAction&) = default;
};

} // namespace Novaro
