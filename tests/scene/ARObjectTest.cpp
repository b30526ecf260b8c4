
#include "scene/ARObject.h"
#include "EventsFiles.h"
#include "NotifyCapture.h"
#include "SceneGraph.h"
#include "SceneTestSupport.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"
#include "interaction/ARAction.h"
#include "interaction/ARActionFactory.h"

#include <osg/AnimationPath>
#include <osg/ColorMask>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgAnimation/Bone>
#include <osgAnimation/Skeleton>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// The "id" parameters of the recording actions as they ran, marked when their owner was hidden.
typedef std::vector<std::string> Ids;
Ids executions;

class RecordingAction : public ARAction
{
public:
    bool execute() override
    {
        ARObject* owner = getFactory() != nullptr ? getFactory()->getOwner() : nullptr;
        executions.push_back(getParameter("id") + (owner != nullptr && owner->isHidden() ? " (hidden)" : ""));
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
    EXPECT_EQ(std::make_pair(armCopyAnimation->getTimeOffset(), armCopyAnimation->getTimeMultiplier()),
              std::make_pair(0.0, 1.0));
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
    osg::ref_ptr<osg::Group> holder = new osg::Group;
    auto* moving = add(holder.get(), new osg::MatrixTransform);
    moving->addChild(namedGeode("c").get());
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d()));
    moving->setUpdateCallback(new osg::NodeCallback);
    moving->getUpdateCallback()->setNestedCallback(new osg::AnimationPathCallback(path.get()));
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
        add(add(instances.get(), new osg::MatrixTransform(osg::Matrix::translate(offset, 0, 0))),
            new osg::Geode)
            ->addDrawable(instance.get());
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
    EXPECT_EQ(executions, (Ids{"second", "third"}));

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
    EXPECT_EQ(executions, (Ids{"unselect", "second", "third", "freeze", "unfreeze"}));

    // hide and show run their event before the state changes.
    executions.clear();
    object->hide();
    EXPECT_EQ(object->getNodeMask(), 0u);
    object->show();
    EXPECT_EQ(object->getNodeMask(), 0xFFFFFFFFu);
    EXPECT_EQ(executions, (Ids{"hide", "show (hidden)"}));

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
