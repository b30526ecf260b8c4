#pragma once

// What every fuzz target shares: the readers take file names, so inputs are written to files in a
// scratch folder of the run's own; the console stays silent.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <osg/Notify>

#include <unistd.h>

namespace NovaroFuzz
{

// Notifications are still formatted, so their code paths run, but shown nowhere.
class SilentNotifyHandler : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity, const char*) override {}
};

// Silences osg::notify, and std::cout, where the KML reader writes a line of its own.
inline void silenceConsole()
{
    osg::setNotifyLevel(osg::NOTICE);
    osg::setNotifyHandler(new SilentNotifyHandler);
    std::cout.setstate(std::ios::failbit);
}

// A folder of this run's own in the current folder, removed at exit. Not in /tmp: a run ended by
// a crash or by libFuzzer's own exit leaves it beside the run's crash files, not scattered.
inline std::string makeScratchFolder()
{
    char pattern[] = "scratch_XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        std::abort();
    return std::filesystem::absolute(pattern).string();
}

inline const std::string& scratchFolder()
{
    static const std::string folder = makeScratchFolder();
    // Registered once the folder's name is built, so it runs before that name is destroyed.
    static const bool removedAtExit = std::atexit(
                                          []
                                          {
                                              std::error_code ignored;
                                              std::filesystem::remove_all(scratchFolder(), ignored);
                                          }) == 0;
    (void)removedAtExit;
    return folder;
}

// Writes the input as the whole content of 'path'.
inline void writeInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
}

// A model input: its first byte chooses the file's extension among 'extensions', the rest is
// written to "model.EXTENSION" in the scratch folder; the file's path.
template <std::size_t N>
std::string writeModelInput(const std::uint8_t* data, std::size_t size, const char* const (&extensions)[N])
{
    const std::string path = scratchFolder() + "/model." + extensions[data[0] % N];
    writeInput(path, data + 1, size - 1);
    return path;
}

} // namespace NovaroFuzz
