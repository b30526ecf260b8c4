// Scene loading: model paths resolved as exporters write them, the scene-wide model shared by the
// objects that use it, the FBX quarter turn by authoring host, ignored objects and objects on
// markers the markers settings do not know.
#include "NotifyCapture.h"
#include "SettingsFixture.h"
#include "app/ARApplication.h"
#include "scene/ARObject.h"
#include "settings/MarkersData.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>

#include <functional>

#include <osg/Geode>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include "osgART/Marker.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class LoadedScene
{
public:
    LoadedScene(const std::string& objects,
                const std::string& sceneAttributes = "authoring_software=\"3dsmax\"",
                const std::string& metadata = "", std::function<double()> loadingClock = nullptr)
    {
        directory.write("config.xml", minimalConfiguration());
        directory.write("markers.xml", "<markers patterns_file=\"p.dat\">"
                                       "<marker name=\"three\" id=\"3\" path=\"3.patt\"/>"
                                       "<marker name=\"four\" id=\"4\" path=\"4.patt\"/></markers>");
        directory.write("scene.xml", "<scene " + sceneAttributes + ">" + metadata + "<objects>" + objects +
                                         "</objects></scene>");
        osg::ref_ptr<osg::Geode> model = new osg::Geode;
        model->setName("model");
        model->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 10.0f)));
        std::filesystem::create_directories(directory.file("models"));
        osgDB::writeNodeFile(*model, directory.file("models/box.osgt"));
        osgDB::writeNodeFile(*model, directory.file("scene.osgt"));
        osg::ref_ptr<osg::Group> screen = new osg::Group;
        screen->setName("Screen1");
        screen->addChild(model.get());
        osgDB::writeNodeFile(*screen, directory.file("models/screen.osgt"));
        directory.write("models/part.fbx", "not a model");
        directory.write("models/part.dae", "not a model either");

        application.setWorkingDirectory(directory.path());
        application.setTemporaryDirectory(directory.path());
        EXPECT_TRUE(application.setConfiguration("config.xml"));
        EXPECT_TRUE(application.setMarkersConfiguration("markers.xml"));
        EXPECT_TRUE(application.setSceneConfiguration("scene.xml"));
        application.setApplicationHint();
        // The marker nodes the tracker set-up would make for the two markers.
        for (MarkerData& marker : application.getMarkersConfiguration()->getMarkers())
        {
            osg::ref_ptr<ARMarkerNode> node =
                new ARMarkerNode(new osgART::Marker(marker.getName()), 0, &marker, 0, &application);
            node->setupLayers();
            application.getMarkers()[marker.getId()] = node;
        }
        if (loadingClock)
            application.setLoadingClock(loadingClock);
        capture.clear();
        application.loadSceneObjects();
    }

    ARObject* object(const std::string& name) const
    {
        for (ARObject* object : application.getObjects())
            if (object->getName() == name)
                return object;
        return nullptr;
    }

    TemporaryFolder directory;
    NotifyCapture capture;
    ARApplication application;
};

std::string object(const std::string& name, const std::string& model,
                   const std::string& markers = "<marker id=\"3\"/>", const std::string& attributes = "",
                   const std::string& transforms = "")
{
    return "<object name=\"" + name + "\" type=\"ARObject\" " + attributes + "><model " + model + "/>" +
           transforms + "<markers>" + markers + "</markers></object>";
}

} // namespace

TEST(SceneLoading, RelativeSourcesResolveAgainstTheirFolderAndObjectsWithoutOneShareTheSceneWideModel)
{
    LoadedScene scene(object("direct", "source=\"models/box.osgt\"") +
                          object("folder", "source=\"box.osgt\" source_folder=\"models\"") +
                          object("missing", "source=\"m.ive\" source_folder=\"models\"") +
                          object("drive", "source=\"m.ive\" source_folder=\"C:\\models\"") +
                          object("first", "") + object("second", "", "<marker id=\"4\"/>"),
                      "source=\"scene.osgt\" authoring_software=\"3dsmax\"");
    ASSERT_TRUE(scene.object("direct") && scene.object("folder"));
    EXPECT_EQ(1u, scene.object("folder")->getNumChildren());
    EXPECT_TRUE(scene.capture.printed(" WARNING: cannot find model file: " + scene.directory.path() +
                                      "/models/m.ive"));
    EXPECT_TRUE(scene.capture.printed(" WARNING: cannot find model file: C:\\models/m.ive"));
    EXPECT_EQ(4u, scene.application.getObjectCount());

    ARObject *first = scene.object("first"), *second = scene.object("second");
    ASSERT_TRUE(first && second && first->getNumChildren() == 1u);
    EXPECT_EQ(first->getChild(0), second->getChild(0));
}

// Objects without any model, ignored or of unknown types are never built; an object on a marker the
// markers settings do not know is reported once and still goes on its known one; transforms take
// their angle in radians; a video tag no object carries is reported once.
TEST(SceneLoading, ObjectsAreBuiltOnTheirKnownMarkersWithTheirTransformsAndVideoTags)
{
    LoadedScene scene(
        object("nothing", "") +
            object("ignored", "source=\"models/box.osgt\"", "<marker id=\"3\"/>", "ignore=\"true\"") +
            "<object name=\"odd\" type=\"ARThing\"><model source=\"models/box.osgt\"/>"
            "<markers><marker id=\"3\"/></markers></object>" +
            object("pair", "source=\"models/box.osgt\"", "<marker id=\"3\" layer=\"0\"/><marker id=\"5\"/>") +
            object("turned", "source=\"models/box.osgt\"", "<marker id=\"3\"/>", "",
                   "<transforms><translation x=\"1\" y=\"2\" z=\"3\"/><scale x=\"2\"/>"
                   "<rotation axis=\"z\" angle=\"3.14159\"/></transforms>") +
            object("screen", "source=\"models/screen.osgt\""),
        "authoring_software=\"3dsmax\"",
        "<metadata><videos><video tag=\"Screen1\" movie=\"clip.mp4\"/>"
        "<video tag=\"Screen9\" movie=\"clip.mp4\"/></videos></metadata>");
    EXPECT_TRUE(scene.capture.printed(
        " WARNING: neither a scene source file nor an object source file were specified."));
    EXPECT_TRUE(scene.capture.printed(" WARNING: Object type not supported. Skipping."));
    EXPECT_EQ(3u, scene.application.getObjectCount());

    ARObject* pair = scene.object("pair");
    ASSERT_NE(nullptr, pair);
    EXPECT_EQ(std::vector<int>{3}, pair->getMarkerIds());
    EXPECT_EQ(1, scene.capture.count("WARNING: object/tracker marker mismatch.")) << "reported once";
    EXPECT_EQ(pair, scene.application.getMarkers()[3]->getLayer(0)->getChild(0));

    ARObject* turned = scene.object("turned");
    ASSERT_NE(nullptr, turned);
    const osg::Matrixd& matrix = turned->getMatrix();
    EXPECT_EQ(osg::Vec3d(1.0, 2.0, 3.0), matrix.getTrans());
    // Half a turn about z, then scaled by (2, 1, 1): x goes to -2, y to -1.
    EXPECT_NEAR(-2.0, (osg::Vec3d(1.0, 0.0, 0.0) * matrix - matrix.getTrans()).x(), 1e-4);
    EXPECT_NEAR(-1.0, (osg::Vec3d(0.0, 1.0, 0.0) * matrix - matrix.getTrans()).y(), 1e-4);

    EXPECT_EQ(0, scene.capture.count("WARNING: could not find video node by tag (Screen1)"));
    EXPECT_EQ(1, scene.capture.count("WARNING: could not find video node by tag (Screen9)"));
}

TEST(SceneLoading, FbxModelsGetAQuarterTurnExceptFromMayaAndCinema4d)
{
    const std::pair<const char*, bool> hosts[] = {{"3dsmax", true}, {"maya", false}, {"cinema4d", false}};
    for (const auto& host : hosts)
    {
        // The file need not be readable: the turn depends on the file name the exporter wrote.
        LoadedScene scene(object("fbx", "source=\"models/part.fbx\"") +
                              object("dae", "source=\"models/part.dae\""),
                          std::string("authoring_software=\"") + host.first + "\"");
        ARObject *fbx = scene.object("fbx"), *dae = scene.object("dae");
        ASSERT_TRUE(fbx && dae) << host.first << scene.capture.text();
        const osg::Quat expected = host.second ? osg::Quat(osg::PI_2, osg::X_AXIS) : osg::Quat();
        EXPECT_LT((fbx->getRotation() - expected).length(), 1e-9) << host.first;
        EXPECT_TRUE(dae->getRotation().zeroRotation()) << host.first;
    }
}

TEST(SceneLoading, ALongLoadSaysHowFarItHasComeAndAShortOneIsQuiet)
{
    const std::string three = object("a", "source=\"models/box.osgt\"") +
                              object("b", "source=\"models/screen.osgt\"") + object("sun", "");
    // Each look at the clock finds 0.3 s more: loading passes half a second at the second object.
    double now = 0.0;
    LoadedScene slow(three, "authoring_software=\"3dsmax\"", "", [&now] { return now += 0.3; });
    EXPECT_FALSE(slow.capture.printed("Loading box.osgt (1 of 3 objects)"));
    EXPECT_EQ(osg::ALWAYS, slow.capture.severityOf("Loading screen.osgt (2 of 3 objects)"));
    EXPECT_TRUE(slow.capture.printed("Loading sun (3 of 3 objects)") &&
                slow.capture.printed("Loaded 3 objects in 1.2 s"));

    LoadedScene quick(three, "authoring_software=\"3dsmax\"", "", [] { return 7.0; });
    EXPECT_EQ(std::string::npos, quick.capture.text().find("Load"));
}
