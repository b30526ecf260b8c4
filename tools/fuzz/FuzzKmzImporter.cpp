// libFuzzer target of the KMZ importer: each input is written as an archive into a fresh folder,
// imported there (unpacked, its models discovered) and the folder removed again.
#include "FuzzSupport.h"
#include "scene/KmzImporter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <osg/Notify>

namespace
{

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One level down, so that what an entry might write beside the folder stays in the work folder.
    const std::string& workFolder = NovaroFuzz::scratchFolder();
    const std::filesystem::path input = std::filesystem::path(workFolder) / "input";
    std::filesystem::create_directories(input);
    const std::string archive = (input / "scene.kmz").string();
    NovaroFuzz::writeInput(archive, data, size);

    std::vector<std::string> folders;
    Novaro::KmzImporter::importArchive(archive, (input / "scene_kmz.tmp").string(), folders);
    for (const std::string& folder : folders)
        Novaro::KmzImporter::cleanupFolder(folder);
    std::error_code error;
    std::filesystem::remove_all(input, error);
    // Nothing may be left beside the input folder.
    if (!std::filesystem::is_empty(workFolder, error))
    {
        std::cerr.clear();
        std::cerr << "KMZ import left files outside its folder" << std::endl;
        std::abort();
    }
    return 0;
}
