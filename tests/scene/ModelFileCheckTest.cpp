// OpenSceneGraph model files whose counts claim more than the file holds never reach
// OpenSceneGraph's own reader, which would loop on them for ever or allocate for billions of
// elements; the sample models, in every native format, still read.
#include "settings/ModelFileCheck.h"
#include "NotifyCapture.h"
#include "RunDirectory.h"
#include "SceneGraph.h"
#include "TemporaryFolder.h"
#include "TrialReader.h"
#include "scene/ARObject.h"
#include "scene/KmzImporter.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <regex>

#include <sys/resource.h>

using namespace Novaro;
using namespace NovaroTest;
namespace fs = std::filesystem;

namespace
{

const std::string samples = std::string(NOVARO_SOURCE_DIR) + "/samples/models/";

// The sample cube (an animated, textured box) written as native text.
std::string cubeAsText(const TemporaryFolder& folder)
{
    osg::ref_ptr<osg::Node> cube = osgDB::readRefNodeFile(samples + "cube.osgb");
    const std::string path = folder.file("cube.osgt");
    if (!cube.valid() || !osgDB::writeNodeFile(*cube, path))
        return std::string();
    return NovaroTest::readFile(path);
}

std::string refusal(const std::string& path)
{
    return " ERROR: refusing model file " + path + ": ";
}

const std::string runData = std::string(NOVARO_RUN_DIR) + "/data/";

// The colour of the node's first geometry; none without a node.
osg::Vec4 overallColourOf(osg::Node* node)
{
    const std::vector<osg::Geometry*> geometries =
        node ? drawablesOf<osg::Geometry>(node) : std::vector<osg::Geometry*>();
    const auto* colours =
        geometries.empty() ? nullptr : dynamic_cast<const osg::Vec4Array*>(geometries[0]->getColorArray());
    return colours != nullptr && !colours->empty() ? colours->front() : osg::Vec4();
}

} // namespace

TEST(ModelFileCheck, SampleAndGeneratedModelsPassAndStandUpright)
{
    NovaroTest::useTrialReader();
    TemporaryFolder folder;
    for (const char* name : {"cube", "sphere", "cone", "ground", "screen", "tablet"})
    {
        const std::string binary = samples + name + ".osgb";
        EXPECT_EQ(checkModelFile(binary), "") << name;
        osg::ref_ptr<osg::Node> model = readModelFile(binary);
        ASSERT_TRUE(model.valid()) << name;
        for (const char* extension : {".osgt", ".osg"})
        {
            const std::string text = folder.file(name + std::string(extension));
            ASSERT_TRUE(osgDB::writeNodeFile(*model, text)) << text;
            EXPECT_EQ(checkModelFile(text), "") << text;
            EXPECT_TRUE(readModelFile(text).valid()) << text;
        }
    }

    // The glTF and COLLADA files below are read by the run directory's model reader.
    NovaroTest::usePluginFolder();

    // The data the build generates into the run directory, and the sample models as the player
    // reads them: the default model stands on a marker of size 80, the light guides point down their
    // light's -Z axis (the omni light's has no direction), the axes point their ways, the samples
    // stand upright.
    const auto bounds = [](const std::string& file, const std::string& part = "")
    {
        osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(file);
        osg::Node* node =
            model.valid() && !part.empty() ? NovaroTest::findByName(model.get(), part) : model.get();
        osg::ComputeBoundsVisitor visitor;
        if (node != nullptr)
            node->accept(visitor);
        return visitor.getBoundingBox();
    };
    const osg::BoundingBox standing = bounds(runData + "novaro.ive");
    EXPECT_NEAR(standing.xMax() - standing.xMin(), 80.0f, 1.0f);
    EXPECT_NEAR(standing.yMax() - standing.yMin(), 80.0f, 1.0f);
    EXPECT_NEAR(osg::Vec2(standing.center().x(), standing.center().y()).length(), 0.0f, 1e-3);
    EXPECT_TRUE(std::abs(standing.zMin()) < 1e-3 && standing.zMax() > 40.0f)
        << standing.zMin() << standing.zMax();
    for (const char* name : {"DirectionalDummy", "SpotDummy"})
    {
        const osg::BoundingBox box = bounds(runData + "dummies.ive", name);
        EXPECT_TRUE(box.valid() && std::abs(box.zMax()) < 1e-3 && box.zMin() < -10.0f) << name;
    }
    EXPECT_TRUE(bounds(runData + "dummies.ive", "OmniDummy").valid());

    osg::ref_ptr<osg::Node> axes = osgDB::readRefNodeFile(runData + "axes.ive");
    ASSERT_TRUE(axes.valid());
    for (int axis = 0; axis < 3; ++axis)
    {
        const std::string name = std::string(1, char('X' + axis)) + "Axis";
        osg::Vec4 colour(0, 0, 0, 1);
        colour[axis] = 1;
        EXPECT_EQ(overallColourOf(NovaroTest::findByName(axes.get(), name)), colour) << name;
        const osg::BoundingBox box = bounds(runData + "axes.ive", name);
        EXPECT_TRUE(box._max[axis] > 30.0f && box._max[(axis + 1) % 3] < 5.0f) << name;
    }

    for (const char* name : {"cube.osgb", "sphere.osgb", "cone.osgb", "arrow.glb"})
    {
        const osg::BoundingBox box = bounds(samples + name);
        EXPECT_TRUE(box.valid() && std::abs(box.zMin()) < 1e-3 && box.zMax() >= 60.0f - 1e-3 &&
                    box.xMax() - box.xMin() <= 80.0f)
            << name << ": " << box.zMin() << " to " << box.zMax() << ", " << box.xMax() - box.xMin()
            << " wide";
    }

    // The house travels as a SketchUp archive; unpack a copy outside the source tree.
    NovaroTest::TemporaryFolder work;
    std::filesystem::copy_file(samples + "house.kmz", work.file("house.kmz"));
    std::vector<std::string> folders;
    const std::vector<std::string> models =
        KmzImporter::importArchive(work.file("house.kmz"), work.file("house_kmz.tmp"), folders);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_EQ(std::filesystem::path(models[0]).filename(), "house.dae");
    const osg::BoundingBox box = bounds(models[0]);
    EXPECT_NEAR(box.zMin(), 0.0f, 1e-3);
    EXPECT_NEAR(box.zMax(), 50.0f, 1e-3);
    EXPECT_NEAR(box.xMax() - box.xMin(), 64.0f, 1e-3);
}

TEST(ModelFileCheck, CountsAndHeadersBeyondTheFileAreRefusedOrHarmlessAndAReaderCrashingIsRefused)
{
    // Every 32-bit field of the cube holding a count-like value is set to 0x7fffffff in turn. Either
    // the check refuses the file, visibly and naming it, before anything is reserved for the count,
    // or OpenSceneGraph's reader is safe with it; a file that made the reader spin would hang this
    // test, and one it reserved gigabytes for would end it under AddressSanitizer.
    const std::string cube = NovaroTest::readFile(samples + "cube.osgb");
    ASSERT_GT(cube.size(), 64u);
    NovaroTest::useTrialReader();
    TemporaryFolder folder;
    int refused = 0;
    for (size_t offset = 8; offset + 4 <= cube.size(); ++offset)
    {
        uint32_t value = 0;
        std::memcpy(&value, cube.data() + offset, 4);
        if (value == 0 || value > 5000)
            continue;
        std::string hostile = cube;
        const uint32_t huge = 0x7fffffff;
        std::memcpy(&hostile[offset], &huge, 4);
        const std::string path = folder.write("cube" + std::to_string(offset) + ".osgb", hostile);
        NotifyCapture capture(osg::FATAL);
        const std::string reason = checkModelFile(path);
        if (reason.empty())
        {
            readModelFile(path); // harmless: it returns
            continue;
        }
        // Refused at the count, before the library reserves for it.
        EXPECT_EQ(reason.find("more data than memory holds"), std::string::npos) << offset;
        EXPECT_FALSE(readModelFile(path).valid()) << offset;
        EXPECT_EQ(capture.text().rfind(refusal(path), 0), 0u) << offset << ": " << capture.text();
        ++refused;
    }
    EXPECT_GT(refused, 0);

    // The reader reads a binary file's header, and the compressor's name after it, whatever kind of
    // object the header says the file holds: a name's length of 1.8 GB was a string of that size.
    std::string object = cube;
    const uint32_t kind = 3, length = 0x70000000;
    std::memcpy(&object[8], &kind, 4);
    std::memcpy(&object[20], &length, 4);
    EXPECT_EQ(checkModelFile(folder.write("object.osgb", object)),
              "a text of 1879048192 bytes at byte 24, but only " + std::to_string(cube.size() - 24) +
                  " bytes follow");

    // A kind no reader knows, cut inside the header: the reader counted its domains with a number it
    // never read, and looped for minutes.
    std::string cut = object.substr(0, 15);
    const uint32_t unknown = 0;
    std::memcpy(&cut[8], &unknown, 4);
    EXPECT_EQ(checkModelFile(folder.write("cut.osgb", cut)),
              "a number of 4 bytes at byte 12, but only 3 bytes follow");

    // One changed byte in a 3DS file crashes OpenSceneGraph's 3DS reader (a segmentation fault in
    // osgconv). Read first in a child, it is refused by name and the player goes on; the file as made
    // still reads.
    const std::string made = NovaroTest::readFile("/usr/share/assimp/models/3DS/test1.3ds");
    ASSERT_GT(made.size(), 9585u) << "install Debian's assimp-testmodels (scripts/install-deps.sh does)";
    const std::string madePath = folder.write("made.3ds", made);
    EXPECT_EQ(checkModelFile(madePath), "");
    EXPECT_TRUE(readModelFile(madePath).valid());

    std::string broken = made;
    broken[9585] = char(208);
    const std::string brokenPath = folder.write("broken.3ds", broken);
    // Core files allowed, as a user may have them, in a working folder of its own: the crash the
    // check expects leaves none behind.
    rlimit cores;
    getrlimit(RLIMIT_CORE, &cores);
    const rlimit allowed = {cores.rlim_max, cores.rlim_max};
    setrlimit(RLIMIT_CORE, &allowed);
    TemporaryFolder working;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(working.path());
    NotifyCapture capture(osg::FATAL);
    EXPECT_FALSE(readModelFile(brokenPath).valid());
    std::filesystem::current_path(before);
    setrlimit(RLIMIT_CORE, &cores);
    // Under AddressSanitizer the child reports and exits rather than dying of the signal.
    EXPECT_EQ(capture.text().rfind(refusal(brokenPath) + "its reader ", 0), 0u) << capture.text();
    EXPECT_NE(capture.text().find(" on it ("), std::string::npos) << capture.text();
    EXPECT_TRUE(std::filesystem::is_empty(working.path()));

    const std::string cubeText = cubeAsText(folder);
    std::smatch children;
    ASSERT_TRUE(std::regex_search(cubeText, children, std::regex("Children 1 \\{")));
    const size_t line =
        1 + static_cast<size_t>(std::count(cubeText.begin(), cubeText.begin() + children.position(0), '\n'));
    const std::string head = cubeText.substr(0, static_cast<size_t>(children.position(0)));
    const std::string after = cubeText.substr(static_cast<size_t>(children.position(0) + children.length(0)));
    const std::string where = " before the block at line " + std::to_string(line);

    const auto expectRefused = [&](const std::string& count, const std::string& reason)
    {
        const std::string path =
            folder.write("hostile" + count + ".osgt", head + "Children " + count + " {" + after);
        NotifyCapture capture(osg::FATAL);
        osg::ref_ptr<ARObject> object = new ARObject(path);
        EXPECT_EQ(object->getNumChildren(), 0u) << count;
        EXPECT_NE(capture.text().find(refusal(path) + reason), std::string::npos) << capture.text();
    };
    expectRefused("2000000000", "a count of 2000000000" + where + ", but only " +
                                    std::to_string(after.size()) + " bytes follow");
    expectRefused("-1", "a negative count (-1)" + where);
    expectRefused("99999999999999999999999", "a count of 99999999999999999999999" + where);

    // A control point's time is no count, however late in a short file.
    const std::string late = std::regex_replace(cubeText, std::regex("Time 4 \\{"), "Time 2000000000 {");
    ASSERT_NE(late, cubeText);
    const std::string path = folder.write("late.osgt", late);
    EXPECT_EQ(checkModelFile(path), "");
    EXPECT_TRUE(readModelFile(path).valid());

    // A geometry's primitive sets that read as nothing (written "NULL", of a class that is no primitive
    // set, of a class no reader knows) crashed OpenSceneGraph's native readers, and the binary check
    // that reads through them: they are left out, and the geometry keeps the sets it has.
    // Sets of the model's one geometry; none without a model.
    const auto primitiveSetsOf = [](osg::Node* model)
    {
        const std::vector<osg::Geometry*> geometries =
            model != nullptr ? NovaroTest::drawablesOf<osg::Geometry>(model) : std::vector<osg::Geometry*>();
        return geometries.size() == 1 ? geometries[0]->getNumPrimitiveSets() : 99u;
    };
    const size_t list = cubeText.find("PrimitiveSetList 1 {");
    ASSERT_NE(list, std::string::npos);
    const std::string text = cubeText.substr(0, list) +
                             "PrimitiveSetList 4 {\nNULL\nosg::Group {\nUniqueID 900\n}\n"
                             "osg::Nonesuch {\nUniqueID 901\n}\n" +
                             cubeText.substr(list + std::string("PrimitiveSetList 1 {").size());
    EXPECT_EQ(primitiveSetsOf(readModelFile(folder.write("nothing.osgt", text)).get()), 1u);

    std::string binary = NovaroTest::readFile(samples + "cube.osgb");
    const size_t name = binary.find("osg::DrawElementsUInt");
    ASSERT_NE(name, std::string::npos);
    binary.replace(name, 21, "osg::DrawElementsUIns");
    const std::string binaryPath = folder.write("nothing.osgb", binary);
    EXPECT_EQ(checkModelFile(binaryPath), "");
    EXPECT_EQ(primitiveSetsOf(readModelFile(binaryPath).get()), 0u);
}
