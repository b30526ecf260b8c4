// One libFuzzer target per settings reader: the reader class is chosen at build time.
#include NOVARO_FUZZ_READER_HEADER

#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <osg/Notify>

#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string inputPath = NovaroFuzz::scratchFolder() + "/input.xml";
    NovaroFuzz::writeInput(inputPath, data, size);

    Novaro::NOVARO_FUZZ_READER reader(inputPath);
    if (reader.loadFile() && reader.parse())
        reader.isValid();
    return 0;
}
