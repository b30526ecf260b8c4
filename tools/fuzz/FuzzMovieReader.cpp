// libFuzzer target for the movie decoder: the input is written to a file, opened as a movie,
// decoded for a bounded number of frames (pictures into a buffer of exactly pictureSize() bytes,
// sound read through to its last sample), rewound and decoded again, as the player's stream does.
#include "FuzzSupport.h"
#include "MovieDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

extern "C"
{
#include <libavutil/log.h>
}

namespace
{

// Frames decoded per input: enough to reach the later packets of a small movie, few enough to
// keep each execution short.
const int framesPerInput = 30;

void decodeSome(Novaro::MovieDecoder& decoder, std::vector<uint8_t>& picture)
{
    double seconds = 0.0;
    for (int frame = 0; frame < framesPerInput; ++frame)
    {
        if (decoder.next(picture.data(), seconds) != Novaro::MovieDecoder::Result::Picture)
            break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string inputPath = NovaroFuzz::scratchFolder() + "/input";
    NovaroFuzz::writeInput(inputPath, data, size);

    Novaro::MovieDecoder decoder;
    std::string error;
    if (!decoder.open(inputPath, error))
        return 0;
    std::vector<uint8_t> picture(decoder.pictureSize());
    // Every sample handed over is read, so that a short buffer shows up under the sanitizer.
    volatile int64_t sum = 0;
    const unsigned int channels = decoder.soundChannels();
    decoder.setSoundSink(
        [&sum, channels](const int16_t* samples, size_t frames, double)
        {
            for (size_t index = 0; index < frames * channels; ++index)
                sum = sum + samples[index];
        });
    decodeSome(decoder, picture);
    if (decoder.rewind())
        decodeSome(decoder, picture);
    return 0;
}
