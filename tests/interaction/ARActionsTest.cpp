// The actions an events file names: parameters, targets, unknown names, and every command on what it names.
#include "RunningPlayer.h"

#include "EventsFiles.h"
#include "MovieWriter.h"
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "VideoScreens.h"
#include "VisibleLines.h"
#include "effects/HUD.h"
#include "interaction/ARActionFactory.h"
#include "interaction/ARActions.h"
#include "scene/ARModel.h"
#include "scene/ARObject.h"
#include "scene/ARVideo.h"

#include <gtest/gtest.h>
#include <osg/AnimationPath>
#include <osg/ImageStream>
#include <osg/MatrixTransform>

#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// The commands the factory knows.
std::set<std::string> factoryCommands()
{
    std::set<std::string> known;
    const ARActionFactory factory(nullptr);
    for (const auto& command : factory.getCommands())
        known.insert(command.first);
    return known;
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
        auto* factory = dynamic_cast<ARActionFactory*>(owner.getActionFactory());
        EXPECT_NE(factory, nullptr) << "the interaction layer gives every object its action factory";
        if (!factory)
            return nullptr;
        std::unique_ptr<ARAction> created = factory->create(command);
        EXPECT_NE(created, nullptr) << command;
        if (!created)
            return nullptr;
        created->setCommand(command);
        created->setTargetName(target);
        for (const auto& parameter : parameters)
            created->setParameter(parameter.first, parameter.second);
        ARAction* registered = factory->registerAction(std::move(created));
        application.registerObject(&owner);
        owner.resetActions();
        return registered;
    }

    osg::AnimationPathCallback& arm(const ARObject& object) { return *object.getPathAnimations().at(0); }

    ARApplication application;
};

} // namespace

TEST_F(ActionsTest, ParametersAreReadAsTheEventsFileWritesThem)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());
    for (const char* notTrue : {"True", "1", ""})
    {
        arm(*object).getAnimationPath()->setLoopMode(osg::AnimationPath::LOOP);
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
    // (A model's menu both ways: the table of every command below.)
    EXPECT_TRUE(action(*model, "toggle_menu", "_self_")->execute()) << "a model without a menu";
}

TEST_F(ActionsTest, UnknownNamesInAnEventsFileAreEachReportedWithTheFileAndTheObject)
{
    NovaroTest::TemporaryFolder folder;
    using NovaroTest::actionXml;
    using NovaroTest::eventXml;
    const std::string events = folder.write(
        "button_events.xml",
        NovaroTest::eventsFileXml(
            "e", eventXml("on_left_mouse_clik", actionXml("hide", "lamp")) +
                     eventXml("on_select", actionXml("show", "lamq") + actionXml("hid", "lamp") +
                                               actionXml("hide", "lamq") + actionXml("hide", "lamp"))));
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
    // Names that resolve say nothing; the actions after those that fail still run.
    EXPECT_EQ(capture.text(osg::FATAL), reported);
    button->select();
    EXPECT_TRUE(lamp->isHidden());
}

// One row per command of the factory's table, each run on a target whose state tells that
// command from its neighbours (pause from toggle, one movie from all, a menu from a selection box).
TEST_F(ActionsTest, EveryCommandActsOnWhatItsNameSaysAndNothingElse)
{
    NovaroTest::usePluginFolder();
    NovaroTest::TemporaryFolder folder;
    for (const char* movie : {"a.mp4", "b.mp4", "clip.mp4"})
        ASSERT_TRUE(NovaroTest::writeGreyRampMovie(folder.file(movie), 5, 64, 48, 25));
    ASSERT_TRUE(NovaroTest::writeSceneWithVideos(folder, {{"Screen1", "a.mp4"}, {"Screen2", "b.mp4"}}));
    application.setTemporaryDirectory(folder.path());
    ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));

    // The model: a path animation (beside an animation manager), two movie screens, a menu and a
    // selection box.
    osg::ref_ptr<osg::Group> content = NovaroTest::screensModel({"Screen1", "Screen2"});
    AnimatedContent animated;
    content->addChild(animated.root.get());
    osg::MatrixTransform* armNode = animated.arm.get();
    osg::ref_ptr<ARModel> tv = new ARModel(content.get());
    tv->setName("tv");
    tv->setContext(&application);
    tv->setupVideoTextures();
    ASSERT_EQ(2u, tv->getVideoStreams().size());
    osg::ImageStream& a = *tv->getVideoStreams()[0];
    osg::ImageStream& b = *tv->getVideoStreams()[1];
    osg::ref_ptr<osg::Node> menu = new osg::Group, box = new osg::Group;
    tv->setMenu(menu.get());
    tv->setSelectionBox(box.get());
    application.registerObject(tv.get());

    osg::ref_ptr<ARVideo> clip = new ARVideo(NovaroTest::screen({0}).get());
    clip->setName("clip");
    clip->setContext(&application);
    clip->setupVideo(folder.file("clip.mp4"), false);
    ASSERT_NE(clip->getStream(), nullptr);
    osg::ImageStream& movie = *clip->getStream();
    osg::ref_ptr<ARObject> listener = registeredObject("listener");
    application.registerObject(clip.get());

    const auto arm = [&]() -> osg::AnimationPathCallback& { return *tv->getPathAnimations().at(0); };
    using Status = osg::ImageStream::StreamStatus;
    const Status playing = osg::ImageStream::PLAYING, paused = osg::ImageStream::PAUSED;
    // Arrangements and checks of the tv set's two movies (a, b), and of its menu and selection box.
    const auto set = [&](bool playA, bool playB) -> std::function<void()>
    {
        return [&, playA, playB]
        {
            playA ? a.play() : a.pause();
            playB ? b.play() : b.pause();
        };
    };
    const auto are = [&](Status statusA, Status statusB) -> std::function<bool()>
    { return [&, statusA, statusB] { return a.getStatus() == statusA && b.getStatus() == statusB; }; };
    const auto masks = [&](unsigned int menuMask, unsigned int boxMask) -> std::function<void()>
    {
        return [&, menuMask, boxMask]
        {
            menu->setNodeMask(menuMask);
            box->setNodeMask(boxMask);
        };
    };
    const auto shown = [&](unsigned int menuMask, unsigned int boxMask) -> std::function<bool()>
    {
        return [&, menuMask, boxMask]
        { return menu->getNodeMask() == menuMask && box->getNodeMask() == boxMask; };
    };
    const unsigned int all = 0xFFFFFFFFu;
    NotifyCapture capture;
    const auto said = [&](const std::string& line) { return capture.printed(line); };
    const auto saying = [&](const std::string& line) -> std::function<bool()>
    { return [&, line] { return capture.printed(line); }; };
    const auto nothing = [] {};
    // Runs the command, owned by an object of its own, on the target arranged first; 'acted' tells
    // that it did what its name says.
    std::set<std::string> walked;
    const auto row = [&](const char* command, const char* target,
                         const std::map<std::string, std::string>& parameters,
                         const std::function<void()>& arrange, const std::function<bool()>& acted)
    {
        osg::ref_ptr<ARObject> owner = new ARObject;
        owner->setName(std::string("switch for ") + command);
        ARAction* made = action(*owner, command, target, parameters);
        ASSERT_NE(made, nullptr) << command;
        arrange();
        capture.clear();
        EXPECT_TRUE(made->execute()) << command;
        EXPECT_TRUE(acted()) << command << capture.text();
        walked.insert(command);
    };
    const std::function<void()> runArm = [&] { arm().setPause(false); }, pauseMovie = [&] { movie.pause(); };
    row("start_animation", "tv", {}, runArm, [&] { return !arm().getPause(); });
    row("pause_animation", "tv", {}, runArm, [&] { return arm().getPause(); });
    // Held where it stands, unlike a rewind.
    row(
        "stop_animation", "tv", {},
        [&]
        {
            armNode->setMatrix(osg::Matrix::translate(0, 0, 1));
            arm().setPause(false);
        },
        [&] { return arm().getPause() && armNode->getMatrix().getTrans() == osg::Vec3d(0, 0, 1); });
    // Back on the first pose, and held there.
    row(
        "rewind_animation", "tv", {},
        [&]
        {
            armNode->setMatrix(osg::Matrix::translate(0, 0, 1));
            arm().setPause(false);
        },
        [&] { return arm().getPause() && armNode->getMatrix().getTrans() == osg::Vec3d(); });
    row("set_animation_loop", "tv", {{"loop", "true"}}, nothing,
        [&] { return arm().getAnimationPath()->getLoopMode() == osg::AnimationPath::LOOP; });
    row(
        "change_animation_speed", "tv", {{"amount", "0.5"}}, [&] { arm().setTimeMultiplier(1.0); },
        [&] { return arm().getTimeMultiplier() == 1.5; });
    row(
        "set_animation_speed", "tv", {{"speed", "0.5"}}, [&] { arm().setTimeMultiplier(3.0); },
        [&] { return arm().getTimeMultiplier() == 0.5; });
    row(
        "hide", "tv", {}, [&] { tv->show(); }, [&] { return tv->isHidden(); });
    row(
        "show", "tv", {}, [&] { tv->hide(); }, [&] { return !tv->isHidden(); });
    row("play_video", "tv", {{"video_name", "a.mp4"}}, set(false, false), are(playing, paused));
    // Pausing what is paused leaves it paused: a toggle would start it.
    row("pause_video", "tv", {}, set(false, true), are(paused, paused));
    row("toggle_pause_video", "tv", {}, set(false, true), are(playing, paused));
    row("rewind_video", "tv", {{"video_name", "b.mp4"}}, set(true, true),
        [&] { return a.getStatus() == playing && b.getStatus() != paused; });
    row(
        "loop_video", "tv", {{"video_name", "b.mp4"}, {"loop", "false"}},
        [&] { a.setLoopingMode(osg::ImageStream::LOOPING), b.setLoopingMode(osg::ImageStream::LOOPING); },
        [&]
        {
            return a.getLoopingMode() == osg::ImageStream::LOOPING &&
                   b.getLoopingMode() == osg::ImageStream::NO_LOOPING;
        });
    // Without a window the full-window video cannot be made, and says so; two movies and no
    // name cannot even choose.
    row("go_fullscreen_video", "tv", {}, nothing,
        saying(" WARNING: cannot go fullscreen (must specify a video name)"));
    row("resign_fullscreen_video", "tv", {{"video_name", "b.mp4"}}, nothing,
        [&]
        {
            return said(" Video (texture)<b.mp4> RESIGN FULLSCREEN") &&
                   !said(" Video (texture)<a.mp4> RESIGN FULLSCREEN");
        });
    row("notify", "listener", {{"message", "on air"}}, nothing, saying(" ARObject::notify... on air..."));
    row("subscribe", "listener", {}, nothing, saying(" ARObject::subscribe..."));
    row("unsubscribe", "listener", {}, nothing, saying(" ARObject::unsubscribe..."));
    row("play", "clip", {}, pauseMovie, [&] { return movie.getStatus() == playing; });
    row("pause", "clip", {}, pauseMovie, [&] { return movie.getStatus() == paused; });
    row("toggle", "clip", {}, pauseMovie, [&] { return movie.getStatus() == playing; });
    row("rewind", "clip", {}, pauseMovie,
        [&]
        { return said(" Video <" + folder.file("clip.mp4") + "> REWIND") && movie.getStatus() == paused; });
    row(
        "loop", "clip", {{"loop", "true"}}, [&] { movie.setLoopingMode(osg::ImageStream::NO_LOOPING); },
        [&] { return movie.getLoopingMode() == osg::ImageStream::LOOPING; });
    row("go_fullscreen", "clip", {}, nothing, saying(" ERROR: couldn't add any HUD: windows empty."));
    row("resign_fullscreen", "clip", {}, nothing,
        [&] { return !said(" ERROR: couldn't add any HUD: windows empty.") && movie.getStatus() == paused; });
    // Each of the menu and the selection box changes alone.
    row("hide_menu", "tv", {}, masks(1, 1), shown(0, 1));
    row("show_menu", "tv", {}, masks(0, 0), shown(all, 0));
    row("toggle_menu", "tv", {}, masks(0, 0), shown(1, 0));
    row("hide_selection_box", "tv", {}, masks(1, 1), shown(1, 0));
    row("show_selection_box", "tv", {}, masks(1, 0), shown(1, all));
    row("toggle_selection_box", "tv", {}, masks(0, 1), shown(0, 0));
    EXPECT_EQ(factoryCommands(), walked) << "every command has its row";
}

// The format document names every event and command the player knows, and no other: a name
// documented but refused ("on_mouse_enter") or known but undocumented ("on_marker_detected") once
// sent authors to an events file that did nothing.
TEST(ActionNames, TheFormatDocumentListsExactlyTheEventsAndCommandsThePlayerKnows)
{
    const std::string text = NovaroTest::readFile(std::string(NOVARO_SOURCE_DIR) + "/docs/scene-format.md");
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
    EXPECT_EQ(factoryCommands(), backticked(commands, end, std::regex("[a-z_]+")));
}
