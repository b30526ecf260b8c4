#include "settings/NativeReaderGuard.h"
#include "settings/BoundedVectorSerializer.h"
#include "settings/PrimitiveSetListSerializer.h"

#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>

#include <mutex>

namespace Novaro
{

namespace
{

// The serializer plugins Debian's OpenSceneGraph ships, one per library whose classes a native
// file can hold. Loaded up front, so that no wrapper is registered after the guard is in place.
const char* const kSerializerPlugins[] = {
    "osg",    "osganimation", "osgfx",   "osgga", "osgmanipulator", "osgparticle", "osgshadow",
    "osgsim", "osgterrain",   "osgtext", "osgui", "osgutil",        "osgviewer",   "osgvolume"};

void loadSerializerPlugins()
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    for (const char* plugin : kSerializerPlugins)
        registry->loadLibrary(registry->createLibraryNameForExtension(std::string("serializers_") + plugin));
}

void guardSerializers(osgDB::ObjectWrapper& wrapper)
{
    for (osg::ref_ptr<osgDB::BaseSerializer>& serializer : wrapper.getSerializerList())
    {
        if (wrapper.getName() == "osg::Geometry" && serializer->getName() == "PrimitiveSetList")
            serializer = new PrimitiveSetListSerializer(*serializer);
        if (auto* vector = dynamic_cast<osgDB::VectorBaseSerializer*>(serializer.get()))
            serializer = new BoundedVectorSerializer(vector);
    }
}

} // namespace

void guardNativeReaders()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       loadSerializerPlugins();
                       for (auto& [name, wrapper] :
                            osgDB::Registry::instance()->getObjectWrapperManager()->getWrapperMap())
                           guardSerializers(*wrapper);
                   });
}

} // namespace Novaro
