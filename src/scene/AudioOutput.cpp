#include "scene/AudioOutput.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/PathRule.h"

#include <osg/Notify>

#include <SFML/Audio/InputSoundFile.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace Novaro
{
namespace AudioOutput
{

namespace
{

// Runs in the child: 0 when the default device opens.
int probeDevice()
{
    const int silent = open("/dev/null", O_WRONLY);
    if (silent >= 0)
    {
        dup2(silent, STDOUT_FILENO);
        dup2(silent, STDERR_FILENO);
    }
    void* library = dlopen("libopenal.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return 1;
    typedef void* (*OpenDevice)(const char*);
    typedef char (*CloseDevice)(void*);
    OpenDevice openDevice = reinterpret_cast<OpenDevice>(dlsym(library, "alcOpenDevice"));
    CloseDevice closeDevice = reinterpret_cast<CloseDevice>(dlsym(library, "alcCloseDevice"));
    if (!openDevice || !closeDevice)
        return 1;
    void* device = openDevice(nullptr);
    if (!device)
        return 1;
    closeDevice(device);
    return 0;
}

} // namespace

bool chooseDriver()
{
    if (std::getenv("ALSOFT_DRIVERS"))
        return true;
    const pid_t child = fork();
    if (child == 0)
        _exit(probeDevice());
    int status = 0;
    const bool opened =
        child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!opened)
    {
        setenv("ALSOFT_DRIVERS", "null", 1);
        osg::notify(osg::NOTICE) << " No audio output device: sounds play silently." << std::endl;
    }
    return opened;
}

namespace
{

std::string checkHeader(const sf::InputSoundFile& file)
{
    const unsigned int channels = file.getChannelCount();
    const unsigned int rate = file.getSampleRate();
    std::ostringstream reason;
    if (channels == 0 || channels > maximumChannels)
        reason << channels << " channels (at most " << maximumChannels << ")";
    else if (rate < minimumSampleRateHz || rate > maximumSampleRateHz)
        reason << "sample rate " << rate << " Hz (" << minimumSampleRateHz << " to " << maximumSampleRateHz
               << " Hz)";
    return reason.str();
}

std::uint32_t littleEndian32(const char* bytes)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24;
}

// The sound library's WAV reader sizes the data chunk in samples by the format chunk's sample size:
// a data chunk met before any format chunk divides by zero and ends the process. Walks the chunks
// as that reader does; empty when the file is no WAV file or its data comes after a format.
std::string checkWavChunks(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char header[12];
    if (!in.read(header, sizeof(header)) || std::string(header, 4) != "RIFF" ||
        std::string(header + 8, 4) != "WAVE")
        return std::string();
    char chunk[8];
    while (in.read(chunk, sizeof(chunk)))
    {
        const std::string id(chunk, 4);
        if (id == "fmt ")
            return std::string();
        if (id == "data")
            return "a WAV file whose data comes before its format";
        in.seekg(littleEndian32(chunk + 4), std::ios::cur);
    }
    return std::string();
}

// Opens the file after checking it is one the decoders can read to its end: a folder or a device
// would keep them reading forever.
std::string openChecked(sf::InputSoundFile& file, const std::string& path)
{
    if (!PathRule::isReadableFile(path))
        return "no such readable file";
    const std::string badWav = checkWavChunks(path);
    if (!badWav.empty())
        return badWav;
    // Opening an input file reads the header only.
    if (!file.openFromFile(path))
        return "not a sound file of a known format (wav, ogg, flac)";
    return checkHeader(file);
}

} // namespace

std::string checkPlayable(const std::string& path)
{
    sf::InputSoundFile file;
    return openChecked(file, path);
}

std::string readSamples(const std::string& path, std::vector<short>& samples, unsigned int& channels,
                        unsigned int& sampleRate)
{
    samples.clear();
    sf::InputSoundFile file;
    const std::string unplayable = openChecked(file, path);
    if (!unplayable.empty())
        return unplayable;
    channels = file.getChannelCount();
    sampleRate = file.getSampleRate();
    // The header's sample count only decides the first reservation; the reading below stops where
    // the file's data ends.
    const std::size_t chunk = 1 << 16;
    samples.reserve(static_cast<std::size_t>(std::min<sf::Uint64>(file.getSampleCount(), chunk)));
    std::vector<sf::Int16> buffer(chunk);
    for (;;)
    {
        const sf::Uint64 count = file.read(buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (samples.size() + count > maximumHeldSamples)
        {
            samples.clear();
            samples.shrink_to_fit();
            std::ostringstream reason;
            reason << "longer than " << maximumHeldSamples / channels / sampleRate
                   << " seconds, the most a sample holds (use an ogg file, which streams)";
            return reason.str();
        }
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (samples.empty())
        return "no sound data";
    return std::string();
}

} // namespace AudioOutput
} // namespace Novaro
