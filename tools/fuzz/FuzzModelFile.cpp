// libFuzzer target of the model-file checks and OpenSceneGraph's own readers behind them: the
// first input byte chooses the extension (ply, osgt, osgb), the rest is written to a file and read
// as a scene object's model is read (readModelFile): the check first, the reader only for what the
// check lets through. A fault inside the reader is a check that let through what the reader trusts.
#include "FuzzSupport.h"
#include "settings/ModelFileCheck.h"

#include <osgDB/Registry>

#include <cstdint>
#include <cstdlib>

namespace
{

const char* const extensions[] = {"ply", "osgt", "osgb"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    // OpenSceneGraph's own readers are the system's plugins; each must be there to be fuzzed.
    for (const char* extension : extensions)
        if (osgDB::Registry::instance()->getReaderWriterForExtension(extension) == nullptr)
            std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string path = NovaroFuzz::writeModelInput(data, size, extensions);
    Novaro::readModelFile(path);
    return 0;
}
