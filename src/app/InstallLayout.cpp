#include "app/InstallLayout.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

#include <osgDB/Registry>

namespace Novaro
{

namespace
{

bool isFolder(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool isProgram(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

// The first of the candidates that is what 'is' tells (a folder, a program), or empty.
std::string firstOf(bool (*is)(const std::filesystem::path&),
                    std::initializer_list<std::filesystem::path> candidates)
{
    for (const std::filesystem::path& candidate : candidates)
        if (is(candidate))
            return candidate.lexically_normal().string();
    return std::string();
}

} // namespace

InstallLayout InstallLayout::ofThisProcess()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return around(error ? std::string() : executable.string());
}

InstallLayout InstallLayout::around(const std::string& executable)
{
    InstallLayout layout;
    if (executable.empty())
        return layout;
    const std::filesystem::path folder = std::filesystem::path(executable).parent_path();
    const std::filesystem::path shared = folder / ".." / "share" / "novaro";
    for (const std::filesystem::path& root : {folder, shared})
        if (isFolder(root / "data"))
            layout._dataRoots.push_back(root.lexically_normal().string());
    layout._pluginFolder =
        firstOf(isFolder, {folder / "osgplugins", folder / ".." / "lib" / "novaro" / "osgplugins"});
    layout._samplesFolder = firstOf(isFolder, {folder / "samples", shared / "samples"});
    layout._blenderAddonFolder =
        firstOf(isFolder, {folder / "blender" / "novaro_exporter", shared / "blender" / "novaro_exporter"});
    layout._trialReader = firstOf(isProgram, {folder / "novaro-trial-read",
                                              folder / ".." / "libexec" / "novaro" / "novaro-trial-read"});
    return layout;
}

void InstallLayout::registerWithSceneGraphLibrary() const
{
    osgDB::Registry& registry = *osgDB::Registry::instance();
    // Right after the current directory's "osgplugins", before the system's plugin folder.
    osgDB::FilePathList& libraries = registry.getLibraryFilePathList();
    if (!_pluginFolder.empty())
        libraries.insert(libraries.empty() ? libraries.end() : std::next(libraries.begin()), _pluginFolder);
    // A relative data file is tried as given (the current directory) before these.
    osgDB::FilePathList& data = registry.getDataFilePathList();
    data.insert(data.begin(), _dataRoots.begin(), _dataRoots.end());
}

} // namespace Novaro
