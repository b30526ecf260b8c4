// A marker's scene subtree: layers and their selection, the sequence modes, the reference system
// read from a transforms file (FBX files: the reference system file tests), fitting content to
// the marker, and the generated multi-marker file.
#include "tracking/ARMarkerNode.h"
#include "app/ARApplication.h"
#include "app/PrivateFolder.h"
#include "scene/ARObject.h"
#include "settings/MarkersData.h"

#include "Matrices.h"
#include "NotifyCapture.h"
#include "PlayerProcess.h"

#include <map>

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osg/io_utils>
#include <osgDB/WriteFile>

#include "osgART/Marker.h"
#include "osgART/MarkerDescription.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

osg::ref_ptr<ARMarkerNode> markerNode(MarkerData* record, ARApplication* application)
{
    osg::ref_ptr<ARMarkerNode> node = new ARMarkerNode(new osgART::Marker("m"), 0, record, 0, application);
    node->setupLayers();
    node->setupSequence();
    node->setupSequenceUsage();
    return node;
}

// A transforms file as the authoring host exports it: named nodes at their poses in the scene,
// written as dummies (transforms without children), the way exporters write markers.
std::string writeTransforms(const TemporaryFolder& directory, const std::string& name,
                            const std::vector<std::pair<std::string, osg::Matrixd>>& nodes)
{
    osg::ref_ptr<osg::MatrixTransform> root =
        new osg::MatrixTransform(osg::Matrixd::translate(0.0, 0.0, 10.0));
    for (const auto& entry : nodes)
    {
        osg::ref_ptr<osg::MatrixTransform> node = new osg::MatrixTransform(entry.second);
        node->setName(entry.first);
        root->addChild(node.get());
    }
    const std::string path = directory.file(name);
    EXPECT_TRUE(osgDB::writeNodeFile(*root, path));
    return path;
}

// A multi marker "board" of three dummies in a transforms file, its patterns under "patterns/".
MarkerData boardMarker(const TemporaryFolder& directory, const std::string& multiPath,
                       const std::vector<std::string>& tagsInFile)
{
    const osg::Matrixd left = osg::Matrixd::translate(-50.0, 0.0, 0.0);
    // A quarter turn about z, written exactly so the file's numbers are exact too.
    const osg::Matrixd right(0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 50, 0, 0, 1);
    const std::map<std::string, osg::Matrixd> poses = {
        {"left", left}, {"middle", osg::Matrixd::identity()}, {"right", right}};
    std::vector<std::pair<std::string, osg::Matrixd>> nodes;
    for (const std::string& tag : tagsInFile)
        nodes.emplace_back(tag, poses.at(tag));

    MarkerData marker;
    marker.setName("board");
    marker.setType("multi");
    marker.setPath(multiPath);
    marker.setTransformsFile(writeTransforms(directory, "board.osgt", nodes));
    for (const char* tag : {"left", "middle", "right"})
    {
        SubmarkerData submarker;
        submarker.setTag(tag);
        submarker.setPath(std::string("patterns/") + tag + ".patt");
        submarker.setSize(std::string(tag) == "right" ? 62.5f : 40.0f);
        marker.getSubmarkers().push_back(submarker);
        directory.write(submarker.getPath(), "pattern");
    }
    return marker;
}

} // namespace

TEST(MarkerNode, SubtreeOrderDefaultLayerWithoutRecordAndSmoothingSteps)
{
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = markerNode(nullptr, &application);
    EXPECT_EQ(node->getLayerSwitch(), node->getFittingTransform()->getChild(0));
    ASSERT_EQ(1u, node->getLayers().size());
    EXPECT_EQ(5.0, node->getLayers().at(0).duration);
    EXPECT_TRUE(node->getLayerSwitch()->getChildValue(node->getLayersGroup()));

    // Objects go to existing layers only, and need an application.
    osg::ref_ptr<ARObject> object = new ARObject;
    EXPECT_FALSE(node->addObject(object.get(), 3));
    EXPECT_TRUE(node->getTrackedTransform()->getListeners().empty());
    EXPECT_TRUE(node->addObject(object.get(), 0));
    EXPECT_EQ(object.get(), node->getLayer(0)->getChild(0));
    EXPECT_EQ(1u, node->getTrackedTransform()->getListeners().size());
    osg::ref_ptr<ARMarkerNode> orphan = new ARMarkerNode(new osgART::Marker, 0, nullptr, 0, nullptr);
    orphan->setupLayers();
    EXPECT_FALSE(orphan->addObject(object.get(), 0));

    // Smoothing steps without a filter change nothing.
    node->increaseSmoothing(0.1f);
    node->resetSmoothing();
    EXPECT_EQ(-1.0f, node->getSmoothingFactor());

    // With one, each step clamps the rotational factor at its end and moves the translational one alike.
    // (Its starting value, as the user sees it: the keyboard modes' tracking keys.)
    node->setSmoothing(true);
    osgART::TransformFilterCallback* filter = node->getMarker()->getFilterCallback();
    for (const bool up : {true, false})
    {
        filter->setRotationalSmoothingFactor(up ? 0.95f : 0.05f);
        filter->setTranslationalSmoothingFactor(0.5f);
        up ? node->increaseSmoothing(0.1f) : node->decreaseSmoothing(0.1f);
        EXPECT_FLOAT_EQ(up ? 1.0f : 0.0f, filter->getRotationalSmoothingFactor());
        EXPECT_FLOAT_EQ(up ? 0.6f : 0.4f, filter->getTranslationalSmoothingFactor());
    }
    node->setSmoothing(false);
    EXPECT_FALSE(filter->isRotationalSmoothingEnabled() || filter->isTranslationalSmoothingEnabled());
}

TEST(MarkerNode, NextAndPreviousWrapAroundSparseLayers)
{
    MarkerData record;
    record.addLayer(2, 1.0);
    record.addLayer(5, 1.0);
    record.addLayer(9, 1.0);
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = markerNode(&record, &application);
    node->changeLayer(false); // from layer 0, which the marker lacks: previous goes to the last
    EXPECT_EQ(9, node->getCurrentLayer());
    node->nextLayer();
    EXPECT_EQ(2, node->getCurrentLayer());
    const auto shown = [&](int layer) { return node->getLayer(layer)->getNodeMask() != 0u; };
    EXPECT_TRUE(shown(2) && !shown(5) && !shown(9));
    node->previousLayer();
    EXPECT_EQ(9, node->getCurrentLayer());
    node->nextLayer();
    node->nextLayer();
    EXPECT_EQ(5, node->getCurrentLayer());

    node->setLayerVisible(3, true); // no such layer: nothing happens
    EXPECT_EQ(3u, node->getLayers().size());
    node->setLayerVisible(9, true);
    EXPECT_TRUE(shown(9));
}

TEST(MarkerNode, SequenceLoopsOrSwingsAndReplacesTheLayersGroup)
{
    for (bool loop : {true, false})
    {
        MarkerData record;
        record.addLayer(0, 2.0);
        record.addLayer(1, 3.0);
        record.setSequence(true);
        record.setSequenceLoop(loop);
        record.setSequenceDuration(4.0);
        ARApplication application;
        osg::ref_ptr<ARMarkerNode> node = markerNode(&record, &application);
        osg::Sequence* sequence = node->getLayerSequence();
        osg::Sequence::LoopMode mode;
        int begin = 0, end = 0, repeats = 0;
        float speed = 0.0f;
        sequence->getInterval(mode, begin, end);
        sequence->getDuration(speed, repeats);
        EXPECT_EQ(std::make_pair(loop ? osg::Sequence::LOOP : osg::Sequence::SWING, 4.0f),
                  std::make_pair(mode, speed));
        // Each layer shows for its own time.
        ASSERT_EQ(2u, sequence->getNumChildren());
        EXPECT_EQ(std::make_pair(2.0, 3.0), std::make_pair(sequence->getTime(0), sequence->getTime(1)));
        EXPECT_TRUE(node->getLayerSwitch()->getChildValue(sequence) &&
                    !node->getLayerSwitch()->getChildValue(node->getLayersGroup()));
    }
}

TEST(MarkerNode, ReferenceSystemIsTheInverseOfTheTaggedNode)
{
    TemporaryFolder directory;
    const osg::Matrixd pose =
        osg::Matrixd::rotate(0.5, osg::Z_AXIS) * osg::Matrixd::translate(40.0, -20.0, 0.0);
    const std::string file = writeTransforms(directory, "transforms.osgt", {{"marker_1", pose}});

    MarkerData record;
    record.setTag("marker_1");
    record.setTransformsFile(file);
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = markerNode(&record, &application);
    const osg::Matrixd world = pose * osg::Matrixd::translate(0.0, 0.0, 10.0);
    EXPECT_TRUE(NovaroTest::nearlyEqual(osg::Matrixd::inverse(world),
                                        node->getReferenceSystemTransform()->getMatrix()))
        << osg::Matrixd::inverse(world) << node->getReferenceSystemTransform()->getMatrix();

    // A transforms file whose data is shorter than its header declares never reaches its reader
    // (OpenSceneGraph's PLY reader read through a null pointer on such a file): it is refused by
    // name, and the reference system stays the identity.
    MarkerData hostile = record;
    hostile.setTransformsFile(directory.write("cut.ply",
                                              "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                                              "property list uchar int i\nend_header\n1\n2\n"));
    NovaroTest::NotifyCapture capture;
    EXPECT_TRUE(markerNode(&hostile, &application)->getReferenceSystemTransform()->getMatrix().isIdentity());
    EXPECT_NE(capture.text(osg::WARN).find("refusing model file " + directory.file("cut.ply")),
              std::string::npos)
        << capture.text();

    // Missing tag, fitting asked for, or a multi marker (which takes its reference from the
    // generated file): identity.
    for (int variant = 0; variant < 3; ++variant)
    {
        MarkerData other = record;
        other.setTag(variant == 0 ? "absent" : "marker_1");
        other.setFit(variant == 1);
        if (variant == 2)
            other.setType("multi");
        EXPECT_TRUE(markerNode(&other, &application)->getReferenceSystemTransform()->getMatrix().isIdentity())
            << variant;
    }
}

TEST(MarkerNode, FittingTranslatesThenScalesToTheMarkerSize)
{
    MarkerData record;
    record.setFit(true);
    record.setSize(80.0f);
    record.setFitFactor(0.5f);
    record.addLayer(0, 5.0);
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = markerNode(&record, &application);

    osg::ref_ptr<osg::Geode> box = new osg::Geode;
    box->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(10.0f, 20.0f, 5.0f), 2.0f, 4.0f, 10.0f)));
    osg::ref_ptr<ARObject> object = new ARObject(box.get());
    object->setUniformScale(1.0f);
    ASSERT_TRUE(node->addObject(object.get(), 0));

    const osg::BoundingSphere sphere = box->getBound();
    const double scale = 80.0 * 0.5 / sphere.radius();
    const osg::Matrixd expected = osg::Matrixd::translate(-sphere.center().x(), -sphere.center().y(), -0.0) *
                                  osg::Matrixd::scale(scale, scale, scale);
    EXPECT_TRUE(NovaroTest::nearlyEqual(expected, node->getFittingTransform()->getMatrix()))
        << expected << node->getFittingTransform()->getMatrix();

    // A model of one point has no size to fit: left as it is, not scaled without end.
    osg::ref_ptr<ARMarkerNode> pointNode = markerNode(&record, &application);
    osg::ref_ptr<osg::Geometry> point = new osg::Geometry;
    const osg::Vec3 at(10.0f, 20.0f, 5.0f);
    point->setVertexArray(new osg::Vec3Array(1, &at));
    point->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, 1));
    osg::ref_ptr<osg::Geode> dot = new osg::Geode;
    dot->addDrawable(point.get());
    ASSERT_TRUE(pointNode->addObject(new ARObject(dot.get()), 0));
    EXPECT_TRUE(pointNode->getFittingTransform()->getMatrix().isIdentity())
        << pointNode->getFittingTransform()->getMatrix();
}

TEST(MultiMarkerFile, WritesEverySubmarkerWithPatternsTheTrackerFindsAndNoIncompleteFile)
{
    TemporaryFolder directory;
    // In a sub-folder of the scene: the patterns are named relative to the scene's folder, the
    // tracker resolves them against the multi file's.
    MarkerData marker = boardMarker(directory, "markers/board_multi.dat", {"left", "middle", "right"});
    std::filesystem::create_directories(directory.file("markers"));
    // A line break in the name must not start a line of its own in the file.
    marker.setName("board\nrm -rf x");

    ARApplication application;
    application.setTemporaryDirectory(directory.path());
    NotifyCapture capture;
    const std::string written = application.writeMultiMarkerFile(&marker);
    ASSERT_FALSE(written.empty()) << capture.text();
    ASSERT_EQ(std::vector<std::string>{written}, application.getTemporaryFiles());
    // Into the run's private folder, under the name the markers file gives; never into the scene.
    EXPECT_EQ(PrivateFolder::path() + "/board_multi.dat", written);
    EXPECT_FALSE(std::filesystem::exists(directory.file("markers/board_multi.dat")));

    // Each submarker: its pattern, its width, and the three rows of its pose in the board.
    const auto submarker = [&](int index, const std::string& tag, const std::string& rows)
    {
        return "# submarker " + std::to_string(index) + "\n" + directory.file("patterns/" + tag + ".patt") +
               "\n" + rows;
    };
    EXPECT_EQ("# Novaro Multi Marker Setup\n# marker name: board rm -rf x\n3\n\n" +
                  submarker(0, "left", "40\n1 0 0 -50\n0 1 0 0\n0 0 1 10\n\n") +
                  submarker(1, "middle", "40\n1 0 0 0\n0 1 0 0\n0 0 1 10\n\n") +
                  submarker(2, "right", "62.5\n0 -1 0 50\n1 0 0 0\n0 0 1 10\n"),
              readFile(written));

    osgART::MultiMarkerSetup setup;
    std::string error;
    ASSERT_TRUE(setup.load(written, &error)) << error;
    ASSERT_EQ(3u, setup.submarkers.size());
    for (const osgART::Submarker& submarker : setup.submarkers)
        EXPECT_TRUE(std::filesystem::is_regular_file(submarker.patternPath)) << submarker.patternPath;

    // A board whose transforms file lacks a submarker is not written, nor left behind half written.
    const MarkerData incomplete = boardMarker(directory, "other_multi.dat", {"left", "right"});
    const auto filesInPrivateFolder = []
    {
        const std::filesystem::directory_iterator entries(PrivateFolder::path());
        return std::distance(begin(entries), end(entries));
    };
    const auto before = filesInPrivateFolder();
    EXPECT_TRUE(application.writeMultiMarkerFile(&incomplete).empty());
    EXPECT_EQ(1u, application.getTemporaryFiles().size());
    EXPECT_EQ(before, filesInPrivateFolder());
    MarkerData empty;
    EXPECT_TRUE(application.writeMultiMarkerFile(&empty).empty());
    EXPECT_TRUE(application.writeMultiMarkerFile(nullptr).empty());
}
