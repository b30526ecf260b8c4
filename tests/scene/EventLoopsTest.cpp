// Events whose actions come back to themselves: hiding an object runs its "on_hide", whose actions
// may hide it again, or hide another object whose "on_hide" hides the first. Such loops are cut at
// the repeated event with one warning naming them; chains without a repeat run in full.
#include "EventsFiles.h"
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"
#include "scene/ARObject.h"

#include <gtest/gtest.h>

using namespace Novaro;
using NovaroTest::actionXml;
using NovaroTest::eventXml;
using NovaroTest::NotifyCapture;

namespace
{

class EventLoopsTest : public ::testing::Test
{
protected:
    // A registered object named 'name' whose events file holds 'events'.
    ARObject* object(const std::string& name, const std::string& events)
    {
        osg::ref_ptr<ARObject> created = new ARObject;
        created->setName(name);
        created->setContext(&application);
        created->loadEvents(folder.write(name + ".xml", NovaroTest::eventsFileXml(name, events)));
        application.registerObject(created.get());
        objects.push_back(created);
        return created.get();
    }

    void prepare()
    {
        for (const osg::ref_ptr<ARObject>& prepared : objects)
            prepared->resetActions();
    }

    // Whether the visible lines report one loop, and it is 'chain'.
    static ::testing::AssertionResult oneLoop(const NotifyCapture& capture, const std::string& chain)
    {
        const std::vector<std::string> warnings = NovaroTest::visibleLinesWith(capture, "loop");
        if (warnings.size() == 1 && warnings[0].find(chain) != std::string::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << capture.text();
    }

    NovaroTest::TemporaryFolder folder;
    ARApplication application;
    std::vector<osg::ref_ptr<ARObject>> objects;
};

} // namespace

TEST_F(EventLoopsTest, AnObjectHidingItselfOnHideIsHiddenOnceWithOneWarning)
{
    ARObject* lamp = object("lamp", eventXml("on_hide", actionXml("hide", "_self_")));
    prepare();
    NotifyCapture capture;
    lamp->hide();
    EXPECT_TRUE(lamp->isHidden());
    EXPECT_EQ(lamp->getNodeMask(), 0u);
    lamp->show();
    lamp->hide();
    EXPECT_TRUE(oneLoop(capture, "lamp on_hide -> lamp on_hide"));
}

TEST_F(EventLoopsTest, ShowAndHideFlippingEachOtherEndInTheFirstRequest)
{
    ARObject* sign = object("sign", eventXml("on_hide", actionXml("show", "_self_")) +
                                        eventXml("on_show", actionXml("hide", "_self_")));
    prepare();
    NotifyCapture capture;
    sign->hide();
    EXPECT_TRUE(sign->isHidden());
    sign->show();
    EXPECT_FALSE(sign->isHidden());
    EXPECT_EQ(sign->getNodeMask(), 0xFFFFFFFFu);
    // Entered from either side it is one loop.
    EXPECT_TRUE(oneLoop(capture, "sign on_hide -> sign on_show -> sign on_hide"));
}

TEST_F(EventLoopsTest, TwoObjectsHidingEachOtherFromAMarkerDetectionAreOneLoop)
{
    ARObject* left = object("left", eventXml("on_marker_detected", actionXml("hide", "_self_")) +
                                        eventXml("on_hide", actionXml("hide", "right")));
    ARObject* right = object("right", eventXml("on_marker_detected", actionXml("hide", "_self_")) +
                                          eventXml("on_hide", actionXml("hide", "left")));
    ARObject* bystander = object("bystander", eventXml("on_select", actionXml("hide", "_self_")));
    prepare();
    NotifyCapture capture;
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
}

TEST_F(EventLoopsTest, ChainsAndRepeatsWithoutALoopRunInFull)
{
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
    NotifyCapture capture;
    button->onLeftMouseClick();
    EXPECT_EQ((std::vector<bool>{a->isHidden(), b->isHidden(), c->isHidden(), d->isHidden(), e->isHidden()}),
              (std::vector<bool>{true, true, true, false, true}));
    EXPECT_EQ(capture.text(osg::FATAL), "");
}

// A chain of events deeper than the player lets run (each object's "on_hide" hides the next) stops
// at its limit, with one warning, instead of running the stack out.
TEST_F(EventLoopsTest, AChainDeeperThanTheLimitStopsThereWithOneWarning)
{
    const int count = 1100;
    std::vector<ARObject*> chain;
    for (int i = 0; i < count; ++i)
        chain.push_back(
            object("o" + std::to_string(i),
                   i + 1 < count ? eventXml("on_hide", actionXml("hide", "o" + std::to_string(i + 1))) : ""));
    prepare();
    NotifyCapture capture;
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
