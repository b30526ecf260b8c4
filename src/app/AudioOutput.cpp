#include "AudioOutput.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <osg/Notify>

#include <SFML/Audio/InputSoundFile.hpp>

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

std::string checkPlayable(const std::string& path)
{
    // Opening an input file reads the header only; the stream that plays it is opened later.
    sf::InputSoundFile file;
    if (!file.openFromFile(path))
        return "not a readable sound file";
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

} // namespace AudioOutput
} // namespace Novaro
