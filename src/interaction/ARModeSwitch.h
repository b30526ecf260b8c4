#pragma once

namespace Novaro
{

// Installs the keyboard mode of that number (0 visualization ... 7 lighting) with its help panel.
// The application implements it, as it owns the modes' handlers.
class ARModeSwitch
{
public:
    virtual ~ARModeSwitch() = default;

    virtual void setInterface(unsigned int mode) = 0;

protected:
    ARModeSwitch() = default;
    ARModeSwitch(const ARModeSwitch&) = default;
    ARModeSwitch& operator=(const ARModeSwitch&) = default;
};

} // namespace Novaro
