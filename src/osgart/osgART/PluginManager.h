#pragma once

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <map>
#include <mutex>
#include <string>

namespace osgDB
{
class DynamicLibrary;
}

namespace osgART
{

/// Loads the tracking plugins (shared modules in the OSG library path) and keeps the objects they
/// register under their names. A plugin registers itself from a static object when it is loaded.
class PluginManager : public osg::Referenced
{
public:
    static PluginManager* instance();

    /// Loads "<libraryName>.so" (found through osgDB::findLibraryFile) and keeps it loaded.
    /// True when the module is loaded (also when it already was).
    bool load(const std::string& libraryName);

    /// The object registered under name, or nullptr.
    osg::Referenced* get(const std::string& name);

    /// Registers a plugin object; a later registration under the same name replaces the earlier.
    void add(const std::string& name, osg::Referenced* plugin);

protected:
    PluginManager();
    ~PluginManager() override;

private:
    std::mutex _mutex;
    std::map<std::string, osg::ref_ptr<osgDB::DynamicLibrary>> _libraries;
    std::map<std::string, osg::ref_ptr<osg::Referenced>> _plugins;
};

} // namespace osgART
