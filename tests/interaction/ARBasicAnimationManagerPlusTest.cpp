// Path animations and animation managers: paused until started, speeds, rewinds and their own pause clock.
#include "RunningPlayer.h"

#include "UpdateTraversal.h"
#include "interaction/ARBasicAnimationManagerPlus.h"
#include "scene/ARObject.h"
#include "scene/SceneClock.h"

#include <gtest/gtest.h>
#include <osg/AnimationPath>
#include <osgAnimation/Animation>

using namespace Novaro;
using namespace NovaroTest;

TEST(Animations, EverythingStartsPausedAndPlaysOnce)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());

    // (Paused until started, and named after its node: the path animation test below.)
    ASSERT_EQ(object->getPathAnimations().size(), 1u);
    EXPECT_EQ(object->getPathAnimations()[0]->getAnimationPath()->getLoopMode(),
              osg::AnimationPath::NO_LOOPING);

    auto* manager = dynamic_cast<ARBasicAnimationManagerPlus*>(object->getAnimationManager());
    ASSERT_NE(manager, nullptr) << "the manager is found below other nodes, and can pause";
    EXPECT_EQ(object->getAnimationPause(), manager);
    EXPECT_EQ(content.skeletonHolder->getUpdateCallback(), manager);
    EXPECT_TRUE(manager->isPaused());
    for (osgAnimation::Animation* animation : manager->getAnimationList())
    {
        EXPECT_EQ(animation->getPlayMode(), osgAnimation::Animation::ONCE);
        EXPECT_FALSE(manager->isPlaying(animation));
    }
    EXPECT_FALSE(object->isOptimizeEnabled());

    object->setAnimationLoop("walk", true);
    EXPECT_EQ(manager->getAnimationList()[0]->getPlayMode(), osgAnimation::Animation::LOOP);
    EXPECT_EQ(manager->getAnimationList()[1]->getPlayMode(), osgAnimation::Animation::ONCE);

    object->startAnimation("wave");
    EXPECT_FALSE(manager->isPaused());
    EXPECT_TRUE(manager->isPlaying("wave"));
    EXPECT_FALSE(manager->isPlaying("walk"));
    EXPECT_TRUE(object->getPathAnimations()[0]->getPause()) << "the path is not named wave";
}

TEST(Animations, PathAnimationsStartPauseRewindAndChangeSpeed)
{
    AnimatedContent content;
    osg::ref_ptr<ARObject> object = new ARObject(content.root.get());
    updateAt(*object, 0.0);
    updateAt(*object, 1.0);
    EXPECT_DOUBLE_EQ(content.armHeight(), 0.0) << "paused until started";

    object->startAnimation("");
    updateAt(*object, 1.0);
    updateAt(*object, 2.0);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9);

    object->stopAnimation("arm");
    updateAt(*object, 5.0);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9) << "held while stopped";

    object->rewindAnimation("arm");
    EXPECT_NEAR(content.armHeight(), 0.0, 1e-9) << "back on the first pose at once";
    EXPECT_TRUE(object->getPathAnimations()[0]->getPause());
    updateAt(*object, 6.0);
    EXPECT_NEAR(content.armHeight(), 0.0, 1e-9);

    // Twice the speed covers twice the path in the same time.
    object->setAnimationSpeed("", 2.0);
    object->togglePauseAnimation("");
    updateAt(*object, 6.0);
    updateAt(*object, 6.5);
    EXPECT_NEAR(content.armHeight(), 2.0, 1e-9);
    object->changeAnimationSpeed("arm", -3.0);
    EXPECT_DOUBLE_EQ(object->getPathAnimations()[0]->getTimeMultiplier(), -1.0);
}

TEST(Animations, ThePauseClockHoldsTheAnimationTimeWhilePaused)
{
    // The scene clock and the frames' simulation time both run on the test's own seconds.
    double now = 100.0;
    SceneClock::setTickSource(
        [&now] { return static_cast<osg::Timer_t>(now / osg::Timer::instance()->getSecondsPerTick()); });
    osg::ref_ptr<ARBasicAnimationManagerPlus> manager = new ARBasicAnimationManagerPlus;
    const double pausedAt = manager->animationTime(now);
    now += 10.0;
    EXPECT_NEAR(manager->animationTime(now), pausedAt, 1e-6) << "still while paused";

    manager->setPaused(false);
    EXPECT_NEAR(manager->getPausedTime(), 10.0, 1e-6);
    const double resumedAt = manager->animationTime(now);
    EXPECT_NEAR(resumedAt, pausedAt, 1e-6) << "resumes where it stood, not 10 seconds later";
    now += 0.5;
    EXPECT_NEAR(manager->animationTime(now), resumedAt + 0.5, 1e-6);
    // A second pause adds to the first.
    manager->setPaused(true);
    now += 3.0;
    manager->setPaused(false);
    EXPECT_NEAR(manager->getPausedTime(), 13.0, 1e-6);
    EXPECT_NEAR(manager->animationTime(now), resumedAt + 0.5, 1e-6);

    manager->togglePaused();
    EXPECT_TRUE(manager->isPaused());
    manager->togglePaused();
    EXPECT_FALSE(manager->isPaused());
    SceneClock::setTickSource(nullptr);
}

TEST(Animations, TheApplicationDrivesEveryObjectAtOnce)
{
    AnimatedContent first;
    AnimatedContent second;
    osg::ref_ptr<ARObject> one = new ARObject(first.root.get());
    osg::ref_ptr<ARObject> two = new ARObject(second.root.get());
    ARApplication application;
    application.registerObject(one.get());
    application.registerObject(two.get());

    application.toggleAllAnimations();
    EXPECT_FALSE(one->getPathAnimations()[0]->getPause());
    EXPECT_FALSE(two->getAnimationPause()->isPaused());
    application.setSimulationSpeed(-0.5);
    EXPECT_DOUBLE_EQ(two->getPathAnimations()[0]->getTimeMultiplier(), -0.5);
    application.rewindAllAnimations();
    EXPECT_TRUE(one->getPathAnimations()[0]->getPause());
    EXPECT_TRUE(two->getAnimationPause()->isPaused());
}
