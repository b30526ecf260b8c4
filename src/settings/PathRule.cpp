#include "settings/PathRule.h"

#include <algorithm>
#include <osgDB/FileNameUtils>

#include "osgART/InputFiles.h"

namespace Novaro
{
namespace PathRule
{

bool isAbsolute(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return true;
    const std::string directory = osgDB::getFilePath(name);
    return directory.size() > 2 && directory[1] == ':' && directory[2] == '\\';
}

bool isAbsoluteDirectory(const std::string& folder)
{
    if (!folder.empty() && folder[0] == '/')
        return true;
    return folder.size() > 2 && folder[1] == ':' && folder[2] == '\\';
}

std::string resolve(const std::string& base, const std::string& name)
{
    if (isAbsolute(name))
        return name;
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return osgDB::concatPaths(base, relative);
}

std::string resolveSource(const std::string& temporaryDirectory, std::string folder,
                          const std::string& source)
{
    if (!folder.empty() && !isAbsoluteDirectory(folder))
        folder = resolve(temporaryDirectory, folder);
    if (isAbsolute(source))
        return source;
    return resolve(folder.empty() ? temporaryDirectory : folder, source);
}

bool isReadableFile(const std::string& path)
{
    // The tracking library holds the one check, for its own readers too.
    return osgART::isReadableRegularFile(path);
}

} // namespace PathRule
} // namespace Novaro
