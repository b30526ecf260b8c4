// One libFuzzer target per settings reader: the reader class is chosen at build time.
#include NOVARO_FUZZ_READER_HEADER

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <osg/Notify>

#include <unistd.h>

namespace
{

// Swallows every notification; the lines are still formatted, so their code paths run.
class SilentNotifyHandler : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity, const char*) override {}
};

// The file the inputs are written to, one per fuzzing process.
std::string inputPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/novaro_fuzz_XXXXXX";
    int descriptor = mkstemp(pattern);
    if (descriptor < 0)
        std::abort();
    close(descriptor);
    inputPath = pattern;
    std::atexit([] { std::remove(inputPath.c_str()); });

    osg::setNotifyLevel(osg::NOTICE);
    osg::setNotifyHandler(new SilentNotifyHandler);
    std::cout.setstate(std::ios::failbit); // the KML reader's direct line
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FILE* file = std::fopen(inputPath.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    Novaro::NOVARO_FUZZ_READER reader(inputPath);
    if (reader.loadFile() && reader.parse())
        reader.isValid();
    return 0;
}
