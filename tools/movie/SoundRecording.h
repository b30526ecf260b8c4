#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace NovaroTest
{

// A WAV file as OpenAL Soft's "wave" back end records the player's sound output, mixed down to
// mono. Reads 16-bit integer and 32-bit float samples, plain or in the extensible format; a
// recording cut short (its sizes never written) is read up to the end of the file.
struct SoundRecording
{
    int sampleRate = 0;
    std::vector<float> samples; // -1 to 1

    bool read(const std::string& path);
    double seconds() const { return sampleRate > 0 ? static_cast<double>(samples.size()) / sampleRate : 0.0; }
    // The amplitude of the 'hz' component over samples [first, first + count) (Goertzel), 0 to 1
    // for a full-scale sine.
    double toneAmplitude(double hz, size_t first, size_t count) const;
    // The loudest absolute sample of a span.
    float peak(size_t first, size_t count) const;
};

// The configuration that makes OpenAL Soft record everything it plays into 'wavePath' (16-bit
// stereo at 44100 Hz): write it to a file and point ALSOFT_CONF at it, with ALSOFT_DRIVERS=wave.
std::string waveRecorderConfiguration(const std::string& wavePath);

} // namespace NovaroTest
