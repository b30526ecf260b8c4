// Model files from untrusted exports, read through the model reader.
#include "AssimpTestScenes.h"
#include "NotifyCapture.h"
#include "SceneGraph.h"
#include "SceneTestSupport.h"
#include "SoundFiles.h"
#include "TemporaryFolder.h"
#include "UpdateTraversal.h"
#include "VisibleLines.h"
#include "scene/ARObject.h"

#include <assimp/scene.h>

#include <osgAnimation/BasicAnimationManager>
#include <osgDB/ReadFile>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <sys/stat.h>

using namespace AssimpTestScenes;
using namespace NovaroTest;
using namespace std::string_literals;

namespace
{

class HostileModelsTest : public AssimpReaderTest
{
protected:
    void SetUp() override
    {
        reader = osgDB::Registry::instance()->getReaderWriterForExtension("glb");
        ASSERT_NE(reader, nullptr);
    }
    // Writes the file and reads it, which must fail; says whether the console's visible lines give
    // "<path>: " followed by the reason.
    ::testing::AssertionResult refusedSaying(const std::string& name, const std::string& data,
                                             const std::string& reason)
    {
        const std::string file = folder.write(name, data);
        NotifyCapture capture;
        if (reader->readNode(file).status() != osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE)
            return ::testing::AssertionFailure() << name << " was not refused";
        return saidPart(capture, file + ": " + reason) << name;
    }

    osgDB::ReaderWriter* reader = nullptr;
};

// A binary glTF file: header, JSON chunk (padded with spaces), binary chunk (padded with zeros).
std::string glb(std::string json, std::string binary, uint32_t version = 2)
{
    json.append((4 - json.size() % 4) % 4, ' ');
    binary.append((4 - binary.size() % 4) % 4, '\0');
    std::string out = "glTF";
    appendLittleEndian(out, version, 4);
    appendLittleEndian(out, static_cast<uint32_t>(12 + 8 + json.size() + 8 + binary.size()), 4);
    appendLittleEndian(out, static_cast<uint32_t>(json.size()), 4);
    out += "JSON" + json;
    appendLittleEndian(out, static_cast<uint32_t>(binary.size()), 4);
    out += std::string("BIN\0", 4) + binary;
    return out;
}

std::string floats(std::initializer_list<float> values)
{
    std::string out;
    for (float value : values)
        out.append(reinterpret_cast<const char*>(&value), sizeof(value));
    return out;
}

// Two triangles: "Good" and "Bad", whose second vertex lies at infinity; nodes "GoodNode",
// "BadNode" and "FarNode" (the good triangle moved to x = 1e39, infinite in single precision).
std::string modelWithInfinities()
{
    const float inf = INFINITY;
    const std::string binary = floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, inf, 0, 0, 0, 1, 0});
    const std::string json =
        R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":72}],)"
        R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":36}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},)"
        R"({"bufferView":1,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1e39,1,0]}],)"
        R"("meshes":[{"name":"Good","primitives":[{"attributes":{"POSITION":0}}]},)"
        R"({"name":"Bad","primitives":[{"attributes":{"POSITION":1}}]}],)"
        R"("nodes":[{"name":"Root","children":[1,2,3]},{"name":"GoodNode","mesh":0},{"name":"BadNode","mesh":1},)"
        R"({"name":"FarNode","mesh":0,"translation":[1e39,0,0]}],"scenes":[{"nodes":[0]}],"scene":0})";
    return glb(json, binary);
}

// A line loop through 'indices' (32-bit) over a triangle's three vertices, whose only attribute is
// 'attribute'. Its buffer follows the JSON in a binary glTF file, or is the one 'uri' names.
std::string lineLoopJson(const char* attribute, std::initializer_list<uint32_t> indices,
                         const std::string& uri)
{
    const std::string count = std::to_string(indices.size());
    return R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":)" +
           std::to_string(36 + 4 * indices.size()) + (uri.empty() ? "" : R"(,"uri":")" + uri + '"') +
           R"(}],"bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":)" +
           std::to_string(4 * indices.size()) +
           R"(}],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
           R"({"bufferView":1,"componentType":5125,"count":)" +
           count + R"(,"type":"SCALAR"}],"meshes":[{"primitives":[{"mode":2,"indices":1,"attributes":{")" +
           attribute + R"(":0}}]}],"nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
}

std::string lineLoopBuffer(std::initializer_list<uint32_t> indices)
{
    std::string buffer = floats({0, 0, 1, 0, 1, 0, 1, 0, 0});
    for (uint32_t index : indices)
        appendLittleEndian(buffer, index, 4);
    return buffer;
}

std::string lineLoop(const char* attribute, std::initializer_list<uint32_t> indices)
{
    return glb(lineLoopJson(attribute, indices, ""), lineLoopBuffer(indices));
}

// The same, its JSON chunk's length leaving the padding out: Assimp looks for the binary chunk on
// the next four-byte boundary.
std::string lineLoopUnpadded(std::initializer_list<uint32_t> indices)
{
    std::string json = lineLoopJson("POSITION", indices, "");
    json.append((7 - json.size() % 4) % 4, ' '); // one space short of a four-byte boundary
    std::string file = glb(json, lineLoopBuffer(indices));
    std::string declared;
    appendLittleEndian(declared, static_cast<uint32_t>(json.size()), 4);
    return file.replace(12, 4, declared);
}

// A triangle whose positions accessor claims a fourth vertex past the end of its view and buffer
// (Assimp copies it from beyond the buffer).
std::string accessorPastItsView()
{
    const std::string json = R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36}],)"
                             R"("bufferViews":[{"buffer":0,"byteLength":36}],)"
                             R"("accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"}],)"
                             R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
                             R"("nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
    return glb(json, floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
}

// The sample walker whose skin leaves its inverse bind matrices out (they are optional in glTF, but
// Assimp's importer reads them through a null pointer); the JSON keeps its length.
std::string unboundSkin()
{
    std::string walker = readFile(std::string(NOVARO_SOURCE_DIR) + "/samples/models/walker.glb");
    const size_t at = walker.find("\"inverseBindMatrices\"");
    if (at != std::string::npos)
        walker[at + 1] = 'X';
    return walker;
}

// A glTF text of 'count' nodes, each the child of the one before.
std::string nodeChain(size_t count)
{
    std::string nodes;
    for (size_t i = 0; i + 1 < count; ++i)
        nodes += R"({"name":"n)" + std::to_string(i) + R"(","children":[)" + std::to_string(i + 1) + "]},";
    return R"({"asset":{"version":"2.0"},"nodes":[)" + nodes +
           R"({"name":"last"}],"scenes":[{"nodes":[0]}],"scene":0})";
}

// A root with 'count' children, each moved by its own channel of one animation "Move" whose keys
// run from 0 to 2 seconds.
std::string manyChannels(size_t count)
{
    std::string children, nodes, channels;
    for (size_t i = 1; i <= count; ++i)
    {
        const std::string comma = i == 1 ? "" : ",";
        children += comma + std::to_string(i);
        nodes += R"(,{"name":"n)" + std::to_string(i) + R"("})";
        channels +=
            comma + R"({"sampler":0,"target":{"node":)" + std::to_string(i) + R"(,"path":"translation"}})";
    }
    const std::string json =
        R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":32}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":8},{"buffer":0,"byteOffset":8,"byteLength":24}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"count":2,"type":"SCALAR","min":[0],"max":[2]},)"
        R"({"bufferView":1,"componentType":5126,"count":2,"type":"VEC3"}],)"
        R"("nodes":[{"name":"root","children":[)" +
        children + "]}" + nodes +
        R"(],"scenes":[{"nodes":[0]}],"scene":0,)"
        R"("animations":[{"name":"Move","samplers":[{"input":0,"output":1}],"channels":[)" +
        channels + "]}]}";
    return glb(json, floats({0, 2, 0, 0, 0, 1, 2, 3}));
}

} // namespace

// Model files from untrusted exports: data that is not what its name says never reaches a foreign
// importer, coordinates that are not finite never reach the scene, and textures are read from
// regular files only.

TEST_F(HostileModelsTest, DataThatIsNotWhatItsNameSaysIsRefusedInfinitiesDroppedAndPipesNotRead)
{
    const std::string triangle = R"({"asset":{"version":"2.0"}})";
    const std::string exported = path("exported.glb");
    ASSERT_EQ(AssimpTestScenes::exportScene(*AssimpTestScenes::buildSkinnedScene(), "glb2", exported), "");
    const std::string exportedData = readFile(exported);

    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
        "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const auto refused = [&](const char* name, const std::string& data, const char* reason)
    { EXPECT_TRUE(refusedSaying(name, data, reason)); };
    // Formats that Assimp's other importers read, under a name of this reader.
    refused("ply.glb", ply, "not a binary glTF file (no binary glTF header)");
    refused("obj.fbx", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "not a FBX file");
    // Headers that look right at first sight.
    refused("version1.glb", glb(triangle, ""s, 1), "not a binary glTF file (binary glTF version 1, not 2)");
    refused("shorter.glb", exportedData.substr(0, exportedData.size() - 4),
            "not a binary glTF file (declared length");
    refused("nested_asset.gltf", R"({"nodes":[{"asset":{"version":"2.0"}}]})", "not a glTF file");
    refused("array.gltf", R"([{"asset":{"version":"2.0"}}])", "not a glTF file");
    // Right at first sight, broken beyond: Assimp's importer says why.
    refused("garbage.fbx", bytes("Kaydara FBX Binary  \x00\x1a\x00 and then nothing useful"),
            "FBX-Tokenize (offset 0x23) block offset is out of range");
    refused("truncated.gltf", R"({"asset": {"version": "2.0"}, "nodes": [ {"name": )",
            "not a glTF file (not JSON: unexpected end at byte 50)");
    // Structures that crash or exhaust Assimp's glTF importer.
    refused("line_loop.glb", lineLoop("NORMAL", {0, 1, 2}),
            "not a binary glTF file (JSON chunk: primitive 0 of mesh 0 has no POSITION)");
    // Line loops Assimp closes through a null pointer: no segment has two vertices, wherever the
    // indices are kept; one segment suffices.
    refused("loop_past_vertices.glb", lineLoop("POSITION", {5, 6, 7}),
            "not a binary glTF file (JSON chunk: primitive 0 of mesh 0 is a line loop whose indices name "
            "no segment of its 3 vertices)");
    folder.write("loop data.bin", lineLoopBuffer({7, 1, 9, 2, 8}));
    refused("loop_past_vertices.gltf", lineLoopJson("POSITION", {7, 1, 9, 2, 8}, "loop%20data.bin"),
            "not a glTF file (primitive 0 of mesh 0 is a line loop whose indices name no segment");
    refused("loop_unpadded.glb", lineLoopUnpadded({5, 6, 7}),
            "not a binary glTF file (JSON chunk: primitive 0 of mesh 0 is a line loop whose indices name no "
            "segment");
    refused("loop_without_its_buffer.gltf", lineLoopJson("POSITION", {0, 1, 2}, "missing.bin"),
            "not a glTF file (primitive 0 of mesh 0 is a line loop whose indices cannot be read)");
    refused("loop_of_one.glb", lineLoop("POSITION", {0}),
            "not a binary glTF file (JSON chunk: primitive 0 of mesh 0 is a line loop of fewer than two "
            "indices)");
    refused("loop_in_text.gltf",
            lineLoopJson("POSITION", {5, 6, 7},
                         "data:application/octet-stream;base64," // lineLoopBuffer({5, 6, 7})
                         "AAAAAAAAAAAAAIA/AAAAAAAAgD8AAAAAAACAPwAAAAAAAAAABQAAAAYAAAAHAAAA"),
            "not a glTF file (primitive 0 of mesh 0 is a line loop whose indices name no segment");
    EXPECT_TRUE(osgDB::readRefNodeFile(
        folder.write("loop_with_a_segment.gltf",
                     lineLoopJson("POSITION", {5, 0, 1},
                                  // lineLoopBuffer({5, 0, 1}), its slashes escaped as some writers put them
                                  "data:application\\/octet-stream;base64,"
                                  "AAAAAAAAAAAAAIA\\/AAAAAAAAgD8AAAAAAACAPwAAAAAAAAAABQAAAAAAAAABAAAA"))));
    refused("unbound_skin.glb", unboundSkin(),
            "not a binary glTF file (JSON chunk: skin 0 has no inverseBindMatrices)");
    refused("accessor_past_view.glb", accessorPastItsView(),
            "not a binary glTF file (JSON chunk: accessor 0 reaches past its buffer view (48 of 36 bytes))");
    refused("view_past_buffer.gltf",
            R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36}],)"
            R"("bufferViews":[{"buffer":0,"byteOffset":12,"byteLength":36}]})",
            "not a glTF file (buffer view 0 reaches past its buffer)");
    // Numbers past any file, and sums of them past any integer, are refused without overflow.
    const std::string views = R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36}],"bufferViews":[)";
    refused("huge_count.gltf",
            views + R"(],"accessors":[{"componentType":5126,"count":1e300,"type":"VEC3"}]})",
            "not a glTF file (accessor 0 declares count 1e300, beyond any file)");
    refused("nan_offset.gltf", views + R"({"buffer":0,"byteOffset":-nan,"byteLength":36}]})",
            "not a glTF file (buffer view 0 declares byteOffset -nan, beyond any file)");
    refused(
        "huge_stride.gltf",
        views +
            R"({"buffer":0,"byteLength":36,"byteStride":9007199254740992}],)"
            R"("accessors":[{"bufferView":0,"componentType":5126,"count":9007199254740992,"type":"VEC3"}]})",
        "not a glTF file (accessor 0 reaches past its buffer view (81129638414606672688589750403072 of 36 "
        "bytes)");
    refused("skin_number.gltf", R"({"asset":{"version":"2.0"},"skins":[7]})",
            "not a glTF file (skin 0 is not an object)");
    refused("deep.gltf",
            R"({"asset":{"version":"2.0"},"extras":)" + std::string(100000, '[') + std::string(100000, ']') +
                "}",
            "not a glTF file (not JSON: nesting deeper than 64 levels at byte 99)");
    // Node hierarchies Assimp cannot build (it builds the tree recursively: deep chains overflow its
    // stack).
    const std::string nodes = R"({"asset":{"version":"2.0"},"nodes":[)";
    refused("just_too_deep.gltf", nodeChain(1001),
            "not a glTF file (node hierarchy deeper than 1000 levels (node 1000)");
    refused("two_parents.gltf", nodes + R"({"children":[2]},{"children":[2]},{}]})",
            "not a glTF file (node 2 has more than one parent");
    refused("cycle.gltf", nodes + R"({"children":[1]},{"children":[0]}]})",
            "not a glTF file (node 0 is its own ancestor");
    refused("past_the_nodes.gltf", nodes + R"({"children":[5]}]})",
            "not a glTF file (node 0 names child 5 of 1 nodes");
    refused("not_an_index.gltf", nodes + R"({"children":[-1]}]})",
            "not a glTF file (a child of node 0 is not a node index");

    // Without a name, only the three formats' signatures are read at all.
    std::istringstream stream(ply);
    EXPECT_EQ(reader->readNode(stream).status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    std::istringstream exportedStream(exportedData);
    EXPECT_TRUE(reader->readNode(exportedStream).validNode());

    // The deepest chain taken, whole: the converter walks it to the end.
    osg::ref_ptr<osg::Node> root = osgDB::readRefNodeFile(folder.write("deepest.gltf", nodeChain(1000)));
    ASSERT_TRUE(root.valid());
    EXPECT_NE(findByName(root.get(), "last"), nullptr);

    // Coordinates that are not finite are dropped, and the rest keeps its bound.
    const std::string file = folder.write("infinities.glb", modelWithInfinities());
    NotifyCapture capture;
    osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(file);
    ASSERT_TRUE(model.valid()) << capture.text();

    // Finite, within a couple of metres: glTF's metres arrive as millimetres.
    const osg::BoundingSphere& bound = model->getBound();
    EXPECT_TRUE(bound.valid() && std::isfinite(bound.center().x()) && bound.radius() < 2000.0f);
    EXPECT_NE(findByName(model.get(), "GoodNode"), nullptr);
    EXPECT_EQ(findByName(model.get(), "FarNode"), nullptr);
    for (const std::string dropped : {"node 'FarNode'", "faces of mesh 'Bad'"})
        EXPECT_TRUE(saidPart(capture, "Assimp reader: " + file + ": dropped " + dropped));

    // A pipe would block the image reader for ever (a folder or a device is left out by the same
    // check): the model reads without its texture.
    std::unique_ptr<aiScene> piped = AssimpTestScenes::buildAnimatedScene("pipe.png", "");
    ASSERT_EQ(AssimpTestScenes::exportScene(*piped, "gltf2", path("piped.gltf")), "");
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0);
    capture.clear();
    model = osgDB::readRefNodeFile(path("piped.gltf"));
    ASSERT_TRUE(model.valid());
    EXPECT_NE(findByName(model.get(), "Base"), nullptr);
    EXPECT_NE(capture.text().find("cannot read texture"), std::string::npos) << capture.text();
}

// A skin's extent is known only once it has been moved; one that lies beyond single precision
// where the model places it would take the scene's bound with it on the first frame (found by
// fuzzing). At 1e17 metres the rest shape is finite, but not once glTF's metres become millimetres.
TEST_F(HostileModelsTest,
       SkinsBeyondSinglePrecisionAreRefusedOrLoseTheFarBoneOrAnimationAndThousandsOfChannelsAreKept)
{
    std::unique_ptr<aiScene> far = AssimpTestScenes::buildSkinnedScene();
    for (unsigned int v = 0; v < far->mMeshes[0]->mNumVertices; ++v)
        far->mMeshes[0]->mVertices[v] *= 1e17f;
    const std::string file = path("far_skin.glb");
    ASSERT_EQ(AssimpTestScenes::exportScene(*far, "glb2", file), "");
    NotifyCapture capture;
    EXPECT_EQ(reader->readNode(file).status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    EXPECT_TRUE(saidPart(capture, "refusing " + file + ": its extent is not finite"));

    // A bind pose far out flings the vertices only once the bone moves them: its bone is dropped.
    std::unique_ptr<aiScene> flung = AssimpTestScenes::buildSkinnedScene();
    flung->mMeshes[0]->mBones[1]->mOffsetMatrix.a4 = 3e27f;
    const std::string flungPath = path("flung_skin.glb");
    ASSERT_EQ(AssimpTestScenes::exportScene(*flung, "glb2", flungPath), "");
    capture.clear();
    osg::ref_ptr<osg::Node> root = reader->readNode(flungPath).getNode();
    ASSERT_TRUE(root.valid()) << capture.text();
    EXPECT_TRUE(saidPart(capture, "dropped the bind pose of bone 'Bone2'"));
    auto* manager = managerOf(root.get());
    ASSERT_NE(manager, nullptr);
    manager->playAnimation(manager->getAnimationList().front().get());
    for (double seconds : {0.0, 0.5, 1.0})
        updateAt(*root, seconds);
    root->dirtyBound();
    EXPECT_TRUE(std::isfinite(root->getBound().radius()));

    // An animation that carries a bone past single precision is dropped; the others still play
    // (found by fuzzing: keys near 1e23 metres).
    std::unique_ptr<aiScene> carried = AssimpTestScenes::buildSkinnedScene();
    aiNodeAnim* farKeys = new aiNodeAnim;
    farKeys->mNodeName = "Bone1";
    farKeys->mNumPositionKeys = 2;
    farKeys->mPositionKeys =
        new aiVectorKey[2]{aiVectorKey(0.0, aiVector3D(0, 0, 0)), aiVectorKey(1.0, aiVector3D(0, 0, 1e23f))};
    aiAnimation* fling = new aiAnimation;
    fling->mName = "Fling";
    fling->mDuration = fling->mTicksPerSecond = 1.0;
    fling->mNumChannels = 1;
    fling->mChannels = new aiNodeAnim* [1] { farKeys };
    aiAnimation** bend = carried->mAnimations;
    carried->mAnimations = new aiAnimation* [2] { bend[0], fling };
    delete[] bend;
    carried->mNumAnimations = 2;
    const std::string carriedPath = path("carried_skin.glb");
    ASSERT_EQ(AssimpTestScenes::exportScene(*carried, "glb2", carriedPath), "");
    capture.clear();
    root = reader->readNode(carriedPath).getNode();
    ASSERT_TRUE(root.valid()) << capture.text();
    EXPECT_TRUE(
        saidPart(capture, "dropped animation 'Fling' (it may carry the model beyond single precision)"));
    manager = managerOf(root.get());
    ASSERT_TRUE(manager && manager->getAnimationList().size() == 1u);
    EXPECT_EQ(manager->getAnimationList().front()->getName(), "Bend");

    // Thousands of animation channels are all kept, and too many refused.
    root = osgDB::readRefNodeFile(folder.write("channels.glb", manyChannels(20000)));
    ASSERT_TRUE(root.valid());
    manager = managerOf(root.get());
    ASSERT_TRUE(manager && manager->getAnimationList().size() == 1u);
    const osgAnimation::Animation& animation = *manager->getAnimationList().front();
    // Assimp gives each moved node its rotation and scale as well.
    const auto translations = std::count_if(animation.getChannels().begin(), animation.getChannels().end(),
                                            [](const osg::ref_ptr<osgAnimation::Channel>& channel)
                                            { return channel->getName() == "translate"; });
    EXPECT_EQ(translations, 20000);
    const size_t channels = animation.getChannels().size(); // the object's set-up replaces the manager

    // On a scene object (which copies the animations) the first update links every channel to its
    // node. Reading and both steps once took minutes for this model (the suite's time-out).
    osg::ref_ptr<Novaro::ARObject> object = new Novaro::ARObject(root.get());
    ASSERT_NE(object->getAnimationManager(), nullptr);
    updateAt(*object, 0.0);
    EXPECT_EQ(object->getAnimationManager()->getOrCreateLinkVisitor()->getNbLinkedTarget(), channels);

    EXPECT_TRUE(
        refusedSaying("too_many.glb", manyChannels(100001),
                      "not a binary glTF file (JSON chunk: 100001 animation channels, more than 100000)"));
}
