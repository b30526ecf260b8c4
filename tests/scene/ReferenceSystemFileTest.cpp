// A marker's reference system read from transforms files the authoring hosts export: an FBX file
// gets the axis correction, other formats do not.
#include "AssimpTestScenes.h"
#include "settings/MarkersData.h"
#include "tracking/ARMarkerNode.h"

#include "Matrices.h"
#include "RunDirectory.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <assimp/scene.h>
#include <osg/io_utils>

#include "osgART/Marker.h"

using namespace Novaro;

namespace
{

osg::Matrixd referenceSystemFor(const std::string& transformsFile, const std::string& tag)
{
    MarkerData record;
    record.setTag(tag);
    record.setTransformsFile(transformsFile);
    osg::ref_ptr<ARMarkerNode> node = new ARMarkerNode(new osgART::Marker(tag), 0, &record, 0, nullptr);
    return node->getReferenceSystemTransform()->getMatrix();
}

} // namespace

TEST(ReferenceSystemFile, FbxTransformsAreCorrectedAndGltfOnesAreNot)
{
    NovaroTest::usePluginFolder();
    NovaroTest::TemporaryFolder folder;
    std::unique_ptr<aiScene> scene = AssimpTestScenes::buildAnimatedScene("base.png", "");
    const std::string gltf = folder.file("transforms.gltf");
    const std::string fbx = folder.file("transforms.fbx");
    ASSERT_EQ("", AssimpTestScenes::exportScene(*scene, "gltf2", gltf));
    ASSERT_EQ("", AssimpTestScenes::exportScene(*scene, "fbxa", fbx));

    // "Base" stands 10 along x from the scene origin in both files: 10 metres in glTF, which arrives
    // in millimetres, the marker's pose rigid (no scale) and along the same x; 10 units in FBX.
    const osg::Matrixd plain = referenceSystemFor(gltf, "Base");
    EXPECT_TRUE(
        NovaroTest::nearlyEqual(osg::Matrixd::inverse(osg::Matrixd::translate(10000.0, 0.0, 0.0)), plain))
        << plain;
    // The FBX correction (row vectors): the file's y axis goes to -z, its z axis to y.
    const osg::Matrixd correction(1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1);
    const osg::Matrixd corrected = referenceSystemFor(fbx, "Base");
    const osg::Matrixd world = osg::Matrixd::translate(10.0, 0.0, 0.0);
    EXPECT_TRUE(NovaroTest::nearlyEqual(osg::Matrixd::inverse(correction * world), corrected)) << corrected;

    // A node at the origin of an FBX file: the reference system is the inverse of the correction.
    const osg::Matrixd root = referenceSystemFor(fbx, "Root");
    EXPECT_TRUE(NovaroTest::nearlyEqual(osg::Matrixd::inverse(correction), root)) << root;
}
