#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace NovaroTest
{

// What a written movie is made of. Pictures are painted in YUV 4:2:0: 'paint' fills the luma plane
// (width x height) and the two chroma planes (width/2 x height/2) of frame 'index'.
struct MovieDescription
{
    int frames = 10;
    int width = 64;
    int height = 48;
    int framesPerSecond = 25;
    std::string encoder = "mpeg4"; // FFmpeg's encoder name ("mpeg4", "libx264", ...)
    // A sine tone of this frequency as the movie's sound (16-bit PCM, mono), none at 0; the
    // container must take PCM (mkv, mov, avi).
    double toneHz = 0.0;
    // The sound's level over time, from 0 to 1 (the tone stays on without it): beeps make time
    // marks that a recording of the sound can be lined up with.
    std::function<double(double seconds)> toneLevel;
    int sampleRate = 44100;
    // Spans of movie time (from, until) that have sound; empty: all of it. Outside them the sound
    // stream has no packets at all, as in movies whose sound starts late, ends early or has holes.
    std::vector<std::pair<double, double>> toneSpans;
    std::function<void(int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red,
                       int chromaStride)>
        paint;
};

// Writes the movie into a container chosen by the file's extension; false when FFmpeg cannot.
bool writeMovie(const std::string& path, const MovieDescription& movie);

// Frame numbers painted into pictures, so that a screenshot tells which frame is on screen: a band
// of frameCodeBits blocks across the top of the picture, most significant bit first, white for a
// set bit and black for a clear one. Chroma is left neutral so keyed movies keep the band.
const int frameCodeBits = 8;
// Longer movies take more blocks ('bits').
void paintFrameCode(int index, int width, int bandHeight, uint8_t* luma, int lumaStride, uint8_t* blue,
                    uint8_t* red, int chromaStride, int bits = frameCodeBits);
// The frame number from the band's blocks, given the brightness (0-255) at each block's centre.
int readFrameCode(const std::function<int(int block)>& brightnessAtBlock, int bits = frameCodeBits);

// A small MPEG-4 movie whose frame i is a flat grey of luma 16 + 20 * i, so that a decoded
// picture tells which frame it is (frameIndexOfGrey).
bool writeGreyRampMovie(const std::string& path, int frames, int width, int height, int framesPerSecond);

// The frame index a decoded grey (red channel) stands for.
int frameIndexOfGrey(unsigned char red);

} // namespace NovaroTest
