#include "scene/AudioOutput.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/ChildProcess.h"
#include "settings/PathRule.h"

#include <osg/Notify>

#include <SFML/Audio/InputSoundFile.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace Novaro
{
namespace AudioOutput
{

namespace
{

// How long the default device may take to open. A sound server that never answers, or a device
// another program holds, would otherwise keep the player from starting at all, silently.
const std::chrono::milliseconds kProbeLimit(5000);

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
    const int status = child > 0 ? waitForChild(child, kProbeLimit) : 0;
    const bool opened = child > 0 && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!opened)
    {
        setenv("ALSOFT_DRIVERS", "null", 1);
        if (status == -1)
            osg::notify(osg::FATAL) << " WARNING: the audio output device did not open in "
                                    << kProbeLimit.count() / 1000 << " s: sounds play silently." << std::endl;
        else
            osg::notify(osg::NOTICE) << " No audio output device: sounds play silently." << std::endl;
    }
    return opened;
}

namespace
{

// Said after an encoding the player cannot play, so that the user knows what to export instead.
const char* const playedEncodings = " (plays: WAV of 8 to 32-bit integer samples, Ogg Vorbis, FLAC)";

std::string checkHeader(const sf::InputSoundFile& file)
{
    const unsigned int channels = file.getChannelCount();
    const unsigned int rate = file.getSampleRate();
    std::ostringstream reason;
    // The output's layouts: mono, stereo, quadraphonic, 5.1, 6.1 and 7.1 (3 or 5 channels have none).
    const bool hasLayout =
        channels == 1 || channels == 2 || channels == 4 || (channels >= 6 && channels <= maximumChannels);
    if (!hasLayout)
        reason << channels << " channels (plays 1, 2, 4, 6, 7 or 8)";
    else if (rate < minimumSampleRateHz || rate > maximumSampleRateHz)
        reason << "sample rate " << rate << " Hz (" << minimumSampleRateHz << " to " << maximumSampleRateHz
               << " Hz)";
    return reason.str();
}

// The unsigned number stored in 'count' bytes, lowest first, as RIFF files store theirs.
std::uint32_t littleEndian(const char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// What a WAV format chunk holds that the sound library's WAV reader does not decode (it takes
// integer PCM of 8, 16, 24 or 32 bits only), named as a sound editor's export dialog names it;
// empty when it decodes it. 'format' is the chunk's first bytes: the encoding (for an extensible
// format, the sub-format's first two bytes) and, at 14, the bits a sample.
std::string undecodedWavEncoding(const char* format, std::uint32_t size)
{
    const std::uint32_t extensible = 0xFFFE;
    std::uint32_t encoding = littleEndian(format, 2);
    if (encoding == extensible && size >= 26)
        encoding = littleEndian(format + 24, 2);
    const std::uint32_t bits = littleEndian(format + 14, 2);
    switch (encoding)
    {
    case 1:
        return bits == 8 || bits == 16 || bits == 24 || bits == 32 ? std::string()
                                                                   : std::to_string(bits) + "-bit samples";
    case 3:
        return std::to_string(bits) + "-bit floating-point samples";
    case 2:
    case 0x11:
        return "ADPCM sound";
    case 6:
        return "A-law sound";
    case 7:
        return "mu-law sound";
    case 0x55:
        return "MP3 sound";
    default:
        return "sound of encoding " + std::to_string(encoding);
    }
}

// Walks a WAV file's chunks as the sound library's reader does, up to its format chunk. Its
// reader sizes the data chunk in samples by the format chunk's sample size: a data chunk met
// before any format chunk divides by zero and ends the process. Empty when the file is no WAV
// file, or one the library decodes.
std::string checkWavChunks(std::ifstream& in)
{
    char chunk[8];
    while (in.read(chunk, sizeof(chunk)))
    {
        const std::string id(chunk, 4);
        const std::uint32_t size = littleEndian(chunk + 4, 4);
        if (id == "data")
            return "a WAV file whose data comes before its format";
        if (id != "fmt ")
        {
            in.seekg(size, std::ios::cur);
            continue;
        }
        char format[26] = {};
        if (size < 16 || !in.read(format, std::min<std::uint32_t>(size, sizeof(format))))
            return std::string(); // the library's own reader refuses it
        const std::string encoding = undecodedWavEncoding(format, size);
        return encoding.empty() ? encoding : "a WAV file of " + encoding + playedEncodings;
    }
    return std::string();
}

// The sound library reads Ogg files of Vorbis sound only; its reader says no more than that it
// cannot. An Ogg page's first packet starts after 27 bytes of header and its segment table, and
// names the codec.
std::string checkOggCodec(std::ifstream& in)
{
    char header[27];
    if (!in.read(header, sizeof(header)))
        return std::string();
    in.seekg(static_cast<unsigned char>(header[26]), std::ios::cur);
    char packet[8];
    if (!in.read(packet, sizeof(packet)) || std::string(packet + 1, 6) == "vorbis")
        return std::string(); // a cut file is the library's to refuse
    const std::string head(packet, sizeof(packet));
    const std::string codec = head == "OpusHead"                ? "Opus sound"
                              : head == "Speex   "              ? "Speex sound"
                              : head.compare(1, 4, "FLAC") == 0 ? "FLAC sound"
                                                                : "sound other than Vorbis";
    return "an Ogg file of " + codec + playedEncodings;
}

// Reasons for files of a known kind that the sound library would refuse with no reason, or
// misread; empty when neither WAV nor Ogg, or when the library plays them.
std::string checkContainer(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char magic[12];
    if (!in.read(magic, sizeof(magic)))
        return std::string();
    if (std::string(magic, 4) == "RIFF" && std::string(magic + 8, 4) == "WAVE")
        return checkWavChunks(in);
    if (std::string(magic, 4) == "OggS")
    {
        in.seekg(0);
        return checkOggCodec(in);
    }
    return std::string();
}

// Opens the file after checking it is one the decoders can read to its end: a folder or a device
// would keep them reading forever.
std::string openChecked(sf::InputSoundFile& file, const std::string& path)
{
    if (!PathRule::isReadableFile(path))
        return "no such readable file";
    const std::string badContainer = checkContainer(path);
    if (!badContainer.empty())
        return badContainer;
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
