// libFuzzer target of the Assimp model reader: the first input byte chooses the extension (glb,
// gltf or fbx), the rest is written as that file and read through the plugin's ReaderWriter.
#include "FuzzSupport.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <osg/Notify>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

namespace
{

osgDB::ReaderWriter* reader = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    // The reader is linked in and registers itself; no plugin is loaded from disk.
    reader = osgDB::Registry::instance()->getReaderWriterForExtension("glb");
    if (reader == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const char* const extensions[] = {"glb", "gltf", "fbx"};
    const std::string path = NovaroFuzz::scratchFolder() + "/model." + extensions[data[0] % 3];
    NovaroFuzz::writeInput(path, data + 1, size - 1);

    osgDB::ReaderWriter::ReadResult result = reader->readNode(path, nullptr);
    // A model may be empty, but never place anything at a coordinate that is not finite.
    if (osg::Node* node = result.getNode())
    {
        const osg::BoundingSphere& bound = node->getBound();
        const osg::Vec3 centre = bound.center();
        if (!std::isfinite(bound.radius()) ||
            (bound.valid() &&
             !(std::isfinite(centre.x()) && std::isfinite(centre.y()) && std::isfinite(centre.z()))))
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
