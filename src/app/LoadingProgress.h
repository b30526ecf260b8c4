#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace Novaro
{

// Says how far scene loading has come when it takes long. Once loading has run longer than
// kQuietSeconds, each object it starts is announced, "Loading house.kmz (3 of 10 objects)", and
// the end too, "Loaded 10 objects in 3.2 s". A load quicker than that says nothing. A screen, when
// given, gets every line with the part of the load done at once, and decides itself when to appear
// (it must, since one object alone can take seconds). A console, when given, hears from a thread
// of its own while one object takes long: "Loading big.obj (1 of 1 objects): 4 s so far", every
// kHeartbeatSeconds, since the main thread is inside the model's reader and cannot speak.
class LoadingProgress
{
public:
    // Seconds from any fixed origin. The player reads its timer; tests count steps.
    using Clock = std::function<double()>;
    // Shows one progress line (the player: console and head-up status text).
    using Display = std::function<void(const std::string&)>;
    // Takes every line and the part of the load done, 0 to 1 (the player: its loading screen).
    using Screen = std::function<void(const std::string&, double)>;
    // Prints one line, from any thread (the player: the console alone).
    using Console = std::function<void(const std::string&)>;

    // Loading time before progress is shown, seconds (default 0.5). Shorter loads would only make
    // lines flicker past; each line shown costs a console write and a status text update.
    static constexpr double kQuietSeconds = 0.5;
    // Silence on the console while one object loads, at most, seconds (default 2).
    static constexpr double kHeartbeatSeconds = 2.0;

    // Starts timing a load of 'total' objects.
    // 'doing' and 'done' name the work in the lines ("Loading", "Loaded"; the player's preparation
    // of its models for drawing says "Preparing", "Prepared").
    LoadingProgress(unsigned int total, Clock clock, Display display, Screen screen = {},
                    Console console = {}, double heartbeatSeconds = kHeartbeatSeconds,
                    std::string doing = "Loading", std::string done = "Loaded");
    ~LoadingProgress();
    LoadingProgress(const LoadingProgress&) = delete;
    LoadingProgress& operator=(const LoadingProgress&) = delete;

    // Before loading the object at 'index' (from 0) from 'file' (its file name is shown) or, for
    // an object without a file of its own, named 'file'.
    void starting(unsigned int index, const std::string& file);
    // After the last object.
    void finished();

private:
    using Steady = std::chrono::steady_clock;

    double elapsed() const;
    void tell(const std::string& line, double done);
    void beat();
    void stopBeating();

    unsigned int _total;
    Clock _clock;
    Display _display;
    Screen _screen;
    double _start;
    std::string _doing;
    std::string _done;

    // The heartbeat's, on the steady clock: the injected one may be a test's, read by one thread.
    Console _console;
    Steady::duration _heartbeat;
    std::mutex _mutex;
    std::condition_variable _wake;
    bool _stopping = false;
    std::string _current;            ///< the object being loaded, as its line says
    Steady::time_point _objectStart; ///< when it started
    Steady::time_point _lastSaid;    ///< when the console last heard of it
    std::thread _thread;
};

} // namespace Novaro
