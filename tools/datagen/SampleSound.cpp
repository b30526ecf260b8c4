#include "SampleSound.h"

#include <cmath>
#include <vector>

#include <SFML/Audio/OutputSoundFile.hpp>
#include <osg/Notify>

namespace Novaro
{
namespace DataGen
{

bool writeAmbientSoundtrack(const std::string& path)
{
    const unsigned int rate = 44100;
    const unsigned int channels = 2;
    const double seconds = 8.0;
    sf::OutputSoundFile file;
    if (!file.openFromFile(path, rate, channels))
    {
        osg::notify(osg::FATAL) << "cannot write " << path << std::endl;
        return false;
    }
    // Whole numbers of cycles in the eight seconds, for the chord and the breathing alike, so the
    // end meets the start without a click.
    const double notes[] = {110.0, 164.875, 220.0, 277.125};
    const size_t frames = static_cast<size_t>(rate * seconds);
    std::vector<sf::Int16> samples(frames * channels);
    for (size_t frame = 0; frame < frames; ++frame)
    {
        const double t = static_cast<double>(frame) / rate;
        const double breathing = 0.6 + 0.4 * std::sin(2.0 * M_PI * t / 4.0);
        double left = 0.0, right = 0.0;
        for (size_t note = 0; note < 4; ++note)
        {
            const double tone = std::sin(2.0 * M_PI * notes[note] * t);
            left += tone * (note % 2 ? 0.6 : 1.0);
            right += tone * (note % 2 ? 1.0 : 0.6);
        }
        samples[frame * 2] = static_cast<sf::Int16>(2600.0 * breathing * left);
        samples[frame * 2 + 1] = static_cast<sf::Int16>(2600.0 * breathing * right);
    }
    file.write(samples.data(), samples.size());
    return true;
}

} // namespace DataGen
} // namespace Novaro
