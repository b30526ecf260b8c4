#include "ARObject.h"
#include "ARAction.h"
#include "ARActionFactory.h"
#include "ARApplication.h"
#include "NotifyCapture.h"

#include <osg/AnimationPath>
#include <osg/BlendFunc>
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

#include <fstream>

using namespace Novaro;

namespace
{

// What the recording actions saw when they ran: their "id" parameter and the owner's hidden flag.
struct Execution
{
    std::string id;
    bool ownerHidden;
};
std::vector<Execution> executions;

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

// Knows the one command "record" besides the (so far empty) table of the real factory.
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

std::string recordAction(const std::string& id, const std::string& command = "record")
{
    return "<action source=\"_self_\" target=\"\"><command>" + command +
           "</command><parameters><parameter name=\"id\">" + id + "</parameter></parameters></action>";
}

std::string event(const std::string& name, const std::string& actions)
{
    return "<event name=\"" + name + "\"><actions>" + actions + "</actions></event>";
}

std::string writeEventsFile(const std::string& name, const std::string& events)
{
    const std::string path = "arobject_" + name + ".xml";
    std::ofstream out(path);
    out << "<?xml version=\"1.0\"?>\n<events name=\"" << name << "\">" << events << "</events>\n";
    return path;
}

osg::ref_ptr<osg::Geode> namedGeode(const std::string& name)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    return geode;
}

// True when 'node' can be reached from 'root'.
bool reaches(osg::Node* root, const osg::Node* node)
{
    if (root == node)
        return true;
    osg::Group* group = root->asGroup();
    for (unsigned int i = 0; group != nullptr && i < group->getNumChildren(); ++i)
        if (reaches(group->getChild(i), node))
            return true;
    return false;
}

class ARObjectTest : public ::testing::Test
{
protected:
    void SetUp() override { executions.clear(); }
};

} // namespace

TEST_F(ARObjectTest, ExtractionKeepsAncestorsAndPathAnimationsAndDropsSiblings)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("root");
    osg::ref_ptr<osg::MatrixTransform> arm = new osg::MatrixTransform(osg::Matrix::translate(1, 2, 3));
    arm->setName("arm");
    arm->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
    path->insert(2.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 5)));
    osg::ref_ptr<osg::AnimationPathCallback> armAnimation =
        new osg::AnimationPathCallback(path.get(), 5.0, 2.0);
    arm->setUpdateCallback(armAnimation.get());
    osg::ref_ptr<osg::Group> hand = new osg::Group;
    hand->setName("hand");
    hand->setNodeMask(0x3);
    hand->setCullingActive(false);
    hand->setDataVariance(osg::Object::DYNAMIC);
    osg::ref_ptr<osg::StateSet> handState = new osg::StateSet;
    hand->setStateSet(handState.get());
    osg::ref_ptr<osg::NodeCallback> handCallback = new osg::NodeCallback;
    hand->setUpdateCallback(handCallback.get());
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
    osg::Group* rootCopy = object->getChild(0)->asGroup();
    ASSERT_NE(rootCopy, nullptr);
    EXPECT_NE(rootCopy, root.get());
    EXPECT_EQ(rootCopy->getName(), "root");
    ASSERT_EQ(rootCopy->getNumChildren(), 1u);

    auto* armCopy = dynamic_cast<osg::MatrixTransform*>(rootCopy->getChild(0));
    ASSERT_NE(armCopy, nullptr);
    EXPECT_NE(armCopy, arm.get());
    EXPECT_EQ(armCopy->getMatrix(), arm->getMatrix());
    EXPECT_EQ(armCopy->getReferenceFrame(), osg::Transform::ABSOLUTE_RF);
    // The path animation is the object's own: a copy of the path, from its start, at normal speed.
    auto* armCopyAnimation = dynamic_cast<osg::AnimationPathCallback*>(armCopy->getUpdateCallback());
    ASSERT_NE(armCopyAnimation, nullptr);
    EXPECT_NE(armCopyAnimation, armAnimation.get());
    ASSERT_NE(armCopyAnimation->getAnimationPath(), nullptr);
    EXPECT_NE(armCopyAnimation->getAnimationPath(), path.get());
    EXPECT_EQ(armCopyAnimation->getAnimationPath()->getTimeControlPointMap().size(), 2u);
    EXPECT_EQ(armCopyAnimation->getTimeOffset(), 0.0);
    EXPECT_EQ(armCopyAnimation->getTimeMultiplier(), 1.0);
    ASSERT_EQ(armCopy->getNumChildren(), 1u);

    osg::Group* handCopy = armCopy->getChild(0)->asGroup();
    ASSERT_NE(handCopy, nullptr);
    EXPECT_NE(handCopy, hand.get());
    EXPECT_EQ(handCopy->getName(), "hand");
    EXPECT_EQ(handCopy->getStateSet(), handState.get());
    EXPECT_EQ(handCopy->getUpdateCallback(), handCallback.get());
    EXPECT_EQ(handCopy->getNodeMask(), 0x3u);
    EXPECT_FALSE(handCopy->getCullingActive());
    EXPECT_EQ(handCopy->getDataVariance(), osg::Object::DYNAMIC);
    ASSERT_EQ(handCopy->getNumChildren(), 1u);
    EXPECT_EQ(handCopy->getChild(0), finger.get());

    EXPECT_FALSE(reaches(object.get(), thumb.get()));
    EXPECT_FALSE(reaches(object.get(), leg.get()));
    // The model itself is left as it was.
    EXPECT_EQ(root->getNumChildren(), 2u);
    EXPECT_EQ(hand->getNumChildren(), 2u);
    EXPECT_EQ(arm->getUpdateCallback(), armAnimation.get());
}

TEST_F(ARObjectTest, ExtractionUnderASkeletonKeepsItsBonesAndStopsAtTheModel)
{
    // The model already hangs under an object (a shared scene-wide model): that part is not copied.
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->setName("model");
    osg::ref_ptr<ARObject> whole = new ARObject(model.get());
    osg::ref_ptr<osgAnimation::Skeleton> skeleton = new osgAnimation::Skeleton;
    skeleton->setMatrix(osg::Matrix::scale(2, 2, 2));
    osg::ref_ptr<osgAnimation::Bone> bone = new osgAnimation::Bone("bone");
    osg::ref_ptr<osg::MatrixTransform> holder = new osg::MatrixTransform;
    holder->setName("holder");
    osg::ref_ptr<osg::Geode> mesh = namedGeode("mesh");
    model->addChild(skeleton.get());
    skeleton->addChild(bone.get());
    skeleton->addChild(holder.get());
    holder->addChild(mesh.get());

    NotifyCapture capture;
    osg::ref_ptr<ARObject> object = new ARObject(model.get(), "mesh");
    EXPECT_EQ(capture.fatalText(), "skeleton...\n");
    ASSERT_EQ(object->getNumChildren(), 1u);
    osg::Group* modelCopy = object->getChild(0)->asGroup();
    ASSERT_NE(modelCopy, nullptr);
    EXPECT_EQ(modelCopy->getName(), "model");
    EXPECT_EQ(dynamic_cast<ARObject*>(modelCopy), nullptr);
    auto* skeletonCopy = dynamic_cast<osgAnimation::Skeleton*>(modelCopy->getChild(0));
    ASSERT_NE(skeletonCopy, nullptr);
    EXPECT_NE(skeletonCopy, skeleton.get());
    EXPECT_EQ(skeletonCopy->getMatrix(), skeleton->getMatrix());
    EXPECT_NE(dynamic_cast<osgAnimation::Skeleton::UpdateSkeleton*>(skeletonCopy->getUpdateCallback()),
              nullptr);
    // The skeleton's bones come along, then the chain down to the sub-node.
    ASSERT_EQ(skeletonCopy->getNumChildren(), 2u);
    EXPECT_EQ(skeletonCopy->getChild(0), bone.get());
    auto* holderCopy = dynamic_cast<osg::MatrixTransform*>(skeletonCopy->getChild(1));
    ASSERT_NE(holderCopy, nullptr);
    EXPECT_NE(holderCopy, holder.get());
    EXPECT_EQ(holderCopy->getChild(0), mesh.get());
}

TEST_F(ARObjectTest, ExtractionEdgeCases)
{
    osg::ref_ptr<osg::Geode> single = namedGeode("single");
    osg::ref_ptr<ARObject> itself = new ARObject(single.get(), "single");
    ASSERT_EQ(itself->getNumChildren(), 1u);
    EXPECT_EQ(itself->getChild(0), single.get());

    osg::ref_ptr<ARObject> missing = new ARObject(single.get(), "other");
    EXPECT_EQ(missing->getNumChildren(), 0u);

    NotifyCapture capture;
    osg::ref_ptr<ARObject> none = new ARObject(static_cast<osg::Node*>(nullptr), "single");
    EXPECT_EQ(none->getNumChildren(), 0u);
    EXPECT_EQ(capture.fatalText(), " WARNING: searching node not valid.\n");

    capture.clear();
    osg::ref_ptr<ARObject> unreadable = new ARObject(std::string("no_such_model.osgt"), "single");
    EXPECT_EQ(unreadable->getNumChildren(), 0u);
    EXPECT_TRUE(capture.contains(" WARNING: searching node not valid.\n"));
    osg::ref_ptr<ARObject> unreadableWhole = new ARObject(std::string("no_such_model.osgt"));
    EXPECT_EQ(unreadableWhole->getNumChildren(), 0u);

    // From a file, whole or by name.
    osg::ref_ptr<osg::Group> model = new osg::Group;
    model->addChild(namedGeode("a").get());
    model->addChild(namedGeode("b").get());
    ASSERT_TRUE(osgDB::writeNodeFile(*model, "arobject_model.osgt"));
    osg::ref_ptr<ARObject> fromFile = new ARObject(std::string("arobject_model.osgt"));
    ASSERT_EQ(fromFile->getNumChildren(), 1u);
    EXPECT_EQ(fromFile->getChild(0)->asGroup()->getNumChildren(), 2u);
    osg::ref_ptr<ARObject> partFromFile = new ARObject(std::string("arobject_model.osgt"), "b");
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
    EXPECT_NEAR(moved.x(), 10.0f, 1e-5);
    EXPECT_NEAR(moved.y(), 23.0f, 1e-5);
    EXPECT_NEAR(moved.z(), 30.0f, 1e-5);
    const osg::Vec3 up = osg::Vec3(0, 0, 1) * object->getMatrix();
    EXPECT_NEAR(up.z(), 34.0f, 1e-5);

    object->scaleBy(0.01f);
    EXPECT_NEAR(object->getScale().x(), 2.02f, 1e-6);
    EXPECT_NEAR(object->getScale().y(), 2.02f, 1e-6);
    EXPECT_NEAR(object->getScale().z(), 2.02f, 1e-6);
    object->scaleBy(-0.5f);
    EXPECT_NEAR(object->getScale().y(), 1.01f, 1e-6);
    // The matrix follows every change.
    EXPECT_NEAR((osg::Vec3(0, 0, 1) * object->getMatrix()).z(), 31.01f, 1e-4);
    object->setUniformScale(5.0f);
    EXPECT_EQ(object->getScale(), osg::Vec3f(5, 5, 5));
}

TEST_F(ARObjectTest, OccluderStates)
{
    osg::ref_ptr<ARObject> plain = new ARObject(namedGeode("box").get());
    plain->showOccluder(true);
    EXPECT_EQ(plain->getStateSet(), nullptr);
    EXPECT_FALSE(plain->isOccluder());

    osg::ref_ptr<ARObject> object = new ARObject(namedGeode("wall").get());
    object->setOccluder();
    ASSERT_TRUE(object->isOccluder());
    osg::StateSet* state = object->getStateSet();
    ASSERT_NE(state, nullptr);
    auto colourMask = [&]()
    { return dynamic_cast<const osg::ColorMask*>(state->getAttribute(osg::StateAttribute::COLORMASK)); };
    auto expectHidden = [&]()
    {
        ASSERT_NE(colourMask(), nullptr);
        EXPECT_FALSE(colourMask()->getRedMask() || colourMask()->getGreenMask() ||
                     colourMask()->getBlueMask() || colourMask()->getAlphaMask());
        EXPECT_NE(state->getAttributePair(osg::StateAttribute::COLORMASK)->second &
                      osg::StateAttribute::OVERRIDE,
                  0u);
        EXPECT_EQ(state->getBinNumber(), -1);
        EXPECT_EQ(state->getBinName(), "RenderBin");
        EXPECT_EQ(state->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    };
    expectHidden();

    object->showOccluder(true);
    ASSERT_NE(colourMask(), nullptr);
    EXPECT_TRUE(colourMask()->getRedMask() && colourMask()->getGreenMask() && colourMask()->getBlueMask() &&
                colourMask()->getAlphaMask());
    const auto* material =
        dynamic_cast<const osg::Material*>(state->getAttribute(osg::StateAttribute::MATERIAL));
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->getDiffuse(osg::Material::FRONT), osg::Vec4(1, 0, 0, 0.5f));
    EXPECT_EQ(material->getDiffuse(osg::Material::BACK), osg::Vec4(1, 0, 0, 0.5f));
    EXPECT_EQ(material->getAmbient(osg::Material::FRONT), osg::Vec4(0, 0, 0, 1));
    EXPECT_NE(state->getAttribute(osg::StateAttribute::BLENDFUNC), nullptr);
    EXPECT_NE(state->getMode(GL_BLEND) & osg::StateAttribute::ON, 0u);
    EXPECT_EQ(state->getRenderingHint(), static_cast<int>(osg::StateSet::TRANSPARENT_BIN));

    object->showOccluder(false);
    expectHidden();
}

TEST_F(ARObjectTest, EventsFileFillsTheListsTheLastEventOfANameWins)
{
    const std::string path = writeEventsFile(
        "lists", event("on_select", recordAction("first")) +
                     event("on_select", recordAction("second") + recordAction("explode", "explode") +
                                            recordAction("third")) +
                     event("on_custom", recordAction("custom")) + event("on_hide", recordAction("hide")) +
                     event("on_show", recordAction("show")));
    osg::ref_ptr<ARObject> object = new ARObject;
    object->setName("lamp");
    object->setActionFactory(std::unique_ptr<ARActionFactory>(new RecordingFactory(object.get())));

    NotifyCapture capture;
    object->loadEvents(path);
    EXPECT_TRUE(capture.contains(" WARNING: unknown command for action.\n WARNING: ARAction not found.\n"));
    ASSERT_EQ(object->getEventActions(ARObject::ON_SELECT).size(), 2u);
    const ARAction* action = object->getEventActions(ARObject::ON_SELECT)[0];
    EXPECT_EQ(action->getCommand(), "record");
    EXPECT_EQ(action->getSourceName(), "_self_");
    EXPECT_EQ(action->getTargetName(), "_self_");
    EXPECT_EQ(action->getFactory(), object->getActionFactory());

    EXPECT_TRUE(object->hasEvent("on_select"));
    EXPECT_TRUE(object->hasEvent("on_custom"));
    EXPECT_FALSE(object->hasEvent("on_init"));
    EXPECT_FALSE(object->hasEvent("On_select"));

    capture.clear();
    object->select();
    EXPECT_TRUE(object->isSelected());
    EXPECT_EQ(capture.text(), "ARObject: lamp selected.\n");
    ASSERT_EQ(executions.size(), 2u);
    EXPECT_EQ(executions[0].id, "second");
    EXPECT_EQ(executions[1].id, "third");

    // The event without a table entry runs through no hook.
    executions.clear();
    object->onLeftMouseClick();
    object->onRightMouseClick();
    object->onLeftMouseDoubleClick();
    object->onRightMouseDoubleClick();
    object->onMouseOver();
    object->onMouseIn();
    object->onMouseOut();
    object->onInit();
    object->onNotify();
    object->onUnselect();
    object->onFreeze();
    object->onUnfreeze();
    object->onMarkerDetected();
    object->onMarkerLost();
    EXPECT_TRUE(executions.empty());

    // hide and show run their event before the state changes.
    object->hide();
    EXPECT_TRUE(object->isHidden());
    EXPECT_EQ(object->getNodeMask(), 0u);
    object->show();
    EXPECT_FALSE(object->isHidden());
    EXPECT_EQ(object->getNodeMask(), 0xFFFFFFFFu);
    ASSERT_EQ(executions.size(), 2u);
    EXPECT_EQ(executions[0].id, "hide");
    EXPECT_FALSE(executions[0].ownerHidden);
    EXPECT_EQ(executions[1].id, "show");
    EXPECT_TRUE(executions[1].ownerHidden);
}

TEST_F(ARObjectTest, WithTheRealFactoryEveryActionIsReportedMissing)
{
    const std::string path =
        writeEventsFile("real", event("on_select", recordAction("a") + recordAction("b", "show")) +
                                    event("on_init", recordAction("c", "hide")));
    osg::ref_ptr<ARObject> object = new ARObject;
    NotifyCapture capture;
    object->loadEvents(path);
    size_t warnings = 0;
    const std::string text = capture.text();
    for (size_t at = text.find(" WARNING: ARAction not found.\n"); at != std::string::npos;
         at = text.find(" WARNING: ARAction not found.\n", at + 1))
        ++warnings;
    EXPECT_EQ(warnings, 3u);
    EXPECT_TRUE(object->getEventActions(ARObject::ON_SELECT).empty());
    EXPECT_TRUE(object->hasEvent("on_init"));

    // An unreadable file leaves everything empty.
    osg::ref_ptr<ARObject> other = new ARObject;
    other->loadEvents("arobject_no_such_events.xml");
    EXPECT_FALSE(other->hasEvent("on_select"));
}

TEST_F(ARObjectTest, ActionsArePreparedOnlyWithAContext)
{
    const std::string path = writeEventsFile(
        "prepare",
        event("on_init",
              recordAction("self") +
                  "<action source=\"nobody\" target=\"_self_\"><command>record</command></action>"));
    osg::ref_ptr<ARObject> object = new ARObject;
    object->setActionFactory(std::unique_ptr<ARActionFactory>(new RecordingFactory(object.get())));
    object->loadEvents(path);
    const std::vector<ARAction*> actions = object->getEventActions(ARObject::ON_INIT);
    ASSERT_EQ(actions.size(), 2u);

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
    const std::string path = writeEventsFile("selection", event("on_select", recordAction("select")) +
                                                              event("on_unselect", recordAction("unselect")) +
                                                              event("on_freeze", recordAction("freeze")) +
                                                              event("on_unfreeze", recordAction("unfreeze")));
    osg::ref_ptr<ARObject> object = new ARObject;
    object->setName("cube");
    object->setActionFactory(std::unique_ptr<ARActionFactory>(new RecordingFactory(object.get())));
    object->loadEvents(path);

    NotifyCapture capture;
    object->setSelectable(false);
    object->select();
    object->toggleSelect();
    object->unselect();
    EXPECT_FALSE(object->isSelected());
    EXPECT_EQ(capture.text(), "");
    EXPECT_TRUE(executions.empty());

    object->setSelectable(true);
    object->toggleSelect();
    object->toggleSelect();
    object->toggleFreeze();
    EXPECT_TRUE(object->isFrozen());
    object->toggleFreeze();
    EXPECT_FALSE(object->isFrozen());
    EXPECT_EQ(capture.text(), "ARObject: cube selected.\nARObject: cube unselected.\n"
                              "ARObject: cube freezed.\nARObject: cube unfreezed.\n");
    ASSERT_EQ(executions.size(), 4u);
    EXPECT_EQ(executions[3].id, "unfreeze");

    object->addMarker(4);
    object->addMarker(7);
    EXPECT_EQ(object->getMarkerId(), 4);
    EXPECT_EQ(object->getMarkerIds(), (std::vector<int>{4, 7}));

    ARApplication application;
    object->setContext(&application);
    object->select();
    object->setOccluder();
    object->hide();
    object->setSelectable(false);
    EXPECT_TRUE(object->reset());
    EXPECT_FALSE(object->isSelected());
    EXPECT_FALSE(object->isHidden());
    EXPECT_TRUE(object->isSelectable());
    EXPECT_FALSE(object->isOccluder());
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
    EXPECT_EQ(capture.text(), " Optimizing: still\n Step 1 of 2\n Step 2 of 2\n Optimizing: still - Done.\n");

    osg::ref_ptr<osg::MatrixTransform> moving = new osg::MatrixTransform;
    moving->addChild(namedGeode("c").get());
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d()));
    // Nested behind another callback: still found.
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
