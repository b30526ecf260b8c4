#pragma once

// Sound files written byte by byte, so that their headers can say what the data does not hold.

#include <cstdint>
#include <string>

namespace NovaroTest
{

inline void appendLittleEndian(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A 16-bit PCM WAV header of 'channels' at 'rateHz' whose data chunk claims 'claimedBytes',
// followed by 'heldBytes' of silence.
inline std::string wav(uint32_t channels, uint32_t rateHz, uint32_t claimedBytes, uint32_t heldBytes)
{
    std::string out = "RIFF";
    appendLittleEndian(out, 36 + claimedBytes, 4);
    out += "WAVEfmt ";
    appendLittleEndian(out, 16, 4);
    appendLittleEndian(out, 1, 2);
    appendLittleEndian(out, channels, 2);
    appendLittleEndian(out, rateHz, 4);
    appendLittleEndian(out, rateHz * channels * 2, 4);
    appendLittleEndian(out, channels * 2, 2);
    appendLittleEndian(out, 16, 2);
    out += "data";
    appendLittleEndian(out, claimedBytes, 4);
    out.append(heldBytes, '\0');
    return out;
}

} // namespace NovaroTest
