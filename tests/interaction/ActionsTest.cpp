#include "EventsFiles.h"
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"
#include "interaction/ARActionFactory.h"
#include "interaction/ARActions.h"
#include "scene/ARModel.h"
#include "scene/ARObject.h"

#include <osg/AnimationPath>
#include <osg/MatrixTransform>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

using namespace Novaro;
using NovaroTest::NotifyCapture;

namespace
{

// An object whose content has one path animation on a node named "arm".
osg::ref_ptr<ARObject> animatedObject(const std::string& name)
{
    osg::ref_ptr<osg::MatrixTransform> arm = new osg::MatrixTransform;
    arm->setName("arm");
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
    path->insert(1.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 1)));
    arm->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
    osg::ref_ptr<ARObject> object = new ARObject(arm.get());
    object->setName(name);
    return object;
}

class ActionsTest : public ::testing::Test
{
protected:
    // A scene object of that name, known to the application as action targets are.
    osg::ref_ptr<ARObject> registeredObject(const std::string& name)
    {
        osg::ref_ptr<ARObject> object = new ARObject;
        object->setName(name);
        application.registerObject(object.get());
        return object;
    }
    // An action of 'command' owned by 'owner', aimed at 'target', prepared in the application.
    ARAction* action(ARObject& owner, const std::string& command, const std::string& target,
                     const std::map<std::string, std::string>& parameters = {})
    {
        std::unique_ptr<ARAction> created = owner.getActionFactory()->create(command);
        EXPECT_NE(created, nullptr) << command;
        if (!created)
            return nullptr;
        created->setCommand(command);
        created->setTargetName(target);
        for (const auto& parameter : parameters)
            created->setParameter(parameter.first, parameter.second);
        ARAction* registered = owner.getActionFactory()->registerAction(std::move(created));
        application.registerObject(&owner);
        owner.resetActions();
        return registered;
    }

    osg::AnimationPathCallback& arm(const ARObject& object) { return *object.getPathAnimations().at(0); }

    ARApplication application;
};

TEST_F(ActionsTest, ParametersAreReadAsTheEventsFileWritesThem)
{
    osg::ref_ptr<ARObject> object = animatedObject("robot");
    for (const char* notTrue : {"True", "1", ""})
    {
        action(*object, "set_animation_loop", "_self_", {{"loop", notTrue}})->execute();
        EXPECT_EQ(arm(*object).getAnimationPath()->getLoopMode(), osg::AnimationPath::NO_LOOPING) << notTrue;
    }
    action(*object, "set_animation_loop", "_self_", {{"loop", "true"}, {"animation_name", "arm"}})->execute();
    EXPECT_EQ(arm(*object).getAnimationPath()->getLoopMode(), osg::AnimationPath::LOOP);

    action(*object, "change_animation_speed", "_self_", {{"amount", "abc"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 1.0);
    action(*object, "change_animation_speed", "_self_", {{"amount", "-0.25"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 0.75);
    action(*object, "set_animation_speed", "_self_", {{"speed", "2"}, {"animation_name", "leg"}})->execute();
    EXPECT_DOUBLE_EQ(arm(*object).getTimeMultiplier(), 0.75) << "a name that matches nothing";

    // A missing animation name addresses every animation; the map gains the empty entry.
    ARAction* start = action(*object, "start_animation", "_self_");
    start->execute();
    EXPECT_FALSE(arm(*object).getPause());
    EXPECT_EQ(start->getParameters().count("animation_name"), 1u);
}

TEST_F(ActionsTest, NamesResolveToTheFirstObjectOfThatNameOrToNothing)
{
    osg::ref_ptr<ARObject> owner = new ARObject;
    owner->setName("switch");
    osg::ref_ptr<ARObject> first = registeredObject("twin");
    osg::ref_ptr<ARObject> second = registeredObject("twin");

    ARAction* hideTwin = action(*owner, "hide", "twin");
    EXPECT_EQ(hideTwin->getSource(), owner.get());
    EXPECT_TRUE(hideTwin->execute());
    EXPECT_TRUE(first->isHidden());
    EXPECT_FALSE(second->isHidden());

    ARAction* nobody = action(*owner, "show", "Twin");
    EXPECT_EQ(nobody->getTarget(), nullptr);
    EXPECT_FALSE(nobody->execute());

    NotifyCapture capture;
    ARAction* notify = action(*owner, "notify", "nobody", {{"message", "lights out"}});
    EXPECT_TRUE(notify->execute()) << "notify needs only its source";
    EXPECT_TRUE(capture.printed(" ARObject::notify... lights out..."));
    EXPECT_FALSE(action(*owner, "subscribe", "nobody")->execute());
}

TEST_F(ActionsTest, TargetsOfTheWrongKindAreLeftAlone)
{
    osg::ref_ptr<ARObject> plain = registeredObject("plain");
    for (const char* command : {"play", "pause", "toggle", "rewind", "loop", "go_fullscreen", "show_menu"})
        EXPECT_FALSE(action(*plain, command, "_self_")->execute()) << command;

    osg::ref_ptr<ARModel> model = new ARModel;
    model->setName("model");
    EXPECT_TRUE(action(*model, "toggle_menu", "_self_")->execute()) << "a model without a menu";
    osg::ref_ptr<osg::Node> menu = new osg::Group;
    model->setMenu(menu.get());
    action(*model, "show_menu", "_self_")->execute();
    EXPECT_EQ(menu->getNodeMask(), 0xFFFFFFFFu);
    ARAction* toggle = action(*model, "toggle_menu", "_self_");
    toggle->execute();
    EXPECT_EQ(menu->getNodeMask(), 0u);
    toggle->execute();
    EXPECT_EQ(menu->getNodeMask(), 1u);
}

} // namespace

TEST_F(ActionsTest, UnknownNamesInAnEventsFileAreEachReportedWithTheFileAndTheObject)
{
    NovaroTest::TemporaryFolder folder;
    using NovaroTest::actionXml;
    using NovaroTest::eventXml;
    const std::string events = folder.write(
        "button_events.xml",
        NovaroTest::eventsFileXml(
            "e", eventXml("on_left_mouse_clik", actionXml("hide", "lamp")) +
                     eventXml("on_select", actionXml("hide", "lamp") + actionXml("hid", "lamp") +
                                               actionXml("show", "lamq") + actionXml("hide", "lamq"))));
    osg::ref_ptr<ARObject> lamp = registeredObject("lamp");
    osg::ref_ptr<ARObject> button = registeredObject("button");

    NotifyCapture capture;
    button->loadEvents(events);
    button->resetActions();
    button->resetActions();

    // Each name once, with the file, the object and the name meant (the target although two
    // actions name it and the actions were prepared twice); the old line of the command stays.
    EXPECT_TRUE(capture.printed(" WARNING: ARAction not found."));
    const std::pair<const char*, const char*> meant[] = {
        {"\"on_left_mouse_clik\"", "\"on_left_mouse_click\"?"},
        {"\"hid\"", "\"hide\"?"},
        {"\"lamq\"", "\"lamp\"?"}};
    std::string reported;
    for (const auto& name : meant)
    {
        const std::vector<std::string> lines = NovaroTest::visibleLinesWith(capture, name.first);
        ASSERT_EQ(lines.size(), 1u) << capture.text();
        for (const std::string& part : {events, std::string("object button"), std::string(name.second)})
            EXPECT_NE(lines[0].find(part), std::string::npos) << lines[0];
        reported += lines[0] + "\n";
    }
    // Names that resolve say nothing.
    EXPECT_EQ(capture.text(osg::FATAL), reported);
    button->select();
    EXPECT_TRUE(lamp->isHidden());
}

// The format document names every event and command the player knows, and no other: a name
// documented but refused ("on_mouse_enter") or known but undocumented ("on_marker_detected") once
// sent authors to an events file that did nothing.
TEST(ActionNames, TheFormatDocumentListsExactlyTheEventsAndCommandsThePlayerKnows)
{
    std::ifstream file(std::string(NOVARO_SOURCE_DIR) + "/docs/scene-format.md");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t events = text.find("## Events files");
    const size_t commands = text.find("### `<command>`", events);
    const size_t end = text.find("### `<parameters>`", commands);
    ASSERT_TRUE(events != std::string::npos && commands != std::string::npos && end != std::string::npos);
    const auto backticked = [&](size_t from, size_t to, const std::regex& shape)
    {
        std::set<std::string> names;
        const std::string part = text.substr(from, to - from);
        const std::regex quoted("`([a-z_]+)`");
        for (std::sregex_iterator it(part.begin(), part.end(), quoted), last; it != last; ++it)
            if (std::regex_match((*it)[1].str(), shape))
                names.insert((*it)[1].str());
        return names;
    };
    std::set<std::string> known;
    for (int event = 0; event < ARObject::EVENT_COUNT; ++event)
        known.insert(ARObject::getEventName(ARObject::Event(event)));
    EXPECT_EQ(known, backticked(events, commands, std::regex("on_[a-z_]+")));
    std::set<std::string> knownCommands;
    const ARActionFactory factory(nullptr);
    for (const auto& command : factory.getCommands())
        knownCommands.insert(command.first);
    EXPECT_EQ(knownCommands, backticked(commands, end, std::regex("[a-z_]+")));
}
