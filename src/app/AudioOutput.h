#pragma once

#include <string>

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

// What the output plays: sounds outside these bounds come from broken or hostile files, and the
// audio library sizes a stream's buffers after them (one second of every channel) before playing:
// 65535 channels would take 2 GB. 7.1 sound has 8 channels; 8 kHz (telephone) to 192 kHz (studio)
// spans the rates in use.
const unsigned int maximumChannels = 8;
const unsigned int minimumSampleRateHz = 8000;
const unsigned int maximumSampleRateHz = 192000;

// Reads only the sound file's header and checks it against the bounds above. Returns an empty
// text when the sound can be played, else why not ("65535 channels (at most 8)").
std::string checkPlayable(const std::string& path);

} // namespace AudioOutput
} // namespace Novaro
