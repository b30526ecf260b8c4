#include "AssimpTestScenes.h"
#include "Matrices.h"
#include "SceneGraph.h"
#include "SceneTestSupport.h"
#include "UpdateTraversal.h"
#include "osgART/Marker.h"
#include "settings/MarkersData.h"
#include "tracking/ARMarkerNode.h"

#include <assimp/scene.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/Texture2D>
#include <osg/io_utils>
#include <osgAnimation/BasicAnimationManager>
#include <osgAnimation/Bone>
#include <osgAnimation/RigGeometry>
#include <osgAnimation/Skeleton>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>

using namespace AssimpTestScenes;
using namespace NovaroTest;
using namespace std::string_literals;

namespace
{

osg::Matrixd referenceSystemFor(const std::string& transformsFile, const std::string& tag)
{
    Novaro::MarkerData record;
    record.setTag(tag);
    record.setTransformsFile(transformsFile);
    osg::ref_ptr<Novaro::ARMarkerNode> node =
        new Novaro::ARMarkerNode(new osgART::Marker(tag), 0, &record, 0, nullptr);
    return node->getReferenceSystemTransform()->getMatrix();
}

} // namespace

TEST_F(AssimpReaderTest, OneReaderCarriesHierarchyMeshesMaterialsAnimationsAndSkinsInItsThreeFormats)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(4, 2, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 200);
    ASSERT_TRUE(osgDB::writeImageFile(*image, path("checker.png")));

    // The binary glTF file carries the texture inside it, the others name the file beside them.
    std::unique_ptr<aiScene> scene = buildAnimatedScene("checker.png", "");
    std::unique_ptr<aiScene> embedded = buildAnimatedScene("*0", NovaroTest::readFile(path("checker.png")));
    const struct
    {
        const char* format;
        const char* file;
        osg::Vec3 spinner; // where "Spinner", at (10, 5, 0) in the file, arrives
        const aiScene& scene;
    } formats[] = {{"gltf2", "animated.gltf", osg::Vec3(10000, 0, 5000), *scene},
                   {"glb2", "animated.glb", osg::Vec3(10000, 0, 5000), *embedded},
                   {"fbxa", "animated.fbx", osg::Vec3(10, 5, 0), *scene}};
    for (const auto& format : formats)
    {
        SCOPED_TRACE(format.file);
        ASSERT_EQ(exportScene(format.scene, format.format, path(format.file)), "");
        osg::ref_ptr<osg::Node> root = osgDB::readRefNodeFile(path(format.file));
        ASSERT_TRUE(root.valid());

        osg::MatrixTransform* base = findByName<osg::MatrixTransform>(root.get(), "Base");
        osg::MatrixTransform* spinner = findByName<osg::MatrixTransform>(root.get(), "Spinner");
        ASSERT_TRUE(base && spinner);
        EXPECT_EQ(spinner->getParent(0), base);
        // glTF is Y-up in metres, the markers Z-up in millimetres: a glTF point (x, y, z) arrives at
        // 1000 (x, -z, y), with unit normals through rescaling; FBX keeps its coordinates as stored.
        const osg::Matrix world = osg::computeLocalToWorld(spinner->getParentalNodePaths().at(0));
        EXPECT_NEAR((world.getTrans() - format.spinner).length(), 0.0, 1e-2);
        if (std::string(format.format) != "fbxa")
        {
            EXPECT_EQ(root->getOrCreateStateSet()->getMode(GL_RESCALE_NORMAL), osg::StateAttribute::ON);
        }

        // The quad: four vertices, two triangles, vertex colours, texture coordinates, texture.
        osg::Geode* geode = nullptr;
        for (unsigned int i = 0; i < base->getNumChildren(); ++i)
            if (base->getChild(i)->asGeode() != nullptr)
                geode = base->getChild(i)->asGeode();
        ASSERT_TRUE(geode && geode->getNumDrawables() == 1u);
        osg::Geometry* quad = geode->getDrawable(0)->asGeometry();
        ASSERT_TRUE(quad && quad->getTexCoordArray(0) && quad->getColorArray() && quad->getStateSet());
        EXPECT_EQ(quad->getVertexArray()->getNumElements(), 4u);

        osg::StateSet* quadState = quad->getStateSet();
        const osg::Material* red =
            dynamic_cast<const osg::Material*>(quadState->getAttribute(osg::StateAttribute::MATERIAL));
        ASSERT_NE(red, nullptr);
        // Vertex colours drive the lit colour of meshes that have them.
        EXPECT_EQ(red->getColorMode(), osg::Material::AMBIENT_AND_DIFFUSE);
        EXPECT_EQ(red->getDiffuse(osg::Material::FRONT), osg::Vec4(1, 0, 0, 1));
        const osg::Texture2D* texture = dynamic_cast<const osg::Texture2D*>(
            quadState->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
        ASSERT_TRUE(texture && texture->getImage());
        EXPECT_EQ(osg::Vec2i(texture->getImage()->s(), texture->getImage()->t()), osg::Vec2i(4, 2));
        EXPECT_EQ(quadState->getMode(GL_BLEND) & osg::StateAttribute::ON, 0u);

        // The half-transparent triangle is blended in the transparent bin.
        osg::Geode* spinnerGeode = spinner->getChild(spinner->getNumChildren() - 1)->asGeode();
        ASSERT_TRUE(spinnerGeode && spinnerGeode->getDrawable(0)->getStateSet());
        osg::StateSet* glass = spinnerGeode->getDrawable(0)->getStateSet();
        EXPECT_NE(glass->getMode(GL_BLEND) & osg::StateAttribute::ON, 0u);
        EXPECT_EQ(glass->getRenderingHint(), static_cast<int>(osg::StateSet::TRANSPARENT_BIN));
        const osg::Material* glassMaterial =
            dynamic_cast<const osg::Material*>(glass->getAttribute(osg::StateAttribute::MATERIAL));
        ASSERT_NE(glassMaterial, nullptr);
        EXPECT_NEAR(glassMaterial->getDiffuse(osg::Material::FRONT).a(), 0.5f, 1e-3);

        // The animation is named after the take and moves the spinner when played.
        osgAnimation::BasicAnimationManager* manager = managerOf(root.get());
        ASSERT_TRUE(manager && manager->getAnimationList().size() == 1u);
        osgAnimation::Animation* spin = manager->getAnimationList()[0].get();
        EXPECT_EQ(spin->getName(), "Spin");
        EXPECT_NEAR(spin->getDuration(), 1.0, 1e-3);
        updateAt(*root, 10.0);
        manager->playAnimation(spin);
        updateAt(*root, 10.0);
        updateAt(*root, 10.5);
        const osg::Matrix halfway = spinner->getMatrix();
        EXPECT_LT((halfway.getTrans() - osg::Vec3(0, 5, 1)).length(), 1e-4) << "Spinner halfway";
        const osg::Vec3 turned = osg::Vec3(1, 0, 0) * osg::Matrix::rotate(halfway.getRotate());
        EXPECT_LT((turned - osg::Vec3(std::sqrt(0.5f), std::sqrt(0.5f), 0)).length(), 1e-4)
            << "Spinner turned by 45 degrees";
    }

    // One reader takes the three formats and nothing else.
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("glb");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader, osgDB::Registry::instance()->getReaderWriterForExtension("fbx"));
    EXPECT_EQ(reader, osgDB::Registry::instance()->getReaderWriterForExtension("gltf"));

    EXPECT_EQ(reader->readNode(path("absent.glb")).status(), osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND);

    // (Files that are broken or not what their name says: the hostile models tests.)
    folder.write("picture.png", "not read anyway");
    EXPECT_EQ(reader->readNode(path("picture.png")).status(),
              osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED);

    // Skinned meshes follow their bones.
    std::unique_ptr<aiScene> skinned = buildSkinnedScene();
    for (const auto& format :
         std::vector<std::pair<std::string, std::string>>{{"glb2", "skinned.glb"}, {"fbxa", "skinned.fbx"}})
    {
        SCOPED_TRACE(format.second);
        ASSERT_EQ(exportScene(*skinned, format.first, path(format.second)), "");
        osg::ref_ptr<osg::Node> root = osgDB::readRefNodeFile(path(format.second));
        ASSERT_TRUE(root.valid());
        osgAnimation::Bone* bone2 = findByName<osgAnimation::Bone>(root.get(), "Bone2");
        ASSERT_TRUE(bone2 && bone2->getNumParents() == 1u);
        EXPECT_NE(dynamic_cast<osgAnimation::Bone*>(bone2->getParent(0)), nullptr);
        EXPECT_EQ(bone2->getParent(0)->getName(), "Bone1");
        // The mesh's own node is no bone: only bones and their ancestors are.
        osg::MatrixTransform* skin = findByName<osg::MatrixTransform>(root.get(), "Skin");
        ASSERT_TRUE(skin && !dynamic_cast<osgAnimation::Bone*>(skin));
        EXPECT_NE(findByName<osgAnimation::Skeleton>(root.get(), ""), nullptr);

        const std::vector<osgAnimation::RigGeometry*> rigs =
            NovaroTest::drawablesOf<osgAnimation::RigGeometry>(root.get());
        ASSERT_FALSE(rigs.empty());
        osgAnimation::RigGeometry* rig = rigs.back();

        osgAnimation::BasicAnimationManager* manager = managerOf(root.get());
        ASSERT_TRUE(manager && manager->getAnimationList().size() == 1u);
        updateAt(*root, 0.0);
        manager->playAnimation(manager->getAnimationList()[0].get());

        // Sampled just before the end of the take: within a hundredth of a unit.
        const auto hasVertex = [&](const osg::Vec3& expected)
        {
            const auto* vertices = dynamic_cast<const osg::Vec3Array*>(rig->getVertexArray());
            return vertices &&
                   std::any_of(vertices->begin(), vertices->end(),
                               [&](const osg::Vec3& v) { return (v - expected).length() < 1e-2; });
        };
        // At the start of the animation the mesh sits in its bind pose; after the quarter turn of
        // Bone2 about X the upper vertices swing to y = -1, z = 1.
        updateAt(*root, 0.0);
        ASSERT_EQ(rig->getVertexArray()->getNumElements(), 4u);
        for (const osg::Vec3& expected :
             {osg::Vec3(0, 0, 0), osg::Vec3(1, 0, 0), osg::Vec3(1, 0, 2), osg::Vec3(0, 0, 2)})
            EXPECT_TRUE(hasVertex(expected)) << expected;
        updateAt(*root, 0.999);
        for (const osg::Vec3& expected :
             {osg::Vec3(0, 0, 0), osg::Vec3(1, 0, 0), osg::Vec3(1, -1, 1), osg::Vec3(0, -1, 1)})
            EXPECT_TRUE(hasVertex(expected)) << expected;
    }

    // A marker's reference system read from transforms files the authoring hosts export: an FBX file
    // gets the axis correction, other formats do not.
    std::unique_ptr<aiScene> transforms = buildAnimatedScene("base.png", "");
    const std::string gltf = path("transforms.gltf"), fbx = path("transforms.fbx");
    ASSERT_EQ("", exportScene(*transforms, "gltf2", gltf));
    ASSERT_EQ("", exportScene(*transforms, "fbxa", fbx));

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
}
