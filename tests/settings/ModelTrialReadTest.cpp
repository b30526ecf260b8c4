// The trial read of a model in a child process, made while other threads of the player use the
// model readers' registry.
#include "settings/ModelTrialRead.h"

#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Novaro;

// While a model loads, the loading window's thread loads the font plugin, holding the registry's
// lock over its plugins. A child made then had the lock without its owner and waited until it was
// killed: a good model refused after 30 s. Here another thread loads and unloads a plugin all the
// time; each trial read of a good OBJ file must pass (the first failed within a few rounds).
TEST(ModelTrialRead, AGoodModelPassesWhileAnotherThreadLoadsPlugins)
{
    const std::string model = "/usr/share/assimp/models/OBJ/box.obj";
    osgDB::Registry* registry = osgDB::Registry::instance();
    ASSERT_NE(nullptr, registry->getReaderWriterForExtension("obj"));
    std::atomic<bool> stop{false};
    std::thread loader(
        [&]
        {
            const std::string library = registry->createLibraryNameForExtension("bvh");
            while (!stop)
            {
                registry->loadLibrary(library);
                registry->closeLibrary(library);
            }
        });
    std::string refusal;
    for (int round = 0; round < 40 && refusal.empty(); ++round)
        refusal = trialReadModelFile(model);
    stop = true;
    loader.join();
    EXPECT_EQ("", refusal);
}
