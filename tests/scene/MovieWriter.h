#pragma once

#include <string>

namespace NovaroTest
{

// Writes a small MPEG-4 movie whose frame i is a flat grey of luma 16 + 20 * i, so that a decoded
// picture tells which frame it is (frameIndexOfGrey). False when FFmpeg cannot write it.
bool writeGreyRampMovie(const std::string& path, int frames, int width, int height, int framesPerSecond);

// The frame index a decoded grey (red channel) stands for.
int frameIndexOfGrey(unsigned char red);

} // namespace NovaroTest
