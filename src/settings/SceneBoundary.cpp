#include "settings/SceneBoundary.h"

#include "settings/PathRule.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace Novaro
{
namespace SceneBoundary
{

namespace
{

std::mutex mutex;
std::vector<fs::path> boundaryFolders;

// Absolute, with every existing component's symbolic links resolved and "." and ".." taken out.
fs::path resolvedPath(const std::string& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error)
        absolute = fs::path(path);
    fs::path resolved = fs::weakly_canonical(absolute, error);
    return (error ? absolute : resolved).lexically_normal();
}

bool isBelow(const fs::path& path, const fs::path& folder)
{
    auto inFolder = folder.begin();
    auto inPath = path.begin();
    for (; inFolder != folder.end(); ++inFolder, ++inPath)
    {
        // A folder written with a trailing "/" ends in an empty component.
        if (inFolder->empty())
            continue;
        if (inPath == path.end() || *inPath != *inFolder)
            return false;
    }
    return true;
}

// The name with backslashes turned into "/", as the player resolves a relative name.
std::string forwardSlashes(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

} // namespace

void setFolders(const std::vector<std::string>& folders)
{
    std::vector<fs::path> resolved;
    for (const std::string& folder : folders)
    {
        const fs::path each = resolvedPath(folder.empty() ? "." : folder);
        if (std::find(resolved.begin(), resolved.end(), each) == resolved.end())
            resolved.push_back(each);
    }
    std::lock_guard<std::mutex> lock(mutex);
    boundaryFolders = resolved;
}

void addFolder(const std::string& folder)
{
    const fs::path resolved = resolvedPath(folder.empty() ? "." : folder);
    std::lock_guard<std::mutex> lock(mutex);
    boundaryFolders.push_back(resolved);
}

void clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    boundaryFolders.clear();
}

bool isBounded()
{
    std::lock_guard<std::mutex> lock(mutex);
    return !boundaryFolders.empty();
}

std::vector<std::string> folders()
{
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<std::string>(boundaryFolders.begin(), boundaryFolders.end());
}

std::string describeFolders()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::string text;
    for (const fs::path& folder : boundaryFolders)
        text += (text.empty() ? "'" : ", '") + folder.string() + "'";
    return text;
}

bool contains(const std::string& path)
{
    std::vector<fs::path> folders;
    {
        std::lock_guard<std::mutex> lock(mutex);
        folders = boundaryFolders;
    }
    if (folders.empty())
        return true;
    const fs::path resolved = resolvedPath(path);
    return std::any_of(folders.begin(), folders.end(),
                       [&](const fs::path& folder) { return isBelow(resolved, folder); });
}

bool leadsOutside(const std::string& base, const std::string& value)
{
    if (value.empty() || !isBounded())
        return false;
    // A drive-letter path names another system's disk: never this scene's.
    if (value[0] != '/' && (PathRule::isAbsolute(value) || PathRule::isAbsoluteDirectory(value)))
        return true;
    if (value[0] == '/')
        return !contains(value);
    const fs::path relative = fs::path(forwardSlashes(value)).lexically_normal();
    if (!relative.empty() && *relative.begin() == "..")
        return true;
    // Only an existing first component can hide a symbolic link; most values (numbers, names,
    // files) cost this one lstat.
    const fs::path first = fs::path(base.empty() ? "." : base) / *relative.begin();
    struct stat status;
    if (::lstat(first.c_str(), &status) != 0)
        return false;
    const fs::path resolved = fs::path(base.empty() ? "." : base) / relative;
    if (!S_ISLNK(status.st_mode) &&
        resolvedPath(resolved.string()) == resolvedPath(base.empty() ? "." : base) / relative)
        return false;
    return !contains(resolved.string());
}

std::string lastComponent(const std::string& value)
{
    const fs::path name = fs::path(forwardSlashes(value)).filename();
    return name == "." || name == ".." ? std::string() : name.string();
}

} // namespace SceneBoundary
} // namespace Novaro
