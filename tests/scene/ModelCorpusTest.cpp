// Assimp's test models read as a scene object's model is.
#include "NotifyCapture.h"
#include "RunDirectory.h"
#include "TrialReader.h"
#include "settings/ModelFileCheck.h"

#include <osgDB/FileNameUtils>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

using namespace NovaroTest;

// Models nobody here made: Assimp's own test models (Debian's assimp-testmodels), in every format
// a scene's models come in, the broken ones Assimp keeps for its tests among them. Each is read as
// a scene object's model is: it shows, or it is refused with its file named, and none stops the
// player.
TEST(ModelCorpus, AssimpsTestModelsShowOrAreRefusedByName)
{
    const std::filesystem::path root = "/usr/share/assimp/models";
    ASSERT_TRUE(std::filesystem::is_directory(root))
        << "install Debian's assimp-testmodels (scripts/install-deps.sh does)";
    NovaroTest::usePluginFolder();
    NovaroTest::useTrialReader();
    const std::set<std::string> formats = {"obj", "3ds", "dae", "fbx", "gltf", "glb", "ply", "stl"};
    int read = 0, refused = 0;
    std::set<std::string> readFormats;
    for (const std::filesystem::directory_entry& entry : std::filesystem::recursive_directory_iterator(root))
    {
        const std::string path = entry.path().string();
        const std::string format = osgDB::getLowerCaseFileExtension(path);
        if (!entry.is_regular_file() || !formats.count(format))
            continue;
        SCOPED_TRACE(path);
        const NotifyCapture capture;
        if (Novaro::readModelFile(path).valid())
        {
            ++read;
            readFormats.insert(format);
            continue;
        }
        ++refused;
        EXPECT_NE(capture.text(osg::WARN).find(path), std::string::npos)
            << "refused without naming the file:\n"
            << capture.text();
    }
    // Measured: 119 of the 149 show. The others are glTF 1.0 files (the model reader reads glTF 2),
    // the broken files Assimp keeps for its tests (issue623.ply among them, which OpenSceneGraph's
    // PLY reader read through a null pointer), and an empty, a UTF-16 and a point-only OBJ.
    EXPECT_GE(read, 119) << refused << " refused";
    EXPECT_EQ(readFormats, formats);
}
