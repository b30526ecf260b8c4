#pragma once

#include <string>
#include <vector>

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

// A sound held in memory (an audio object's sample) is read whole before it plays; headers may
// claim any length, so no more than this many 16-bit samples are kept: 256 MB, some 23 minutes of
// 48 kHz stereo. Longer sounds are streamed (ogg).
const unsigned long long maximumHeldSamples = 1ull << 27;

// Reads only the sound file's header and checks it against the bounds above. Returns an empty
// text when the sound can be played, else why not ("65535 channels (plays 1, 2, 4, 6, 7 or 8)"). Both the
// soundtracks and the audio objects ask it before they open a sound.
std::string checkPlayable(const std::string& path);

// Reads the whole sound into 'samples' (interleaved), as much as the file really holds whatever
// its header claims, and at most maximumHeldSamples. Returns an empty text on success, else why
// not. Checks the file with checkPlayable first.
std::string readSamples(const std::string& path, std::vector<short>& samples, unsigned int& channels,
                        unsigned int& sampleRate);

} // namespace AudioOutput
} // namespace Novaro
