// Writes the movie fuzz target's seed corpus: small grey-ramp movies in the containers and codecs
// the player meets (MPEG-4, H.264, HEVC, VP8, VP9, AV1, Theora, MJPEG in mp4, mov, mkv, webm, avi
// and ogv), at sizes from 1x1 up, some with PCM sound beside the picture. An encoder the local
// FFmpeg lacks leaves its seed out with a note.
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
    av_log_set_level(AV_LOG_QUIET);
    const struct
    {
        const char* name;
        const char* encoder;
        int width;
        int height;
        bool sound;
    } seeds[] = {{"mpeg4.mp4", "mpeg4", 32, 24, false},      {"mpeg4.avi", "mpeg4", 32, 24, true},
                 {"h264.mp4", "libx264", 32, 24, false},     {"h264.mkv", "libx264", 30, 18, true},
                 {"h264.mov", "libx264", 16, 16, true},      {"hevc.mp4", "libx265", 64, 48, false},
                 {"hevc.mkv", "libx265", 30, 18, false},     {"vp8.webm", "libvpx", 8, 8, false},
                 {"vp8-1x1.webm", "libvpx", 1, 1, false},    {"vp8-7x5.mkv", "libvpx", 7, 5, true},
                 {"vp9.webm", "libvpx-vp9", 30, 18, false},  {"vp9-3x3.mkv", "libvpx-vp9", 3, 3, false},
                 {"av1.mkv", "libaom-av1", 16, 16, false},   {"av1.mp4", "libaom-av1", 64, 48, false},
                 {"theora.ogv", "libtheora", 32, 24, false}, {"mjpeg.avi", "mjpeg", 32, 24, false},
                 {"mjpeg.mov", "mjpeg", 202, 120, true}};
    int written = 0;
    for (const auto& seed : seeds)
    {
        NovaroTest::MovieDescription movie;
        movie.frames = 6;
        movie.width = seed.width;
        movie.height = seed.height;
        movie.encoder = seed.encoder;
        movie.toneHz = seed.sound ? 440.0 : 0.0;
        movie.sampleRate = 8000;
        const int width = seed.width;
        const int height = seed.height;
        movie.paint = [width, height](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red,
                                      int chromaStride)
        {
            for (int row = 0; row < height; ++row)
                std::memset(luma + row * lumaStride, 16 + 30 * index + row % 64, static_cast<size_t>(width));
            for (int row = 0; row < (height + 1) / 2; ++row)
            {
                std::memset(blue + row * chromaStride, 100 + index, static_cast<size_t>((width + 1) / 2));
                std::memset(red + row * chromaStride, 150 - index, static_cast<size_t>((width + 1) / 2));
            }
        };
        const std::string path = folder + "/" + seed.name;
        if (NovaroTest::writeMovie(path, movie))
            ++written;
        else
            std::fprintf(stderr, "cannot write %s (encoder %s)\n", path.c_str(), seed.encoder);
    }
    return written > 0 ? 0 : 1;
}
