#include "scene/ARObject.h"
#include "Display.h"
#include "EventsFiles.h"
#include "MovieWriter.h"
#include "NotifyCapture.h"
#include "RunDirectory.h"
#include "SceneGraph.h"
#include "TemporaryFolder.h"
#include "VideoScreens.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"
#include "interaction/ARAction.h"
#include "interaction/ARActionFactory.h"
#include "osgART/Marker.h"
#include "scene/ARGeodeVisitor.h"
#include "scene/ARLight.h"
#include "scene/ARLightSourceVisitor.h"
#include "scene/ARTextureUnitsVisitor.h"
#include "scene/ARTextureUnitsVisitorMover.h"
#include "scene/ARVideo.h"
#include "scene/TextureUnitRenaming.h"
#include "scene/VideoTexture.h"
#include "tracking/ARMarkerNode.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/AnimationPath>
#include <osg/ColorMask>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/Program>
#include <osg/ShapeDrawable>
#include <osg/TexEnv>
#include <osg/TexEnvCombine>
#include <osg/TexMat>
#include <osg/Texture2D>
#include <osg/TextureRectangle>
#include <osg/io_utils>
#include <osgAnimation/Bone>
#include <osgAnimation/Skeleton>
#include <osgDB/WriteFile>
#include <osgViewer/Viewer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// What the recording actions saw when they ran: their "id" parameter and the owner's hidden flag.
struct Execution
{
    std::string id;
    bool ownerHidden;
};
std::vector<Execution> executions;
typedef std::vector<std::string> Ids;
Ids executedIds()
{
    Ids ids;
    for (const Execution& execution : executions)
        ids.push_back(execution.id);
    return ids;
}

class RecordingAction : public ARAction
{
public:
    bool execute() override
    {
        ARObject* owner = getFactory() != nullptr ? getFactory()->getOwner() : nullptr;
        executions.push_back({getParameter("id"), owner != nullptr && owner->isHidden()});
        return true;
    }
};

// Knows the command "record" besides the table of the real factory.
class RecordingFactory : public ARActionFactory
{
public:
    using ARActionFactory::ARActionFactory;
    std::unique_ptr<ARAction> create(const std::string& command) const override
    {
        if (command == "record")
            return std::unique_ptr<ARAction>(new RecordingAction);
        return ARActionFactory::create(command);
    }
};

// An action with no target named, which means the object itself.
std::string recordAction(const std::string& id, const std::string& command = "record")
{
    return NovaroTest::actionXml(command, "", {{"id", id}});
}

osg::ref_ptr<osg::Geode> namedGeode(const std::string& name)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    return geode;
}

// Hangs the child under the parent, which keeps it.
template <typename T> T* add(osg::Group* parent, T* child)
{
    parent->addChild(child);
    return child;
}

class ARObjectTest : public ::testing::Test
{
protected:
    void SetUp() override { executions.clear(); }

    // An object of that name whose actions know "record", with the events loaded from a file.
    osg::ref_ptr<ARObject> objectWithEvents(const std::string& name, const std::string& events)
    {
        osg::ref_ptr<ARObject> object = new ARObject;
        object->setName(name);
        object->setActionFactory(std::unique_ptr<ARActionFactory>(new RecordingFactory(object.get())));
        object->loadEvents(folder.write(name + ".xml", NovaroTest::eventsFileXml(name, events)));
        return object;
    }

    NovaroTest::TemporaryFolder folder;
};

// Whether the visible lines report one loop, and it is 'chain'.
::testing::AssertionResult oneLoop(const NotifyCapture& capture, const std::string& chain)
{
    const std::vector<std::string> warnings = NovaroTest::visibleLinesWith(capture, "loop");
    if (warnings.size() == 1 && warnings[0].find(chain) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << capture.text();
}

// Where the light shines, in its object's frame.
osg::Vec3d shiningDirection(const ARLight& light)
{
    osg::Vec3d direction =
        osg::Matrixd::transform3x3(osg::Vec3d(0.0, 0.0, -1.0), light.getLightTransform()->getMatrix());
    direction.normalize();
    return direction;
}

void expectNear(const osg::Vec3d& expected, const osg::Vec3d& actual)
{
    EXPECT_NEAR(0.0, (expected - actual).length(), 1e-6) << expected << " / " << actual;
}

std::vector<bool> guideStates(const ARLight& light)
{
    std::vector<bool> states;
    for (unsigned int child = 0; child < light.getGuides()->getNumChildren(); ++child)
        states.push_back(light.getGuides()->getValue(child));
    return states;
}

// The state set of a screen's one quad.
osg::StateSet* planeState(osg::Geode* geode)
{
    return geode->getDrawable(0)->getOrCreateStateSet();
}

// Draws a window-filling quad textured with one row of 'pixels' through the blue chroma-key
// program on a red background and reads the window back.
osg::ref_ptr<osg::Image> drawKeyed(const std::vector<osg::Vec3>& pixels)
{
    osg::ref_ptr<osg::Image> row = new osg::Image;
    row->allocateImage(static_cast<int>(pixels.size()), 1, 1, GL_RGB, GL_FLOAT);
    for (size_t index = 0; index < pixels.size(); ++index)
        reinterpret_cast<osg::Vec3*>(row->data())[index] = pixels[index];
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(row.get());
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::NEAREST);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::NEAREST);
    texture->setResizeNonPowerOfTwoHint(false);

    osg::ref_ptr<osg::Geode> quad = new osg::Geode;
    quad->addDrawable(osg::createTexturedQuadGeometry(
        osg::Vec3(-1.0f, -1.0f, 0.0f), osg::Vec3(2.0f, 0.0f, 0.0f), osg::Vec3(0.0f, 2.0f, 0.0f)));
    osg::StateSet* state = quad->getOrCreateStateSet();
    state->setTextureAttributeAndModes(0, texture.get());
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(new osg::Shader(osg::Shader::VERTEX, chromaKeyVertexShader(0)));
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, chromaKeyFragmentShader(false)));
    state->setAttributeAndModes(program.get());
    state->addUniform(new osg::Uniform("baseTexture", 0));

    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    viewer->setUpViewInWindow(20, 20, 64, 16);
    viewer->getCamera()->setClearColor(osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
    viewer->getCamera()->setProjectionMatrix(osg::Matrix::identity());
    viewer->getCamera()->setViewMatrix(osg::Matrix::identity());
    viewer->setCameraManipulator(nullptr);
    viewer->setSceneData(quad.get());
    osg::ref_ptr<osg::Image> window = new osg::Image;
    struct ReadBack : osg::Camera::DrawCallback
    {
        explicit ReadBack(osg::Image* image) : _image(image) {}
        void operator()(osg::RenderInfo&) const override
        {
            _image->readPixels(0, 0, 64, 16, GL_RGB, GL_FLOAT);
        }
        osg::Image* _image;
    };
    viewer->getCamera()->setFinalDrawCallback(new ReadBack(window.get()));
    viewer->frame();
    viewer->frame();
    return window;
}

osg::Vec3 windowPixel(const osg::Image& window, int column)
{
    return *reinterpret_cast<const osg::Vec3*>(window.data(column, 8));
}

osg::ref_ptr<osg::Group> namedGroup(const std::string& name)
{
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->setName(name);
    return group;
}

} // namespace

TEST_F(ARObjectTest, ExtractionKeepsAncestorsPathAnimationsAndASkeletonsBonesAndDropsSiblings)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    auto* arm = add(root.get(), new osg::MatrixTransform(osg::Matrix::translate(1, 2, 3)));
    add(root.get(), namedGeode("leg").get());
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
    path->insert(2.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 5)));
    osg::ref_ptr<osg::AnimationPathCallback> armAnimation =
        new osg::AnimationPathCallback(path.get(), 5.0, 2.0);
    arm->setUpdateCallback(armAnimation.get());
    auto* hand = add(arm, new osg::Group);
    osg::StateSet* handState = hand->getOrCreateStateSet();
    osg::Geode* finger = add(hand, namedGeode("finger").get());
    add(hand, namedGeode("thumb").get());

    osg::ref_ptr<ARObject> object = new ARObject(root.get(), "finger");
    ASSERT_EQ(object->getNumChildren(), 1u);
    // Each level a copy with one child.
    osg::Group* rootCopy = object->getChild(0)->asGroup();
    ASSERT_TRUE(rootCopy && rootCopy != root.get() && rootCopy->getNumChildren() == 1u);
    auto* armCopy = dynamic_cast<osg::MatrixTransform*>(rootCopy->getChild(0));
    ASSERT_TRUE(armCopy && armCopy != arm && armCopy->getNumChildren() == 1u);
    EXPECT_EQ(armCopy->getMatrix(), arm->getMatrix());
    // The path animation is the object's own: a copy of the path, from its start, at normal speed.
    auto* armCopyAnimation = dynamic_cast<osg::AnimationPathCallback*>(armCopy->getUpdateCallback());
    ASSERT_TRUE(armCopyAnimation && armCopyAnimation->getAnimationPath());
    EXPECT_NE(armCopyAnimation->getAnimationPath(), path.get());
    EXPECT_EQ(armCopyAnimation->getTimeOffset(), 0.0);
    EXPECT_EQ(armCopyAnimation->getTimeMultiplier(), 1.0);
    osg::Group* handCopy = armCopy->getChild(0)->asGroup();
    ASSERT_TRUE(handCopy && handCopy != hand && handCopy->getNumChildren() == 1u);
    EXPECT_EQ(handCopy->getStateSet(), handState);
    EXPECT_EQ(handCopy->getChild(0), finger); // one child a level: the thumb and the leg stay out
    // The model itself is left as it was.
    EXPECT_EQ(root->getNumChildren(), 2u);
    EXPECT_EQ(hand->getNumChildren(), 2u);
    EXPECT_EQ(arm->getUpdateCallback(), armAnimation.get());

    // Under a skeleton its bones are kept, and the copy stops at the model.
    // The model already hangs under an object (a shared scene-wide model): that part is not copied.
    osg::ref_ptr<osg::Group> model = new osg::Group;
    osg::ref_ptr<ARObject> whole = new ARObject(model.get());
    auto* skeleton = add(model.get(), new osgAnimation::Skeleton);
    auto* bone = add(skeleton, new osgAnimation::Bone("bone"));
    auto* holder = add(skeleton, new osg::MatrixTransform);
    osg::Geode* mesh = add(holder, namedGeode("mesh").get());

    osg::ref_ptr<ARObject> boned = new ARObject(model.get(), "mesh");
    ASSERT_EQ(boned->getNumChildren(), 1u);
    osg::Group* modelCopy = boned->getChild(0)->asGroup();
    ASSERT_TRUE(modelCopy && !dynamic_cast<ARObject*>(modelCopy));
    auto* skeletonCopy = dynamic_cast<osgAnimation::Skeleton*>(modelCopy->getChild(0));
    ASSERT_TRUE(skeletonCopy && skeletonCopy != skeleton);
    EXPECT_NE(dynamic_cast<osgAnimation::Skeleton::UpdateSkeleton*>(skeletonCopy->getUpdateCallback()),
              nullptr);
    // The skeleton's bones come along, then the chain down to the sub-node.
    ASSERT_EQ(skeletonCopy->getNumChildren(), 2u);
    EXPECT_EQ(skeletonCopy->getChild(0), bone);
    auto* holderCopy = dynamic_cast<osg::MatrixTransform*>(skeletonCopy->getChild(1));
    ASSERT_TRUE(holderCopy && holderCopy != holder);
    EXPECT_EQ(holderCopy->getChild(0), mesh);
}

TEST_F(ARObjectTest, ExtractionEdgeCasesAndOptimizingOnlyStillContentKeepingSharedInstancesInsideTheirArrays)
{
    osg::ref_ptr<osg::Geode> single = namedGeode("single");
    osg::ref_ptr<ARObject> itself = new ARObject(single.get(), "single");
    ASSERT_EQ(itself->getNumChildren(), 1u);
    EXPECT_EQ(itself->getChild(0), single.get());
    // Nothing of that name, no node, no file: an empty object.
    auto children = [](ARObject* made) { return osg::ref_ptr<ARObject>(made)->getNumChildren(); };
    EXPECT_EQ(children(new ARObject(single.get(), "other")), 0u);
    EXPECT_EQ(children(new ARObject(static_cast<osg::Node*>(nullptr), "single")), 0u);
    EXPECT_EQ(children(new ARObject(folder.file("no_such_model.osgt"), "single")), 0u);

    // A part of a file, by name (whole files: the scene loading tests).
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->addChild(namedGeode("a").get());
    model->addChild(namedGeode("b").get());
    const std::string file = folder.file("model.osgt");
    ASSERT_TRUE(osgDB::writeNodeFile(*model, file));
    osg::ref_ptr<ARObject> partFromFile = new ARObject(file, "b");
    ASSERT_EQ(partFromFile->getNumChildren(), 1u);
    ASSERT_EQ(partFromFile->getChild(0)->asGroup()->getNumChildren(), 1u);
    EXPECT_EQ(partFromFile->getChild(0)->asGroup()->getChild(0)->getName(), "b");

    // Optimizing runs only for still content.
    osg::ref_ptr<ARObject> still = new ARObject(model.get());
    still->setName("still");
    NotifyCapture capture;
    still->optimize();
    EXPECT_TRUE(capture.printed(" Optimizing: still - Done."));
    // An animation path nested behind another callback is still found.
    osg::ref_ptr<osg::MatrixTransform> moving = new osg::MatrixTransform;
    moving->addChild(namedGeode("c").get());
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d()));
    moving->setUpdateCallback(new osg::NodeCallback);
    moving->getUpdateCallback()->setNestedCallback(new osg::AnimationPathCallback(path.get()));
    osg::ref_ptr<osg::Group> holder = new osg::Group;
    holder->addChild(moving.get());
    osg::ref_ptr<ARObject> animated = new ARObject(holder.get());
    EXPECT_FALSE(animated->isOptimizeEnabled());
    capture.clear();
    animated->optimize();
    EXPECT_EQ(capture.text(), "");

    // A model's instances (COLLADA's instance nodes) are geometries sharing their arrays and triangles.
    // Optimizing rewrites a geometry's data for drawing; it must leave every geometry indexing inside
    // its own arrays (a shared teapot made the OpenGL driver read past them and crash the player).
    // A 12 x 12 grid, two triangles a square, each triangle with corners of its own, as exporters
    // write faces with their own normals and texture coordinates: stripping merges the copies.
    const int side = 12;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array, normals = new osg::Vec3Array;
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x)
            for (const osg::Vec2i corner : {osg::Vec2i(0, 0), osg::Vec2i(1, 0), osg::Vec2i(1, 1),
                                            osg::Vec2i(0, 0), osg::Vec2i(1, 1), osg::Vec2i(0, 1)})
            {
                triangles->push_back(unsigned(vertices->size()));
                vertices->push_back(osg::Vec3(float(x + corner.x()), float(y + corner.y()), 0.0f));
                normals->push_back(osg::Vec3(0.0f, 0.0f, 1.0f));
            }
    osg::ref_ptr<osg::Group> instances = new osg::Group;
    for (const float offset : {0.0f, 20.0f})
    {
        osg::ref_ptr<osg::Geometry> instance = new osg::Geometry;
        instance->setVertexArray(vertices.get());
        instance->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
        instance->addPrimitiveSet(triangles.get());
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->addDrawable(instance.get());
        osg::ref_ptr<osg::MatrixTransform> place =
            new osg::MatrixTransform(osg::Matrix::translate(offset, 0, 0));
        place->addChild(geode.get());
        instances->addChild(place.get());
    }
    osg::ref_ptr<ARObject> shared = new ARObject(instances.get());
    const NotifyCapture quiet;
    shared->optimize();
    const std::vector<osg::Geometry*> geometries = NovaroTest::drawablesOf<osg::Geometry>(shared.get());
    ASSERT_EQ(geometries.size(), 2u);
    for (const osg::Geometry* geometry : geometries)
        for (unsigned int set = 0; set < geometry->getNumPrimitiveSets(); ++set)
            for (unsigned int i = 0; i < geometry->getPrimitiveSet(set)->getNumIndices(); ++i)
                ASSERT_LT(geometry->getPrimitiveSet(set)->index(i),
                          geometry->getVertexArray()->getNumElements())
                    << "an index past its geometry's vertices";
}

TEST_F(ARObjectTest, MatrixRotatesThenScalesThenTranslatesAndAnOccluderHidesItsColourUnlessShown)
{
    osg::ref_ptr<ARObject> object = new ARObject;
    object->setScale(2.0f, 3.0f, 4.0f);
    const osg::Quat quarterTurnAboutZ(osg::PI_2, osg::Z_AXIS);
    object->setRotation(quarterTurnAboutZ.x(), quarterTurnAboutZ.y(), quarterTurnAboutZ.z(),
                        quarterTurnAboutZ.w());
    object->setTranslation(10.0f, 20.0f, 30.0f);
    // (1, 0, 0) turns to (0, 1, 0), is scaled to (0, 3, 0), then moved.
    const osg::Vec3 moved = osg::Vec3(1, 0, 0) * object->getMatrix();
    EXPECT_NEAR((moved - osg::Vec3(10.0f, 23.0f, 30.0f)).length(), 0.0f, 1e-5);

    // scaleBy adds to the x scale and makes the scale uniform; the matrix follows.
    object->scaleBy(0.01f);
    EXPECT_NEAR((object->getScale() - osg::Vec3(2.02f, 2.02f, 2.02f)).length(), 0.0f, 1e-5);
    EXPECT_NEAR((osg::Vec3(0, 0, 1) * object->getMatrix()).z(), 32.02f, 1e-4);

    // An occluder hides its colour and shows red when asked.
    osg::ref_ptr<ARObject> plain = new ARObject(namedGeode("box").get());
    plain->showOccluder(true);
    EXPECT_EQ(plain->getStateSet(), nullptr) << "only occluders are shown as such";

    osg::ref_ptr<ARObject> wall = new ARObject(namedGeode("wall").get());
    wall->setOccluder();
    osg::StateSet* state = wall->getStateSet();
    ASSERT_TRUE(wall->isOccluder() && state);
    auto writesColour = [&]()
    {
        const auto* mask =
            dynamic_cast<const osg::ColorMask*>(state->getAttribute(osg::StateAttribute::COLORMASK));
        return mask == nullptr || mask->getRedMask() || mask->getGreenMask() || mask->getBlueMask();
    };
    EXPECT_FALSE(writesColour());
    EXPECT_EQ(state->getBinNumber(), -1) << "drawn before the content it hides";
    wall->showOccluder(true);
    EXPECT_TRUE(writesColour());
    const auto* material =
        dynamic_cast<const osg::Material*>(state->getAttribute(osg::StateAttribute::MATERIAL));
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->getDiffuse(osg::Material::FRONT), osg::Vec4(1, 0, 0, 0.5f));
    wall->showOccluder(false);
    EXPECT_FALSE(writesColour());
}

TEST_F(ARObjectTest, EventsFileFillsTheListsTheLastEventOfANameWinsEachHookRunsItsOwnWithAContext)
{
    // The unknown command "explode" is dropped.
    osg::ref_ptr<ARObject> object = objectWithEvents(
        "lamp", eventXml("on_select", recordAction("first")) +
                    eventXml("on_select", recordAction("second") + recordAction("explode", "explode") +
                                              recordAction("third")) +
                    eventXml("on_unselect", recordAction("unselect")) +
                    eventXml("on_freeze", recordAction("freeze")) +
                    eventXml("on_unfreeze", recordAction("unfreeze")) +
                    eventXml("on_custom", recordAction("custom")) +
                    eventXml("on_hide", recordAction("hide")) + eventXml("on_show", recordAction("show")));
    ASSERT_EQ(object->getEventActions(ARObject::ON_SELECT).size(), 2u);
    osg::ref_ptr<ARObject> unread = new ARObject; // an unreadable events file leaves every event empty
    unread->loadEvents(folder.file("no_such_events.xml"));
    EXPECT_FALSE(unread->hasEvent("on_select"));
    EXPECT_TRUE(object->hasEvent("on_custom"));
    EXPECT_FALSE(object->hasEvent("on_init"));
    EXPECT_FALSE(object->hasEvent("On_select"));

    object->setSelectable(false);
    object->select();
    object->toggleSelect();
    EXPECT_FALSE(object->isSelected());
    EXPECT_TRUE(executions.empty());
    object->setSelectable(true);
    object->select();
    EXPECT_EQ(executedIds(), (Ids{"second", "third"}));

    // No other hook runs the events of another name.
    executions.clear();
    object->onLeftMouseClick();
    object->onMouseOver();
    object->onInit();
    object->onMarkerDetected();
    EXPECT_TRUE(executions.empty());

    object->toggleSelect();
    object->toggleSelect();
    object->toggleFreeze();
    EXPECT_TRUE(object->isFrozen());
    object->toggleFreeze();
    EXPECT_FALSE(object->isFrozen());
    EXPECT_EQ(executedIds(), (Ids{"unselect", "second", "third", "freeze", "unfreeze"}));

    // hide and show run their event before the state changes.
    executions.clear();
    object->hide();
    EXPECT_EQ(object->getNodeMask(), 0u);
    object->show();
    EXPECT_EQ(object->getNodeMask(), 0xFFFFFFFFu);
    ASSERT_EQ(executedIds(), (Ids{"hide", "show"}));
    EXPECT_FALSE(executions[0].ownerHidden);
    EXPECT_TRUE(executions[1].ownerHidden);

    object->addMarker(4);
    object->addMarker(7);
    EXPECT_EQ(object->getMarkerId(), 4); // the first marker places the object
    ARApplication application;
    object->setContext(&application);
    object->setOccluder();
    object->hide();
    object->setSelectable(false);
    EXPECT_TRUE(object->reset());
    EXPECT_FALSE(object->isSelected() || object->isHidden() || object->isOccluder());
    EXPECT_TRUE(object->isSelectable());
    EXPECT_EQ(object->getContext(), nullptr);
    EXPECT_EQ(object->getMarkerId(), -1);

    // Actions are prepared only with a context.
    osg::ref_ptr<ARObject> prepared = objectWithEvents(
        "prepare", eventXml("on_init", recordAction("self") + "<action source=\"nobody\" target=\"_self_\">"
                                                              "<command>record</command></action>"));
    std::vector<ARAction*> actions;
    for (AREventAction* action : prepared->getEventActions(ARObject::ON_INIT))
        actions.push_back(dynamic_cast<ARAction*>(action));
    ASSERT_TRUE(actions.size() == 2u && actions[0] && actions[1]);
    prepared->resetActions();
    EXPECT_EQ(actions[0]->getSource(), nullptr);

    prepared->setContext(&application);
    prepared->resetActions();
    EXPECT_EQ(prepared->getActionFactory()->getContext(), &application);
    EXPECT_EQ(actions[0]->getSource(), prepared.get());
    EXPECT_EQ(actions[0]->getTarget(), prepared.get());
    EXPECT_EQ(actions[1]->getSource(), nullptr);
    EXPECT_EQ(actions[1]->getTarget(), prepared.get());
}

// Events whose actions come back to themselves: hiding an object runs its "on_hide", whose actions
// may hide it again, or hide another object whose "on_hide" hides the first. Such loops are cut at
// the repeated event with one warning naming them; chains without a repeat run in full.

TEST(EventLoopsTest, LoopsEndInTheFirstRequestWithOneWarningChainsWithoutALoopRunToTheLimit)
{
    NovaroTest::TemporaryFolder folder;
    ARApplication application;
    std::vector<osg::ref_ptr<ARObject>> objects;
    // A registered object named 'name' whose events file holds 'events'.
    const auto object = [&](const std::string& name, const std::string& events)
    {
        osg::ref_ptr<ARObject> created = new ARObject;
        created->setName(name);
        created->setContext(&application);
        created->loadEvents(folder.write(name + ".xml", NovaroTest::eventsFileXml(name, events)));
        application.registerObject(created.get());
        objects.push_back(created);
        return created.get();
    };
    const auto prepare = [&]
    {
        for (const osg::ref_ptr<ARObject>& prepared : objects)
            prepared->resetActions();
    };
    ARObject* sign = object("sign", eventXml("on_hide", actionXml("show", "_self_")) +
                                        eventXml("on_show", actionXml("hide", "_self_")));
    ARObject* left = object("left", eventXml("on_marker_detected", actionXml("hide", "_self_")) +
                                        eventXml("on_hide", actionXml("hide", "right")));
    ARObject* right = object("right", eventXml("on_marker_detected", actionXml("hide", "_self_")) +
                                          eventXml("on_hide", actionXml("hide", "left")));
    ARObject* bystander = object("bystander", eventXml("on_select", actionXml("hide", "_self_")));
    prepare();
    NotifyCapture capture;
    // Show and hide flipping each other.
    sign->hide();
    EXPECT_TRUE(sign->isHidden());
    sign->show();
    EXPECT_FALSE(sign->isHidden());
    EXPECT_EQ(sign->getNodeMask(), 0xFFFFFFFFu);
    // Entered from either side it is one loop.
    EXPECT_TRUE(oneLoop(capture, "sign on_hide -> sign on_show -> sign on_hide"));

    // Two objects hiding each other from a marker detection.
    capture.clear();
    left->onMarkerDetected();
    right->onMarkerDetected();
    EXPECT_TRUE(left->isHidden());
    EXPECT_TRUE(right->isHidden());
    EXPECT_TRUE(oneLoop(capture, "left on_hide -> right on_hide -> left on_hide"));

    // The rest of the scene still answers its events.
    bystander->select();
    EXPECT_TRUE(bystander->isHidden());
    left->show();
    left->hide();
    EXPECT_TRUE(left->isHidden());
    EXPECT_TRUE(oneLoop(capture, "left on_hide -> right on_hide -> left on_hide"));

    // Chains and repeats without a loop run in full.
    // One click hides three objects; hiding the first shows a fourth, whose "on_show" hides a fifth:
    // every object is reached, some twice, but no event comes back to itself while running.
    ARObject* button = object(
        "button", eventXml("on_left_mouse_click", actionXml("hide", "a") + actionXml("hide", "b") +
                                                      actionXml("hide", "a") + actionXml("hide", "c")));
    ARObject* a = object("a", eventXml("on_hide", actionXml("show", "d")));
    ARObject* b = object("b", eventXml("on_hide", actionXml("hide", "e")));
    ARObject* c = object("c", eventXml("on_hide", actionXml("hide", "e")));
    ARObject* d = object("d", eventXml("on_show", actionXml("hide", "e")));
    ARObject* e = object("e", "");
    prepare();
    d->hide();
    capture.clear();
    button->onLeftMouseClick();
    EXPECT_EQ((std::vector<bool>{a->isHidden(), b->isHidden(), c->isHidden(), d->isHidden(), e->isHidden()}),
              (std::vector<bool>{true, true, true, false, true}));
    EXPECT_EQ(capture.text(osg::FATAL), "");

    // A chain of events deeper than the player lets run (each object's "on_hide" hides the next) stops
    // at its limit, with one warning, instead of running the stack out.
    const int count = 1100;
    std::vector<ARObject*> chain;
    for (int i = 0; i < count; ++i)
        chain.push_back(
            object("o" + std::to_string(i),
                   i + 1 < count ? eventXml("on_hide", actionXml("hide", "o" + std::to_string(i + 1))) : ""));
    prepare();
    capture.clear();
    chain[0]->hide();
    int hidden = 0;
    while (hidden < count && chain[size_t(hidden)]->isHidden())
        ++hidden;
    EXPECT_EQ(1 + 1024, hidden); // the first by hand, then one a running event
    for (int i = hidden; i < count; ++i)
        ASSERT_FALSE(chain[size_t(i)]->isHidden()) << i;
    EXPECT_EQ(1u, NovaroTest::visibleLinesWith(capture, "deeper than 1024").size())
        << capture.text(osg::FATAL);
}

// The scene light: where its transform puts it and where it points, the light taken from a model,
// the attenuation steps, the guides shown for each kind of light, and a directional light lifted
// over a marker's content.

TEST(LightTest, LightsStandWhereTheyArePutKeepTheirAttenuationInRangeAndShowTheirGuides)
{
    // The guides are read from data/ relative to the current directory, as the player runs.
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
    osg::ref_ptr<ARLight> light = new ARLight(true);
    light->setPosition(80.0, 80.0, 80.0, 1.0);
    light->setDirection(1.0, 2.0, 3.0);
    // Turning keeps the place: rotation first, then translation.
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());
    osg::Vec3d wanted(1.0, 2.0, 3.0);
    wanted.normalize();
    expectNear(wanted, shiningDirection(*light));
    // The OpenGL light of a directional light comes from the opposite side.
    const osg::Vec4 position = light->getLight()->getPosition();
    EXPECT_EQ(0.0f, position.w());
    osg::Vec3d towardsLight = osg::Matrixd::transform3x3(osg::Vec3d(position.x(), position.y(), position.z()),
                                                         light->getLightTransform()->getMatrix());
    towardsLight.normalize();
    expectNear(-wanted, towardsLight);

    // A further turn about the light's own X axis leaves it in place; a directional light does
    // not move.
    light->setDirection(1.0, 0.0, 0.0);
    light->rotate(osg::Quat(osg::PI_2, osg::X_AXIS));
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());
    expectNear(osg::Vec3d(0.0, 1.0, 0.0), shiningDirection(*light));
    light->move(5.0, 0.0, 0.0);
    expectNear(osg::Vec3d(80.0, 80.0, 80.0), light->getLightTransform()->getMatrix().getTrans());

    // A light from a model takes its parent transform and number.
    osg::ref_ptr<osg::Light> modelLight = new osg::Light(2); // directional: at (0, 0, 1, 0)
    modelLight->setSpotCutoff(20.0f);
    osg::ref_ptr<osg::LightSource> source = new osg::LightSource;
    source->setLight(modelLight.get());
    const osg::Quat turn(0.5, osg::Y_AXIS);
    osg::ref_ptr<osg::MatrixTransform> parent =
        new osg::MatrixTransform(osg::Matrixd::rotate(turn) * osg::Matrixd::translate(1.0, 2.0, 3.0));
    parent->addChild(source.get());
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->addChild(parent.get());

    osg::ref_ptr<ARLight> fromModel = new ARLight(model.get());
    EXPECT_FALSE(fromModel->isFromXMLData());
    EXPECT_TRUE(fromModel->isDirectional());
    EXPECT_EQ(source.get(), fromModel->getLightSource());
    EXPECT_EQ(parent.get(), fromModel->getLightTransform());
    EXPECT_EQ(7, modelLight->getLightNum());
    EXPECT_EQ(180.0f, modelLight->getSpotCutoff());
    EXPECT_EQ(4u, parent->getNodeMask());
    expectNear(osg::Vec3d(1.0, 2.0, 3.0), fromModel->getLightTranslation().getTrans());
    EXPECT_NEAR(0.0, (fromModel->getLightRotation().getRotate() - turn).length(), 1e-6);

    osg::ref_ptr<osg::Group> unlit = new osg::Group;
    unlit->addChild(new osg::Geode);
    osg::ref_ptr<ARLight> none = new ARLight(unlit.get());
    EXPECT_EQ(nullptr, none->getLightSource());
    none->move(1.0, 0.0, 0.0);
    none->changeAttenuation(0.1f);
    none->showGuides(true);

    osg::ref_ptr<osg::Group> loose = new osg::Group;
    loose->addChild(new osg::LightSource);
    osg::ref_ptr<ARLight> orphan = new ARLight(loose.get());
    EXPECT_EQ(nullptr, orphan->getLightTransform());
    orphan->setPosition(1.0, 2.0, 3.0, 1.0);

    // A marker lifts a directional light over its content.
    ARApplication application;
    osg::ref_ptr<ARMarkerNode> node = new ARMarkerNode(new osgART::Marker("m"), 0, nullptr, 0, &application);
    node->setupLayers();
    osg::ref_ptr<ARObject> tower = new ARObject(new osg::Geode);
    static_cast<osg::Geode*>(tower->getChild(0))
        ->addDrawable(
            new osg::ShapeDrawable(new osg::Box(osg::Vec3(0.0f, 0.0f, 20.0f), 10.0f, 10.0f, 40.0f)));
    tower->setScale(1.0f, 1.0f, 1.0f);
    osg::ref_ptr<ARLight> sun = new ARLight(true);
    sun->setPosition(80.0, 80.0, 80.0, 1.0);
    osg::ref_ptr<ARLight> lamp = new ARLight(false);
    lamp->setPosition(5.0, 5.0, 5.0, 1.0);

    ASSERT_TRUE(node->addObject(sun.get(), 0) && node->addObject(lamp.get(), 0) &&
                node->addObject(tower.get(), 0));
    // Lights hang beside the layers, directly under the tracked transform: no fitting.
    EXPECT_EQ(node->getTrackedTransform(), sun->getParent(0));
    expectNear(osg::Vec3d(0.0, 0.0, 60.0), sun->getLightTranslation().getTrans());
    expectNear(osg::Vec3d(5.0, 5.0, 5.0), lamp->getLightTranslation().getTrans());

    // A positional light moves and refuses degenerate input.
    light = new ARLight(false);
    light->setPosition(10.0, 20.0, 30.0, 2.0);
    light->move(1.0, 2.0, 3.0);
    expectNear(osg::Vec3d(6.0, 12.0, 18.0), light->getLightTransform()->getMatrix().getTrans());
    const osg::Vec3d direction = shiningDirection(*light);
    light->setPosition(1.0, 1.0, 1.0, 0.0);
    light->setDirection(0.0, 0.0, 0.0);
    expectNear(osg::Vec3d(6.0, 12.0, 18.0), light->getLightTransform()->getMatrix().getTrans());
    expectNear(direction, shiningDirection(*light));

    // The attenuation stays between the step and one.
    const std::vector<std::tuple<float, float, float>> cases = {
        {0.02f, 0.025f, 0.025f}, {0.5f, 0.025f, 0.475f}, {0.99f, -0.025f, 1.0f}};
    for (const auto& each : cases)
    {
        light->getLight()->setConstantAttenuation(std::get<0>(each));
        light->changeAttenuation(std::get<1>(each));
        EXPECT_FLOAT_EQ(std::get<2>(each), light->getLight()->getConstantAttenuation());
    }

    // The guides show the light's kind and the axes.
    light = new ARLight(false);
    ASSERT_TRUE(light->getGuides() && light->getGuides()->getNumChildren() == 4u);
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
    light->showGuides(true);
    EXPECT_EQ(std::vector<bool>({false, true, false, true}), guideStates(*light));
    light->setSpotCutoff(30.0f);
    light->makePositional();
    EXPECT_EQ(std::vector<bool>({false, false, true, true}), guideStates(*light));
    light->makeDirectional();
    EXPECT_EQ(std::vector<bool>({true, false, false, true}), guideStates(*light));
    light->toggleGuides();
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
    // Hidden guides stay hidden when the light changes kind.
    light->makePositional();
    EXPECT_EQ(std::vector<bool>({false, false, false, false}), guideStates(*light));
}

// Movies in the scene: a video object's plane and the video textures of other objects named by
// the scene's videos table, on real movies written here, and the chroma key drawn.

TEST(Movies, AVideoGoesOnItsPlanesTopUnitKeyedIfAskedOrSaysWhyNotAndOtherObjectsFollowTheTable)
{
    usePluginFolder();
    TemporaryFolder folder;
    ASSERT_TRUE(writeGreyRampMovie(folder.file("clip.mp4"), 5, 64, 48, 25));
    osg::ref_ptr<osg::Geode> plane = screen({0, 2});
    osg::ref_ptr<ARVideo> video = new ARVideo(plane.get());
    video->setupVideo(folder.file("clip.mp4"), false);
    ASSERT_NE(nullptr, video->getStream());
    EXPECT_EQ(64.0f, video->getWidth());
    osg::StateSet* state = planeState(plane.get());
    const osg::Texture2D* movie =
        dynamic_cast<const osg::Texture2D*>(state->getTextureAttribute(2, osg::StateAttribute::TEXTURE));
    // Movie rows come top first: the plane shows them flipped.
    const osg::TexMat* flip =
        dynamic_cast<const osg::TexMat*>(state->getTextureAttribute(2, osg::StateAttribute::TEXMAT));
    ASSERT_TRUE(movie && flip);
    EXPECT_EQ(video->getStream(), movie->getImage());
    EXPECT_EQ(osg::Matrix::scale(1.0, -1.0, 1.0), flip->getMatrix());
    EXPECT_EQ(osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED, state->getMode(GL_LIGHTING));
    // (Playing, pausing and looping it: the actions test's commands.)

    // A chroma-keyed video gets the key program on its unit.
    osg::ref_ptr<osg::Geode> keyedPlane = screen({0});
    osg::ref_ptr<ARVideo> keyed = new ARVideo(keyedPlane.get());
    keyed->setChromaKey(true);
    keyed->setChromaKeyFromGreenScreen(false);
    keyed->setupVideo(folder.file("clip.mp4"), true);
    state = planeState(keyedPlane.get());
    const osg::Program* program =
        dynamic_cast<const osg::Program*>(state->getAttribute(osg::StateAttribute::PROGRAM));
    // (What the program keys out: the chroma key test draws it.)
    ASSERT_TRUE(program && program->getNumShaders() == 2u && state->getUniform("baseTexture"));
    int unit = -1;
    state->getUniform("baseTexture")->get(unit);
    EXPECT_EQ(0, unit);
    EXPECT_EQ(osg::StateSet::TRANSPARENT_BIN, state->getRenderingHint());
    EXPECT_EQ(nullptr, state->getTextureAttribute(0, osg::StateAttribute::TEXMAT));

    // Failures are reported and leave the object.
    NotifyCapture capture;
    osg::ref_ptr<ARVideo> noFile = new ARVideo(screen({0}).get());
    noFile->setupVideo("", true);
    noFile->play();
    noFile->togglePause();
    EXPECT_TRUE(capture.printed(" WARNING: could not create video node: missing video file name."));
    EXPECT_EQ(nullptr, noFile->getStream());

    osg::ref_ptr<ARVideo> unreadable = new ARVideo(screen({0}).get());
    const std::string text = folder.write("notes.mp4", "not a movie");
    unreadable->setupVideo(text, true);
    EXPECT_TRUE(capture.printed(" WARNING: unable to read file: " + text));

    osg::ref_ptr<ARVideo> bare = new ARVideo(screen({}).get());
    bare->setupVideo(folder.file("clip.mp4"), true);
    EXPECT_TRUE(capture.printed(" WARNING: could not find any valid texture for video object."));

    // Video textures of other objects follow the scene's table by tag.
    ASSERT_TRUE(writeSceneWithVideos(
        folder, {{"Screen1", "clip.mp4"}, {"Screen2", "clip.mp4"}, {"Missing", "clip.mp4"}}));
    ARApplication application;
    application.setTemporaryDirectory(folder.path());
    ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));

    osg::ref_ptr<osg::Group> model = screensModel({"Screen1", "Screen2"});
    osg::ref_ptr<ARObject> object = new ARObject(model.get());
    object->setContext(&application);
    // (A tag this object lacks is left to the scene loading, which knows whether any object has it.)
    object->setupVideoTextures();
    // Named by the movie as the table writes it, not by the tag.
    EXPECT_EQ((std::vector<std::string>{"clip.mp4", "clip.mp4"}), object->getVideoNames());
    ASSERT_EQ(2u, object->getVideoStreams().size());
    // (Playing them by name, and the full window among two movies: the actions test.)
    object->setupVideoTextures(); // a second time: nothing more
    EXPECT_EQ(2u, object->getVideoStreams().size());

    // The texture unit chosen, the subload's sizes, the shader's unit and its renaming.
    // The movie takes the highest textured unit of 0 to 3.
    EXPECT_EQ(2, highestTexturedUnit(planeState(screen({0, 2}).get())));
    EXPECT_EQ(-1, highestTexturedUnit(planeState(screen({}).get())));
    EXPECT_EQ(-1, highestTexturedUnit(planeState(screen({5}).get())));

    // Strictly above: a power of two goes to the next one.
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(1024, 512, 1, GL_RGB, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    osg::ref_ptr<ITexture2DSubloadCallback> subload = new ITexture2DSubloadCallback(texture.get());
    EXPECT_EQ(2048.0, subload->getTextureWidth());
    EXPECT_EQ(1024.0, subload->getTextureHeight());
    EXPECT_EQ(2048, texture->getTextureWidth());
    EXPECT_EQ(1024, ITexture2DSubloadCallback::powerOfTwoAbove(640));

    const std::string vertex = chromaKeyVertexShader(3);
    EXPECT_NE(std::string::npos, vertex.find("gl_MultiTexCoord3"));
    EXPECT_EQ(std::string::npos, vertex.find("gl_MultiTexCoord0"));

    // Renaming a unit rewrites every token form of the unit only.
    const std::string source =
        "gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;\n"
        "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
        "vec4 p = vec4(gl_EyePlaneS[0].x, gl_EyePlaneT[0].y, gl_EyePlaneR[0].z, gl_EyePlaneQ[0].w);\n"
        "x = gl_TexCoord[0].st + gl_TexCoord[0].st;";
    EXPECT_EQ(replaceTextureUnit(0, 3, source),
              "gl_TexCoord[3] = gl_TextureMatrix[3] * gl_MultiTexCoord3;\n"
              "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
              "vec4 p = vec4(gl_EyePlaneS[3].x, gl_EyePlaneT[3].y, gl_EyePlaneR[3].z, gl_EyePlaneQ[3].w);\n"
              "x = gl_TexCoord[3].st + gl_TexCoord[3].st;");
    EXPECT_EQ(replaceTextureUnit(2, 2, "gl_TexCoord[2]"), "gl_TexCoord[2]");
    // Moving onto a unit and back restores the text when the target unit was not used before.
    EXPECT_EQ(replaceTextureUnit(4, 1, replaceTextureUnit(1, 4, "gl_MultiTexCoord1")), "gl_MultiTexCoord1");

    // Last, as it needs a window: key-coloured pixels go and others stay.
    NOVARO_REQUIRE_DISPLAY();
    // Blue key: (0.05, 0.05, 0.50) is 0.45 into the key and goes; (0.30, 0.30, 0.35) is 0.05 in
    // and stays; a green pixel means nothing to the blue key.
    osg::ref_ptr<osg::Image> blue =
        drawKeyed({{0.05f, 0.05f, 0.50f}, {0.30f, 0.30f, 0.35f}, {0.05f, 0.60f, 0.05f}, {0.9f, 0.9f, 0.9f}});
    ASSERT_NE(nullptr, blue->data());
    const osg::Vec3 background(1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 8) - background).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 24) - osg::Vec3(0.30f, 0.30f, 0.35f)).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 40) - osg::Vec3(0.05f, 0.60f, 0.05f)).length(), 0.02f);
    // (The green key on a real movie over the camera: the media end-to-end test.)
}

// The scene graph visitors: names, geodes, lights and the texture units the movies are put on.

TEST(ARNodeVisitors, FindTheLastMatchInDepthFirstOrderAndRecordAndCompactTextureUnits)
{
    osg::ref_ptr<osg::Group> root = namedGroup("root");
    osg::Group* first = add(root.get(), namedGroup("Screen").get());
    add(add(first, namedGroup("Screen").get()), new osg::Geode); // below a match: never considered
    osg::Group* branch = add(root.get(), namedGroup("branch").get());
    osg::Geode* second = add(branch, new osg::Geode); // a match holding something
    second->setName("Screen");
    second->addDrawable(new osg::Geometry);
    for (const char* other : {"Screen", "screen", "Screen "}) // an empty group, then other names
        root->addChild(namedGroup(other));
    auto found = [&](const std::string& name)
    {
        ARNodeSearchByNameVisitor visitor(name);
        root->accept(visitor);
        return visitor.getNode();
    };
    EXPECT_EQ(found("Screen"), second);
    EXPECT_EQ(found("Scree"), nullptr);

    // With the second one gone, the outer node of the nested pair is the result.
    branch->removeChild(second);
    EXPECT_EQ(found("Screen"), first);

    // A leaf that is not a group is a valid match.
    osg::ref_ptr<osg::Node> leaf = new osg::Node;
    leaf->setName("leaf");
    root->addChild(leaf.get());
    EXPECT_EQ(found("leaf"), leaf.get());

    // The geode and light source visitors find the last one in depth-first order too.
    osg::ref_ptr<osg::Group> lit = new osg::Group;
    add(lit.get(), new osg::Geode);
    add(lit.get(), new osg::LightSource);
    osg::Group* middle = add(lit.get(), new osg::Group);
    add(middle, new osg::Geode);
    osg::LightSource* lastLight = add(middle, new osg::LightSource);
    osg::Geode* geodeUnderLight = add(lastLight, new osg::Geode);

    ARGeodeVisitor geodes;
    lit->accept(geodes);
    EXPECT_EQ(geodes.getGeode(), geodeUnderLight);

    ARLightSourceVisitor lights;
    lit->accept(lights);
    EXPECT_EQ(lights.getLightSource(), lastLight);

    ARGeodeVisitor none;
    namedGroup("empty")->accept(none);
    EXPECT_EQ(none.getGeode(), nullptr);

    // The texture units visitor records units once, in order, and counts combiners.
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::Geometry> firstDrawable = new osg::Geometry;
    firstDrawable->getOrCreateStateSet()->setTextureAttributeAndModes(2, new osg::Texture2D);
    firstDrawable->getOrCreateStateSet()->setTextureAttributeAndModes(5, new osg::TextureRectangle);
    firstDrawable->getOrCreateStateSet()->setTextureAttribute(1, new osg::TexEnvCombine);
    osg::ref_ptr<osg::Geometry> secondDrawable = new osg::Geometry;
    secondDrawable->getOrCreateStateSet()->setTextureAttributeAndModes(2, new osg::Texture2D);
    secondDrawable->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D);
    secondDrawable->getOrCreateStateSet()->setTextureAttribute(1, new osg::TexEnvCombine);
    osg::ref_ptr<osg::Geometry> withoutState = new osg::Geometry;
    geode->addDrawable(firstDrawable.get());
    geode->addDrawable(secondDrawable.get());
    geode->addDrawable(withoutState.get());

    NotifyCapture capture;
    ARTextureUnitsVisitor visitor;
    geode->accept(visitor);

    std::vector<unsigned int> used;
    for (const auto& unit : visitor.getUsedUnits())
        used.push_back(unit.first);
    EXPECT_EQ(used, (std::vector<unsigned int>{0, 2, 5}));
    EXPECT_EQ(visitor.getUsedUnitsList(), (std::vector<unsigned int>{2, 5, 0}));
    EXPECT_EQ(visitor.getOpacityUnits(), (std::vector<unsigned int>{1, 1}));
    // Unit 2 met again in the second drawable is not printed a second time.
    EXPECT_EQ(capture.text(osg::FATAL), " Found TU: 2 (Texture2D)\n Found TU: 5\n Found TU: 0 (Texture2D)\n");

    // The mover compacts textures and coordinates, keeping their order.
    // Each drawable's units move down on their own; an environment alone holds its unit too.
    osg::ref_ptr<osg::Geode> moved = new osg::Geode;
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec2Array> coordinatesA = new osg::Vec2Array(1);
    osg::ref_ptr<osg::Vec2Array> coordinatesB = new osg::Vec2Array(1);
    geometry->setTexCoordArray(1, coordinatesA.get());
    geometry->setTexCoordArray(3, coordinatesB.get());
    osg::ref_ptr<osg::Texture2D> textureA = new osg::Texture2D;
    osg::ref_ptr<osg::TextureRectangle> textureB = new osg::TextureRectangle;
    osg::ref_ptr<osg::TexEnv> environmentB = new osg::TexEnv(osg::TexEnv::DECAL);
    osg::StateSet* stateSet = geometry->getOrCreateStateSet();
    stateSet->setTextureAttributeAndModes(1, textureA.get());
    stateSet->setTextureAttribute(3, textureB.get());
    stateSet->setTextureAttribute(3, environmentB.get());
    moved->addDrawable(geometry.get());
    osg::ref_ptr<osg::Geometry> other = new osg::Geometry;
    osg::ref_ptr<osg::TexEnv> otherEnvironment = new osg::TexEnv;
    osg::ref_ptr<osg::Texture2D> otherTexture = new osg::Texture2D;
    osg::StateSet* otherState = other->getOrCreateStateSet();
    otherState->setTextureAttribute(2, otherEnvironment.get());
    otherState->setTextureAttributeAndModes(6, otherTexture.get());
    moved->addDrawable(other.get());

    ARTextureUnitsVisitorMover mover;
    moved->accept(mover);

    EXPECT_EQ(geometry->getTexCoordArray(0), coordinatesA.get());
    EXPECT_EQ(geometry->getTexCoordArray(1), coordinatesB.get());
    EXPECT_EQ(geometry->getTexCoordArray(2), nullptr);
    EXPECT_EQ(geometry->getTexCoordArray(3), nullptr);
    EXPECT_EQ(stateSet->getTextureMode(0, GL_TEXTURE_2D) & osg::StateAttribute::ON, osg::StateAttribute::ON);
    EXPECT_EQ(stateSet->getTextureAttribute(0, osg::StateAttribute::TEXTURE), textureA.get());
    EXPECT_EQ(stateSet->getTextureAttribute(1, osg::StateAttribute::TEXTURE), textureB.get());
    EXPECT_EQ(stateSet->getTextureAttribute(1, osg::StateAttribute::TEXENV), environmentB.get());
    EXPECT_EQ(stateSet->getTextureAttribute(3, osg::StateAttribute::TEXTURE), nullptr);
    EXPECT_EQ(stateSet->getTextureAttribute(3, osg::StateAttribute::TEXENV), nullptr);
    EXPECT_EQ(otherState->getTextureAttribute(0, osg::StateAttribute::TEXENV), otherEnvironment.get());
    EXPECT_EQ(otherState->getTextureAttribute(1, osg::StateAttribute::TEXTURE), otherTexture.get());
    EXPECT_EQ(otherState->getTextureAttribute(6, osg::StateAttribute::TEXTURE), nullptr);
}
