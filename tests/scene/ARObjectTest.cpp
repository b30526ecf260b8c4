#include "scene/ARObject.h"
#include "EventsFiles.h"
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "app/ARApplication.h"
#include "interaction/ARAction.h"
#include "interaction/ARActionFactory.h"

#include <osg/AnimationPath>
#include <osg/ColorMask>
#include <osg/Geode>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgAnimation/Bone>
#include <osgAnimation/Skeleton>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

using namespace Novaro;
using NovaroTest::eventXml;
using NovaroTest::NotifyCapture;

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

} // namespace

TEST_F(ARObjectTest, ExtractionKeepsAncestorsAndPathAnimationsAndDropsSiblings)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("root");
    osg::ref_ptr<osg::MatrixTransform> arm = new osg::MatrixTransform(osg::Matrix::translate(1, 2, 3));
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
    path->insert(2.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 5)));
    osg::ref_ptr<osg::AnimationPathCallback> armAnimation =
        new osg::AnimationPathCallback(path.get(), 5.0, 2.0);
    arm->setUpdateCallback(armAnimation.get());
    osg::ref_ptr<osg::Group> hand = new osg::Group;
    osg::ref_ptr<osg::StateSet> handState = new osg::StateSet;
    hand->setStateSet(handState.get());
    osg::ref_ptr<osg::Geode> finger = namedGeode("finger");
    osg::ref_ptr<osg::Geode> thumb = namedGeode("thumb");
    osg::ref_ptr<osg::Geode> leg = namedGeode("leg");
    root->addChild(arm.get());
    root->addChild(leg.get());
    arm->addChild(hand.get());
    hand->addChild(finger.get());
    hand->addChild(thumb.get());

    osg::ref_ptr<ARObject> object = new ARObject(root.get(), "finger");
    ASSERT_EQ(object->getNumChildren(), 1u);
    // Each level a copy with one child.
    osg::Group* rootCopy = object->getChild(0)->asGroup();
    ASSERT_TRUE(rootCopy && rootCopy != root.get() && rootCopy->getNumChildren() == 1u);
    EXPECT_EQ(rootCopy->getName(), "root");
    auto* armCopy = dynamic_cast<osg::MatrixTransform*>(rootCopy->getChild(0));
    ASSERT_TRUE(armCopy && armCopy != arm.get() && armCopy->getNumChildren() == 1u);
    EXPECT_EQ(armCopy->getMatrix(), arm->getMatrix());
    // The path animation is the object's own: a copy of the path, from its start, at normal speed.
    auto* armCopyAnimation = dynamic_cast<osg::AnimationPathCallback*>(armCopy->getUpdateCallback());
    ASSERT_TRUE(armCopyAnimation && armCopyAnimation->getAnimationPath());
    EXPECT_NE(armCopyAnimation->getAnimationPath(), path.get());
    EXPECT_EQ(armCopyAnimation->getTimeOffset(), 0.0);
    EXPECT_EQ(armCopyAnimation->getTimeMultiplier(), 1.0);
    osg::Group* handCopy = armCopy->getChild(0)->asGroup();
    ASSERT_TRUE(handCopy && handCopy != hand.get() && handCopy->getNumChildren() == 1u);
    EXPECT_EQ(handCopy->getStateSet(), handState.get());
    EXPECT_EQ(handCopy->getChild(0), finger.get()); // one child a level: the thumb and the leg stay out
    // The model itself is left as it was.
    EXPECT_EQ(root->getNumChildren(), 2u);
    EXPECT_EQ(hand->getNumChildren(), 2u);
    EXPECT_EQ(arm->getUpdateCallback(), armAnimation.get());
}

TEST_F(ARObjectTest, ExtractionUnderASkeletonKeepsItsBonesAndStopsAtTheModel)
{
    // The model already hangs under an object (a shared scene-wide model): that part is not copied.
    osg::ref_ptr<osg::Group> model = new osg::Group;
    osg::ref_ptr<ARObject> whole = new ARObject(model.get());
    osg::ref_ptr<osgAnimation::Skeleton> skeleton = new osgAnimation::Skeleton;
    osg::ref_ptr<osgAnimation::Bone> bone = new osgAnimation::Bone("bone");
    osg::ref_ptr<osg::MatrixTransform> holder = new osg::MatrixTransform;
    osg::ref_ptr<osg::Geode> mesh = namedGeode("mesh");
    model->addChild(skeleton.get());
    skeleton->addChild(bone.get());
    skeleton->addChild(holder.get());
    holder->addChild(mesh.get());

    osg::ref_ptr<ARObject> object = new ARObject(model.get(), "mesh");
    ASSERT_EQ(object->getNumChildren(), 1u);
    osg::Group* modelCopy = object->getChild(0)->asGroup();
    ASSERT_TRUE(modelCopy && !dynamic_cast<ARObject*>(modelCopy));
    auto* skeletonCopy = dynamic_cast<osgAnimation::Skeleton*>(modelCopy->getChild(0));
    ASSERT_TRUE(skeletonCopy && skeletonCopy != skeleton.get());
    EXPECT_NE(dynamic_cast<osgAnimation::Skeleton::UpdateSkeleton*>(skeletonCopy->getUpdateCallback()),
              nullptr);
    // The skeleton's bones come along, then the chain down to the sub-node.
    ASSERT_EQ(skeletonCopy->getNumChildren(), 2u);
    EXPECT_EQ(skeletonCopy->getChild(0), bone.get());
    auto* holderCopy = dynamic_cast<osg::MatrixTransform*>(skeletonCopy->getChild(1));
    ASSERT_TRUE(holderCopy && holderCopy != holder.get());
    EXPECT_EQ(holderCopy->getChild(0), mesh.get());
}

TEST_F(ARObjectTest, ExtractionEdgeCases)
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
}

TEST_F(ARObjectTest, MatrixRotatesThenScalesThenTranslates)
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
    object->scaleBy(-0.5f);
    EXPECT_NEAR(object->getScale().y(), 1.01f, 1e-6);
    EXPECT_NEAR((osg::Vec3(0, 0, 1) * object->getMatrix()).z(), 31.01f, 1e-4);
}

TEST_F(ARObjectTest, OccluderHidesItsColourAndShowsRedWhenAsked)
{
    osg::ref_ptr<ARObject> plain = new ARObject(namedGeode("box").get());
    plain->showOccluder(true);
    EXPECT_EQ(plain->getStateSet(), nullptr) << "only occluders are shown as such";

    osg::ref_ptr<ARObject> object = new ARObject(namedGeode("wall").get());
    object->setOccluder();
    osg::StateSet* state = object->getStateSet();
    ASSERT_TRUE(object->isOccluder() && state);
    auto writesColour = [&]()
    {
        const auto* mask =
            dynamic_cast<const osg::ColorMask*>(state->getAttribute(osg::StateAttribute::COLORMASK));
        return mask == nullptr || mask->getRedMask() || mask->getGreenMask() || mask->getBlueMask();
    };
    EXPECT_FALSE(writesColour());
    EXPECT_EQ(state->getBinNumber(), -1) << "drawn before the content it hides";
    object->showOccluder(true);
    EXPECT_TRUE(writesColour());
    const auto* material =
        dynamic_cast<const osg::Material*>(state->getAttribute(osg::StateAttribute::MATERIAL));
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->getDiffuse(osg::Material::FRONT), osg::Vec4(1, 0, 0, 0.5f));
    object->showOccluder(false);
    EXPECT_FALSE(writesColour());
}

TEST_F(ARObjectTest, EventsFileFillsTheListsTheLastEventOfANameWins)
{
    // The unknown command "explode" is dropped.
    osg::ref_ptr<ARObject> object = objectWithEvents(
        "lamp", eventXml("on_select", recordAction("first")) +
                    eventXml("on_select", recordAction("second") + recordAction("explode", "explode") +
                                              recordAction("third")) +
                    eventXml("on_custom", recordAction("custom")) +
                    eventXml("on_hide", recordAction("hide")) + eventXml("on_show", recordAction("show")));
    ASSERT_EQ(object->getEventActions(ARObject::ON_SELECT).size(), 2u);
    osg::ref_ptr<ARObject> unread = new ARObject; // an unreadable events file leaves every event empty
    unread->loadEvents(folder.file("no_such_events.xml"));
    EXPECT_FALSE(unread->hasEvent("on_select"));
    EXPECT_TRUE(unread->getEventActions(ARObject::ON_SELECT).empty());
    EXPECT_TRUE(object->hasEvent("on_custom"));
    EXPECT_FALSE(object->hasEvent("on_init"));
    EXPECT_FALSE(object->hasEvent("On_select"));

    object->select();
    EXPECT_EQ(executedIds(), (Ids{"second", "third"}));

    // No other hook runs the events of another name.
    executions.clear();
    object->onLeftMouseClick();
    object->onMouseOver();
    object->onInit();
    object->onUnselect();
    object->onMarkerDetected();
    EXPECT_TRUE(executions.empty());

    // hide and show run their event before the state changes.
    object->hide();
    EXPECT_EQ(object->getNodeMask(), 0u);
    object->show();
    EXPECT_EQ(object->getNodeMask(), 0xFFFFFFFFu);
    ASSERT_EQ(executedIds(), (Ids{"hide", "show"}));
    EXPECT_FALSE(executions[0].ownerHidden);
    EXPECT_TRUE(executions[1].ownerHidden);
}

TEST_F(ARObjectTest, ActionsArePreparedOnlyWithAContext)
{
    osg::ref_ptr<ARObject> object = objectWithEvents(
        "prepare", eventXml("on_init", recordAction("self") + "<action source=\"nobody\" target=\"_self_\">"
                                                              "<command>record</command></action>"));
    std::vector<ARAction*> actions;
    for (AREventAction* action : object->getEventActions(ARObject::ON_INIT))
        actions.push_back(dynamic_cast<ARAction*>(action));
    ASSERT_TRUE(actions.size() == 2u && actions[0] && actions[1]);
    object->resetActions();
    EXPECT_EQ(actions[0]->getSource(), nullptr);

    ARApplication application;
    object->setContext(&application);
    object->resetActions();
    EXPECT_EQ(object->getActionFactory()->getContext(), &application);
    EXPECT_EQ(actions[0]->getSource(), object.get());
    EXPECT_EQ(actions[0]->getTarget(), object.get());
    EXPECT_EQ(actions[1]->getSource(), nullptr);
    EXPECT_EQ(actions[1]->getTarget(), object.get());
}

TEST_F(ARObjectTest, SelectionFreezeAndMarkers)
{
    osg::ref_ptr<ARObject> object =
        objectWithEvents("cube", eventXml("on_select", recordAction("select")) +
                                     eventXml("on_unselect", recordAction("unselect")) +
                                     eventXml("on_freeze", recordAction("freeze")) +
                                     eventXml("on_unfreeze", recordAction("unfreeze")));

    object->setSelectable(false);
    object->select();
    object->toggleSelect();
    EXPECT_FALSE(object->isSelected());
    EXPECT_TRUE(executions.empty());

    object->setSelectable(true);
    object->toggleSelect();
    object->toggleSelect();
    object->toggleFreeze();
    EXPECT_TRUE(object->isFrozen());
    object->toggleFreeze();
    EXPECT_FALSE(object->isFrozen());
    EXPECT_EQ(executedIds(), (Ids{"select", "unselect", "freeze", "unfreeze"}));

    object->addMarker(4);
    object->addMarker(7);
    EXPECT_EQ(object->getMarkerId(), 4); // the first marker places the object

    ARApplication application;
    object->setContext(&application);
    object->select();
    object->setOccluder();
    object->hide();
    object->setSelectable(false);
    EXPECT_TRUE(object->reset());
    EXPECT_FALSE(object->isSelected() || object->isHidden() || object->isOccluder());
    EXPECT_TRUE(object->isSelectable());
    EXPECT_EQ(object->getContext(), nullptr);
    EXPECT_EQ(object->getMarkerId(), -1);
}

TEST_F(ARObjectTest, OptimizeRunsOnlyForStillContent)
{
    osg::ref_ptr<osg::Group> still = new osg::Group;
    still->addChild(namedGeode("a").get());
    still->addChild(namedGeode("b").get());
    osg::ref_ptr<ARObject> object = new ARObject(still.get());
    object->setName("still");
    NotifyCapture capture;
    object->optimize();
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
}
