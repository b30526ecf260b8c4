#pragma once

#include <osgDB/Registry>

#include <string>

namespace NovaroTest
{

// Puts the run directory's plugin folder first on the library path, as the player does, so that
// its model reader and tracking plugins are the ones loaded.
inline void usePluginFolder()
{
    const std::string plugins = std::string(NOVARO_RUN_DIR) + "/osgplugins";
    osgDB::FilePathList& paths = osgDB::Registry::instance()->getLibraryFilePathList();
    if (paths.empty() || paths.front() != plugins)
        paths.push_front(plugins);
}

} // namespace NovaroTest
