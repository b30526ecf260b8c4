#pragma once

#include <functional>
#include <string>

namespace Novaro
{

// Says how far scene loading has come when it takes long. Once loading has run longer than
// kQuietSeconds, each object it starts is announced, "Loading house.kmz (3 of 10 objects)", and
// the end too, "Loaded 10 objects in 3.2 s". A load quicker than that says nothing. A screen, when
// given, gets every line with the part of the load done at once, and decides itself when to appear
// (it must, since one object alone can take seconds).
class LoadingProgress
{
public:
    // Seconds from any fixed origin. The player reads its timer; tests count steps.
    using Clock = std::function<double()>;
    // Shows one progress line (the player: console and head-up status text).
    using Display = std::function<void(const std::string&)>;
    // Takes every line and the part of the load done, 0 to 1 (the player: its loading screen).
    using Screen = std::function<void(const std::string&, double)>;

    // Loading time before progress is shown, seconds (default 0.5). Shorter loads would only make
    // lines flicker past; each line shown costs a console write and a status text update.
    static constexpr double kQuietSeconds = 0.5;

    // Starts timing a load of 'total' objects.
    LoadingProgress(unsigned int total, Clock clock, Display display, Screen screen = {});

    // Before loading the object at 'index' (from 0) from 'file' (its file name is shown) or, for
    // an object without a file of its own, named 'file'.
    void starting(unsigned int index, const std::string& file);
    // After the last object.
    void finished();

private:
    double elapsed() const;
    void tell(const std::string& line, double done);

    unsigned int _total;
    Clock _clock;
    Display _display;
    Screen _screen;
    double _start;
};

} // namespace Novaro
