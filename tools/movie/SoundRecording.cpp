#include "SoundRecording.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace NovaroTest
{

namespace
{

uint32_t littleEndian(const unsigned char* bytes, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

const uint16_t pcmFormat = 1;
const uint16_t floatFormat = 3;
const uint16_t extensibleFormat = 0xFFFE;

} // namespace

bool SoundRecording::read(const std::string& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    uint16_t format = 0, channels = 0, bits = 0;
    size_t position = 12;
    while (position + 8 <= bytes.size())
    {
        const unsigned char* chunk = bytes.data() + position;
        size_t size = littleEndian(chunk + 4, 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && position + 8 + size <= bytes.size())
        {
            format = static_cast<uint16_t>(littleEndian(chunk + 8, 2));
            channels = static_cast<uint16_t>(littleEndian(chunk + 10, 2));
            sampleRate = static_cast<int>(littleEndian(chunk + 12, 4));
            bits = static_cast<uint16_t>(littleEndian(chunk + 22, 2));
            // The extensible format names the real one in the first two bytes of its sub-format.
            if (format == extensibleFormat && size >= 26)
                format = static_cast<uint16_t>(littleEndian(chunk + 32, 2));
        }
        else if (std::memcmp(chunk, "data", 4) == 0)
        {
            if (size == 0 || position + 8 + size > bytes.size())
                size = bytes.size() - position - 8;
            const bool integers = format == pcmFormat && bits == 16;
            const bool floats = format == floatFormat && bits == 32;
            if (channels == 0 || (!integers && !floats))
                return false;
            const size_t frameBytes = static_cast<size_t>(channels) * bits / 8;
            samples.resize(size / frameBytes);
            for (size_t frame = 0; frame < samples.size(); ++frame)
            {
                float sum = 0.0f;
                for (size_t channel = 0; channel < channels; ++channel)
                {
                    const unsigned char* sample = chunk + 8 + frame * frameBytes + channel * bits / 8;
                    if (integers)
                        sum += static_cast<int16_t>(littleEndian(sample, 2)) / 32768.0f;
                    else
                    {
                        const uint32_t word = littleEndian(sample, 4);
                        float value;
                        std::memcpy(&value, &word, sizeof(value));
                        sum += value;
                    }
                }
                samples[frame] = sum / channels;
            }
            return sampleRate > 0;
        }
        position += 8 + size + (size & 1);
    }
    return false;
}

double SoundRecording::toneAmplitude(double hz, size_t first, size_t count) const
{
    const size_t end = std::min(samples.size(), first + count);
    if (first >= end || sampleRate <= 0)
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / sampleRate);
    double previous = 0.0, beforePrevious = 0.0;
    for (size_t i = first; i < end; ++i)
    {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(end - first);
}

float SoundRecording::peak(size_t first, size_t count) const
{
    float loudest = 0.0f;
    for (size_t i = first; i < std::min(samples.size(), first + count); ++i)
        loudest = std::max(loudest, std::fabs(samples[i]));
    return loudest;
}

std::string waveRecorderConfiguration(const std::string& wavePath)
{
    return "[general]\ndrivers = wave\nfrequency = 44100\nchannels = stereo\nsample-type = "
           "int16\n\n[wave]\nfile = " +
           wavePath + "\n";
}

} // namespace NovaroTest
