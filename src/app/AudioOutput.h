#pragma once

namespace Novaro
{

// The sound output of this machine. On a machine without a sound device the audio library keeps
// failing (and complaining) on every buffer it streams; there the player plays into OpenAL Soft's
// silent "null" output instead, so sounds keep their state and timing without a device.
namespace AudioOutput
{

// Probes the default output device in a child process, so the audio library of this process is
// still unconfigured, and chooses the silent output when none opens. A driver list the user set
// (ALSOFT_DRIVERS) is left as it is. Returns true when a real device is used.
bool chooseDriver();

} // namespace AudioOutput
} // namespace Novaro
