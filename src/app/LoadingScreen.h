#pragma once

#include "app/LoadingProgress.h"

#include <osg/Image>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace osg
{
class Geometry;
}

namespace Novaro
{

class TextPanel;
class WindowCapture;

// A small window of its own that shows how far scene loading has come while the player's window is
// not open yet. Loading runs on the main thread and may spend seconds inside one model reader, so
// the window is opened and redrawn by a thread of its own: it appears once loading has run longer
// than kQuietSeconds (a quick load shows nothing) and shows the latest line and a bar of the
// objects done, until stop(). The window is closed before the player's own opens.
//
// The thread touches nothing but this window and the text handed to it. Where no window can be
// opened (no display), loading goes on without one: the console says the same.
class LoadingScreen
{
public:
    // Seconds from any fixed origin. The player reads its timer; tests pass the quiet time at once.
    using Clock = std::function<double()>;

    // Loading time before the window appears, seconds: the console's (default 0.5).
    static constexpr double kQuietSeconds = LoadingProgress::kQuietSeconds;
    // Time between two redraws, seconds (default 0.1): often enough to look alive, each redraw
    // takes a little CPU from the loading.
    static constexpr double kRedrawSeconds = 0.1;
    // Window size, pixels.
    static constexpr int kWidth = 560;
    static constexpr int kHeight = 110;

    // Starts timing; the window may appear from now on.
    LoadingScreen(const std::string& title, Clock clock);
    // Stops and closes the window.
    ~LoadingScreen();

    LoadingScreen(const LoadingScreen&) = delete;
    LoadingScreen& operator=(const LoadingScreen&) = delete;

    // The line to show and the part of the load done (0 to 1); any thread.
    void show(const std::string& line, double done);
    // Closes the window, if it was opened, and ends the thread. Safe to call more than once.
    void stop();

    // What the last drawn frame showed (empty before the first) and how many frames were drawn.
    std::string lastDrawnLine() const;
    unsigned int framesDrawn() const;
    // The last drawn picture, read back from the window; empty before the first frame.
    osg::ref_ptr<osg::Image> lastPicture() const;

private:
    void run();
    bool waitForQuietTimeOrStop();
    bool openWindow();
    osg::ref_ptr<osg::Node> buildScene();
    void drawFrame();
    void closeWindow();

    const std::string _title;
    const Clock _clock;
    const double _start;

    mutable std::mutex _mutex;
    std::condition_variable _wake;
    bool _stopping = false;
    std::string _line;
    double _done = 0.0;
    std::string _drawnLine;
    unsigned int _frames = 0;
    osg::ref_ptr<osg::Image> _picture;

    // Owned by the thread alone.
    osg::ref_ptr<osgViewer::Viewer> _viewer;
    osg::ref_ptr<TextPanel> _panel;
    osg::ref_ptr<osg::Geometry> _bar;
    osg::ref_ptr<WindowCapture> _capture;

    std::thread _thread;
};

} // namespace Novaro
