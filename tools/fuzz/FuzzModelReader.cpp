// libFuzzer target of the Assimp model reader: the first input byte chooses the extension (glb,
// gltf or fbx), the rest is written as that file and read through the plugin's ReaderWriter.
// Built with NOVARO_FUZZ_ANIMATED (novaro_fuzz_animated), the input is glTF only (glb or gltf by
// the first byte) and a model that loads is then played: every animation started, the skeleton,
// bones and skinned geometries updated over a few frames, as the player's update traversal does.
#include "FuzzSupport.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <osg/FrameStamp>
#include <osg/Notify>
#include <osgAnimation/BasicAnimationManager>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>
#include <osgUtil/UpdateVisitor>

namespace
{

osgDB::ReaderWriter* reader = nullptr;

#ifdef NOVARO_FUZZ_ANIMATED
const char* const extensions[] = {"glb", "gltf"};

// Plays every animation of the model for a few frames, a fifth of a second apart.
void play(osg::Node& node)
{
    if (auto* manager = dynamic_cast<osgAnimation::BasicAnimationManager*>(node.getUpdateCallback()))
        for (const osg::ref_ptr<osgAnimation::Animation>& animation : manager->getAnimationList())
            manager->playAnimation(animation.get());
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    osgUtil::UpdateVisitor update;
    update.setFrameStamp(stamp.get());
    for (unsigned int frame = 0; frame < 4; ++frame)
    {
        stamp->setFrameNumber(frame);
        stamp->setReferenceTime(0.2 * frame);
        stamp->setSimulationTime(0.2 * frame);
        update.reset();
        update.setTraversalNumber(frame);
        node.accept(update);
    }
    node.dirtyBound();
}
#else
const char* const extensions[] = {"glb", "gltf", "fbx"};
#endif

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
    const std::string path = NovaroFuzz::writeModelInput(data, size, extensions);

    osgDB::ReaderWriter::ReadResult result = reader->readNode(path, nullptr);
    // A model may be empty, but never place anything at a coordinate that is not finite.
    if (osg::Node* node = result.getNode())
    {
#ifdef NOVARO_FUZZ_ANIMATED
        play(*node);
#endif
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
