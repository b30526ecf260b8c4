#pragma once

// Movies made by FFmpeg's command-line tool for the movie tests: every codec and container the
// Debian build encodes, with sound placed where a test wants it.

#include <osg/ImageStream>
#include <osgDB/ReadFile>

#include <cstdlib>
#include <functional>
#include <string>

#include "Waiting.h"

namespace NovaroTest
{

// Runs ffmpeg quietly with the arguments (the output file last); false when it fails.
inline bool runFFmpeg(const std::string& arguments)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -v error -y " + arguments + " </dev/null";
    return std::system(command.c_str()) == 0;
}

// A picture source for ffmpeg's -f lavfi: flat greys, frame i at luma 16 + 20 * (i mod 10), so a
// decoded picture tells its frame (frameIndexOfGrey). Full-resolution chroma, so even 1x1 works.
inline std::string greyRampSource(int width, int height, double seconds, int rate = 25)
{
    return "-f lavfi -i \"color=c=gray:s=" + std::to_string(width) + "x" + std::to_string(height) +
           ":r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
           ",format=yuv444p,geq=lum='16+20*mod(N\\,10)':cb=128:cr=128\"";
}

// A 440 Hz tone for ffmpeg's -f lavfi.
inline std::string toneSource(double seconds, int sampleRate = 44100)
{
    return "-f lavfi -i \"sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
           ":d=" + std::to_string(seconds) + "\"";
}

inline osg::ref_ptr<osg::ImageStream> openMovie(const std::string& path)
{
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(path);
    return dynamic_cast<osg::ImageStream*>(image.get());
}

// Updates the stream as the player's frame loop does until 'done' holds; false only when the wait
// hung (see Waiting.h).
inline bool updateMovieUntil(osg::ImageStream& stream, const std::function<bool()>& done)
{
    return stepUntil([&] { stream.update(nullptr); }, done);
}

// Plays the stream once, as the player's frame loop updates it, until it pauses at its end or
// 'giveUp' holds; false only when the wait hung.
inline bool playOnceToTheEnd(
    osg::ImageStream& stream, const std::function<bool()>& giveUp = [] { return false; })
{
    stream.setLoopingMode(osg::ImageStream::NO_LOOPING);
    stream.play();
    return updateMovieUntil(stream,
                            [&] { return stream.getStatus() == osg::ImageStream::PAUSED || giveUp(); });
}

} // namespace NovaroTest
