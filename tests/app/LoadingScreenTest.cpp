// A long load shows its progress in a window of its own before the player's opens; a quick load
// shows nothing.
#include "app/LoadingScreen.h"
#include "Display.h"
#include "Waiting.h"
#include "app/LoadingProgress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Novaro;

namespace
{

// Waits for the screen's thread to have drawn the line (false only when that hung).
bool waitUntilDrawn(const LoadingScreen& screen, const std::string& line)
{
    return NovaroTest::stepUntil([] {}, [&] { return screen.lastDrawnLine() == line; });
}

// The pixel at (x, y) from the window's bottom-left corner.
osg::Vec3 colourAt(const osg::Image& picture, int x, int y)
{
    const unsigned char* pixel = picture.data(x, y);
    return osg::Vec3(pixel[0], pixel[1], pixel[2]) / 255.0f;
}

bool isBar(const osg::Vec3& colour)
{
    return colour.z() > 0.8f && colour.x() < 0.5f;
}

} // namespace

TEST(LoadingScreen, ALongLoadShowsItsLineAndABarThatGrows)
{
    NOVARO_REQUIRE_DISPLAY();
    ASSERT_EQ(0, chdir(NOVARO_RUN_DIR)); // the font, as the player finds it
    std::atomic<double> now{0.0};
    LoadingScreen screen("Loading test", [&now] { return now.load(); });
    screen.show("Loading house.kmz (3 of 10 objects)", 0.2);
    now = LoadingScreen::kQuietSeconds + 0.1;
    ASSERT_TRUE(waitUntilDrawn(screen, "Loading house.kmz (3 of 10 objects)"));
    const osg::ref_ptr<osg::Image> early = screen.lastPicture();
    screen.show("Loading tree.glb (9 of 10 objects)", 0.8);
    ASSERT_TRUE(waitUntilDrawn(screen, "Loading tree.glb (9 of 10 objects)"));
    const osg::ref_ptr<osg::Image> late = screen.lastPicture();
    screen.stop();
    const unsigned int frames = screen.framesDrawn();
    screen.stop();
    EXPECT_EQ(frames, screen.framesDrawn());

    ASSERT_EQ(std::make_pair(LoadingScreen::kWidth, LoadingScreen::kHeight),
              std::make_pair(late->s(), late->t()));
    // The bar, 20 px from the bottom and sides (its row 26), is filled to the part done.
    EXPECT_EQ((std::vector<bool>{true, false, true, false}),
              (std::vector<bool>{isBar(colourAt(*early, 60, 26)), isBar(colourAt(*early, 300, 26)),
                                 isBar(colourAt(*late, 300, 26)), isBar(colourAt(*late, 520, 26))}));
    // The line is written above it, in light letters on the dark window.
    int bright = 0;
    for (int y = 50; y < early->t(); ++y)
        for (int x = 0; x < early->s(); ++x)
            bright += colourAt(*early, x, y).x() > 0.7f ? 1 : 0;
    EXPECT_GT(bright, 100);
}

TEST(LoadingScreen, AQuickLoadNeverOpensTheWindow)
{
    LoadingScreen screen("Loading test", [] { return 0.0; });
    screen.show("Loading box.osgt (1 of 1 objects)", 0.0);
    screen.stop();
    EXPECT_TRUE(screen.framesDrawn() == 0u && !screen.lastPicture().valid());
}

// The screen hears of every object, with the part done, even when the console is quiet (the quick
// clock: the main thread's lines stay quiet). One object that takes long (a big model, read inside
// its reader on the main thread) is still heard of on the console at each heartbeat, from the
// progress's own thread, and a new object starts the count again.
TEST(LoadingScreen, TheScreenHearsEveryObjectAndTheConsoleALongOneAtEveryHeartbeat)
{
    std::mutex mutex;
    std::condition_variable heardMore;
    std::vector<std::string> heard;
    const auto lines = [&]()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return heard;
    };
    // Waits on the console's lines themselves for 'count' of them; the guard only ends a hang.
    const auto waitForLines = [&](size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return heardMore.wait_for(lock, NovaroTest::kHangGuard, [&] { return heard.size() >= count; });
    };
    std::vector<std::string> printed;
    std::vector<std::pair<std::string, double>> shown;
    {
        LoadingProgress progress(
            4, [] { return 0.0; }, [&printed](const std::string& line) { printed.push_back(line); },
            [&shown](const std::string& line, double done) { shown.emplace_back(line, done); },
            [&](const std::string& line)
            {
                std::lock_guard<std::mutex> lock(mutex);
                heard.push_back(line);
                heardMore.notify_all();
            },
            0.05);
        EXPECT_TRUE(lines().empty()); // nothing before the first object
        progress.starting(0, "models/big.obj");
        ASSERT_TRUE(waitForLines(2));
        progress.starting(3, "models/bigger.obj");
        for (size_t seen = lines().size(); lines().back().rfind("Loading bigger.obj", 0) != 0;
             seen = lines().size())
            ASSERT_TRUE(waitForLines(seen + 1));
        progress.finished();
    }
    const std::vector<std::string> all = lines();
    const std::regex line("Loading (big|bigger)\\.obj \\((1|4) of 4 objects\\): [0-9]+ s so far");
    for (const std::string& text : all)
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    EXPECT_EQ(0u, all[0].find("Loading big.obj (1 of 4 objects): "));
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ((std::vector<std::pair<std::string, double>>{{"Loading big.obj (1 of 4 objects)", 0.0},
                                                           {"Loading bigger.obj (4 of 4 objects)", 0.75}}),
              shown);
}
