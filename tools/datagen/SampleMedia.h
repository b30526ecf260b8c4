#pragma once

#include <string>

namespace Novaro
{
namespace DataGen
{

// The sample scene's movies, sounds and the models that show the movies, written under 'folder'
// (the samples folder):
//   movies/chroma.mov   a red disc circling on a green screen, with 440 Hz beeps twice a second
//   movies/screen.mov   scrolling colour bars for the tablet's screen, silent
//   models/screen.osgb  the flat plane a video object plays on
//   models/tablet.osgb  a tablet whose plane "Screen1" carries a video texture
//   sounds/chime.wav    a 660 Hz chime for an audio object
//   sounds/bells.ogg    a second soundtrack of 880 Hz bells
// Every movie frame carries its number in a band of blocks across the top (see MovieWriter.h),
// and each source has a tone of its own, so tests can tell from the screen and from a recording
// of the sound what is playing.
bool writeSampleMedia(const std::string& folder);

} // namespace DataGen
} // namespace Novaro
