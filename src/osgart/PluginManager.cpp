#include "osgART/PluginManager.h"

#include <osg/Notify>
#include <osgDB/DynamicLibrary>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>

namespace osgART
{

PluginManager* PluginManager::instance()
{
    static osg::ref_ptr<PluginManager> manager = new PluginManager;
    return manager.get();
}

PluginManager::PluginManager() = default;

PluginManager::~PluginManager()
{
    // Plugin objects first, while their code is still mapped. The modules themselves stay loaded:
    // unloading at exit could pull code from under objects still referenced elsewhere.
    _plugins.clear();
    for (auto& entry : _libraries)
        entry.second.release();
}

bool PluginManager::load(const std::string& libraryName)
{
    if (libraryName.empty())
        return false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_libraries.count(libraryName))
            return true;
    }
    std::string fileName = libraryName;
    if (osgDB::getFileExtension(fileName) != "so")
        fileName += ".so";
    const std::string path = osgDB::findLibraryFile(fileName);
    if (path.empty())
    {
        osg::notify(osg::FATAL) << "osgART: plugin " << fileName << " not found in the library path"
                                << std::endl;
        return false;
    }
    // Loading runs the module's static registration, which calls add(): no lock held here.
    osg::ref_ptr<osgDB::DynamicLibrary> library = osgDB::DynamicLibrary::loadLibrary(path);
    if (!library.valid())
    {
        osg::notify(osg::FATAL) << "osgART: plugin " << path << " could not be loaded" << std::endl;
        return false;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _libraries[libraryName] = library;
    return true;
}

osg::Referenced* PluginManager::get(const std::string& name)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto found = _plugins.find(name);
    return found == _plugins.end() ? nullptr : found->second.get();
}

void PluginManager::add(const std::string& name, osg::Referenced* plugin)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _plugins[name] = plugin;
}

} // namespace osgART
