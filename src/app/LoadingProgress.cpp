#include "app/LoadingProgress.h"

#include <osgDB/FileNameUtils>

#include <cmath>
#include <cstdio>

namespace Novaro
{

LoadingProgress::LoadingProgress(unsigned int total, Clock clock, Display display, Screen screen,
                                 Console console, double heartbeatSeconds, std::string doing,
                                 std::string done)
    : _total(total), _clock(std::move(clock)), _display(std::move(display)), _screen(std::move(screen)),
      _start(_clock()), _doing(std::move(doing)), _done(std::move(done)), _console(std::move(console)),
      _heartbeat(
          std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(heartbeatSeconds))),
      _objectStart(Steady::now()), _lastSaid(_objectStart)
{
    if (_console)
        _thread = std::thread(&LoadingProgress::beat, this);
}

LoadingProgress::~LoadingProgress()
{
    stopBeating();
}

void LoadingProgress::stopBeating()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _wake.notify_all();
    if (_thread.joinable())
        _thread.join();
}

// The heartbeat thread: says the current object's line again, with the time it has taken, when
// the console has heard nothing of it for a heartbeat.
void LoadingProgress::beat()
{
    std::unique_lock<std::mutex> lock(_mutex);
    while (!_stopping)
    {
        if (_wake.wait_until(lock, _lastSaid + _heartbeat, [this] { return _stopping; }))
            break;
        const Steady::time_point now = Steady::now();
        if (now < _lastSaid + _heartbeat || _current.empty())
            continue; // a new object started meanwhile, or none yet
        _lastSaid = now;
        const long seconds = std::lround(std::chrono::duration<double>(now - _objectStart).count());
        const std::string line = _current + ": " + std::to_string(seconds) + " s so far";
        lock.unlock();
        _console(line);
        lock.lock();
    }
}

void LoadingProgress::tell(const std::string& line, double done)
{
    if (_screen)
        _screen(line, done);
}

double LoadingProgress::elapsed() const
{
    return _clock() - _start;
}

void LoadingProgress::starting(unsigned int index, const std::string& file)
{
    const std::string line = _doing + " " + osgDB::getSimpleFileName(file) + " (" +
                             std::to_string(index + 1) + " of " + std::to_string(_total) + " objects)";
    tell(line, _total == 0 ? 0.0 : double(index) / double(_total));
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _current = line;
        _objectStart = _lastSaid = Steady::now();
    }
    if (elapsed() > kQuietSeconds)
        _display(line);
}

void LoadingProgress::finished()
{
    stopBeating();
    const double seconds = elapsed();
    if (seconds <= kQuietSeconds)
        return;
    char text[128];
    std::snprintf(text, sizeof(text), "%s %u objects in %.1f s", _done.c_str(), _total, seconds);
    tell(text, 1.0);
    _display(text);
}

} // namespace Novaro
