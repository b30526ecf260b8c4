// Writes the movie fuzz target's seed corpus: small grey-ramp movies in the containers and codecs
// the player meets (MPEG-4 in mp4 and avi, H.264 in mp4 and mkv, MJPEG in avi).
//   novaro_fuzz_movie_seeds <folder>
#include "MovieWriter.h"

#include <cstdio>
#include <cstring>
#include <string>

extern "C"
{
#include <libavutil/log.h>
}

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: novaro_fuzz_movie_seeds <folder>\n");
        return 1;
    }
    const std::string folder = argv[1];
    av_log_set_level(AV_LOG_ERROR);
    const struct
    {
        const char* name;
        const char* encoder;
    } seeds[] = {{"mpeg4.mp4", "mpeg4"},
                 {"mpeg4.avi", "mpeg4"},
                 {"h264.mp4", "libx264"},
                 {"h264.mkv", "libx264"},
                 {"mjpeg.avi", "mjpeg"}};
    int failures = 0;
    for (const auto& seed : seeds)
    {
        NovaroTest::MovieDescription movie;
        movie.frames = 6;
        movie.width = 32;
        movie.height = 24;
        movie.encoder = seed.encoder;
        movie.paint =
            [](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red, int chromaStride)
        {
            for (int row = 0; row < 24; ++row)
                std::memset(luma + row * lumaStride, 16 + 30 * index + row, 32);
            for (int row = 0; row < 12; ++row)
            {
                std::memset(blue + row * chromaStride, 100 + index, 16);
                std::memset(red + row * chromaStride, 150 - index, 16);
            }
        };
        const std::string path = folder + "/" + seed.name;
        if (!NovaroTest::writeMovie(path, movie))
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
